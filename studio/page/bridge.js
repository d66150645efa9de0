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

// The page's scripts come one of two ways: served as files beside the page
// (velora_studio.js with its .wasm, effect.js), or, in the single studio
// file, already on the page as inline scripts with these ids, the
// WebAssembly inside the module's script.
const INLINE = { "velora_studio.js": "velora-studio-module", "effect.js": "velora-effect" };

function inlineScript(name) {
  return typeof document === "undefined" ? null : document.getElementById(INLINE[name]);
}

// The address of a script beside the page.
function besidePage(name) {
  return new URL(name, document.baseURI).href;
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

// The module needs two features of WebAssembly a browser may lack: SIMD
// (128-bit vectors, for the pixel loops) and exception handling (for the
// plug-in's guards); without either it does not compile at all. A module
// of one function that uses a feature validates only where the browser
// has it: a vector (i8x16.splat, i8x16.popcnt), and a try with a catch_all.
const FEATURE_PROBES = [
  new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 10, 1, 8, 0, 65, 0, 253, 15, 253, 98, 11]),
  new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 4, 1, 96, 0, 0, 3, 2, 1, 0, 10, 8, 1, 6, 0, 6, 64, 25, 11, 11]),
];

export function lacksWebAssemblyFeatures() {
  return typeof WebAssembly !== "object" || FEATURE_PROBES.some((probe) => !WebAssembly.validate(probe));
}

// The studio's WebAssembly module (velora_studio.js), its script loaded on
// the page once; each call makes an instance of its own.
let factory = null;

export async function createModule(options = {}) {
  factory ??= (inlineScript("velora_studio.js") ? Promise.resolve()
    : loadScript(besidePage("velora_studio.js"))).then(() => globalThis.createVeloraStudio);
  return (await factory)(options);
}

// The effect's worker: from effect.js beside the page, or, in the single
// file, from the two inline scripts made into one (a classic worker: a
// page opened from disk may not start a module worker from a blob).
function makeWorker() {
  const [module, effect] = [inlineScript("velora_studio.js"), inlineScript("effect.js")];
  if (!module || !effect) return { worker: new Worker(besidePage("effect.js")), script: besidePage("velora_studio.js") };
  const source = new Blob([module.textContent, "\n", effect.textContent], { type: "text/javascript" });
  const address = URL.createObjectURL(source);
  const worker = new Worker(address);
  return { worker, script: null, address };
}

// Starts the engine on canvas. listeners: { frame, opened, debug, error };
// resolves with where it runs ("worker" or "page"), rejects when the
// plug-in does not load.
export async function start(canvas, on) {
  listeners = on;
  if (typeof Worker === "function" && typeof canvas.transferControlToOffscreen === "function") {
    const offscreen = canvas.transferControlToOffscreen();
    const { worker, script, address } = makeWorker();
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
      worker.postMessage({ op: "start", script, canvas: offscreen }, [offscreen]);
    }).finally(() => { if (address) URL.revokeObjectURL(address); });
    worker.onmessage = ({ data }) => receive(data);
    send = (message, transfer) => worker.postMessage(message, transfer ?? []);
    return "worker";
  }
  const module = await createModule({
    onDebugMessage: (text, raw) => queueMicrotask(() => receive({ type: "debug", text, raw })),
  });
  if (!inlineScript("effect.js")) await loadScript(besidePage("effect.js"));
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

// The author's picture (straight RGBA, width x height) stretched over the
// frame in place of the colours, until the next background() or open().
export function backgroundPicture(pixels, width, height) {
  send({ op: "picture", pixels: new Uint8ClampedArray(pixels), width, height });
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
