// Numbers as a script writes them and as a person types them.

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
// is { value } or { error } with the reason.
export function readNumber(text, limits) {
  const trimmed = String(text).trim();
  if (trimmed === "") return { error: "enter a number" };
  const value = Number(trimmed);
  if (!Number.isFinite(value)) return { error: `"${trimmed}" is not a number` };
  if (!limits.float && !Number.isInteger(value)) return { error: `${trimmed} is not a whole number` };
  if (value < limits.min || value > limits.max) {
    return { error: `${trimmed} is outside ${limits.min} to ${limits.max}` };
  }
  return { value: value === 0 ? 0 : value };
}

// "1 sprite", "2 sprites".
export function plural(count, word) {
  return `${count} ${word}${count === 1 ? "" : "s"}`;
}

// 100000 as "100 000".
export function grouped(value) {
  return String(value).replace(/\B(?=(\d{3})+(?!\d))/g, " ");
}
