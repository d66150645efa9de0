// The whole setup as a value: what a setup file holds and what the page's
// address holds, written out and read back with every number checked as the
// controls check it, and the studio's limits applied. Pure. A setup that
// cannot be read throws a StudioError saying why.
import { StudioError, msg } from "./i18n.js";
import { floatText, readNumber } from "./numbers.js";
import { LAYER_KEYS, LIMITS, SHEET_KEYS, SHEET_LIMITS, overLimits } from "./settings.js";

export const FORMAT = "DrawVelora studio setup";

// One value of a layer checked against limits.
function layerNumber(raw, limits, where, key) {
  const text = typeof raw === "boolean" ? (raw ? "1" : "0") : String(raw ?? "");
  const result = readNumber(text, limits);
  if (result.error) throw new StudioError("setup.badValue", { where, key, error: result.error });
  return result.value;
}

// One layer read back, every number checked; where: a message naming it.
// Beside the settings: started (missing: true), spawned, what the last
// Start spawned (missing: numof) and the author's comments (missing: none).
export function checkLayer(values, where) {
  const layer = {};
  for (const key of LAYER_KEYS) {
    const value = layerNumber(values[key], LIMITS[key], where, key);
    layer[key] = key === "visible" ? value === 1 : value;
  }
  for (const key of ["xSpeed", "ySpeed"]) layer[key] = Number(floatText(layer[key]));
  layer.started = values.started === undefined || layerNumber(values.started, { min: 0, max: 1 }, where, "started") === 1;
  layer.spawned = !layer.started ? 0
    : values.spawned === undefined ? layer.numof : layerNumber(values.spawned, LIMITS.numof, where, "spawned");
  const comments = values.comments ?? [];
  if (!Array.isArray(comments) || comments.some((comment) => typeof comment !== "string")) {
    throw new StudioError("setup.badComments", { where });
  }
  layer.comments = [...comments];
  return layer;
}

// One sheet read back: its name and numbers; margin and spacing may be
// missing (0), as in setups saved before sheets had them.
export function checkSheet(values, where) {
  const name = String(values.name ?? "");
  if (!name) throw new StudioError("setup.sheetWithoutName", { where });
  const sheet = { name };
  for (const key of SHEET_KEYS) {
    const raw = values[key] ?? ((key === "margin" || key === "spacing") ? 0 : "");
    const result = readNumber(String(raw), SHEET_LIMITS[key]);
    if (result.error) throw new StudioError("setup.badSheetValue", { where, name, key, error: result.error });
    sheet[key] = result.value;
  }
  if (sheet.count > sheet.columns * sheet.rows) {
    throw new StudioError("setup.sheetTooFull", { where, name, count: sheet.count, columns: sheet.columns,
      rows: sheet.rows });
  }
  return sheet;
}

// A setup's values checked: { background, layers, sheets }, or a StudioError
// saying what is wrong. backgrounds: the studio's choices.
export function checkSetup(setup, backgrounds) {
  if (!Array.isArray(setup.layers) || setup.layers.length === 0) throw new StudioError("setup.noLayer");
  const over = overLimits(setup.layers.map((values) => ({ numof: Number(values?.numof) || 0 })));
  if (over) throw new StudioError("setup.overLimits", { over });
  const layers = setup.layers.map((values, i) => checkLayer(values ?? {}, msg("where.layer", { number: i + 1 })));
  if (new Set(layers.map((layer) => layer.handle)).size !== layers.length) throw new StudioError("setup.sameHandle");
  if (setup.background === undefined || setup.background === null) throw new StudioError("setup.noBackground");
  if (!backgrounds.includes(setup.background)) {
    throw new StudioError("setup.unknownBackground", { background: String(setup.background) });
  }
  const sheets = (setup.sheets ?? []).map((values, i) => checkSheet(values ?? {}, msg("where.sheet", { number: i + 1 })));
  return { background: setup.background, layers, sheets };
}

// What a setup file holds.
export function setupValue({ background, layers, sheets }) {
  return {
    format: FORMAT,
    version: 1,
    background,
    layers: layers.map((layer) => ({
      ...Object.fromEntries(LAYER_KEYS.map((key) => [key, layer[key]])),
      started: layer.started !== false,
      spawned: layer.started === false ? 0 : layer.spawned ?? layer.numof,
      comments: [...(layer.comments ?? [])],
    })),
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
    throw new StudioError("setup.notJson", { detail: error.message });
  }
  if (values?.format !== FORMAT || values.version !== 1) throw new StudioError("setup.notSetup");
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
      : LIMITS[key].float ? floatText(layer[key]) : layer[key]).join(","));
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
    throw version === null ? new StudioError("address.noVersion") : new StudioError("address.badVersion", { version });
  }
  const layerTexts = params.getAll("layer");
  if (layerTexts.length === 0) throw new StudioError("setup.noLayer");
  const numbers = version === "1" ? 5 : SHEET_KEYS.length;
  const layers = layerTexts.map((value, i) => {
    const parts = value.split(",");
    if (parts.length !== LAYER_KEYS.length) {
      throw new StudioError("address.layerCount", { number: i + 1, expected: LAYER_KEYS.length, count: parts.length });
    }
    return Object.fromEntries(LAYER_KEYS.map((key, k) => [key, parts[k]]));
  });
  const sheets = params.getAll("sheet").map((value) => {
    const parts = value.split(",");
    const keys = SHEET_KEYS.slice(0, numbers);
    return { ...Object.fromEntries(keys.map((key, k) => [key, parts[k]])), name: parts.slice(numbers).join(",") };
  });
  return checkSetup({ background: params.get("bg"), layers, sheets }, backgrounds);
}
