// Settings of a layer that draw nothing, draw what the author may not
// expect, or lose particles. Pure: the layer, the bank's runs and the
// sheets come in, the warnings go out.
import { floatText } from "./numbers.js";

// Whether sprite number n is one the bank holds.
function loaded(runs, n) {
  return runs.some((run) => n >= run.base && n < run.base + run.count);
}

// The numbers of base .. base + count - 1 that the bank does not hold, as
// "a–b" texts, and how many there are.
function missingNumbers(runs, layer) {
  const parts = [];
  let missing = 0;
  let start = null;
  const end = layer.base + Math.max(0, layer.count);
  for (let n = layer.base; n <= end; ++n) {
    const gap = n < end && !loaded(runs, n);
    if (gap) {
      ++missing;
      if (start === null) start = n;
    } else if (start !== null) {
      parts.push(start === n - 1 ? `${start}` : `${start}–${n - 1}`);
      start = null;
    }
  }
  return { parts, missing };
}

// What each mode does with rate 0.
const RATE_ZERO = {
  0: "mode 0 blends its sprites with no strength, so nothing shows",
  1: "mode 1 adds its sprites with no strength, so nothing shows",
  2: "mode 2 fades each sprite's copy all the way to black, so it draws black sprites",
  3: "mode 3 mixes its sprites in with no strength, so nothing shows",
};

// Each warning: a kind (for the tests and the styles), the problem and what
// to change.
export function layerWarnings(layer, { runs, sheets }) {
  const found = [];
  const add = (kind, problem, fix) => found.push({ kind, problem, fix });
  if (layer.numof <= 0) {
    add("numof", `Particles is ${layer.numof}: Start spawns no particle, so nothing is drawn.`,
      "Set Particles to 1 or more, then Restart.");
  }
  if (layer.count <= 0) {
    add("count", `Sprite count is ${layer.count}: no sprite can be picked, so nothing is drawn.`,
      "Set Sprite count to 1 or more, or choose a sprite run.");
  }
  if (layer.rotation <= 0) {
    add("rotation", `Rotation frames is ${layer.rotation}: the sprites split into no group, so nothing is drawn.`,
      "Set Rotation frames to 1 or more (1 for a run without tilt groups).");
  } else if (layer.count > 0 && layer.rotation > layer.count) {
    add("rotation", `Rotation frames is ${layer.rotation}, more than the ${layer.count} sprites: each group holds ` +
      `no sprite, so every particle shows sprite ${layer.base} and none turns.`,
      `Set Rotation frames to ${layer.count} or less.`);
  }
  const sheet = sheets.find((s) => !s.pixels && layer.base >= s.base && layer.base < s.base + s.count);
  if (!loaded(runs, layer.base)) {
    add("base", `Base sprite ${layer.base} is not loaded: every sprite takes its size from it, so nothing is drawn.`,
      sheet ? `Load the sheet "${sheet.name}" again (it gave sprites ${sheet.base}–${sheet.base + sheet.count - 1}).`
        : "Choose a sprite run, or a base sprite that is loaded.");
  } else if (layer.count > 0) {
    const { parts, missing } = missingNumbers(runs, layer);
    if (missing > 0) {
      let held = 0;
      while (held < layer.count && loaded(runs, layer.base + held)) ++held;
      add("run", `Sprites ${parts.join(", ")} of the run ${layer.base}–${layer.base + layer.count - 1} are not ` +
        `loaded (${missing} of ${layer.count}): particles that show them are not drawn.`,
        `Set Sprite count to ${held} or less, or choose a sprite run.`);
    }
  }
  if (layer.ySpeed < 0) {
    add("yspeed", `Y speed is ${floatText(layer.ySpeed)}: the particles rise and leave through the top edge, ` +
      "which never brings them back, so they are lost one by one.", "Set Y speed to 0 or more.");
  }
  if (layer.type < 0 || layer.type > 3) {
    add("type", `Type ${layer.type} draws nothing (the particles still move).`, "Choose type 0, 1, 2 or 3.");
  } else if (layer.rate === 0) {
    add("rate", `Rate is 0: ${RATE_ZERO[layer.type]}.`, "Set Rate to 1 or more.");
  }
  return found;
}

// The warnings of every layer, each with its layer's number (from 1).
export function allWarnings(layers, bank) {
  return layers.flatMap((layer, index) =>
    layerWarnings(layer, bank).map((warning) => ({ ...warning, layer: index + 1, handle: layer.handle })));
}
