// The single studio file from the unpacked release zip, opened from disk
// (file://) in Debian's Chromium (playwright-core) and Firefox ESR
// (puppeteer-core over WebDriver BiDi), each in English and in Japanese: a
// script author's everyday flow, nothing loaded from anywhere, and the time
// from navigation to the first drawn frame.
//
// run_file_tests.py sets STUDIO_FILE, STUDIO_WORK (node_modules), STUDIO_TEMP
// (also TMPDIR: profiles, downloads; removed afterwards), SHEET (a PNG sprite
// sheet), CHROMIUM, FIREFOX, and TRAP_PORT with TRAP_LOG: a socket that each
// browser takes as its proxy and that logs whatever connects to it.
//
// The checks hold in either language: element ids, the script text, the
// canvas's data attributes. In Japanese, at the end of the flow (every
// status line said), a scan finds no word left in English (untranslated.mjs),
// and the switch to English leaves nothing in Japanese.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { existsSync, mkdtempSync, readFileSync, rmSync, statSync } from "node:fs";
import { createRequire } from "node:module";
import path from "node:path";
import { pathToFileURL } from "node:url";
import { englishWords, pageTexts } from "./untranslated.mjs";

const { STUDIO_FILE, STUDIO_WORK, STUDIO_TEMP, SHEET, TRAP_PORT, TRAP_LOG } = process.env;
if (!STUDIO_FILE || !STUDIO_WORK || !STUDIO_TEMP || !TRAP_PORT) {
  throw new Error("run through run_file_tests.py (STUDIO_FILE, STUDIO_WORK, STUDIO_TEMP, TRAP_PORT unset)");
}
const load = createRequire(path.join(STUDIO_WORK, "package.json"));
const { chromium } = load("playwright-core");
const puppeteer = load("puppeteer-core");

const FILE_URL = pathToFileURL(STUDIO_FILE).href;
const VIEWPORT = { width: 1280, height: 1040 };
const PROXY = `127.0.0.1:${TRAP_PORT}`;

// Records, in every document, when the canvas first shows a drawn frame
// (performance.now() counts from the navigation).
function watchFirstFrame() {
  new MutationObserver((_, observer) => {
    if (Number(document.getElementById("stage")?.dataset.frames) >= 1) {
      window.veloraFirstFrame = performance.now();
      observer.disconnect();
    }
  }).observe(document, { subtree: true, attributes: true, attributeFilter: ["data-frames"] });
}

// ---- The two browsers behind one set of calls ------------------------------------

async function openChromium(lang) {
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM,
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
      "--disable-component-update", "--disable-sync", `--lang=${lang}`],
  });
  // The proxy is the context's: the page and its worker load through it.
  // Chromium's own services (component updates, network time, sign-in) use
  // the browser's network context, and would reach a browser-wide proxy on
  // their own, page or no page.
  const context = await browser.newContext({
    locale: lang === "ja" ? "ja-JP" : "en-US",
    viewport: VIEWPORT,
    acceptDownloads: true,
    proxy: { server: `http://${PROXY}`, bypass: "<-loopback>" },
  });
  await context.addInitScript(watchFirstFrame);
  const page = await context.newPage();
  const session = { name: "chromium", requests: [], problems: [] };
  context.on("request", (request) => session.requests.push(request.url()));
  page.on("console", (message) => {
    if (["error", "warning"].includes(message.type())) session.problems.push(`${message.type()}: ${message.text()}`);
  });
  page.on("pageerror", (error) => session.problems.push(`page error: ${error.message}`));
  return Object.assign(session, {
    goto: (address) => page.goto(address),
    click: (selector) => page.click(selector),
    select: (selector, value) => page.selectOption(selector, value),
    evaluate: (fn, arg) => page.evaluate(fn, arg),
    waitFor: (fn, arg, timeout = 30000) => page.waitForFunction(fn, arg, { timeout }),
    setFile: (selector, file) => page.setInputFiles(selector, file),
    async download(selector) {
      const [download] = await Promise.all([page.waitForEvent("download"), page.click(selector)]);
      const saved = path.join(STUDIO_TEMP, `chromium-${lang}-${download.suggestedFilename()}`);
      await download.saveAs(saved);
      return saved;
    },
    paste: () => page.keyboard.press("Control+V"),
    viewport: (width, height) => page.setViewportSize({ width, height }),
    close: () => browser.close(),
  });
}

