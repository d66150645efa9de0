// Unit tests of the studio's pure modules (script, sheets, setup and link,
// warnings, the two languages), run in Node.js; the script is read and
// printed by the studio's WebAssembly module, loaded here as the page loads it:
//   VELORA_STUDIO_DIR=build/.../studio node --test tests/studio/pure_modules.test.mjs
import { before, test } from "node:test";
import assert from "node:assert/strict";
import { readFileSync, readdirSync } from "node:fs";
import { createRequire } from "node:module";
import path from "node:path";
import { grammarReader, printScript, readScript, useGrammar } from "../../studio/page/script.js";
import { cutGeometry, detectGrid, packCells } from "../../studio/page/sheets.js";
import { addressCheck, readAddress, readSetupFile, setupAddress, setupFileText, setupValue }
  from "../../studio/page/setup.js";
import { contentHash } from "../../studio/page/content_hash.js";
import { layerWarnings } from "../../studio/page/warnings.js";
import { DEFAULTS, MAX_LAYERS, MAX_PARTICLES, MAX_SIDE, OPENING_LAYERS, SHEET_BASE } from "../../studio/page/settings.js";
import { CATALOGS, format, msg, names, pickLanguage, text } from "../../studio/page/i18n.js";

const BACKGROUNDS = ["141a3c,6a4c78", "000000,000000"];
const layer = (settings) => ({ ...DEFAULTS, handle: 1, visible: true, width: 640, height: 480, ...settings });
const OPENING = OPENING_LAYERS.map((settings, i) => layer({ ...settings, handle: i + 1 }));
const GRID = { name: "petals, big.png", base: 200, count: 8, cell: 48, margin: 10, spacing: 2, columns: 4, rows: 2 };

let parse;
let limits;  // the same numbers as the module's C++ holds them

before(async () => {
  assert.ok(process.env.VELORA_STUDIO_DIR, "VELORA_STUDIO_DIR names the built studio folder");
  const studio = path.resolve(process.env.VELORA_STUDIO_DIR);
  const createVeloraStudio = createRequire(import.meta.url)(path.join(studio, "velora_studio.js"));
  const module = await createVeloraStudio({ wasmBinary: readFileSync(path.join(studio, "velora_studio.wasm")) });
  parse = grammarReader(module);
  useGrammar(module);
  limits = JSON.parse(module.UTF8ToString(module._velora_studio_limits()));
});

// An RGBA sheet: columns x rows cells of cell px after margin, spacing apart;
// each cell filled (or a disc) with alpha 255, the rest transparent.
function sheet({ cell, columns, rows, margin = 0, spacing = 0, disc = false }) {
  const width = 2 * margin + columns * cell + (columns - 1) * spacing;
  const height = 2 * margin + rows * cell + (rows - 1) * spacing;
  const rgba = new Uint8ClampedArray(width * height * 4);
  for (let r = 0; r < rows; ++r) {
    for (let c = 0; c < columns; ++c) {
      for (let y = 0; y < cell; ++y) {
        for (let x = 0; x < cell; ++x) {
          if (disc && (x - cell / 2 + 0.5) ** 2 + (y - cell / 2 + 0.5) ** 2 > (cell * 0.4) ** 2) continue;
          const at = ((margin + r * (cell + spacing) + y) * width + margin + c * (cell + spacing) + x) * 4;
          rgba.set([r * columns + c + 1, 0, 0, 255], at);
        }
      }
    }
  }
  return { rgba, width, height };
}

test("the script: Copy's text reads back to the same layers and sheets, margin and spacing included", async () => {
  const layers = [OPENING[0], { ...OPENING[1], base: 200, count: 8, rotation: 2, visible: false }];
  const text = printScript({ layers, sheets: [GRID] });
  assert.ok(text.includes('// sprites 200-207: sheet "petals, big.png", 4 x 2 cells of 48 x 48 px, margin 10, spacing 2, row by row\n'));
  const read = await readScript(text, parse);
  assert.equal(printScript(read), text);
  assert.deepEqual(read.sheets, [{ name: GRID.name, base: 200, count: 8, cell: 48, columns: 4, rows: 2, margin: 10, spacing: 2 }]);
});

