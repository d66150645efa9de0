// The page's small DOM helpers: elements by id, new elements, and texts that
// keep their message so that a change of language rewords them.
import { msg, onLanguage, text } from "./i18n.js";

export const $ = (id) => document.getElementById(id);

// A new element: make("li", { className: "missing" }, "text", child, ...).
export function make(tag, properties = {}, ...children) {
  const element = Object.assign(document.createElement(tag), properties);
  element.append(...children);
  return element;
}

const shown = new Map();  // element -> Map(attribute or "" for the text -> message)

function put(element, attribute, words) {
  if (attribute) element.setAttribute(attribute, words);
  else element.textContent = words;
}

// Shows message (a message, a list of them, a plain string, or null for
// nothing) as element's text, or as its attribute; again in the new words
// whenever the language changes. error: marks the line as an error (or not).
export function show(element, message, { error, attribute = "" } = {}) {
  if (error !== undefined) element.classList.toggle("field-error", error);
  const messages = shown.get(element) ?? new Map();
  if (message === null || message === undefined || message === "") messages.delete(attribute);
  else messages.set(attribute, message);
  if (messages.size) shown.set(element, messages);
  else shown.delete(element);
  put(element, attribute, text(message));
  if (shown.size > 1000) forgetRemoved();
}

// Elements no longer on the page need no rewording.
function forgetRemoved() {
  for (const element of shown.keys()) if (!element.isConnected) shown.delete(element);
}

// The page's fixed texts: an element with data-i18n="page.title" (a key) shows that
// message; data-i18n-title, data-i18n-aria-label, data-i18n-placeholder and
// data-i18n-empty (what an empty list shows) set those attributes.
const FIXED = { i18n: "", i18nTitle: "title", i18nAriaLabel: "aria-label", i18nPlaceholder: "placeholder",
  i18nEmpty: "data-empty" };

function wordFixed(root) {
  for (const [data, attribute] of Object.entries(FIXED)) {
    const name = `data-${data.replace(/[A-Z]/g, (c) => `-${c.toLowerCase()}`)}`;
    for (const element of root.querySelectorAll(`[${name}]`)) {
      put(element, attribute, text({ key: element.dataset[data], values: {} }));
    }
  }
}

onLanguage(() => {
  if (typeof document === "undefined") return;
  wordFixed(document);
  forgetRemoved();
  for (const [element, messages] of shown) {
    for (const [attribute, message] of messages) put(element, attribute, text(message));
  }
});

// Copies text, saying so in status. Without the clipboard (a page served
// from another machine than this one gets none) the text is selected in
// field (a text field given the text, or an element that shows it) and
// copied from there, or left selected for Ctrl+C.
export async function copyText(text, status, field) {
  try {
    if (!navigator.clipboard) throw new Error("no clipboard");
    await navigator.clipboard.writeText(text);
    show(status, msg("copy.done"));
  } catch {
    if ("value" in field) {
      field.hidden = false;
      field.value = text;
      field.focus();
      field.select();
    } else {
      const range = document.createRange();
      range.selectNodeContents(field);
      window.getSelection().removeAllRanges();
      window.getSelection().addRange(range);
    }
    show(status, msg(document.execCommand?.("copy") ? "copy.selectedAndCopied" : "copy.selected"));
  }
}
