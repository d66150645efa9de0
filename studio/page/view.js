// What the page shows of the running effect: the readout, the stage's
// description, the warnings and the plug-in's messages.
import * as bridge from "./bridge.js";
import { grouped, plural } from "./numbers.js";
import { changed, setBackground } from "./layers.js";
import { state } from "./state.js";
import { allWarnings } from "./warnings.js";

const $ = (id) => document.getElementById(id);
const last = { work: 0, interval: 0, calls: 0, shown: 0, at: 0 };

function showReadout() {
  const size = `${state.frame.width} × ${state.frame.height}`;
  const calls = `${grouped(last.calls)} drawing call${last.calls === 1 ? "" : "s"}`;
  if (state.paused) {
    $("readout").textContent = `Paused · the last frame took ${last.work.toFixed(2)} ms of work · ${calls} · ${size}`;
    return;
  }
  // A frame that takes longer than a second is said to, as it draws.
  const waited = performance.now() - last.at;
  if (waited > 1000) {
    $("readout").textContent = `Drawing a frame: none has come for ${(waited / 1000).toFixed(1)} s` +
      (last.at ? ` (the last took ${last.work.toFixed(2)} ms of work) · ${calls}` : "") + ` · ${size}`;
    return;
  }
  if (!last.interval) return;
  $("readout").textContent = `Frame ${last.work.toFixed(2)} ms of work · every ${last.interval.toFixed(1)} ms ` +
    `(${(1000 / last.interval).toFixed(last.interval > 1000 ? 1 : 0)} fps) · ${calls} · ${size}`;
}

// A frame drawn by the engine: its drawing calls per layer, its work, and
// the real interval between frames over the last second.
export function frameDrawn({ frames, calls, work, interval, live }) {
  const stage = $("stage");
  const total = calls.reduce((a, b) => a + b, 0);
  stage.dataset.drawCalls = String(total);
  stage.dataset.layerDrawCalls = calls.join(",");
  stage.dataset.frames = String(frames);
  const now = performance.now();
  Object.assign(last, { work, calls: total, interval: live ? interval : last.interval, at: now });
  if (now - last.shown >= 250 || state.paused) {
    last.shown = now;
    showReadout();
  }
}

// Held while paused or while the page is hidden: the effect resumes where it
// stood instead of jumping ahead.
export function holdClock() {
  bridge.holdClock(state.paused || document.hidden);
}

// Pause, the background, and clearing the plug-in's messages.
export function wireStage() {
  $("pause").addEventListener("click", () => {
    state.paused = !state.paused;
    $("pause").textContent = state.paused ? "Resume" : "Pause";
    bridge.run(!state.paused);
    holdClock();
    showReadout();
    changed();
  });
  document.addEventListener("visibilitychange", holdClock);
  setInterval(() => {
    if (!state.paused && performance.now() - last.at > 1000) showReadout();
  }, 500);
  $("background").addEventListener("change", () => {
    setBackground($("background").value);
    changed();
  });
  $("clear-debug").addEventListener("click", () => $("debug-log").replaceChildren());
}

export function describeStage() {
  const stage = $("stage");
  const drawn = state.layers.filter((layer) => layer.visible).length;
  stage.dataset.width = String(state.frame.width);
  stage.dataset.height = String(state.frame.height);
  stage.style.aspectRatio = `${state.frame.width} / ${state.frame.height}`;
  stage.setAttribute("aria-label", `The effect, drawn live: ${drawn} of ${plural(state.layers.length, "layer")}` +
    ` drawn on a ${state.frame.width} × ${state.frame.height} frame`);
}

export function showWarnings() {
  const list = $("warnings");
  list.replaceChildren();
  for (const warning of allWarnings(state.layers, state)) {
    const item = document.createElement("li");
    item.dataset.layer = String(warning.layer);
    item.dataset.kind = warning.kind;
    const where = document.createElement("strong");
    where.textContent = `Layer ${warning.layer} (handle ${warning.handle}): `;
    const fix = document.createElement("span");
    fix.className = "fix";
    fix.textContent = ` ${warning.fix}`;
    item.append(where, warning.problem, fix);
    list.appendChild(item);
  }
}

export function addDebugMessage({ text, raw }) {
  const item = document.createElement("li");
  const line = text.endsWith("\n") ? text.slice(0, -1) : text;
  item.textContent = line;
  item.className = line.includes("ERROR") ? "error" : line.includes("WARNING") ? "warning" : "";
  if (raw) item.title = "bytes: " + Array.from(raw, (b) => b.toString(16).padStart(2, "0")).join(" ");
  $("debug-log").appendChild(item);
}
