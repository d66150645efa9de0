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

  let module = null;      // the WebAssembly module
  let layers = [];        // in drawing order
  let selected = 0;       // index into layers
  let paused = false;
  let runs = [];          // sprite runs the bank holds
  let frameCount = 0;
  let imageData = null;
  const timing = { work: 0, interval: 0, last: 0, shown: 0 };

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

  function clampNumber(text, limits) {
    const value = limits.float ? Number.parseFloat(text) : Number.parseInt(text, 10);
    if (!Number.isFinite(value)) return null;
    return Math.min(limits.max, Math.max(limits.min, value));
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
    showReadout(total);
  }

  function showReadout(total) {
    const now = performance.now();
    if (now - timing.shown < 250 && !paused) return;
    timing.shown = now;
    const fps = timing.interval > 0 ? 1000 / timing.interval : 0;
    readout.textContent =
      `Frame ${timing.work.toFixed(2)} ms of work · every ${timing.interval.toFixed(1)} ms (${fps.toFixed(0)} fps)` +
      ` · ${total} sprites drawn${paused ? " · paused" : ""}`;
  }

  function tick(now) {
    if (timing.last) {
      const interval = now - timing.last;
      timing.interval = timing.interval ? timing.interval * 0.9 + interval * 0.1 : interval;
    }
    timing.last = now;
    if (!paused) renderFrame();
    requestAnimationFrame(tick);
  }

  // After a change while paused, one frame shows it (the clock stands still,
  // so only the sway of one motion step moves the particles).
  function changed() {
    showScript();
    if (paused) renderFrame();
  }

  // Held while paused or while the page is hidden: the effect resumes where
  // it stood instead of jumping ahead.
  function holdClock() {
    module._velora_studio_hold_clock(paused || document.hidden ? 1 : 0);
  }

  // ---- The script text ----------------------------------------------------------

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
      slider.setAttribute("aria-label", limits.label);
      const number = document.createElement("input");
      number.type = "number";
      number.id = `layer-${limits.key.toLowerCase()}`;
      number.min = limits.min;
      number.max = limits.max;
      number.step = limits.step;
      const apply = (text, from) => {
        const value = clampNumber(text, limits);
        if (value === null) return;
        const layer = current();
        layer[limits.key] = value;
        if (from !== number) number.value = String(value);
        if (from !== slider) slider.value = String(value);
        applySetter(layer, limits.key);
        showRestartHint();
        changed();
      };
      slider.addEventListener("input", () => apply(slider.value, slider));
      number.addEventListener("input", () => apply(number.value, number));
      number.addEventListener("change", () => { number.value = String(current()[limits.key]); });
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
    return `${run.name}: sprites ${run.base}–${last}, ${run.rotation} group${run.rotation === 1 ? "" : "s"}, ${run.size} px`;
  }

  function loadRuns() {
    runs = module.UTF8ToString(module._velora_studio_runs()).split("\n").filter(Boolean).map((line) => {
      const [name, base, count, rotation, size] = line.split("\t");
      return { name, base: Number(base), count: Number(count), rotation: Number(rotation), size: Number(size) };
    });
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
      $(`${id}-slider`).value = String(layer[limits.key]);
    }
    for (const field of INIT_FIELDS) $(field.id).value = String(layer[field.key]);
    const run = runs.findIndex((r) => r.base === layer.base && r.count === layer.count && r.rotation === layer.rotation);
    $("layer-run").value = run >= 0 ? String(run) : "custom";
    showRestartHint();
    showTabs();
  }

  // The tabs are updated in place (a click must not lose its button between
  // press and release); only a change in the number of layers makes new ones.
  function showTabs() {
    const tabs = $("layer-tabs");
    while (tabs.children.length > layers.length) tabs.lastChild.remove();
    while (tabs.children.length < layers.length) {
      const index = tabs.children.length;
      const tab = document.createElement("button");
      tab.type = "button";
      tab.setAttribute("role", "tab");
      tab.addEventListener("click", () => { selected = index; showLayer(); });
      tabs.appendChild(tab);
    }
    layers.forEach((layer, index) => {
      const tab = tabs.children[index];
      tab.textContent = `Layer ${index + 1} · handle ${layer.handle}`;
      tab.setAttribute("aria-selected", index === selected ? "true" : "false");
      tab.classList.toggle("hidden-layer", !layer.visible);
    });
    $("remove-layer").disabled = layers.length <= 1;
    $("layer-earlier").disabled = selected === 0;
    $("layer-later").disabled = selected === layers.length - 1;
  }

  function makeLayer(settings) {
    const handle = layers.reduce((max, layer) => Math.max(max, layer.handle), 0) + 1;
    const layer = { handle, visible: true, width: stage.width, height: stage.height, ...settings };
    initLayer(layer);
    return layer;
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
      $(field.id).addEventListener("change", () => {
        const value = clampNumber($(field.id).value, field);
        const layer = current();
        if (value !== null && value !== layer[field.key]) {
          layer[field.key] = value;
          freshInit(layer);
        }
        showLayer();
        changed();
      });
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
      selected = layers.length - 1;
      showLayer();
      changed();
    });
    $("remove-layer").addEventListener("click", () => {
      if (layers.length <= 1) return;
      module._Release(current().handle);
      layers.splice(selected, 1);
      selected = Math.min(selected, layers.length - 1);
      showLayer();
      changed();
    });
    const move = (by) => {
      const to = selected + by;
      if (to < 0 || to >= layers.length) return;
      [layers[selected], layers[to]] = [layers[to], layers[selected]];
      selected = to;
      showLayer();
      changed();
    };
    $("layer-earlier").addEventListener("click", () => move(-1));
    $("layer-later").addEventListener("click", () => move(1));
    $("pause").addEventListener("click", () => {
      paused = !paused;
      $("pause").textContent = paused ? "Resume" : "Pause";
      holdClock();
      changed();
    });
    document.addEventListener("visibilitychange", holdClock);
    $("background").addEventListener("change", () => {
      const [top, bottom] = $("background").value.split(",").map((hex) => Number.parseInt(hex, 16));
      module._velora_studio_set_background(top, bottom);
      changed();
    });
    $("copy-script").addEventListener("click", copyScript);
    $("clear-debug").addEventListener("click", () => $("debug-log").replaceChildren());
    wireSheetDrop();
  }

  async function copyScript() {
    const text = scriptText();
    const status = $("copy-status");
    try {
      await navigator.clipboard.writeText(text);
      status.textContent = "Copied.";
    } catch (error) {
      // Without clipboard access, select the text so that Ctrl+C copies it.
      const range = document.createRange();
      range.selectNodeContents($("script"));
      const selection = window.getSelection();
      selection.removeAllRanges();
      selection.addRange(range);
      status.textContent = "Selected: press Ctrl+C (or ⌘C) to copy.";
    }
  }

  // ---- Sprite sheets ------------------------------------------------------------------

  const MAX_SHEET_PIXELS = 4096 * 4096;

  function gcd(a, b) {
    while (b) [a, b] = [b, a % b];
    return a;
  }

  // A strip of square cells gives its short side; otherwise the largest
  // square that tiles the image, if it is not tiny.
  function guessCell(width, height) {
    if (width % height === 0) return height;
    if (height % width === 0) return width;
    const g = gcd(width, height);
    return g >= 8 ? g : Math.min(width, height);
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
    const context = canvas.getContext("2d");
    context.drawImage(bitmap, 0, 0);
    const rgba = context.getImageData(0, 0, width, height).data;
    const typed = Number.parseInt($("sheet-cell").value, 10);
    const cell = Number.isFinite(typed) && typed > 0 ? typed : guessCell(width, height);
    const pointer = module._malloc(rgba.length);
    if (!pointer) {
      status.textContent = `${file.name}: not enough memory.`;
      return;
    }
    module.HEAPU8.set(rgba, pointer);
    const count = module._velora_studio_load_sheet(pointer, width, height, cell);
    module._free(pointer);
    if (count === 0) {
      status.textContent = `${file.name}: no whole ${cell} × ${cell} cell fits in ${width} × ${height}.`;
      return;
    }
    loadRuns();
    const run = runs.find((r) => r.base >= 100);
    const layer = current();
    Object.assign(layer, { base: run.base, count: run.count, rotation: run.rotation });
    freshInit(layer);
    status.textContent =
      `${file.name}: ${count} sprites of ${cell} × ${cell} (numbers ${run.base}–${run.base + count - 1}), ` +
      `now used by layer ${selected + 1}.`;
    showLayer();
    changed();
  }

  function wireSheetDrop() {
    const zone = $("drop-zone");
    zone.addEventListener("dragover", (event) => {
      event.preventDefault();
      zone.classList.add("over");
    });
    zone.addEventListener("dragleave", () => zone.classList.remove("over"));
    zone.addEventListener("drop", (event) => {
      event.preventDefault();
      zone.classList.remove("over");
      const file = event.dataTransfer.files[0];
      if (file) loadSheet(file);
    });
    $("sheet-file").addEventListener("change", () => {
      const file = $("sheet-file").files[0];
      if (file) loadSheet(file);
      $("sheet-file").value = "";
    });
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
    if (!module._velora_studio_open(stage.width, stage.height)) {
      fail("The plug-in object could not be made (see the plug-in messages).");
      return;
    }
    imageData = stage.getContext("2d").createImageData(stage.width, stage.height);
    loadRuns();
    for (const settings of OPENING_LAYERS) layers.push(makeLayer(settings));
    selected = layers.length - 1;
    wireControls();
    showLayer();
    showScript();
    holdClock();
    // For the console and the browser tests: the module (its _Init, _Start,
    // ... are the plug-in's exports) and the page's state.
    window.veloraStudio = { module, layers: () => layers, scriptText, renderFrame };
    requestAnimationFrame(tick);
  }, (error) => fail(`The plug-in failed to load: ${error}`));
})();
