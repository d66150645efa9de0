// Measures the studio's readout under a heavy scene: the opening's front
// layer (large petals) at 5 000 particles in mode 0, the back layer hidden.
// A measurement to run by hand, not a test: it asserts nothing. Given two
// or more folders (say, the studio before and after a change), it measures
// them in turn, twice over, in one run.
//
//   node tests/studio/measure_readout.mjs <built studio folder>... [seconds]
//
// Needs playwright-core (`npm ci` in studio/) and Debian's Chromium
// (CHROMIUM=/usr/bin/chromium by default). Serves the folder on a free port
// of 127.0.0.1, lets the page run, then samples the readout twice a second
// and prints the median work per frame, frame interval and rate.
import { createReadStream, existsSync, mkdtempSync, rmSync, statSync } from "node:fs";
import { createServer } from "node:http";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

const given = process.argv.slice(2);
const secondsText = given.length > 1 && /^[\d.]+$/.test(given.at(-1)) ? given.pop() : "10";
const studios = given;
if (studios.length === 0 || studios.some((studio) => !existsSync(path.join(studio, "index.html")))) {
  console.error("usage: node measure_readout.mjs <built studio folder with index.html>... [seconds]");
  process.exit(2);
}
const seconds = Number(secondsText);
if (!(seconds > 0)) {
  console.error(`seconds must be a positive number, not "${secondsText}"`);
  process.exit(2);
}
const here = path.dirname(fileURLToPath(import.meta.url));
const { chromium } = createRequire(path.join(here, "..", "package.json"))("playwright-core");

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

const profile = mkdtempSync(path.join(tmpdir(), "velora-measure-"));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  headless: true,
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", "--no-first-run"],
  viewport: { width: 1280, height: 1040 },
});
async function measure(studio) {
  root = path.resolve(studio);
  const page = await context.newPage();
  await page.goto(`http://127.0.0.1:${server.address().port}/`);
  await page.waitForFunction(() => /fps/.test(document.getElementById("readout")?.textContent ?? ""), null,
    { timeout: 60000 });
  // Back layer hidden; front layer: mode 0, 5 000 particles, started again.
  await page.click("#layer-tabs button:nth-child(1)");
  await page.uncheck("#layer-visible");
  await page.click("#layer-tabs button:nth-child(2)");
  await page.selectOption("#layer-type", "0");
  await page.fill("#layer-numof", "5000");
  await page.click("#restart");
  await page.waitForTimeout(3000);

  const samples = [];
  for (let i = 0; i < seconds * 2; ++i) {
    await page.waitForTimeout(500);
    const text = await page.textContent("#readout");
    // Earlier studios said "N sprites drawn", later ones "N drawing calls".
    const match = /Frame ([\d.]+) ms of work · every ([\d.]+) ms \(([\d.]+) fps\) · ([\d ]+) (sprites|drawing)/.exec(text);
    if (match) samples.push(match.slice(1, 5).map((value) => Number(value.replaceAll(" ", ""))));
  }
  if (samples.length === 0) throw new Error("the readout never showed a frame rate");
  const median = (k) => samples.map((s) => s[k]).sort((a, b) => a - b)[Math.floor(samples.length / 2)];
  console.log(`${studio}: ${samples.length} readings, median ${median(0).toFixed(2)} ms of work a frame, ` +
    `every ${median(1).toFixed(1)} ms (${median(2)} fps), ${median(3)} drawing calls`);
  await page.close();
}

try {
  for (let round = 0; round < (studios.length > 1 ? 2 : 1); ++round) {
    for (const studio of studios) await measure(studio);
  }
} finally {
  await context.close();
  server.close();
  rmSync(profile, { recursive: true, force: true });
}