async function openFirefox(lang) {
  const profile = mkdtempSync(path.join(STUDIO_TEMP, "firefox-"));
  const downloads = mkdtempSync(path.join(STUDIO_TEMP, "firefox-downloads-"));
  const [host, port] = PROXY.split(":");
  const browser = await puppeteer.launch({
    browser: "firefox",
    executablePath: process.env.FIREFOX,
    headless: true,
    userDataDir: profile,
    defaultViewport: VIEWPORT,
    // Lets the profile point the browser's own remote settings at nothing,
    // which a release build otherwise fetches from its server.
    env: { ...process.env, MOZ_REMOTE_SETTINGS_DEVTOOLS: "1" },
    extraPrefsFirefox: {
      "intl.accept_languages": lang,
      // As a person's Firefox has it (the driver relaxes it): each file is
      // an origin of its own.
      "security.fileuri.strict_origin_policy": true,
      "network.proxy.type": 1,
      "network.proxy.http": host,
      "network.proxy.http_port": Number(port),
      "network.proxy.ssl": host,
      "network.proxy.ssl_port": Number(port),
      "network.proxy.no_proxies_on": "",
      "network.proxy.allow_hijacking_localhost": true,
      "network.trr.mode": 5,
      "browser.download.folderList": 2,
      "browser.download.dir": downloads,
      "browser.download.useDownloadDir": true,
      "browser.download.always_ask_before_handling_new_types": false,
      "browser.download.alwaysOpenPanel": false,
    },
  });
  const page = (await browser.pages())[0] ?? (await browser.newPage());
  await page.evaluateOnNewDocument(watchFirstFrame);
  const session = { name: "firefox", requests: [], problems: [] };
  page.on("request", (request) => session.requests.push(request.url()));
  page.on("console", (message) => {
    if (["error", "warn"].includes(message.type())) session.problems.push(`${message.type()}: ${message.text()}`);
  });
  page.on("pageerror", (error) => session.problems.push(`page error: ${error.message}`));
  return Object.assign(session, {
    goto: (address) => page.goto(address),
    click: (selector) => page.click(selector),
    select: (selector, value) => page.select(selector, value),
    evaluate: (fn, arg) => page.evaluate(fn, arg),
    waitFor: (fn, arg, timeout = 30000) => page.waitForFunction(fn, { timeout }, arg),
    setFile: async (selector, file) => (await page.$(selector)).uploadFile(file),
    // Firefox saves into the profile's download folder: an empty file of
    // the name at once, the data in NAME.part, renamed over it when complete.
    async download(selector) {
      const saved = path.join(downloads, "drawvelora-setup.json");
      rmSync(saved, { force: true });
      await page.click(selector);
      const done = () => existsSync(saved) && statSync(saved).size > 0 && !existsSync(`${saved}.part`);
      for (let i = 0; i < 200 && !done(); ++i) await new Promise((resolve) => setTimeout(resolve, 50));
      assert.ok(done(), `Firefox saved no ${saved}`);
      return saved;
    },
    async paste() {
      await page.keyboard.down("Control");
      await page.keyboard.press("v");
      await page.keyboard.up("Control");
    },
    viewport: (width, height) => page.setViewport({ width, height }),
    close: () => browser.close(),
  });
}

// ---- Helpers -------------------------------------------------------------------------

async function waitFrames(b, count) {
  const target = Number(await b.evaluate(() => document.getElementById("stage")?.dataset.frames ?? 0)) + count;
  await b.waitFor((n) => Number(document.getElementById("stage")?.dataset.frames) >= n, target);
}

function scriptText(b) {
  return b.evaluate(() => document.getElementById("script").textContent);
}

async function waitScriptLine(b, line) {
  await b.waitFor((wanted) => document.getElementById("script").textContent.split("\n").includes(wanted), line);
}

function proxyLog() {
  return existsSync(TRAP_LOG) ? readFileSync(TRAP_LOG, "utf8").split("\n").filter(Boolean) : [];
}

// ---- The flow, in each browser and language ------------------------------------------

const BROWSERS = { chromium: openChromium, firefox: openFirefox };

