// Record video: the canvas as a WebM (or MP4) for a few seconds.
import { $, show } from "./dom.js";
import { errorMessage, msg } from "./i18n.js";

// state: the studio's state.
export function createRecording({ state }) {
  const status = $("record-status");
  let recording = false;

  function record() {
    const stage = $("stage");
    if (recording) return;
    if (typeof MediaRecorder !== "function" || typeof stage.captureStream !== "function") {
      show(status, msg("record.unsupported"));
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
      show(status, msg("record.failed", { error: errorMessage(error) }));
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
      show(link, msg("record.download", { name, size: Math.max(1, Math.round(blob.size / 1024)) }));
      link.hidden = false;
      show(status, msg("record.done", { seconds }));
      recording = false;
      $("record").disabled = false;
    });
    recorder.start(500);
    let left = seconds;
    show(status, msg(state.paused ? "record.countingPaused" : "record.counting", { seconds: left }));
    const countdown = setInterval(() => {
      left -= 1;
      if (left > 0) {
        show(status, msg("record.counting", { seconds: left }));
        return;
      }
      clearInterval(countdown);
      recorder.stop();
    }, 1000);
  }

  $("record").addEventListener("click", record);
}
