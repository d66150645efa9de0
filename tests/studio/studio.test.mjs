// End-to-end tests of the studio page in Debian's headless Chromium.
//
// run_browser_tests.py serves the built page and sets STUDIO_URL, STUDIO_WORK
// (where `npm ci` put playwright-core; the screenshot goes there too) and
// CHROMIUM. The tests share one page and run in order, as an author would
// use it: look, change numof and restart, try the modes, read the script,
// drop sprite sheets, add a layer, meet the warnings, reload, save and open,
// paste a script, use a phone-sized window and the keyboard, record.
import { after, before, test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import path from "node:path";

const url = process.env.STUDIO_URL;
const work = process.env.STUDIO_WORK;
const chromiumPath = process.env.CHROMIUM || "/usr/bin/chromium";
const preview = process.env.VELORA_PREVIEW;  // the previewer, when it is built
const sources = path.join(path.dirname(new URL(import.meta.url).pathname), "..", "..");
if (!url || !work) throw new Error("run through run_browser_tests.py (STUDIO_URL and STUDIO_WORK unset)");
const { chromium } = createRequire(path.join(work, "package.json"))("playwright-core");

const SCREENSHOT = path.join(work, "studio.png");
const WIDTH = 640;
const HEIGHT = 480;

let profile;
let context;
let page;
const problems = [];  // console errors and warnings, page errors, failed requests
const logs = [];      // other console messages

before(async () => {
  profile = mkdtempSync(path.join(tmpdir(), "velora-chromium-"));
  context = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath,
    headless: true,
    // studio.test: the studio served under a name other than localhost.
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--host-resolver-rules=MAP studio.test 127.0.0.1",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
    viewport: { width: 1280, height: 1040 },
  });
  await context.grantPermissions(["clipboard-read", "clipboard-write"], { origin: new URL(url).origin });
  page = context.pages()[0] ?? (await context.newPage());
  page.on("console", (message) => {
    const line = `${message.type()}: ${message.text()}`;
    (message.type() === "error" || message.type() === "warning" ? problems : logs).push(line);
  });
  page.on("pageerror", (error) => problems.push(`page error: ${error.message}`));
  page.on("requestfailed", (request) => problems.push(`request failed: ${request.url()}`));
  await page.goto(url);
  await waitFrames(5);
});

after(async () => {
  await context?.close();
  if (profile) rmSync(profile, { recursive: true, force: true });
});

// ---- Helpers -------------------------------------------------------------------

async function frames() {
  return Number(await page.getAttribute("#stage", "data-frames"));
}

async function waitFrames(count) {
  const target = (await frames().catch(() => 0)) + count;
  await page.waitForFunction((n) => Number(document.getElementById("stage")?.dataset.frames) >= n, target,
    { timeout: 30000 });
}

// Waits until the effect's engine has handled everything the page sent it
// (and the page has every frame it drew before): a copy of the frame.
async function settle() {
  await page.evaluate(async () => { await (await import("/bridge.js")).snapshot(); });
}

// The size of the frame the engine draws, and the one the page names.
async function frameSize() {
  const [engine, named] = await page.evaluate(async () => {
    const frame = await (await import("/bridge.js")).snapshot();
    const { width, height } = document.getElementById("stage").dataset;
    return [[frame.width, frame.height], [Number(width), Number(height)]];
  });
  assert.deepEqual(named, engine);
  return engine;
}

async function layerDrawCalls() {
  await settle();
  const text = await page.getAttribute("#stage", "data-layer-draw-calls");
  return text.split(",").map(Number);
}

// The drawing calls of one layer over `count` frames: the smallest and largest.
async function layerCallRange(index, count) {
  let low = Infinity;
  let high = -Infinity;
  for (let i = 0; i < count; ++i) {
    await waitFrames(1);
    const calls = (await layerDrawCalls())[index];
    low = Math.min(low, calls);
    high = Math.max(high, calls);
  }
  return { low, high };
}

// The frame's pixels as the effect's engine drew them, once it has handled
// every change made before.
const READ_FRAME = `(async () => (await (await import("/bridge.js")).snapshot()).pixels)()`;

// The canvas's pixels as the page shows them, read through a copy made for
// reading (reading the page's own canvas back again and again would make
// Chromium warn).
const READ_STAGE = `(() => {
  const stage = document.getElementById("stage");
  if (!window.testReader) {
    const canvas = document.createElement("canvas");
    canvas.width = stage.width;
    canvas.height = stage.height;
    window.testReader = canvas.getContext("2d", { willReadFrequently: true });
  }
  window.testReader.drawImage(stage, 0, 0);
  return window.testReader.getImageData(0, 0, stage.width, stage.height).data;
})()`;

// Keeps a copy of the frame's pixels in the page under name (from the
// canvas itself: onCanvas).
async function shot(name, onCanvas = false) {
  await page.evaluate(`(async () => { (window.testShots ??= {})[${JSON.stringify(name)}] = await ${onCanvas ? READ_STAGE : READ_FRAME}; })()`);
}

// Chooses the sprite run whose label begins with prefix.
async function selectRun(prefix) {
  const value = await page.$eval("#layer-run", (select, start) =>
    Array.from(select.options).find((option) => option.text.startsWith(start))?.value, prefix);
  assert.ok(value !== undefined, `no sprite run "${prefix}"`);
  await page.selectOption("#layer-run", value);
}

// Compares shot b with shot a: pixels that differ, that are brighter or
// darker in some channel, and differing pixels outside the box [0, w) x [0, h).
async function compare(a, b, box = { w: WIDTH, h: HEIGHT }) {
  return page.evaluate(([first, second, w, h, width]) => {
    const p = window.testShots[first];
    const q = window.testShots[second];
    const result = { differ: 0, brighter: 0, darker: 0, outside: 0 };
    for (let i = 0; i < p.length; i += 4) {
      let differ = false;
      for (let c = 0; c < 3; ++c) {
        if (q[i + c] > p[i + c]) { result.brighter++; differ = true; }
        if (q[i + c] < p[i + c]) { result.darker++; differ = true; }
      }
      if (differ) {
        result.differ++;
        const x = (i / 4) % width;
        const y = Math.floor(i / 4 / width);
        if (x >= w || y >= h) result.outside++;
      }
    }
    return result;
  }, [a, b, box.w, box.h, WIDTH]);
}

async function selectLayer(number) {
  await page.click(`#layer-tabs button:nth-child(${number})`);
}

// A number that a setter applies as soon as it is typed.
async function typeNumber(id, value) {
  await page.fill(`#${id}`, String(value));
}

// A number that needs a fresh Init: applied when the field is committed.
async function commitNumber(id, value) {
  await page.fill(`#${id}`, String(value));
  await page.dispatchEvent(`#${id}`, "change");
}

// Polls a condition of the test's own (console messages arrive a little later).
async function eventually(condition, what) {
  for (let i = 0; i < 100 && !condition(); ++i) await new Promise((resolve) => setTimeout(resolve, 50));
  assert.ok(condition(), what);
}

// Runs body with only layer 2 drawn and the studio paused, then resumes and
// shows layer 1 again, whatever body did. While paused a change draws one
// frame with the clock standing still.
async function pausedWithLayer2Only(body) {
  await selectLayer(1);
  await page.uncheck("#layer-visible");
  await selectLayer(2);
  assert.equal(await page.textContent("#pause"), "Pause");
  await page.click("#pause");
  try {
    await body();
  } finally {
    await page.click("#pause");
    await selectLayer(1);
    await page.check("#layer-visible");
    await selectLayer(2);
  }
}

async function pausedWithLayer1Only(body) {
  await selectLayer(2);
  await page.uncheck("#layer-visible");
  await page.click("#pause");
  try {
    await body();
  } finally {
    await page.click("#pause");
    await page.check("#layer-visible");
  }
}

async function scriptText() {
  return page.textContent("#script");
}

