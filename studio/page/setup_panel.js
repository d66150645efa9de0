// Save and share: the page's address follows the setup; Copy link, setup
// files saved and opened. A setup that cannot be read changes nothing, and
// a bad address stays as it was until the user changes something.
import { plural } from "./numbers.js";
import { state } from "./state.js";
import { readAddress, readSetupFile, setupAddress, setupValue } from "./setup.js";
import { setBackground } from "./layers.js";
import { replaceLayers } from "./tabs.js";
import { copyText } from "./script_panel.js";

const $ = (id) => document.getElementById(id);

export function backgrounds() {
  return Array.from($("background").options, (option) => option.value);
}

export function currentSetup() {
  return { background: $("background").value, layers: state.layers, sheets: state.sheets };
}

export function address() {
  return `#${setupAddress(currentSetup())}`;
}

let timer = 0;
// The address follows every change, a moment after the last one (a dragged
// slider would otherwise rewrite it many times a second).
export function scheduleAddress() {
  clearTimeout(timer);
  if (state.keepAddress) return;
  timer = setTimeout(() => {
    if (!state.keepAddress) history.replaceState(null, "", address());
  }, 250);
}

export function missingSheetsText() {
  const missing = state.sheets.filter((sheet) => !sheet.pixels).map((sheet) => `"${sheet.name}"`);
  return missing.length ? ` Load the sprite sheet${missing.length === 1 ? "" : "s"} ${missing.join(", ")} again.` : "";
}

function say(text, error) {
  const status = $("setup-status");
  status.className = error ? "field-error" : "";
  status.textContent = text;
}

// The setup in the address when the page opens, or null; a bad one is
// kept in the address and named.
export function readStartAddress() {
  if (location.hash.length <= 1) return null;
  try {
    return readAddress(location.hash.slice(1), backgrounds());
  } catch (error) {
    state.keepAddress = true;
    say(`The address holds a setup the studio cannot read (${error.message}); the opening scene is shown, ` +
      "and the address stays as it is until you change something.", true);
    return null;
  }
}

export function restoredText() {
  return `Restored ${plural(state.layers.length, "layer")} from the address.${missingSheetsText()}`;
}

async function openFile() {
  const file = $("open-setup").files[0];
  $("open-setup").value = "";
  if (!file) return;
  let restored;
  try {
    restored = readSetupFile(await file.text(), backgrounds());
  } catch (error) {
    say(`${file.name} not opened: ${error.message}. The layers are unchanged.`, true);
    return;
  }
  $("background").value = restored.background;
  setBackground(restored.background);
  replaceLayers(restored.layers, restored.sheets);
  say(`Opened ${file.name}: ${plural(restored.layers.length, "layer")}.${missingSheetsText()}`);
}

export function wireSetup() {
  $("copy-link").addEventListener("click", () => {
    state.keepAddress = false;
    history.replaceState(null, "", address());
    copyText(location.href, $("setup-status"), $("link-text"));
  });
  $("save-setup").addEventListener("click", () => {
    const blob = new Blob([JSON.stringify(setupValue(currentSetup()), null, 2) + "\n"], { type: "application/json" });
    const link = document.createElement("a");
    link.href = URL.createObjectURL(blob);
    link.download = "drawvelora-setup.json";
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
    say("Saved as drawvelora-setup.json.");
  });
  $("open-setup").addEventListener("change", openFile);
  window.addEventListener("hashchange", () => {
    if (location.hash === address()) return;
    try {
      const restored = readAddress(location.hash.slice(1), backgrounds());
      $("background").value = restored.background;
      setBackground(restored.background);
      replaceLayers(restored.layers, restored.sheets);
      say(restoredText());
    } catch (error) {
      state.keepAddress = true;
      clearTimeout(timer);
      say(`The address holds a setup the studio cannot read (${error.message}); the layers are unchanged.`, true);
    }
  });
}
