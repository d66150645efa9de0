// The studio's reader of the script grammar: Init, the setters, Start and
// Release, one call a line; // comments, of which the studio's own give the
// rate, the hidden flag and the sheets. Gives what the shared reader gives:
// { ok, layers, sheets, calls, notes } or { ok: false, line, error }.
const ARGUMENTS = { Init: 6, Start: 1, Release: 1, SetType: 2, SetNumof: 2, SetMaxAmp: 2, SetXSpeed: 2, SetYSpeed: 2 };
const SETTERS = { SetType: "type", SetNumof: "numof", SetMaxAmp: "maxAmp", SetXSpeed: "xSpeed", SetYSpeed: "ySpeed" };
const SHEET = /^\/\/ sprites (\d+)-(\d+): sheet "(.*)", (\d+) x (\d+) cells of (\d+) x \d+ px(?:, margin (\d+))?(?:, spacing (\d+))?/;

export function parseCalls(text) {
  const byHandle = new Map();
  const calls = [];
  const sheets = [];
  let hidden = null;
  try {
    text.split(/\r?\n/).forEach((raw, index) => {
      const line = index + 1;
      const trimmed = raw.trim();
      if (!trimmed) return;
      const fail = (error) => { throw Object.assign(new Error(error), { line }); };
      if (trimmed.startsWith("//")) {
        let match = /^\/\/ Layer \d+, handle (-?\d+).*?(\(hidden in the studio\))?$/.exec(trimmed);
        if (match) hidden = { handle: Number(match[1]), hidden: Boolean(match[2]) };
        match = /^\/\/ the engine draws handle (-?\d+) with rate (-?\d+)/.exec(trimmed);
        if (match && byHandle.has(Number(match[1]))) {
          const handle = Number(match[1]);
          byHandle.get(handle).rate = Number(match[2]);
          calls.push({ op: "Draw", handle, args: [Number(match[2])], line });
        }
        match = SHEET.exec(trimmed);
        if (match) {
          const [first, last, name, columns, rows, cell, margin, spacing] = match.slice(1);
          sheets.push({ base: Number(first), count: Number(last) - Number(first) + 1, name, columns: Number(columns),
            rows: Number(rows), cell: Number(cell), margin: Number(margin ?? 0), spacing: Number(spacing ?? 0) });
        }
        return;
      }
      const call = /^([A-Za-z]+)\s*\(([^)]*)\)\s*;?\s*(\/\/.*)?$/.exec(trimmed);
      if (!call) fail(`"${trimmed}" is not a call such as SetNumof(1, 40);`);
      const [, op, argText] = call;
      const texts = argText.split(",").map((arg) => arg.trim());
      const expect = ARGUMENTS[op];
      if (!expect) fail(`${op} is not one of the plug-in's calls`);
      if (texts.length !== expect || texts.includes("")) fail(`${op} takes ${expect} argument${expect === 1 ? "" : "s"}`);
      const numbers = texts.map((arg) => (Number.isFinite(Number(arg)) ? Number(arg) : fail(`"${arg}" is not a number`)));
      const [handle, ...args] = numbers;
      calls.push({ op, handle, args, line });
      if (op === "Init") {
        if (!byHandle.has(handle)) {
          const [width, height, base, count, rotation] = args;
          byHandle.set(handle, { handle, width, height, base, count, rotation, type: 0, numof: 40, maxAmp: 40,
            xSpeed: 1, ySpeed: 1, rate: 255, started: false, hidden: Boolean(hidden?.handle === handle && hidden.hidden) });
        }
        return;
      }
      const layer = byHandle.get(handle);
      if (!layer) fail(`${op} for handle ${handle} before its Init`);
      if (op === "Release") byHandle.delete(handle);
      else if (op === "Start") layer.started = true;
      else layer[SETTERS[op]] = args[0];
    });
  } catch (error) {
    return { ok: false, line: error.line, error: error.message };
  }
  return { ok: true, layers: [...byHandle.values()], sheets, calls, notes: [] };
}