for (const [browserName, open] of Object.entries(BROWSERS)) {
  for (const lang of ["en", "ja"]) {
    describe(`${browserName}, browser language ${lang}`, () => {
      let b;
      let proxied;  // the proxy log's lines before this browser
      before(async () => {
        proxied = proxyLog().length;
        b = await open(lang);
      });
      after(async () => { await b?.close(); });

      test("opens from disk, draws, and says how long the first frame took", async (t) => {
        await b.goto(FILE_URL);
        await waitFrames(b, 5);
        const [first, language] = await b.evaluate(() => [window.veloraFirstFrame, navigator.language]);
        assert.ok(language.startsWith(lang), `the browser's language is ${language}`);
        assert.ok(first > 0, "no first frame was seen");
        t.diagnostic(`${browserName} (${lang}): first frame ${Math.round(first)} ms after navigation`);
      });

      test("a setting changed, a layer added, a sheet loaded from disk", async () => {
        await b.select("#layer-type", "1");  // the selected layer is the last, handle 2
        await waitScriptLine(b, "SetType(2, 1);");
        await b.click("#add-layer");
        await waitScriptLine(b, "Init(3, 640, 480, 64, 8, 1);");
        await b.setFile("#sheet-file", SHEET);
        await waitScriptLine(b, "Init(3, 640, 480, 100, 3, 1);");
        await b.waitFor(() => Number(document.getElementById("stage").dataset.layerDrawCalls.split(",")[2]) > 0);
      });

      test("Copy puts the script on the clipboard", async () => {
        await b.click("#copy-script");
        await b.waitFor(() => document.getElementById("copy-status").textContent !== "");
        await b.click("#paste-box summary");
        await b.evaluate(() => {
          const box = document.getElementById("paste-script");
          box.value = "";
          box.focus();
        });
        await b.paste();
        const [pasted, script] = await b.evaluate(() =>
          [document.getElementById("paste-script").value, document.getElementById("script").textContent]);
        assert.ok(script.includes("Init(3, 640, 480, 100, 3, 1);"));
        assert.equal(pasted, script);
      });

      test("a saved setup file opens again", async () => {
        const before = await scriptText(b);
        const saved = await b.download("#save-setup");
        assert.equal(JSON.parse(readFileSync(saved, "utf8")).format, "DrawVelora studio setup");
        await b.click("#add-layer");
        assert.notEqual(await scriptText(b), before);
        await b.setFile("#open-setup", saved);
        await b.waitFor((text) => document.getElementById("script").textContent === text, before);
      });

      test("the link (the address's # part) brings the setup back", async () => {
        const before = await scriptText(b);
        await b.waitFor(() => location.hash.split("&layer=").length === 4);  // three layers
        const link = await b.evaluate(() => location.href);
        assert.ok(link.startsWith(`${FILE_URL}#v=`), link);
        await b.goto("about:blank");
        await b.goto(link);
        await waitFrames(b, 3);
        assert.equal(await scriptText(b), before);
      });

      test("Record makes a two-second video", async () => {
        await b.select("#record-seconds", "2");
        await b.click("#record");
        await b.waitFor(() => !document.getElementById("record-link").hidden, undefined, 40000);
        const bytes = await b.evaluate(() => Number(document.getElementById("record-link").dataset.bytes));
        assert.ok(bytes > 1000, `the video has ${bytes} bytes`);
      });

      test("at 360 px wide nothing scrolls sideways", async () => {
        await b.viewport(360, 740);
        try {
          await b.waitFor(() => window.innerWidth === 360);
          const [scroll, client] = await b.evaluate(() =>
            [document.documentElement.scrollWidth, document.documentElement.clientWidth]);
          assert.ok(scroll <= client, `the page is ${scroll} px wide in a ${client} px window`);
        } finally {
          await b.viewport(VIEWPORT.width, VIEWPORT.height);
        }
      });

      if (lang === "en") {
        test("the scan for untranslated words finds the English page English, and skips translate=\"no\"", async () => {
          const found = englishWords(await b.evaluate(pageTexts));
          const words = new Set(found.flatMap((text) => text.words));
          for (const word of ["Pause", "Layers", "Record", "Warnings", "Copy"]) {
            assert.ok(words.has(word), `the scan missed "${word}"`);
          }
          assert.ok(found.some((text) => text.where.startsWith("#warnings-panel")));
          await b.evaluate(() => document.getElementById("warnings-panel").setAttribute("translate", "no"));
          const skipped = await b.evaluate(pageTexts);
          await b.evaluate(() => document.getElementById("warnings-panel").removeAttribute("translate"));
          assert.deepEqual(skipped.filter((text) => text.where.startsWith("#warnings")), []);
        });
      } else {
        test("no word of the page is left in English, and the switch brings English back everywhere", async () => {
          assert.equal(await b.evaluate(() => document.documentElement.lang), "ja");
          assert.deepEqual(englishWords(await b.evaluate(pageTexts)), []);
          await b.select("#language", "en");
          assert.equal(await b.evaluate(() => document.documentElement.lang), "en");
          const japanese = (await b.evaluate(pageTexts)).filter(({ text }) => /[\u3040-\u30ff\u4e00-\u9fff]/.test(text));
          assert.deepEqual(japanese, [], "texts left in Japanese after the switch to English");
        });
      }

      test("nothing was loaded but the file and the blob: and data: addresses it made; no console error", () => {
        const foreign = b.requests.filter((address) =>
          address.split("#")[0] !== FILE_URL && address !== "about:blank" && !/^(blob|data):/.test(address));
        assert.deepEqual(foreign, []);
        assert.deepEqual(proxyLog().slice(proxied), [], "the browser connected to the proxy socket");
        assert.deepEqual(b.problems, []);
      });
    });
  }
}
