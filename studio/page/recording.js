// Record video: the canvas as a WebM (or MP4) for a few seconds, checked
// before it is offered.
import { $, show } from "./dom.js";
import { errorMessage, msg } from "./i18n.js";

// The most pixels a recording in Chromium holds. Past about this, its encoder
// (VP9 or VP8, in software) hands back an empty or unplayable file while
// every check before recording says the size is fine: 2048 x 2048 fails,
// 1920 x 1080 and 4096 x 480 record. A larger frame is recorded scaled
// down to fit.
export const RECORD_PIXELS = 1920 * 1080;
const RECORD_SIDE = 4096;

// The size a frame is recorded at: its own when it fits, else the largest
// of the same shape that does, with even sides (as video encoders want).
export function recordSize(width, height) {
  const scale = Math.min(1, Math.sqrt(RECORD_PIXELS / (width * height)), RECORD_SIDE / Math.max(width, height));
  if (scale === 1) return { width, height, scaled: false };
  const even = (side) => Math.max(2, 2 * Math.floor((side * scale) / 2));
  return { width: even(width), height: even(height), scaled: true };
}

// The WebCodecs name of the codec a recorder type asks for, to ask the
// browser about a size before recording (where it can answer).
const CODECS = { vp9: "vp09.00.10.08", vp8: "vp8" };

async function encoderTakes(type, width, height) {
  const codec = CODECS[/codecs=(\w+)/.exec(type ?? "")?.[1]];
  if (!codec || typeof VideoEncoder !== "function") return true;
  try {
    return (await VideoEncoder.isConfigSupported({ codec, width, height })).supported !== false;
  } catch {
    return true;  // a question the browser cannot answer refuses nothing
  }
}

// Resolves true when target fires event, false on its "error" or after ms.
function when(target, event, ms) {
  return new Promise((resolve) => {
    const done = (result) => {
      clearTimeout(timer);
      target.removeEventListener(event, yes);
      target.removeEventListener("error", no);
      resolve(result);
    };
    const yes = () => done(true);
    const no = () => done(false);
    const timer = setTimeout(no, ms);
    target.addEventListener(event, yes);
    target.addEventListener("error", no);
  });
}

// What a recorded file holds: { duration } in seconds when it plays, else
// { problem } (a message key). The WebM Chromium records names no
// duration: a seek past the end makes the player find it.
async function checkVideo(blob) {
  if (!blob.size) return { problem: "record.empty" };
  const video = document.createElement("video");
  video.muted = true;
  video.preload = "metadata";
  const address = URL.createObjectURL(blob);
  video.src = address;
  try {
    if (!(await when(video, "loadedmetadata", 15000)) || !video.videoWidth) return { problem: "record.unplayable" };
    if (!Number.isFinite(video.duration)) {
      const seeked = when(video, "seeked", 15000);
      video.currentTime = Number.MAX_SAFE_INTEGER;
      await seeked;
    }
    return Number.isFinite(video.duration) ? { duration: video.duration } : { problem: "record.unplayable" };
  } finally {
    video.removeAttribute("src");
    video.load();
    URL.revokeObjectURL(address);
  }
}

// Whether a canvas's capture track gives a frame when asked: Chromium's
// does, and Chromium is the browser whose encoder needs the copy below and
// the size limit above. Firefox records a 4096 x 4096 stage as it is: there
// the stage itself is recorded, as before. (Firefox's videos of 2 s now and
// then last 12 to 42 s, the stage's or a copy's alike; the check after
// recording says so.)
function framesOnRequest() {
  return typeof CanvasCaptureMediaStreamTrack === "function"
    && typeof CanvasCaptureMediaStreamTrack.prototype.requestFrame === "function";
}

// What Chromium records: a copy of the stage at width x height, drawn and
// handed to the recorder as a frame at every display frame (at most 30 a
// second) while it runs. The recorder so gets a steady flow of frames (a
// still canvas gives none, paused included), and the flow ends when the
// time is up, before the recorder does: an encoder that falls behind (a
// busy machine, a large frame) then finishes the frames it holds instead
// of losing them, and no frame comes in meanwhile to lengthen the video.
function stageCopy(stage, width, height) {
  const canvas = Object.assign(document.createElement("canvas"), { width, height });
  const context = canvas.getContext("2d");
  const stream = canvas.captureStream(0);
  const [track] = stream.getVideoTracks();
  let running = true;
  let last = -Infinity;
  const paint = (now) => {
    if (!running) return;
    if (now - last >= 1000 / 30 - 2) {
      last = now;
      context.drawImage(stage, 0, 0, width, height);
      track.requestFrame();
    }
    requestAnimationFrame(paint);
  };
  paint(performance.now());
  return { stream, stop: () => { running = false; } };
}

