// Changes to the layers, made through the plug-in's control exports exactly
// as a script makes them: the setters take effect at the next frame or
// motion step, numof at the next Start, a field size or sprite run only
// through a fresh Init (Release, Init, the setters, Start).
import * as bridge from "./bridge.js";
import { state } from "./state.js";

const listeners = [];
// What a new host needs from the page: the chosen background and the
// loaded sheets put into its bank (set by the start-up file).
const needs = { background: () => "141a3c,6a4c78", putSheets: () => {} };

export function provide(given) {
  Object.assign(needs, given);
}

// fn runs after every change of the setup (the script, the warnings, the
// address follow it).
export function onChange(fn) {
  listeners.push(fn);
}

export function initLayer(layer) {
  const h = layer.handle;
  bridge.call("Init", h, layer.width, layer.height, layer.base, layer.count, layer.rotation);
  bridge.call("SetType", h, layer.type);
  bridge.call("SetNumof", h, layer.numof);
  bridge.call("SetMaxAmp", h, layer.maxAmp);
  bridge.call("SetXSpeed", h, layer.xSpeed);
  bridge.call("SetYSpeed", h, layer.ySpeed);
  bridge.call("Start", h);
  layer.runningNumof = layer.numof;
}

export function freshInit(layer) {
  bridge.call("Release", layer.handle);
  initLayer(layer);
}

const SETTER = { type: "SetType", numof: "SetNumof", maxAmp: "SetMaxAmp", xSpeed: "SetXSpeed", ySpeed: "SetYSpeed" };

// A setter for key (numof spawns at the next Start; rate is an argument of
// each Draw, so it needs no call).
export function applySetter(layer, key) {
  if (SETTER[key]) bridge.call(SETTER[key], layer.handle, layer[key]);
}

export function restart(layer) {
  bridge.call("Start", layer.handle);
  layer.runningNumof = layer.numof;
}

export function release(layer) {
  bridge.call("Release", layer.handle);
}

// The host's frame covers every layer's field.
export function frameSize(layers = state.layers) {
  return {
    width: Math.max(1, ...layers.map((layer) => layer.width)),
    height: Math.max(1, ...layers.map((layer) => layer.height)),
  };
}

// Background colours from the "TOP,BOTTOM" hex text.
export function setBackground(value) {
  const [top, bottom] = value.split(",").map((hex) => Number.parseInt(hex, 16));
  bridge.background(top, bottom);
}

// Opens the host at the frame size: the plug-in object is made again, the
// sheets go back into the bank at their numbers and every layer gets a
// fresh Init.
export function openFrame() {
  const { width, height } = frameSize();
  state.frame = { width, height };
  bridge.open(width, height);
  setBackground(needs.background());
  needs.putSheets();
  state.layers.forEach(initLayer);
}

// After a change of the fields: a new host when the frame's size changed.
// True when it did.
export function fitFrame() {
  const { width, height } = frameSize();
  if (width === state.frame.width && height === state.frame.height) return false;
  openFrame();
  return true;
}

// After any change: the frame as large as the largest field, the layers
// drawn as they now are, and every
// listener follows; while paused one frame shows it (the clock stands
// still, so only the sway of one motion step moves the particles). A change
// the user made (user: true) lets the address follow again.
export function changed({ user = true } = {}) {
  if (user) state.keepAddress = false;
  fitFrame();
  bridge.drawList(state.layers.map(({ handle, rate, visible }) => ({ handle, rate, visible })));
  for (const fn of listeners) fn();
  if (state.paused) bridge.render();
}
