// Words of the studio page left in English: what a person reads on the page
// (its visible text, the page's title) and what a screen reader says for it
// (aria-label, title, alt, placeholder, a button's value, what an empty
// list shows), outside the subtrees marked translate="no" (the plug-in's
// messages, call names, script text, the names of the languages) and
// outside hidden ones.
//
//   const found = englishWords(await page.evaluate(pageTexts));
//   // [{ where: "#pause", text: "Pause", words: ["Pause"] }, ...]

// Runs in the page (pass it to evaluate): every piece of text with where it is.
export function pageTexts() {
  // (data-empty: what an empty list shows, through the stylesheet)
  const NAMES = ["aria-label", "title", "alt", "placeholder", "data-empty"];
  const where = (element) => {
    const named = element.closest("[id]");
    const tag = element.tagName.toLowerCase();
    return named === element ? `#${element.id}` : `${named ? `#${named.id} ` : ""}${tag}`;
  };
  // translate="no" is inherited (element.translate), hidden subtrees are not shown.
  const skipped = (element) => !element.translate || element.closest("[hidden], script, style, template, noscript");
  const found = [{ where: "title", text: document.title }];
  const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
  for (let node = walker.nextNode(); node; node = walker.nextNode()) {
    const element = node.parentElement;
    if (element && !skipped(element) && node.textContent.trim()) found.push({ where: where(element), text: node.textContent.trim() });
  }
  for (const element of document.body.querySelectorAll("*")) {
    if (skipped(element)) continue;
    for (const name of NAMES) {
      if (element.getAttribute(name)?.trim()) found.push({ where: `${where(element)} [${name}]`, text: element.getAttribute(name) });
    }
    if (element.matches("input[type=button], input[type=submit], input[type=reset]") && element.value) {
      found.push({ where: `${where(element)} [value]`, text: element.value });
    }
  }
  return found;
}

// What stays as it is in a Japanese page: units; the script's own words,
// which a script is written in whatever the language (its calls, and numof,
// which the controls name); names written as code or acronyms, recognised by
// their capitals (DrawVelora, SetType, BlendRect, maxAmp, WebM, PNG, JSON);
// and file names ("petals.png", "drawvelora.webm"), which are the user's.
const KEPT = new Set(["px", "fps", "ms", "Init", "Start", "Release", "Draw", "numof"]);
const FILE_NAME = /[\w.-]+\.[A-Za-z0-9]{2,5}\b/g;

function isCode(word) {
  return /[a-z][A-Z]/.test(word) || /^[A-Z0-9]+$/.test(word);
}

// The texts that hold English words, each with its words.
export function englishWords(texts) {
  return texts.map(({ where, text }) => ({
    where,
    text,
    words: (text.replace(FILE_NAME, " ").match(/[A-Za-z][A-Za-z']+/g) ?? [])
      .filter((word) => !KEPT.has(word) && !isCode(word)),
  })).filter(({ words }) => words.length > 0);
}
