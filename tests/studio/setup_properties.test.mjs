// The studio's link and setup-file readers fed what strangers hand a person
// (a link in a chat, a downloaded setup file): random text and bytes, and
// real links and setups the studio writes, then damaged. Whatever comes in
// is refused with a reason from the catalogs (a StudioError the page words
// in English and Japanese), or opens a setup that is written again and read
// back the same: as a setup file, and as a link (which carries everything
// but the author's comments). Nothing else is thrown.
//
// Catches: a reader that throws a TypeError on a value of the wrong type
// (sheets or layers that are not lists), a number or name written so that
// it reads back otherwise (a float's digits, a comma, "&" or "%" in a
// sheet's or picture's name), a link's check that misses a change, and a
// refusal whose key is missing from a catalog.
//
// Each property runs for VELORA_PROPERTY_SECONDS (default 4) seconds;
// VELORA_PROPERTY_SEED repeats a run (fast-check prints the seed of a
// failure). fast-check comes from the studio's packages: STUDIO_NODE_MODULES
// names the node_modules folder (default studio/node_modules).
//   STUDIO_NODE_MODULES=build/native/studio-node/node_modules node --test tests/studio/setup_properties.test.mjs
import { after, test } from "node:test";
import assert from "node:assert/strict";
import { createRequire } from "node:module";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { readAddress, readSetupFile, setupAddress, setupFileText, setupValue } from "../../studio/page/setup.js";
import { CATALOGS, StudioError, format } from "../../studio/page/i18n.js";
import { LAYER_KEYS, LIMITS, MAX_PARTICLES, SHEET_BASE } from "../../studio/page/settings.js";

const here = path.dirname(fileURLToPath(import.meta.url));
const modules = path.resolve(process.env.STUDIO_NODE_MODULES ?? path.join(here, "../../studio/node_modules"));
const fc = createRequire(path.join(path.dirname(modules), "package.json"))("fast-check");

const BACKGROUNDS = ["141a3c,6a4c78", "000000,000000"];
const SECONDS = Number(process.env.VELORA_PROPERTY_SECONDS ?? 4);
const SEED = process.env.VELORA_PROPERTY_SEED === undefined ? undefined : Number(process.env.VELORA_PROPERTY_SEED);
const runs = { interruptAfterTimeLimit: SECONDS * 1000, markInterruptAsFailure: false, numRuns: 1e9, seed: SEED };
const counts = {};  // inputs tried, opened and refused, by property

// A refusal: a StudioError whose key each catalog words with the values given.
function assertRefusal(error) {
  if (!(error instanceof StudioError)) throw error;
  for (const lang of Object.keys(CATALOGS)) {
    const words = format(lang, error.key, error.values);
    assert.ok(words.length > 0, `${error.key} says nothing in ${lang}`);
  }
}

// The setup read again from what the studio writes of it: the file gives
// it back whole, the link all but the author's comments.
function assertRoundTrip(setup) {
  const file = JSON.stringify(setupValue(setup), null, 2);
  assert.deepEqual(readSetupFile(file, BACKGROUNDS), setup, `written as a file:\n${file}`);
  const link = setupAddress(setup);
  const withoutComments = { ...setup, layers: setup.layers.map((layer) => ({ ...layer, comments: [] })) };
  assert.deepEqual(readAddress(link, BACKGROUNDS), withoutComments, `written as a link: ${link}`);
}

// Opens the input (or refuses it) and, when it opens, holds the setup to the round trip.
function openOrRefuse(name, open, input) {
  counts[name] ??= { tried: 0, opened: 0 };
  ++counts[name].tried;
  let setup;
  try {
    setup = open(input);
  } catch (error) {
    assertRefusal(error);
    return;
  }
  ++counts[name].opened;
  assertRoundTrip(setup);
}

const openLink = (text) => readAddress(text, BACKGROUNDS);
const openFile = (text) => readSetupFile(text, BACKGROUNDS);
const openBytes = (bytes) => readSetupFile(setupFileText(bytes.buffer), BACKGROUNDS);

