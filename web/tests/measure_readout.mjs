// Measures the studio's readout under a heavy scene: the opening's front
// layer (large petals) at 5 000 particles in mode 0, the back layer hidden.
// A measurement to run by hand, not a test: it asserts nothing.
//
//   node web/tests/measure_readout.mjs <built studio folder> [seconds]
//
// Needs playwright-core (`npm ci` in web/) and Debian's Chromium
// (CHROMIUM=/usr/bin/chromium by default). Serves the folder on a free port
// of 127.0.0.1, lets the page run, then samples the readout twice a second
// and prints the median work per frame, frame interval and rate.
import { createReadStream, existsSync, mkdtempSync, rmSync, statSync } from "node:fs";
import { createServer } from "node:http";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

const [studio, secondsText = "10"] = process.argv.slice(2);
if (!studio || !existsSync(path.join(studio, "index.html"))) {
  console.error("usage: node measure_readout.mjs <built studio folder with index.html> [seconds]");
  process.exit(2);
}
const seconds = Number(secondsText);
if (!(seconds > 0)) {
  console.error(`seconds must be a positive number, not "${secondsText}"`);
  process.exit(2);
}
const here = path.dirname(fileURLToPath(import.meta.url));
const { chromium } = createRequire(path.join(here, "..", "package.json"))("playwright-core");

const root = path.resolve(studio);
const types = { ".html": "text/html", ".js": "text/javascript", ".css": "text/css", ".wasm": "application/wasm" };
const server = createServer((request, response) => {
  const name = decodeURIComponent(new URL(request.url, "http://localhost").pathname);
  const file = path.join(root, name.endsWith("/") ? `${name}index.html` : name);
  if (!file.startsWith(root) || !existsSync(file) || !statSync(file).isFile()) {
    response.writeHead(404).end();
    return;
  }
  response.writeHead(200, { "Content-Type": types[path.extname(file)] ?? "application/octet-stream" });
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
try {
  const page = context.pages()[0] ?? (await context.newPage());
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
    const match = /Frame ([\d.]+) ms of work · every ([\d.]+) ms \((\d+) fps\) · (\d+) sprites/.exec(text);
    if (match) samples.push(match.slice(1).map(Number));
  }
  if (samples.length === 0) throw new Error("the readout never showed a frame rate");
  const median = (k) => samples.map((s) => s[k]).sort((a, b) => a - b)[Math.floor(samples.length / 2)];
  console.log(`${studio}: ${samples.length} readings, median ${median(0).toFixed(2)} ms of work a frame, ` +
    `every ${median(1).toFixed(1)} ms (${median(2)} fps), ${median(3)} sprites drawn`);
} finally {
  await context.close();
  server.close();
  rmSync(profile, { recursive: true, force: true });
}
