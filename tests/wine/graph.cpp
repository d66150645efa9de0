// Stand-in for the engine's Graph module: CreateInterface answers
// IID_GraphBlend and IID_GraphFilter with one static object each.
//
// Every drawing operation announces itself through OutputDebugStringA with
// what it was handed: the sizes of its surfaces (asked of the surfaces
// themselves), the rate, the fixed coordinates of the scratch copies, and
// whether the rectangle lies inside both surfaces. Drawing positions depend
// on the random layout and are reduced to that inside/outside verdict.
// CopyRect really copies, so that MixRect can count the white pixels of the
// plug-in's whitened copy.
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "contract/host_interfaces.h"
#include "tests/wine/host_module.h"

using velora::ISurface;

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

bool Inside(Size surface, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height)
{
    return width > 0 && height > 0 && x >= 0 && y >= 0 && x <= surface.width - width &&
           y <= surface.height - height;
}

// "inside" when the rectangle lies within both surfaces.
const char* Verdict(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                    std::int32_t sx, std::int32_t sy, std::int32_t width, std::int32_t height)
{
    return Inside(SizeOf(dest), dx, dy, width, height) && Inside(SizeOf(src), sx, sy, width, height)
               ? "inside"
               : "outside";
}

// Pixels whose three colour bytes are all 255.
int WhitePixels(ISurface* surface)
{
    const Size size = SizeOf(surface);
    int white = 0;
    for (std::int32_t x = 0; x < size.width; ++x) {
        for (std::int32_t y = 0; y < size.height; ++y) {
            const std::uint8_t* colour = surface->GetPixelAddress(x, y);
            white += colour && colour[0] == 255 && colour[1] == 255 && colour[2] == 255 ? 1 : 0;
        }
    }
    return white;
}

class GraphBlend final : public velora::IGraphBlend {
public:
    std::int32_t VELORA_METHOD BlendRect(ISurface* dest, std::int32_t dx, std::int32_t dy,
                                         ISurface* src, std::int32_t sx, std::int32_t sy,
                                         std::int32_t width, std::int32_t height,
                                         std::int32_t rate) override
    {
        Blend("BlendRect", dest, dx, dy, src, sx, sy, width, height, rate);
        return 0;
    }
    std::int32_t VELORA_METHOD BlendRectAlt(ISurface* dest, std::int32_t dx, std::int32_t dy,
                                            ISurface* src, std::int32_t sx, std::int32_t sy,
                                            std::int32_t width, std::int32_t height,
                                            std::int32_t rate) override
    {
        Blend("BlendRectAlt", dest, dx, dy, src, sx, sy, width, height, rate);
        return 0;
    }

private:
    static void Blend(const char* name, ISurface* dest, std::int32_t dx, std::int32_t dy,
                      ISurface* src, std::int32_t sx, std::int32_t sy, std::int32_t width,
                      std::int32_t height, std::int32_t rate)
    {
        const Size d = SizeOf(dest);
        const Size s = SizeOf(src);
        Trace("%s(onto %dx%d from %dx%d, rate %d, %s)\n", name, d.width, d.height, s.width,
              s.height, static_cast<int>(rate), Verdict(dest, dx, dy, src, sx, sy, width, height));
    }
};

class GraphFilter final : public velora::IGraphFilter {
public:
    std::int32_t VELORA_METHOD CopyRect(ISurface* dest, std::int32_t dx, std::int32_t dy,
                                        ISurface* src, std::int32_t sx, std::int32_t sy,
                                        std::int32_t width, std::int32_t height) override
    {
        const Size d = SizeOf(dest);
        const Size s = SizeOf(src);
        Trace("CopyRect(onto %dx%d at %d,%d from %dx%d at %d,%d, %dx%d)\n", d.width, d.height,
              static_cast<int>(dx), static_cast<int>(dy), s.width, s.height, static_cast<int>(sx),
              static_cast<int>(sy), static_cast<int>(width), static_cast<int>(height));
        for (std::int32_t x = 0; x < width; ++x) {
            for (std::int32_t y = 0; y < height; ++y) {
                std::uint8_t* to = dest ? dest->GetPixelAddress(dx + x, dy + y) : nullptr;
                const std::uint8_t* from = src ? src->GetPixelAddress(sx + x, sy + y) : nullptr;
                std::uint8_t* toAlpha = dest ? dest->GetAlphaAddress(dx + x, dy + y) : nullptr;
                const std::uint8_t* fromAlpha = src ? src->GetAlphaAddress(sx + x, sy + y) : nullptr;
                if (to && from) {
                    to[0] = from[0];
                    to[1] = from[1];
                    to[2] = from[2];
                }
                if (toAlpha && fromAlpha) {
                    *toAlpha = *fromAlpha;
                }
            }
        }
        return 0;
    }
    std::int32_t VELORA_METHOD DrawRect(ISurface* dest, std::int32_t dx, std::int32_t dy,
                                        ISurface* src, std::int32_t sx, std::int32_t sy,
                                        std::int32_t width, std::int32_t height) override
    {
        const Size d = SizeOf(dest);
        const Size s = SizeOf(src);
        Trace("DrawRect(onto %dx%d from %dx%d, %s)\n", d.width, d.height, s.width, s.height,
              Verdict(dest, dx, dy, src, sx, sy, width, height));
        return 0;
    }
    std::int32_t VELORA_METHOD FilterRect(ISurface* surface, std::int32_t x, std::int32_t y,
                                          std::int32_t width, std::int32_t height,
                                          std::int32_t rate) override
    {
        const Size s = SizeOf(surface);
        Trace("FilterRect(on %dx%d at %d,%d, %dx%d, rate %d)\n", s.width, s.height,
              static_cast<int>(x), static_cast<int>(y), static_cast<int>(width),
              static_cast<int>(height), static_cast<int>(rate));
        return 0;
    }
    std::int32_t VELORA_METHOD MixRect(ISurface* dest, std::int32_t dx, std::int32_t dy,
                                       ISurface* src, std::int32_t sx, std::int32_t sy,
                                       std::int32_t width, std::int32_t height,
                                       std::int32_t rate) override
    {
        const Size d = SizeOf(dest);
        const Size s = SizeOf(src);
        Trace("MixRect(onto %dx%d from %dx%d with %d white, rate %d, %s)\n", d.width, d.height,
              s.width, s.height, WhitePixels(src), static_cast<int>(rate),
              Verdict(dest, dx, dy, src, sx, sy, width, height));
        return 0;
    }
};

GraphBlend graphBlend;
GraphFilter graphFilter;
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
