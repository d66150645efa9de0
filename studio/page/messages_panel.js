// The warnings the studio finds in the layers' settings, and the messages
// the plug-in itself sends to the debugger.
import { $, make, show } from "./dom.js";
import { msg } from "./i18n.js";
import { allWarnings } from "./warnings.js";

// state: the studio's state.
export function createMessagesPanel({ state }) {
  $("clear-debug").addEventListener("click", () => $("debug-log").replaceChildren());
  return {
    showWarnings() {
      const list = $("warnings");
      list.replaceChildren();
      for (const warning of allWarnings(state.layers, state)) {
        const item = make("li");
        item.dataset.layer = String(warning.layer);
        item.dataset.kind = warning.kind;
        const [where, problem, fix] = [make("strong"), make("span"), make("span", { className: "fix" })];
        show(where, msg("warnings.where", { layer: warning.layer, handle: warning.handle }));
        show(problem, warning.problem);
        show(fix, msg("warnings.fix", { fix: warning.fix }));
        item.append(where, problem, fix);
        list.appendChild(item);
      }
    },
    // A message of the plug-in (code page 932, decoded), shown as it came.
    addDebugMessage({ text, raw }) {
      const line = text.endsWith("\n") ? text.slice(0, -1) : text;
      const item = make("li", { className: line.includes("ERROR") ? "error" : line.includes("WARNING") ? "warning" : "",
        translate: false }, line);
      if (raw) {
        show(item, msg("debug.bytes", { bytes: Array.from(raw, (b) => b.toString(16).padStart(2, "0")).join(" ") }),
          { attribute: "title" });
      }
      $("debug-log").appendChild(item);
    },
  };
}
