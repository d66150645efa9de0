// The studio's script grammar (studio/page/grammar.js over its WebAssembly
// module) in Node.js, held to the same fixtures as the previewer's reader
// (tests/scripts/): the two tools must read every script alike.
//
//   VELORA_STUDIO_DIR=build/.../studio node --test tests/studio/grammar.test.mjs
import { before, test } from "node:test";
import assert from "node:assert/strict";
import { readdirSync, readFileSync } from "node:fs";
import { createRequire } from "node:module";
import path from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const fixtures = path.join(here, "..", "..", "tests", "scripts");
const studio = process.env.VELORA_STUDIO_DIR;

let module;
let parseScript;
let printScript;
let format;

before(async () => {
  assert.ok(studio, "VELORA_STUDIO_DIR names the built studio folder");
  const createVeloraStudio = createRequire(import.meta.url)(path.join(studio, "velora_studio.js"));
  // (the .wasm handed over: this Emscripten's loader would fetch it by URL in Node.js)
  module = await createVeloraStudio({ wasmBinary: readFileSync(path.join(studio, "velora_studio.wasm")) });
  ({ parseScript, printScript } = await import(pathToFileURL(path.join(studio, "grammar.js"))));
  ({ format } = await import(pathToFileURL(path.join(studio, "i18n.js"))));
});

// A refusal the page words in both languages: in English exactly as the
// reader says it, in Japanese otherwise and with every value filled in.
function expectWorded({ key, values }, english, where) {
  assert.equal(format("en", key, values), english, where);
  const ja = format("ja", key, values);
  assert.notEqual(ja, english, where);
  assert.doesNotMatch(ja, /\{\w+(:\w+)?\}/, where);
}

function fixtureNames(folder) {
  return readdirSync(path.join(fixtures, folder)).filter((name) => name.endsWith(".txt"));
}

// "key=value ...", the name of a sheet running to the end of the line.
function fields(text) {
  const nameAt = text.indexOf("name=");
  const head = nameAt >= 0 ? text.slice(0, nameAt) : text;
  const result = Object.fromEntries(head.trim().split(/\s+/).filter(Boolean).map((word) => word.split("=")));
  if (nameAt >= 0) result.name = text.slice(nameAt + 5);
  return result;
}

function expectLayer(layer, expected, where) {
  assert.equal(Object.keys(expected).length, 15, `${where}: every field is given`);
  for (const [key, value] of Object.entries(expected)) {
    if (key === "xSpeed" || key === "ySpeed") {
      assert.equal(Math.fround(layer[key]), Math.fround(Number(value)), `${where} ${key}`);
    } else if (key === "started" || key === "hidden") {
      assert.equal(layer[key], value === "1", `${where} ${key}`);
    } else {
      assert.equal(layer[key], Number(value), `${where} ${key}`);
    }
  }
}

test("every valid fixture gives its layers and sheets, and a printed one prints back byte for byte", () => {
  const names = fixtureNames("valid");
  assert.ok(names.length >= 3);
  for (const name of names) {
    const bytes = readFileSync(path.join(fixtures, "valid", name));
    const parsed = parseScript(module, bytes);
    assert.equal(parsed.ok, true, `${name}: ${parsed.error}`);
    let layers = 0;
    let sheets = 0;
    const comments = parsed.layers.map(() => []);
    for (const line of readFileSync(path.join(fixtures, "valid", name.replace(/\.txt$/, ".layers")), "utf8").split("\n")) {
      const [kind, ...rest] = line.split(" ");
      if (kind === "layer") {
        expectLayer(parsed.layers[layers], fields(rest.join(" ")), `${name} layer ${layers + 1}`);
        ++layers;
      } else if (kind === "sheet") {
        const want = fields(rest.join(" "));
        const sheet = parsed.sheets[sheets++];
        for (const [key, value] of Object.entries(want)) {
          assert.equal(sheet[key], key === "name" || key === "hash" ? value : Number(value), `${name} sheet ${sheets} ${key}`);
        }
      } else if (kind === "comment") {
        comments[Number(rest[0]) - 1].push(rest.slice(1).join(" "));
      } else if (kind === "calls") {
        assert.equal(parsed.calls.length, Number(rest[0]), `${name} calls`);
      } else if (kind === "notes") {
        assert.equal(parsed.notes.length, Number(rest[0]), `${name} notes`);
      } else if (kind === "printed") {
        assert.equal(printScript(module, parsed), bytes.toString("utf8"), `${name}: printed back unchanged`);
        assert.deepEqual(parseScript(module, bytes.toString("utf8")), parsed, `${name}: as text, as bytes`);
      }
    }
    assert.equal(layers, parsed.layers.length, name);
    assert.equal(sheets, parsed.sheets.length, name);
    // The page reads text: a Shift_JIS file as the editor it is pasted from decodes it.
    const text = new TextDecoder(name.startsWith("shift-jis") ? "shift_jis" : "utf-8").decode(bytes);
    assert.deepEqual(parseScript(module, text).layers.map((layer) => layer.comments), comments, `${name} comments`);
  }
});

