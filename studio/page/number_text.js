// Numbers as a script writes them and as a person types them.
import { msg } from "./i18n.js";

// The shortest decimal text that gives the same 32-bit float, which is what
// SetXSpeed and SetYSpeed receive.
export function floatText(value) {
  const f = Math.fround(value);
  for (let digits = 1; digits <= 9; ++digits) {
    const text = String(Number(f.toPrecision(digits)));
    if (Math.fround(Number(text)) === f) return text.includes(".") || text.includes("e") ? text : text + ".0";
  }
  return String(f);
}

// What a person types into a number field: any decimal text JavaScript
// reads as a number ("1e3", " 12 ", ".5"). Whole-number fields refuse a
// fraction, and every field refuses a value outside [min, max]: the result
// is { value } or { error } with the reason (a message).
export function readNumber(text, limits) {
  const trimmed = String(text).trim();
  if (trimmed === "") return { error: msg("number.empty") };
  const value = Number(trimmed);
  if (!Number.isFinite(value)) return { error: msg("number.notNumber", { text: trimmed }) };
  if (!limits.float && !Number.isInteger(value)) return { error: msg("number.notWhole", { text: trimmed }) };
  if (value < limits.min || value > limits.max) {
    return { error: msg("number.outside", { text: trimmed, min: limits.min, max: limits.max }) };
  }
  return { value: value === 0 ? 0 : value };
}