// Setups as the studio holds them: a few layers within the limits, sheets
// on sprite numbers of their own, names with the characters links escape.
const name = fc.oneof(fc.string({ minLength: 1 }), fc.constantFrom("petals, big.png", "a&b=c%20d.png", "桜 #2.png"));
const hash = fc.stringMatching(/^[0-9a-f]{8}$/);
const whole = (key, most = LIMITS[key].max) => fc.integer({ min: LIMITS[key].min, max: Math.min(most, LIMITS[key].max) });
const layerValues = fc.record({
  ...Object.fromEntries(LAYER_KEYS.map((key) => [key, LIMITS[key].float
    ? fc.float({ min: LIMITS[key].min, max: LIMITS[key].max, noNaN: true })
    : whole(key, key === "numof" ? MAX_PARTICLES / 4 : undefined)])),
  started: fc.boolean(),
  spawned: whole("numof", MAX_PARTICLES / 4),
  comments: fc.array(fc.string(), { maxLength: 2 }),
});
const sheetValues = (base) => fc.record({
  name, hash: fc.option(hash, { nil: undefined }), cell: fc.integer({ min: 4, max: 64 }),
  columns: fc.integer({ min: 1, max: 8 }), rows: fc.integer({ min: 1, max: 8 }),
  margin: fc.integer({ min: 0, max: 12 }), spacing: fc.integer({ min: 0, max: 4 }),
}).chain((sheet) => fc.integer({ min: 1, max: sheet.columns * sheet.rows }).map((count) => ({ ...sheet, base, count })));
const setupValues = fc.record({
  background: fc.constantFrom(...BACKGROUNDS),
  picture: fc.option(fc.record({ name, hash: fc.oneof(fc.constant(""), hash) }), { nil: undefined }),
  layers: fc.uniqueArray(layerValues, { minLength: 1, maxLength: 3, selector: (layer) => layer.handle }),
  sheets: fc.array(fc.constant(null), { maxLength: 3 }),
}).chain((values) => fc.tuple(...values.sheets.map((_, i) => sheetValues(SHEET_BASE + 100 * i)))
  .map((sheets) => ({ ...values, sheets })));
// ... as the studio writes them (a setup the studio would not hold, over the limits, is left out).
const studioSetups = setupValues.map((values) => {
  try {
    return readSetupFile(JSON.stringify(setupValue(values)), BACKGROUNDS);
  } catch (error) {
    assertRefusal(error);
    return null;
  }
}).filter((setup) => setup !== null);

// Damage as a copy, a paste or a chat does it: a piece cut out, text put in,
// a character changed, a piece doubled; several at once.
const edit = fc.oneof(
  fc.record({ kind: fc.constant("cut"), at: fc.nat(), length: fc.nat({ max: 12 }) }),
  fc.record({ kind: fc.constant("put"), at: fc.nat(), text: fc.oneof(fc.string({ maxLength: 6 }),
    fc.constantFrom("&", "=", ",", "%", "%2", "&layer=", "&sheet=", "&v=2", "-", "1e3", "\"", "{", "]", "null")) }),
  fc.record({ kind: fc.constant("change"), at: fc.nat(), text: fc.string({ minLength: 1, maxLength: 1 }) }),
  fc.record({ kind: fc.constant("double"), at: fc.nat(), length: fc.nat({ max: 40 }) }),
);
function damage(text, edits) {
  for (const { kind, at: where, length = 1, text: piece = "" } of edits) {
    const at = text.length === 0 ? 0 : where % (text.length + 1);
    if (kind === "cut") text = text.slice(0, at) + text.slice(at + length);
    if (kind === "put") text = text.slice(0, at) + piece + text.slice(at);
    if (kind === "change") text = text.slice(0, at) + piece + text.slice(at + 1);
    if (kind === "double") text = text.slice(0, at + length) + text.slice(at, at + length) + text.slice(at + length);
  }
  return text;
}
const edits = fc.array(edit, { minLength: 1, maxLength: 4 });

