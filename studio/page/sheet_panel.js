// The sprite sheets on the page: dropped or chosen images, cut by their
// grid (cell size S, margin, spacing: found in the image or typed), shown
// with their cut, and put into the host's bank at numbers of their own.
import * as bridge from "./bridge.js";
import { plural } from "./numbers.js";
import { current, state } from "./state.js";
import { changed, freshInit } from "./layers.js";
import { showLayer, showRuns } from "./controls.js";
import { sheetOf } from "./script.js";
import { MAX_SHEET_SIDE, MIN_CELL, cutGeometry, detectGrid, freeBase, gridWords, leftOut, packCells, rangesMeet,
  sheetRotation, sheetSummary } from "./sheets.js";
import { drawPreview } from "./sheet_preview.js";

const $ = (id) => document.getElementById(id);
const GRID_KEYS = ["cell", "margin", "spacing"];
const GRID_NAMES = { cell: "S", margin: "Margin", spacing: "Spacing" };

// Puts a loaded sheet into the bank; the bank's runs come back. A sheet
// that the bank could not take (no memory) is taken out again.
function putSheet(sheet) {
  const geometry = cutGeometry(sheet);
  const packed = packCells(sheet.pixels, sheet.width, sheet, geometry);
  bridge.loadSheet(packed.pixels, packed.width, packed.height, sheet.cell, sheet.base).then(({ count, runs }) => {
    state.runs = runs;
    if (count === 0 && state.sheets.includes(sheet)) {
      state.sheets.splice(state.sheets.indexOf(sheet), 1);
      $("sheet-status").textContent = `${sheet.name}: not enough memory for its sprites.`;
      showSheets();
    }
    showRuns();
    changed({ user: false });
  });
}

// Every loaded sheet into a new host's bank.
export function putSheets() {
  state.sheets.filter((sheet) => sheet.pixels).forEach(putSheet);
}

// Cuts a loaded sheet by its grid: the bank gets its sprites (moved past
// the other sheets if it grew into them), and the layers that showed the
// whole sheet show the new cut. The layers whose runs changed.
function cutSheet(sheet) {
  const geometry = cutGeometry(sheet);
  const before = { base: sheet.base, count: sheet.count };
  if (state.sheets.some((other) => other !== sheet && rangesMeet(other, { base: sheet.base, count: geometry.count }))) {
    sheet.base = freeBase(state.sheets, sheet);
  }
  Object.assign(sheet, { count: geometry.count, columns: geometry.columns, rows: geometry.rows });
  const run = { name: "Sprite sheet", base: sheet.base, count: sheet.count, rotation: sheetRotation(geometry), size: sheet.cell };
  state.runs = state.runs.filter((r) => r.base < 100 || (r.base !== before.base && !rangesMeet(r, run))).concat([run]);
  putSheet(sheet);
  showRuns();
  const following = state.layers.filter((layer) => layer.base === before.base && layer.count === before.count &&
    before.count > 0);
  for (const layer of following) {
    Object.assign(layer, { base: sheet.base, count: sheet.count, rotation: run.rotation });
    freshInit(layer);
  }
  state.sheets.sort((a, b) => a.base - b.base);
  return following;
}

export function showSheets() {
  const list = $("sheet-list");
  list.replaceChildren();
  for (const sheet of state.sheets) {
    const item = document.createElement("li");
    const grid = gridWords(sheet);
    item.textContent = sheet.pixels ? `${sheetSummary(sheet)}.`
      : `"${sheet.name}" (sprites ${sheet.base}–${sheet.base + sheet.count - 1}, cells of ${sheet.cell} px` +
        `${grid ? `, ${grid}` : ""}) is not loaded: choose or drop that file again.`;
    item.className = sheet.pixels ? "" : "missing";
    list.appendChild(item);
  }
}

// The sheet the grid fields work on: the selected layer's, else the latest.
function targetSheet() {
  return sheetOf(state.sheets, current()) ?? [...state.sheets].reverse().find((sheet) => sheet.pixels) ?? null;
}

// The values the user typed, by key.
function typedValues(typed, values) {
  return Object.fromEntries(GRID_KEYS.filter((key) => typed[key]).map((key) => [key, values[key]]));
}

// The grid found in a sheet, for what the user has not typed.
function findGrid(sheet) {
  const found = detectGrid(sheet.pixels, sheet.width, sheet.height, typedValues(sheet.typed, sheet));
  for (const key of GRID_KEYS) if (!sheet.typed[key]) sheet[key] = found[key];
  if (cutGeometry(sheet).count === 0) {
    Object.assign(sheet, found);
    sheet.typed = {};
  }
}

function settled(sheet, use) {
  const status = $("sheet-status");
  status.textContent = `${sheetSummary(sheet)}${use}.${leftOut(sheet)}`;
  drawPreview($("sheet-preview"), sheet);
  showSheets();
}

