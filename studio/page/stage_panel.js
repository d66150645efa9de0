// The stage: the canvas the effect draws on, its description, the readout
// of the frames' work, Pause, the background, and the clock held while
// paused or hidden.
import * as bridge from "./bridge.js";
import { $, show } from "./dom.js";
import { msg } from "./i18n.js";

// state: the studio's state; layers: its layers (layers.js).
export function createStagePanel({ state, layers, setBackground }) {
  const stage = $("stage");
  const readout = $("readout");
  const last = { work: 0, interval: 0, calls: 0, shown: 0, at: 0 };

  function showReadout() {
    const size = msg("readout.size", { width: state.frame.width, height: state.frame.height });
    const calls = msg("readout.calls", { count: last.calls });
    const work = last.work.toFixed(2);
    if (state.paused) {
      show(readout, msg("readout.paused", { work, calls, size }));
      return;
    }
    // A frame that takes longer than a second is said to, as it draws.
    const waited = performance.now() - last.at;
    if (waited > 1000) {
      const seconds = (waited / 1000).toFixed(1);
      show(readout, last.at ? msg("readout.waitingAfter", { seconds, work, calls, size })
        : msg("readout.waiting", { seconds, size }));
      return;
    }
    if (!last.at) return;
    // One frame drawn since the last change: its work, no interval yet.
    if (!last.interval) {
      show(readout, msg("readout.measuring", { work, calls, size }));
      return;
    }
    show(readout, msg("readout.running", { work, interval: last.interval.toFixed(1),
      fps: (1000 / last.interval).toFixed(last.interval > 1000 ? 1 : 0), calls, size }));
  }

  // Held while paused or while the page is hidden: the effect resumes where
  // it stood instead of jumping ahead.
  function holdClock() {
    bridge.holdClock(state.paused || document.hidden);
  }

  $("pause").addEventListener("click", () => {
    state.paused = !state.paused;
    show($("pause"), msg(state.paused ? "stage.resume" : "stage.pause"));
    bridge.run(!state.paused);
    holdClock();
    showReadout();
    // Pausing changes no setup: a link kept in the address stays.
    layers.changed({ user: false });
  });
  document.addEventListener("visibilitychange", holdClock);
  setInterval(() => {
    if (!state.paused && performance.now() - last.at > 1000) showReadout();
  }, 500);
  $("background").addEventListener("change", () => {
    setBackground($("background").value);
    layers.changed();
  });

  return {
    holdClock,
    // A frame drawn by the engine: its drawing calls per layer, and the
    // work and real interval of the frames of the last second drawn since
    // the last change (a frame drawn while paused: its own work).
    frameDrawn({ frames, calls, work, interval, live }) {
      const total = calls.reduce((a, b) => a + b, 0);
      stage.dataset.drawCalls = String(total);
      stage.dataset.layerDrawCalls = calls.join(",");
      stage.dataset.frames = String(frames);
      const now = performance.now();
      Object.assign(last, { work, calls: total, interval: live ? interval : 0, at: now });
      if (now - last.shown >= 250 || state.paused) {
        last.shown = now;
        showReadout();
      }
    },
    // The stage's size and its description for a screen reader.
    describe() {
      const drawn = state.layers.filter((layer) => layer.visible).length;
      stage.dataset.width = String(state.frame.width);
      stage.dataset.height = String(state.frame.height);
      stage.style.aspectRatio = `${state.frame.width} / ${state.frame.height}`;
      show(stage, msg("stage.described", { drawn, count: state.layers.length, width: state.frame.width,
        height: state.frame.height }), { attribute: "aria-label" });
    },
  };
}