test("the script: bad values are refused with their line and reason, and the limits are named", async () => {
  const refused = async (text, message) => assert.rejects(readScript(text, parse), { message });
  // The studio's own ranges, by the line of the call.
  await refused("Init(1, 640, 480, 0, 32, 4);\nSetType(1, 9);", /^line 2: type 9 is outside 0 to 4$/);
  await refused("Init(1, 640, 480, 0, 32, 4);\nSetXSpeed(1, 150);", /^line 2: xSpeed 150 is outside the studio's -100 to 100$/);
  // The grammar's reasons.
  await refused("Init(1, 640, 480, 0, 32, 4);\n// the engine draws handle 1 with rate 256 each frame",
    /^line 2: the rate is a whole number from 0 to 255, not '256'$/);
  await refused("SetNumof(7, 3);", /^line 1: handle 7 has no Init before this call$/);
  await refused("// nothing", /^the script has no calls/);
  await refused("Init(1, 64, 64, 0, 32, 4);\nRelease(1);", /^no Init in the script: nothing to rebuild$/);
  // The limits: the grammar refuses the call past them; particles set but
  // never started are counted by the studio.
  const many = Array.from({ length: 10000 }, (_, i) => `Init(${i + 1}, 64, 64, 0, 32, 4);`).join("\n");
  await refused(many, /^line 65: Init of handle 65 would make more than 64 layers at once/);
  const heavy = ["Init(1, 64, 64, 0, 32, 4);", "SetNumof(1, 60000);", "Init(2, 64, 64, 0, 32, 4);", "SetNumof(2, 50000);"];
  await refused(heavy.join("\n"), /^the script makes 110,000 particles in all, more than the studio's limit of 100,000$/);
  await refused([...heavy, "Start(1);", "Start(2);"].join("\n"), /^line 6: Start brings the particles of all layers to 110000/);
  // A SetNumof waiting for the next Start leaves what the last one spawned running.
  await refused([...heavy, "Start(2);", "SetNumof(2, 5);"].join("\n"), /^the script makes 110,000 particles in all/);
});

test("sheets: margin, spacing and cell size are found, and the cells are packed for the host", () => {
  const cases = [
    [{ cell: 48, columns: 4, rows: 2, margin: 10, spacing: 2 }, { cell: 48, margin: 10, spacing: 2 }],
    [{ cell: 48, columns: 4, rows: 2, margin: 10, disc: true }, { cell: 48, margin: 10, spacing: 0 }],
    [{ cell: 48, columns: 4, rows: 2, disc: true }, { cell: 48, margin: 0, spacing: 0 }],
    [{ cell: 24, columns: 3, rows: 1 }, { cell: 24, margin: 0, spacing: 0 }],
  ];
  for (const [made, grid] of cases) {
    const { rgba, width, height } = sheet(made);
    assert.deepEqual(detectGrid(rgba, width, height), grid, JSON.stringify(made));
  }
  // Around sprites in the middle of their cells, spacing and margin trade
  // against each other: the round cell with a few px between is taken, and
  // a typed value settles it otherwise, the others fitted to it.
  for (const [made, grid] of [
    [{ cell: 32, columns: 5, rows: 3, margin: 4, spacing: 2 }, { cell: 32, margin: 4, spacing: 2 }],
    [{ cell: 48, columns: 4, rows: 2, margin: 10, spacing: 2 }, { cell: 48, margin: 10, spacing: 2 }],
  ]) {
    const discs = sheet({ ...made, disc: true });
    assert.deepEqual(detectGrid(discs.rgba, discs.width, discs.height), grid, JSON.stringify(made));
  }
  const discs = sheet({ cell: 48, columns: 4, rows: 2, margin: 10, spacing: 2, disc: true });
  for (const [typed, grid] of [[{ spacing: 0 }, { cell: 50, margin: 9, spacing: 0 }],
    [{ margin: 11 }, { cell: 46, margin: 11, spacing: 4 }], [{ cell: 40 }, { cell: 40, margin: 14, spacing: 10 }]]) {
    assert.deepEqual(detectGrid(discs.rgba, discs.width, discs.height, typed), grid, JSON.stringify(typed));
  }
  // No transparent gutter at all: no grid to find (S has to be typed), but
  // for a strip of squares; a typed S always gives one.
  const opaque = sheet({ cell: 74, columns: 1, rows: 1 });
  assert.equal(detectGrid(opaque.rgba, 74, 74), null);
  assert.deepEqual(detectGrid(opaque.rgba, 74, 74, { cell: 37 }), { cell: 37, margin: 0, spacing: 0 });
  const lone = sheet({ cell: 50, columns: 1, rows: 1, margin: 3, disc: true });
  assert.deepEqual(detectGrid(lone.rgba, lone.width, lone.height), { cell: 56, margin: 0, spacing: 0 });
  const { rgba, width, height } = sheet(cases[0][0]);
  const geometry = cutGeometry({ width, height, ...cases[0][1] });
  assert.deepEqual([geometry.columns, geometry.rows, geometry.count, geometry.right, geometry.bottom], [4, 2, 8, 0, 0]);
  const packed = packCells(rgba, width, cases[0][1], geometry);
  assert.deepEqual([packed.width, packed.height], [192, 96]);
  // Each packed cell holds only its own sprite's pixels, corner to corner.
  for (let i = 0; i < 8; ++i) {
    const [x, y] = [(i % 4) * 48, Math.floor(i / 4) * 48];
    for (const [dx, dy] of [[0, 0], [47, 0], [0, 47], [47, 47]]) {
      assert.deepEqual(Array.from(packed.pixels.subarray(((y + dy) * 192 + x + dx) * 4, ((y + dy) * 192 + x + dx) * 4 + 4)),
        [i + 1, 0, 0, 255], `cell ${i} at ${dx},${dy}`);
    }
  }
  assert.equal(cutGeometry({ width: 40, height: 40, cell: 48 }).count, 0);
});

test("setup and link: written and read back alike; bad values, unknown versions and the limits refused", () => {
  const setup = { background: BACKGROUNDS[0], layers: OPENING, sheets: [GRID] };
  const link = setupAddress(setup);
  const started = OPENING.map((layer) => ({ ...layer, started: true, spawned: layer.numof, comments: [] }));
  assert.deepEqual(readAddress(link, BACKGROUNDS), { ...setup, picture: null, layers: started, sheets: [{ ...GRID }] });
  const file = JSON.stringify(setupValue(setup));
  assert.deepEqual(readSetupFile(file, BACKGROUNDS).layers, started);
  // A file keeps a layer never started, a numof waiting for the next Start and the author's comments.
  const kept = [{ ...started[0], started: false, spawned: 0, comments: ["作者：さくら"] },
    { ...started[1], numof: 90, spawned: 30, comments: ["奥の層", ""] }];
  assert.deepEqual(readSetupFile(JSON.stringify(setupValue({ ...setup, layers: kept })), BACKGROUNDS).layers, kept);
  const badComments = { ...setupValue(setup), layers: [{ ...started[0], comments: "奥の層" }] };
  assert.throws(() => readSetupFile(JSON.stringify(badComments), BACKGROUNDS), /layer 1: comments is not a list/);
  // The author's picture, named by a file, comes back; a hash that is not 8 hex digits does not.
  const picture = { name: "タイトル画面.png", hash: "0a1b2c3d" };
  assert.deepEqual(readSetupFile(JSON.stringify(setupValue({ ...setup, picture })), BACKGROUNDS).picture, picture);
  assert.deepEqual(readAddress(setupAddress({ ...setup, picture }), BACKGROUNDS).picture, picture);
  assert.throws(() => readSetupFile(JSON.stringify(setupValue({ ...setup, picture: { ...picture, hash: "0A1B" } })),
    BACKGROUNDS), /the background picture タイトル画面.png has the hash "0A1B", which is not 8 hexadecimal digits/);
  // A link of the first version (no margin or spacing) still reads.
  const old = "v=1&bg=000000,000000&layer=3,1,640,480,100,8,2,0,40,40,1,1,255&sheet=100,8,48,4,2,a%2Cb.png";
  assert.deepEqual(readAddress(old, BACKGROUNDS).sheets, [{ name: "a,b.png", base: 100, count: 8, cell: 48, columns: 4,
    rows: 2, margin: 0, spacing: 0 }]);
  const refused = (text, message) => assert.throws(() => readAddress(text, BACKGROUNDS), { message });
  refused("v=1", /^it holds no layer$/);
  refused("v=99&layer=1", /v=99 is not one this studio reads/);
  refused("v=1&layer=garbage", /^layer 1: 13 numbers expected, not 1$/);
  const sealed = (body) => `${body}&end=${addressCheck(body)}`;
  const body = link.slice(0, link.lastIndexOf("&end="));
  refused(sealed(body.replace(",255,1,22&", ",256,1,22&")), /^layer 2: rate 256 is outside 0 to 255$/);
  refused(old.replace("sheet=100,8,48", "sheet=100,8,0"), /cell 0 is outside 4 to 4096/);
  refused(old.replace("sheet=100,8,48,4,2", "sheet=100,9,48,4,2"), /9 sprites do not fit in 4 x 2 cells/);
  const crowd = Array.from({ length: 65 }, (_, i) => `layer=${i + 1},1,64,64,0,32,4,0,1,0,1,1,255`).join("&");
  refused(`v=2&bg=000000,000000&${crowd}`, /65 layers, more than the studio's limit of 64/);
  assert.throws(() => readSetupFile(file.replace('"cell": 48', '"cell": 0').replace('"cell":48', '"cell":0'), BACKGROUNDS),
    /cell 0 is outside 4 to 4096/);
});

test("links: a v=3 link knows its end, so a cut one is named; sheets keep their hash; damaged input is named", async () => {
  const hashed = { ...GRID, hash: await contentHash(new TextEncoder().encode("abc")) };
  assert.equal(hashed.hash, "ba7816bf", "the first 4 bytes of SHA-256");
  const layers = [OPENING[0], { ...OPENING[1], started: false, spawned: 5 }];
  const setup = { background: BACKGROUNDS[0], layers, sheets: [hashed] };
  const link = setupAddress(setup);
  assert.match(link, /^v=3&.*&end=[0-9a-f]{8}$/);
  // (a layer never started has spawned nothing, whatever the link says)
  assert.deepEqual(readAddress(link, BACKGROUNDS), { ...setup, picture: null, layers: [
    { ...OPENING[0], started: true, spawned: OPENING[0].numof, comments: [] },
    { ...OPENING[1], started: false, spawned: 0, comments: [] }] });
  assert.deepEqual(readSetupFile(JSON.stringify(setupValue(setup)), BACKGROUNDS).sheets, [hashed]);
  const refused = (text, message) => assert.throws(() => readAddress(text, BACKGROUNDS), { message });
  // Cut anywhere (a seeded walk, so a failure can be repeated).
  let seed = 7;
  for (let i = 0; i < 20; ++i) {
    seed = (seed * 1103515245 + 12345) % 2147483648;
    refused(link.slice(0, 1 + (seed % (link.length - 1))), /^the link is cut short; copy the whole link again$/);
  }
  refused(link.replace("layer=1,", "layer=9,"), /changed after it was made/);
  // v=2 links open as before, without the end.
  const v2 = "v=2&bg=000000,000000&layer=3,1,640,480,100,8,2,0,40,40,1,1,170&sheet=100,8,48,4,2,0,0,p%C3%A9tale.png";
  assert.equal(readAddress(v2, BACKGROUNDS).sheets[0].name, "pétale.png");
  refused(v2.replace("%C3%A9", "%C3"), /^the part sheet=100,8,48,4,2,0,0,p%C3tale\.png holds a broken %-code/);
  refused(v2 + "&sheet=104,8,48,4,2,0,0,b.png",
    /^the sheets "pétale.png" \(sprites 100–107\) and "b.png" \(sprites 104–111\) share sprite numbers$/);
  // Setup files: a missing value, a bad hash, an image or other binary file.
  const file = setupValue(setup);
  delete file.layers[0].visible;
  assert.throws(() => readSetupFile(JSON.stringify(file), BACKGROUNDS), { message: "layer 1: the value of visible is missing" });
  const badHash = setupValue({ ...setup, sheets: [{ ...hashed, hash: "BA7816BF" }] });
  assert.throws(() => readSetupFile(JSON.stringify(badHash), BACKGROUNDS), /the hash "BA7816BF" is not 8 hex digits/);
  const png = Uint8Array.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0, 0, 0, 13]).buffer;
  assert.throws(() => setupFileText(png), { message: "it is an image (PNG), not a setup file" });
  assert.throws(() => setupFileText(Uint8Array.from([0x7b, 0xff, 0xfe, 0x00]).buffer), { message: /^it is not a text file/ });
  assert.equal(setupFileText(new TextEncoder().encode('{"a": "é"}').buffer), '{"a": "é"}');
});

test("warnings: rate 0 mode by mode, and rotation frames above the sprite count", () => {
  const bank = { runs: [{ base: 0, count: 64 }], sheets: [] };
  const kinds = (settings) => layerWarnings(layer({ base: 0, count: 32, rotation: 4, ...settings }), bank);
  assert.deepEqual(kinds({}), []);
  const english = (message) => text(message, "en");
  for (const type of [0, 1, 3]) assert.match(english(kinds({ type, rate: 0 })[0].problem), /nothing shows/);
  assert.match(english(kinds({ type: 2, rate: 0 })[0].problem), /mode 2 .* black sprites/);
  assert.deepEqual(kinds({ type: 4, rate: 0 }).map((w) => w.kind), ["type"]);
  const [rotation] = kinds({ rotation: 64 });
  assert.equal(rotation.kind, "rotation");
  assert.match(english(rotation.problem), /64, more than the 32 sprites.* sprite 0/);
  assert.match(english(rotation.fix), /32 or less/);
  assert.match(text(rotation.fix, "ja"), /32 以下/);
});

// The placeholders of a text ({name}, {name:count}), of both forms of a plural.
function placeholders(template) {
  const texts = typeof template === "object" ? Object.values(template) : [template];
  return [...new Set(texts.join(" ").match(/\{\w+(?::\w+)?\}/g) ?? [])].sort();
}

test("the page's limits are the numbers the plug-in's host and the script reader hold", () => {
  assert.deepEqual({ side: MAX_SIDE, spawned: MAX_PARTICLES, layers: MAX_LAYERS, particles: MAX_PARTICLES,
    sheetBase: SHEET_BASE }, limits);
});

test("the two catalogs hold the same keys with the same placeholders, and every key the page names", () => {
  const { en, ja } = CATALOGS;
  assert.deepEqual(Object.keys(ja).sort(), Object.keys(en).sort());
  for (const key of Object.keys(en)) assert.deepEqual(placeholders(ja[key]), placeholders(en[key]), key);
  // The keys the page's modules and its HTML name, written out or made from
  // a fixed stem and a setting's key (setting.numof, warn.rate0, ...).
  const page = path.join(path.dirname(new URL(import.meta.url).pathname), "..", "..", "studio", "page");
  const sources = readdirSync(page).filter((name) => /\.(js|html)$/.test(name))
    .map((name) => readFileSync(path.join(page, name), "utf8")).join("\n");
  const named = [...sources.matchAll(/(?:msg|StudioError)\("([\w.]+)"|data-i18n(?:-[a-z-]+)?="([\w.]+)"/g)]
    .map((match) => match[1] ?? match[2]);
  const stems = [...sources.matchAll(/msg\(`([\w.]+)\$\{/g)].map((match) => match[1]);
  assert.ok(named.length > 150 && stems.length >= 3, `${named.length} keys, ${stems.length} stems found`);
  for (const key of named) assert.ok(key in en, `the page names "${key}", which no catalog holds`);
  for (const stem of stems) assert.ok(Object.keys(en).some((key) => key.startsWith(stem)), stem);
  for (const key of ["numof", "maxAmp", "xSpeed", "ySpeed", "rate", "width", "height", "base", "count", "rotation"]) {
    assert.ok(`setting.${key}` in en, key);
  }
});

test("messages: values named, numbers grouped and plurals chosen as each language writes them", () => {
  assert.equal(pickLanguage(["ja-JP", "en-US"]), "ja");
  assert.equal(pickLanguage(["fr-FR", "en-GB"]), "en");
  assert.equal(pickLanguage(["de"]), "en");
  assert.equal(pickLanguage(["en-US"], "ja"), "ja", "a choice made before wins over the browser");
  const over = msg("limits.particles", { count: 110000, limit: 100000 });
  assert.equal(text(msg("setup.overLimits", { over }), "en"),
    "it holds 110,000 particles in all, more than the studio's limit of 100,000");
  assert.equal(text(msg("setup.overLimits", { over }), "ja"), "パーティクルが合計 110,000 個になり、スタジオの上限 100,000 個を超えます");
  assert.equal(format("en", "paste.rebuilt", { count: 1 }), "Rebuilt 1 layer from the script.");
  assert.equal(format("en", "paste.rebuilt", { count: 2 }), "Rebuilt 2 layers from the script.");
  const missing = msg("sheets.loadAgain", { names: names(["a.png", "b.png"]), count: 2 });
  assert.equal(text(missing, "en"), 'Load the sprite sheets "a.png", "b.png" again.');
  assert.equal(text(missing, "ja"), "スプライトシート「a.png」、「b.png」をもう一度読み込んでください。");
  // Sentences in a row: a space between them in English, none in Japanese.
  const two = [msg("setup.opened", { name: "s.json", count: 1 }), missing];
  assert.match(text(two, "en"), /layer\. Load/);
  assert.match(text(two, "ja"), /）。スプライトシート/);
  assert.throws(() => format("en", "setup.opened", { name: "s.json" }), /needs the value \{count\}/);
});
