// The selected layer's controls: its drawing settings (each a slider and a
// number box), its field and sprite run, and the sprite runs to choose.
import { floatText, grouped, readNumber } from "./numbers.js";
import { INIT_FIELDS, MAX_PARTICLES, PARAMS, current, state } from "./state.js";
import { applySetter, changed, freshInit } from "./layers.js";
import { sheetOf } from "./script.js";

const $ = (id) => document.getElementById(id);

// Marks a field as refused (or clears the mark) and says why.
export function refuse(input, label, error) {
  input.setAttribute("aria-invalid", error ? "true" : "false");
  const message = $("field-message");
  if (error) {
    message.textContent = `${label}: ${error}; the layer keeps ${current()[input.dataset.key]}.`;
    input.setAttribute("aria-describedby", "field-message");
    message.dataset.owner = input.id;
  } else if (message.dataset.owner === input.id || !message.dataset.owner) {
    message.textContent = "";
    delete message.dataset.owner;
  }
}

// A number field's text when the user leaves it: a refused text goes back to
// the layer's value.
function settle(input) {
  if (input.getAttribute("aria-invalid") === "true") {
    input.value = String(current()[input.dataset.key]);
    refuse(input, "", null);
  }
}

// A value typed or slid, checked as every way in checks it: its range, and
// for numof the studio's limit on the particles of all layers.
function readParam(text, limits) {
  const result = readNumber(text, limits);
  if (result.error || limits.key !== "numof") return result;
  const others = state.layers.reduce((sum, layer) => sum + (layer === current() ? 0 : Math.max(0, layer.numof)), 0);
  if (others + result.value > MAX_PARTICLES) {
    return { error: `${grouped(others + result.value)} particles in all would be more than the studio's limit of ` +
      `${grouped(MAX_PARTICLES)}` };
  }
  return result;
}

function buildParams() {
  const box = $("params");
  for (const limits of PARAMS) {
    const row = document.createElement("div");
    row.className = "param";
    const label = document.createElement("label");
    label.htmlFor = `layer-${limits.key.toLowerCase()}`;
    label.innerHTML = `${limits.label} <span class="call">${limits.call}</span>`;
    const slider = document.createElement("input");
    Object.assign(slider, { type: "range", id: `layer-${limits.key.toLowerCase()}-slider`, min: limits.slider[0],
      max: limits.slider[1], step: limits.step });
    slider.setAttribute("aria-label", `${limits.label} (slider)`);
    const number = document.createElement("input");
    Object.assign(number, { type: "number", id: `layer-${limits.key.toLowerCase()}`, min: limits.min, max: limits.max,
      step: "any" });
    number.dataset.key = limits.key;
    const apply = (text, from) => {
      // A number box left half-typed or unreadable reads as "" here.
      const result = from === number && number.validity.badInput ? { error: "not a number" } : readParam(text, limits);
      if (from === number) refuse(number, limits.label, result.error);
      if (result.error) return;
      const layer = current();
      layer[limits.key] = limits.float ? Number(floatText(result.value)) : result.value;
      if (from !== number) number.value = String(layer[limits.key]);
      if (from !== slider) slider.value = String(layer[limits.key]);
      applySetter(layer, limits.key);
      showRestartHint();
      changed();
    };
    slider.addEventListener("input", () => apply(slider.value, slider));
    number.addEventListener("input", () => apply(number.value, number));
    number.addEventListener("change", () => settle(number));
    number.addEventListener("blur", () => settle(number));
    row.append(label, slider, number);
    box.appendChild(row);
  }
}

export function showRestartHint() {
  const layer = current();
  const pending = layer.numof !== layer.runningNumof;
  $("restart").classList.toggle("pending", pending);
  $("restart-hint").textContent = pending
    ? `numof ${layer.numof} applies at the next Start (now ${layer.runningNumof} particles)` : "";
}

function runLabel(run) {
  const last = run.base + run.count - 1;
  const sheet = state.sheets.find((s) => s.base === run.base);
  const name = sheet ? `Sheet "${sheet.name}"` : run.name;
  return `${name}: sprites ${run.base}–${last}, ${run.rotation} group${run.rotation === 1 ? "" : "s"}, ${run.size} px`;
}

// The sprite runs the bank holds, as choices.
export function showRuns() {
  state.runs.sort((a, b) => a.base - b.base);
  const select = $("layer-run");
  select.replaceChildren();
  state.runs.forEach((run, index) => select.add(new Option(runLabel(run), String(index))));
  select.add(new Option("Other (the numbers below)", "custom"));
  const layer = current();
  if (!layer) return;
  const run = state.runs.findIndex((r) => r.base === layer.base && r.count === layer.count && r.rotation === layer.rotation);
  select.value = run >= 0 ? String(run) : "custom";
}

// The selected layer's values in its controls.
export function showLayer() {
  const layer = current();
  $("layer-title").textContent = `Layer ${state.selected + 1} · handle ${layer.handle}`;
  $("layer-visible").checked = layer.visible;
  $("layer-type").value = String(layer.type);
  for (const limits of PARAMS) {
    const id = `layer-${limits.key.toLowerCase()}`;
    $(id).value = String(layer[limits.key]);
    $(id).setAttribute("aria-invalid", "false");
    $(`${id}-slider`).value = String(layer[limits.key]);
  }
  for (const field of INIT_FIELDS) {
    $(field.id).value = String(layer[field.key]);
    $(field.id).setAttribute("aria-invalid", "false");
  }
  $("field-message").textContent = "";
  delete $("field-message").dataset.owner;
  showRuns();
  const sheet = sheetOf(state.sheets, layer);
  for (const key of ["cell", "margin", "spacing"]) {
    $(`sheet-${key}`).value = sheet && sheet.typed?.[key] ? String(sheet[key]) : "";
    $(`sheet-${key}`).setAttribute("aria-invalid", "false");
  }
  showRestartHint();
}

export function wireControls() {
  buildParams();
  $("layer-type").addEventListener("change", () => {
    current().type = Number.parseInt($("layer-type").value, 10);
    applySetter(current(), "type");
    changed();
  });
  for (const field of INIT_FIELDS) {
    const input = $(field.id);
    input.dataset.key = field.key;
    const label = input.parentElement.firstChild.textContent.trim();
    const check = () => {
      const result = input.validity.badInput ? { error: "not a number" } : readNumber(input.value, field);
      refuse(input, label, result.error);
      return result;
    };
    input.addEventListener("input", check);
    input.addEventListener("change", () => {
      const result = check();
      if (result.error) return;
      const layer = current();
      if (result.value !== layer[field.key]) {
        layer[field.key] = result.value;
        freshInit(layer);
      }
      showLayer();
      changed();
    });
    input.addEventListener("blur", () => settle(input));
  }
  $("layer-run").addEventListener("change", () => {
    const run = state.runs[Number($("layer-run").value)];
    if (!run) return;
    const layer = current();
    Object.assign(layer, { base: run.base, count: run.count, rotation: run.rotation });
    freshInit(layer);
    showLayer();
    changed();
  });
}
