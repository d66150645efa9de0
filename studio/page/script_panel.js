// The script panel: the calls that make the layers, kept up to date and
// copied, and a pasted script read back into layers.
import { $, copyText, show } from "./dom.js";
import { errorMessage, msg } from "./i18n.js";
import { printScript, readScript } from "./script.js";

// state: the studio's state; replaceLayers(layers, sheets): puts a new set
// of layers in place of the old, and gives what to tell of its sheets.
export function createScriptPanel({ state, replaceLayers }) {
  const script = $("script");
  let reading = false;

  // The script, or why it cannot be written (a sheet's name that no comment
  // can hold, such as one with a line break).
  function showScript() {
    try {
      show(script, printScript(state));
      script.translate = false;
    } catch (error) {
      show(script, msg("script.cannotWrite", { error: errorMessage(error) }));
      script.translate = true;
    }
  }

  function copyScript() {
    let text;
    try {
      text = printScript(state);
    } catch (error) {
      show($("copy-status"), msg("copy.notCopied", { error: errorMessage(error) }));
      return;
    }
    copyText(text, $("copy-status"), script);
  }

  async function pasteScript() {
    const status = $("paste-status");
    if (reading) return;
    reading = true;
    show(status, msg("paste.reading"), { error: false });
    try {
      const read = await readScript($("paste-script").value);
      const notes = replaceLayers(read.layers, read.sheets, undefined, read.picture);
      show(status, [msg("paste.rebuilt", { count: read.layers.length }), ...notes]);
    } catch (error) {
      show(status, msg("paste.notRebuilt", { error: errorMessage(error) }), { error: true });
    } finally {
      reading = false;
    }
  }

  $("copy-script").addEventListener("click", copyScript);
  $("paste-apply").addEventListener("click", pasteScript);
  return { show: showScript };
}
