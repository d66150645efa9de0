// The objects the host hands to the plug-in: its surfaces, and the five
// interfaces, each a thin forwarder into Host (host.h); and the way back
// from the host modules' factories to the active host.
#include "validator/host.h"

#include <cstddef>
#include <type_traits>

#include "validator/clock_and_allocator.h"
#include "validator/host_limits.h"

namespace velora::validator {

using host_limits::Format;
using host_limits::kSpritePixelLimit;
using host_limits::Mix;

namespace {

Host* activeHost = nullptr;

}  // namespace

void SetActiveHost(Host* host) { activeHost = host; }

void* ServeModule(int module, const Guid* iid)
{
    InHost inHost;
    if (!activeHost || module < 0 || module > 2 || !iid) {
        return nullptr;
    }
    return activeHost->Serve(static_cast<Module>(module), iid);
}

// --- surfaces ---------------------------------------------------------------

Surface::Surface(Host& host, SurfaceRole role_, std::int32_t width_, std::int32_t height_,
                 std::int32_t format_, bool nullAddresses_, std::uint32_t alphaSeed, std::int32_t pixelLimit)
    : role(role_), width(width_), height(height_), format(format_), nullAddresses(nullAddresses_), host_(host)
{
    if (nullAddresses || width <= 0 || height <= 0 || width > pixelLimit || height > pixelLimit) {
        return;
    }
    const auto pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    colour_.assign(pixels * 4, 0x80);
    alpha_.resize(pixels);
    std::uint32_t state = alphaSeed;
    for (std::uint8_t& alpha : alpha_) {
        state = Mix(state + 0x9E3779B9u);
        alpha = state % 3 == 0 ? 0 : static_cast<std::uint8_t>(state >> 8);
    }
}

void VELORA_METHOD Surface::Destroy()
{
    InHost inHost;
    host_.SurfaceDestroyed(*this);
}

std::uint8_t* VELORA_METHOD Surface::GetPixelAddress(std::int32_t x, std::int32_t y)
{
    InHost inHost;
    host_.PixelAsked(*this, x, y);
    if (!HasPixels() || !Contains(x, y)) {
        return nullptr;
    }
    return &colour_[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4];
}

std::uint8_t* VELORA_METHOD Surface::GetAlphaAddress(std::int32_t x, std::int32_t y)
{
    InHost inHost;
    host_.AlphaAsked(*this, x, y);
    if (!HasPixels() || !Contains(x, y)) {
        return nullptr;
    }
    return &alpha_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
}

std::int32_t VELORA_METHOD Surface::GetWidth()
{
    InHost inHost;
    if (host_.Enter("GetWidth", CallKind::Draw)) {
        host_.Usable(this, "GetWidth");
    }
    return width;
}

std::int32_t VELORA_METHOD Surface::GetHeight()
{
    InHost inHost;
    if (host_.Enter("GetHeight", CallKind::Draw)) {
        host_.Usable(this, "GetHeight");
    }
    return height;
}

std::int32_t VELORA_METHOD Surface::GetFormat()
{
    InHost inHost;
    if (host_.Enter("GetFormat", CallKind::Draw)) {
        host_.Usable(this, "GetFormat");
    }
    return format;
}

// --- the interfaces, each a thin forwarder into Host -------------------------

// What every forwarder holds: the host it forwards to, and the way to call
// it: as the host (InHost), so that what the host allocates meanwhile is
// not counted as the plug-in's. The drawing operations answer 0.
template <class Interface>
class Forwarder : public Interface {
public:
    explicit Forwarder(Host& host) : host_(host) {}

protected:
    template <class Result, class... Parameters, class... Arguments>
    auto Forward(Result (Host::*operation)(Parameters...), Arguments... arguments)
    {
        InHost inHost;
        if constexpr (std::is_void_v<Result>) {
            (host_.*operation)(arguments...);
            return std::int32_t{0};
        } else {
            return (host_.*operation)(arguments...);
        }
    }

    Host& host_;
};

class Host::Bank final : public Forwarder<ISpriteBank> {
public:
    using Forwarder::Forwarder;
    ISurface* VELORA_METHOD GetSprite(std::int32_t number) override
    {
        return Forward(&Host::GetSprite, number);
    }
};

class Host::Factory final : public Forwarder<ISurfaceFactory> {
public:
    using Forwarder::Forwarder;
    ISurface* VELORA_METHOD CreateSurface(std::int32_t width, std::int32_t height, std::int32_t format) override
    {
        return Forward(&Host::CreateSurface, width, height, format);
    }
};

class Host::Blend final : public Forwarder<IGraphBlend> {
public:
    using Forwarder::Forwarder;
    std::int32_t VELORA_METHOD BlendRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                         std::int32_t sx, std::int32_t sy, std::int32_t w, std::int32_t h,
                                         std::int32_t rate) override
    {
        return Forward(&Host::Drawn, "BlendRect", 0, dest, dx, dy, src, sx, sy, w, h, rate);
    }
    std::int32_t VELORA_METHOD BlendRectAlt(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                            std::int32_t sx, std::int32_t sy, std::int32_t w, std::int32_t h,
                                            std::int32_t rate) override
    {
        return Forward(&Host::Drawn, "BlendRectAlt", 1, dest, dx, dy, src, sx, sy, w, h, rate);
    }
};

