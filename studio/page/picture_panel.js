// The author's scene behind the effect: a picture (a screenshot of the game,
// as a rule: PNG or JPEG), chosen or dropped on the background row, drawn
// at the frame's size exactly as the previewer's --background draws it
// (the host stretches it). It is known by its name and the hash of its file
// (content_hash.js), like a sheet: a setup that names a picture the page
// does not hold asks for it by name and shows the colours meanwhile.
import * as bridge from "./bridge.js";
import { contentHash } from "./content_hash.js";
import { $, show } from "./dom.js";
import { msg } from "./i18n.js";

// The largest picture taken, either side: a 4K screenshot and then some.
export const MAX_PICTURE_SIDE = 8192;

// Whether the named picture { name, hash } is the loaded one: by name and,
// where the setup stored one, by hash.
export function samePicture(named, loaded) {
  return Boolean(named && loaded && named.name === loaded.name && (!named.hash || named.hash === loaded.hash));
}

// What a file holds, by its type or else its name: "png", "jpeg", "svg" or null.
function pictureKind(file) {
  const type = file.type.toLowerCase();
  const name = file.name.toLowerCase();
  if (type === "image/png" || name.endsWith(".png")) return "png";
  if (type === "image/jpeg" || /\.jpe?g$/.test(name)) return "jpeg";
  if (type === "image/svg+xml" || name.endsWith(".svg")) return "svg";
  return null;
}

// state: the studio's state (state.picture: the picture loaded, with its
// pixels; state.pictureWanted: { name, hash } of the one the setup names,
// or null); layers: the layers (layers.js), whose changed() follows a new
// picture; putBackground(): puts the background as the setup now has it
// into the host (the effect runs on undisturbed).
export function createPicturePanel({ state, layers, putBackground }) {
  const status = $("picture-status");
  const input = $("picture-file");
  const remove = $("picture-remove");

  // The picture the setup is drawn over, loaded or not: { name, hash } or null.
  const named = () => state.pictureWanted;
  const shown = () => samePicture(named(), state.picture);

  function describe(message = null, error = false) {
    remove.hidden = !named();
    const wanted = named();
    const line = message ?? (!wanted ? null
      : shown() ? msg("picture.shown", { name: wanted.name, width: state.picture.width, height: state.picture.height })
      : msg("picture.missing", { name: wanted.name }));
    show(status, line ?? "", { error });
  }

  // Into the host (after every new host too): the colours, then the picture over them.
  function put() {
    if (shown()) bridge.backgroundPicture(state.picture.pixels, state.picture.width, state.picture.height);
  }

  async function load(file) {
    const kind = pictureKind(file);
    if (kind === "svg") {
      describe(msg("picture.svg", { name: file.name }), true);
      return;
    }
    if (!kind) {
      describe(msg("picture.notPicture", { name: file.name }), true);
      return;
    }
    let picture;
    try {
      const bytes = await file.arrayBuffer();
      const bitmap = await createImageBitmap(new Blob([bytes], { type: file.type }),
        { colorSpaceConversion: "none", premultiplyAlpha: "none" });
      const { width, height } = bitmap;
      if (width > MAX_PICTURE_SIDE || height > MAX_PICTURE_SIDE) {
        bitmap.close();
        describe(msg("picture.tooLarge", { name: file.name, width, height, most: MAX_PICTURE_SIDE }), true);
        return;
      }
      const canvas = new OffscreenCanvas(width, height);
      const context = canvas.getContext("2d", { willReadFrequently: true });
      context.drawImage(bitmap, 0, 0);
      bitmap.close();
      picture = { name: file.name, hash: await contentHash(bytes), width, height,
        pixels: context.getImageData(0, 0, width, height).data };
    } catch {
      describe(msg("picture.unreadable", { name: file.name, kind: kind.toUpperCase() }), true);
      return;
    }
    // A file of the wanted name with other contents: shown, as the user
    // chose it, but said to differ from the one the setup was made over.
    const wanted = named();
    const other = Boolean(wanted?.hash && wanted.name === picture.name && wanted.hash !== picture.hash);
    state.picture = picture;
    state.pictureWanted = { name: picture.name, hash: picture.hash };
    putBackground();
    layers.changed();
    describe(other ? msg("picture.otherContents", { name: picture.name }) : null);
  }

  input.addEventListener("change", () => {
    const file = input.files[0];
    input.value = "";
    if (file) load(file);
  });
  remove.addEventListener("click", () => {
    state.pictureWanted = null;
    putBackground();
    layers.changed();
    describe();
  });
  // The background row takes a dropped picture (and keeps it from the page's own drop).
  const row = $("background-row");
  row.addEventListener("dragover", (event) => {
    event.preventDefault();
    event.stopPropagation();
    row.classList.add("over");
  });
  row.addEventListener("dragleave", () => row.classList.remove("over"));
  row.addEventListener("drop", (event) => {
    event.preventDefault();
    event.stopPropagation();
    row.classList.remove("over");
    const file = event.dataTransfer?.files?.[0];
    if (file) load(file);
  });

  return {
    put,
    describe: () => describe(),
    // After a setup was opened: the picture it names ({ name, hash } or
    // null), shown at once when it is the one loaded.
    want(picture) {
      state.pictureWanted = picture ? { name: picture.name, hash: picture.hash ?? "" } : null;
      describe();
    },
    // "Choose the picture "a.png" again.", or null.
    missing: () => (named() && !shown() ? msg("picture.missing", { name: named().name }) : null),
  };
}
