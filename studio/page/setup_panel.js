// The save and share panel: the page's address follows the setup; Copy
// link, setup files saved and opened. A setup that cannot be read changes
// nothing, and a bad address stays as it was until the user changes
// something.
import { $, copyText, show } from "./dom.js";
import { errorMessage, msg } from "./i18n.js";
import { readAddress, readSetupFile, setupAddress, setupFileText, setupValue } from "./setup.js";

const FILE_NAME = "drawvelora-setup.json";

// state: the studio's state; background: the background control;
// replaceLayers(layers, sheets, background): puts a restored setup in
// place of the current one, and gives what to tell of its sheets and picture.
export function createSetupPanel({ state, background, replaceLayers }) {
  const status = $("setup-status");
  let timer = 0;

  const backgrounds = () => Array.from(background.options, (option) => option.value);
  const currentSetup = () => ({ background: background.value, picture: state.pictureWanted, layers: state.layers,
    sheets: state.sheets });
  const address = () => `#${setupAddress(currentSetup())}`;

  function say(message, error = false) {
    show(status, message, { error });
  }

  async function openFile() {
    const file = $("open-setup").files[0];
    $("open-setup").value = "";
    if (!file) return;
    let restored;
    try {
      restored = readSetupFile(setupFileText(await file.arrayBuffer()), backgrounds());
    } catch (error) {
      say(msg("setup.notOpened", { name: file.name, error: errorMessage(error) }), true);
      return;
    }
    const notes = replaceLayers(restored.layers, restored.sheets, restored.background, restored.picture);
    say([msg("setup.opened", { name: file.name, count: restored.layers.length }), ...notes]);
  }

  function wire() {
    $("copy-link").addEventListener("click", () => {
      state.keepAddress = false;
      history.replaceState(null, "", address());
      copyText(location.href, status, $("link-text"));
    });
    $("save-setup").addEventListener("click", () => {
      const blob = new Blob([JSON.stringify(setupValue(currentSetup()), null, 2) + "\n"], { type: "application/json" });
      const link = document.createElement("a");
      link.href = URL.createObjectURL(blob);
      link.download = FILE_NAME;
      document.body.appendChild(link);
      link.click();
      link.remove();
      setTimeout(() => URL.revokeObjectURL(link.href), 10000);
      say(msg("setup.saved", { name: FILE_NAME }));
    });
    $("open-setup").addEventListener("change", openFile);
    window.addEventListener("hashchange", () => {
      if (location.hash === address()) return;
      try {
        const restored = readAddress(location.hash.slice(1), backgrounds());
        const notes = replaceLayers(restored.layers, restored.sheets, restored.background, restored.picture);
        say([msg("address.restored", { count: state.layers.length }), ...notes]);
      } catch (error) {
        state.keepAddress = true;
        clearTimeout(timer);
        say(msg("address.unreadable", { error: errorMessage(error) }), true);
      }
    });
  }

  wire();
  return {
    // The address follows every change, a moment after the last one (a
    // dragged slider would otherwise rewrite it many times a second).
    scheduleAddress() {
      clearTimeout(timer);
      if (state.keepAddress) return;
      timer = setTimeout(() => {
        if (!state.keepAddress) history.replaceState(null, "", address());
      }, 250);
    },
    // The setup in the address when the page opens, or null; a bad one is
    // kept in the address and named.
    readStartAddress() {
      if (location.hash.length <= 1) return null;
      try {
        return readAddress(location.hash.slice(1), backgrounds());
      } catch (error) {
        state.keepAddress = true;
        say(msg("address.unreadableStart", { error: errorMessage(error) }), true);
        return null;
      }
    },
    // Says that the setup came from the address, and what it names that is
    // still to load (messages, none or more).
    restored(missing) {
      say([msg("address.restored", { count: state.layers.length }), ...missing]);
    },
  };
}
