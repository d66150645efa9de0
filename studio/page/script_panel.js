// The script on the page: the calls that make the layers, kept up to date,
// copied, and a pasted script read back into layers.
import { printScript, readScript } from "./script.js";
import { plural } from "./numbers.js";
import { state } from "./state.js";
import { replaceLayers } from "./tabs.js";

const $ = (id) => document.getElementById(id);

export function scriptText() {
  return printScript(state);
}

// The script, or why it cannot be written (a sheet's name that no comment
// can hold, such as one with a line break).
export function showScript() {
  try {
    $("script").textContent = scriptText();
  } catch (error) {
    $("script").textContent = `// The script cannot be written: ${error.message}.`;
  }
}

function copyScript() {
  let text;
  try {
    text = scriptText();
  } catch (error) {
    $("copy-status").textContent = `Not copied: ${error.message}.`;
    return;
  }
  copyText(text, $("copy-status"), $("script"));
}

// Copies text. Without the clipboard (a page served from another machine
// than this one gets none) the text is selected in field (a text field
// given the text, or an element that shows it) and copied from there, or
// left selected for Ctrl+C.
export async function copyText(text, status, field) {
  try {
    if (!navigator.clipboard) throw new Error("no clipboard");
    await navigator.clipboard.writeText(text);
    status.textContent = "Copied.";
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
    status.textContent = document.execCommand?.("copy") ? "Copied (and selected)." : "Selected: press Ctrl+C (or ⌘C) to copy.";
  }
}

let reading = false;

async function pasteScript() {
  const status = $("paste-status");
  if (reading) return;
  reading = true;
  status.className = "";
  status.textContent = "Reading the script…";
  try {
    const read = await readScript($("paste-script").value);
    replaceLayers(read.layers, read.sheets);
    status.textContent = `Rebuilt ${plural(read.layers.length, "layer")} from the script.`;
  } catch (error) {
    status.className = "field-error";
    status.textContent = `Not rebuilt: ${error.message}. The layers are unchanged.`;
  } finally {
    reading = false;
  }
}

export function wireScript() {
  $("copy-script").addEventListener("click", copyScript);
  $("paste-apply").addEventListener("click", pasteScript);
}
