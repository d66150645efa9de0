// The studio page: runs the plug-in (velora_studio.wasm) the way the engine
// does, and lets an author tune it. Each layer is one effect handle with its
// own settings; the effect draws in its own thread (bridge.js, effect.js).
// This file makes the state, the layers and the panels, and hands each
// panel what it needs: no panel knows another.
import * as bridge from "./bridge.js";
import { $, show } from "./dom.js";
import { errorMessage, msg, onLanguage, pickLanguage, setLanguage, storedLanguage, text } from "./i18n.js";
import { createLayers, setBackground } from "./layers.js";
import { createLayerPanel } from "./layer_panel.js";
import { createMessagesPanel } from "./messages_panel.js";
import { createPicturePanel } from "./picture_panel.js";
import { createRecording } from "./recording.js";
import { useGrammar } from "./script.js";
import { createScriptPanel } from "./script_panel.js";
import { OPENING_LAYERS } from "./settings.js";
import { createSetupPanel } from "./setup_panel.js";
import { createSheetPanel } from "./sheet_panel.js";
import { createStagePanel } from "./stage_panel.js";
import { createState } from "./state.js";

const GUIDES = { en: "GUIDE.html", ja: "GUIDE.ja.html" };

// The language: the one chosen before, else the browser's; the switch
// remembers a new choice.
function startLanguage() {
  const chosen = pickLanguage(navigator.languages ?? [navigator.language], storedLanguage());
  onLanguage((lang) => {
    $("language").value = lang;
    $("guide-link").href = GUIDES[lang];
  });
  setLanguage(chosen);
  $("language").addEventListener("change", () => setLanguage($("language").value, { remember: true }));
}

async function startStudio() {
  startLanguage();
  const state = createState();
  const background = $("background");
  const messages = createMessagesPanel({ state });
  const panels = {};
  const layers = createLayers(state, {
    background: () => background.value,
    putPicture: () => panels.picture?.put(),
    putSheets: () => panels.sheets.putSheets(),
  });
  const fail = (message) => {
    show($("readout"), message);
    console.error(text(message, "en"));
  };
  if (bridge.lacksWebAssemblyFeatures()) {
    fail(msg("start.oldBrowser"));
    return;
  }
  try {
    // The page reads and prints scripts with a module instance of its own,
    // made while the engine starts.
    const [, grammar] = await Promise.all([bridge.start($("stage"), {
      frame: (frame) => panels.stage?.frameDrawn(frame),
      debug: messages.addDebugMessage,
      opened: ({ ok, runs }) => {
        if (!ok) fail(msg("start.noObject"));
        state.runs = runs;
        panels.layer?.showRuns();
        messages.showWarnings();
      },
      error: ({ message }) => console.error(`The effect's engine: ${message}`),
    }), bridge.createModule()]);
    useGrammar(grammar);
  } catch (error) {
    fail(msg("start.failed", { error: errorMessage(error) }));
    return;
  }

  // The colours chosen, then the author's picture over them when one is shown.
  function putBackground() {
    setBackground(background.value);
    panels.picture.put();
  }

  // What the setup names that the page does not hold (sheets, the picture):
  // messages, none or more.
  const stillMissing = () => [panels.sheets.missingSheets(), panels.picture.missing()].filter(Boolean);

  // Every layer replaced: a pasted script, a setup file, the address; the
  // background too where the setup names one (chosen: its colours; picture:
  // the picture it names, or null for none). Gives what to tell the user of
  // the sheets it names (clashes, sheets to load) and of its picture.
  function replaceLayers(list, sheets, chosen, picture) {
    if (chosen !== undefined) background.value = chosen;
    if (picture !== undefined) panels.picture.want(picture);
    if (chosen !== undefined || picture !== undefined) putBackground();
    layers.replaceAll(list);
    const { notes, fresh } = panels.sheets.mergeSheets(sheets);
    // A sheet moved off the named numbers leaves its sprites in the bank:
    // only a new host forgets them.
    if (fresh) layers.openFrame();
    else if (!layers.fitFrame()) state.layers.forEach(layers.initLayer);
    panels.layer.show();
    layers.changed();
    return [...notes, panels.picture.missing()].filter(Boolean);
  }

  panels.picture = createPicturePanel({ state, layers, putBackground });
  // Colours chosen take the place of the picture.
  const chooseColours = (value) => {
    panels.picture.want(null);
    setBackground(value);
  };
  panels.stage = createStagePanel({ state, layers, setBackground: chooseColours });
  panels.layer = createLayerPanel({ state, layers, showSheetFields: () => panels.sheets?.showFields() });
  panels.sheets = createSheetPanel({ state, layers, showLayer: panels.layer.show, showRuns: panels.layer.showRuns });
  panels.script = createScriptPanel({ state, replaceLayers });
  panels.setup = createSetupPanel({ state, background, replaceLayers });
  createRecording({ state });

  const restored = panels.setup.readStartAddress();
  if (restored) {
    background.value = restored.background;
    state.pictureWanted = restored.picture;
    state.layers = restored.layers;
    state.sheets = restored.sheets.map((sheet) => ({ ...sheet, pixels: null, typed: { cell: true, margin: true, spacing: true } }));
  } else {
    state.layers = OPENING_LAYERS.map((settings, i) => ({ handle: i + 1, visible: true, width: 640, height: 480, ...settings }));
  }
  layers.onChange(panels.script.show);
  layers.onChange(messages.showWarnings);
  layers.onChange(panels.stage.describe);
  layers.onChange(panels.setup.scheduleAddress);
  layers.openFrame();
  state.selected = state.layers.length - 1;
  panels.layer.show();
  panels.sheets.showSheets();
  panels.picture.describe();
  layers.changed({ user: false });
  panels.stage.holdClock();
  if (restored) panels.setup.restored(stillMissing());
}

startStudio();
