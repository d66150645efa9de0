// The effect's engine: the plug-in's WebAssembly module (velora_studio.js)
// and its host, drawing frame after frame onto a canvas. It runs in a Web
// Worker drawing to an OffscreenCanvas, so the page's controls answer
// whatever a frame costs; where a browser lacks those, the page runs the
// same engine itself (bridge.js).
//
// It takes messages (the bridge's): { op, ... } in order, between frames.
// Each frame the host clears its frame to the background and calls the
// plug-in object's Draw once per drawn layer, in order, then shows the frame
// on the canvas. A frame that takes longer than the display's interval
// simply delays the next one: frames are dropped, never queued.
"use strict";

// The plug-in's exports a message may call, as a script calls them.
const VELORA_CALLS = new Set(["Init", "Start", "Release", "SetType", "SetNumof", "SetMaxAmp", "SetXSpeed", "SetYSpeed"]);

function createVeloraEngine(module, canvas, post) {
  const context = canvas.getContext("2d");
  let image = null;
  let draws = [];        // { handle, rate } of the drawn layers, in order
  let running = true;
  let frames = 0;
  let scheduled = false;
  let recent = [];       // { start, work } of the frames of the last second
  const later = typeof requestAnimationFrame === "function" ? requestAnimationFrame : (f) => setTimeout(f, 16);

  function runs() {
    return module.UTF8ToString(module._velora_studio_runs()).split("\n").filter(Boolean).map((line) => {
      const [name, base, count, rotation, size] = line.split("\t");
      return { name, base: Number(base), count: Number(count), rotation: Number(rotation), size: Number(size) };
    });
  }

  // The work and interval of the frames of the last second (the last
  // frame's alone when frames come less often), counting only frames drawn
  // since the last change: a frame from before says nothing of the scene as
  // it is now. With one frame counted there is no interval yet (0).
  function timing(now) {
    recent = recent.filter((frame, i) => now - frame.start <= 1000 || i >= recent.length - 2);
    const span = recent.length >= 2 ? recent.at(-1).start - recent[0].start : 0;
    return {
      interval: recent.length >= 2 ? span / (recent.length - 1) : 0,
      work: recent.reduce((sum, frame) => sum + frame.work, 0) / Math.max(1, recent.length),
    };
  }

  function draw(live) {
    const start = performance.now();
    module._velora_studio_begin_frame();
    const calls = draws.map((layer) => (layer.visible ? module._velora_studio_draw(layer.handle, layer.rate) : 0));
    const pixels = module._velora_studio_frame();
    image.data.set(module.HEAPU8.subarray(pixels, pixels + image.data.length));
    context.putImageData(image, 0, 0);
    // A frame drawn on request while stopped counts alone: its own work.
    if (!live) recent = [];
    recent.push({ start, work: performance.now() - start });
    post({ type: "frame", frames: ++frames, calls, live, ...timing(performance.now()) });
  }

  function tick() {
    scheduled = false;
    if (!running || !image) return;
    draw(true);
    schedule();
  }

  function schedule() {
    if (!scheduled && running) {
      scheduled = true;
      later(tick);
    }
  }

  function open({ width, height }) {
    const ok = module._velora_studio_open(width, height) === 1;
    if (ok) {
      canvas.width = width;
      canvas.height = height;
      image = new ImageData(width, height);
    }
    post({ type: "opened", ok, width, height, runs: ok ? runs() : [] });
  }

  // fn(pointer) with bytes copied into the module's memory for the call;
  // what fn answers, or otherwise when that memory cannot be had.
  function withBytes(bytes, fn, otherwise) {
    const pointer = module._malloc(bytes.length);
    if (!pointer) return otherwise;
    try {
      module.HEAPU8.set(bytes, pointer);
      return fn(pointer);
    } finally {
      module._free(pointer);
    }
  }

  function loadSheet({ id, pixels, width, height, cell, base }) {
    const count = withBytes(pixels,
      (pointer) => module._velora_studio_load_sheet_at(pointer, width, height, cell, base), 0);
    post({ type: "reply", id, count, runs: runs() });
  }

  function picture({ pixels, width, height }) {
    const ok = withBytes(pixels, (pointer) => module._velora_studio_set_background_picture(pointer, width, height), 0);
    if (ok !== 1) post({ type: "error", message: `picture: ${width} x ${height} could not be put behind the effect` });
  }

  // Asks the plug-in for an interface by GUID (16 bytes, or null), as the
  // engine does when it loads the plug-in; what it answers goes to the
  // plug-in messages.
  function createInterface({ guid }) {
    if (!guid) {
      module._CreateInterface(0);
      return;
    }
    withBytes(guid, (pointer) => module._CreateInterface(pointer));
  }

  // A copy of the frame last drawn, as the canvas shows it.
  function snapshot({ id }) {
    const pixels = image ? new Uint8ClampedArray(image.data) : new Uint8ClampedArray(0);
    post({ type: "reply", id, width: image?.width ?? 0, height: image?.height ?? 0, pixels }, [pixels.buffer]);
  }

  const handlers = {
    open,
    snapshot,
    loadSheet,
    picture,
    createInterface,
    call: ({ name, args }) => { if (VELORA_CALLS.has(name)) module[`_${name}`](...args); },
    background: ({ top, bottom }) => module._velora_studio_set_background(top, bottom),
    holdClock: ({ held }) => module._velora_studio_hold_clock(held ? 1 : 0),
    layers: ({ list }) => { draws = list; },
    run: ({ on }) => {
      running = on;
      schedule();
    },
    // While stopped, one frame shows a change.
    render: () => { if (image && !running) draw(false); },
  };

  // Messages that change nothing drawn leave the frames counted as they are.
  const UNCHANGED = new Set(["snapshot", "createInterface"]);

  return {
    handle(message) {
      if (!UNCHANGED.has(message.op)) recent = [];
      try {
        handlers[message.op]?.(message);
      } catch (error) {
        post({ type: "error", message: `${message.op}: ${error.message ?? error}` });
      }
      if (message.op === "open") schedule();
    },
  };
}

// In a worker: the first message brings the OffscreenCanvas; the module
// loads, then the messages that came meanwhile are handled in order.
if (typeof document === "undefined" && typeof importScripts === "function") {
  let engine = null;
  const waiting = [];
  self.onmessage = ({ data }) => {
    if (data.op === "start") {
      // (null: the module's script came with this one, in the single file)
      if (data.script) importScripts(data.script);
      createVeloraStudio({ onDebugMessage: (text, raw) => self.postMessage({ type: "debug", text, raw }) }).then(
        (module) => {
          const post = (message, transfer) => self.postMessage(message, transfer ?? []);
          engine = createVeloraEngine(module, data.canvas, post);
          self.postMessage({ type: "ready" });
          waiting.splice(0).forEach((message) => engine.handle(message));
        },
        (error) => self.postMessage({ type: "failed", message: String(error) }));
    } else if (engine) {
      engine.handle(data);
    } else {
      waiting.push(data);
    }
  };
}