class Host::Filter final : public Forwarder<IGraphFilter> {
public:
    using Forwarder::Forwarder;
    std::int32_t VELORA_METHOD CopyRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                        std::int32_t sx, std::int32_t sy, std::int32_t w, std::int32_t h) override
    {
        return Forward(&Host::Copied, dest, dx, dy, src, sx, sy, w, h);
    }
    std::int32_t VELORA_METHOD DrawRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                        std::int32_t sx, std::int32_t sy, std::int32_t w, std::int32_t h) override
    {
        return Forward(&Host::Drawn, "DrawRect", 2, dest, dx, dy, src, sx, sy, w, h, 0);
    }
    std::int32_t VELORA_METHOD FilterRect(ISurface* surface, std::int32_t x, std::int32_t y, std::int32_t w,
                                          std::int32_t h, std::int32_t rate) override
    {
        return Forward(&Host::Filtered, surface, x, y, w, h, rate);
    }
    std::int32_t VELORA_METHOD MixRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                       std::int32_t sx, std::int32_t sy, std::int32_t w, std::int32_t h,
                                       std::int32_t rate) override
    {
        return Forward(&Host::Drawn, "MixRect", 3, dest, dx, dy, src, sx, sy, w, h, rate);
    }
};

class Host::Reporter final : public Forwarder<IDrawHost> {
public:
    using Forwarder::Forwarder;
    std::int32_t VELORA_METHOD ReportRect(std::int32_t handle, std::int32_t x, std::int32_t y, std::int32_t w,
                                          std::int32_t h) override
    {
        return Forward(&Host::Report, handle, x, y, w, h);
    }
};

// --- the host's objects and services ------------------------------------------

Host::Host()
    : bank_(std::make_unique<Bank>(*this)), factory_(std::make_unique<Factory>(*this)),
      blend_(std::make_unique<Blend>(*this)), filter_(std::make_unique<Filter>(*this)),
      reporter_(std::make_unique<Reporter>(*this))
{
    destinations_.push_back(std::make_unique<Surface>(*this, SurfaceRole::Destination, 640, 480, 32, true, 0, 0));
    destinations_.push_back(std::make_unique<Surface>(*this, SurfaceRole::Destination, 0, 0, 16, true, 0, 0));
    destinations_.push_back(std::make_unique<Surface>(*this, SurfaceRole::Destination, -7, -3, -1, true, 0, 0));
    spritePool_.push_back(
        std::make_unique<Surface>(*this, SurfaceRole::Sprite, 32, 32, 0, false, 1, kSpritePixelLimit));
}

Host::~Host()
{
    if (activeHost == this) {
        activeHost = nullptr;
    }
}

ISpriteBank* Host::SpriteBank() { return bank_.get(); }
IDrawHost* Host::DrawHost() { return reporter_.get(); }
IGraphBlend* Host::GraphBlend() { return blend_.get(); }
IGraphFilter* Host::GraphFilter() { return filter_.get(); }
ISurfaceFactory* Host::SurfaceFactory() { return factory_.get(); }
void* Host::MainSystem() { return &mainSystem_; }

void* Host::Serve(Module module, const Guid* iid)
{
    factoryCalls_.emplace_back(module, *iid);
    if (kind_ != CallKind::CreateInterface) {
        Fault(Format("%s: a host module's factory was called", callName_));
    }
    if (ModuleRefuses(module)) {
        return nullptr;
    }
    switch (module) {
    case Module::MainSystem:
        return SameGuid(*iid, IID_MainSystem) ? MainSystem() : nullptr;
    case Module::Graph:
        if (SameGuid(*iid, IID_GraphBlend)) {
            return static_cast<IGraphBlend*>(blend_.get());
        }
        return SameGuid(*iid, IID_GraphFilter) ? static_cast<IGraphFilter*>(filter_.get()) : nullptr;
    case Module::SurfaceFactory:
        return SameGuid(*iid, IID_SurfaceFactory) ? static_cast<ISurfaceFactory*>(factory_.get()) : nullptr;
    }
    return nullptr;
}

}  // namespace velora::validator
