// The reference host's surfaces: kit surfaces (hosts/kit/surface.h: four bytes
// a pixel, red, green, blue, alpha, colour premultiplied) with a name for
// the trace and a register of the surfaces alive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "reference/host_api.h"
#include "contract/host_interfaces.h"
#include "kit/surface.h"

namespace velora::reference {

// The only pixel format the host has; GetFormat answers it and
// CreateSurface accepts any value.
inline constexpr std::int32_t kSurfaceFormat = kit::Surface::kFormat;

// Surfaces larger than this are refused (in either direction, and in area).
inline constexpr std::int32_t kMaxSurfaceSide = kit::Surface::kMaxSide;
inline constexpr std::int64_t kMaxSurfacePixels = kit::Surface::kMaxPixels;

using Rgba = kit::Rgba;

class VELORA_REFERENCE_API HostSurface final : public kit::Surface {
public:
    // A transparent black surface. Throws std::invalid_argument for a
    // negative or too large size and std::bad_alloc when memory runs out; a
    // width or height of 0 gives a surface without pixels.
    HostSurface(std::int32_t width, std::int32_t height, std::string label);
    ~HostSurface() override;

    // The host surface behind an interface pointer: null for null, for a
    // surface that is not the host's, and for one that has been ended.
    static HostSurface* FromInterface(ISurface* surface);
    // Host surfaces alive in the process (for leak checks).
    static std::size_t LiveCount();

    // The name the trace shows ("frame", "sprite3", "scratch").
    const std::string& Label() const { return label_; }
    void SetLabel(std::string label) { label_ = std::move(label); }

    // Set by the surface factory: Destroy then ends the surface.
    void MarkFactoryMade() { EndOnDestroy(nullptr, nullptr); }

private:
    std::string label_;
};

}  // namespace velora::reference
