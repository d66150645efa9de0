// Sprite sheets as artists make them: a grid of S x S cells, with a margin
// around the grid and a spacing between cells, cut row by row. Pure: the
// pixels come in as RGBA arrays, nothing here touches the page.

import { msg } from "./i18n.js";
import { MAX_SHEET_CELLS, MIN_CELL, SHEET_BASE } from "./settings.js";

// Where the cells of a sheet lie: columns x rows cells of cell px, the first
// at (margin, margin), each next one cell + spacing further on. A cell must
// lie wholly inside the sheet; the margin on the right and bottom may be
// narrower than on the left and top.
export function cutGeometry({ width, height, cell, margin = 0, spacing = 0 }) {
  const fit = (side) => (cell > 0 && side - margin >= cell ? Math.floor((side - margin + spacing) / (cell + spacing)) : 0);
  const columns = fit(width);
  const rows = fit(height);
  const used = (n) => (n > 0 ? n * cell + (n - 1) * spacing : 0);
  return {
    columns, rows,
    whole: columns * rows,
    count: Math.min(columns * rows, MAX_SHEET_CELLS),
    // What lies past the last cell beyond a margin as wide as the first.
    right: Math.max(0, width - 2 * margin - used(columns)),
    bottom: Math.max(0, height - 2 * margin - used(rows)),
  };
}

// The run of sprites the host makes from a cut: one rotation group per row
// of cells, or 1 when the cells taken do not split evenly into the rows.
export function sheetRotation(geometry) {
  return geometry.rows > 0 && geometry.count % geometry.rows === 0 ? geometry.rows : 1;
}

// The cells of a cut packed side by side (columns x rows cells of cell px,
// no margin, no spacing): what the host cuts into sprites.
export function packCells(rgba, width, { cell, margin = 0, spacing = 0 }, { columns, rows }) {
  const packedWidth = columns * cell;
  const packed = new Uint8ClampedArray(packedWidth * rows * cell * 4);
  for (let row = 0; row < rows; ++row) {
    for (let y = 0; y < cell; ++y) {
      const sourceY = margin + row * (cell + spacing) + y;
      for (let column = 0; column < columns; ++column) {
        const sourceX = margin + column * (cell + spacing);
        const from = (sourceY * width + sourceX) * 4;
        packed.set(rgba.subarray(from, from + cell * 4), ((row * cell + y) * packedWidth + column * cell) * 4);
      }
    }
  }
  return { pixels: packed, width: packedWidth, height: rows * cell };
}

// The runs of filled entries of a profile: [start, end) pairs.
function filledRuns(filled) {
  const runs = [];
  for (let i = 0; i < filled.length; ++i) {
    if (filled[i] && (i === 0 || !filled[i - 1])) runs.push([i, i]);
    if (filled[i]) runs[runs.length - 1][1] = i + 1;
  }
  return runs;
}

const same = (values) => values.every((value) => value === values[0]);

// The grid of a sheet: { cell, margin, spacing }, or null when none can be
// found (S has to be typed). Sprites on a transparent ground stand apart, so
// the columns and rows of pixels that hold anything form one run per column
// and per row of cells; the transparent gutters between them give the grid:
// - sprites that fill their cells (all four corners of each box drawn) show
//   the grid itself: the runs are the cells, the gaps the spacing, the
//   first run starts at the margin;
// - otherwise sprites sit in the middle of their cells: the distance from
//   one to the next is cell + spacing, and what is left of the sheet is the
//   margin on both sides less one spacing. Of the cells that hold every
//   sprite whole, the roundest size is taken (a multiple of 16 before 8,
//   4, 2), then the smallest spacing: artists draw on 32 or 48 px cells
//   with a few px between them, not on 34 or 50 px cells without.
// A sheet without any transparent column or row has no gutters: only a
// strip of two or more squares is cut (into its squares); for any other
// the grid cannot be found.
// typed: values the user gave (cell, margin or spacing), which the others
// are fitted to where the sprites' places allow it; with S typed there is
// always a grid (margin and spacing 0 unless typed or found).
export function detectGrid(rgba, width, height, typed = {}) {
  const columnFilled = new Uint8Array(width);
  const rowFilled = new Uint8Array(height);
  for (let y = 0; y < height; ++y) {
    for (let x = 0; x < width; ++x) {
      if (rgba[(y * width + x) * 4 + 3] !== 0) {
        columnFilled[x] = 1;
        rowFilled[y] = 1;
      }
    }
  }
  const across = filledRuns(columnFilled);
  const down = filledRuns(rowFilled);
  const whole = (runs, side) => runs.length === 1 && runs[0][0] === 0 && runs[0][1] === side;
  const check = (grid) => {
    const { columns, rows } = cutGeometry({ width, height, ...grid });
    return grid.cell >= MIN_CELL && columns >= across.length && rows >= down.length ? grid : null;
  };
  const typedGrid = typed.cell === undefined ? null
    : { cell: typed.cell, margin: typed.margin ?? 0, spacing: typed.spacing ?? 0 };
  if (whole(across, width) && whole(down, height)) return stripGrid(width, height) ?? typedGrid;
  return (across.length && down.length && (filledCells() ?? spacedCentres()))
    || plainGrid(width, height, across.length, down.length) || typedGrid;

  function filledCells() {
    const lengths = [...across, ...down].map(([start, end]) => end - start);
    const gaps = [across, down].flatMap((runs) => runs.slice(1).map(([start], i) => start - runs[i][1]));
    if (!same(lengths) || !same(gaps) || across[0][0] !== down[0][0]) return null;
    const alpha = (x, y) => rgba[(y * width + x) * 4 + 3];
    for (const [x0, x1] of across) {
      for (const [y0, y1] of down) {
        if (!alpha(x0, y0) || !alpha(x1 - 1, y0) || !alpha(x0, y1 - 1) || !alpha(x1 - 1, y1 - 1)) return null;
      }
    }
    return check({ cell: lengths[0], margin: across[0][0], spacing: gaps.length ? gaps[0] : 0 });
  }

  function spacedCentres() {
    const pitch = (runs) => (runs.length < 2 ? 0
      : Math.round((runs.at(-1)[0] + runs.at(-1)[1] - runs[0][0] - runs[0][1]) / 2 / (runs.length - 1)));
    const step = pitch(across) || pitch(down);
    if (!step || (pitch(across) && pitch(down) && pitch(across) !== pitch(down))) return null;
    const runs = pitch(across) ? across : down;
    const side = runs === across ? width : height;
    const left = side - runs.length * step;  // 2 margin - spacing
    if (left < 0) return null;
    const grid = (spacing) => (spacing < 0 || spacing >= step || (left + spacing) % 2 ? null
      : check({ cell: step - spacing, margin: (left + spacing) / 2, spacing }));
    if (typed.spacing !== undefined) return grid(typed.spacing);
    if (typed.margin !== undefined) return grid(2 * typed.margin - left);
    if (typed.cell !== undefined) return grid(step - typed.cell);
    // Each sprite whole inside the cell its start falls in.
    const holds = ({ cell, margin }) => [across, down].every((list) => list.every(([start, end]) => {
      const first = margin + Math.floor((start - margin) / step) * step;
      return start >= first && end <= first + cell;
    }));
    const round = (cell) => Math.min(16, cell & -cell);
    let best = null;
    for (let spacing = left % 2; spacing < step; spacing += 2) {
      const found = grid(spacing);
      if (found && holds(found) && (!best || round(found.cell) > round(best.cell))) best = found;
    }
    return best;
  }
}