// Drops a PNG sprite sheet made in the page on `on` (the drop zone unless
// said) of target (the session's page unless another is given): cells of
// `cell` px in `columns` x `rows`, each filled with colours[i %
// colours.length], as a full square (opaque sheet) or as a disc on a
// transparent ground. Returns when the sheet's status names it.
async function dropSheet(name, { cell, columns, rows, colours, disc = false, extra = 0, margin = 0, spacing = 0,
  on = "#drop-zone" }, target = page) {
  await target.evaluate(async ([name, cell, columns, rows, colours, disc, extra, margin, spacing, on]) => {
    const canvas = document.createElement("canvas");
    canvas.width = cell * columns + extra + 2 * margin + (columns - 1) * spacing;
    canvas.height = cell * rows + extra + 2 * margin + (rows - 1) * spacing;
    const context = canvas.getContext("2d");
    for (let i = 0; i < columns * rows; ++i) {
      const x = margin + (i % columns) * (cell + spacing);
      const y = margin + Math.floor(i / columns) * (cell + spacing);
      context.fillStyle = colours[i % colours.length];
      if (disc) {
        context.beginPath();
        context.arc(x + cell / 2, y + cell / 2, cell * 0.4, 0, 2 * Math.PI);
        context.fill();
      } else {
        context.fillRect(x, y, cell, cell);
      }
    }
    const blob = await new Promise((resolve) => canvas.toBlob(resolve, "image/png"));
    const transfer = new DataTransfer();
    transfer.items.add(new File([blob], name, { type: "image/png" }));
    document.querySelector(on).dispatchEvent(new DragEvent("drop", { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, [name, cell, columns, rows, colours, disc, extra, margin, spacing, on]);
  await target.waitForFunction((n) => document.getElementById("sheet-status").textContent.startsWith(n), name);
}

// Pixels of the shot `name` that have exactly one of the colours [r, g, b].
async function countColours(name, colours) {
  return page.evaluate(([name, colours]) => {
    const data = window.testShots[name];
    let count = 0;
    for (let i = 0; i < data.length; i += 4) {
      if (colours.some(([r, g, b]) => data[i] === r && data[i + 1] === g && data[i + 2] === b)) count++;
    }
    return count;
  }, [name, colours]);
}

async function warningKinds() {
  return page.$$eval("#warnings li", (items) => items.map((item) => `${item.dataset.layer}:${item.dataset.kind}`));
}

// ---- Tests ---------------------------------------------------------------------

test("the page loads the plug-in and draws both opening layers, with no console error", async () => {
  await waitFrames(60);
  const [behind, front] = await layerDrawCalls();
  // 70 small and 22 large petals; a few may be just outside the field.
  assert.ok(behind > 50 && behind <= 70, `layer 1 drew ${behind} sprites`);
  assert.ok(front > 14 && front <= 22, `layer 2 drew ${front} sprites`);
  const readout = await page.textContent("#readout");
  assert.match(readout, /Frame \d+\.\d\d ms of work · every \d+\.\d ms \(\d+ fps\) · \d+ drawing calls/);
  await page.screenshot({ path: SCREENSHOT, fullPage: true });
  assert.deepEqual(problems, []);
});

test("the canvas changes from frame to frame", async () => {
  await shot("before", true);
  await waitFrames(6);
  await shot("after", true);
  const { differ } = await compare("before", "after");
  assert.ok(differ > 500, `only ${differ} pixels changed`);
});

test("numof applies at the next Start, and Restart spawns that many", async () => {
  await selectLayer(2);
  await typeNumber("layer-numof", 5);
  // The running particles stay until the next Start, as in the engine.
  const unchanged = await layerCallRange(1, 5);
  assert.ok(unchanged.low > 5, `the count changed before Restart: ${unchanged.low}`);
  assert.match(await page.textContent("#restart-hint"), /numof 5 applies at the next Start/);

  await page.click("#restart");
  const few = await layerCallRange(1, 10);
  assert.ok(few.high <= 5 && few.high >= 1, `after Restart with numof 5: ${few.low} to ${few.high} sprites`);
  assert.equal(await page.textContent("#restart-hint"), "");

  await typeNumber("layer-numof", 40);
  await page.click("#restart");
  const many = await layerCallRange(1, 10);
  assert.ok(many.high > 22 && many.high <= 40, `after Restart with numof 40: up to ${many.high} sprites`);
});

test("each drawing mode renders differently, and the same mode the same", async () => {
  // Only layer 2, standing still on grey: maxAmp 0 and a paused clock leave
  // every particle where it is, so frames differ only by the mode.
  await selectLayer(2);
  await typeNumber("layer-maxamp", 0);
  await typeNumber("layer-rate", 128);
  await page.selectOption("#background", "808080,808080");
  await pausedWithLayer2Only(checkModes);
  await page.selectOption("#background", "141a3c,6a4c78");
  await typeNumber("layer-maxamp", 60);
  await typeNumber("layer-rate", 255);
});

async function checkModes() {
  // The frame drawn on pausing still moved by the time since the one before;
  // from here on the clock stands still.
  await page.selectOption("#layer-type", "4");
  await shot("nothing");
  assert.deepEqual(await layerDrawCalls(), [0, 0]);
  for (const mode of ["0", "1", "2", "3"]) {
    await page.selectOption("#layer-type", mode);
    assert.ok((await layerDrawCalls())[1] > 20, `mode ${mode} drew too few sprites`);
    await shot(`mode${mode}`);
  }
  await page.selectOption("#layer-type", "0");
  await shot("mode0again");

  assert.equal((await compare("mode0", "mode0again")).differ, 0, "a paused frame is not repeatable");
  const modes = ["0", "1", "2", "3"];
  for (let i = 0; i < modes.length; ++i) {
    for (let j = i + 1; j < modes.length; ++j) {
      const { differ } = await compare(`mode${modes[i]}`, `mode${modes[j]}`);
      assert.ok(differ > 1000, `modes ${modes[i]} and ${modes[j]} differ in only ${differ} pixels`);
    }
  }
  // Against the bare grey: additive only brightens, multiply only darkens,
  // the blend of pale petals brightens and the faded copy darkens.
  const additive = await compare("nothing", "mode1");
  assert.ok(additive.brighter > 0 && additive.darker === 0, JSON.stringify(additive));
  const multiply = await compare("nothing", "mode3");
  assert.ok(multiply.darker > 0 && multiply.brighter === 0, JSON.stringify(multiply));
  assert.ok((await compare("nothing", "mode0")).brighter > 0);
  assert.ok((await compare("nothing", "mode2")).darker > 0);
}

test("the script text matches the controls, and Copy puts it on the clipboard", async () => {
  await selectLayer(2);
  await page.selectOption("#layer-type", "2");
  await typeNumber("layer-numof", 33);
  await typeNumber("layer-maxamp", 12);
  await typeNumber("layer-xspeed", 0.75);
  await typeNumber("layer-yspeed", 1.25);
  await typeNumber("layer-rate", 99);
  await commitNumber("layer-width", 320);
  await commitNumber("layer-height", 240);
  await selectRun("Petals, small");

  const expected = [
    "Init(1, 640, 480, 32, 32, 4);", "SetType(1, 0);", "SetNumof(1, 70);", "SetMaxAmp(1, 25);",
    "SetXSpeed(1, 0.6);", "SetYSpeed(1, 0.45);", "Start(1);", "// the engine draws handle 1 with rate 170 each frame",
    "Init(2, 320, 240, 32, 32, 4);", "SetType(2, 2);", "SetNumof(2, 33);", "SetMaxAmp(2, 12);",
    "SetXSpeed(2, 0.75);", "SetYSpeed(2, 1.25);", "Start(2);", "// the engine draws handle 2 with rate 99 each frame",
  ];
  const lines = (await scriptText()).split("\n").filter((line) => line && !line.startsWith("// Layer") &&
    !line.startsWith("// DrawVelora"));
  assert.deepEqual(lines, expected);

  // The fresh Init took the new field: layer 2 draws inside 320 x 240 only.
  await pausedWithLayer2Only(async () => {
    await page.selectOption("#layer-type", "4");
    await shot("field-empty");
    await page.selectOption("#layer-type", "0");
    await shot("field-drawn");
    await page.selectOption("#layer-type", "2");
  });
  const field = await compare("field-empty", "field-drawn", { w: 320, h: 240 });
  assert.ok(field.differ > 200 && field.outside === 0, JSON.stringify(field));

  await page.click("#copy-script");
  await page.waitForFunction(() => document.getElementById("copy-status").textContent === "Copied.");
  const clipboard = await page.evaluate(() => navigator.clipboard.readText());
  assert.equal(clipboard, await scriptText());
});

test("the plug-in's debug messages are shown decoded, on the page and in the console", async () => {
  await page.evaluate(async () => {
    const bridge = await import("/bridge.js");
    bridge.createInterface(null);
    bridge.createInterface(new Array(16).fill(0x11));  // a GUID the plug-in does not know
  });
  await page.waitForFunction(() => document.querySelectorAll("#debug-log li").length === 2);
  const items = await page.$$eval("#debug-log li", (list) => list.map((item) => item.textContent));
  assert.deepEqual(items, [
    "■ERROR - pGuid==NULL - CreateInterface",
    "□WARNING - 未対応のGUIDが渡された - CreateInterface",
  ]);
  await eventually(() => logs.includes("log: DrawVelora: ■ERROR - pGuid==NULL - CreateInterface") &&
    logs.includes("log: DrawVelora: □WARNING - 未対応のGUIDが渡された - CreateInterface"), logs.join("\n"));
  const bytes = await page.getAttribute("#debug-log li:first-child", "title");
  assert.match(bytes, /^bytes: 81 a1 45 52 52 4f 52/);  // code page 932, as the plug-in sent it
  await page.click("#clear-debug");
  assert.equal(await page.$$eval("#debug-log li", (list) => list.length), 0);
});

test("a dropped sprite sheet becomes a sprite run of the selected layer", async () => {
  await selectLayer(2);
  await page.selectOption("#layer-type", "0");
  await typeNumber("layer-rate", 255);
  await commitNumber("layer-width", WIDTH);
  await commitNumber("layer-height", HEIGHT);
  // Three opaque 24 x 24 cells side by side: red, green, blue.
  await page.evaluate(async () => {
    const canvas = document.createElement("canvas");
    canvas.width = 72;
    canvas.height = 24;
    const context = canvas.getContext("2d");
    ["#ff0000", "#00ff00", "#0000ff"].forEach((colour, i) => {
      context.fillStyle = colour;
      context.fillRect(i * 24, 0, 24, 24);
    });
    const blob = await new Promise((resolve) => canvas.toBlob(resolve, "image/png"));
    const transfer = new DataTransfer();
    transfer.items.add(new File([blob], "sheet.png", { type: "image/png" }));
    document.getElementById("drop-zone").dispatchEvent(
      new DragEvent("drop", { dataTransfer: transfer, bubbles: true, cancelable: true }));
  });
  await page.waitForFunction(() => document.getElementById("sheet-status").textContent.includes("3 sprites"));
  assert.match(await page.textContent("#sheet-status"), /sheet\.png: 3 sprites of 24 × 24 \(numbers 100–102\)/);
  assert.ok((await scriptText()).includes("Init(2, 640, 480, 100, 3, 1);"));

  await waitFrames(3);
  await shot("sheet");
  const pure = await page.evaluate(() => {
    const data = window.testShots.sheet;
    let count = 0;
    for (let i = 0; i < data.length; i += 4) {
      const [r, g, b] = [data[i], data[i + 1], data[i + 2]];
      if ((r === 255 && g === 0 && b === 0) || (r === 0 && g === 255 && b === 0) || (r === 0 && g === 0 && b === 255)) {
        count++;
      }
    }
    return count;
  });
  assert.ok(pure > 24 * 24, `only ${pure} pixels show the sheet's colours`);

  await selectRun("Petals, large");
  assert.ok((await scriptText()).includes("Init(2, 640, 480, 0, 32, 4);"));
});

test("layers: Add layer draws another handle, Remove releases it", async () => {
  await page.click("#add-layer");
  assert.equal(await page.$$eval("#layer-tabs button", (tabs) => tabs.length), 3);
  assert.ok((await scriptText()).includes("Init(3, 640, 480, 64, 8, 1);"));
  const added = await layerCallRange(2, 5);
  assert.ok(added.high > 30, `the snow layer drew up to ${added.high} sprites`);

  await page.click("#remove-layer");
  await waitFrames(2);
  assert.equal((await layerDrawCalls()).length, 2);
  assert.ok(!(await scriptText()).includes("Init(3,"));
});

const RGB = [[255, 0, 0], [0, 255, 0], [0, 0, 255]];
const YELLOW = [[255, 255, 0]];

test("two sheets on two layers draw their own cells, and the script numbers them", async () => {
  // Layer 2 goes back to sheet.png (100-102); layer 1 gets a 4 x 2 sheet of
  // 48 px discs on a transparent ground, which is cut into 8 cells at 200.
  await selectLayer(2);
  await selectRun('Sheet "sheet.png"');
  await selectLayer(1);
  await typeNumber("layer-rate", 255);
  await dropSheet("grid.png", { cell: 48, columns: 4, rows: 2, colours: ["#ffff00"], disc: true });
  assert.match(await page.textContent("#sheet-status"),
    /^grid\.png: 8 sprites of 48 × 48 \(numbers 200–207\), 4 × 2 cells, now used by layer 1\. It replaces sprites 32–63 on layer 1\. The grid was found in the transparent gaps between the sprites;/);
  assert.equal(await page.isVisible("#sheet-preview"), true);
  const script = await scriptText();
  assert.match(script,
    /\/\/ sprites 200-207: sheet "grid\.png" \([0-9a-f]{8}\), 4 x 2 cells of 48 x 48 px, row by row\nInit\(1, 640, 480, 200, 8, 2\);/);
  assert.match(script,
    /\/\/ sprites 100-102: sheet "sheet\.png" \([0-9a-f]{8}\), 3 x 1 cells of 24 x 24 px, row by row\nInit\(2, 640, 480, 100, 3, 1\);/);

  await pausedWithLayer2Only(async () => shot("only2"));
  await selectLayer(2);
  await page.uncheck("#layer-visible");
  await page.click("#pause");
  try {
    await shot("only1");
  } finally {
    await page.click("#pause");
    await page.check("#layer-visible");
  }
  assert.ok(await countColours("only2", RGB) > 24 * 24, "layer 2 does not show sheet.png");
  assert.equal(await countColours("only2", YELLOW), 0, "layer 2 shows grid.png");
  assert.ok(await countColours("only1", YELLOW) > 500, "layer 1 does not show grid.png");
  assert.equal(await countColours("only1", RGB), 0, "layer 1 shows sheet.png");
});

test("S typed cuts the sheet again at once, at least 4, fits the margin and spacing, and says what is left out", async () => {
  await selectLayer(1);
  await page.fill("#sheet-cell", "96");
  assert.match(await page.textContent("#sheet-status"), /^grid\.png: 2 sprites of 96 × 96 \(numbers 200–201\), 2 × 1 cells\.$/);
  assert.ok((await scriptText()).includes("Init(1, 640, 480, 200, 2, 1);"));

  await page.fill("#sheet-cell", "3");
  assert.equal(await page.getAttribute("#sheet-cell", "aria-invalid"), "true");
  assert.match(await page.textContent("#sheet-status"), /S 3 is outside 4 to 96 .*stays cut at 96 px/);
  assert.ok((await scriptText()).includes("Init(1, 640, 480, 200, 2, 1);"));

  // A smaller S keeps each sprite in the middle of its cell: the margin and
  // spacing are fitted to it, unless they are typed too.
  await page.fill("#sheet-cell", "40");
  assert.equal(await page.getAttribute("#sheet-cell", "aria-invalid"), "false");
  assert.match(await page.textContent("#sheet-status"), /8 sprites of 40 × 40 .*, margin 4 px, spacing 8 px\.$/);
  await page.fill("#sheet-margin", "0");
  assert.match(await page.textContent("#sheet-status"),
    /8 sprites of 40 × 40 .* Note: the right 32 px and the bottom 16 px are left out \(not whole cells\)\.$/);

  await page.fill("#sheet-margin", "");
  await page.fill("#sheet-cell", "");  // back to the grid's own size
  assert.match(await page.textContent("#sheet-status"), /^grid\.png: 8 sprites of 48 × 48 \(numbers 200–207\), 4 × 2 cells\.$/);
  assert.ok((await scriptText()).includes("Init(1, 640, 480, 200, 8, 2);"));
});

test("a sheet with a margin and spacing between its cells is cut into its cells, shown and kept", async () => {
  await selectLayer(1);
  await dropSheet("framed.png", { cell: 48, columns: 4, rows: 2, colours: ["#ff0000", "#00ff00"], margin: 10, spacing: 2 });
  assert.match(await page.textContent("#sheet-status"), /^framed\.png: 8 sprites of 48 × 48 \(numbers 300–307\), 4 × 2 cells, margin 10 px, spacing 2 px, now used by layer 1\. It replaces sprites 200–207 \("grid\.png"\) on layer 1\./);
  assert.match(await page.getAttribute("#sheet-preview", "aria-label"), /4 × 2 cells of 48 px, margin 10 px, spacing 2 px/);
  assert.match(await scriptText(), /\/\/ sprites 300-307: sheet "framed\.png" \([0-9a-f]{8}\), 4 x 2 cells of 48 x 48 px, margin 10, spacing 2, row by row\nInit\(1, 640, 480, 300, 8, 2\);/);
  await page.waitForFunction(() => /sheet=300,8,48,4,2,10,2,[0-9a-f]{8},framed\.png/.test(location.hash));
  // Every drawn sprite is a whole cell: pure red or green, no margin in it.
  await pausedWithLayer1Only(async () => shot("framed"));
  assert.ok(await countColours("framed", [[255, 0, 0], [0, 255, 0]]) > 48 * 48 * 4, "the cells are not drawn");
  // A typed spacing cuts again at once; empty goes back to the one found.
  await selectLayer(1);
  await page.fill("#sheet-spacing", "0");
  assert.match(await page.textContent("#sheet-status"), /^framed\.png: 8 sprites of 48 × 48 .*, margin 10 px\. Note: the right 6 px and the bottom 2 px are left out/);
  await page.fill("#sheet-spacing", "");
  assert.match(await page.textContent("#sheet-status"), /spacing 2 px\.$/);
  await selectRun('Sheet "grid.png"');
});

test("each warning appears for its setting, names the layer, and goes when fixed", async () => {
  await selectLayer(2);
  assert.deepEqual(await warningKinds(), []);
  const cases = [
    ["numof", () => typeNumber("layer-numof", 0), () => typeNumber("layer-numof", 22)],
    ["count", () => commitNumber("layer-count", 0), () => commitNumber("layer-count", 3)],
    ["rotation", () => commitNumber("layer-rotation", 0), () => commitNumber("layer-rotation", 1)],
    ["base", () => commitNumber("layer-base", 5000), () => commitNumber("layer-base", 100)],
    ["yspeed", () => typeNumber("layer-yspeed", -0.5), () => typeNumber("layer-yspeed", 1.1)],
    ["type", () => page.selectOption("#layer-type", "4"), () => page.selectOption("#layer-type", "0")],
  ];
  for (const [kind, make, fix] of cases) {
    await make();
    assert.deepEqual(await warningKinds(), [`2:${kind}`], kind);
    assert.match(await page.textContent("#warnings li"), /^Layer 2 \(handle 2\): .+ (Set|Choose|Load) /);
    await fix();
    assert.deepEqual(await warningKinds(), [], `${kind} fixed`);
  }
  // A run that reaches past the loaded sprites: 60-91 holds only 60-71.
  await commitNumber("layer-base", 60);
  await commitNumber("layer-count", 32);
  assert.deepEqual(await warningKinds(), ["2:run"]);
  assert.match(await page.textContent("#warnings li"),
    /Sprites 72–91 of the run 60–91 are not loaded \(20 of 32\).* Set Sprite count to 12 or less/);
  await selectRun('Sheet "sheet.png"');
  assert.deepEqual(await warningKinds(), []);
});

test("rate 0 warns mode by mode, and the readout's rate matches the frames counted", async () => {
  for (const number of [1, 2]) {
    await selectLayer(number);
    await typeNumber("layer-rate", 0);
  }
  assert.deepEqual(await warningKinds(), ["1:rate", "2:rate"]);
  await page.selectOption("#layer-type", "2");
  assert.match(await page.textContent('#warnings li[data-layer="2"]'), /mode 2 .* black sprites/);
  await page.selectOption("#layer-type", "0");
  for (const number of [1, 2]) {
    await selectLayer(number);
    await typeNumber("layer-rate", 255);
  }
  assert.deepEqual(await warningKinds(), []);

  // Frames counted over two seconds against what the readout says then.
  await page.waitForTimeout(1500);
  const { counted, shown } = await page.evaluate(async () => {
    const stage = document.getElementById("stage");
    const start = [performance.now(), Number(stage.dataset.frames)];
    await new Promise((resolve) => setTimeout(resolve, 2000));
    const counted = (Number(stage.dataset.frames) - start[1]) * 1000 / (performance.now() - start[0]);
    const shown = Number(/\(([\d.]+) fps\)/.exec(document.getElementById("readout").textContent)[1]);
    return { counted, shown };
  });
  assert.ok(Math.abs(shown - counted) <= 0.2 * counted, `the readout says ${shown} fps, ${counted.toFixed(1)} were counted`);
});

test("number boxes take what a person types or refuse it visibly; the paused readout shows no rate", async () => {
  await selectLayer(2);
  await typeNumber("layer-numof", "1e3");
  assert.ok((await scriptText()).includes("SetNumof(2, 1000);"));
  for (const text of ["12.5", "99999"]) {
    await typeNumber("layer-numof", text);
    assert.equal(await page.getAttribute("#layer-numof", "aria-invalid"), "true", text);
    assert.match(await page.textContent("#field-message"), /^Particles: .+; the layer keeps 1000\.$/);
    assert.ok((await scriptText()).includes("SetNumof(2, 1000);"));
  }
  await page.focus("#layer-maxamp");  // leaving the box puts the layer's value back
  assert.equal(await page.inputValue("#layer-numof"), "1000");
  assert.equal(await page.textContent("#field-message"), "");
  await typeNumber("layer-numof", 22);

  await page.click("#pause");
  const readout = await page.textContent("#readout");
  await page.click("#pause");
  const [, work] = /^Paused · the last frame took (\d+\.\d\d) ms of work · \d+ drawing calls/.exec(readout) ?? [];
  assert.ok(Number(work) > 0, `paused: ${readout}`);
  assert.doesNotMatch(readout, /fps/);
});

test("the canvas follows the largest field", async () => {
  await selectLayer(2);
  await commitNumber("layer-width", 800);
  await commitNumber("layer-height", 600);
  await waitFrames(3);
  assert.deepEqual(await frameSize(), [800, 600]);
  const fits = await page.$eval("#stage", (c) => c.getBoundingClientRect().right <= c.parentElement.getBoundingClientRect().right);
  assert.ok(fits, "the canvas is wider than its panel");
  const calls = await layerDrawCalls();
  assert.ok(calls[0] > 0 && calls[1] > 0, `after the new frame: ${calls}`);
  await commitNumber("layer-width", WIDTH);
  await commitNumber("layer-height", HEIGHT);
  assert.deepEqual(await frameSize(), [WIDTH, HEIGHT]);
});

test("a reload restores the setup from the address, and asks for the sheets by name", async () => {
  await page.selectOption("#background", "05070f,1a2440");
  await page.waitForFunction(() => location.hash.includes("bg=05070f,1a2440"));
  const before = await scriptText();
  await page.reload();
  await waitFrames(3);
  assert.equal(await scriptText(), before);
  assert.equal(await page.inputValue("#background"), "05070f,1a2440");
  assert.match(await page.textContent("#setup-status"),
    /^Restored 2 layers from the address\. Load the sprite sheets "sheet\.png", "grid\.png", "framed\.png" again\.$/);
  assert.deepEqual(await warningKinds(), ["1:base", "2:base"]);
  assert.match(await page.textContent("#warnings li"), /Load the sheet "grid\.png" again/);

  await dropSheet("sheet.png", { cell: 24, columns: 3, rows: 1, colours: ["#ff0000", "#00ff00", "#0000ff"] });
  await dropSheet("grid.png", { cell: 48, columns: 4, rows: 2, colours: ["#ffff00"], disc: true });
  assert.deepEqual(await warningKinds(), []);
  assert.equal(await scriptText(), before);
  await waitFrames(3);
  const calls = await layerDrawCalls();
  assert.ok(calls[0] > 0 && calls[1] > 0, `after the sheets came back: ${calls}`);
});

test("a saved setup file opens again, and a bad one is refused", async () => {
  const [download] = await Promise.all([page.waitForEvent("download"), page.click("#save-setup")]);
  const saved = await download.path();
  const before = await scriptText();
  await page.click("#add-layer");
  assert.notEqual(await scriptText(), before);
  await page.setInputFiles("#open-setup", saved);
  await page.waitForFunction(() => document.getElementById("setup-status").textContent.startsWith("Opened"));
  assert.equal(await scriptText(), before);

  const values = JSON.parse(readFileSync(saved, "utf8"));
  values.layers[0].numof = "lots";
  await page.setInputFiles("#open-setup", { name: "bad.json", mimeType: "application/json",
    buffer: Buffer.from(JSON.stringify(values)) });
  await page.waitForFunction(() => document.getElementById("setup-status").textContent.startsWith("bad.json"));
  assert.match(await page.textContent("#setup-status"), /^bad\.json not opened: layer 1: numof "lots" is not a number/);
  assert.equal(await scriptText(), before);
});

test("a pasted script rebuilds the layers; a wrong one changes nothing", async () => {
  const pasted = [
    "Init(5, 320, 240, 0, 32, 4);", "SetNumof(5, 30);", "SetXSpeed(5, 0.5);", "Start(5);",
    "// the engine draws handle 5 with rate 200 each frame",
    "Init(9, 640, 480, 64, 8, 1);", "SetType(9, 1);", "SetYSpeed(9, 2);", "Start(9);",
  ].join("\n");
  await page.click("#paste-box summary");
  await page.fill("#paste-script", pasted);
  await page.click("#paste-apply");
  // (Then the sheets still to load, as after a link or a setup file.)
  assert.match(await page.textContent("#paste-status"), /^Rebuilt 2 layers from the script\.( Load the sprite sheet|$)/);
  assert.deepEqual(await page.$$eval("#layer-tabs button", (tabs) => tabs.map((tab) => tab.textContent)),
    ["Layer 1 · handle 5", "Layer 2 · handle 9"]);
  const script = await scriptText();
  for (const line of ["Init(5, 320, 240, 0, 32, 4);", "SetNumof(5, 30);", "SetXSpeed(5, 0.5);",
    "// the engine draws handle 5 with rate 200 each frame", "Init(9, 640, 480, 64, 8, 1);", "SetType(9, 1);",
    "SetNumof(9, 40);", "SetYSpeed(9, 2.0);"]) {
    assert.ok(script.includes(line), `${line} missing from\n${script}`);
  }
  const drawn = await layerCallRange(1, 3);
  assert.ok(drawn.high > 20, `the pasted snow layer drew ${drawn.high}`);

  await page.fill("#paste-script", "Init(1, 640, 480, 0, 32, 4);\nSetNumof(7, 3);");
  await page.click("#paste-apply");
  assert.match(await page.textContent("#paste-status"), /^Not rebuilt: line 2: handle 7 has no Init before this call/);
  assert.equal(await scriptText(), script);

  // Copy's own text comes back unchanged.
  await page.fill("#paste-script", script);
  await page.click("#paste-apply");
  assert.equal(await scriptText(), script);
});

// Pastes a script and says how the page took it.
async function pasteScript(text) {
  await page.evaluate(() => { document.getElementById("paste-box").open = true; });
  await page.fill("#paste-script", text);
  await page.click("#paste-apply");
  await page.waitForFunction(() => !document.getElementById("paste-status").textContent.startsWith("Reading"));
  return page.textContent("#paste-status");
}

// The script the previewer prints for these options.
function previewScript(args) {
  return execFileSync(preview, [...args, "--print-script"], { encoding: "utf8", timeout: 60000 });
}

test("the previewer's script pasted comes back on Copy, and Copy read by the previewer prints back the same",
  { skip: preview ? false : "the previewer was not built" }, async () => {
    const before = await scriptText();
    const folder = mkdtempSync(path.join(tmpdir(), "velora-round-trip-"));
    try {
      // A hidden layer and two sheets, one with a margin and spacing (moved
      // past the sprites of the sheets dropped before, which the page keeps).
      let copy = readFileSync(path.join(sources, "tests", "scripts", "valid", "studio-copy.txt"), "utf8");
      for (const [from, to] of [["3.4028235e+38", "2.5"], ["100-107", "5100-5107"], ["240, 100,", "240, 5100,"],
        ["200-215", "5200-5215"], ["480, 200,", "480, 5200,"]]) copy = copy.replace(from, to);
      const studioCopy = path.join(folder, "studio-copy.txt");
      writeFileSync(studioCopy, copy);
      for (const args of [["--script", path.join(sources, "docs", "examples", "studio.txt")], ["--script", studioCopy],
        ["--type", "3", "--numof", "250", "--maxamp", "-7", "--xspeed", "-0.3", "--yspeed", "2.75", "--rate", "64",
          "--handle", "7", "--base", "8", "--sprite-count", "8", "--rotation-frames", "2"]]) {
        const printed = previewScript(args);
        assert.match(await pasteScript(printed), /^Rebuilt/, args.join(" "));
        assert.equal(await scriptText(), printed, args.join(" "));
      }
      // The studio's own changes, printed by the previewer as Copy gives them.
      await page.uncheck("#layer-visible");
      await typeNumber("layer-xspeed", 0.1);
      await typeNumber("layer-rate", 3);
      const copied = await scriptText();
      assert.match(copied, /hidden in the studio[^]*SetXSpeed\(7, 0\.1\);[^]*with rate 3 each/);
      writeFileSync(path.join(folder, "copy.txt"), copied);
      assert.equal(previewScript(["--script", path.join(folder, "copy.txt")]), copied);
    } finally {
      rmSync(folder, { recursive: true, force: true });
      // The layers as they were, for the tests after, whatever happened.
      assert.match(await pasteScript(before), /^Rebuilt/);
    }
    assert.equal(await scriptText(), before);
  });

test("a script past the limits changes nothing, and the page answers while 100 000 particles draw in mode 3", async () => {
  const before = await scriptText();
  await page.evaluate(() => { document.getElementById("paste-box").open = true; });
  const lines = Array.from({ length: 10000 }, (_, i) => `Init(${i + 1}, 640, 480, 0, 32, 4);`);
  await page.$eval("#paste-script", (area, text) => { area.value = text; }, lines.join("\n"));
  await page.click("#paste-apply");
  await page.waitForFunction(() => document.getElementById("paste-status").textContent.startsWith("Not rebuilt"));
  assert.equal(await page.textContent("#paste-status"), "Not rebuilt: line 65: Init of handle 65 would make more " +
    "than 64 layers at once, the most drawn. The layers are unchanged.");
  assert.equal(await scriptText(), before);

  // One layer of 100 000 particles in mode 3: each frame takes most of a second or more.
  await withPage(`${url}#v=2&bg=000000,000000&layer=1,1,640,480,0,32,4,3,100000,40,1,1,255`, async (other) => {
    await other.waitForTimeout(500);
    // While the engine draws (a frame takes seconds), the page's own thread
    // stays free: a click is answered within 100 ms, and its timers never
    // stand still for long (a busy machine may hold one back a little).
    const { gap, answers } = await other.evaluate(async () => {
      let last = performance.now();
      const end = last + 2500;
      let gap = 0;
      const answers = [];
      while (performance.now() < end) {
        await new Promise((resolve) => setTimeout(resolve, 5));
        const now = performance.now();
        gap = Math.max(gap, now - last);
        last = now;
        if (answers.length < 4 && end - now < 2500 - 500 * (answers.length + 1)) {
          document.getElementById("pause").click();
          await new Promise((resolve) => requestAnimationFrame(resolve));
          answers.push(performance.now() - now);
        }
      }
      return { gap, answers };
    });
    assert.ok(gap < 250, `the page's thread stood still for ${gap.toFixed(0)} ms`);
    assert.equal(answers.length, 4);
    // Clicks answer within 100 ms; on a machine busy with other work one
    // may be held back by the system, never by the page.
    const sorted = [...answers].sort((a, b) => a - b);
    assert.ok(sorted[2] < 100 && sorted[3] < 250, `clicks answered after ${answers.map((t) => t.toFixed(0)).join(", ")} ms`);
    assert.equal(await other.textContent("#pause"), "Pause");
    // A frame takes most of a second or more: the readout says one is being
    // drawn, or, once one has come, names its hundreds of milliseconds.
    assert.match(await other.textContent("#readout"),
      /^(Drawing a frame: none has come for \d+\.\d s|Frame \d{3,}\.\d\d ms of work)/);
  }, () => true);
});

// A second page of the same browser at address, closed whatever happens.
// ready: when the page is ready for body (by default: it has drawn frames);
// init: a script run in the page before its own.
async function withPage(address, body, ready = () => Number(document.getElementById("stage").dataset.frames) > 2, init) {
  const other = await context.newPage();
  other.on("pageerror", (error) => problems.push(`page error: ${error.message}`));
  other.on("console", (message) => { if (message.type() === "error") problems.push(`error: ${message.text()}`); });
  try {
    if (init) await other.addInitScript(init);
    await other.goto(address);
    await other.waitForFunction(ready, null, { timeout: 30000 });
    await body(other);
  } finally {
    await other.close();
  }
}

test("a link the studio cannot read keeps its address and says what is wrong", async () => {
  const good = "v=2&bg=000000,000000&layer=4,1,640,480,0,32,4,0,30,25,0.5,1,200&layer=5,1,640,480,64,8,1,1,20,30,0.4,0.6,";
  for (const [hash, reason] of [[`${good}256`, /layer 2: rate 256 is outside 0 to 255/], ["v=1&layer=garbage", /layer 1: 13 numbers expected/],
    ["v=99", /v=99 is not one this studio reads/], ["v=1", /it holds no layer/]]) {
    await withPage(`${url}#${hash}`, async (other) => {
      assert.match(await other.textContent("#setup-status"), reason);
      await other.waitForTimeout(600);
      assert.equal(await other.evaluate(() => location.hash), `#${hash}`);
    });
  }
  // Mended in the address bar, the setup comes; changed, the address follows.
  await withPage(`${url}#v=1`, async (other) => {
    await other.evaluate((hash) => { location.hash = hash; }, `${good}255`);
    await other.waitForFunction(() => document.getElementById("setup-status").textContent.startsWith("Restored 2 layers"));
    assert.ok((await other.textContent("#script")).includes("Init(5, 640, 480, 64, 8, 1);"));
    await other.fill("#layer-numof", "21");
    // (the count waits for the next Start: the layer still runs the 20 it spawned)
    await other.waitForFunction(() => location.hash.includes("1,21,30,0.4,0.6,255,1,20&end="));
  });
});

test("a sheet name no script comment can hold is said so, and Copy copies nothing", async () => {
  const hash = "v=2&bg=000000,000000&layer=5,1,640,480,100,8,1,1,20,30,0.4,0.6,255&sheet=100,8,16,4,2,0,0,two%0Alines.png";
  await withPage(`${url}#${hash}`, async (other) => {
    const reason = "the sheet name 'two\\x0Alines.png' cannot stand in a script";
    const script = await other.textContent("#script");
    assert.ok(script.startsWith(`// The script cannot be written: ${reason}`), script);
    await other.click("#copy-script");
    const status = await other.textContent("#copy-status");
    assert.ok(status.startsWith(`Not copied: ${reason}`), status);
  });
});

test("Copy link on an address other than localhost gives the link", async () => {
  const port = new URL(url).port;
  await withPage(`http://studio.test:${port}/`, async (other) => {
    await other.click("#copy-link");
    const shown = await other.evaluate(() => {
      const field = document.getElementById("link-text");
      return { value: field.value, selected: field.value.slice(field.selectionStart, field.selectionEnd),
        href: location.href, visible: !field.hidden, focused: document.activeElement === field };
    });
    assert.match(shown.href, /^http:\/\/studio\.test:\d+\/#v=3&bg=/);
    assert.deepEqual(shown, { value: shown.href, selected: shown.href, href: shown.href, visible: true, focused: true });
    assert.match(await other.textContent("#setup-status"), /^(Copied \(and selected\)|Selected: press Ctrl\+C)/);
  });
});

test("a browser without OffscreenCanvas gets the effect drawn on the page itself", async () => {
  await withPage(url, async (other) => {
    await other.waitForFunction(() => /fps/.test(document.getElementById("readout").textContent));
    const calls = (await other.getAttribute("#stage", "data-layer-draw-calls")).split(",").map(Number);
    assert.ok(calls[0] > 50 && calls[1] > 14, `drew ${calls}`);
    const lit = await other.evaluate(() => {
      const stage = document.getElementById("stage");
      const data = stage.getContext("2d").getImageData(0, 0, stage.width, stage.height).data;
      let bright = 0;
      for (let i = 0; i < data.length; i += 4) if (data[i] > 200) ++bright;
      return bright;
    });
    assert.ok(lit > 1000, `only ${lit} bright pixels: no petals on the canvas`);
  }, undefined, () => { delete HTMLCanvasElement.prototype.transferControlToOffscreen; });
});

test("a browser whose WebAssembly lacks SIMD or exceptions is told so in its language, and nothing starts", async () => {
  for (const [language, words] of [["en-US", /^This browser cannot run the studio: .*lacks SIMD.*Firefox 100 or later/],
    ["ja", /^このブラウザーではスタジオを動かせません。.*SIMD.*Firefox 100 以降/]]) {
    await withPage(url, async (other) => {
      assert.match(await other.textContent("#readout"), words);
      await other.waitForTimeout(500);
      assert.equal(await other.getAttribute("#stage", "data-frames"), "0");
    }, () => /SIMD/.test(document.getElementById("readout").textContent), `(() => {
      WebAssembly.validate = () => false;
      Object.defineProperty(navigator, "languages", { get: () => ["${language}"] });
    })()`);
  }
  // The page says it on the console too, as it does every failure to start.
  for (let i = problems.length - 1; i >= 0; --i) if (problems[i].includes("lacks SIMD")) problems.splice(i, 1);
});

test("at 360 px wide nothing scrolls sideways", async () => {
  await page.setViewportSize({ width: 360, height: 740 });
  try {
    const name = `${"a-very-long-sprite-sheet-name-without-any-space".repeat(2).slice(0, 61)}.png`;
    await dropSheet(name, { cell: 24, columns: 1, rows: 1, colours: ["#ffffff"], disc: true });
    assert.match(await page.textContent("#sheet-status"), /: 1 sprite of 24 × 24 \(numbers \d+–\d+\), 1 × 1 cells, now used/);
    await selectRun('Sheet "sheet.png"');
    await waitFrames(2);
    const widths = await page.evaluate(() => [document.documentElement.scrollWidth, document.documentElement.clientWidth]);
    assert.ok(widths[0] <= widths[1], `the page is ${widths[0]} px wide in a ${widths[1]} px window`);
    const right = await page.$eval("#stage", (c) => c.getBoundingClientRect().right);
    assert.ok(right <= 360, `the canvas reaches ${right}`);
    const outside = await page.$$eval("fieldset input, fieldset select", (fields) => fields.filter((field) =>
      field.getBoundingClientRect().right > field.closest("fieldset").getBoundingClientRect().right).map((field) => field.id));
    assert.deepEqual(outside, [], "fields past their fieldset's border");
  } finally {
    await page.setViewportSize({ width: 1280, height: 1040 });
  }
});

test("every control is reached by Tab; the layer tabs take the arrow keys; names for the canvas and files", async () => {
  await page.evaluate(() => { document.getElementById("paste-box").open = true; });
  const count = await page.evaluate(() => {
    const controls = Array.from(document.querySelectorAll("button, input, select, textarea, summary, a[href], [tabindex]"))
      .filter((element) => !element.disabled && element.tabIndex >= 0 && element.getClientRects().length > 0);
    controls.forEach((element, i) => { element.dataset.tabTest = String(i); });
    document.activeElement?.blur();
    return controls.length;
  });
  assert.ok(count > 30, `only ${count} controls`);
  const reached = new Set();
  for (let i = 0; i < count + 10; ++i) {
    await page.keyboard.press("Tab");
    const id = await page.evaluate(() => document.activeElement?.dataset.tabTest);
    if (id !== undefined) reached.add(id);
  }
  const missed = await page.evaluate((seen) => Array.from(document.querySelectorAll("[data-tab-test]"))
    .filter((element) => !seen.includes(element.dataset.tabTest)).map((element) => element.id || element.outerHTML.slice(0, 60)),
  Array.from(reached));
  assert.deepEqual(missed, []);
  // The file inputs are among them (hidden from sight, not from the keyboard).
  for (const id of ["sheet-file", "open-setup", "sheet-cell", "paste-script", "record"]) {
    assert.ok(reached.has(await page.getAttribute(`#${id}`, "data-tab-test")), `#${id} is not reached by Tab`);
  }

  // The file input answers the keyboard: Space opens the file chooser. (On a
  // loaded machine Chromium now and then lets a key press open no chooser
  // before Playwright listens for one: the press is made again, a few times.)
  let chooser = null;
  for (let attempt = 0; attempt < 4 && chooser === null; ++attempt) {
    await page.focus("#sheet-file");
    [chooser] = await Promise.all([
      page.waitForEvent("filechooser", { timeout: 8000 }).catch(() => null),
      page.keyboard.press("Space"),
    ]);
  }
  assert.ok(chooser !== null, "Space on the focused file input opens no file chooser");
  assert.equal(chooser.element() !== null, true);

  // A button that Enter disables hands the focus to the nearest enabled one.
  await selectLayer(2);
  await page.focus("#layer-later");
  await page.keyboard.press("Enter");  // already last: nothing moves
  await page.focus("#layer-earlier");
  await page.keyboard.press("Enter");
  assert.equal(await page.evaluate(() => document.activeElement.id), "layer-later");
  await page.keyboard.press("Enter");
  assert.equal(await page.evaluate(() => document.activeElement.id), "layer-earlier");
  assert.match(await page.textContent("#layer-title"), /^Layer 2 /);

  await page.focus("#layer-tab-1");
  await page.keyboard.press("ArrowRight");
  assert.equal(await page.evaluate(() => document.activeElement.id), "layer-tab-2");
  assert.equal(await page.getAttribute("#layer-tab-2", "aria-selected"), "true");
  assert.equal(await page.getAttribute("#layer-panel", "aria-labelledby"), "layer-tab-2");
  assert.equal(await page.getAttribute("#layer-tab-2", "aria-controls"), "layer-panel");
  await page.keyboard.press("Home");
  assert.equal(await page.getAttribute("#layer-tab-1", "aria-selected"), "true");
  assert.match(await page.textContent("#layer-title"), /^Layer 1 /);

  assert.match(await page.getAttribute("#stage", "aria-label"), /^The effect, drawn live: 2 of 2 layers drawn on a 640 × 480 frame$/);
  assert.equal(await page.getAttribute("#sheet-file", "aria-label"), "Sprite sheet image");
});

// Records 2 s on page; resolves with the status once the video is checked.
async function recordTwoSeconds(on) {
  await on.selectOption("#record-seconds", "2");
  await on.click("#record");
  await on.waitForFunction(() => !document.getElementById("record").disabled, null, { timeout: 60000 });
  return on.textContent("#record-status");
}

test("Record makes a video that plays for the time asked; a frame too large to encode is recorded scaled down", async () => {
  assert.equal(await recordTwoSeconds(page), "Recorded 2 s.");
  assert.equal(await page.isVisible("#record-link"), true);
  const bytes = Number(await page.getAttribute("#record-link", "data-bytes"));
  assert.ok(bytes > 1000, `the video has ${bytes} bytes`);
  const duration = Number(await page.getAttribute("#record-link", "data-duration"));
  assert.ok(duration >= 1 && duration <= 3, `the video lasts ${duration} s`);
  assert.match(await page.getAttribute("#record-link", "download"), /^drawvelora\.(webm|mp4)$/);

  // At 4096 x 4096 the browser's encoder would give an empty file: the
  // video is made smaller, and it plays. (A busy machine's encoder may fall
  // behind at that size and lengthen the video: then the page says so.)
  await withPage(`${url}#v=2&bg=141a3c,6a4c78&layer=1,1,4096,4096,0,32,4,0,300,2,0,2,200`, async (other) => {
    const status = await recordTwoSeconds(other);
    const played = await other.evaluate(async () => {
      const video = document.createElement("video");
      video.muted = true;
      video.src = document.getElementById("record-link").href;
      await new Promise((resolve, reject) => { video.onloadedmetadata = resolve; video.onerror = reject; });
      video.currentTime = Number.MAX_SAFE_INTEGER;
      await new Promise((resolve) => { video.onseeked = resolve; });
      return { width: video.videoWidth, height: video.videoHeight, duration: video.duration };
    });
    assert.deepEqual([played.width, played.height], [1440, 1440]);
    const said = played.duration >= 1 && played.duration <= 3 ? "Recorded 2 s."
      : `Recorded 2 s, but the video lasts ${played.duration.toFixed(1)} s: the browser's encoder could not keep up, ` +
        "so it plays slower than the effect ran. A smaller field records true to time.";
    assert.equal(status, `${said} Scaled down to 1440 × 1440 from 4096 × 4096: browsers make no playable video that large.`);
  });
});

test("the readout measures only the frames drawn since a change", async () => {
  // Layer 2, hidden at first, takes far longer per frame than layer 1.
  await withPage(`${url}#v=2&bg=000000,000000&layer=1,1,640,480,0,32,4,0,50,2,0,2,200&layer=2,0,640,480,0,32,4,3,8000,40,1,1,255`,
    async (other) => {
      const RUNNING = /^Frame ([\d.]+) ms of work · every ([\d.]+) ms .* · ([\d,]+) drawing calls/;
      await other.waitForFunction((running) => new RegExp(running).test(document.getElementById("readout").textContent),
        RUNNING.source);
      const [, light, , lightCalls] = RUNNING.exec(await other.textContent("#readout"));
      const drawn = Number(await other.getAttribute("#stage", "data-frames"));
      await other.click("#layer-visible");
      assert.equal(await other.isChecked("#layer-visible"), true);
      await other.waitForFunction((n) => Number(document.getElementById("stage").dataset.frames) > n, drawn);
      const seen = await other.evaluate(async () => {
        const readouts = new Set();
        for (let end = performance.now() + 6000; performance.now() < end;) {
          readouts.add(document.getElementById("readout").textContent);
          await new Promise((resolve) => setTimeout(resolve, 50));
        }
        return [...readouts];
      });
      // Every figure is of heavy frames alone, and frames from one thread
      // come no more often than about one takes.
      // (The readout may still show a frame from before, at first.)
      const running = seen.map((line) => RUNNING.exec(line)).filter((found) => found && found[3] !== lightCalls);
      assert.ok(running.length > 0, seen.join(" | "));
      for (const [line, work, interval] of running) {
        assert.ok(Number(work) > 10 * light && Number(interval) >= 0.5 * Number(work),
          `${line} (${light} ms before): ${seen.join(" | ")}`);
      }
    });
});

test("at 360 x 740 the effect stays in view while the controls scroll", async () => {
  await page.setViewportSize({ width: 360, height: 740 });
  try {
    await page.focus("#layer-rate");
    const seen = await page.evaluate(() => {
      const inView = (element) => {
        const box = element.getBoundingClientRect();
        const hit = document.elementFromPoint(box.left + box.width / 2, box.top + box.height / 2);
        return box.top >= 0 && box.bottom <= innerHeight && box.height > 0 && element.contains(hit);
      };
      return { canvas: inView(document.getElementById("stage")), rate: inView(document.activeElement),
        scrolled: scrollY, sideways: document.documentElement.scrollWidth > document.documentElement.clientWidth };
    });
    assert.deepEqual(seen, { canvas: true, rate: true, scrolled: seen.scrolled, sideways: false });
    assert.ok(seen.scrolled > 300, `the page scrolled only ${seen.scrolled} px`);
  } finally {
    await page.setViewportSize({ width: 1280, height: 1040 });
  }
});

test("the warnings are a polite live region; faint text reaches 4.5:1 against its background", async () => {
  assert.equal(await page.getAttribute("#warnings", "aria-live"), "polite");
  const low = await page.evaluate(() => {
    // Relative luminance and contrast of CSS rgb() colours.
    const rgb = (colour) => colour.match(/[\d.]+/g).map(Number);
    const luminance = (colour) => rgb(colour).slice(0, 3).map((c) => c / 255)
      .map((c) => (c <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4))
      .reduce((sum, c, i) => sum + c * [0.2126, 0.7152, 0.0722][i], 0);
    const contrast = (a, b) => (Math.max(luminance(a), luminance(b)) + 0.05) / (Math.min(luminance(a), luminance(b)) + 0.05);
    const background = (element) => {
      for (let at = element; at; at = at.parentElement) {
        const colour = getComputedStyle(at).backgroundColor;
        if (rgb(colour)[3] !== 0) return colour;
      }
      return getComputedStyle(document.body).backgroundColor;
    };
    const texts = [...document.querySelectorAll(".hint, .call, #readout, header p")].filter((e) => e.textContent.trim())
      .map((element) => [element, getComputedStyle(element).color]);
    const placeholders = [...document.querySelectorAll("[placeholder]")]
      .map((element) => [element, getComputedStyle(element, "::placeholder").color]);
    return [...texts, ...placeholders].map(([element, colour]) => [element.id || element.className || element.tagName,
      contrast(colour, background(element))]).filter(([, ratio]) => ratio < 4.5)
      .map(([name, ratio]) => `${name} ${ratio.toFixed(2)}`);
  });
  assert.deepEqual(low, []);
});

test("the language switch rewords the page, status lines included, and a reload keeps the choice", async () => {
  await page.click("#add-layer");
  const count = (await page.$$("#layer-tabs button")).length;
  await page.selectOption("#language", "ja");
  assert.equal(await page.getAttribute("html", "lang"), "ja");
  assert.equal(await page.textContent("#add-layer"), "レイヤーを追加");
  assert.match(await page.textContent(`#layer-tabs button:nth-child(${count})`), new RegExp(`^レイヤー ${count} · ハンドル \\d+$`));
  assert.equal(await page.getAttribute("#guide-link", "href"), "GUIDE.ja.html");
  await page.reload();
  await waitFrames(2);
  assert.equal(await page.getAttribute("html", "lang"), "ja", "the choice is remembered");
  assert.equal(await page.inputValue("#language"), "ja");
  assert.match(await page.textContent("#setup-status"), /^アドレスからレイヤーを \d+ 個復元しました。/);
  // A full-width space typed by the IME after a call: named where it is.
  await page.evaluate(() => { document.getElementById("paste-box").open = true; });
  await page.fill("#paste-script", "Init(1, 640, 480, 0, 32, 4);\u3000\nStart(1);");
  await page.click("#paste-apply");
  await page.waitForFunction(() => document.getElementById("paste-status").textContent.startsWith("作り直せません"));
  assert.match(await page.textContent("#paste-status"), /^作り直せませんでした: 1 行目、29 文字目: .*全角スペース（U\+3000）.*\[U\+3000\]'。レイヤーは変わっていません。$/);
  await page.selectOption("#language", "en");
  assert.match(await page.textContent("#setup-status"), /^Restored \d+ layers from the address\./);
  assert.match(await page.textContent("#paste-status"), /^Not rebuilt: line 1, column 29: a full-width space \(U\+3000\) in a call.*\[U\+3000\]'\. The layers are unchanged\.$/);
  assert.equal(await page.getAttribute("#guide-link", "href"), "GUIDE.html");
  await selectLayer(count);
  await page.click("#remove-layer");
});

// A frame the studio's module draws with the previewer's clock: Init at the
// seed, Start at the effect's origin, frame k at the origin + k x interval;
// the picture and the sheet decoded as the page decodes them.
const DRAW_AS_PREVIEWER = `(async ([picture, sheet, wanted, options]) => {
  const decode = async (bytes) => {
    const bitmap = await createImageBitmap(new Blob([new Uint8Array(bytes)], { type: "image/png" }),
      { colorSpaceConversion: "none", premultiplyAlpha: "none" });
    const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
    const context = canvas.getContext("2d", { willReadFrequently: true });
    context.drawImage(bitmap, 0, 0);
    return context.getImageData(0, 0, bitmap.width, bitmap.height);
  };
  const module = await (await import("/bridge.js")).createModule();
  const put = (image) => {
    const pointer = module._malloc(image.data.length);
    module.HEAPU8.set(image.data, pointer);
    return pointer;
  };
  const { width, height, seed, cell, numof, type, rate, interval, frames } = options;
  let now = seed;
  performance.now = () => now;
  try {
    module._velora_studio_open(width, height);
    const [background, cells] = [await decode(picture), await decode(sheet)];
    module._velora_studio_set_background_picture(put(background), background.width, background.height);
    const count = module._velora_studio_load_sheet_at(put(cells), cells.width, cells.height, cell, 100);
    module._Init(1, width, height, 100, count, 1);
    now = 1000000;
    module._SetType(1, type);
    module._SetNumof(1, numof);
    module._Start(1);
    for (let k = 1; k <= frames; ++k) {
      now = 1000000 + k * interval;
      module._velora_studio_begin_frame();
      module._velora_studio_draw(1, rate);
    }
    const frame = module.HEAPU8.slice(module._velora_studio_frame(), module._velora_studio_frame() + width * height * 4);
    const expected = (await decode(wanted)).data;
    let differing = 0;
    let fromBackground = 0;
    module._velora_studio_begin_frame();
    const bare = module.HEAPU8.slice(module._velora_studio_frame(), module._velora_studio_frame() + width * height * 4);
    for (let i = 0; i < frame.length; ++i) {
      if (frame[i] !== expected[i]) ++differing;
      if (frame[i] !== bare[i]) ++fromBackground;
    }
    return { differing, fromBackground, bytes: frame.length };
  } finally {
    delete performance.now;
  }
})`;

test("a picture behind the effect: the studio draws the previewer's --background frame byte for byte, and the page shows it",
  { skip: preview ? false : "the previewer was not built" }, async () => {
    const folder = mkdtempSync(path.join(tmpdir(), "velora-picture-"));
    try {
      // A screenshot-like picture (not the frame's size, so it is stretched)
      // and a sheet of four opaque squares on a clear ground.
      const [picture, sheet] = await page.evaluate(async () => {
        const png = async (canvas) => Array.from(new Uint8Array(await (await canvas.convertToBlob()).arrayBuffer()));
        const scene = new OffscreenCanvas(203, 117);
        const context = scene.getContext("2d");
        for (let y = 0; y < 117; ++y) {
          for (let x = 0; x < 203; x += 7) {
            context.fillStyle = `rgb(${x % 256}, ${(y * 2) % 256}, ${(x * y) % 256})`;
            context.fillRect(x, y, 7, 1);
          }
        }
        const cells = new OffscreenCanvas(64, 16);
        const cellContext = cells.getContext("2d");
        ["#ff4060", "#40ff60", "#4060ff", "#ffffff"].forEach((colour, i) => {
          cellContext.fillStyle = colour;
          cellContext.fillRect(i * 16 + 3, 3, 10, 10);
        });
        return [await png(scene), await png(cells)];
      });
      writeFileSync(path.join(folder, "scene.png"), Buffer.from(picture));
      writeFileSync(path.join(folder, "cells.png"), Buffer.from(sheet));
      const frames = path.join(folder, "frames");
      const options = { width: 320, height: 240, seed: 4242, cell: 16, numof: 80, type: 3, rate: 200, interval: 50,
        frames: 6 };
      execFileSync(preview, ["--sprites", path.join(folder, "cells.png"), "--cell", "16", "--background",
        path.join(folder, "scene.png"), "--width", "320", "--height", "240", "--seed", "4242", "--numof", "80",
        "--type", "3", "--rate", "200", "--fps", "20", "--seconds", "0.3", "--sheet-frames", "0",
        "--frames-dir", frames, "--output", path.join(folder, "out.webp"), "--quiet"], { timeout: 60000 });
      const wanted = Array.from(readFileSync(path.join(frames, "frame-0005.png")));
      const drawn = await page.evaluate(`${DRAW_AS_PREVIEWER}(${JSON.stringify([picture, sheet, wanted, options])})`);
      assert.ok(drawn.fromBackground > 0, "the particles drew over the picture");
      assert.equal(drawn.differing, 0, `bytes of ${drawn.bytes} that differ from the previewer's frame`);

      // The page: chosen, shown, named in the setup; colours chosen take its place.
      await page.setInputFiles("#picture-file", path.join(folder, "scene.png"));
      await page.waitForFunction(() => document.getElementById("picture-status").textContent.includes("203 × 117"));
      assert.ok(!(await page.isHidden("#picture-remove")));
      await page.waitForFunction(async ([picture]) => {
        const { width, height, pixels } = await (await import("/bridge.js")).snapshot();
        const bitmap = await createImageBitmap(new Blob([new Uint8Array(picture)]));
        const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
        canvas.getContext("2d").drawImage(bitmap, 0, 0);
        const image = canvas.getContext("2d").getImageData(0, 0, bitmap.width, bitmap.height);
        const module = await (await import("/bridge.js")).createModule();
        module._velora_studio_open(width, height);
        const pointer = module._malloc(image.data.length);
        module.HEAPU8.set(image.data, pointer);
        module._velora_studio_set_background_picture(pointer, image.width, image.height);
        module._velora_studio_begin_frame();
        const bare = module.HEAPU8.subarray(module._velora_studio_frame());
        let same = 0;
        for (let i = 0; i < pixels.length; i += 4) same += pixels[i] === bare[i] && pixels[i + 1] === bare[i + 1] ? 1 : 0;
        return same > pixels.length / 8;  // most of the frame: the particles cover the rest
      }, [picture], { polling: 500, timeout: 10000 });
      await page.selectOption("#background", "000000,000000");
      assert.equal((await page.textContent("#picture-status")).trim(), "");
    } finally {
      rmSync(folder, { recursive: true, force: true });
    }
  });

// Pixels of the frame drawn in target that are exactly [r, g, b].
async function pixelsOf(target, [r, g, b]) {
  return target.evaluate(`(async () => { const data = await ${READ_FRAME}; let n = 0;
    for (let i = 0; i < data.length; i += 4) if (data[i] === ${r} && data[i + 1] === ${g} && data[i + 2] === ${b}) n++;
    return n; })()`);
}

test("a setup naming a sheet where another is loaded lists the named one as missing and never writes the other in its place",
  async () => {
    await withPage(url, async (other) => {
      await dropSheet("squares.png", { cell: 16, columns: 4, rows: 2, colours: ["#ff00ff"], disc: true }, other);
      assert.ok(await pixelsOf(other, [255, 0, 255]) > 0, "the loaded sheet draws");
      const layer = { handle: 1, visible: true, width: 640, height: 480, base: 100, count: 8, rotation: 2, type: 0,
        numof: 40, maxAmp: 40, xSpeed: 1, ySpeed: 1, rate: 255 };
      const petals = { base: 100, count: 8, cell: 16, columns: 4, rows: 2, margin: 0, spacing: 0, name: "petals.png",
        hash: "0123abcd" };
      const setup = { format: "DrawVelora studio setup", version: 1, background: await other.inputValue("#background"),
        layers: [layer], sheets: [petals] };
      await other.setInputFiles("#open-setup", { name: "setup.json", mimeType: "application/json",
        buffer: Buffer.from(JSON.stringify(setup)) });
      await other.waitForFunction(() => document.getElementById("setup-status").textContent.startsWith("Opened"));
      assert.equal(await other.textContent("#setup-status"), "Opened setup.json: 1 layer. Sprites 100–107 belong to " +
        "\"petals.png\" in this setup, not to the loaded \"squares.png\": \"squares.png\" now has sprites 200–207. " +
        "Load the sprite sheet \"petals.png\" again.");
      assert.match(await other.textContent("#sheet-list li.missing"), /^"petals\.png" \(sprites 100–107/);
      assert.equal(await pixelsOf(other, [255, 0, 255]), 0, "the other sheet is not drawn for the named one");
      // Copy, the link and the setup file name petals.png at 100-107.
      const script = await other.textContent("#script");
      assert.ok(script.includes('// sprites 100-107: sheet "petals.png" (0123abcd), 4 x 2 cells') &&
        !script.includes("squares.png"), script);
      await other.waitForFunction(() => location.hash.includes("&sheet=100,8,16,4,2,0,0,0123abcd,petals.png&"));
      assert.ok(!/sheet=100,[^&]*squares/.test(await other.evaluate(() => location.hash)));
      const [download] = await Promise.all([other.waitForEvent("download"), other.click("#save-setup")]);
      const saved = JSON.parse(readFileSync(await download.path(), "utf8"));
      assert.deepEqual(saved.sheets.find((sheet) => sheet.base === 100), petals);
      // A file of that name with other content is refused, and said so.
      await dropSheet("petals.png", { cell: 16, columns: 4, rows: 2, colours: ["#00ffff"], disc: true }, other);
      assert.match(await other.textContent("#sheet-status"),
        /^petals\.png: not the "petals\.png" this setup names \(this file's hash is [0-9a-f]{8}, the setup's 0123abcd\)/);
      assert.equal(await other.locator("#sheet-list li.missing").count(), 1);
      assert.equal(await pixelsOf(other, [0, 255, 255]), 0);
    });
  });

test("a cut link is named as cut and kept through Pause; broken %-codes, overlapping sheets and an image as a setup " +
  "are named", async () => {
  const link = await page.evaluate(() => location.hash.slice(1));
  assert.match(link, /^v=3&.*&end=[0-9a-f]{8}$/);
  const cut = link.slice(0, link.length - 20);
  await withPage(`${url}#${cut}`, async (other) => {
    assert.match(await other.textContent("#setup-status"), /\(the link is cut short; copy the whole link again\)/);
    for (let i = 0; i < 2; ++i) {
      await other.click("#pause");
      await other.waitForTimeout(400);
      assert.equal(await other.evaluate(() => location.hash), `#${cut}`, "Pause and Resume leave the address alone");
    }
  });
  const layer = "layer=3,1,640,480,100,8,2,0,40,40,1,1,170";
  for (const [hash, reason] of [
    [`v=2&bg=000000,000000&${layer}&sheet=100,8,48,4,2,0,0,p%C3tale.png`,
      "the part sheet=100,8,48,4,2,0,0,p%C3tale.png holds a broken %-code"],
    [`v=2&bg=000000,000000&${layer}&sheet=100,8,48,4,2,0,0,a.png&sheet=104,8,48,4,2,0,0,b.png`,
      "the sheets \"a.png\" (sprites 100–107) and \"b.png\" (sprites 104–111) share sprite numbers"]]) {
    await withPage(`${url}#${hash}`, async (other) => {
      const status = await other.textContent("#setup-status");
      assert.ok(status.includes(reason) && !status.includes("\uFFFD"), status);
    });
  }
  const png = Buffer.from("89504e470d0a1a0a0000000d4948445200000001", "hex");
  await page.setInputFiles("#open-setup", { name: "petals.png", mimeType: "image/png", buffer: png });
  await page.waitForFunction(() => document.getElementById("setup-status").textContent.startsWith("petals.png"));
  assert.equal(await page.textContent("#setup-status"),
    "petals.png not opened: it is an image (PNG), not a setup file. The layers are unchanged.");
});

test("a sheet of sprites centred in their cells is cut on its artist's grid, shown in the boxes; a drop anywhere loads", async () => {
  await pasteScript(["Init(1, 640, 480, 0, 32, 4);", "SetType(1, 0);", "Start(1);",
    "Init(2, 640, 480, 64, 8, 1);", "SetType(2, 0);", "Start(2);"].join("\n"));
  await selectLayer(1);
  // Dropped on the page's header, far from the drop zone.
  await dropSheet("centred.png", { cell: 32, columns: 5, rows: 3, colours: ["#ff00ff"], disc: true, margin: 4, spacing: 2,
    on: "header" });
  assert.match(await page.textContent("#sheet-status"), new RegExp("^centred\\.png: 15 sprites of 32 × 32 \\(numbers \\d+–\\d+\\), " +
    "5 × 3 cells, margin 4 px, spacing 2 px, now used by layer 1\\. It replaces sprites 0–31 on layer 1\\. The grid was found"));
  assert.deepEqual(await Promise.all(["cell", "margin", "spacing"].map((key) => page.inputValue(`#sheet-${key}`))), ["32", "4", "2"]);
  assert.match(await page.getAttribute("#sheet-preview", "aria-label"), /5 × 3 cells of 32 px, margin 4 px, spacing 2 px/);
  // A layer moved keeps its sheet under its new number.
  await page.click("#layer-later");
  assert.match(await page.textContent("#sheet-status"), /, now used by layer 2\. It replaces sprites 0–31 on layer 2\./);
  await page.click("#layer-earlier");

  // An SVG is named as such, in both languages; nothing else changes.
  const before = await scriptText();
  await page.evaluate(() => {
    const transfer = new DataTransfer();
    transfer.items.add(new File(['<svg xmlns="http://www.w3.org/2000/svg" width="8" height="8"/>'], "logo.svg",
      { type: "image/svg+xml" }));
    document.body.dispatchEvent(new DragEvent("drop", { dataTransfer: transfer, bubbles: true, cancelable: true }));
  });
  await page.waitForFunction(() => document.getElementById("sheet-status").textContent.startsWith("logo.svg"));
  assert.equal(await page.textContent("#sheet-status"),
    "logo.svg: SVG images are not taken as sprite sheets. Save the sheet as PNG and load that.");
  await page.selectOption("#language", "ja");
  assert.equal(await page.textContent("#sheet-status"),
    "logo.svg: SVG 画像はスプライトシートとして使えません。PNG で保存したものを読み込んでください。");
  await page.selectOption("#language", "en");
  assert.equal(await scriptText(), before);
});

test("an image without gaps asks for S; S, margin and spacing act on the selected layer's sheet only, or say why not", async () => {
  await selectLayer(2);
  const before = await scriptText();
  await dropSheet("photo.png", { cell: 74, columns: 1, rows: 1, colours: ["#00ffff"] });
  assert.match(await page.textContent("#sheet-status"), /^photo\.png \(74 × 74\) has no transparent gaps .* type S/);
  assert.equal(await page.evaluate(() => document.activeElement.id), "sheet-cell");
  assert.equal(await scriptText(), before, "an image without a grid is not cut");
  await page.fill("#sheet-cell", "37");
  assert.match(await page.textContent("#sheet-status"), /^photo\.png: 4 sprites of 37 × 37 .*, now used by layer 2\. It replaces sprites 64–71 on layer 2\.$/);
  const photo = /sheet "photo\.png" \([0-9a-f]{8}\), 2 x 2 cells of 37 x 37 px, row by row\nInit\(2,/;
  assert.match(await scriptText(), photo);

  // Layer 1's boxes are its own sheet's; a change there leaves photo.png as it is.
  await selectLayer(1);
  assert.equal(await page.inputValue("#sheet-cell"), "32");
  await page.fill("#sheet-cell", "30");
  assert.match(await page.textContent("#sheet-status"), /^centred\.png: 15 sprites of 30 × 30 /);
  assert.match(await scriptText(), photo);
  await page.fill("#sheet-cell", "");
  assert.match(await page.textContent("#sheet-status"), /^centred\.png: 15 sprites of 32 × 32 .*, margin 4 px, spacing 2 px\.$/);

  // A layer on a built-in run: the boxes are off, and say why.
  await selectRun("Snow");
  assert.deepEqual(await page.$$eval(".sheet-grid input", (inputs) => inputs.map((input) => input.disabled)), [true, true, true]);
  assert.match(await page.textContent("#sheet-fields-blocked"), /^Layer 1 draws built-in sprites \(64–71\)/);
  // Layers replaced: the status no longer names a layer the sheet was loaded for.
  await dropSheet("last.png", { cell: 16, columns: 2, rows: 1, colours: ["#ffffff"], disc: true });
  assert.match(await page.textContent("#sheet-status"), /, now used by layer 1\. It replaces sprites 64–71 on layer 1\./);
  await pasteScript("Init(3, 640, 480, 0, 32, 4);\nStart(3);");
  assert.doesNotMatch(await page.textContent("#sheet-status"), /layer/);
  assert.equal(await page.isDisabled("#sheet-cell"), true);
});

test("a pasted script runs as in the engine: no Start draws nothing, a later SetNumof waits, comments stay", async () => {
  const before = await scriptText();
  const pasted = [
    "// 作者：さくら", "// 奥の層：ゆっくり降る花びら",
    "Init(3, 640, 480, 0, 32, 4);", "SetNumof(3, 60);", "Start(3);", "SetNumof(3, 5);  // 次の Start で 5 個",
    "// the engine draws handle 3 with rate 200 each frame",
    "// 手前の層：まだ Start しない", "Init(4, 320, 240, 0, 32, 4);", "SetNumof(4, 30);",
    "// the engine draws handle 4 with rate 255 each frame", "// おわり",
  ].join("\n");
  try {
    assert.match(await pasteScript(pasted), /^Rebuilt 2 layers from the script\./);
    // Handle 4 has its Init and setters but no Start: it draws nothing, and says so.
    assert.equal((await layerCallRange(1, 5)).high, 0);
    assert.ok((await warningKinds()).includes("2:start"), (await warningKinds()).join(" "));
    assert.match(await page.textContent("#warnings"), /never calls Start\(4\)/);
    await selectLayer(2);
    assert.match(await page.textContent("#restart-hint"), /^Not started/);
    // Handle 3 draws what its Start spawned; the later SetNumof waits for the next Start.
    assert.ok((await layerCallRange(0, 5)).high > 20);
    await selectLayer(1);
    assert.match(await page.textContent("#restart-hint"), /numof 5 applies at the next Start \(now 60 particles\)/);
    const script = await scriptText();
    assert.ok(script.includes("// Layer 1, handle 3 (drawn first, furthest back)\n// 作者：さくら\n// 奥の層：ゆっくり降る花びら\n" +
      "// 次の Start で 5 個\nInit(3, 640, 480, 0, 32, 4);\nSetType(3, 0);\nSetNumof(3, 60);\n"), script);
    assert.ok(script.includes("Start(3);\nSetNumof(3, 5);\n"), script);
    assert.ok(script.includes("// Layer 2, handle 4 (drawn last, in front)\n// 手前の層：まだ Start しない\n// おわり\n" +
      "Init(4, 320, 240, 0, 32, 4);"), script);
    assert.doesNotMatch(script, /Start\(4\)/, "Copy writes no Start the script did not have");
    // Copy's text pasted back gives the same layers, comments and all.
    assert.match(await pasteScript(script), /^Rebuilt 2 layers from the script\./);
    assert.equal(await scriptText(), script);

    // Restart starts the layer never started, and then the script holds its Start.
    await selectLayer(2);
    await page.click("#restart");
    assert.ok((await layerCallRange(1, 5)).high > 0, "the started layer draws");
    assert.equal(await page.textContent("#restart-hint"), "");
    assert.ok(!(await warningKinds()).includes("2:start"));
    assert.match(await scriptText(), /SetYSpeed\(4, 1\.0\);\nStart\(4\);\n/);
  } finally {
    assert.match(await pasteScript(before), /^Rebuilt/);
  }
});

test("no console error or warning came up during the session", () => {
  assert.deepEqual(problems, []);
});
