// Record video: the canvas as a WebM (or MP4) for a few seconds.
import { state } from "./state.js";

const $ = (id) => document.getElementById(id);
let recording = false;

function record() {
  const status = $("record-status");
  const stage = $("stage");
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
  // The focus goes to the nearest control that stays enabled.
  if (document.activeElement === $("record")) $("record-seconds").focus();
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
  status.textContent = `Recording… ${left} s${state.paused ? " (paused: a still frame)" : ""}`;
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

export function wireRecording() {
  $("record").addEventListener("click", record);
}
