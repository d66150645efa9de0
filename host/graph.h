// The reference host's drawing operations, composed with pixman.
//
// rate runs from 0 (no effect) to 255 (full strength); values outside are
// taken as the nearer end. Every operation clips its rectangle to both
// surfaces and does nothing for a null surface, a surface that is not the
// host's, or an empty or negative size: whatever the arguments, nothing is
// read or written outside a surface. Surfaces hold straight (not
// premultiplied) colour; see host/surface.h.
//
//   BlendRect     source over destination, weighted by its alpha and rate
//   BlendRectAlt  source added to destination (light), weighted the same way
//   CopyRect      colour and alpha copied unchanged
//   FilterRect    alpha of a rectangle faded in place: alpha x rate / 255
//   DrawRect      source over destination, weighted by its alpha only
//   MixRect       destination colour multiplied by the source colour mixed
//                 with white by rate: white, or rate 0, leaves it unchanged.
//                 The source's alpha is not used, and the destination keeps
//                 its own.
#pragma once

#include <cstdint>
#include <functional>

#include "host/host_api.h"
#include "host/surface.h"
#include "contract/host_interfaces.h"

namespace velora::host {

inline constexpr std::int32_t kFullRate = 255;

// What an operation returns: done (possibly nothing, after clipping) or
// refused (a surface missing or not the host's).
inline constexpr std::int32_t kDone = 0;
inline constexpr std::int32_t kRefused = -1;

VELORA_HOST_API std::int32_t BlendOver(HostSurface* dest, std::int32_t dx, std::int32_t dy, HostSurface* src,
                                       std::int32_t sx, std::int32_t sy, std::int32_t width,
                                       std::int32_t height, std::int32_t rate);
VELORA_HOST_API std::int32_t BlendAdd(HostSurface* dest, std::int32_t dx, std::int32_t dy, HostSurface* src,
                                      std::int32_t sx, std::int32_t sy, std::int32_t width, std::int32_t height,
                                      std::int32_t rate);
VELORA_HOST_API std::int32_t Copy(HostSurface* dest, std::int32_t dx, std::int32_t dy, HostSurface* src,
                                  std::int32_t sx, std::int32_t sy, std::int32_t width, std::int32_t height);
VELORA_HOST_API std::int32_t Fade(HostSurface* surface, std::int32_t x, std::int32_t y, std::int32_t width,
                                  std::int32_t height, std::int32_t rate);
VELORA_HOST_API std::int32_t Multiply(HostSurface* dest, std::int32_t dx, std::int32_t dy, HostSurface* src,
                                      std::int32_t sx, std::int32_t sy, std::int32_t width, std::int32_t height,
                                      std::int32_t rate);

// One drawing call as the host's interfaces received it, for tracing.
struct DrawCall {
    const char* operation = "";
    const HostSurface* dest = nullptr;  // null when missing or not the host's
    const HostSurface* src = nullptr;   // likewise; always null for FilterRect
    std::int32_t dx = 0, dy = 0, sx = 0, sy = 0, width = 0, height = 0;
    bool hasRate = false;
    std::int32_t rate = 0;
    std::int32_t result = kDone;
};
using DrawObserver = std::function<void(const DrawCall&)>;

// Every call through IGraphBlend and IGraphFilter is shown to the observer
// after it ran; an empty observer stops it. Process-wide, one at a time.
VELORA_HOST_API void SetDrawObserver(DrawObserver observer);

class VELORA_HOST_API HostGraphBlend final : public IGraphBlend {
public:
    std::int32_t VELORA_METHOD BlendRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                         std::int32_t sx, std::int32_t sy, std::int32_t width,
                                         std::int32_t height, std::int32_t rate) override;
    std::int32_t VELORA_METHOD BlendRectAlt(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                            std::int32_t sx, std::int32_t sy, std::int32_t width,
                                            std::int32_t height, std::int32_t rate) override;
};

class VELORA_HOST_API HostGraphFilter final : public IGraphFilter {
public:
    std::int32_t VELORA_METHOD CopyRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                        std::int32_t sx, std::int32_t sy, std::int32_t width,
                                        std::int32_t height) override;
    std::int32_t VELORA_METHOD DrawRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                        std::int32_t sx, std::int32_t sy, std::int32_t width,
                                        std::int32_t height) override;
    std::int32_t VELORA_METHOD FilterRect(ISurface* surface, std::int32_t x, std::int32_t y, std::int32_t width,
                                          std::int32_t height, std::int32_t rate) override;
    std::int32_t VELORA_METHOD MixRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                       std::int32_t sx, std::int32_t sy, std::int32_t width,
                                       std::int32_t height, std::int32_t rate) override;
};

}  // namespace velora::host
