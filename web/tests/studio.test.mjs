// End-to-end tests of the studio page in Debian's headless Chromium.
//
// run_browser_tests.py serves the built page and sets STUDIO_URL, STUDIO_WORK
// (where `npm ci` put playwright-core; the screenshot goes there too) and
// CHROMIUM. The tests share one page and run in order, as an author would
// use it: look, change numof and restart, try the modes, read the script,
// drop a sprite sheet, add a layer.
import { after, before, test } from "node:test";
import assert from "node:assert/strict";
import { mkdtempSync, rmSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import path from "node:path";

const url = process.env.STUDIO_URL;
const work = process.env.STUDIO_WORK;
const chromiumPath = process.env.CHROMIUM || "/usr/bin/chromium";
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
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
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

async function layerDrawCalls() {
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

// The canvas's pixels, read through a copy made for reading (reading the
// page's own canvas back again and again would make Chromium warn).
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

// Keeps a copy of the canvas's pixels in the page under name.
async function shot(name) {
  await page.evaluate(`(window.testShots ??= {})[${JSON.stringify(name)}] = ${READ_STAGE}; true`);
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

async function scriptText() {
  return page.textContent("#script");
}

// ---- Tests ---------------------------------------------------------------------

test("the page loads the plug-in and draws both opening layers, with no console error", async () => {
  await waitFrames(60);
  const [behind, front] = await layerDrawCalls();
  // 70 small and 22 large petals; a few may be just outside the field.
  assert.ok(behind > 50 && behind <= 70, `layer 1 drew ${behind} sprites`);
  assert.ok(front > 14 && front <= 22, `layer 2 drew ${front} sprites`);
  const readout = await page.textContent("#readout");
  assert.match(readout, /Frame \d+\.\d\d ms of work · every \d+\.\d ms \(\d+ fps\) · \d+ sprites drawn/);
  await page.screenshot({ path: SCREENSHOT, fullPage: true });
  assert.deepEqual(problems, []);
});

test("the canvas changes from frame to frame", async () => {
  await shot("before");
  await waitFrames(6);
  await shot("after");
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
  await page.evaluate(() => {
    const { module } = window.veloraStudio;
    module._CreateInterface(0);  // a null GUID
    const guid = module._malloc(16);
    module.HEAPU8.fill(0x11, guid, guid + 16);  // a GUID the plug-in does not know
    module._CreateInterface(guid);
    module._free(guid);
  });
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
  // Released: drawing its handle now draws nothing.
  assert.equal(await page.evaluate(() => window.veloraStudio.module._velora_studio_draw(3, 255)), 0);
});

test("no console error or warning came up during the session", () => {
  assert.deepEqual(problems, []);
});
