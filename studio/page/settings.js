// The numbers the whole studio holds to, and the one table of a layer's
// settings: each setting's key (in setup files, links and scripts), the call
// that sets it, its limits, its default and how the controls show it. The
// setter maps, the key lists and the controls are all made from it.

import { msg } from "./i18n.js";

// The most the studio runs at once, whatever asks for more (the controls, a
// pasted script, a link, a setup file): beyond them a page would freeze.
// The script reader's limit on one Start and the studio host's first sheet
// number are the same numbers in C++ (a test holds the two together).
export const MAX_LAYERS = 64;
export const MAX_PARTICLES = 100000;
export const MAX_SIDE = 4096;          // a field's width and height
export const SHEET_BASE = 100;         // sheets take sprite numbers from here on
export const MAX_SHEET_CELLS = 4096;   // what the host takes from one sheet
export const MAX_SHEET_SIDE = 4096;
export const MIN_CELL = 4;

// In the order of setup files and links. init: the argument of Init that
// gives it (a change needs a fresh Init); call: the call that sets it (rate
// is the argument of each Draw); slider: the everyday range of its slider,
// while the number beside it takes any value in [min, max].
export const LAYER_SETTINGS = [
  { key: "handle", min: -2147483648, max: 2147483647 },
  { key: "visible", min: 0, max: 1, default: true },
  { key: "width", init: 0, min: 1, max: MAX_SIDE },
  { key: "height", init: 1, min: 1, max: MAX_SIDE },
  { key: "base", init: 2, min: 0, max: 99999 },
  { key: "count", init: 3, min: 0, max: 9999 },
  { key: "rotation", init: 4, min: 0, max: 999 },
  { key: "type", call: "SetType", min: 0, max: 4, default: 0 },
  { key: "numof", call: "SetNumof", min: 0, max: MAX_PARTICLES, default: 40, slider: [0, 300], step: 1 },
  { key: "maxAmp", call: "SetMaxAmp", min: -1000, max: 1000, default: 40, slider: [0, 200], step: 1 },
  { key: "xSpeed", call: "SetXSpeed", min: -100, max: 100, default: 1, slider: [-5, 5], step: 0.05, float: true },
  { key: "ySpeed", call: "SetYSpeed", min: -100, max: 100, default: 1, slider: [-1, 5], step: 0.05, float: true },
  { key: "rate", call: "Draw", min: 0, max: 255, default: 255, slider: [0, 255], step: 1 },
];

// The keys of a layer in setup files and links, in their order.
export const LAYER_KEYS = LAYER_SETTINGS.map((setting) => setting.key);
// The limits of every number a layer holds, by key.
export const LIMITS = Object.fromEntries(LAYER_SETTINGS.map((setting) => [setting.key, setting]));
// The settings with a slider, and Init's arguments in their order.
export const SLIDERS = LAYER_SETTINGS.filter((setting) => setting.slider);
export const INIT_FIELDS = LAYER_SETTINGS.filter((setting) => setting.init !== undefined)
  .sort((a, b) => a.init - b.init);
// The setter calls, by the key they set, and the keys, by call.
export const SETTER_OF = Object.fromEntries(LAYER_SETTINGS.filter((setting) => setting.call?.startsWith("Set"))
  .map((setting) => [setting.key, setting.call]));
export const KEY_OF_CALL = Object.fromEntries(Object.entries(SETTER_OF).map(([key, call]) => [call, key]));
// A layer after Init alone, as the plug-in sets it up (rate: the full 255
// the engine draws with unless told otherwise).
export const DEFAULTS = Object.fromEntries(LAYER_SETTINGS.filter((setting) => "default" in setting)
  .map((setting) => [setting.key, setting.default]));

// A sprite sheet's numbers and their limits; its name comes last.
export const SHEET_LIMITS = {
  base: { min: SHEET_BASE, max: 99999 },
  count: { min: 1, max: MAX_SHEET_CELLS },
  cell: { min: MIN_CELL, max: MAX_SHEET_SIDE },
  columns: { min: 1, max: MAX_SHEET_SIDE },
  rows: { min: 1, max: MAX_SHEET_SIDE },
  margin: { min: 0, max: MAX_SHEET_SIDE },
  spacing: { min: 0, max: MAX_SHEET_SIDE },
};
export const SHEET_KEYS = Object.keys(SHEET_LIMITS);

// The opening scene: small slow petals far behind, large fast ones in front.
export const OPENING_LAYERS = [
  { type: 0, numof: 70, maxAmp: 25, xSpeed: 0.6, ySpeed: 0.45, rate: 170, base: 32, count: 32, rotation: 4 },
  { type: 0, numof: 22, maxAmp: 60, xSpeed: 1.5, ySpeed: 1.1, rate: 255, base: 0, count: 32, rotation: 4 },
];
// What "Add layer" brings: a glowing snow layer.
export const NEW_LAYER = { type: 1, numof: 60, maxAmp: 30, xSpeed: 0.4, ySpeed: 0.6, rate: 200, base: 64, count: 8, rotation: 1 };

// The particles a layer holds now or after its next Start, whichever is
// more: a numof waiting for the next Start leaves what the last one spawned
// running until then.
export function particlesOf(layer) {
  return Math.max(0, layer.numof, layer.started === false ? 0 : layer.spawned ?? 0);
}

// What a set of layers breaks of the limits, as a message (null when
// nothing): "70 layers, more than the studio's limit of 64".
export function overLimits(layers) {
  if (layers.length > MAX_LAYERS) return msg("limits.layers", { count: layers.length, limit: MAX_LAYERS });
  const particles = layers.reduce((sum, layer) => sum + particlesOf(layer), 0);
  if (particles > MAX_PARTICLES) return msg("limits.particles", { count: particles, limit: MAX_PARTICLES });
  return null;
}
