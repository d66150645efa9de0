// The layers panel: the tabs of the layers in drawing order (adding,
// removing, moving, hiding and restarting them), and the selected layer's
// controls: its drawing settings (each a slider and a number box), its field
// and sprite run, and the sprite runs to choose.
import { $, make, show } from "./dom.js";
import { msg } from "./i18n.js";
import { floatText, readNumber } from "./number_text.js";
import { sheetOf } from "./script.js";
import { INIT_FIELDS, MAX_PARTICLES, NEW_LAYER, SLIDERS, overLimits, particlesOf } from "./settings.js";

const BUTTONS = ["add-layer", "remove-layer", "layer-earlier", "layer-later"];
// The bank's own runs, by the name the host gives them.
const RUN_NAMES = { "Petals, large": "run.petalsLarge", "Petals, small": "run.petalsSmall", Snow: "run.snow",
  "Sprite sheet": "run.sheet" };

const idOf = (key) => `layer-${key.toLowerCase()}`;

// state: the studio's state; layers: its layers (layers.js); showSheetFields:
// the sheets panel's, for the grid fields of the selected layer's sheet.
export function createLayerPanel({ state, layers, showSheetFields }) {
  const current = () => state.current();
  const message = $("field-message");

  // Marks a field as refused (or clears the mark) and says why.
  function refuse(input, label, error) {
    input.setAttribute("aria-invalid", error ? "true" : "false");
    if (error) {
      show(message, msg("field.refused", { label, error, value: current()[input.dataset.key] }));
      input.setAttribute("aria-describedby", "field-message");
      message.dataset.owner = input.id;
    } else if (message.dataset.owner === input.id || !message.dataset.owner) {
      show(message, null);
      delete message.dataset.owner;
    }
  }

  function say(words) {
    show(message, words);
    delete message.dataset.owner;
  }

  // A number field's text when the user leaves it: a refused text goes back
  // to the layer's value.
  function settle(input) {
    if (input.getAttribute("aria-invalid") === "true") {
      input.value = String(current()[input.dataset.key]);
      refuse(input, "", null);
    }
  }

  // A value typed or slid, checked as every way in checks it: its range,
  // and for numof the studio's limit on the particles of all layers.
  function readSetting(text, setting) {
    const result = readNumber(text, setting);
    if (result.error || setting.key !== "numof") return result;
    const others = state.layers.reduce((sum, layer) => sum + (layer === current() ? 0 : particlesOf(layer)), 0);
    const total = others + particlesOf({ ...current(), numof: result.value });
    if (total > MAX_PARTICLES) {
      return { error: msg("limits.numofAll", { total, limit: MAX_PARTICLES }) };
    }
    return result;
  }

  function buildSliders() {
    for (const setting of SLIDERS) {
      const id = idOf(setting.key);
      const label = msg(`setting.${setting.key}`);
      const name = make("span");
      show(name, label);
      const slider = make("input", { type: "range", id: `${id}-slider`, min: setting.slider[0], max: setting.slider[1],
        step: setting.step });
      show(slider, msg("control.slider", { label }), { attribute: "aria-label" });
      const number = make("input", { type: "number", id, min: setting.min, max: setting.max, step: "any" });
      number.dataset.key = setting.key;
      const apply = (text, from) => {
        // A number box left half-typed or unreadable reads as "" here.
        const result = from === number && number.validity.badInput ? { error: msg("number.unreadable") }
          : readSetting(text, setting);
        if (from === number) refuse(number, label, result.error);
        if (result.error) return;
        const layer = current();
        layer[setting.key] = setting.float ? Number(floatText(result.value)) : result.value;
        if (from !== number) number.value = String(layer[setting.key]);
        if (from !== slider) slider.value = String(layer[setting.key]);
        layers.applySetter(layer, setting.key);
        showRestartHint();
        layers.changed();
      };
      slider.addEventListener("input", () => apply(slider.value, slider));
      number.addEventListener("input", () => apply(number.value, number));
      number.addEventListener("change", () => settle(number));
      number.addEventListener("blur", () => settle(number));
      const call = make("span", { className: "call", translate: false }, setting.call);
      $("params").append(make("div", { className: "param" }, make("label", { htmlFor: id }, name, " ", call),
        slider, number));
    }
  }

  function showRestartHint() {
    const layer = current();
    const pending = layer.started && layer.numof !== layer.spawned;
    $("restart").classList.toggle("pending", pending || !layer.started);
    show($("restart-hint"), !layer.started ? msg("layer.notStartedHint")
      : pending ? msg("layer.restartHint", { numof: layer.numof, count: layer.spawned }) : null);
  }

  function runLabel(run) {
    const sheet = state.sheets.find((s) => s.base === run.base);
    const name = sheet ? msg("run.namedSheet", { name: sheet.name }) : RUN_NAMES[run.name] ? msg(RUN_NAMES[run.name]) : run.name;
    return msg("run.label", { name, first: run.base, last: run.base + run.count - 1, count: run.rotation, size: run.size });
  }

  // The sprite runs the bank holds, as choices.
  function showRuns() {
    state.runs.sort((a, b) => a.base - b.base);
    const select = $("layer-run");
    select.replaceChildren();
    state.runs.forEach((run, index) => {
      const option = new Option("", String(index));
      show(option, runLabel(run));
      select.add(option);
    });
    const other = new Option("", "custom");
    show(other, msg("run.other"));
    select.add(other);
    const layer = current();
    if (!layer) return;
    const run = state.runs.findIndex((r) => r.base === layer.base && r.count === layer.count && r.rotation === layer.rotation);
    select.value = run >= 0 ? String(run) : "custom";
  }

  // The selected layer's values in its controls.
  function showLayer() {
    const layer = current();
    show($("layer-title"), msg("layer.title", { number: state.selected + 1, handle: layer.handle }));
    $("layer-visible").checked = layer.visible;
    $("layer-type").value = String(layer.type);
    for (const setting of [...SLIDERS, ...INIT_FIELDS]) {
      const input = $(idOf(setting.key));
      input.value = String(layer[setting.key]);
      input.setAttribute("aria-invalid", "false");
      if (setting.slider) $(`${idOf(setting.key)}-slider`).value = String(layer[setting.key]);
    }
    say(null);
    showRuns();
    showSheetFields();
    showRestartHint();
  }

  // A button that becomes disabled while it has the focus hands the focus
  // to the nearest enabled button of its row (the next one first).
  function keepFocus(focused) {
    if (!focused?.disabled || !BUTTONS.includes(focused.id)) return;
    const at = BUTTONS.indexOf(focused.id);
    const order = BUTTONS.map((id, i) => [Math.abs(i - at) * 2 - (i > at ? 1 : 0), id]).sort((a, b) => a[0] - b[0]);
    const next = order.map(([, id]) => $(id)).find((button) => !button.disabled);
    (next ?? $("layer-tabs").children[state.selected]).focus();
  }

  // The tabs are updated in place (a click must not lose its button between
  // press and release); only a change in the number of layers makes new
  // ones. Only the selected tab is in the Tab order; the arrow keys, Home
  // and End move between tabs.
  function showTabs() {
    const focused = document.activeElement;
    const tabs = $("layer-tabs");
    const { selected } = state;
    while (tabs.children.length > state.layers.length) tabs.lastChild.remove();
    while (tabs.children.length < state.layers.length) {
      const index = tabs.children.length;
      const tab = make("button", { type: "button", id: `layer-tab-${index + 1}` });
      tab.setAttribute("role", "tab");
      tab.setAttribute("aria-controls", "layer-panel");
      tab.addEventListener("click", () => select(index, false));
      tab.addEventListener("keydown", (event) => {
        const last = state.layers.length - 1;
        const to = { ArrowRight: index + 1, ArrowDown: index + 1, ArrowLeft: index - 1, ArrowUp: index - 1,
          Home: 0, End: last }[event.key];
        if (to === undefined) return;
        event.preventDefault();
        select((to + state.layers.length) % state.layers.length, true);
      });
      tabs.appendChild(tab);
    }
    state.layers.forEach((layer, index) => {
      const tab = tabs.children[index];
      show(tab, msg("layer.title", { number: index + 1, handle: layer.handle }));
      tab.setAttribute("aria-selected", index === selected ? "true" : "false");
      tab.tabIndex = index === selected ? 0 : -1;
      tab.classList.toggle("hidden-layer", !layer.visible);
    });
    $("layer-panel").setAttribute("aria-labelledby", `layer-tab-${selected + 1}`);
    $("remove-layer").disabled = state.layers.length <= 1;
    $("layer-earlier").disabled = selected === 0;
    $("layer-later").disabled = selected === state.layers.length - 1;
    keepFocus(focused);
  }

  function select(index, focus) {
    state.selected = index;
    showLayer();
    showTabs();
    if (focus) $("layer-tabs").children[index].focus();
  }

  function addLayer() {
    const handle = state.layers.reduce((max, layer) => Math.max(max, layer.handle), 0) + 1;
    const layer = { handle, visible: true, width: state.frame.width, height: state.frame.height, ...NEW_LAYER };
    const over = overLimits([...state.layers, layer]);
    if (over) {
      say(msg("layer.notAdded", { over }));
      return;
    }
    layers.initLayer(layer);
    state.layers.push(layer);
    select(state.layers.length - 1, false);
    layers.changed();
  }

  function wireFields() {
    $("layer-type").addEventListener("change", () => {
      current().type = Number.parseInt($("layer-type").value, 10);
      layers.applySetter(current(), "type");
      layers.changed();
    });
    for (const field of INIT_FIELDS) {
      const input = $(idOf(field.key));
      input.dataset.key = field.key;
      const label = msg(`setting.${field.key}`);
      const check = () => {
        const result = input.validity.badInput ? { error: msg("number.unreadable") } : readNumber(input.value, field);
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
          layers.freshInit(layer);
        }
        showLayer();
        layers.changed();
      });
      input.addEventListener("blur", () => settle(input));
    }
    $("layer-run").addEventListener("change", () => {
      const run = state.runs[Number($("layer-run").value)];
      if (!run) return;
      const layer = current();
      Object.assign(layer, { base: run.base, count: run.count, rotation: run.rotation });
      layers.freshInit(layer);
      showLayer();
      layers.changed();
    });
  }

  function wireTabs() {
    $("add-layer").addEventListener("click", addLayer);
    $("remove-layer").addEventListener("click", () => {
      if (state.layers.length <= 1) return;
      layers.release(current());
      state.layers.splice(state.selected, 1);
      select(Math.min(state.selected, state.layers.length - 1), false);
      layers.changed();
    });
    const move = (by) => {
      const to = state.selected + by;
      if (to < 0 || to >= state.layers.length) return;
      [state.layers[state.selected], state.layers[to]] = [state.layers[to], state.layers[state.selected]];
      select(to, false);
      layers.changed();
    };
    $("layer-earlier").addEventListener("click", () => move(-1));
    $("layer-later").addEventListener("click", () => move(1));
    $("layer-visible").addEventListener("change", () => {
      current().visible = $("layer-visible").checked;
      showTabs();
      layers.changed();
    });
    $("restart").addEventListener("click", () => {
      layers.restart(current());
      showRestartHint();
      layers.changed();
    });
    $("restart-all").addEventListener("click", () => {
      state.layers.forEach(layers.restart);
      showRestartHint();
      layers.changed();
    });
  }

  buildSliders();
  wireFields();
  wireTabs();
  return {
    // The whole panel again: the selected layer, the tabs and the runs.
    show() {
      showLayer();
      showTabs();
    },
    showRuns,
  };
}
