// The whole setup as a value: what a setup file holds and what the page's
// address holds, written out and read back with every number checked as the
// controls check it, and the studio's limits applied. Pure.
import { floatText, readNumber } from "./numbers.js";
import { LAYER_LIMITS, overLimits } from "./state.js";
import { MAX_SHEET_CELLS, MAX_SHEET_SIDE, MIN_CELL, SHEET_BASE } from "./sheets.js";

export const FORMAT = "DrawVelora studio setup";
export const LAYER_KEYS = ["handle", "visible", "width", "height", "base", "count", "rotation", "type", "numof",
  "maxAmp", "xSpeed", "ySpeed", "rate"];
// The numbers of a sheet, and their limits; its name comes last.
const SHEET_LIMITS = {
  base: { min: SHEET_BASE, max: 99999 },
  count: { min: 1, max: MAX_SHEET_CELLS },
  cell: { min: MIN_CELL, max: MAX_SHEET_SIDE },
  columns: { min: 1, max: MAX_SHEET_SIDE },
  rows: { min: 1, max: MAX_SHEET_SIDE },
  margin: { min: 0, max: MAX_SHEET_SIDE },
  spacing: { min: 0, max: MAX_SHEET_SIDE },
};
const SHEET_KEYS = Object.keys(SHEET_LIMITS);

// One layer read back, every number checked.
export function checkLayer(values, where) {
  const layer = {};
  for (const key of LAYER_KEYS) {
    const raw = values[key];
    const text = typeof raw === "boolean" ? (raw ? "1" : "0") : String(raw ?? "");
    const result = readNumber(text, LAYER_LIMITS[key]);
    if (result.error) throw new Error(`${where}: ${key} ${result.error}`);
    layer[key] = key === "visible" ? result.value === 1 : result.value;
  }
  if (LAYER_LIMITS.xSpeed.float) for (const key of ["xSpeed", "ySpeed"]) layer[key] = Number(floatText(layer[key]));
  return layer;
}

// One sheet read back: its name and numbers; margin and spacing may be
// missing (0), as in setups saved before sheets had them.
export function checkSheet(values, where) {
  const name = String(values.name ?? "");
  if (!name) throw new Error(`${where}: a sheet without a name`);
  const sheet = { name };
  for (const key of SHEET_KEYS) {
    const raw = values[key] ?? ((key === "margin" || key === "spacing") ? 0 : "");
    const result = readNumber(String(raw), SHEET_LIMITS[key]);
    if (result.error) throw new Error(`${where} ("${name}"): ${key} ${result.error}`);
    sheet[key] = result.value;
  }
  if (sheet.count > sheet.columns * sheet.rows) {
    throw new Error(`${where} ("${name}"): ${sheet.count} sprites do not fit in ${sheet.columns} x ${sheet.rows} cells`);
  }
  return sheet;
}

// A setup's values checked: { background, layers, sheets }, or an Error
// saying what is wrong. backgrounds: the studio's choices.
export function checkSetup(setup, backgrounds) {
  if (!Array.isArray(setup.layers) || setup.layers.length === 0) throw new Error("it holds no layer");
  const over = overLimits(setup.layers.map((values) => ({ numof: Number(values?.numof) || 0 })));
  if (over) throw new Error(`it holds ${over}`);
  const layers = setup.layers.map((values, i) => checkLayer(values ?? {}, `layer ${i + 1}`));
  if (new Set(layers.map((layer) => layer.handle)).size !== layers.length) throw new Error("two layers have the same handle");
  if (setup.background === undefined || setup.background === null) throw new Error("it names no background");
  if (!backgrounds.includes(setup.background)) throw new Error(`background "${setup.background}" is not one of the studio's`);
  const sheets = (setup.sheets ?? []).map((values, i) => checkSheet(values ?? {}, `sheet ${i + 1}`));
  return { background: setup.background, layers, sheets };
}

// What a setup file holds.
export function setupValue({ background, layers, sheets }) {
  return {
    format: FORMAT,
    version: 1,
    background,
    layers: layers.map((layer) => Object.fromEntries(LAYER_KEYS.map((key) => [key, layer[key]]))),
    sheets: sheets.filter((sheet) => sheet.count > 0).map((sheet) => ({
      ...Object.fromEntries(SHEET_KEYS.map((key) => [key, sheet[key] ?? 0])), name: sheet.name })),
  };
}

// A setup file's text read back.
export function readSetupFile(text, backgrounds) {
  let values;
  try {
    values = JSON.parse(text);
  } catch (error) {
    throw new Error(`it is not JSON (${error.message})`);
  }
  if (values?.format !== FORMAT || values.version !== 1) throw new Error("it is not a DrawVelora studio setup (version 1)");
  return checkSetup(values, backgrounds);
}

// The address: v=2&bg=TOP,BOTTOM, then one layer=... per layer (the numbers
// of LAYER_KEYS, comma-separated, visible as 1 or 0) and one
// sheet=base,count,cell,columns,rows,margin,spacing,name per sheet (the name
// last: it may hold commas). Addresses of v=1 have no margin and spacing.
export function setupAddress(setup) {
  const value = setupValue(setup);
  const parts = ["v=2", `bg=${value.background}`];
  for (const layer of value.layers) {
    parts.push("layer=" + LAYER_KEYS.map((key) => key === "visible" ? (layer.visible ? 1 : 0)
      : key === "xSpeed" || key === "ySpeed" ? floatText(layer[key]) : layer[key]).join(","));
  }
  for (const sheet of value.sheets) {
    parts.push("sheet=" + [...SHEET_KEYS.map((key) => sheet[key]), encodeURIComponent(sheet.name)].join(","));
  }
  return parts.join("&");
}

export function readAddress(text, backgrounds) {
  const params = new URLSearchParams(text);
  const version = params.get("v");
  if (version !== "1" && version !== "2") {
    throw new Error(version === null ? "it names no version (v=2)" : `version v=${version} is not one this studio reads (v=1 or v=2)`);
  }
  const layerTexts = params.getAll("layer");
  if (layerTexts.length === 0) throw new Error("it holds no layer");
  const numbers = version === "1" ? 5 : SHEET_KEYS.length;
  const layers = layerTexts.map((value, i) => {
    const parts = value.split(",");
    if (parts.length !== LAYER_KEYS.length) throw new Error(`layer ${i + 1}: ${LAYER_KEYS.length} numbers expected, not ${parts.length}`);
    return Object.fromEntries(LAYER_KEYS.map((key, k) => [key, parts[k]]));
  });
  const sheets = params.getAll("sheet").map((value) => {
    const parts = value.split(",");
    const keys = SHEET_KEYS.slice(0, numbers);
    return { ...Object.fromEntries(keys.map((key, k) => [key, parts[k]])), name: parts.slice(numbers).join(",") };
  });
  return checkSetup({ background: params.get("bg"), layers, sheets }, backgrounds);
}