async function loadSheet(file) {
  const status = $("sheet-status");
  let bitmap;
  try {
    bitmap = await createImageBitmap(file);
  } catch {
    status.textContent = `${file.name}: not an image the browser can read.`;
    return;
  }
  const { width, height } = bitmap;
  if (width > MAX_SHEET_SIDE || height > MAX_SHEET_SIDE) {
    status.textContent = `${file.name}: ${width} × ${height} is larger than this studio takes (4096 × 4096).`;
    return;
  }
  if (width < MIN_CELL || height < MIN_CELL) {
    status.textContent = `${file.name}: ${width} × ${height} holds no cell of 4 px or more.`;
    return;
  }
  const canvas = document.createElement("canvas");
  Object.assign(canvas, { width, height });
  const context = canvas.getContext("2d", { willReadFrequently: true });
  context.drawImage(bitmap, 0, 0);
  const pixels = context.getImageData(0, 0, width, height).data;
  let sheet = state.sheets.find((known) => known.name === file.name);
  const restoring = Boolean(sheet && !sheet.pixels);
  if (!sheet) {
    sheet = { name: file.name, base: freeBase(state.sheets, null), count: 0, margin: 0, spacing: 0, typed: {} };
    state.sheets.push(sheet);
  }
  Object.assign(sheet, { pixels, width, height });
  if (restoring) sheet.typed = { cell: true, margin: true, spacing: true };
  findGrid(sheet);
  const following = cutSheet(sheet);
  let use = "";
  if (!restoring) {
    const layer = current();
    const run = state.runs.find((r) => r.base === sheet.base);
    Object.assign(layer, { base: sheet.base, count: sheet.count, rotation: run ? run.rotation : 1 });
    freshInit(layer);
    use = `, now used by layer ${state.selected + 1}`;
  } else {
    const users = state.layers.filter((layer) => sheetOf(state.sheets, layer) === sheet)
      .map((layer) => state.layers.indexOf(layer) + 1);
    use = users.length ? `, back for ${plural(users.length, "layer").replace(/^\d+ /, "")} ${users.join(", ")}` : "";
    following.forEach(freshInit);
  }
  settled(sheet, use);
  showLayer();
  changed();
}

// S, margin or spacing typed: the sheet is cut again at once; an empty
// field goes back to what the sheet's grid shows; a value that leaves no
// whole cell is refused, visibly.
function applyGrid(key) {
  const input = $(`sheet-${key}`);
  const status = $("sheet-status");
  const sheet = targetSheet();
  if (!sheet || !sheet.pixels) {
    input.setAttribute("aria-invalid", "false");
    status.textContent = input.value.trim() ? `Load a sprite sheet first: ${GRID_NAMES[key]} applies to it.` : "";
    return;
  }
  const typed = { ...sheet.typed };
  const grid = Object.fromEntries(GRID_KEYS.map((k) => [k, sheet[k]]));
  let error = "";
  if (input.value.trim() === "" && !input.validity.badInput) {
    typed[key] = false;
  } else {
    const value = Number(input.value);
    const limit = key === "cell" ? Math.min(sheet.width, sheet.height) : Math.max(sheet.width, sheet.height);
    const low = key === "cell" ? MIN_CELL : 0;
    if (input.validity.badInput || !Number.isInteger(value)) error = `${input.value.trim() || "that"} is not a whole number`;
    else if (value < low || value > limit) error = `${value} is outside ${low} to ${limit}`;
    else {
      grid[key] = value;
      typed[key] = true;
    }
  }
  if (!error) {
    // What was not typed is found again, fitted to what was.
    const found = detectGrid(sheet.pixels, sheet.width, sheet.height, typedValues(typed, grid));
    for (const k of GRID_KEYS) if (!typed[k]) grid[k] = found[k];
    if (cutGeometry({ width: sheet.width, height: sheet.height, ...grid }).count === 0) error = `${input.value.trim()} leaves no whole cell`;
  }
  if (error) {
    input.setAttribute("aria-invalid", "true");
    status.textContent = `${GRID_NAMES[key]} ${error} (cells of 4 to ${Math.min(sheet.width, sheet.height)} px fit ` +
      `${sheet.name}); the sheet stays cut at ${sheet.cell} px.`;
    return;
  }
  input.setAttribute("aria-invalid", "false");
  sheet.typed = typed;
  if (GRID_KEYS.some((k) => grid[k] !== sheet[k])) {
    Object.assign(sheet, grid);
    cutSheet(sheet);
  }
  settled(sheet, "");
  const keep = input.value;
  showLayer();
  input.value = keep;
  changed();
}

// Sheets named by a restored setup: a loaded sheet of that name takes the
// named grid and numbers; an unknown one waits for its file.
export function mergeSheets(saved) {
  for (const named of saved) {
    const known = state.sheets.find((sheet) => sheet.name === named.name);
    if (known) {
      if (GRID_KEYS.some((k) => known[k] !== named[k]) || known.base !== named.base) {
        Object.assign(known, { base: named.base, cell: named.cell, margin: named.margin, spacing: named.spacing,
          typed: { cell: true, margin: true, spacing: true } });
        if (known.pixels) cutSheet(known);
      }
    } else if (!state.sheets.some((sheet) => rangesMeet(sheet, named))) {
      state.sheets.push({ ...named, pixels: null, typed: { cell: true, margin: true, spacing: true } });
    }
  }
  state.sheets.sort((a, b) => a.base - b.base);
  showSheets();
  showRuns();
}

export function wireSheets() {
  const zone = $("drop-zone");
  zone.addEventListener("dragover", (event) => {
    event.preventDefault();
    zone.classList.add("over");
  });
  zone.addEventListener("dragleave", () => zone.classList.remove("over"));
  zone.addEventListener("drop", async (event) => {
    event.preventDefault();
    zone.classList.remove("over");
    for (const file of Array.from(event.dataTransfer.files)) await loadSheet(file);
  });
  $("sheet-file").addEventListener("change", async () => {
    const file = $("sheet-file").files[0];
    $("sheet-file").value = "";
    if (file) await loadSheet(file);
  });
  for (const key of GRID_KEYS) $(`sheet-${key}`).addEventListener("input", () => applyGrid(key));
}
