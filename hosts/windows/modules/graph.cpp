// Stand-in for the engine's Graph module: CreateInterface answers
// IID_GraphBlend and IID_GraphFilter with the kit's drawing interfaces
// (hosts/kit/engine_services.h), which really draw.
//
// Every drawing operation, once it ran, announces through OutputDebugStringA
// what it was handed: the sizes of its surfaces (asked of the surfaces
// themselves), the rate, the fixed coordinates of the scratch copies, and
// whether the rectangle lies inside both surfaces. Drawing positions depend
// on the random layout and are reduced to that inside/outside verdict.
// MixRect counts the white pixels of its source: the plug-in's whitened copy.
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "contract/host_interfaces.h"
#include "kit/clip.h"
#include "kit/engine_services.h"
#include "windows/host_module.h"

using velora::ISurface;
using velora::kit::DrawCall;

namespace {

void Trace(const char* format, ...)
{
    char text[256] = "test module Graph: ";
    const std::size_t used = std::strlen(text);
    va_list args;
    va_start(args, format);
    std::vsnprintf(text + used, sizeof text - used, format, args);
    va_end(args);
    OutputDebugStringA(text);
}

struct Size {
    int width = 0;
    int height = 0;
};

Size SizeOf(ISurface* surface)
{
    return surface ? Size{surface->GetWidth(), surface->GetHeight()} : Size{};
}

// "inside" when clipping to both surfaces leaves the rectangle whole.
const char* Verdict(const DrawCall& call)
{
    const Size d = SizeOf(call.dest);
    const Size s = SizeOf(call.src);
    const auto clipped = velora::kit::ClipRect(d.width, d.height, s.width, s.height, call.dx, call.dy,
                                                   call.sx, call.sy, call.width, call.height);
    const velora::kit::ClippedRect whole{call.dx, call.dy, call.sx, call.sy, call.width, call.height};
    return clipped && *clipped == whole ? "inside" : "outside";
}

// Pixels whose three colour bytes are all 255.
int WhitePixels(ISurface* surface)
{
    const Size size = SizeOf(surface);
    int white = 0;
    for (std::int32_t y = 0; y < size.height; ++y) {
        for (std::int32_t x = 0; x < size.width; ++x) {
            const std::uint8_t* colour = surface->GetPixelAddress(x, y);
            white += colour && colour[0] == 255 && colour[1] == 255 && colour[2] == 255 ? 1 : 0;
        }
    }
    return white;
}

void Announce(const DrawCall& call, void*)
{
    const Size d = SizeOf(call.dest);
    const Size s = SizeOf(call.src);
    const int rate = static_cast<int>(call.rate);
    const std::string_view operation = call.operation;
    if (operation == "CopyRect") {
        Trace("CopyRect(onto %dx%d at %d,%d from %dx%d at %d,%d, %dx%d)\n", d.width, d.height,
              static_cast<int>(call.dx), static_cast<int>(call.dy), s.width, s.height,
              static_cast<int>(call.sx), static_cast<int>(call.sy), static_cast<int>(call.width),
              static_cast<int>(call.height));
    } else if (operation == "FilterRect") {
        Trace("FilterRect(on %dx%d at %d,%d, %dx%d, rate %d)\n", d.width, d.height,
              static_cast<int>(call.dx), static_cast<int>(call.dy), static_cast<int>(call.width),
              static_cast<int>(call.height), rate);
    } else if (operation == "DrawRect") {
        Trace("DrawRect(onto %dx%d from %dx%d, %s)\n", d.width, d.height, s.width, s.height, Verdict(call));
    } else if (operation == "MixRect") {
        Trace("MixRect(onto %dx%d from %dx%d with %d white, rate %d, %s)\n", d.width, d.height, s.width,
              s.height, WhitePixels(call.src), rate, Verdict(call));
    } else {
        Trace("%s(onto %dx%d from %dx%d, rate %d, %s)\n", call.operation, d.width, d.height, s.width,
              s.height, rate, Verdict(call));
    }
}

constexpr velora::kit::GraphHooks kAnnounced{nullptr, &Announce, nullptr};
velora::kit::GraphBlend graphBlend{kAnnounced};
velora::kit::GraphFilter graphFilter{kAnnounced};
int refuse = 0;

}  // namespace

HOST_MODULE_EXPORT void __cdecl RefuseRequests(int value) { refuse = value; }

HOST_MODULE_EXPORT void* __cdecl CreateInterface(const velora::Guid* iid)
{
    void* answer = nullptr;
    if (host_module::SameGuid(iid, velora::IID_GraphBlend)) {
        OutputDebugStringA(host_module::kTraceGraphBlend);
        answer = static_cast<velora::IGraphBlend*>(&graphBlend);
    } else if (host_module::SameGuid(iid, velora::IID_GraphFilter)) {
        OutputDebugStringA(host_module::kTraceGraphFilter);
        answer = static_cast<velora::IGraphFilter*>(&graphFilter);
    } else {
        OutputDebugStringA("test module Graph: CreateInterface(other GUID)\n");
    }
    return refuse ? nullptr : answer;
}
