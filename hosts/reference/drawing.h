// The reference host's drawing interfaces: the host kit's (hosts/kit/engine_services.h,
// with the meaning of each operation in hosts/kit/pixel_ops.h), accepting only
// the host's own live surfaces and showing each call to a process-wide
// observer (the previewer's trace).
#pragma once

#include <cstdint>
#include <functional>

#include "reference/host_api.h"
#include "reference/surface.h"
#include "kit/engine_services.h"
#include "kit/pixel_ops.h"

namespace velora::reference {

using kit::kFullRate;
// What an operation returns: done (possibly nothing, after clipping) or
// refused (a surface missing or not the host's).
using kit::kDone;
using kit::kRefused;

// Copies a rectangle of src onto dest (CopyRect); refused for a null surface.
VELORA_REFERENCE_API std::int32_t Copy(HostSurface* dest, std::int32_t dx, std::int32_t dy, HostSurface* src,
                                  std::int32_t sx, std::int32_t sy, std::int32_t width, std::int32_t height);

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
VELORA_REFERENCE_API void SetDrawObserver(DrawObserver observer);

// The kit's hooks for the reference host: its surfaces only, the observer.
VELORA_REFERENCE_API kit::GraphHooks HostGraphHooks();

class VELORA_REFERENCE_API HostGraphBlend final : public kit::GraphBlend {
public:
    HostGraphBlend() : GraphBlend(HostGraphHooks()) {}
};

class VELORA_REFERENCE_API HostGraphFilter final : public kit::GraphFilter {
public:
    HostGraphFilter() : GraphFilter(HostGraphHooks()) {}
};

}  // namespace velora::reference
