// The plug-in bridge: the page's one way to the effect's engine (effect.js).
// The engine runs in a Web Worker drawing to the stage as an
// OffscreenCanvas; where the browser lacks either, it runs on the page
// itself, behind the same messages. Every call is a message, handled in
// order between frames; what comes back (frames, sprite runs, plug-in
// messages) goes to the listeners given to start().

let send = null;
let listeners = {};
let nextId = 1;
const waiting = new Map();  // request id -> resolve

function receive(message) {
  if (message.type === "reply") {
    waiting.get(message.id)?.(message);
    waiting.delete(message.id);
    return;
  }
  listeners[message.type]?.(message);
}

// A script of the page (velora_studio.js, effect.js), loaded once.
function loadScript(src) {
  return new Promise((resolve, reject) => {
    const script = document.createElement("script");
    script.src = src;
    script.onload = resolve;
    script.onerror = () => reject(new Error(`${src} did not load`));
    document.head.appendChild(script);
  });
}

// The studio's WebAssembly module (velora_studio.js), its script loaded on
// the page once; each call makes an instance of its own.
let factory = null;

export async function createModule(options = {}) {
  factory ??= loadScript(new URL("velora_studio.js", import.meta.url).href).then(() => globalThis.createVeloraStudio);
  return (await factory)(options);
}

// Starts the engine on canvas. listeners: { frame, opened, debug, error };
// resolves with where it runs ("worker" or "page"), rejects when the
// plug-in does not load.
export async function start(canvas, on) {
  listeners = on;
  const base = new URL(".", import.meta.url);
  const moduleScript = new URL("velora_studio.js", base).href;
  if (typeof Worker === "function" && typeof canvas.transferControlToOffscreen === "function") {
    const offscreen = canvas.transferControlToOffscreen();
    const worker = new Worker(new URL("effect.js", base));
    await new Promise((resolve, reject) => {
      worker.onmessage = ({ data }) => {
        if (data.type === "ready") resolve();
        else if (data.type === "failed") reject(new Error(data.message));
        else receive(data);
      };
      worker.onerror = (event) => {
        event.preventDefault();
        reject(new Error(event.message || "the effect's worker failed"));
      };
      worker.postMessage({ op: "start", script: moduleScript, canvas: offscreen }, [offscreen]);
    });
    worker.onmessage = ({ data }) => receive(data);
    send = (message, transfer) => worker.postMessage(message, transfer ?? []);
    return "worker";
  }
  const module = await createModule({
    onDebugMessage: (text, raw) => queueMicrotask(() => receive({ type: "debug", text, raw })),
  });
  await loadScript(new URL("effect.js", base).href);
  // Replies come a moment later, as from a worker.
  const engine = globalThis.createVeloraEngine(module, canvas, (message) => setTimeout(() => receive(message)));
  send = (message) => setTimeout(() => engine.handle(message));
  return "page";
}

// The frame: width x height (a new host, a new plug-in object).
export function open(width, height) {
  send({ op: "open", width, height });
}

// One of the plug-in's control exports, as a script calls it.
export function call(name, ...args) {
  send({ op: "call", name, args });
}

// The layers each frame draws, in order: { handle, rate, visible }.
export function drawList(list) {
  send({ op: "layers", list });
}

export function background(top, bottom) {
  send({ op: "background", top, bottom });
}

export function holdClock(held) {
  send({ op: "holdClock", held });
}

// Frames one after the other (on), or none until render() asks for one.
export function run(on) {
  send({ op: "run", on });
}

export function render() {
  send({ op: "render" });
}

// Puts sheet pixels (RGBA, cut into cell x cell sprites) into the bank from
// sprite base on; resolves with { count, runs }.
export function loadSheet(pixels, width, height, cell, base) {
  const id = nextId++;
  const copy = new Uint8ClampedArray(pixels);
  return new Promise((resolve) => {
    waiting.set(id, resolve);
    send({ op: "loadSheet", id, pixels: copy, width, height, cell, base }, [copy.buffer]);
  });
}

// A copy of the frame the canvas shows, after every change sent before:
// resolves with { width, height, pixels } (RGBA).
export function snapshot() {
  const id = nextId++;
  return new Promise((resolve) => {
    waiting.set(id, resolve);
    send({ op: "snapshot", id });
  });
}

// Asks the plug-in for an interface by GUID (16 bytes, or null for none),
// as the engine does; the plug-in answers trouble in its messages.
export function createInterface(guid) {
  send({ op: "createInterface", guid: guid ? Uint8Array.from(guid) : null });
}
