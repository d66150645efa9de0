// The layers in drawing order: their tabs, and adding, removing, moving,
// hiding and restarting them; a whole new set of layers (a pasted script, a
// setup file, the address).
import { NEW_LAYER, current, overLimits, state } from "./state.js";
import { changed, fitFrame, initLayer, release, restart } from "./layers.js";
import { showLayer, showRestartHint } from "./controls.js";
import { mergeSheets } from "./sheet_panel.js";

const $ = (id) => document.getElementById(id);
const BUTTONS = ["add-layer", "remove-layer", "layer-earlier", "layer-later"];

export function selectLayer(index, focus) {
  state.selected = index;
  showLayer();
  showTabs();
  if (focus) $("layer-tabs").children[index].focus();
}

// A button that becomes disabled while it has the focus hands the focus to
// the nearest enabled button of its row (the next one first).
function keepFocus(focused) {
  if (!focused?.disabled || !BUTTONS.includes(focused.id)) return;
  const at = BUTTONS.indexOf(focused.id);
  const order = BUTTONS.map((id, i) => [Math.abs(i - at) * 2 - (i > at ? 1 : 0), id]).sort((a, b) => a[0] - b[0]);
  const next = order.map(([, id]) => $(id)).find((button) => !button.disabled);
  (next ?? $("layer-tabs").children[state.selected]).focus();
}

// The tabs are updated in place (a click must not lose its button between
// press and release); only a change in the number of layers makes new ones.
// Only the selected tab is in the Tab order; the arrow keys, Home and End
// move between tabs.
export function showTabs() {
  const focused = document.activeElement;
  const tabs = $("layer-tabs");
  const { layers, selected } = state;
  while (tabs.children.length > layers.length) tabs.lastChild.remove();
  while (tabs.children.length < layers.length) {
    const index = tabs.children.length;
    const tab = document.createElement("button");
    tab.type = "button";
    tab.id = `layer-tab-${index + 1}`;
    tab.setAttribute("role", "tab");
    tab.setAttribute("aria-controls", "layer-panel");
    tab.addEventListener("click", () => selectLayer(index, false));
    tab.addEventListener("keydown", (event) => {
      const last = state.layers.length - 1;
      const to = { ArrowRight: index + 1, ArrowDown: index + 1, ArrowLeft: index - 1, ArrowUp: index - 1,
        Home: 0, End: last }[event.key];
      if (to === undefined) return;
      event.preventDefault();
      selectLayer((to + state.layers.length) % state.layers.length, true);
    });
    tabs.appendChild(tab);
  }
  layers.forEach((layer, index) => {
    const tab = tabs.children[index];
    tab.textContent = `Layer ${index + 1} · handle ${layer.handle}`;
    tab.setAttribute("aria-selected", index === selected ? "true" : "false");
    tab.tabIndex = index === selected ? 0 : -1;
    tab.classList.toggle("hidden-layer", !layer.visible);
  });
  $("layer-panel").setAttribute("aria-labelledby", `layer-tab-${selected + 1}`);
  $("remove-layer").disabled = layers.length <= 1;
  $("layer-earlier").disabled = selected === 0;
  $("layer-later").disabled = selected === layers.length - 1;
  keepFocus(focused);
}

function say(text) {
  const message = $("field-message");
  message.textContent = text;
  delete message.dataset.owner;
}

function addLayer() {
  const handle = state.layers.reduce((max, layer) => Math.max(max, layer.handle), 0) + 1;
  const layer = { handle, visible: true, width: state.frame.width, height: state.frame.height, ...NEW_LAYER };
  const over = overLimits([...state.layers, layer]);
  if (over) {
    say(`Add layer: that makes ${over}; nothing was added.`);
    return;
  }
  initLayer(layer);
  state.layers.push(layer);
  selectLayer(state.layers.length - 1, false);
  changed();
}

// Replaces every layer, and names the sheets they use.
export function replaceLayers(layers, sheets) {
  for (const layer of state.layers) release(layer);
  state.layers = layers.map((layer) => ({ ...layer }));
  mergeSheets(sheets);
  if (!fitFrame()) state.layers.forEach(initLayer);
  state.selected = Math.min(state.selected, state.layers.length - 1);
  showLayer();
  showTabs();
  changed();
}

export function wireTabs() {
  $("add-layer").addEventListener("click", addLayer);
  $("remove-layer").addEventListener("click", () => {
    if (state.layers.length <= 1) return;
    release(current());
    state.layers.splice(state.selected, 1);
    selectLayer(Math.min(state.selected, state.layers.length - 1), false);
    changed();
  });
  const move = (by) => {
    const to = state.selected + by;
    if (to < 0 || to >= state.layers.length) return;
    [state.layers[state.selected], state.layers[to]] = [state.layers[to], state.layers[state.selected]];
    selectLayer(to, false);
    changed();
  };
  $("layer-earlier").addEventListener("click", () => move(-1));
  $("layer-later").addEventListener("click", () => move(1));
  $("layer-visible").addEventListener("change", () => {
    current().visible = $("layer-visible").checked;
    showTabs();
    changed();
  });
  $("restart").addEventListener("click", () => { restart(current()); showRestartHint(); changed(); });
  $("restart-all").addEventListener("click", () => { state.layers.forEach(restart); showRestartHint(); changed(); });
}
