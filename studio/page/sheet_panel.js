// The sprite sheets panel: dropped or chosen images, cut by their grid
// (cell size S, margin, spacing: found in the image or typed), shown with
// their cut, and put into the host's bank at numbers of their own.
import * as bridge from "./bridge.js";
import { contentHash } from "./content_hash.js";
import { $, make, show } from "./dom.js";
import { msg, names } from "./i18n.js";
import { sheetOf } from "./script.js";
import { MAX_SHEET_SIDE, MIN_CELL, SHEET_BASE } from "./settings.js";
import { cutGeometry, detectGrid, freeBase, gridWords, leftOut, packCells, rangesMeet, sheetRotation,
  sheetSummary } from "./sheets.js";
import { drawPreview } from "./sheet_preview.js";

const GRID_KEYS = ["cell", "margin", "spacing"];

// The values the user typed, by key.
function typedValues(typed, values) {
  return Object.fromEntries(GRID_KEYS.filter((key) => typed[key]).map((key) => [key, values[key]]));
}

// A file the browser may read as an image but the studio does not take.
const isSvg = (file) => file.type === "image/svg+xml" || /\.svgz?$/i.test(file.name);

// A file is being dragged (not text or a link).
const draggingFiles = (event) => Array.from(event.dataTransfer?.types ?? []).includes("Files");