// The link as the studio wrote it before v=3: layers without started and
// spawned, sheets without a hash, no picture and no check at the end.
function v2Link(setup) {
  return setupAddress(setup).split("&").filter((part) => !/^(end|pic)=/.test(part)).map((part) => {
    if (part === "v=3") return "v=2";
    if (part.startsWith("layer=")) return part.split(",").slice(0, -2).join(",");
    if (part.startsWith("sheet=")) return part.split(",").filter((_, i) => i !== 7).join(",");
    return part;
  }).join("&");
}

// A setup file's values with one value swapped for any JSON value: a
// hand-edited file, or one from a stranger.
const anyJson = fc.jsonValue({ maxDepth: 2 });
function swapValue(value, route, replacement) {
  if (route.length === 0 || value === null || typeof value !== "object") return replacement;
  const keys = Object.keys(value);
  if (keys.length === 0) return replacement;
  const key = keys[route[0] % keys.length];
  const copy = Array.isArray(value) ? [...value] : { ...value };
  copy[key] = swapValue(value[key], route.slice(1), replacement);
  return copy;
}

test("any text as a link or a setup file is refused with a reason, or opens a setup that round-trips", () => {
  const text = fc.oneof(fc.string(), fc.string({ unit: "binary" }), fc.string({ unit: "grapheme-ascii" }));
  fc.assert(fc.property(text, (input) => {
    openOrRefuse("text as a link", openLink, input);
    openOrRefuse("text as a file", openFile, input);
  }), runs);
  fc.assert(fc.property(fc.uint8Array({ maxLength: 64 }), (bytes) => openOrRefuse("bytes as a file", openBytes, bytes)),
    runs);
});

test("every setup the studio writes opens again the same, as a link and as a file", () => {
  fc.assert(fc.property(studioSetups, (setup) => {
    openOrRefuse("written setups", (s) => s, setup);
  }), runs);
  assert.ok(counts["written setups"].opened > 0, "no setup was made");
});

test("a damaged link is refused with a reason, or opens a setup that round-trips", () => {
  fc.assert(fc.property(studioSetups, edits, (setup, changes) => {
    openOrRefuse("damaged links", openLink, damage(setupAddress(setup), changes));
  }), runs);
  // Links older than v=3 have no check at the end: damage may leave them readable.
  fc.assert(fc.property(studioSetups, edits, (setup, changes) => {
    openOrRefuse("damaged v=2 links", openLink, damage(v2Link(setup), changes));
  }), runs);
});

test("a damaged or hand-edited setup file is refused with a reason, or opens a setup that round-trips", () => {
  fc.assert(fc.property(studioSetups, edits, (setup, changes) => {
    openOrRefuse("damaged files", openFile, damage(JSON.stringify(setupValue(setup), null, 2), changes));
  }), runs);
  // (an object whose "toString" is not a function, where text or a number belongs, once threw a TypeError)
  const setup = readSetupFile(JSON.stringify(setupValue({ background: BACKGROUNDS[0], sheets: [],
    layers: [{ handle: 1, visible: true, width: 64, height: 64, base: 0, count: 8, rotation: 1, type: 0, numof: 40,
      maxAmp: 40, xSpeed: 1, ySpeed: 1, rate: 255 }] })), BACKGROUNDS);
  const examples = [[2], [3, 0, 0], [3, 0, 8]].map((route) => [setup, route, { toString: false }]);
  fc.assert(fc.property(studioSetups, fc.array(fc.nat(), { maxLength: 4 }), anyJson, (written, route, value) => {
    openOrRefuse("edited files", openFile, JSON.stringify(swapValue(setupValue(written), route, value)));
  }), { ...runs, examples });
});

after(() => {
  for (const [property, { tried, opened }] of Object.entries(counts)) {
    console.log(`${property}: ${tried} inputs, ${opened} opened, ${tried - opened} refused`);
  }
});
