// Measures the studio's readout under heavy scenes, for one or more builds
// of the studio in one run: the opening's front layer (the large petals,
// rate 255) alone, the back layer hidden, at these counts and modes:
//   mode 0 at 1 000, 5 000 and 20 000; mode 3 at 1 000 and 5 000.
// A measurement to run by hand, not a test: it asserts nothing. Given two
// or more folders (say, the studio before and after a change), it measures
// them in turn, twice over (the second round in the other order, so that a
// load that drifts weighs on both alike), and prints each scene's median
// work per frame and rate, and each build's work as a ratio to the first's.
//
//   node tests/studio/measure_readout.mjs [--firefox] [--seconds S] [--scenes 0:5000,3:1000]
//        [--modules DIR] <built studio folder>...
//
// Needs playwright-core and puppeteer-core (`npm ci` in studio/, or in the
// folder --modules names) and Debian's
// Chromium (CHROMIUM=/usr/bin/chromium by default) or, with --firefox,
// Firefox ESR (FIREFOX=/usr/bin/firefox-esr). Serves each folder on a free
// port of 127.0.0.1 and samples the readout twice a second.
import { createReadStream, existsSync, mkdtempSync, rmSync, statSync } from "node:fs";
import { createServer } from "node:http";
import { createRequire } from "node:module";
import { loadavg, tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { parseArgs } from "node:util";

const usage = "usage: node measure_readout.mjs [--firefox] [--seconds S] [--scenes MODE:COUNT,...] [--modules DIR] <studio folder>...";
let options;
try {
  options = parseArgs({
    allowPositionals: true,
    options: {
      firefox: { type: "boolean", default: false },
      seconds: { type: "string", default: "8" },
      scenes: { type: "string", default: "0:1000,0:5000,0:20000,3:1000,3:5000" },
      modules: { type: "string" },
    },
  });
} catch (error) {
  console.error(`${error.message}\n${usage}`);
  process.exit(2);
}
const studios = options.positionals;
const seconds = Number(options.values.seconds);
const scenes = options.values.scenes.split(",").map((text) => {
  const [mode, count] = text.split(":").map(Number);
  return { mode, count, text };
});
const missing = studios.find((studio) => !existsSync(path.join(studio, "index.html")));
if (studios.length === 0 || missing !== undefined) {
  console.error(missing ? `${missing}: no index.html here (a built studio folder is wanted)` : usage);
  process.exit(2);
}
if (!(seconds > 0) || scenes.some(({ mode, count }) => !Number.isInteger(mode) || !(count >= 0))) {
  console.error(`--seconds must be above 0 and --scenes a list of MODE:COUNT\n${usage}`);
  process.exit(2);
}

const here = path.dirname(fileURLToPath(import.meta.url));
const load = createRequire(path.join(options.values.modules ?? path.join(here, "..", "..", "studio"), "package.json"));

let root = "";
const types = { ".html": "text/html", ".js": "text/javascript", ".css": "text/css", ".wasm": "application/wasm" };
const server = createServer((request, response) => {
  const name = decodeURIComponent(new URL(request.url, "http://localhost").pathname);
  const file = path.join(root, name.endsWith("/") ? `${name}index.html` : name);
  if (!file.startsWith(root) || !existsSync(file) || !statSync(file).isFile()) {
    response.writeHead(404).end();
    return;
  }
  response.writeHead(200, { "Content-Type": types[path.extname(file)] ?? "application/octet-stream", "Cache-Control": "no-store" });
  createReadStream(file).pipe(response);
});
await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));

// One browser for the whole run; its pages answer evaluate() alike, so the
// page is driven through the DOM the same way in both.
const profile = mkdtempSync(path.join(tmpdir(), "velora-measure-"));
let browser;
let newPage;
if (options.values.firefox) {
  browser = await load("puppeteer-core").launch({
    browser: "firefox",
    executablePath: process.env.FIREFOX || "/usr/bin/firefox-esr",
    headless: true,
    userDataDir: profile,
    defaultViewport: { width: 1280, height: 1040 },
    extraPrefsFirefox: { "intl.accept_languages": "en-US" },
  });
  newPage = () => browser.newPage();
} else {
  browser = await load("playwright-core").chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    headless: true,
    locale: "en-US",
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
      "--disable-component-update", "--disable-sync", "--no-first-run"],
    viewport: { width: 1280, height: 1040 },
  });
  newPage = () => browser.newPage();
}
const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Sets a control as a person would, with the events the page listens to.
function set(page, id, value) {
  return page.evaluate(([id, value]) => {
    const control = document.getElementById(id);
    if (control.type === "checkbox") control.checked = value;
    else control.value = String(value);
    control.dispatchEvent(new Event("input", { bubbles: true }));
    control.dispatchEvent(new Event("change", { bubbles: true }));
  }, [id, value]);
}
const click = (page, selector) => page.evaluate((selector) => document.querySelector(selector).click(), selector);
const readout = (page) => page.evaluate(() => document.getElementById("readout")?.textContent ?? "");