test("every broken fixture is refused with its line, column and reason, in English and Japanese", () => {
  const names = fixtureNames("broken");
  assert.ok(names.length >= 20);
  for (const name of names) {
    const [place, reason] = readFileSync(path.join(fixtures, "broken", name.replace(/\.txt$/, ".error")), "utf8")
      .split("\n");
    const [line, column = 0] = place.split(":").map(Number);
    const parsed = parseScript(module, readFileSync(path.join(fixtures, "broken", name)));
    assert.equal(parsed.ok, false, `${name} was read`);
    assert.deepEqual([parsed.line, parsed.column], [line, column], `${name}: ${parsed.error}`);
    assert.ok(parsed.reason.includes(reason), `${name}: ${parsed.reason}`);
    const at = line === 0 ? "" : column === 0 ? `line ${line}: ` : `line ${line}, column ${column}: `;
    assert.equal(parsed.error, at + parsed.reason, name);
    expectWorded(parsed.message, parsed.error, name);
  }
  // The characters no fixture holds, each in its words.
  for (const text of ["Start(Ｓ);", "Start(1);\u00a0", Buffer.from("Start(1); \x88\x9f", "latin1")]) {
    const parsed = parseScript(module, text);
    expectWorded(parsed.message, parsed.error, parsed.error);
  }
});

test("what a C string cannot carry is refused, not cut short", () => {
  const call = "Init(1, 8, 8, 0, 1, 1);\n";
  const nul = parseScript(module, `${call}${call}Start(1);\0Release(1);\n`);
  assert.deepEqual([nul.ok, nul.line], [false, 3]);
  assert.match(nul.error, /^line 3: .*NUL/);
  expectWorded(nul.message, nul.error, "NUL");
  assert.equal(parseScript(module, Buffer.from(`${call}\0`)).line, 2);
  // Above the limit, with or without a NUL in it, the reader's own message.
  const large = `${call}${" ".repeat(1 << 20)}\0`;
  for (const text of [large, Buffer.from(large)]) {
    const parsed = parseScript(module, text);
    assert.deepEqual([parsed.ok, parsed.line], [false, 0]);
    assert.match(parsed.error, /larger than 1048576 bytes/);
  }
});

test("the studio's limits refuse the first call beyond them, by its line", () => {
  const lines = Array.from({ length: 65 }, (_, i) => `Init(${i + 1}, 8, 8, 0, 1, 1);`).join("\n");
  assert.equal(parseScript(module, lines).layers.length, 65, "no limit unless asked");
  const refused = parseScript(module, lines, { layers: 64, particles: 100000 });
  assert.deepEqual([refused.ok, refused.line], [false, 65]);
  assert.match(refused.reason, /more than 64 layers at once/);
  const crowd = parseScript(module, "Init(1, 8, 8, 0, 1, 1);\nSetNumof(1, 100001);\nStart(1);\n", { particles: 100000 });
  assert.deepEqual([crowd.ok, crowd.line], [false, 3]);
  const all = parseScript(module, `${lines}\nSetNumof(1, 7);\nStart(1);\n`, { particles: 6 });
  assert.match(all.error, /^line 67: Start brings the particles of all layers to 7/);
  for (const parsed of [refused, crowd, all]) expectWorded(parsed.message, parsed.error, parsed.error);
});

test("a setup prints as the studio's layers, and what cannot be printed is refused by name", () => {
  const layer = { handle: 3, width: 64, height: 48, base: 100, count: 8, rotation: 4, type: 1, numof: 9,
    maxAmp: -5, xSpeed: 0.1 + 0.2, ySpeed: 2, rate: 99, visible: false };
  const sheet = { base: 100, count: 8, name: "cells \"8\".png", columns: 4, rows: 2, cell: 16, margin: 3, spacing: 0,
    pixels: new Uint8Array(16) };
  const text = printScript(module, { layers: [layer], sheets: [sheet] });
  assert.match(text, /^\/\/ Layer 1, handle 3 \(hidden in the studio\)$/m);
  assert.match(text, /^\/\/ sprites 100-107: sheet "cells "8".png", 4 x 2 cells of 16 x 16 px, margin 3, row by row$/m);
  assert.match(text, /^SetXSpeed\(3, 0\.3\);\nSetYSpeed\(3, 2\.0\);\nStart\(3\);$/m);
  const back = parseScript(module, text);
  const { pixels, ...named } = sheet;
  assert.ok(pixels);
  assert.deepEqual(back.sheets, [named], "the sheet as the setup names it, and no more");
  assert.equal(back.layers[0].hidden, true);

  const refusals = [
    [{ ...layer, rate: 256 }, /layers\[0\]\.rate is not a whole number from 0 to 255/],
    [{ ...layer, numof: 1.5 }, /layers\[0\]\.numof is not a whole number/],
    [{ ...layer, xSpeed: NaN }, /layers\[0\]\.xSpeed is not a number a float can hold/],
    [{ ...layer, ySpeed: 1e39 }, /layers\[0\]\.ySpeed is not a number a float can hold/],
    [{ ...layer, handle: undefined }, /layers\[0\] has no handle/],
  ];
  for (const [bad, message] of refusals) {
    assert.throws(() => printScript(module, { layers: [bad], sheets: [] }), message);
  }
  assert.throws(() => printScript(module, { layers: [layer], sheets: [{ ...sheet, name: "two\nlines" }] }),
    (error) => {
      assert.equal(error.key, "script.print_sheet_name");
      expectWorded(error, "the sheet name 'two\\x0Alines' cannot stand in a script: it is empty, holds a control "
        + "character or is not UTF-8", "sheet name");
      return true;
    });
  assert.throws(() => printScript(module, { layers: [layer], sheets: [{ ...sheet, cell: 0 }] }),
    /sheets\[0\]\.cell is not a whole number from 1/);
});
