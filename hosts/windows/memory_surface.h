// A kit surface (hosts/kit/surface.h) for the test host's sprites and
// destination: it reports the format the host gives it and announces its
// Destroy through OutputDebugStringA; the host keeps owning it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "kit/surface.h"

namespace host_module {

class MemorySurface final : public velora::kit::Surface {
public:
    MemorySurface(std::int32_t width, std::int32_t height, std::int32_t format, const char* destroyTrace)
        : Surface(width, height), format_(format), destroyTrace_(destroyTrace)
    {
    }

    void VELORA_METHOD Destroy() override { OutputDebugStringA(destroyTrace_); }
    std::int32_t VELORA_METHOD GetFormat() override { return format_; }

private:
    std::int32_t format_;
    const char* destroyTrace_;
};

}  // namespace host_module
