// The studio page: runs the plug-in (velora_studio.wasm) the way the engine
// does, and lets an author tune it. Each layer is one effect handle with its
// own settings; the effect draws in its own thread (bridge.js, effect.js).
import * as bridge from "./bridge.js";
import { OPENING_LAYERS, state } from "./state.js";
import { changed, onChange, openFrame, provide } from "./layers.js";
import { showLayer, showRuns, wireControls } from "./controls.js";
import { showTabs, wireTabs } from "./tabs.js";
import { putSheets, showSheets, wireSheets } from "./sheet_panel.js";
import { showScript, wireScript } from "./script_panel.js";
import { useGrammar } from "./script.js";
import { readStartAddress, restoredText, scheduleAddress, wireSetup } from "./setup_panel.js";
import { addDebugMessage, describeStage, frameDrawn, holdClock, showWarnings, wireStage } from "./view.js";
import { wireRecording } from "./recording.js";

const $ = (id) => document.getElementById(id);

function fail(message) {
  $("readout").textContent = message;
  console.error(message);
}

function wirePage() {
  wireControls();
  wireTabs();
  wireSheets();
  wireScript();
  wireSetup();
  wireRecording();
  wireStage();
}

async function startStudio() {
  try {
    // The page reads and prints scripts with a module instance of its own,
    // made while the engine starts.
    const [, grammar] = await Promise.all([bridge.start($("stage"), {
      frame: frameDrawn,
      debug: addDebugMessage,
      opened: ({ ok, runs }) => {
        if (!ok) fail("The plug-in object could not be made (see the plug-in messages).");
        state.runs = runs;
        showRuns();
        showWarnings();
      },
      error: ({ message }) => console.error(`The effect's engine: ${message}`),
    }), bridge.createModule()]);
    useGrammar(grammar);
  } catch (error) {
    fail(`The plug-in failed to load (${error.message}): build the studio with \`cmake --workflow --preset web\`.`);
    return;
  }
  const restored = readStartAddress();
  if (restored) {
    $("background").value = restored.background;
    state.layers = restored.layers;
    state.sheets = restored.sheets.map((sheet) => ({ ...sheet, pixels: null, typed: { cell: true, margin: true, spacing: true } }));
  } else {
    state.layers = OPENING_LAYERS.map((settings, i) => ({ handle: i + 1, visible: true, width: 640, height: 480, ...settings }));
  }
  provide({ background: () => $("background").value, putSheets });
  onChange(showScript);
  onChange(showWarnings);
  onChange(describeStage);
  onChange(scheduleAddress);
  openFrame();
  state.selected = state.layers.length - 1;
  wirePage();
  showLayer();
  showTabs();
  showSheets();
  changed({ user: false });
  holdClock();
  if (restored) $("setup-status").textContent = restoredText();
}

startStudio();
