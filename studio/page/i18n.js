// The page's two languages: every text a person reads comes from a catalog
// (lang/en.js, lang/ja.js: the same keys in both), filled with named values.
// A message is { key, values }; a value may itself be a message, which is
// put into words first. Texts that are not the page's own (file names, the
// plug-in's messages, call names, script text) are values, never keys.
import en from "./lang/en.js";
import ja from "./lang/ja.js";

export const CATALOGS = { en, ja };
const LANGUAGES = Object.keys(CATALOGS);
const STORED = "drawvelora.language";

let current = "en";
const listeners = [];

// A message to be put into words in whatever language is chosen.
export function msg(key, values = {}) {
  return { key, values };
}

// An error that carries its message: its .message is the English text (for
// the console and the tests), the page shows it in the chosen language.
export class StudioError extends Error {
  constructor(key, values = {}) {
    super(format("en", key, values));
    this.key = key;
    this.values = values;
  }
}

// What an error says, as a message (an error of no catalog's: its text).
export function errorMessage(error) {
  return error instanceof StudioError ? msg(error.key, error.values) : String(error?.message ?? error);
}

// Each language's digit grouping and plural rules, made once.
const LOCALES = { en: "en-US", ja: "ja-JP" };
const groupers = {};
const pluralRules = {};
// A list of names ({ names: [...] }) as each language quotes and lists them.
const NAME_LISTS = {
  en: { quote: (name) => `"${name}"`, gap: ", " },
  ja: { quote: (name) => `「${name}」`, gap: "、" },
};

// Names (file names, say) as a value: each quoted, in a list.
export function names(list) {
  return { names: list };
}

// A value in words: a message is put into words, a number ("{n:count}")
// written with the language's digit grouping, anything else as it is.
function valueText(lang, value, style) {
  if (value && Array.isArray(value.names)) {
    const { quote, gap } = NAME_LISTS[lang] ?? NAME_LISTS.en;
    return value.names.map(quote).join(gap);
  }
  if (value && typeof value === "object") return text(value, lang);
  if (style === "count" && typeof value === "number") {
    groupers[lang] ??= new Intl.NumberFormat(LOCALES[lang], { maximumFractionDigits: 20 });
    return groupers[lang].format(value);
  }
  return String(value);
}

// The text of key in lang with its {name} (or {name:count}) places filled.
// A text given as { one, other } is chosen by the value "count"; a missing
// key or value is a fault of the page and throws.
export function format(lang, key, values = {}) {
  const catalog = CATALOGS[lang] ?? CATALOGS.en;
  let template = catalog[key];
  if (template === undefined) throw new Error(`no text "${key}" in the ${lang} catalog`);
  if (typeof template === "object") {
    pluralRules[lang] ??= new Intl.PluralRules(LOCALES[lang]);
    const rule = pluralRules[lang].select(Number(values.count));
    template = template[rule] ?? template.other;
  }
  return template.replace(/\{(\w+)(?::(\w+))?\}/g, (_, name, style) => {
    if (!(name in values)) throw new Error(`the text "${key}" needs the value {${name}}`);
    return valueText(lang, values[name], style);
  });
}

// Sentences in a row, each its own message: joined as the language joins
// sentences (English with a space; Japanese ends each with 。 and needs none).
const SENTENCE_GAP = { en: " ", ja: "" };

// A message (a plain string is shown as it is; a list is sentences in a
// row, nulls left out) in lang, the chosen language by default.
export function text(message, lang = current) {
  if (message === null || message === undefined) return "";
  if (typeof message === "string") return message;
  if (Array.isArray(message)) {
    return message.filter((part) => part !== null && part !== undefined && part !== "")
      .map((part) => text(part, lang)).join(SENTENCE_GAP[lang] ?? " ");
  }
  return format(lang, message.key, message.values);
}

// The language to start in: the one chosen before, else the first of the
// browser's languages that the studio speaks, else English.
export function pickLanguage(preferred = [], stored = null) {
  if (LANGUAGES.includes(stored)) return stored;
  for (const tag of preferred) {
    const primary = String(tag).toLowerCase().split("-")[0];
    if (LANGUAGES.includes(primary)) return primary;
  }
  return "en";
}

export function storedLanguage() {
  try {
    return localStorage.getItem(STORED);
  } catch {
    return null;  // storage refused (a private window, a locked-down file:// page)
  }
}

// Chooses the language (remembered when remember is set); <html lang> and
// every listener follow.
export function setLanguage(lang, { remember = false } = {}) {
  current = LANGUAGES.includes(lang) ? lang : "en";
  if (remember) {
    try {
      localStorage.setItem(STORED, current);
    } catch {
      // Not remembered; the page still switches.
    }
  }
  if (typeof document !== "undefined") document.documentElement.lang = current;
  for (const fn of listeners) fn(current);
}

// fn runs after every change of language.
export function onLanguage(fn) {
  listeners.push(fn);
}