// A sheet with no gutters at all: a strip of two or more squares, cut into
// them; null for any other.
function stripGrid(width, height) {
  const [long, short] = width >= height ? [width, height] : [height, width];
  return short >= MIN_CELL && long % short === 0 && long >= 2 * short ? { cell: short, margin: 0, spacing: 0 } : null;
}

// A sheet with no margin or spacing: its own size over its columns and rows
// of sprites, else a strip's short side; null when neither fits.
function plainGrid(width, height, columnCount, rowCount) {
  const fits = (cell) => cell >= MIN_CELL && width % cell === 0 && height % cell === 0;
  const across = columnCount > 0 && width % columnCount === 0 ? width / columnCount : 0;
  const down = rowCount > 0 && height % rowCount === 0 ? height / rowCount : 0;
  const grid = (cell) => ({ cell, margin: 0, spacing: 0 });
  if (across && across === down && fits(across)) return grid(across);
  // A last row (or column) of cells that is partly empty leaves the other
  // direction's count whole.
  if (fits(across) && height >= across) return grid(across);
  if (fits(down) && width >= down) return grid(down);
  return stripGrid(width, height);
}

export function rangesMeet(a, b) {
  return a.base < b.base + b.count && b.base < a.base + a.count;
}

// The first free sprite number for a sheet: 100, or the next multiple of
// 100 past the other sheets.
export function freeBase(sheets, except) {
  const ends = sheets.filter((sheet) => sheet !== except).map((sheet) => sheet.base + sheet.count);
  return Math.max(SHEET_BASE, Math.ceil(Math.max(0, ...ends) / 100) * 100);
}

// What the cut leaves out, as a message (null when every pixel is in a
// cell, its spacing or its margin).
export function leftOut(sheet) {
  const { right, bottom, whole, count } = cutGeometry(sheet);
  const edges = right && bottom ? msg("sheet.leftOut.both", { right, bottom })
    : right ? msg("sheet.leftOut.right", { right }) : bottom ? msg("sheet.leftOut.bottom", { bottom }) : null;
  const cells = whole > count ? msg("sheet.leftOut.cells", { left: whole - count, whole, most: MAX_SHEET_CELLS }) : null;
  const what = edges && cells ? msg("sheet.leftOut.edgesAndCells", { edges, cells }) : edges ?? cells;
  return what ? msg("sheet.leftOut", { what }) : null;
}

// The margin and spacing, as a message (null when there are none).
export function gridWords(sheet) {
  if (sheet.margin && sheet.spacing) return msg("sheet.grid.both", { margin: sheet.margin, spacing: sheet.spacing });
  if (sheet.margin) return msg("sheet.grid.margin", { margin: sheet.margin });
  if (sheet.spacing) return msg("sheet.grid.spacing", { spacing: sheet.spacing });
  return null;
}

// "petals.png: 8 sprites of 48 × 48 (numbers 100–107), 4 × 2 cells, margin 10 px".
export function sheetSummary(sheet) {
  const values = { name: sheet.name, count: sheet.count, cell: sheet.cell, first: sheet.base,
    last: sheet.base + sheet.count - 1, columns: sheet.columns, rows: sheet.rows };
  const grid = gridWords(sheet);
  return grid ? msg("sheet.summaryGrid", { ...values, grid }) : msg("sheet.summary", values);
}
