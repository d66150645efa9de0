// The platform layer in the browser (the Emscripten build of the studio):
// the page's monotonic clock, the modules its host registered by name, and
// the console (and the page) for debug messages.
#include "platform/os.h"
#include "platform/web.h"

#include <emscripten.h>

#include <cstring>
#include <map>
#include <string>

namespace velora::platform {
namespace {

// The browser's monotonic clock (performance.now), less the time the page
// held it, in whole milliseconds truncated to the low 32 bits so that it
// wraps exactly like the Windows counters.
struct WebClock {
    bool held = false;
    double heldSince = 0.0;  // browser time when the hold began
    double heldTotal = 0.0;  // milliseconds spent held, never counted
};
WebClock webClock;

std::uint32_t WebMilliseconds()
{
    const double now = webClock.held ? webClock.heldSince : emscripten_get_now();
    const double ms = now - webClock.heldTotal;
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms > 0.0 ? ms : 0.0));
}

// The modules the page's host registered: name -> export name -> address.
// std::map keeps each module's node in place, so its address is the handle.
using WebModule = std::map<std::string, ExportAddress>;
std::map<std::string, WebModule>& WebModules()
{
    static std::map<std::string, WebModule> modules;
    return modules;
}

// The messages are code page 932 bytes; the browser's Shift_JIS decoder
// (which is Windows' code page 932) makes them readable text for the console
// and for the page, which receives them through Module.onDebugMessage. A
// browser without that decoder shows the bytes above 0x7F as <XX>. (No
// backslash in this JavaScript: the macro does not carry one through.)
// clang-format off
EM_JS(void, WebDebugOutput, (const char* bytes, int length), {
    const raw = HEAPU8.slice(bytes, bytes + length);
    let text;
    try {
        text = new TextDecoder("shift_jis").decode(raw);
    } catch (e) {
        text = Array.from(raw, function(b) {
            return b < 0x80 ? String.fromCharCode(b) : "<" + b.toString(16).toUpperCase() + ">";
        }).join("");
    }
    const line = text.charCodeAt(text.length - 1) === 10 ? text.slice(0, -1) : text;
    console.log("DrawVelora: " + line);
    if (typeof Module["onDebugMessage"] === "function") {
        Module["onDebugMessage"](text, raw);
    }
});
// clang-format on

}  // namespace

namespace os {

std::uint32_t MultimediaTime() { return WebMilliseconds(); }
std::uint32_t TickCount() { return WebMilliseconds(); }

ModuleHandle FindLoadedModule(const char* name)
{
    if (!name) {
        return nullptr;
    }
    auto found = WebModules().find(name);
    return found == WebModules().end() ? nullptr : &found->second;
}

ExportAddress FindExport(ModuleHandle module, const char* name)
{
    if (!module || !name) {
        return nullptr;
    }
    const auto& exports = *static_cast<WebModule*>(module);
    auto found = exports.find(name);
    return found == exports.end() ? nullptr : found->second;
}

void DebugOutput(const char* message)
{
    if (message) {
        WebDebugOutput(message, static_cast<int>(std::strlen(message)));
    }
}

}  // namespace os

namespace web {
void RegisterModuleExport(const char* module, const char* exportName, ExportAddress address)
{
    if (!module || !exportName) {
        return;
    }
    WebModule& exports = WebModules()[module];
    if (address) {
        exports[exportName] = address;
    } else {
        exports.erase(exportName);
    }
}

void ForgetModules() { WebModules().clear(); }

void HoldClock(bool held)
{
    if (held == webClock.held) {
        return;
    }
    const double now = emscripten_get_now();
    if (held) {
        webClock.heldSince = now;
    } else {
        webClock.heldTotal += now - webClock.heldSince;
    }
    webClock.held = held;
}
}  // namespace web

}  // namespace velora::platform