// state: the studio's state; layers: its layers (layers.js); showLayer and
// showRuns: the layers panel's, for a sheet that changes what a layer shows.
export function createSheetPanel({ state, layers, showLayer, showRuns }) {
  const status = $("sheet-status");
  const current = () => state.current();
  // An image in which no grid was found, for the layer selected when it
  // came: nothing is cut until S is typed.
  let pending = null;
  // The sheet the status tells of having loaded, and for which layer: the
  // status follows that layer (its number, or that it no longer uses it).
  let loaded = null;

  function say(message) {
    loaded = null;
    show(status, message);
  }

  // Puts a loaded sheet into the bank; the bank's runs come back. A sheet
  // that the bank could not take (no memory) is taken out again.
  function putSheet(sheet) {
    const geometry = cutGeometry(sheet);
    const packed = packCells(sheet.pixels, sheet.width, sheet, geometry);
    bridge.loadSheet(packed.pixels, packed.width, packed.height, sheet.cell, sheet.base).then(({ count, runs }) => {
      state.runs = runs;
      if (count === 0 && state.sheets.includes(sheet)) {
        state.sheets.splice(state.sheets.indexOf(sheet), 1);
        say(msg("sheet.noMemory", { name: sheet.name }));
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

  // The sheet the grid fields work on: the image waiting for S for the
  // selected layer, else the loaded sheet the selected layer shows, else none.
  function fieldSheet() {
    if (pending && pending.layer === current()) return pending;
    const sheet = sheetOf(state.sheets, current());
    return sheet?.pixels ? sheet : null;
  }

  // Why the grid fields cannot be used for the selected layer (null when
  // they can).
  function fieldsBlocked() {
    if (fieldSheet()) return null;
    const layer = current();
    const values = { number: state.selected + 1, first: layer.base, last: layer.base + Math.max(layer.count, 1) - 1 };
    const sheet = sheetOf(state.sheets, layer);
    if (sheet) return msg("sheet.fields.notLoaded", { ...values, name: sheet.name });
    return msg(layer.base < SHEET_BASE ? "sheet.fields.builtIn" : "sheet.fields.noSheet", values);
  }

  // The grid fields and the preview for the selected layer: its sheet's S,
  // margin and spacing (typed or found), or disabled with the reason.
  function showFields() {
    const sheet = fieldSheet();
    const blocked = fieldsBlocked();
    for (const key of GRID_KEYS) {
      const input = $(`sheet-${key}`);
      input.disabled = Boolean(blocked);
      input.value = sheet && (sheet.typed[key] || sheet !== pending) ? String(sheet[key]) : "";
      input.setAttribute("aria-invalid", "false");
    }
    show($("sheet-fields-blocked"), blocked);
    drawPreview($("sheet-preview"), sheet);
  }

  // The status after a sheet was loaded for a layer: what it is, which
  // layer now shows it and what it replaced there, how its grid was chosen,
  // what the cut leaves out. It follows the layers: a layer moved keeps its
  // sheet under its new number; a layer gone or given other sprites leaves
  // only what the sheet is.
  function showLoaded() {
    const { sheet, layer, before, found } = loaded;
    if (!state.sheets.includes(sheet)) {
      say(null);
      return;
    }
    const number = state.layers.indexOf(layer) + 1;
    const summary = sheetSummary(sheet);
    const lines = [];
    if (number && sheetOf(state.sheets, layer) === sheet) {
      lines.push(msg("sheet.loadedUsed", { summary, number }));
      if (before) lines.push(msg(before.name ? "sheet.replacedSheet" : "sheet.replaced", { ...before, number }));
    } else {
      lines.push(msg("sheet.loaded", { summary }));
    }
    if (found) lines.push(msg("sheet.gridFound"));
    lines.push(leftOut(sheet));
    show(status, lines);
  }

  // The grid found in a sheet, for what the user has not typed; false when
  // there is none.
  function findGrid(sheet) {
    const found = detectGrid(sheet.pixels, sheet.width, sheet.height, typedValues(sheet.typed, sheet));
    if (found) for (const key of GRID_KEYS) if (!sheet.typed[key]) sheet[key] = found[key];
    if (found && cutGeometry(sheet).count > 0) return true;
    // What was typed for an image of that name before leaves no cell here.
    sheet.typed = {};
    const own = detectGrid(sheet.pixels, sheet.width, sheet.height);
    if (own) Object.assign(sheet, own);
    return Boolean(own);
  }

  // The status after a sheet was cut again: what it is, what the cut leaves
  // out.
  function settled(sheet) {
    say([msg("sheet.loaded", { summary: sheetSummary(sheet) }), leftOut(sheet)]);
    showFields();
    showSheets();
  }

  // A dropped or chosen file as pixels, or null (the status says why).
  async function readImage(file) {
    if (isSvg(file)) {
      say(msg("sheet.svg", { name: file.name }));
      return null;
    }
    let bitmap;
    let hash;
    try {
      hash = await contentHash(await file.arrayBuffer());
      bitmap = await createImageBitmap(file);
    } catch {
      say(msg("sheet.unreadable", { name: file.name }));
      return null;
    }
    const { width, height } = bitmap;
    try {
      if (width > MAX_SHEET_SIDE || height > MAX_SHEET_SIDE) {
        say(msg("sheet.tooLarge", { name: file.name, width, height, most: MAX_SHEET_SIDE }));
        return null;
      }
      if (width < MIN_CELL || height < MIN_CELL) {
        say(msg("sheet.tooSmall", { name: file.name, width, height, least: MIN_CELL }));
        return null;
      }
      const canvas = make("canvas", { width, height });
      const context = canvas.getContext("2d", { willReadFrequently: true });
      context.drawImage(bitmap, 0, 0);
      return { name: file.name, hash, pixels: context.getImageData(0, 0, width, height).data, width, height };
    } finally {
      bitmap.close();
    }
  }

  async function loadSheet(file) {
    const image = await readImage(file);
    if (!image) return;
    // A missing sheet of this name waits for this file, unless it names other content.
    const waiting = state.sheets.filter((sheet) => sheet.name === image.name && !sheet.pixels);
    const wanted = waiting.find((sheet) => !sheet.hash || sheet.hash === image.hash) ?? waiting[0];
    if (wanted?.hash && wanted.hash !== image.hash) {
      say(msg("sheet.otherContent", { name: image.name, hash: image.hash, wanted: wanted.hash, first: wanted.base,
        last: wanted.base + wanted.count - 1 }));
      return;
    }
    if (wanted) {
      restoreSheet(wanted, image);
      return;
    }
    const known = state.sheets.find((sheet) => sheet.name === image.name);
    const sheet = { ...image, cell: 0, margin: 0, spacing: 0, typed: known ? { ...known.typed } : {} };
    if (known) GRID_KEYS.forEach((key) => { sheet[key] = known[key]; });
    if (!findGrid(sheet)) {
      // No grid to find: the user gives S; the layer keeps its sprites.
      pending = { ...sheet, typed: {}, layer: current() };
      say(msg("sheet.noGrid", { name: image.name, width: image.width, height: image.height }));
      showFields();
      $("sheet-cell").focus();
      return;
    }
    useSheet(sheet, current());
  }

  // A cut image becomes the sheet of its name (new, or loaded again) and
  // layer shows it.
  function useSheet(cut, layer) {
    pending = null;
    let sheet = state.sheets.find((known) => known.name === cut.name);
    if (!sheet) {
      sheet = { name: cut.name, base: freeBase(state.sheets, null), count: 0 };
      state.sheets.push(sheet);
    }
    const shown = sheetOf(state.sheets, layer);
    const before = shown === sheet || layer.count <= 0 ? null
      : { first: layer.base, last: layer.base + layer.count - 1, name: shown?.name };
    Object.assign(sheet, { pixels: cut.pixels, width: cut.width, height: cut.height, hash: cut.hash, typed: cut.typed },
      Object.fromEntries(GRID_KEYS.map((key) => [key, cut[key]])));
    cutSheet(sheet);
    const run = state.runs.find((r) => r.base === sheet.base);
    Object.assign(layer, { base: sheet.base, count: sheet.count, rotation: run ? run.rotation : 1 });
    layers.freshInit(layer);
    loaded = { sheet, layer, before, found: !cut.typed.cell };
    showLoaded();
    showSheets();
    showLayer();
    layers.changed();
  }

  // A sheet a restored setup named, back at its numbers and with its grid.
  function restoreSheet(sheet, image) {
    Object.assign(sheet, image, { typed: { cell: true, margin: true, spacing: true } });
    findGrid(sheet);
    const following = cutSheet(sheet);
    const users = state.layers.filter((layer) => sheetOf(state.sheets, layer) === sheet)
      .map((layer) => state.layers.indexOf(layer) + 1);
    following.forEach(layers.freshInit);
    say([users.length ? msg("sheet.loadedBack", { summary: sheetSummary(sheet), layers: users.join(", "), count: users.length })
      : msg("sheet.loaded", { summary: sheetSummary(sheet) }), leftOut(sheet)]);
    showSheets();
    showLayer();
    layers.changed();
  }

  // S, margin or spacing typed: the selected layer's sheet is cut again at
  // once (an image waiting for S is cut once S is given); an empty field
  // goes back to what the sheet's grid shows; a value that leaves no whole
  // cell is refused, visibly.
  function applyGrid(key) {
    const input = $(`sheet-${key}`);
    const field = msg(`grid.${key}`);
    const sheet = fieldSheet();
    if (!sheet) {
      showFields();
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
    let found = null;
    if (!error) {
      // What was not typed is found again, fitted to what was.
      found = detectGrid(sheet.pixels, sheet.width, sheet.height, typedValues(typed, grid));
      if (found) {
        for (const k of GRID_KEYS) if (!typed[k]) grid[k] = found[k];
        if (cutGeometry({ width: sheet.width, height: sheet.height, ...grid }).count === 0) {
          error = msg("sheet.noWholeCell", { text });
        }
      }
    }
    if (error) {
      input.setAttribute("aria-invalid", "true");
      const values = { field, error, least: MIN_CELL, most: Math.min(sheet.width, sheet.height), name: sheet.name,
        cell: sheet.cell };
      say(msg(sheet === pending ? "sheet.gridRefusedUncut" : "sheet.gridRefused", values));
      return;
    }
    input.setAttribute("aria-invalid", "false");
    if (sheet === pending) {
      pending.typed = typed;
      Object.assign(pending, grid);
      if (found) useSheet(pending, pending.layer);
      else say(msg("sheet.noGrid", { name: sheet.name, width: sheet.width, height: sheet.height }));
      return;
    }
    sheet.typed = typed;
    if (GRID_KEYS.some((k) => grid[k] !== sheet[k])) {
      Object.assign(sheet, grid);
      cutSheet(sheet);
    }
    const keep = input.value;
    settled(sheet);
    showLayer();
    input.value = keep;
    layers.changed();
  }

  // A file dropped anywhere on the page is loaded as one dropped on the
  // zone; the zone lights up while files are dragged over the page.
  function wire() {
    const zone = $("drop-zone");
    document.addEventListener("dragover", (event) => {
      if (!draggingFiles(event)) return;
      event.preventDefault();
      zone.classList.add("over");
    });
    document.addEventListener("dragleave", (event) => {
      if (!event.relatedTarget) zone.classList.remove("over");
    });
    document.addEventListener("drop", async (event) => {
      if (!draggingFiles(event)) return;
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
    layers.onChange(() => {
      if (pending && !state.layers.includes(pending.layer)) pending = null;
      if (loaded) showLoaded();
    });
  }

  wire();
  return {
    showSheets,
    showFields,
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
