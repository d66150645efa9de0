// The layers as the plug-in runs them: every change is made through its
// control exports exactly as a script makes it. The setters take effect at
// the next frame or motion step, numof at the next Start, a field size or
// sprite run only through a fresh Init (Release, Init, the setters, Start).
// A layer holds numof, what its next Start spawns; spawned, what its last
// Start spawned; and started: a layer never started draws nothing, as in
// the engine, until its Restart button starts it.
// main.js makes one of these over the studio's state and hands it to the
// panels that change layers.
import * as bridge from "./bridge.js";
import { SETTER_OF } from "./settings.js";

// The host's frame covers every layer's field.
export function frameSize(layers) {
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

// needs: { background() — the chosen "TOP,BOTTOM", putPicture() — puts the
// author's picture, if one is shown, over it, putSheets() — puts the loaded
// sheets into a new host's bank }.
export function createLayers(state, needs) {
  const listeners = [];

  // Init and the setters, then Start unless the layer was never started; a
  // numof still waiting for the next Start is set after it, so the layer
  // runs as it ran before (fresh: the numof it has now is the one Start
  // spawns).
  function initLayer(layer, { fresh = false } = {}) {
    const h = layer.handle;
    const started = layer.started !== false;
    const spawned = started && !fresh ? (layer.spawned ?? layer.numof) : layer.numof;
    bridge.call("Init", h, layer.width, layer.height, layer.base, layer.count, layer.rotation);
    for (const [key, call] of Object.entries(SETTER_OF)) bridge.call(call, h, key === "numof" ? spawned : layer[key]);
    if (started) {
      bridge.call("Start", h);
      if (spawned !== layer.numof) bridge.call(SETTER_OF.numof, h, layer.numof);
    }
    layer.started = started;
    layer.spawned = started ? spawned : 0;
  }

  // Opens the host at the frame size: the plug-in object is made again, the
  // sheets go back into the bank at their numbers and every layer gets a
  // fresh Init.
  function openFrame() {
    const { width, height } = frameSize(state.layers);
    state.frame = { width, height };
    bridge.open(width, height);
    setBackground(needs.background());
    needs.putPicture();
    needs.putSheets();
    state.layers.forEach((layer) => initLayer(layer));
  }

  // After a change of the fields: a new host when the frame's size changed.
  // True when it did.
  function fitFrame() {
    const { width, height } = frameSize(state.layers);
    if (width === state.frame.width && height === state.frame.height) return false;
    openFrame();
    return true;
  }

  return {
    initLayer,
    openFrame,
    fitFrame,
    // fn runs after every change of the setup (the script, the warnings,
    // the address follow it).
    onChange: (fn) => listeners.push(fn),
    // A field or sprite run changed: Release, Init, the setters and Start
    // (none for a layer never started), as a script does it.
    freshInit(layer) {
      bridge.call("Release", layer.handle);
      initLayer(layer, { fresh: true });
    },
    // The setter for key (numof spawns at the next Start; rate is an
    // argument of each Draw, so it needs no call).
    applySetter(layer, key) {
      if (SETTER_OF[key]) bridge.call(SETTER_OF[key], layer.handle, layer[key]);
    },
    restart(layer) {
      bridge.call("Start", layer.handle);
      layer.started = true;
      layer.spawned = layer.numof;
    },
    release(layer) {
      bridge.call("Release", layer.handle);
    },
    // Every layer replaced by layers (a pasted script, a setup file, the
    // address): the old ones released, the new ones made.
    replaceAll(layers) {
      for (const layer of state.layers) bridge.call("Release", layer.handle);
      state.layers = layers.map((layer) => ({ ...layer }));
      state.selected = Math.min(state.selected, state.layers.length - 1);
    },
    // After any change: the frame as large as the largest field, the
    // layers drawn as they now are, and every listener follows; while paused
    // one frame shows it (the clock stands still, so only the sway of one
    // motion step moves the particles). A change the user made (user: true)
    // lets the address follow again.
    changed({ user = true } = {}) {
      if (user) state.keepAddress = false;
      fitFrame();
      bridge.drawList(state.layers.map(({ handle, rate, visible }) => ({ handle, rate, visible })));
      for (const fn of listeners) fn();
      if (state.paused) bridge.render();
    },
  };
}
