// The studio's one state object and the settings every module shares.
import { grouped } from "./numbers.js";

// The most the studio runs at once, whatever asks for more (the controls, a
// pasted script, a link, a setup file): beyond them a page would freeze.
export const MAX_LAYERS = 64;
export const MAX_PARTICLES = 100000;

// The sliders of a layer. The number beside each slider takes any value in
// [min, max]; the slider covers the everyday range.
export const PARAMS = [
  { key: "numof", label: "Particles", call: "SetNumof", min: 0, max: MAX_PARTICLES, slider: [0, 300], step: 1 },
  { key: "maxAmp", label: "Sway amplitude", call: "SetMaxAmp", min: -1000, max: 1000, slider: [0, 200], step: 1 },
  { key: "xSpeed", label: "X speed", call: "SetXSpeed", min: -100, max: 100, slider: [-5, 5], step: 0.05, float: true },
  { key: "ySpeed", label: "Y speed", call: "SetYSpeed", min: -100, max: 100, slider: [-1, 5], step: 0.05, float: true },
  { key: "rate", label: "Rate (Draw)", call: "Draw", min: 0, max: 255, slider: [0, 255], step: 1 },
];

// Fields that only a fresh Init changes.
export const INIT_FIELDS = [
  { key: "width", id: "layer-width", min: 1, max: 4096 },
  { key: "height", id: "layer-height", min: 1, max: 4096 },
  { key: "base", id: "layer-base", min: 0, max: 99999 },
  { key: "count", id: "layer-count", min: 0, max: 9999 },
  { key: "rotation", id: "layer-rotation", min: 0, max: 999 },
];

// The limits of every number a layer holds, by key.
export const LAYER_LIMITS = {
  handle: { min: -2147483648, max: 2147483647 },
  type: { min: 0, max: 4 },
  visible: { min: 0, max: 1 },
  ...Object.fromEntries(PARAMS.map((limits) => [limits.key, limits])),
  ...Object.fromEntries(INIT_FIELDS.map((field) => [field.key, field])),
};

// The opening scene: small slow petals far behind, large fast ones in front.
export const OPENING_LAYERS = [
  { type: 0, numof: 70, maxAmp: 25, xSpeed: 0.6, ySpeed: 0.45, rate: 170, base: 32, count: 32, rotation: 4 },
  { type: 0, numof: 22, maxAmp: 60, xSpeed: 1.5, ySpeed: 1.1, rate: 255, base: 0, count: 32, rotation: 4 },
];
// What "Add layer" brings: a glowing snow layer.
export const NEW_LAYER = { type: 1, numof: 60, maxAmp: 30, xSpeed: 0.4, ySpeed: 0.6, rate: 200, base: 64, count: 8, rotation: 1 };

// A layer after Init alone, as the plug-in sets it up (rate: the full 255
// the engine draws with unless told otherwise).
export const DEFAULTS = { type: 0, numof: 40, maxAmp: 40, xSpeed: 1, ySpeed: 1, rate: 255, visible: true };

// What a set of layers breaks of the limits, in words ("" when nothing):
// "70 layers, more than the studio's limit of 64".
export function overLimits(layers) {
  if (layers.length > MAX_LAYERS) {
    return `${grouped(layers.length)} layers, more than the studio's limit of ${MAX_LAYERS}`;
  }
  const particles = layers.reduce((sum, layer) => sum + Math.max(0, layer.numof), 0);
  if (particles > MAX_PARTICLES) {
    return `${grouped(particles)} particles in all, more than the studio's limit of ${grouped(MAX_PARTICLES)}`;
  }
  return "";
}

export const state = {
  layers: [],        // in drawing order: { handle, visible, width, height, base, count, rotation, type, ... }
  selected: 0,       // index into layers
  paused: false,
  runs: [],          // sprite runs the bank holds: { name, base, count, rotation, size }
  sheets: [],        // sprite sheets: { name, base, count, cell, margin, spacing, columns, rows, pixels? }
  frame: { width: 0, height: 0 },
  // Set while the address holds a setup that could not be read: it stays
  // for the user to see until they change something.
  keepAddress: false,
};

export function current() {
  return state.layers[state.selected];
}
