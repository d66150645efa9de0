// Settings of a layer that draw nothing, draw what the author may not
// expect, or lose particles. Pure: the layer, the bank's runs and the
// sheets come in, the warnings go out, each worded as messages.
import { msg } from "./i18n.js";
import { floatText } from "./number_text.js";

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

// Each warning: a kind (for the tests and the styles), the problem and what
// to change.
export function layerWarnings(layer, { runs, sheets }) {
  const found = [];
  const add = (kind, problem, fix) => found.push({ kind, problem, fix });
  if (layer.started === false) {
    add("start", msg("warn.notStarted", { handle: layer.handle }), msg("warn.notStarted.fix", { handle: layer.handle }));
  }
  if (layer.numof <= 0) {
    add("numof", msg("warn.numof", { numof: layer.numof }), msg("warn.numof.fix"));
  }
  if (layer.count <= 0) {
    add("count", msg("warn.count", { count: layer.count }), msg("warn.count.fix"));
  }
  if (layer.rotation <= 0) {
    add("rotation", msg("warn.rotationNone", { rotation: layer.rotation }), msg("warn.rotationNone.fix"));
  } else if (layer.count > 0 && layer.rotation > layer.count) {
    add("rotation", msg("warn.rotationMore", { rotation: layer.rotation, count: layer.count, base: layer.base }),
      msg("warn.rotationMore.fix", { count: layer.count }));
  }
  const sheet = sheets.find((s) => !s.pixels && layer.base >= s.base && layer.base < s.base + s.count);
  if (!loaded(runs, layer.base)) {
    add("base", msg("warn.base", { base: layer.base }), sheet
      ? msg("warn.base.fixSheet", { name: sheet.name, first: sheet.base, last: sheet.base + sheet.count - 1 })
      : msg("warn.base.fix"));
  } else if (layer.count > 0) {
    const { parts, missing } = missingNumbers(runs, layer);
    if (missing > 0) {
      let held = 0;
      while (held < layer.count && loaded(runs, layer.base + held)) ++held;
      add("run", msg("warn.run", { missing: parts.join(", "), first: layer.base, last: layer.base + layer.count - 1,
        number: missing, count: layer.count }), msg("warn.run.fix", { held }));
    }
  }
  if (layer.ySpeed < 0) {
    add("yspeed", msg("warn.ySpeed", { ySpeed: floatText(layer.ySpeed) }), msg("warn.ySpeed.fix"));
  }
  if (layer.type < 0 || layer.type > 3) {
    add("type", msg("warn.type", { type: layer.type }), msg("warn.type.fix"));
  } else if (layer.rate === 0) {
    add("rate", msg(`warn.rate${layer.type}`), msg("warn.rate.fix"));
  }
  return found;
}

// The warnings of every layer, each with its layer's number (from 1).
export function allWarnings(layers, bank) {
  return layers.flatMap((layer, index) =>
    layerWarnings(layer, bank).map((warning) => ({ ...warning, layer: index + 1, handle: layer.handle })));
}