// How long the encoder may take to finish its frames after the last one:
// done when no data has come for QUIET ms, or at most after DRAIN ms.
const QUIET = 3000;
const DRAIN = 20000;

// state: the studio's state.
export function createRecording({ state }) {
  const status = $("record-status");
  const link = $("record-link");
  let recording = false;

  function finish(message, { error = false } = {}) {
    show(status, message, { error });
    recording = false;
    $("record").disabled = false;
  }

  async function record() {
    const stage = $("stage");
    if (recording) return;
    if (typeof MediaRecorder !== "function" || typeof stage.captureStream !== "function") {
      show(status, msg("record.unsupported"));
      return;
    }
    recording = true;
    // The focus goes to the nearest control that stays enabled.
    if (document.activeElement === $("record")) $("record-seconds").focus();
    $("record").disabled = true;
    link.hidden = true;
    if (link.href) URL.revokeObjectURL(link.href);
    const seconds = Number($("record-seconds").value);
    const frame = { ...state.frame };
    const copied = framesOnRequest();
    const size = copied ? recordSize(frame.width, frame.height) : { ...frame, scaled: false };
    const type = ["video/webm;codecs=vp9", "video/webm;codecs=vp8", "video/webm", "video/mp4"]
      .find((candidate) => MediaRecorder.isTypeSupported(candidate));
    if (!(await encoderTakes(type, size.width, size.height))) {
      finish(msg("record.refused", { width: size.width, height: size.height }), { error: true });
      return;
    }
    let copy = null;
    let stream;
    let recorder;
    try {
      copy = copied ? stageCopy(stage, size.width, size.height) : null;
      stream = copy?.stream ?? stage.captureStream(30);
      recorder = new MediaRecorder(stream, type ? { mimeType: type } : undefined);
    } catch (error) {
      copy?.stop();
      stream?.getTracks().forEach((track) => track.stop());
      finish(msg("record.failed", { error: errorMessage(error) }), { error: true });
      return;
    }
    const chunks = [];
    let lastData = 0;
    recorder.addEventListener("dataavailable", (event) => {
      if (!event.data.size) return;
      chunks.push(event.data);
      lastData = performance.now();
    });
    recorder.addEventListener("stop", async () => {
      stream.getTracks().forEach((track) => track.stop());
      const mime = (recorder.mimeType || type || "video/webm").split(";")[0];
      const blob = new Blob(chunks, { type: mime });
      show(status, msg("record.checking"));
      const { duration, problem } = await checkVideo(blob);
      if (problem) {
        finish(msg(problem, { width: size.width, height: size.height }), { error: true });
        return;
      }
      const name = `drawvelora.${mime.endsWith("mp4") ? "mp4" : "webm"}`;
      link.href = URL.createObjectURL(blob);
      link.download = name;
      link.dataset.bytes = String(blob.size);
      link.dataset.duration = duration.toFixed(2);
      show(link, msg("record.download", { name, size: Math.max(1, Math.round(blob.size / 1024)) }));
      link.hidden = false;
      const values = { seconds, recorded: duration.toFixed(1), width: size.width, height: size.height,
        frameWidth: frame.width, frameHeight: frame.height };
      // Chromium stamps the frames as its encoder hands them over: one that
      // falls far behind makes the video longer than the time recorded.
      const off = duration < seconds / 2 ? "record.short" : duration > seconds * 1.5 ? "record.long" : null;
      const done = msg(off ?? "record.done", values);
      finish(size.scaled ? [done, msg("record.scaled", values)] : done, { error: off !== null });
    });

    // The time asked, then no more frames; the recorder stops once the
    // encoder has handed over what it still held.
    function drain() {
      copy.stop();
      show(status, msg("record.finishing"));
      const since = performance.now();
      const waiting = setInterval(() => {
        const now = performance.now();
        if ((chunks.length && now - Math.max(lastData, since) > QUIET) || now - since > DRAIN) {
          clearInterval(waiting);
          recorder.stop();
        }
      }, 250);
    }

    recorder.start(500);
    let left = seconds;
    show(status, msg(state.paused ? "record.countingPaused" : "record.counting", { seconds: left }), { error: false });
    const countdown = setInterval(() => {
      left -= 1;
      if (left > 0) {
        show(status, msg("record.counting", { seconds: left }));
        return;
      }
      clearInterval(countdown);
      if (copy) drain();
      else recorder.stop();
    }, 1000);
  }

  $("record").addEventListener("click", record);
}