// Each scene's median work per frame (ms), frame interval and rate, for one studio.
async function measure(studio) {
  root = path.resolve(studio);
  const page = await newPage();
  await page.goto(`http://127.0.0.1:${server.address().port}/`);
  for (let waited = 0; !/fps/.test(await readout(page)); waited += 250) {
    if (waited > 60000) throw new Error(`${studio}: the page never showed a frame rate`);
    await pause(250);
  }
  await click(page, "#layer-tabs button:nth-child(1)");
  await set(page, "layer-visible", false);
  await click(page, "#layer-tabs button:nth-child(2)");
  const results = [];
  for (const scene of scenes) {
    await set(page, "layer-type", scene.mode);
    await set(page, "layer-numof", scene.count);
    await click(page, "#restart");
    await pause(3000);
    const samples = [];
    for (let i = 0; i < seconds * 2; ++i) {
      await pause(500);
      const match = /Frame ([\d.]+) ms of work · every ([\d.]+) ms \(([\d.]+) fps\)/.exec(await readout(page));
      if (match) samples.push(match.slice(1, 4).map(Number));
    }
    if (samples.length === 0) throw new Error(`${studio}, scene ${scene.text}: the readout never showed a frame rate`);
    const median = (k) => samples.map((s) => s[k]).sort((a, b) => a - b)[Math.floor(samples.length / 2)];
    results.push({ work: median(0), interval: median(1), fps: median(2) });
    console.log(`${studio} · mode ${scene.mode}, ${scene.count} particles: median ${median(0).toFixed(2)} ms of work a ` +
      `frame, every ${median(1).toFixed(1)} ms (${median(2)} fps), ${samples.length} readings, load ${loadavg()[0].toFixed(2)}`);
  }
  await page.close();
  return results;
}

try {
  console.log(`${options.values.firefox ? "Firefox" : "Chromium"}, load ${loadavg().map((l) => l.toFixed(2)).join(" ")}`);
  const runs = studios.map(() => []);
  const rounds = studios.length > 1 ? 2 : 1;
  for (let round = 0; round < rounds; ++round) {
    const order = studios.map((_, i) => i);
    if (round % 2 === 1) order.reverse();
    for (const i of order) runs[i].push(await measure(studios[i]));
  }
  // The median over rounds is their mean for two; one round is itself.
  const work = runs.map((rounds) => scenes.map((_, s) => rounds.reduce((sum, r) => sum + r[s].work, 0) / rounds.length));
  const fps = runs.map((rounds) => scenes.map((_, s) => rounds.reduce((sum, r) => sum + r[s].fps, 0) / rounds.length));
  console.log("\nscene (mode:count) · " + studios.map((s, i) => `work ms, fps [${i + 1}]`).join(" · ") +
    (studios.length > 1 ? " · work ratio to [1]" : ""));
  scenes.forEach((scene, s) => {
    const cells = studios.map((_, i) => `${work[i][s].toFixed(2)}, ${fps[i][s].toFixed(1)}`);
    const ratios = studios.slice(1).map((_, i) => (work[i + 1][s] / work[0][s]).toFixed(2));
    console.log(`${scene.text.padEnd(8)} · ${cells.join(" · ")}${ratios.length ? ` · ${ratios.join(" · ")}` : ""}`);
  });
  studios.forEach((studio, i) => console.log(`[${i + 1}] ${studio}`));
  console.log(`load at the end ${loadavg().map((l) => l.toFixed(2)).join(" ")}`);
} finally {
  await browser.close();
  server.close();
  rmSync(profile, { recursive: true, force: true });
}
