// The reference host's services, as its three modules hand them out, and
// the host objects the embedding program (the previewer) supplies itself.
//
// MainSystem.so answers IID_MainSystem through GetInterface; Graph.so answers
// IID_GraphBlend and IID_GraphFilter and SurfaceFactory.so IID_SurfaceFactory
// through CreateInterface. Each answers null for any other GUID and for
// none. The services are process-wide objects of this library, so a surface
// made through one module is drawn by the others.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "reference/host_api.h"
#include "reference/surface.h"
#include "contract/guid.h"
#include "contract/host_interfaces.h"

namespace velora::reference {

VELORA_REFERENCE_API void* QueryMainSystem(const Guid* iid);
VELORA_REFERENCE_API void* QueryGraph(const Guid* iid);
VELORA_REFERENCE_API void* QuerySurfaceFactory(const Guid* iid);

// The engine's main system: handed out, never called.
class VELORA_REFERENCE_API HostMainSystem final : public IMainSystem {
public:
    const char* Name() const { return "DrawVelora reference host"; }
};

// Makes scratch surfaces in the host's one format, whatever format is asked
// for. A size it cannot make (negative, too large, out of memory) gives null.
class VELORA_REFERENCE_API HostSurfaceFactory final : public ISurfaceFactory {
public:
    ISurface* VELORA_METHOD CreateSurface(std::int32_t width, std::int32_t height, std::int32_t format) override;
};

// A run of numbered sprites: sprite number first + i is the i-th added.
class VELORA_REFERENCE_API HostSpriteBank final : public ISpriteBank {
public:
    explicit HostSpriteBank(std::int32_t first = 0) : first_(first) {}

    // Null for a number outside the run.
    ISurface* VELORA_METHOD GetSprite(std::int32_t number) override;

    // Takes the sprite and names it after its number ("sprite7").
    void Add(std::unique_ptr<HostSurface> sprite);
    std::int32_t First() const { return first_; }
    std::int32_t Count() const { return static_cast<std::int32_t>(sprites_.size()); }
    HostSurface& At(std::int32_t index) { return *sprites_.at(static_cast<std::size_t>(index)); }

private:
    std::int32_t first_;
    std::vector<std::unique_ptr<HostSurface>> sprites_;
};

// The drawing side's host object: ReportRect logs what it receives and keeps it.
class VELORA_REFERENCE_API HostDrawHost final : public IDrawHost {
public:
    struct Report {
        std::int32_t handle, x, y, width, height;
        bool operator==(const Report&) const = default;
    };
    using Log = std::function<void(const std::string&)>;

    explicit HostDrawHost(Log log = {}) : log_(std::move(log)) {}

    // Returns 0.
    std::int32_t VELORA_METHOD ReportRect(std::int32_t handle, std::int32_t x, std::int32_t y, std::int32_t width,
                                          std::int32_t height) override;

    const std::vector<Report>& Reports() const { return reports_; }

private:
    Log log_;
    std::vector<Report> reports_;
};

}  // namespace velora::reference
