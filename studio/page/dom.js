// The page's small DOM helpers: elements by id, new elements, and status
// lines that keep their message so that a change of language rewords them.
import { onLanguage, text } from "./i18n.js";

export const $ = (id) => document.getElementById(id);

// A new element: make("li", { className: "missing" }, "text", child, ...).
export function make(tag, properties = {}, ...children) {
  const element = Object.assign(document.createElement(tag), properties);
  element.append(...children);
  return element;
}

const shown = new Map();  // element -> the message it shows

// Shows message (a { key, values } message, a plain string, or null for
// nothing) in element, again in the new words whenever the language changes.
// error: marks the line as an error.
export function show(element, message, { error } = {}) {
  if (error !== undefined) element.classList.toggle("field-error", error);
  if (message === null || message === undefined || message === "") {
    shown.delete(element);
    element.textContent = "";
    return;
  }
  shown.set(element, message);
  element.textContent = text(message);
}

onLanguage(() => {
  for (const [element, message] of shown) {
    if (element.isConnected) element.textContent = text(message);
    else shown.delete(element);
  }
});
