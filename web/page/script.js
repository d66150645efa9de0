// The script: the engine's calls that make the studio's layers, written out
// (Copy) and read back (a pasted script). Pure: the layers and sheets come
// in and go out as plain values.
import { floatText, readNumber } from "./numbers.js";
import { DEFAULTS, INIT_FIELDS, LAYER_LIMITS, overLimits } from "./state.js";
import { checkSheet } from "./setup.js";
import { parseCalls } from "./script_reader.js";

// The grammar's reader: the text to { ok, layers, sheets, calls } or
// { ok: false, line, error }. The one place that knows which reader it is.
export async function parseGrammar(text) {
  return parseCalls(text);
}

// The sheet whose numbers hold a layer's base sprite, if any.
export function sheetOf(sheets, layer) {
  return sheets.find((sheet) => layer.base >= sheet.base && layer.base < sheet.base + sheet.count);
}

// A sheet named in the script: a comment line, which a script runner skips.
export function sheetComment(sheet) {
  const grid = (sheet.margin ? `, margin ${sheet.margin}` : "") + (sheet.spacing ? `, spacing ${sheet.spacing}` : "");
  return `// sprites ${sheet.base}-${sheet.base + sheet.count - 1}: sheet "${sheet.name}", ` +
    `${sheet.columns} x ${sheet.rows} cells of ${sheet.cell} x ${sheet.cell} px${grid}, row by row`;
}

export function printScript({ layers, sheets }) {
  const lines = [
    `// DrawVelora: ${layers.length} layer${layers.length === 1 ? "" : "s"}, drawn in this order every frame`,
  ];
  layers.forEach((layer, index) => {
    const h = layer.handle;
    const place = layers.length === 1 ? "" : index === 0 ? " (drawn first, furthest back)"
      : index === layers.length - 1 ? " (drawn last, in front)" : "";
    lines.push("");
    lines.push(`// Layer ${index + 1}, handle ${h}${place}${layer.visible ? "" : " (hidden in the studio)"}`);
    const sheet = sheetOf(sheets, layer);
    if (sheet) lines.push(sheetComment(sheet));
    lines.push(`Init(${h}, ${layer.width}, ${layer.height}, ${layer.base}, ${layer.count}, ${layer.rotation});`);
    lines.push(`SetType(${h}, ${layer.type});`);
    lines.push(`SetNumof(${h}, ${layer.numof});`);
    lines.push(`SetMaxAmp(${h}, ${layer.maxAmp});`);
    lines.push(`SetXSpeed(${h}, ${floatText(layer.xSpeed)});`);
    lines.push(`SetYSpeed(${h}, ${floatText(layer.ySpeed)});`);
    lines.push(`Start(${h});`);
    lines.push(`// the engine draws handle ${h} with rate ${layer.rate} each frame`);
  });
  return lines.join("\n") + "\n";
}

// The value a call sets, by the call's name.
const SETTERS = { SetType: "type", SetNumof: "numof", SetMaxAmp: "maxAmp", SetXSpeed: "xSpeed", SetYSpeed: "ySpeed",
  Draw: "rate" };

// One number of a call, checked as the controls check it.
function checked(value, key, line) {
  const limits = LAYER_LIMITS[key];
  const result = readNumber(String(value), limits.float ? { ...limits, min: -3.4e38, max: 3.4e38 } : limits);
  if (result.error) throw new Error(`line ${line}: ${key} ${result.error}`);
  if (limits.float && (result.value < limits.min || result.value > limits.max)) {
    throw new Error(`line ${line}: ${key} ${value} is outside the studio's ${limits.min} to ${limits.max}`);
  }
  return limits.float ? Number(floatText(result.value)) : result.value;
}

// A script back into layers and sheets: one layer per handle, in the order
// of the first Init of each, with the setters' last values; Release forgets
// a handle. Every value is checked against the studio's ranges, and the
// whole against its limits. Throws an Error ("line N: reason") otherwise.
export async function readScript(text, parse = parseGrammar) {
  const parsed = await parse(text);
  if (!parsed.ok) throw new Error(`line ${parsed.line}: ${parsed.error}`);
  const initLine = new Map();
  for (const call of parsed.calls) {
    checked(call.handle, "handle", call.line);
    // The values after the handle (a reader may list the handle first).
    const values = call.args.length > (call.op === "Init" ? INIT_FIELDS.length : 1) ? call.args.slice(1) : call.args;
    if (call.op === "Init") {
      INIT_FIELDS.forEach((field, i) => checked(values[i], field.key, call.line));
      if (!initLine.has(call.handle)) initLine.set(call.handle, call.line);
    } else if (SETTERS[call.op]) {
      checked(values[0], SETTERS[call.op], call.line);
    }
  }
  if (parsed.layers.length === 0) throw new Error("no Init in the script: nothing to rebuild");
  const layers = parsed.layers.map((found) => {
    const layer = { ...DEFAULTS, handle: found.handle, visible: !found.hidden };
    for (const key of Object.keys(LAYER_LIMITS)) {
      if (key !== "visible" && found[key] !== undefined) {
        layer[key] = checked(found[key], key, initLine.get(found.handle) ?? 1);
      }
    }
    return layer;
  });
  const over = overLimits(layers);
  if (over) throw new Error(`the script makes ${over}`);
  const sheets = (parsed.sheets ?? []).map((sheet, i) => checkSheet(sheet, `sheet ${i + 1}`));
  return { layers, sheets };
}
