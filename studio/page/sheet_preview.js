// A sheet drawn small with its cut: each cell outlined, the margin and the
// spacing between cells shaded blue, and what no cell takes shaded red; an
// image not cut yet is drawn alone.
import { show } from "./dom.js";
import { msg } from "./i18n.js";
import { cutGeometry, gridWords, leftOut } from "./sheets.js";

// Its name for a screen reader: how it is cut, and what the shades show.
function description(sheet, columns, rows) {
  const values = { name: sheet.name, columns, rows, cell: sheet.cell };
  const grid = gridWords(sheet);
  const left = Boolean(leftOut(sheet));
  if (grid) return msg(left ? "sheet.preview.gridLeftOut" : "sheet.preview.grid", { ...values, grid });
  return msg(left ? "sheet.preview.leftOut" : "sheet.preview", values);
}

export function drawPreview(preview, sheet) {
  if (!sheet || !sheet.pixels) {
    preview.hidden = true;
    return;
  }
  const scale = Math.min(1, 280 / sheet.width, 180 / sheet.height);
  const image = document.createElement("canvas");
  image.width = sheet.width;
  image.height = sheet.height;
  image.getContext("2d").putImageData(new ImageData(sheet.pixels, sheet.width, sheet.height), 0, 0);
  preview.width = Math.max(1, Math.round(sheet.width * scale));
  preview.height = Math.max(1, Math.round(sheet.height * scale));
  const context = preview.getContext("2d");
  context.clearRect(0, 0, preview.width, preview.height);
  context.drawImage(image, 0, 0, preview.width, preview.height);
  if (!sheet.cell) {
    // Not cut yet (no grid found, S still to come): the image alone.
    show(preview, msg("sheet.preview.uncut", { name: sheet.name }), { attribute: "aria-label" });
    preview.hidden = false;
    return;
  }
  const { columns, rows, count } = cutGeometry(sheet);
  const pitch = sheet.cell + sheet.spacing;
  const cellAt = (index) => [sheet.margin + (index % columns) * pitch, sheet.margin + Math.floor(index / columns) * pitch];
  // Everything outside the taken cells: the grid's gaps blue, the rest red.
  const gridEnd = [sheet.margin + columns * pitch - sheet.spacing, sheet.margin + rows * pitch - sheet.spacing];
  const [right, bottom] = [gridEnd[0] + sheet.margin, gridEnd[1] + sheet.margin];
  const m = sheet.margin;
  context.save();
  context.scale(scale, scale);
  context.fillStyle = "rgba(80, 140, 255, 0.35)";
  context.fillRect(0, 0, right, m);
  context.fillRect(0, gridEnd[1], right, m);
  context.fillRect(0, m, m, gridEnd[1] - m);
  context.fillRect(gridEnd[0], m, m, gridEnd[1] - m);
  for (let c = 1; c < columns && sheet.spacing; ++c) {
    context.fillRect(m + c * pitch - sheet.spacing, m, sheet.spacing, gridEnd[1] - m);
  }
  for (let r = 1; r < rows && sheet.spacing; ++r) {
    context.fillRect(m, m + r * pitch - sheet.spacing, gridEnd[0] - m, sheet.spacing);
  }
  context.fillStyle = "rgba(255, 70, 70, 0.45)";
  context.fillRect(right, 0, sheet.width - right, sheet.height);
  context.fillRect(0, bottom, right, sheet.height - bottom);
  for (let index = count; index < columns * rows; ++index) context.fillRect(...cellAt(index), sheet.cell, sheet.cell);
  context.restore();
  if (sheet.cell * scale >= 3) {
    context.strokeStyle = "rgba(242, 167, 195, 0.9)";
    context.lineWidth = 1;
    for (let index = 0; index < columns * rows; ++index) {
      const [x, y] = cellAt(index);
      context.strokeRect(Math.round(x * scale) + 0.5, Math.round(y * scale) + 0.5, Math.round(sheet.cell * scale) - 1,
        Math.round(sheet.cell * scale) - 1);
    }
  }
  show(preview, description(sheet, columns, rows), { attribute: "aria-label" });
  preview.hidden = false;
}
