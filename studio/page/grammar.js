// The engine's script as the studio reads and prints it: through its
// WebAssembly module, with the previewer's own reader and printer, so that
// the two tools take and give one text.
//
//   parseScript(module, text, limits) gives
//     { ok: true, layers, sheets, calls, notes } or
//     { ok: false, line, column, error, reason, message }
//       error: "line N, column C: reason" where the reason names a
//       character (a full-width one in a call), else "line N: reason"
//       (line 0: the reason alone, for the script as a whole); message:
//       the whole error as the page's message { key, values } of the
//       script.* texts in the catalogs (lang/), whose English is error;
//     limits, if given, is { layers, particles }: the most handles with an
//     instance at once, and the most particles of all their Starts; the
//     first call beyond is refused by its line
//   printScript(module, { layers, sheets, picture }) gives the script text
//     (picture: { name, hash } or none), or
//     throws a StudioError (i18n.js) saying what in the setup cannot be
//     printed.
//
// A layer is { handle, width, height, base, count, rotation, type, numof,
// spawned, maxAmp, xSpeed, ySpeed, rate, started, hidden, comments }:
// numof is what the next Start spawns, spawned what the last one spawned
// (printing takes numof when it is missing), comments the author's own,
// without "//" (a comment in bytes that are not UTF-8 comes with U+FFFD in
// their place: the page itself reads text); a sheet is { base, count,
// name, columns, rows, cell, margin, spacing, hash? }. The module is the one
// createVeloraStudio gives. No DOM here: Node.js tests import this module.
import { msg, StudioError } from "./i18n.js";
import { LAYER_KEYS as SETUP_LAYER_KEYS, SHEET_KEYS as SETUP_SHEET_KEYS } from "./settings.js";

// The reader refuses a text longer than this many bytes; no more is copied
// into the module (every character is at least one byte).
const MAX_BYTES = 1 << 20;

// What the module's printer takes of a layer and a sheet: the setup's keys,
// with started and hidden in place of visible, what the last Start spawned,
// the author's comments, and the sheet's name and the hash of its file
// (when known).
const LAYER_KEYS = [...SETUP_LAYER_KEYS.filter((key) => key !== "visible"), "started", "hidden", "spawned", "comments"];
const SHEET_KEYS = [...SETUP_SHEET_KEYS, "name", "hash"];

// The values of the module's messages that are words, given by their key
// ("script.char.space"): put into words in the page's language.
const WORDS = new Set(["kind", "field"]);

// A message of the module's answer as the page's: { key, values }.
function moduleMessage(key, values = {}) {
  return msg(key, Object.fromEntries(Object.entries(values).map(([name, value]) =>
    [name, WORDS.has(name) ? msg(value) : value])));
}

// A refused script: the module's answer with the whole error as a message.
function refusal({ line, column = 0, error, reason, key, values }) {
  const because = moduleMessage(key, values);
  const message = line <= 0 ? because
    : column > 0 ? msg("script.at_column", { line, column, reason: because })
    : msg("script.at_line", { line, reason: because });
  return { ok: false, line, column, error, reason, message };
}

// Calls one of the module's script functions with a C string (the UTF-8
// of a text, or bytes as they are) and reads its JSON answer; short of
// memory for the string, throws a StudioError of memoryKey.
function call(module, fn, input, memoryKey) {
  const bytes = typeof input === "string" ? module.lengthBytesUTF8(input) : input.length;
  const pointer = module._malloc(bytes + 1);
  if (!pointer) throw new StudioError(memoryKey);
  try {
    if (typeof input === "string") {
      module.stringToUTF8(input, pointer, bytes + 1);
    } else {
      module.HEAPU8.set(input, pointer);
      module.HEAPU8[pointer + bytes] = 0;
    }
    return JSON.parse(module.UTF8ToString(fn(pointer)));
  } finally {
    module._free(pointer);
  }
}

function pick(object, keys) {
  return Object.fromEntries(keys.filter((key) => object[key] !== undefined).map((key) => [key, object[key]]));
}

// UTF-16 (Windows' "Unicode"): a byte-order mark, or ASCII with a NUL byte
// beside each character. The reader names it; its NULs must not reach it
// first.
function isUtf16(bytes) {
  const [a, b, c, d] = bytes;
  return (a === 0xff && b === 0xfe) || (a === 0xfe && b === 0xff) ||
    (bytes.length >= 4 && ((a !== 0 && b === 0 && c !== 0 && d === 0) || (a === 0 && b !== 0 && c === 0 && d !== 0)));
}

// text: a string, or the bytes of a script file (a Uint8Array), which are
// read exactly as the previewer reads the file.
export function parseScript(module, text, limits = {}) {
  const isBytes = text instanceof Uint8Array;
  let source = isBytes ? text : String(text);
  if (isBytes && isUtf16(source)) {
    const reason = "the script is saved as UTF-16: save it as UTF-8 or Shift_JIS (ANSI in Notepad)";
    return refusal({ line: 0, error: reason, reason, key: "script.utf16" });
  }
  if (source.length > MAX_BYTES) {
    // Too long whatever it holds: the reader says so.
    source = source.slice(0, MAX_BYTES + 1);
    source = isBytes ? source.map((byte) => byte || 32) : source.replaceAll("\0", " ");
  } else {
    // A C string ends at its first NUL, which would cut the script short.
    const nul = source.indexOf(isBytes ? 0 : "\0");
    if (nul >= 0) {
      const head = source.slice(0, nul);
      const line = 1 + (isBytes ? head.filter((byte) => byte === 10).length : head.split("\n").length - 1);
      const reason = "the line holds a NUL character (\\x00)";
      return refusal({ line, error: `line ${line}: ${reason}`, reason, key: "script.nul" });
    }
  }
  const most = (value) => (Number.isInteger(value) && value >= 0 ? Math.min(value, 2147483647) : -1);
  const within = (pointer) => module._velora_script_parse_within(pointer, most(limits.layers), most(limits.particles));
  const answer = call(module, within, source, "script.no_memory_read");
  return answer.ok ? answer : refusal(answer);
}

export function printScript(module, setup) {
  const layers = (setup.layers ?? []).map((layer) =>
    pick({ ...layer, hidden: layer.hidden ?? layer.visible === false }, LAYER_KEYS));
  const sheets = (setup.sheets ?? []).map((sheet) => pick(sheet, SHEET_KEYS));
  const picture = setup.picture ? { name: setup.picture.name, hash: setup.picture.hash ?? "" } : undefined;
  const setupText = JSON.stringify({ layers, sheets, picture });
  const answer = call(module, module._velora_script_print, setupText, "script.no_memory_print");
  if (!answer.ok) {
    const { key, values } = moduleMessage(answer.key, answer.values);
    throw new StudioError(key, values);
  }
  return answer.text;
}
