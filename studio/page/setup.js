// The whole setup as a value: what a setup file holds and what the page's
// address holds, written out and read back with every number checked as the
// controls check it, and the studio's limits applied. Pure. A setup that
// cannot be read throws a StudioError saying why.
import { StudioError, msg } from "./i18n.js";
import { floatText, readNumber } from "./number_text.js";
import { LAYER_KEYS, LIMITS, SHEET_KEYS, SHEET_LIMITS, overLimits } from "./settings.js";

// Two sheets whose sprite numbers meet.
function rangesMeet(a, b) {
  return a.base < b.base + b.count && b.base < a.base + a.count;
}

export const FORMAT = "DrawVelora studio setup";

// A value of a setup file as text or as a number, as String() and Number()
// give them; an object they cannot turn into one (its "toString" is not a
// function) gives what any other object gives, which the checks refuse.
function textOf(value) {
  try {
    return String(value);
  } catch {
    return Object.prototype.toString.call(value);
  }
}
function numberOf(value) {
  try {
    return Number(value);
  } catch {
    return NaN;
  }
}

// One value of a layer checked against limits.
function layerNumber(raw, limits, where, key) {
  if (raw === undefined || raw === null) throw new StudioError("setup.missingValue", { where, key });
  const text = typeof raw === "boolean" ? (raw ? "1" : "0") : textOf(raw ?? "");
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

// One sheet read back: its name, numbers and the short hash of its file's
// bytes; margin and spacing may be missing (0), as in setups saved before
// sheets had them, and so may the hash (the sheet is then known by name).
export function checkSheet(values, where) {
  const name = textOf(values.name ?? "");
  if (!name) throw new StudioError("setup.sheetWithoutName", { where });
  const sheet = { name };
  if (values.hash !== undefined && values.hash !== "") {
    if (!/^[0-9a-f]{8}$/.test(textOf(values.hash))) {
      throw new StudioError("setup.badHash", { where, name, hash: textOf(values.hash) });
    }
    sheet.hash = textOf(values.hash);
  }
  for (const key of SHEET_KEYS) {
    const raw = values[key] ?? ((key === "margin" || key === "spacing") ? 0 : "");
    const result = readNumber(textOf(raw), SHEET_LIMITS[key]);
    if (result.error) throw new StudioError("setup.badSheetValue", { where, name, key, error: result.error });
    sheet[key] = result.value;
  }
  if (sheet.count > sheet.columns * sheet.rows) {
    throw new StudioError("setup.sheetTooFull", { where, name, count: sheet.count, columns: sheet.columns,
      rows: sheet.rows });
  }
  return sheet;
}

// The author's picture a setup names, read back: { name, hash } (hash: 8
// hexadecimal digits of its file, "" where a hand-made setup has none), or
// null for none.
export function checkPicture(values) {
  if (values === undefined || values === null) return null;
  const name = typeof values.name === "string" ? values.name : "";
  if (!name) throw new StudioError("setup.pictureWithoutName");
  const hash = values.hash === undefined || values.hash === null ? "" : textOf(values.hash);
  if (hash && !/^[0-9a-f]{8}$/.test(hash)) throw new StudioError("setup.badPictureHash", { name, hash });
  return { name, hash };
}

// A setup's values checked: { background, picture, layers, sheets }, or a StudioError
// saying what is wrong. backgrounds: the studio's choices.
export function checkSetup(setup, backgrounds) {
  if (!Array.isArray(setup.layers) || setup.layers.length === 0) throw new StudioError("setup.noLayer");
  // The limits before each layer is read, then again with what the layers'
  // last Starts spawned (a count waiting for the next Start may be smaller).
  const early = overLimits(setup.layers.map((values) => ({ numof: numberOf(values?.numof) || 0 })));
  if (early) throw new StudioError("setup.overLimits", { over: early });
  const layers = setup.layers.map((values, i) => checkLayer(values ?? {}, msg("where.layer", { number: i + 1 })));
  const over = overLimits(layers);
  if (over) throw new StudioError("setup.overLimits", { over });
  if (new Set(layers.map((layer) => layer.handle)).size !== layers.length) throw new StudioError("setup.sameHandle");
  if (setup.background === undefined || setup.background === null) throw new StudioError("setup.noBackground");
  if (!backgrounds.includes(setup.background)) {
    throw new StudioError("setup.unknownBackground", { background: textOf(setup.background) });
  }
  if (setup.sheets !== undefined && setup.sheets !== null && !Array.isArray(setup.sheets)) {
    throw new StudioError("setup.sheetsNotList");
  }
  const sheets = (setup.sheets ?? []).map((values, i) => checkSheet(values ?? {}, msg("where.sheet", { number: i + 1 })));
  sheets.forEach((sheet, i) => {
    const other = sheets.slice(0, i).find((earlier) => rangesMeet(earlier, sheet));
    if (other) {
      throw new StudioError("setup.sheetsOverlap", { name: other.name, first: other.base,
        last: other.base + other.count - 1, other: sheet.name, otherFirst: sheet.base,
        otherLast: sheet.base + sheet.count - 1 });
    }
  });
  return { background: setup.background, picture: checkPicture(setup.picture), layers, sheets };
}

// What a setup file holds.
export function setupValue({ background, picture, layers, sheets }) {
  return {
    format: FORMAT,
    version: 1,
    background,
    ...(picture ? { picture: { name: picture.name, hash: picture.hash } } : {}),
    layers: layers.map((layer) => ({
      ...Object.fromEntries(LAYER_KEYS.map((key) => [key, layer[key]])),
      started: layer.started !== false,
      spawned: layer.started === false ? 0 : layer.spawned ?? layer.numof,
      comments: [...(layer.comments ?? [])],
    })),
    sheets: sheets.filter((sheet) => sheet.count > 0).map((sheet) => ({
      ...Object.fromEntries(SHEET_KEYS.map((key) => [key, sheet[key] ?? 0])), name: sheet.name,
      ...(sheet.hash ? { hash: sheet.hash } : {}) })),
  };
}

// The first bytes of the images a user may pick by mistake (no JSON text
// begins with any of them), by offset: WebP's name follows its size.
const IMAGE_SIGNATURES = [
  ["PNG", 0, [0x89, 0x50, 0x4e, 0x47]], ["JPEG", 0, [0xff, 0xd8, 0xff]], ["GIF", 0, [0x47, 0x49, 0x46, 0x38]],
  ["BMP", 0, [0x42, 0x4d]], ["WebP", 8, [0x57, 0x45, 0x42, 0x50]],
];

// A file's bytes as the text of a setup file: an image or any other file
// that is not UTF-8 text is named as such (its bytes are never quoted).
export function setupFileText(bytes) {
  const head = new Uint8Array(bytes, 0, Math.min(bytes.byteLength, 12));
  const image = IMAGE_SIGNATURES.find(([, at, signature]) => signature.every((byte, i) => head[at + i] === byte));
  if (image) throw new StudioError("setup.image", { kind: image[0] });
  let text;
  try {
    text = new TextDecoder("utf-8", { fatal: true }).decode(bytes);
  } catch {
    throw new StudioError("setup.binary");
  }
  if (text.includes("\0")) throw new StudioError("setup.binary");
  return text;
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

// The address: v=3&bg=TOP,BOTTOM, then one layer=... per layer (the numbers
// of LAYER_KEYS, comma-separated, visible as 1 or 0, then started as 1 or 0
// and the particles the last Start spawned), one
// sheet=base,count,cell,columns,rows,margin,spacing,hash,name per sheet (the
// hash empty when unknown; the name last: it may hold commas), with the
// author's picture pic=hash,name (only when there is one), and last
// end=CHECK: the check of everything before "&end=", so that a link cut
// anywhere is known to be cut. Addresses of v=2 have no started, spawned,
// hash nor end; those of v=1 no margin and spacing either.
export function setupAddress(setup) {
  const value = setupValue(setup);
  const parts = ["v=3", `bg=${value.background}`];
  value.layers.forEach((layer, i) => {
    const { started = true, spawned = layer.numof } = setup.layers[i];
    parts.push("layer=" + [...LAYER_KEYS.map((key) => key === "visible" ? (layer.visible ? 1 : 0)
      : LIMITS[key].float ? floatText(layer[key]) : layer[key]), started ? 1 : 0, spawned].join(","));
  });
  for (const sheet of value.sheets) {
    parts.push("sheet=" + [...SHEET_KEYS.map((key) => sheet[key]), sheet.hash ?? "",
      encodeURIComponent(sheet.name)].join(","));
  }
  if (value.picture) parts.push(`pic=${value.picture.hash},${encodeURIComponent(value.picture.name)}`);
  const text = parts.join("&");
  return `${text}&end=${addressCheck(text)}`;
}

// The check at the end of an address: FNV-1a over the UTF-8 of the text
// before it, as 8 hex digits.
export function addressCheck(text) {
  let hash = 0x811c9dc5;
  for (const byte of new TextEncoder().encode(text)) hash = Math.imul(hash ^ byte, 0x01000193) >>> 0;
  return hash.toString(16).padStart(8, "0");
}

// A part of the address as it reads, shortened for a message.
function shortPart(part) {
  return part.length > 60 ? `${part.slice(0, 57)}…` : part;
}

// The address's parts, each checked for whole %-codes: a cut or damaged
// one is named (URLSearchParams would read it as "�").
function addressParts(text) {
  for (const part of text.split("&")) {
    try {
      decodeURIComponent(part.replaceAll("+", " "));
    } catch {
      throw new StudioError("address.badEncoding", { part: shortPart(part) });
    }
  }
  return new URLSearchParams(text);
}

// A v=3 address without its end, or with an end that does not match.
function checkEnd(text) {
  const at = text.lastIndexOf("&end=");
  const end = at < 0 ? "" : text.slice(at + 5);
  if (at < 0 || end.length < 8) throw new StudioError("address.cut");
  if (end !== addressCheck(text.slice(0, at))) throw new StudioError("address.changed");
  return text.slice(0, at);
}

export function readAddress(text, backgrounds) {
  const version = new URLSearchParams(text).get("v");
  if (version === "") throw new StudioError("address.cut");
  if (version !== "1" && version !== "2" && version !== "3") {
    throw version === null ? new StudioError("address.noVersion") : new StudioError("address.badVersion", { version });
  }
  const params = addressParts(version === "3" ? checkEnd(text) : text);
  const layerTexts = params.getAll("layer");
  if (layerTexts.length === 0) throw new StudioError("setup.noLayer");
  const extra = version === "3" ? 2 : 0;
  const layerParts = layerTexts.map((value, i) => {
    const parts = value.split(",");
    if (parts.length !== LAYER_KEYS.length + extra) {
      throw new StudioError("address.layerCount", { number: i + 1, expected: LAYER_KEYS.length + extra,
        count: parts.length });
    }
    return parts;
  });
  // (v=3: started and spawned follow the settings, read as a setup file's)
  const keys = version === "3" ? [...LAYER_KEYS, "started", "spawned"] : LAYER_KEYS;
  const layers = layerParts.map((parts) => Object.fromEntries(keys.map((key, k) => [key, parts[k]])));
  const numbers = version === "1" ? 5 : SHEET_KEYS.length;
  const sheets = params.getAll("sheet").map((value) => {
    const parts = value.split(",");
    const keys = SHEET_KEYS.slice(0, numbers);
    const sheet = Object.fromEntries(keys.map((key, k) => [key, parts[k]]));
    if (version === "3") sheet.hash = parts[numbers] ?? "";
    return { ...sheet, name: parts.slice(numbers + (version === "3" ? 1 : 0)).join(",") };
  });
  const pic = version === "3" ? params.get("pic") : null;
  const picture = pic === null ? undefined
    : { hash: pic.slice(0, Math.max(0, pic.indexOf(","))), name: pic.slice(pic.indexOf(",") + 1) };
  return checkSetup({ background: params.get("bg"), picture, layers, sheets }, backgrounds);
}
