// The script: the engine's calls that make the studio's layers, written out
// (Copy) and read back (a pasted script), through the script grammar the
// previewer reads and prints too (grammar.js over the studio's WebAssembly
// module). The layers and sheets come in and go out as plain values.
import { parseScript, printScript as printWith } from "./grammar.js";
import { StudioError, msg } from "./i18n.js";
import { floatText, readNumber } from "./number_text.js";
import { DEFAULTS, INIT_FIELDS, KEY_OF_CALL, LIMITS, MAX_LAYERS, MAX_PARTICLES, overLimits } from "./settings.js";
import { checkPicture, checkSheet } from "./setup.js";

// The module instance the page reads and prints with (useGrammar).
let pageModule = null;

export function useGrammar(module) {
  pageModule = module;
}

function loadedModule() {
  if (!pageModule) throw new StudioError("paste.notLoaded");
  return pageModule;
}

// A reader of the grammar over module, refusing a script beyond the
// studio's limits at the call that goes past them: the text to
// { ok, layers, sheets, calls } or { ok: false, error, message }.
export function grammarReader(module) {
  return (text) => parseScript(module, text, { layers: MAX_LAYERS, particles: MAX_PARTICLES });
}

// The sheet whose numbers hold a layer's base sprite, if any.
export function sheetOf(sheets, layer) {
  return sheets.find((sheet) => layer.base >= sheet.base && layer.base < sheet.base + sheet.count);
}

// The script that makes the layers in their order, as Copy gives it. Only
// the sheets that hold a layer's sprites are named (a sheet still being
// cut may hold none yet); the picture behind the effect, where the setup
// names one, in its own comment.
export function printScript({ layers, sheets, pictureWanted }) {
  const named = sheets.filter((sheet) => layers.some((layer) => sheetOf([sheet], layer)));
  return printWith(loadedModule(), { layers, sheets: named, picture: pictureWanted });
}

// One number of a call, checked as the controls check it.
function checked(value, key, line) {
  const limits = LIMITS[key];
  const result = readNumber(String(value), limits.float ? { ...limits, min: -3.4e38, max: 3.4e38 } : limits);
  if (result.error) throw new StudioError("paste.badValue", { line, key, error: result.error });
  if (limits.float && (result.value < limits.min || result.value > limits.max)) {
    throw new StudioError("paste.outsideStudio", { line, key, value: String(value), min: limits.min, max: limits.max });
  }
  return limits.float ? Number(floatText(result.value)) : result.value;
}

// A script back into layers and sheets, read by parse (the page's reader
// by default): one layer per handle, in drawing order, with the setters'
// last values, whether Start ran and the author's comments; Release
// forgets a handle. Every value of every call is
// checked against the studio's ranges by its line, and the whole against
// its limits. Throws a StudioError ("line N: reason") otherwise.
export async function readScript(text, parse = grammarReader(loadedModule())) {
  const parsed = await parse(text);
  if (!parsed.ok) throw new StudioError("paste.refused", { error: parsed.message ?? parsed.error });
  const initLine = new Map();
  for (const call of parsed.calls) {
    checked(call.handle, "handle", call.line);
    if (call.op === "Init") {
      INIT_FIELDS.forEach((field, i) => checked(call.args[i], field.key, call.line));
      initLine.set(call.handle, call.line);
    } else if (KEY_OF_CALL[call.op]) {
      checked(call.args[0], KEY_OF_CALL[call.op], call.line);
    }
  }
  if (parsed.layers.length === 0) throw new StudioError("paste.noInit");
  const layers = parsed.layers.map((found) => {
    const layer = { ...DEFAULTS, handle: found.handle, visible: !found.hidden };
    for (const key of Object.keys(LIMITS)) {
      if (key !== "visible" && found[key] !== undefined) {
        layer[key] = checked(found[key], key, initLine.get(found.handle));
      }
    }
    // numof: what the next Start spawns (a SetNumof after the last Start
    // waits for it); spawned: what the last Start spawned.
    layer.started = found.started !== false;
    layer.spawned = layer.started ? checked(found.spawned ?? layer.numof, "numof", initLine.get(found.handle)) : 0;
    layer.comments = [...(found.comments ?? [])];
    return layer;
  });
  const over = overLimits(layers);
  if (over) throw new StudioError("paste.overLimits", { over });
  const sheets = (parsed.sheets ?? []).map((sheet, i) => checkSheet(sheet, msg("where.sheet", { number: i + 1 })));
  // A script without a picture comment leaves the background as it is.
  return { layers, sheets, picture: parsed.picture ? checkPicture(parsed.picture) : undefined };
}
