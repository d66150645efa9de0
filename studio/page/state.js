// The studio's state: one object, made by main.js and handed to the parts
// that need it.
export function createState() {
  return {
    layers: [],        // in drawing order: { handle, visible, width, height, base, count, rotation, type, ... }
    selected: 0,       // index into layers
    paused: false,
    runs: [],          // sprite runs the bank holds: { name, base, count, rotation, size }
    sheets: [],
    // The author's picture behind the effect: the one loaded ({ name, hash,
    // width, height, pixels }) and the one the setup names ({ name, hash }),
    // shown when they are the same file.
    picture: null,
    pictureWanted: null,        // sprite sheets: { name, base, count, cell, margin, spacing, columns, rows, pixels? }
    frame: { width: 0, height: 0 },
    // Set while the address holds a setup that could not be read: it stays
    // for the user to see until they change something.
    keepAddress: false,
    current() {
      return this.layers[this.selected];
    },
  };
}
