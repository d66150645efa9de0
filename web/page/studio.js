// The studio page: runs the plug-in (velora_studio.wasm) the way the engine
// does, and lets an author tune it.
//
// Each layer is one effect handle with its own settings. The page calls the
// plug-in's control exports exactly as a script would (Init, the setters,
// Start, Release), so every change takes effect when the engine would apply
// it: the setters at the next frame or motion step, numof at the next Start,
// a field size or sprite run only through a fresh Init (Release, Init, the
// setters, Start). Each animation frame the host clears its frame to the
// background and calls the plug-in object's Draw once per drawn layer, in
// order, then shows the frame on the canvas.
"use strict";

(() => {
  const $ = (id) => document.getElementById(id);
  const stage = $("stage");
  const readout = $("readout");

  // The sliders of a layer. The number beside each slider takes any value in
  // [min, max]; the slider covers the everyday range.
  const PARAMS = [
    { key: "numof", label: "Particles", call: "SetNumof", min: 0, max: 5000, slider: [0, 300], step: 1 },
    { key: "maxAmp", label: "Sway amplitude", call: "SetMaxAmp", min: -1000, max: 1000, slider: [0, 200], step: 1 },
    { key: "xSpeed", label: "X speed", call: "SetXSpeed", min: -100, max: 100, slider: [-5, 5], step: 0.05, float: true },
    { key: "ySpeed", label: "Y speed", call: "SetYSpeed", min: -100, max: 100, slider: [-1, 5], step: 0.05, float: true },
    { key: "rate", label: "Rate (Draw)", call: "Draw", min: 0, max: 255, slider: [0, 255], step: 1 },
  ];

  // Fields that only a fresh Init changes.
  const INIT_FIELDS = [
    { key: "width", id: "layer-width", min: 1, max: 4096 },
    { key: "height", id: "layer-height", min: 1, max: 4096 },
    { key: "base", id: "layer-base", min: 0, max: 99999 },
    { key: "count", id: "layer-count", min: 0, max: 9999 },
    { key: "rotation", id: "layer-rotation", min: 0, max: 999 },
  ];

  // The opening scene: small slow petals far behind, large fast ones in front.
  const OPENING_LAYERS = [
    { type: 0, numof: 70, maxAmp: 25, xSpeed: 0.6, ySpeed: 0.45, rate: 170, base: 32, count: 32, rotation: 4 },
    { type: 0, numof: 22, maxAmp: 60, xSpeed: 1.5, ySpeed: 1.1, rate: 255, base: 0, count: 32, rotation: 4 },
  ];
  // What "Add layer" brings: a glowing snow layer.
  const NEW_LAYER = { type: 1, numof: 60, maxAmp: 30, xSpeed: 0.4, ySpeed: 0.6, rate: 200, base: 64, count: 8, rotation: 1 };

  // A layer after Init alone, as the plug-in sets it up (rate: the full
  // 255 the engine draws with unless told otherwise).
  const DEFAULTS = { type: 0, numof: 40, maxAmp: 40, xSpeed: 1, ySpeed: 1, rate: 255, visible: true };

  let module = null;      // the WebAssembly module
  let layers = [];        // in drawing order
  let selected = 0;       // index into layers
  let paused = false;
  let runs = [];          // sprite runs the bank holds
  let sheets = [];        // loaded sprite sheets (pixels null: named by a setup, not loaded yet)
  let frameCount = 0;
  let imageData = null;
  const timing = { work: 0, interval: 0, last: 0, shown: 0, total: 0 };

  // ---- Numbers as a script writes them -------------------------------------

  // The shortest decimal text that gives the same 32-bit float, which is what
  // SetXSpeed and SetYSpeed receive.
  function floatText(value) {
    const f = Math.fround(value);
    for (let digits = 1; digits <= 9; ++digits) {
      const text = String(Number(f.toPrecision(digits)));
      if (Math.fround(Number(text)) === f) return text.includes(".") || text.includes("e") ? text : text + ".0";
    }
    return String(f);
  }

  // What a person types into a number field: any decimal text JavaScript
  // reads as a number ("1e3", " 12 ", ".5"). Whole-number fields refuse a
  // fraction, and every field refuses a value outside [min, max]: the
  // result is { value } or { error } with the reason.
  function readNumber(text, limits) {
    const trimmed = String(text).trim();
    if (trimmed === "") return { error: "enter a number" };
    const value = Number(trimmed);
    if (!Number.isFinite(value)) return { error: `"${trimmed}" is not a number` };
    if (!limits.float && !Number.isInteger(value)) return { error: `${trimmed} is not a whole number` };
    if (value < limits.min || value > limits.max) {
      return { error: `${trimmed} is outside ${limits.min} to ${limits.max}` };
    }
    return { value: value === 0 ? 0 : value };
  }

  // Marks a field as refused (or clears the mark) and says why.
  function refuse(input, label, error) {
    input.setAttribute("aria-invalid", error ? "true" : "false");
    const message = $("field-message");
    if (error) {
      message.textContent = `${label}: ${error}; the layer keeps ${current()[input.dataset.key]}.`;
      input.setAttribute("aria-describedby", "field-message");
    } else if (message.dataset.owner === input.id || !message.dataset.owner) {
      message.textContent = "";
    }
    if (error) message.dataset.owner = input.id;
    else if (message.dataset.owner === input.id) delete message.dataset.owner;
  }

  // A number field's text when the user leaves it: a refused text goes back
  // to the layer's value.
  function settle(input) {
    if (input.getAttribute("aria-invalid") === "true") {
      input.value = String(current()[input.dataset.key]);
      refuse(input, "", null);
    }
  }

  // ---- The plug-in, called as a script calls it ------------------------------

  function initLayer(layer) {
    const h = layer.handle;
    module._Init(h, layer.width, layer.height, layer.base, layer.count, layer.rotation);
    module._SetType(h, layer.type);
    module._SetNumof(h, layer.numof);
    module._SetMaxAmp(h, layer.maxAmp);
    module._SetXSpeed(h, layer.xSpeed);
    module._SetYSpeed(h, layer.ySpeed);
    module._Start(h);
    layer.runningNumof = layer.numof;
  }

  function freshInit(layer) {
    module._Release(layer.handle);
    initLayer(layer);
  }

  function applySetter(layer, key) {
    const h = layer.handle;
    switch (key) {
      case "type": module._SetType(h, layer.type); break;
      case "numof": module._SetNumof(h, layer.numof); break;  // spawns at the next Start
      case "maxAmp": module._SetMaxAmp(h, layer.maxAmp); break;
      case "xSpeed": module._SetXSpeed(h, layer.xSpeed); break;
      case "ySpeed": module._SetYSpeed(h, layer.ySpeed); break;
      default: break;  // rate is an argument of each Draw
    }
  }

  function restart(layer) {
    module._Start(layer.handle);
    layer.runningNumof = layer.numof;
  }

  // ---- The frame: as large as the largest field ---------------------------------

  // The host's frame (and the canvas) covers every layer's field. A new size
  // needs a new host, so the host is opened again: the plug-in object is
  // made again, the sheets go back into the bank at their numbers and every
  // layer gets a fresh Init.
  function frameSize() {
    return {
      width: Math.max(1, ...layers.map((layer) => layer.width)),
      height: Math.max(1, ...layers.map((layer) => layer.height)),
    };
  }

  function openHost(width, height) {
    if (!module._velora_studio_open(width, height)) {
      fail("The plug-in object could not be made (see the plug-in messages).");
      return false;
    }
    stage.width = width;
    stage.height = height;
    imageData = stage.getContext("2d").createImageData(width, height);
    setBackground();
    return true;
  }

  function fitFrame() {
    const { width, height } = frameSize();
    if (width === stage.width && height === stage.height) return false;
    if (!openHost(width, height)) return true;
    for (const sheet of sheets) if (sheet.pixels) putSheet(sheet);
    loadRuns();
    layers.forEach(initLayer);
    return true;
  }

  // ---- Frames ----------------------------------------------------------------

  function renderFrame() {
    const started = performance.now();
    module._velora_studio_begin_frame();
    const perLayer = layers.map((layer) => (layer.visible ? module._velora_studio_draw(layer.handle, layer.rate) : 0));
    const pixels = module._velora_studio_frame();
    imageData.data.set(module.HEAPU8.subarray(pixels, pixels + imageData.data.length));
    stage.getContext("2d").putImageData(imageData, 0, 0);
    const total = perLayer.reduce((a, b) => a + b, 0);
    stage.dataset.drawCalls = String(total);
    stage.dataset.layerDrawCalls = perLayer.join(",");
    stage.dataset.frames = String(++frameCount);
    const work = performance.now() - started;
    timing.work = timing.work ? timing.work * 0.9 + work * 0.1 : work;
    timing.total = total;
    showReadout();
  }

  // While running: the work per frame and the frame rate. While paused no
  // frame comes, so the readout says so instead of an old rate.
  function showReadout(force) {
    const now = performance.now();
    if (now - timing.shown < 250 && !paused && !force) return;
    timing.shown = now;
    const size = `${stage.width} × ${stage.height}`;
    if (paused) {
      readout.textContent = `Paused · the last frame took ${timing.work.toFixed(2)} ms of work · ` +
        `${timing.total} sprites drawn · ${size}`;
      return;
    }
    const fps = timing.interval > 0 ? 1000 / timing.interval : 0;
    readout.textContent =
      `Frame ${timing.work.toFixed(2)} ms of work · every ${timing.interval.toFixed(1)} ms (${fps.toFixed(0)} fps)` +
      ` · ${timing.total} sprites drawn · ${size}`;
  }

  function tick(now) {
    if (timing.last && !paused) {
      const interval = now - timing.last;
      timing.interval = timing.interval ? timing.interval * 0.9 + interval * 0.1 : interval;
    }
    timing.last = now;
    if (!paused) renderFrame();
    requestAnimationFrame(tick);
  }

  // After any change: the frame size, the script, the warnings, the address;
  // while paused one frame shows it (the clock stands still, so only the
  // sway of one motion step moves the particles).
  function changed() {
    fitFrame();
    showScript();
    showWarnings();
    describeStage();
    scheduleAddress();
    if (paused) renderFrame();
  }

  function describeStage() {
    const drawn = layers.filter((layer) => layer.visible).length;
    stage.setAttribute("aria-label", `The effect, drawn live: ${drawn} of ${layers.length} layer` +
      `${layers.length === 1 ? "" : "s"} drawn on a ${stage.width} × ${stage.height} frame`);
  }

  // Held while paused or while the page is hidden: the effect resumes where
  // it stood instead of jumping ahead.
  function holdClock() {
    module._velora_studio_hold_clock(paused || document.hidden ? 1 : 0);
  }

  // ---- The script text ----------------------------------------------------------

  // The sheet whose numbers hold a layer's base sprite, if any.
  function sheetOf(layer) {
    return sheets.find((sheet) => layer.base >= sheet.base && layer.base < sheet.base + sheet.count);
  }

  // A sheet named in the script: a comment line, which a script runner skips.
  function sheetComment(sheet) {
    return `// sprites ${sheet.base}-${sheet.base + sheet.count - 1}: sheet "${sheet.name}", ` +
      `${sheet.columns} x ${sheet.rows} cells of ${sheet.cell} x ${sheet.cell} px, row by row`;
  }

  function scriptText() {
    const lines = [
      `// DrawVelora: ${layers.length} layer${layers.length === 1 ? "" : "s"}, drawn in this order every frame`,
    ];
    layers.forEach((layer, index) => {
      const h = layer.handle;
      const place = layers.length === 1 ? "" : index === 0 ? " (drawn first, furthest back)"
        : index === layers.length - 1 ? " (drawn last, in front)" : "";
      lines.push("");
      lines.push(`// Layer ${index + 1}, handle ${h}${place}${layer.visible ? "" : " (hidden in the studio)"}`);
      const sheet = sheetOf(layer);
      if (sheet) lines.push(sheetComment(sheet));
      lines.push(`Init(${h}, ${layer.width}, ${layer.height}, ${layer.base}, ${layer.count}, ${layer.rotation});`);
      lines.push(`SetType(${h}, ${layer.type});`);
      lines.push(`SetNumof(${h}, ${layer.numof});`);
      lines.push(`SetMaxAmp(${h}, ${layer.maxAmp});`);
      lines.push(`SetXSpeed(${h}, ${floatText(layer.xSpeed)});`);
      lines.push(`SetYSpeed(${h}, ${floatText(layer.ySpeed)});`);
      lines.push(`Start(${h});`);
      lines.push(`// the engine draws handle ${h} with rate ${layer.rate} each frame`);
    });
    return lines.join("\n") + "\n";
  }

  function showScript() {
    $("script").textContent = scriptText();
  }

  // A script (the text scriptText gives, or one written by hand) back into
  // layers: one per handle, in the order of the first Init of each; the
  // setters' last values count; Release forgets a handle. The comments that
  // scriptText writes give the rate, the hidden flag and the sheet names.
  // Throws an Error naming the line for anything else.
  function parseScript(text) {
    const byHandle = new Map();
    const named = [];
    const sheetNames = [];
    let pendingHidden = null;
    const INT = { min: -2147483648, max: 2147483647 };
    const LIMITS = {
      handle: INT, type: { min: 0, max: 4 },
      ...Object.fromEntries(PARAMS.map((limits) => [limits.key, limits])),
      ...Object.fromEntries(INIT_FIELDS.map((field) => [field.key, field])),
    };
    const number = (text, key, line) => {
      const limits = LIMITS[key];
      const result = readNumber(text, limits.float ? { ...limits, min: -3.4e38, max: 3.4e38 } : limits);
      if (result.error) throw new Error(`line ${line}: ${key} ${result.error}`);
      if (limits.float && (result.value < limits.min || result.value > limits.max)) {
        throw new Error(`line ${line}: ${key} ${text} is outside the studio's ${limits.min} to ${limits.max}`);
      }
      return limits.float ? Number(floatText(result.value)) : result.value;
    };
    text.split(/\r?\n/).forEach((raw, index) => {
      const line = index + 1;
      const trimmed = raw.trim();
      if (!trimmed) return;
      if (trimmed.startsWith("//")) {
        let match = /^\/\/ Layer \d+, handle (-?\d+).*?(\(hidden in the studio\))?$/.exec(trimmed);
        if (match) pendingHidden = { handle: Number(match[1]), hidden: Boolean(match[2]) };
        match = /^\/\/ the engine draws handle (-?\d+) with rate (-?\d+)/.exec(trimmed);
        if (match && byHandle.has(Number(match[1]))) {
          byHandle.get(Number(match[1])).rate = number(match[2], "rate", line);
        }
        match = /^\/\/ sprites (\d+)-(\d+): sheet "(.*)", (\d+) x (\d+) cells of (\d+) x \d+ px/.exec(trimmed);
        if (match) {
          sheetNames.push({ base: Number(match[1]), count: Number(match[2]) - Number(match[1]) + 1, name: match[3],
            columns: Number(match[4]), rows: Number(match[5]), cell: Number(match[6]) });
        }
        return;
      }
      const call = /^([A-Za-z]+)\s*\(([^)]*)\)\s*;?\s*(\/\/.*)?$/.exec(trimmed);
      if (!call) throw new Error(`line ${line}: "${trimmed}" is not a call such as SetNumof(1, 40);`);
      const [, name, argText] = call;
      const args = argText.split(",").map((arg) => arg.trim());
      const expect = { Init: 6, Start: 1, Release: 1, SetType: 2, SetNumof: 2, SetMaxAmp: 2, SetXSpeed: 2, SetYSpeed: 2 };
      if (!(name in expect)) throw new Error(`line ${line}: ${name} is not one of the plug-in's calls`);
      if (args.length !== expect[name] || args.some((arg) => arg === "")) {
        throw new Error(`line ${line}: ${name} takes ${expect[name]} argument${expect[name] === 1 ? "" : "s"}`);
      }
      const handle = number(args[0], "handle", line);
      if (name === "Init") {
        const [width, height, base, count, rotation] =
          ["width", "height", "base", "count", "rotation"].map((key, i) => number(args[i + 1], key, line));
        if (!byHandle.has(handle)) {
          byHandle.set(handle, { ...DEFAULTS, handle, width, height, base, count, rotation,
            visible: !(pendingHidden && pendingHidden.handle === handle && pendingHidden.hidden) });
          named.push(handle);
        }
        return;
      }
      const layer = byHandle.get(handle);
      if (!layer) throw new Error(`line ${line}: ${name} for handle ${handle} before its Init`);
      switch (name) {
        case "Release": byHandle.delete(handle); named.splice(named.indexOf(handle), 1); break;
        case "Start": break;
        case "SetType": layer.type = number(args[1], "type", line); break;
        case "SetNumof": layer.numof = number(args[1], "numof", line); break;
        case "SetMaxAmp": layer.maxAmp = number(args[1], "maxAmp", line); break;
        case "SetXSpeed": layer.xSpeed = number(args[1], "xSpeed", line); break;
        case "SetYSpeed": layer.ySpeed = number(args[1], "ySpeed", line); break;
        default: break;
      }
    });
    if (named.length === 0) throw new Error("no Init in the script: nothing to rebuild");
    return { layers: named.map((handle) => byHandle.get(handle)), sheets: sheetNames };
  }

  // ---- Warnings: settings that draw nothing or lose particles --------------------

  // The sprite numbers the bank holds, as [first, end) ranges.
  function loadedRanges() {
    return runs.map((run) => [run.base, run.base + run.count]);
  }

  function isLoaded(number) {
    return loadedRanges().some(([first, end]) => number >= first && number < end);
  }

  // The numbers of base .. base + count - 1 that the bank does not hold, as
  // "a–b" texts, and how many there are.
  function missingNumbers(layer) {
    const parts = [];
    let missing = 0;
    let start = null;
    const end = layer.base + Math.max(0, layer.count);
    for (let n = layer.base; n <= end; ++n) {
      const gap = n < end && !isLoaded(n);
      if (gap) {
        ++missing;
        if (start === null) start = n;
      } else if (start !== null) {
        parts.push(start === n - 1 ? `${start}` : `${start}–${n - 1}`);
        start = null;
      }
    }
    return { parts, missing };
  }

  // Each warning: the layer, a kind (for the tests and the styles), the
  // problem and what to change.
  function layerWarnings(layer) {
    const found = [];
    const add = (kind, problem, fix) => found.push({ kind, problem, fix });
    if (layer.numof <= 0) {
      add("numof", `Particles is ${layer.numof}: Start spawns no particle, so nothing is drawn.`,
        "Set Particles to 1 or more, then Restart.");
    }
    if (layer.count <= 0) {
      add("count", `Sprite count is ${layer.count}: no sprite can be picked, so nothing is drawn.`,
        "Set Sprite count to 1 or more, or choose a sprite run.");
    }
    if (layer.rotation <= 0) {
      add("rotation", `Rotation frames is ${layer.rotation}: the sprites split into no group, so nothing is drawn.`,
        "Set Rotation frames to 1 or more (1 for a run without tilt groups).");
    }
    const sheet = sheets.find((s) => !s.pixels && layer.base >= s.base && layer.base < s.base + s.count);
    if (!isLoaded(layer.base)) {
      add("base", `Base sprite ${layer.base} is not loaded: every sprite takes its size from it, so nothing is drawn.`,
        sheet ? `Load the sheet "${sheet.name}" again (it gave sprites ${sheet.base}–${sheet.base + sheet.count - 1}).`
          : "Choose a sprite run, or a base sprite that is loaded.");
    } else if (layer.count > 0) {
      const { parts, missing } = missingNumbers(layer);
      if (missing > 0) {
        const held = (() => {
          let n = layer.base;
          while (n < layer.base + layer.count && isLoaded(n)) ++n;
          return n - layer.base;
        })();
        add("run", `Sprites ${parts.join(", ")} of the run ${layer.base}–${layer.base + layer.count - 1} are not ` +
          `loaded (${missing} of ${layer.count}): particles that show them are not drawn.`,
          `Set Sprite count to ${held} or less, or choose a sprite run.`);
      }
    }
    if (layer.ySpeed < 0) {
      add("yspeed", `Y speed is ${floatText(layer.ySpeed)}: the particles rise and leave through the top edge, ` +
        "which never brings them back, so they are lost one by one.", "Set Y speed to 0 or more.");
    }
    if (layer.type < 0 || layer.type > 3) {
      add("type", `Type ${layer.type} draws nothing (the particles still move).`, "Choose type 0, 1, 2 or 3.");
    }
    return found;
  }

  function showWarnings() {
    const list = $("warnings");
    list.replaceChildren();
    layers.forEach((layer, index) => {
      for (const warning of layerWarnings(layer)) {
        const item = document.createElement("li");
        item.dataset.layer = String(index + 1);
        item.dataset.kind = warning.kind;
        const where = document.createElement("strong");
        where.textContent = `Layer ${index + 1} (handle ${layer.handle}): `;
        const fix = document.createElement("span");
        fix.className = "fix";
        fix.textContent = ` ${warning.fix}`;
        item.append(where, warning.problem, fix);
        list.appendChild(item);
      }
    });
  }

  // ---- Debug messages -----------------------------------------------------------

  function addDebugMessage(text, raw) {
    const item = document.createElement("li");
    const line = text.endsWith("\n") ? text.slice(0, -1) : text;
    item.textContent = line;
    item.className = line.includes("ERROR") ? "error" : line.includes("WARNING") ? "warning" : "";
    if (raw) item.title = "bytes: " + Array.from(raw, (b) => b.toString(16).padStart(2, "0")).join(" ");
    $("debug-log").appendChild(item);
  }

  // ---- Controls -------------------------------------------------------------------

  function current() {
    return layers[selected];
  }

  function buildParams() {
    const box = $("params");
    for (const limits of PARAMS) {
      const row = document.createElement("div");
      row.className = "param";
      const label = document.createElement("label");
      label.htmlFor = `layer-${limits.key.toLowerCase()}`;
      label.innerHTML = `${limits.label} <span class="call">${limits.call}</span>`;
      const slider = document.createElement("input");
      slider.type = "range";
      slider.id = `layer-${limits.key.toLowerCase()}-slider`;
      slider.min = limits.slider[0];
      slider.max = limits.slider[1];
      slider.step = limits.step;
      slider.setAttribute("aria-label", `${limits.label} (slider)`);
      const number = document.createElement("input");
      number.type = "number";
      number.id = `layer-${limits.key.toLowerCase()}`;
      number.dataset.key = limits.key;
      number.min = limits.min;
      number.max = limits.max;
      number.step = "any";
      const apply = (text, from) => {
        // A number box left half-typed or unreadable reads as "" here.
        const result = from === number && number.validity.badInput ? { error: "not a number" } : readNumber(text, limits);
        if (from === number) refuse(number, limits.label, result.error);
        if (result.error) return;
        const layer = current();
        layer[limits.key] = limits.float ? Number(floatText(result.value)) : result.value;
        if (from !== number) number.value = String(layer[limits.key]);
        if (from !== slider) slider.value = String(layer[limits.key]);
        applySetter(layer, limits.key);
        showRestartHint();
        changed();
      };
      slider.addEventListener("input", () => apply(slider.value, slider));
      number.addEventListener("input", () => apply(number.value, number));
      number.addEventListener("change", () => settle(number));
      number.addEventListener("blur", () => settle(number));
      row.append(label, slider, number);
      box.appendChild(row);
    }
  }

  function showRestartHint() {
    const layer = current();
    const pending = layer.numof !== layer.runningNumof;
    $("restart").classList.toggle("pending", pending);
    $("restart-hint").textContent = pending
      ? `numof ${layer.numof} applies at the next Start (now ${layer.runningNumof} particles)` : "";
  }

  function runLabel(run) {
    const last = run.base + run.count - 1;
    const sheet = sheets.find((s) => s.base === run.base);
    const name = sheet ? `Sheet "${sheet.name}"` : run.name;
    return `${name}: sprites ${run.base}–${last}, ${run.rotation} group${run.rotation === 1 ? "" : "s"}, ${run.size} px`;
  }

  function loadRuns() {
    runs = module.UTF8ToString(module._velora_studio_runs()).split("\n").filter(Boolean).map((line) => {
      const [name, base, count, rotation, size] = line.split("\t");
      return { name, base: Number(base), count: Number(count), rotation: Number(rotation), size: Number(size) };
    });
    runs.sort((a, b) => a.base - b.base);
    const select = $("layer-run");
    select.replaceChildren();
    runs.forEach((run, index) => select.add(new Option(runLabel(run), String(index))));
    select.add(new Option("Other (the numbers below)", "custom"));
  }

  function showLayer() {
    const layer = current();
    $("layer-title").textContent = `Layer ${selected + 1} · handle ${layer.handle}`;
    $("layer-visible").checked = layer.visible;
    $("layer-type").value = String(layer.type);
    for (const limits of PARAMS) {
      const id = `layer-${limits.key.toLowerCase()}`;
      $(id).value = String(layer[limits.key]);
      $(id).setAttribute("aria-invalid", "false");
      $(`${id}-slider`).value = String(layer[limits.key]);
    }
    for (const field of INIT_FIELDS) {
      $(field.id).value = String(layer[field.key]);
      $(field.id).setAttribute("aria-invalid", "false");
    }
    $("field-message").textContent = "";
    delete $("field-message").dataset.owner;
    const run = runs.findIndex((r) => r.base === layer.base && r.count === layer.count && r.rotation === layer.rotation);
    $("layer-run").value = run >= 0 ? String(run) : "custom";
    const sheet = sheetOf(layer);
    $("sheet-cell").value = sheet && sheet.typed ? String(sheet.cell) : "";
    $("sheet-cell").setAttribute("aria-invalid", "false");
    showRestartHint();
    showTabs();
  }

  function selectLayer(index, focus) {
    selected = index;
    showLayer();
    if (focus) $("layer-tabs").children[index].focus();
  }

  // The tabs are updated in place (a click must not lose its button between
  // press and release); only a change in the number of layers makes new ones.
  // Only the selected tab is in the Tab order; the arrow keys, Home and End
  // move between tabs.
  function showTabs() {
    const tabs = $("layer-tabs");
    while (tabs.children.length > layers.length) tabs.lastChild.remove();
    while (tabs.children.length < layers.length) {
      const index = tabs.children.length;
      const tab = document.createElement("button");
      tab.type = "button";
      tab.id = `layer-tab-${index + 1}`;
      tab.setAttribute("role", "tab");
      tab.setAttribute("aria-controls", "layer-panel");
      tab.addEventListener("click", () => selectLayer(index, false));
      tab.addEventListener("keydown", (event) => {
        const last = layers.length - 1;
        const to = { ArrowRight: index + 1, ArrowDown: index + 1, ArrowLeft: index - 1, ArrowUp: index - 1,
          Home: 0, End: last }[event.key];
        if (to === undefined) return;
        event.preventDefault();
        selectLayer((to + layers.length) % layers.length, true);
      });
      tabs.appendChild(tab);
    }
    layers.forEach((layer, index) => {
      const tab = tabs.children[index];
      tab.textContent = `Layer ${index + 1} · handle ${layer.handle}`;
      tab.setAttribute("aria-selected", index === selected ? "true" : "false");
      tab.tabIndex = index === selected ? 0 : -1;
      tab.classList.toggle("hidden-layer", !layer.visible);
    });
    $("layer-panel").setAttribute("aria-labelledby", `layer-tab-${selected + 1}`);
    $("remove-layer").disabled = layers.length <= 1;
    $("layer-earlier").disabled = selected === 0;
    $("layer-later").disabled = selected === layers.length - 1;
  }

  function nextHandle() {
    return layers.reduce((max, layer) => Math.max(max, layer.handle), 0) + 1;
  }

  function makeLayer(settings) {
    const layer = { handle: nextHandle(), visible: true, width: stage.width, height: stage.height, ...settings };
    initLayer(layer);
    return layer;
  }

  // Replaces every layer (a pasted script, an opened file, the address).
  function replaceLayers(newLayers, newSheets) {
    for (const layer of layers) module._Release(layer.handle);
    layers = newLayers.map((layer) => ({ ...layer }));
    for (const saved of newSheets) {
      const known = sheets.find((sheet) => sheet.name === saved.name);
      if (known) {
        if (known.base !== saved.base || known.cell !== saved.cell) {
          known.base = saved.base;
          known.cell = saved.cell;
          known.typed = saved.typed ?? true;
          if (known.pixels) cutSheet(known);
        }
      } else if (!sheets.some((sheet) => rangesMeet(sheet, saved))) {
        sheets.push({ ...saved, pixels: null, typed: saved.typed ?? true });
      }
    }
    sheets.sort((a, b) => a.base - b.base);
    loadRuns();
    const { width, height } = frameSize();
    if (width !== stage.width || height !== stage.height) fitFrame();
    else layers.forEach(initLayer);
    selected = Math.min(selected, layers.length - 1);
    showLayer();
    showSheets();
    changed();
  }

  function wireControls() {
    buildParams();
    $("layer-type").addEventListener("change", () => {
      current().type = Number.parseInt($("layer-type").value, 10);
      applySetter(current(), "type");
      changed();
    });
    $("layer-visible").addEventListener("change", () => {
      current().visible = $("layer-visible").checked;
      showTabs();
      changed();
    });
    $("restart").addEventListener("click", () => { restart(current()); showRestartHint(); changed(); });
    $("restart-all").addEventListener("click", () => { layers.forEach(restart); showRestartHint(); changed(); });
    for (const field of INIT_FIELDS) {
      const input = $(field.id);
      input.dataset.key = field.key;
      const label = input.parentElement.firstChild.textContent.trim();
      input.addEventListener("input", () => {
        const result = input.validity.badInput ? { error: "not a number" } : readNumber(input.value, field);
        refuse(input, label, result.error);
      });
      input.addEventListener("change", () => {
        const result = input.validity.badInput ? { error: "not a number" } : readNumber(input.value, field);
        refuse(input, label, result.error);
        if (result.error) return;
        const layer = current();
        if (result.value !== layer[field.key]) {
          layer[field.key] = result.value;
          freshInit(layer);
        }
        showLayer();
        changed();
      });
      input.addEventListener("blur", () => settle(input));
    }
    $("layer-run").addEventListener("change", () => {
      const run = runs[Number($("layer-run").value)];
      if (!run) return;
      const layer = current();
      Object.assign(layer, { base: run.base, count: run.count, rotation: run.rotation });
      freshInit(layer);
      showLayer();
      changed();
    });
    $("add-layer").addEventListener("click", () => {
      layers.push(makeLayer(NEW_LAYER));
      selectLayer(layers.length - 1, false);
      changed();
    });
    $("remove-layer").addEventListener("click", () => {
      if (layers.length <= 1) return;
      module._Release(current().handle);
      layers.splice(selected, 1);
      selectLayer(Math.min(selected, layers.length - 1), false);
      changed();
    });
    const move = (by) => {
      const to = selected + by;
      if (to < 0 || to >= layers.length) return;
      [layers[selected], layers[to]] = [layers[to], layers[selected]];
      selectLayer(to, false);
      changed();
    };
    $("layer-earlier").addEventListener("click", () => move(-1));
    $("layer-later").addEventListener("click", () => move(1));
    $("pause").addEventListener("click", () => {
      paused = !paused;
      $("pause").textContent = paused ? "Resume" : "Pause";
      holdClock();
      showReadout(true);
      changed();
    });
    document.addEventListener("visibilitychange", holdClock);
    $("background").addEventListener("change", () => {
      setBackground();
      changed();
    });
    $("copy-script").addEventListener("click", () => copyText(scriptText(), $("copy-status"), $("script")));
    $("paste-apply").addEventListener("click", pasteScript);
    $("clear-debug").addEventListener("click", () => $("debug-log").replaceChildren());
    $("record").addEventListener("click", record);
    wireSheets();
    wireSetup();
  }

  function setBackground() {
    const [top, bottom] = $("background").value.split(",").map((hex) => Number.parseInt(hex, 16));
    module._velora_studio_set_background(top, bottom);
  }

  async function copyText(text, status, element) {
    try {
      await navigator.clipboard.writeText(text);
      status.textContent = "Copied.";
    } catch (error) {
      // Without clipboard access, select the text so that Ctrl+C copies it.
      const range = document.createRange();
      range.selectNodeContents(element);
      const selection = window.getSelection();
      selection.removeAllRanges();
      selection.addRange(range);
      status.textContent = "Selected: press Ctrl+C (or ⌘C) to copy.";
    }
  }

  function pasteScript() {
    const status = $("paste-status");
    let parsed;
    try {
      parsed = parseScript($("paste-script").value);
    } catch (error) {
      status.className = "field-error";
      status.textContent = `Not rebuilt: ${error.message}. The layers are unchanged.`;
      return;
    }
    replaceLayers(parsed.layers, parsed.sheets);
    status.className = "";
    status.textContent = `Rebuilt ${parsed.layers.length} layer${parsed.layers.length === 1 ? "" : "s"} from the script.`;
  }

  // ---- Sprite sheets ------------------------------------------------------------------

  const MAX_SHEET_PIXELS = 4096 * 4096;
  const MAX_SHEET_CELLS = 4096;  // what the host takes from one sheet
  const SHEET_BASE = 100;        // sheets take sprite numbers from here on

  function gcd(a, b) {
    while (b) [a, b] = [b, a % b];
    return a;
  }

  // The number of runs of filled entries in a profile.
  function filledRuns(filled) {
    let count = 0;
    for (let i = 0; i < filled.length; ++i) if (filled[i] && (i === 0 || !filled[i - 1])) ++count;
    return count;
  }

  // The cell size from the sheet's grid. Sprites on a transparent ground
  // stand apart: the columns and rows of pixels that hold anything form one
  // run per column and per row of cells, and the cell size is the sheet's
  // width over its columns (equal to its height over its rows). Otherwise: a
  // strip of square cells gives its short side, or the largest square that
  // tiles the image, if it is not tiny.
  function detectCell(rgba, width, height) {
    const columns = new Uint8Array(width);
    const rows = new Uint8Array(height);
    for (let y = 0; y < height; ++y) {
      for (let x = 0; x < width; ++x) {
        if (rgba[(y * width + x) * 4 + 3] !== 0) {
          columns[x] = 1;
          rows[y] = 1;
        }
      }
    }
    const nx = filledRuns(columns);
    const ny = filledRuns(rows);
    const across = nx > 0 && width % nx === 0 ? width / nx : 0;
    const down = ny > 0 && height % ny === 0 ? height / ny : 0;
    const fits = (cell) => cell >= 4 && width % cell === 0 && height % cell === 0;
    if (across && across === down && fits(across)) return across;
    // A last row (or column) of cells that is partly empty leaves the other
    // direction's count whole.
    if (fits(across) && height >= across) return across;
    if (fits(down) && width >= down) return down;
    if (width % height === 0) return height;
    if (height % width === 0) return width;
    const g = gcd(width, height);
    return g >= 8 ? g : Math.min(width, height);
  }

  function rangesMeet(a, b) {
    return a.base < b.base + b.count && b.base < a.base + a.count;
  }

  // The first free sprite number for a sheet of count cells: 100, or the
  // next multiple of 100 past the other sheets.
  function freeBase(except) {
    const ends = sheets.filter((sheet) => sheet !== except).map((sheet) => sheet.base + sheet.count);
    return Math.max(SHEET_BASE, Math.ceil(Math.max(0, ...ends) / 100) * 100);
  }

  // Puts a sheet into the host's bank at its numbers; the sprites it gave.
  function putSheet(sheet) {
    const pointer = module._malloc(sheet.pixels.length);
    if (!pointer) return 0;
    module.HEAPU8.set(sheet.pixels, pointer);
    const count = module._velora_studio_load_sheet_at(pointer, sheet.width, sheet.height, sheet.cell, sheet.base);
    module._free(pointer);
    return count;
  }

  // Cuts a loaded sheet at its cell size: the bank gets its sprites (moved
  // past the other sheets if it grew into them), and the layers that showed
  // the whole sheet show the new cut. The layers whose runs changed.
  function cutSheet(sheet) {
    const columns = Math.floor(sheet.width / sheet.cell);
    const rows = Math.floor(sheet.height / sheet.cell);
    const whole = columns * rows;
    const cells = Math.min(whole, MAX_SHEET_CELLS);
    const before = { base: sheet.base, count: sheet.count };
    if (sheets.some((other) => other !== sheet && rangesMeet(other, { base: sheet.base, count: cells }))) {
      sheet.base = freeBase(sheet);
    }
    const count = putSheet(sheet);
    Object.assign(sheet, { count, columns, rows, whole });
    loadRuns();
    const run = runs.find((r) => r.base === sheet.base);
    const following = layers.filter((layer) => layer.base === before.base && layer.count === before.count &&
      before.count > 0);
    for (const layer of following) {
      Object.assign(layer, { base: sheet.base, count: sheet.count, rotation: run ? run.rotation : 1 });
      freshInit(layer);
    }
    return following;
  }

  // What the cut leaves out, in words (empty when every pixel is in a cell).
  function leftOut(sheet) {
    const words = [];
    const right = sheet.width % sheet.cell;
    const bottom = sheet.height % sheet.cell;
    if (right || bottom) {
      const edges = [right ? `the right ${right} px` : "", bottom ? `the bottom ${bottom} px` : ""].filter(Boolean);
      words.push(`${edges.join(" and ")} ${right && bottom ? "are" : "is"} left out (not whole cells)`);
    }
    if (sheet.whole > sheet.count) {
      words.push(`${sheet.whole - sheet.count} of its ${sheet.whole} cells are left out ` +
        `(the studio takes at most ${MAX_SHEET_CELLS} from one sheet)`);
    }
    return words.length ? ` Note: ${words.join("; ")}.` : "";
  }

  function sheetSummary(sheet) {
    return `${sheet.name}: ${sheet.count} sprites of ${sheet.cell} × ${sheet.cell} ` +
      `(numbers ${sheet.base}–${sheet.base + sheet.count - 1}), ${sheet.columns} × ${sheet.rows} cells`;
  }

  // The sheet drawn small with its cut: cell lines, and what is left out
  // shaded red.
  function showPreview(sheet) {
    const preview = $("sheet-preview");
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
    const step = sheet.cell * scale;
    context.fillStyle = "rgba(255, 70, 70, 0.45)";
    for (let cell = sheet.count; cell < sheet.columns * sheet.rows; ++cell) {
      context.fillRect((cell % sheet.columns) * step, Math.floor(cell / sheet.columns) * step, step, step);
    }
    context.fillRect(sheet.columns * step, 0, preview.width - sheet.columns * step, preview.height);
    context.fillRect(0, sheet.rows * step, sheet.columns * step, preview.height - sheet.rows * step);
    if (step >= 3) {
      context.strokeStyle = "rgba(242, 167, 195, 0.9)";
      context.lineWidth = 1;
      context.beginPath();
      for (let c = 0; c <= sheet.columns; ++c) {
        context.moveTo(Math.round(c * step) + 0.5, 0);
        context.lineTo(Math.round(c * step) + 0.5, sheet.rows * step);
      }
      for (let r = 0; r <= sheet.rows; ++r) {
        context.moveTo(0, Math.round(r * step) + 0.5);
        context.lineTo(sheet.columns * step, Math.round(r * step) + 0.5);
      }
      context.stroke();
    }
    preview.setAttribute("aria-label", `How ${sheet.name} is cut: ${sheet.columns} × ${sheet.rows} cells of ` +
      `${sheet.cell} px${leftOut(sheet) ? ", with parts left out (shaded red)" : ""}`);
    preview.hidden = false;
  }

  function showSheets() {
    const list = $("sheet-list");
    list.replaceChildren();
    for (const sheet of sheets) {
      const item = document.createElement("li");
      item.textContent = sheet.pixels ? `${sheetSummary(sheet)}.`
        : `"${sheet.name}" (sprites ${sheet.base}–${sheet.base + sheet.count - 1}, cells of ${sheet.cell} px) ` +
          "is not loaded: choose or drop that file again.";
      item.className = sheet.pixels ? "" : "missing";
      list.appendChild(item);
    }
  }

  // The sheet the S field works on: the selected layer's, else the latest.
  function targetSheet() {
    return sheetOf(current()) ?? [...sheets].reverse().find((sheet) => sheet.pixels) ?? null;
  }

  async function loadSheet(file) {
    const status = $("sheet-status");
    let bitmap;
    try {
      bitmap = await createImageBitmap(file);
    } catch (error) {
      status.textContent = `${file.name}: not an image the browser can read.`;
      return;
    }
    const { width, height } = bitmap;
    if (width * height > MAX_SHEET_PIXELS) {
      status.textContent = `${file.name}: ${width} × ${height} is larger than this studio takes (4096 × 4096).`;
      return;
    }
    const canvas = document.createElement("canvas");
    canvas.width = width;
    canvas.height = height;
    const context = canvas.getContext("2d", { willReadFrequently: true });
    context.drawImage(bitmap, 0, 0);
    const pixels = context.getImageData(0, 0, width, height).data;
    if (width < 4 || height < 4) {
      status.textContent = `${file.name}: ${width} × ${height} holds no cell of 4 px or more.`;
      return;
    }
    let sheet = sheets.find((known) => known.name === file.name);
    const restoring = sheet && !sheet.pixels;
    if (!sheet) {
      sheet = { name: file.name, base: freeBase(null), count: 0, typed: false };
      sheets.push(sheet);
    }
    Object.assign(sheet, { pixels, width, height });
    if (!sheet.typed || sheet.cell > Math.min(width, height)) {
      sheet.cell = detectCell(pixels, width, height);
      sheet.typed = false;
    }
    const following = cutSheet(sheet);
    if (sheet.count === 0) {
      sheets.splice(sheets.indexOf(sheet), 1);
      loadRuns();
      status.textContent = `${file.name}: not enough memory for its sprites.`;
      return;
    }
    let use = "";
    if (!restoring) {
      const layer = current();
      const run = runs.find((r) => r.base === sheet.base);
      Object.assign(layer, { base: sheet.base, count: sheet.count, rotation: run ? run.rotation : 1 });
      freshInit(layer);
      use = `, now used by layer ${selected + 1}`;
    } else {
      const users = layers.filter((layer) => sheetOf(layer) === sheet).map((layer) => layers.indexOf(layer) + 1);
      use = users.length ? `, back for layer${users.length === 1 ? "" : "s"} ${users.join(", ")}` : "";
      following.forEach(freshInit);
    }
    sheets.sort((a, b) => a.base - b.base);
    status.textContent = `${sheetSummary(sheet)}${use}.${leftOut(sheet)}`;
    showPreview(sheet);
    showSheets();
    showLayer();
    changed();
  }

  // S typed: the sheet is cut again at once; empty goes back to the grid's
  // own size; below 4 or past the sheet is refused, visibly.
  function applyCell() {
    const input = $("sheet-cell");
    const status = $("sheet-status");
    const sheet = targetSheet();
    if (!sheet || !sheet.pixels) {
      input.setAttribute("aria-invalid", "false");
      status.textContent = input.value.trim() ? "Load a sprite sheet first: S applies to it." : "";
      return;
    }
    let cell;
    if (input.value.trim() === "" && !input.validity.badInput) {
      cell = detectCell(sheet.pixels, sheet.width, sheet.height);
      sheet.typed = false;
    } else {
      const limit = Math.min(sheet.width, sheet.height);
      const result = input.validity.badInput ? { error: "not a number" }
        : readNumber(input.value, { min: 4, max: limit });
      if (result.error) {
        input.setAttribute("aria-invalid", "true");
        status.textContent = `S ${result.error} (cells of 4 to ${limit} px fit ${sheet.name}); ` +
          `the sheet stays cut at ${sheet.cell} px.`;
        return;
      }
      cell = result.value;
      sheet.typed = true;
    }
    input.setAttribute("aria-invalid", "false");
    if (cell !== sheet.cell) {
      sheet.cell = cell;
      cutSheet(sheet);
      sheets.sort((a, b) => a.base - b.base);
    }
    status.textContent = `${sheetSummary(sheet)}.${leftOut(sheet)}`;
    showPreview(sheet);
    showSheets();
    const keep = input.value;
    showLayer();
    input.value = keep;
    changed();
  }

  function wireSheets() {
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
    $("sheet-cell").addEventListener("input", applyCell);
  }

  // ---- Save, share, restore -------------------------------------------------------------

  const LAYER_KEYS = ["handle", "visible", "width", "height", "base", "count", "rotation", "type", "numof", "maxAmp",
    "xSpeed", "ySpeed", "rate"];
  const SHEET_KEYS = ["base", "count", "cell", "columns", "rows", "name"];

  function limitsOf(key) {
    if (key === "handle") return { min: -2147483648, max: 2147483647 };
    if (key === "type") return { min: 0, max: 4 };
    if (key === "visible") return { min: 0, max: 1 };
    return PARAMS.find((limits) => limits.key === key) ?? INIT_FIELDS.find((field) => field.key === key);
  }

  // One layer read back from a saved setup, every number checked.
  function checkLayer(values, where) {
    const layer = {};
    for (const key of LAYER_KEYS) {
      const raw = values[key];
      const text = typeof raw === "boolean" ? (raw ? "1" : "0") : String(raw ?? "");
      const result = readNumber(text, limitsOf(key));
      if (result.error) throw new Error(`${where}: ${key} ${result.error}`);
      layer[key] = key === "visible" ? result.value === 1 : result.value;
    }
    return layer;
  }

  function checkSheet(values, where) {
    const sheet = { name: String(values.name ?? ""), typed: true };
    if (!sheet.name) throw new Error(`${where}: a sheet without a name`);
    for (const key of SHEET_KEYS.slice(0, 5)) {
      const result = readNumber(String(values[key] ?? ""), { min: key === "base" ? SHEET_BASE : 0, max: 2147483647 });
      if (result.error) throw new Error(`${where}: ${key} ${result.error}`);
      sheet[key] = result.value;
    }
    return sheet;
  }

  function checkSetup(setup) {
    const backgrounds = Array.from($("background").options, (option) => option.value);
    if (!backgrounds.includes(setup.background)) throw new Error(`background "${setup.background}" is not one of the studio's`);
    if (!Array.isArray(setup.layers) || setup.layers.length === 0) throw new Error("no layer in it");
    const layersRead = setup.layers.map((values, i) => checkLayer(values ?? {}, `layer ${i + 1}`));
    const handles = new Set(layersRead.map((layer) => layer.handle));
    if (handles.size !== layersRead.length) throw new Error("two layers have the same handle");
    const sheetsRead = (setup.sheets ?? []).map((values, i) => checkSheet(values ?? {}, `sheet ${i + 1}`));
    return { background: setup.background, layers: layersRead, sheets: sheetsRead };
  }

  function setup() {
    return {
      format: "DrawVelora studio setup",
      version: 1,
      background: $("background").value,
      layers: layers.map((layer) => Object.fromEntries(LAYER_KEYS.map((key) => [key, layer[key]]))),
      sheets: sheets.filter((sheet) => sheet.count > 0).map((sheet) => Object.fromEntries(
        SHEET_KEYS.map((key) => [key, sheet[key]]))),
    };
  }

  // The address: v=1&bg=TOP,BOTTOM, then one layer=... per layer (the
  // numbers of LAYER_KEYS, comma-separated, visible as 1 or 0) and one
  // sheet=base,count,cell,columns,rows,name per sheet (the name last: it may
  // hold commas).
  function setupAddress() {
    const current = setup();
    const parts = ["v=1", `bg=${current.background}`];
    for (const layer of current.layers) {
      parts.push("layer=" + LAYER_KEYS.map((key) => key === "visible" ? (layer.visible ? 1 : 0)
        : key === "xSpeed" || key === "ySpeed" ? floatText(layer[key]) : layer[key]).join(","));
    }
    for (const sheet of current.sheets) {
      parts.push("sheet=" + SHEET_KEYS.map((key) => key === "name" ? encodeURIComponent(sheet.name) : sheet[key]).join(","));
    }
    return parts.join("&");
  }

  function readAddress(text) {
    const params = new URLSearchParams(text);
    if (params.get("v") !== "1") throw new Error("it is not a setup of this studio (v=1)");
    const layersRead = params.getAll("layer").map((value, i) => {
      const parts = value.split(",");
      if (parts.length !== LAYER_KEYS.length) throw new Error(`layer ${i + 1}: ${LAYER_KEYS.length} numbers expected`);
      return Object.fromEntries(LAYER_KEYS.map((key, k) => [key, parts[k]]));
    });
    const sheetsRead = params.getAll("sheet").map((value) => {
      const parts = value.split(",");
      return { ...Object.fromEntries(SHEET_KEYS.slice(0, 5).map((key, k) => [key, parts[k]])),
        name: parts.slice(5).join(",") };
    });
    return checkSetup({ background: params.get("bg"), layers: layersRead, sheets: sheetsRead });
  }

  let addressTimer = 0;
  // The address follows every change, a moment after the last one (a
  // dragged slider would otherwise rewrite it many times a second).
  function scheduleAddress() {
    clearTimeout(addressTimer);
    addressTimer = setTimeout(() => history.replaceState(null, "", `#${setupAddress()}`), 250);
  }

  function applySetup(restored) {
    $("background").value = restored.background;
    setBackground();
    replaceLayers(restored.layers, restored.sheets);
  }

  function missingSheetsText() {
    const missing = sheets.filter((sheet) => !sheet.pixels).map((sheet) => `"${sheet.name}"`);
    return missing.length ? ` Load the sprite sheet${missing.length === 1 ? "" : "s"} ${missing.join(", ")} again.` : "";
  }

  function wireSetup() {
    const status = $("setup-status");
    $("copy-link").addEventListener("click", () => {
      history.replaceState(null, "", `#${setupAddress()}`);
      copyText(location.href, status, $("script"));
    });
    $("save-setup").addEventListener("click", () => {
      const blob = new Blob([JSON.stringify(setup(), null, 2) + "\n"], { type: "application/json" });
      const link = document.createElement("a");
      link.href = URL.createObjectURL(blob);
      link.download = "drawvelora-setup.json";
      document.body.appendChild(link);
      link.click();
      link.remove();
      setTimeout(() => URL.revokeObjectURL(link.href), 10000);
      status.className = "";
      status.textContent = "Saved as drawvelora-setup.json.";
    });
    $("open-setup").addEventListener("change", async () => {
      const file = $("open-setup").files[0];
      $("open-setup").value = "";
      if (!file) return;
      let restored;
      try {
        const values = JSON.parse(await file.text());
        if (values?.format !== "DrawVelora studio setup" || values.version !== 1) {
          throw new Error("it is not a DrawVelora studio setup (version 1)");
        }
        restored = checkSetup(values);
      } catch (error) {
        status.className = "field-error";
        status.textContent = `${file.name} not opened: ${error.message}. The layers are unchanged.`;
        return;
      }
      applySetup(restored);
      status.className = "";
      status.textContent = `Opened ${file.name}: ${restored.layers.length} layers.${missingSheetsText()}`;
    });
  }

  // ---- Recording ------------------------------------------------------------------------

  let recording = false;

  function record() {
    const status = $("record-status");
    if (recording) return;
    if (typeof MediaRecorder !== "function" || typeof stage.captureStream !== "function") {
      status.textContent = "This browser cannot record a canvas (no MediaRecorder).";
      return;
    }
    const seconds = Number($("record-seconds").value);
    const type = ["video/webm;codecs=vp9", "video/webm;codecs=vp8", "video/webm", "video/mp4"]
      .find((candidate) => MediaRecorder.isTypeSupported(candidate));
    const stream = stage.captureStream(30);
    let recorder;
    try {
      recorder = new MediaRecorder(stream, type ? { mimeType: type } : undefined);
    } catch (error) {
      stream.getTracks().forEach((track) => track.stop());
      status.textContent = `Recording failed: ${error.message}`;
      return;
    }
    const chunks = [];
    recording = true;
    $("record").disabled = true;
    const link = $("record-link");
    link.hidden = true;
    if (link.href) URL.revokeObjectURL(link.href);
    recorder.addEventListener("dataavailable", (event) => { if (event.data.size) chunks.push(event.data); });
    recorder.addEventListener("stop", () => {
      stream.getTracks().forEach((track) => track.stop());
      const mime = (recorder.mimeType || type || "video/webm").split(";")[0];
      const blob = new Blob(chunks, { type: mime });
      const name = `drawvelora.${mime.endsWith("mp4") ? "mp4" : "webm"}`;
      link.href = URL.createObjectURL(blob);
      link.download = name;
      link.dataset.bytes = String(blob.size);
      link.textContent = `Download ${name} (${Math.max(1, Math.round(blob.size / 1024))} KB)`;
      link.hidden = false;
      status.textContent = `Recorded ${seconds} s.`;
      recording = false;
      $("record").disabled = false;
    });
    recorder.start(500);
    let left = seconds;
    status.textContent = `Recording… ${left} s${paused ? " (paused: a still frame)" : ""}`;
    const countdown = setInterval(() => {
      left -= 1;
      if (left > 0) {
        status.textContent = `Recording… ${left} s`;
        return;
      }
      clearInterval(countdown);
      recorder.stop();
    }, 1000);
  }

  // ---- Start --------------------------------------------------------------------------

  function fail(message) {
    readout.textContent = message;
    console.error(message);
  }

  if (typeof createVeloraStudio !== "function") {
    fail("velora_studio.js did not load: build the studio with `cmake --workflow --preset web`.");
    return;
  }
  createVeloraStudio({ onDebugMessage: addDebugMessage }).then((loaded) => {
    module = loaded;
    let restored = null;
    let problem = "";
    if (location.hash.length > 1) {
      try {
        restored = readAddress(location.hash.slice(1));
      } catch (error) {
        problem = `The address holds a setup the studio cannot read (${error.message}); the opening scene is shown.`;
      }
    }
    if (restored) {
      $("background").value = restored.background;
      layers = restored.layers;
      sheets = restored.sheets.map((sheet) => ({ ...sheet, pixels: null }));
    } else {
      layers = OPENING_LAYERS.map((settings, i) => ({ handle: i + 1, visible: true, width: 640, height: 480, ...settings }));
    }
    const { width, height } = frameSize();
    if (!openHost(width, height)) return;
    loadRuns();
    layers.forEach(initLayer);
    selected = layers.length - 1;
    wireControls();
    showLayer();
    showSheets();
    changed();
    holdClock();
    const status = $("setup-status");
    if (problem) {
      status.className = "field-error";
      status.textContent = problem;
    } else if (restored) {
      status.textContent = `Restored ${layers.length} layer${layers.length === 1 ? "" : "s"} from the address.` +
        missingSheetsText();
    }
    // For the console and the browser tests: the module (its _Init, _Start,
    // ... are the plug-in's exports) and the page's state.
    window.veloraStudio = { module, layers: () => layers, scriptText, renderFrame, setupAddress };
    requestAnimationFrame(tick);
  }, (error) => fail(`The plug-in failed to load: ${error}`));
})();
