// The sprite sheets panel: dropped or chosen images, cut by their grid
// (cell size S, margin, spacing: found in the image or typed), shown with
// their cut, and put into the host's bank at numbers of their own.
import * as bridge from "./bridge.js";
import { contentHash } from "./content_hash.js";
import { $, make, show } from "./dom.js";
import { msg, names } from "./i18n.js";
import { sheetOf } from "./script.js";
import { MAX_SHEET_SIDE, MIN_CELL } from "./settings.js";
import { cutGeometry, detectGrid, freeBase, gridWords, leftOut, packCells, rangesMeet, sheetRotation,
  sheetSummary } from "./sheets.js";
import { drawPreview } from "./sheet_preview.js";

const GRID_KEYS = ["cell", "margin", "spacing"];

// The values the user typed, by key.
function typedValues(typed, values) {
  return Object.fromEntries(GRID_KEYS.filter((key) => typed[key]).map((key) => [key, values[key]]));
}

// state: the studio's state; layers: its layers (layers.js); showLayer and
// showRuns: the layers panel's, for a sheet that changes what a layer shows.
export function createSheetPanel({ state, layers, showLayer, showRuns }) {
  const status = $("sheet-status");
  const current = () => state.current();

  // Puts a loaded sheet into the bank; the bank's runs come back. A sheet
  // that the bank could not take (no memory) is taken out again.
  function putSheet(sheet) {
    const geometry = cutGeometry(sheet);
    const packed = packCells(sheet.pixels, sheet.width, sheet, geometry);
    bridge.loadSheet(packed.pixels, packed.width, packed.height, sheet.cell, sheet.base).then(({ count, runs }) => {
      state.runs = runs;
      if (count === 0 && state.sheets.includes(sheet)) {
        state.sheets.splice(state.sheets.indexOf(sheet), 1);
        show(status, msg("sheet.noMemory", { name: sheet.name }));
        showSheets();
      }
      showRuns();
      layers.changed({ user: false });
    });
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
      layers.freshInit(layer);
    }
    state.sheets.sort((a, b) => a.base - b.base);
    return following;
  }

  function missingSheets() {
    const missing = state.sheets.filter((sheet) => !sheet.pixels).map((sheet) => sheet.name);
    return missing.length ? msg("sheets.loadAgain", { names: names(missing), count: missing.length }) : null;
  }

  function showSheets() {
    const list = $("sheet-list");
    list.replaceChildren();
    for (const sheet of state.sheets) {
      const item = make("li", { className: sheet.pixels ? "" : "missing" });
      const grid = gridWords(sheet);
      const values = { name: sheet.name, first: sheet.base, last: sheet.base + sheet.count - 1, cell: sheet.cell };
      show(item, sheet.pixels ? msg("sheet.listed", { summary: sheetSummary(sheet) })
        : grid ? msg("sheet.missingGrid", { ...values, grid }) : msg("sheet.missing", values));
      list.appendChild(item);
    }
  }

  // The sheet the grid fields work on: the selected layer's, else the latest.
  function targetSheet() {
    return sheetOf(state.sheets, current()) ?? [...state.sheets].reverse().find((sheet) => sheet.pixels) ?? null;
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

  // The status after a sheet was cut: what it is, who uses it, what the cut
  // leaves out.
  function settled(sheet, use) {
    show(status, [use ?? msg("sheet.loaded", { summary: sheetSummary(sheet) }), leftOut(sheet)]);
    drawPreview($("sheet-preview"), sheet);
    showSheets();
  }

  async function loadSheet(file) {
    let bitmap;
    let hash;
    try {
      hash = await contentHash(await file.arrayBuffer());
      bitmap = await createImageBitmap(file);
    } catch {
      show(status, msg("sheet.unreadable", { name: file.name }));
      return;
    }
    const { width, height } = bitmap;
    if (width > MAX_SHEET_SIDE || height > MAX_SHEET_SIDE) {
      show(status, msg("sheet.tooLarge", { name: file.name, width, height, most: MAX_SHEET_SIDE }));
      return;
    }
    if (width < MIN_CELL || height < MIN_CELL) {
      show(status, msg("sheet.tooSmall", { name: file.name, width, height, least: MIN_CELL }));
      return;
    }
    const canvas = make("canvas", { width, height });
    const context = canvas.getContext("2d", { willReadFrequently: true });
    context.drawImage(bitmap, 0, 0);
    const pixels = context.getImageData(0, 0, width, height).data;
    // A missing sheet of this name waits for this file, unless it names other content.
    const waiting = state.sheets.filter((known) => known.name === file.name && !known.pixels);
    let sheet = waiting.find((known) => !known.hash || known.hash === hash) ?? waiting[0] ??
      state.sheets.find((known) => known.name === file.name);
    if (sheet && !sheet.pixels && sheet.hash && sheet.hash !== hash) {
      show(status, msg("sheet.otherContent", { name: file.name, hash, wanted: sheet.hash, first: sheet.base,
        last: sheet.base + sheet.count - 1 }));
      return;
    }
    const restoring = Boolean(sheet && !sheet.pixels);
    if (!sheet) {
      sheet = { name: file.name, base: freeBase(state.sheets, null), count: 0, margin: 0, spacing: 0, typed: {} };
      state.sheets.push(sheet);
    }
    Object.assign(sheet, { pixels, width, height, hash });
    if (restoring) sheet.typed = { cell: true, margin: true, spacing: true };
    findGrid(sheet);
    const following = cutSheet(sheet);
    let use;
    if (!restoring) {
      const layer = current();
      const run = state.runs.find((r) => r.base === sheet.base);
      Object.assign(layer, { base: sheet.base, count: sheet.count, rotation: run ? run.rotation : 1 });
      layers.freshInit(layer);
      use = msg("sheet.loadedUsed", { summary: sheetSummary(sheet), number: state.selected + 1 });
    } else {
      const users = state.layers.filter((layer) => sheetOf(state.sheets, layer) === sheet)
        .map((layer) => state.layers.indexOf(layer) + 1);
      if (users.length) {
        use = msg("sheet.loadedBack", { summary: sheetSummary(sheet), layers: users.join(", "), count: users.length });
      }
      following.forEach(layers.freshInit);
    }
    settled(sheet, use);
    showLayer();
    layers.changed();
  }

  // S, margin or spacing typed: the sheet is cut again at once; an empty
  // field goes back to what the sheet's grid shows; a value that leaves no
  // whole cell is refused, visibly.
  function applyGrid(key) {
    const input = $(`sheet-${key}`);
    const field = msg(`grid.${key}`);
    const sheet = targetSheet();
    if (!sheet || !sheet.pixels) {
      input.setAttribute("aria-invalid", "false");
      show(status, input.value.trim() ? msg("sheet.loadFirst", { field }) : null);
      return;
    }
    const typed = { ...sheet.typed };
    const grid = Object.fromEntries(GRID_KEYS.map((k) => [k, sheet[k]]));
    const text = input.value.trim();
    let error = null;
    if (text === "" && !input.validity.badInput) {
      typed[key] = false;
    } else {
      const value = Number(input.value);
      const limit = key === "cell" ? Math.min(sheet.width, sheet.height) : Math.max(sheet.width, sheet.height);
      const low = key === "cell" ? MIN_CELL : 0;
      if (input.validity.badInput) error = msg("number.unreadable");
      else if (!Number.isInteger(value)) error = msg("number.notWhole", { text });
      else if (value < low || value > limit) error = msg("number.outside", { text: String(value), min: low, max: limit });
      else {
        grid[key] = value;
        typed[key] = true;
      }
    }
    if (!error) {
      // What was not typed is found again, fitted to what was.
      const found = detectGrid(sheet.pixels, sheet.width, sheet.height, typedValues(typed, grid));
      for (const k of GRID_KEYS) if (!typed[k]) grid[k] = found[k];
      if (cutGeometry({ width: sheet.width, height: sheet.height, ...grid }).count === 0) {
        error = msg("sheet.noWholeCell", { text });
      }
    }
    if (error) {
      input.setAttribute("aria-invalid", "true");
      show(status, msg("sheet.gridRefused", { field, error, least: MIN_CELL, most: Math.min(sheet.width, sheet.height),
        name: sheet.name, cell: sheet.cell }));
      return;
    }
    input.setAttribute("aria-invalid", "false");
    sheet.typed = typed;
    if (GRID_KEYS.some((k) => grid[k] !== sheet[k])) {
      Object.assign(sheet, grid);
      cutSheet(sheet);
    }
    settled(sheet, null);
    const keep = input.value;
    showLayer();
    input.value = keep;
    layers.changed();
  }

  function wire() {
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

  wire();
  return {
    showSheets,
    // Every loaded sheet into a new host's bank.
    putSheets() {
      state.sheets.filter((sheet) => sheet.pixels).forEach(putSheet);
    },
    // "Load the sprite sheets "a.png", "b.png" again.", or null.
    missingSheets,
    // Sheets named by a restored setup (a setup file, a link, a script),
    // known by name and the hash of their file: a loaded sheet that is the
    // one named takes the named grid and numbers, an unknown one waits for
    // its file. A loaded sheet with another name or content at a named
    // sheet's numbers is never drawn for it: it moves to free numbers, and
    // the named sheet waits for its own file. Gives { notes, fresh }: what
    // to tell the user, and whether the host's bank must be made afresh
    // (it still holds a moved sheet's sprites at the named numbers).
    mergeSheets(saved) {
      const isNamed = (sheet, named) => sheet.name === named.name && (!named.hash || !sheet.hash ||
        sheet.hash === named.hash);
      const matches = new Map(saved.map((named) => [named, state.sheets.find((sheet) => isNamed(sheet, named))]));
      const matched = new Set(matches.values());
      const inTheWay = state.sheets.filter((sheet) => !matched.has(sheet) &&
        saved.some((named) => rangesMeet(sheet, named)));
      state.sheets = state.sheets.filter((sheet) => !inTheWay.includes(sheet));
      for (const named of saved) {
        const known = matches.get(named);
        if (known) {
          if (named.hash) known.hash ??= named.hash;
          if (GRID_KEYS.some((k) => known[k] !== named[k]) || known.base !== named.base) {
            Object.assign(known, { base: named.base, cell: named.cell, margin: named.margin, spacing: named.spacing,
              typed: { cell: true, margin: true, spacing: true } });
            if (known.pixels) cutSheet(known);
          }
        } else {
          state.sheets.push({ ...named, pixels: null, typed: { cell: true, margin: true, spacing: true } });
        }
      }
      const notes = [];
      // A loaded sheet in the way keeps its pixels at free numbers; a
      // missing one of an earlier setup is forgotten.
      for (const other of inTheWay.filter((sheet) => sheet.pixels)) {
        const named = saved.find((one) => rangesMeet(other, one));
        const values = { name: named.name, other: other.name, first: other.base, last: other.base + other.count - 1 };
        other.base = freeBase(state.sheets, null);
        state.sheets.push(other);
        notes.push(msg(other.name === named.name ? "sheets.otherContent" : "sheets.clash",
          { ...values, hash: other.hash, wanted: named.hash, moved: other.base, movedLast: other.base + other.count - 1 }));
      }
      for (const named of saved.filter((one) => !matches.get(one))) {
        const twin = state.sheets.find((sheet) => sheet.pixels && sheet.name === named.name && !inTheWay.includes(sheet));
        if (twin) notes.push(msg("sheets.otherContentKept", { name: named.name, hash: twin.hash, wanted: named.hash }));
      }
      state.sheets.sort((a, b) => a.base - b.base);
      showSheets();
      showRuns();
      return { notes: [...notes, missingSheets()].filter(Boolean), fresh: inTheWay.some((sheet) => sheet.pixels) };
    },
  };
}
