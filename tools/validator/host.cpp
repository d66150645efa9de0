#include "validator/host.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "validator/controls.h"

namespace velora::validator {
namespace {

Host* activeHost = nullptr;

// Sprites hold pixels up to this size, scratch surfaces up to the larger one;
// beyond, a surface answers null for every address, as one that has no such
// pixel must.
constexpr std::int32_t kSpritePixelLimit = 16;
constexpr std::int32_t kScratchPixelLimit = 64;
// Scratch surfaces kept after their call, so that a late use is caught as a
// fault rather than as a crash.
constexpr std::size_t kScratchGraveyard = 64;

std::uint32_t Mix(std::uint32_t value)
{
    value ^= value >> 16;
    value *= 0x7FEB352Du;
    value ^= value >> 15;
    value *= 0x846CA68Bu;
    value ^= value >> 16;
    return value;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

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

class Host::Bank final : public ISpriteBank {
public:
    explicit Bank(Host& host) : host_(host) {}
    ISurface* VELORA_METHOD GetSprite(std::int32_t number) override
    {
        InHost inHost;
        return host_.GetSprite(number);
    }

private:
    Host& host_;
};

class Host::Factory final : public ISurfaceFactory {
public:
    explicit Factory(Host& host) : host_(host) {}
    ISurface* VELORA_METHOD CreateSurface(std::int32_t width, std::int32_t height, std::int32_t format) override
    {
        InHost inHost;
        return host_.CreateSurface(width, height, format);
    }

private:
    Host& host_;
};

class Host::Blend final : public IGraphBlend {
public:
    explicit Blend(Host& host) : host_(host) {}
    std::int32_t VELORA_METHOD BlendRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                         std::int32_t sx, std::int32_t sy, std::int32_t w, std::int32_t h,
                                         std::int32_t rate) override
    {
        InHost inHost;
        host_.Blended("BlendRect", false, dest, dx, dy, src, sx, sy, w, h, rate);
        return 0;
    }
    std::int32_t VELORA_METHOD BlendRectAlt(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                            std::int32_t sx, std::int32_t sy, std::int32_t w, std::int32_t h,
                                            std::int32_t rate) override
    {
        InHost inHost;
        host_.Blended("BlendRectAlt", true, dest, dx, dy, src, sx, sy, w, h, rate);
        return 0;
    }

private:
    Host& host_;
};

class Host::Filter final : public IGraphFilter {
public:
    explicit Filter(Host& host) : host_(host) {}
    std::int32_t VELORA_METHOD CopyRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                        std::int32_t sx, std::int32_t sy, std::int32_t w, std::int32_t h) override
    {
        InHost inHost;
        host_.Copied(dest, dx, dy, src, sx, sy, w, h);
        return 0;
    }
    std::int32_t VELORA_METHOD DrawRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                        std::int32_t sx, std::int32_t sy, std::int32_t w, std::int32_t h) override
    {
        InHost inHost;
        host_.DrawnFromScratch("DrawRect", false, dest, dx, dy, src, sx, sy, w, h, 0);
        return 0;
    }
    std::int32_t VELORA_METHOD FilterRect(ISurface* surface, std::int32_t x, std::int32_t y, std::int32_t w,
                                          std::int32_t h, std::int32_t rate) override
    {
        InHost inHost;
        host_.Filtered(surface, x, y, w, h, rate);
        return 0;
    }
    std::int32_t VELORA_METHOD MixRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                       std::int32_t sx, std::int32_t sy, std::int32_t w, std::int32_t h,
                                       std::int32_t rate) override
    {
        InHost inHost;
        host_.DrawnFromScratch("MixRect", true, dest, dx, dy, src, sx, sy, w, h, rate);
        return 0;
    }

private:
    Host& host_;
};

class Host::Reporter final : public IDrawHost {
public:
    explicit Reporter(Host& host) : host_(host) {}
    std::int32_t VELORA_METHOD ReportRect(std::int32_t handle, std::int32_t x, std::int32_t y, std::int32_t w,
                                          std::int32_t h) override
    {
        InHost inHost;
        return host_.Report(handle, x, y, w, h);
    }

private:
    Host& host_;
};

// --- the host ------------------------------------------------------------------

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

ISurface* Host::Destination(int which)
{
    return which >= 0 && which < kDestinations ? destinations_[static_cast<std::size_t>(which)].get() : nullptr;
}

void Host::ConfigureSprites(Choices& choices, bool hostile)
{
    spritePool_.clear();
    spriteSalt_ = choices.Bits32();
    missingPercent_ = 0;
    if (!hostile) {
        static constexpr std::int32_t kSizes[] = {32, 16, 8, 12, 1, 24, 5};
        const std::int32_t S = choices.From(kSizes);
        spritePool_.push_back(std::make_unique<Surface>(*this, SurfaceRole::Sprite, S, S, 0, false, choices.Bits32(),
                                                        kSpritePixelLimit));
        return;
    }
    static constexpr std::int32_t kBaseSizes[] = {32, 16, 8, 3, 1, 0, -1, -32, 33, 65536, 1 << 20, INT_MAX, INT_MIN};
    static constexpr std::uint32_t kMissing[] = {0, 0, 0, 5, 30, 100};
    missingPercent_ = choices.From(kMissing);
    const std::int32_t S = choices.From(kBaseSizes);
    const std::uint32_t count = 1 + choices.Below(6);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::int32_t w = S;
        std::int32_t h = S;
        switch (choices.Below(9)) {
        case 0: break;  // the base sprite's size
        case 1: w = S / 2; h = S / 2; break;  // smaller
        case 2: w = static_cast<std::int32_t>(static_cast<std::uint32_t>(S) - 1u); h = S; break;
        case 3:  // larger, or wrapped round to negative
            w = S / 2 + 20;
            h = static_cast<std::int32_t>(static_cast<std::uint32_t>(S) * 2u);
            break;
        case 4: w = 0; h = S; break;
        case 5: w = -5; h = -5; break;
        case 6: w = INT_MAX; h = INT_MAX; break;
        case 7: w = 1 << 20; h = 7; break;
        default:
            w = static_cast<std::int32_t>(choices.Below(80)) - 8;
            h = static_cast<std::int32_t>(choices.Below(80)) - 8;
            break;
        }
        const bool nullAddresses = choices.OneIn(4);
        spritePool_.push_back(std::make_unique<Surface>(*this, SurfaceRole::Sprite, w, h, 0, nullAddresses,
                                                        choices.Bits32(), kSpritePixelLimit));
    }
}

Surface* Host::SpriteFor(std::int32_t number)
{
    const std::uint32_t hash = Mix(static_cast<std::uint32_t>(number) ^ spriteSalt_);
    if (hash % 100u < missingPercent_) {
        return nullptr;
    }
    return spritePool_[(hash >> 8) % spritePool_.size()].get();
}

void Host::BeginCall(CallKind kind, const char* name)
{
    kind_ = kind;
    callName_ = name;
    ++callIndex_;
    hostCalls_ = 0;
    reports_ = 0;
    unstartedReported_ = false;
    baseFetched_ = false;
    base_ = nullptr;
    S_ = 0;
    particleFetches_ = 0;
    current_ = nullptr;
    stage_ = Stage::None;
    copiedWidth_ = copiedHeight_ = 0;
    drawn_ = 0;
    scratchMade_ = 0;
    createAsked_ = 0;
    factoryCalls_.clear();
    if (kind != CallKind::Draw) {
        draw_ = DrawExpectation{};
    } else if (auto* destination = static_cast<Surface*>(draw_.destination)) {
        destination->handedOutIn = callIndex_;
    }
    if (kind != CallKind::Update) {
        reportExpected_ = false;
    }
}

void Host::ExpectReport(bool expected, bool handleKnown, std::int32_t handle)
{
    reportExpected_ = expected;
    reportHandleKnown_ = handleKnown;
    reportHandle_ = handle;
}

void Host::EndCall()
{
    totals_.factoryCalls += factoryCalls_.size();
    totals_.reports += static_cast<std::uint64_t>(reports_);
    if (kind_ == CallKind::Draw && draw_.started) {
        ++totals_.startedDraws;
        ++totals_.startedByMode[draw_.type >= 0 && draw_.type < 4 ? draw_.type : 4];
        totals_.spriteFetches += static_cast<std::uint64_t>(particleFetches_);
        if (draw_.type >= 0 && draw_.type < 4) {
            totals_.drawnByMode[draw_.type] += static_cast<std::uint64_t>(drawn_);
        }
        totals_.scratches += static_cast<std::uint64_t>(scratchMade_);
        if (draw_.hasBank && !baseFetched_) {
            Fault("Draw: a started instance was drawn without fetching its base sprite");
        }
        const bool wellFormed =
            draw_.hasBank && base_ && draw_.spriteCount > 0 && draw_.rotationFrames > 0;
        if (wellFormed ? particleFetches_ != draw_.particles
                       : particleFetches_ != 0 && particleFetches_ != draw_.particles) {
            Fault(Format("Draw: %lld sprites fetched for particles, but the last Start spawned %lld",
                         static_cast<long long>(particleFetches_), static_cast<long long>(draw_.particles)));
        }
    }
    for (const auto& scratch : scratches_) {
        if (scratch->handedOutIn == callIndex_ && !scratch->destroyed) {
            Fault("Draw: the scratch surface was not destroyed in the call that made it");
            scratch->destroyed = true;  // reported once
        }
    }
    if (scratches_.size() > kScratchGraveyard) {
        scratches_.erase(scratches_.begin(),
                         scratches_.begin() + static_cast<std::ptrdiff_t>(scratches_.size() - kScratchGraveyard));
    }
    if (kind_ == CallKind::Update && reports_ != (reportExpected_ ? 1 : 0)) {
        Fault(Format("Update: %d ReportRect calls, expected %d", reports_, reportExpected_ ? 1 : 0));
    }
    kind_ = CallKind::Quiet;
    draw_ = DrawExpectation{};
    reportExpected_ = false;
}

void Host::Fault(const std::string& what)
{
    if (faultCount_ == 0) {
        firstFaultCall_ = CurrentProgress().calls.load();
        firstFaultName_ = CurrentProgress().name.load();
    }
    ++faultCount_;
    if (faults_.size() < 16) {
        faults_.push_back(what);
    }
}

void Host::ClearFaults()
{
    faults_.clear();
    faultCount_ = 0;
}

bool Host::Enter(const char* operation, CallKind allowed)
{
    ++hostCalls_;
    if (kind_ != allowed) {
        Fault(Format("%s: host operation %s made during it", callName_, operation));
        return false;
    }
    if (allowed == CallKind::Draw && !draw_.started) {
        if (!unstartedReported_) {
            unstartedReported_ = true;
            Fault(Format("Draw: host operation %s for a handle without a started instance", operation));
        }
        return false;
    }
    return true;
}

bool Host::Usable(const Surface* surface, const char* operation)
{
    if (surface->handedOutIn != callIndex_) {
        Fault(Format("Draw: %s on a surface not handed over in this call", operation));
        return false;
    }
    if (surface->destroyed) {
        Fault(Format("Draw: %s on a surface after its Destroy", operation));
        return false;
    }
    return true;
}

bool Host::IsLiveScratch(const ISurface* surface) const
{
    for (const auto& scratch : scratches_) {
        if (scratch.get() == surface) {
            return scratch->handedOutIn == callIndex_ && !scratch->destroyed;
        }
    }
    return false;
}

void Host::CheckRect(const char* operation, const char* what, std::int64_t x, std::int64_t y, std::int64_t w,
                     std::int64_t h, std::int64_t limitW, std::int64_t limitH, const char* limitName)
{
    if ((w <= 0 || h <= 0) && std::strcmp(what, "source") == 0) {
        return;  // told once, for the destination
    }
    if (w <= 0 || h <= 0) {
        Fault(Format("Draw: %s with an empty %s rectangle (%lld, %lld, %lld, %lld)", operation, what,
                     static_cast<long long>(x), static_cast<long long>(y), static_cast<long long>(w),
                     static_cast<long long>(h)));
    } else if (x < 0 || y < 0 || x + w > limitW || y + h > limitH) {
        Fault(Format("Draw: %s %s rectangle (%lld, %lld, %lld, %lld) leaves the %lld x %lld %s", operation, what,
                     static_cast<long long>(x), static_cast<long long>(y), static_cast<long long>(w),
                     static_cast<long long>(h), static_cast<long long>(limitW), static_cast<long long>(limitH),
                     limitName));
    }
}

bool Host::CheckMode(const char* operation, bool allowed)
{
    if (!allowed) {
        Fault(Format("Draw: %s in drawing mode %d", operation, draw_.type));
    }
    return allowed;
}

ISurface* Host::GetSprite(std::int32_t number)
{
    Surface* sprite = SpriteFor(number);
    if (!Enter("GetSprite", CallKind::Draw)) {
        return sprite;
    }
    if (!draw_.hasBank) {
        Fault("Draw: the sprite bank was used by an object that was never given it");
    }
    if (!baseFetched_) {
        baseFetched_ = true;
        base_ = sprite;
        S_ = sprite ? sprite->width : 0;
        if (number != draw_.baseSprite) {
            Fault(Format("Draw: first sprite fetched is %d, not the base sprite %d", number, draw_.baseSprite));
        }
    } else {
        ++particleFetches_;
        const std::uint32_t offset = static_cast<std::uint32_t>(number) - static_cast<std::uint32_t>(draw_.baseSprite);
        if (draw_.spriteCount <= 0 || offset >= static_cast<std::uint32_t>(draw_.spriteCount)) {
            Fault(Format("Draw: sprite %d fetched outside the run of %d from %d", number, draw_.spriteCount,
                         draw_.baseSprite));
        }
        current_ = sprite;
        stage_ = Stage::Fetched;
    }
    if (sprite) {
        sprite->handedOutIn = callIndex_;
    }
    return sprite;
}

ISurface* Host::CreateSurface(std::int32_t width, std::int32_t height, std::int32_t format)
{
    if (!Enter("CreateSurface", CallKind::Draw)) {
        return nullptr;
    }
    ++createAsked_;
    CheckMode("CreateSurface", draw_.type == 2 || draw_.type == 3);
    if (createAsked_ > 1) {
        Fault("Draw: more than one scratch surface asked for in one call");
    }
    if (width != S_ || height != S_) {
        Fault(Format("Draw: scratch surface of %d x %d asked for, the base sprite is %d wide", width, height, S_));
    }
    const auto* destination = static_cast<const Surface*>(draw_.destination);
    if (!destination || format != destination->format) {
        Fault(Format("Draw: scratch surface asked for in format %d, not the destination's", format));
    }
    if (factoryRefuses_) {
        return nullptr;
    }
    scratches_.push_back(std::make_unique<Surface>(*this, SurfaceRole::Scratch, width, height, format,
                                                   scratchNullAddresses_, static_cast<std::uint32_t>(callIndex_),
                                                   kScratchPixelLimit));
    scratches_.back()->handedOutIn = callIndex_;
    ++scratchMade_;
    return scratches_.back().get();
}

void Host::Blended(const char* operation, bool alternative, ISurface* dest, std::int32_t dx, std::int32_t dy,
                   ISurface* src, std::int32_t sx, std::int32_t sy, std::int32_t w, std::int32_t h,
                   std::int32_t rate)
{
    if (!Enter(operation, CallKind::Draw)) {
        return;
    }
    CheckMode(operation, draw_.type == (alternative ? 1 : 0));
    if (!dest || dest != draw_.destination) {
        Fault(Format("Draw: %s onto a surface that is not the destination", operation));
    }
    if (!src || src != current_ || stage_ != Stage::Fetched) {
        Fault(Format("Draw: %s of a surface that is not the particle's own sprite", operation));
        return;
    }
    if (!Usable(current_, operation)) {
        return;
    }
    if (rate != draw_.rate) {
        Fault(Format("Draw: %s with rate %d, the host passed %d", operation, rate, draw_.rate));
    }
    CheckRect(operation, "destination", dx, dy, w, h, draw_.width, draw_.height, "field");
    CheckRect(operation, "source", sx, sy, w, h, current_->width, current_->height, "sprite");
    ++drawn_;
    stage_ = Stage::None;
}

void Host::Copied(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src, std::int32_t sx,
                  std::int32_t sy, std::int32_t w, std::int32_t h)
{
    if (!Enter("CopyRect", CallKind::Draw)) {
        return;
    }
    CheckMode("CopyRect", draw_.type == 2 || draw_.type == 3);
    if (!IsLiveScratch(dest)) {
        Fault("Draw: CopyRect into a surface that is not this call's scratch surface");
        return;
    }
    if (!src || src != current_ || stage_ != Stage::Fetched || !Usable(current_, "CopyRect")) {
        Fault("Draw: CopyRect from a surface that is not the particle's own sprite");
        return;
    }
    if (dx != 0 || dy != 0 || sx != 0 || sy != 0) {
        Fault(Format("Draw: CopyRect at (%d, %d) from (%d, %d), not at the corners", dx, dy, sx, sy));
    }
    const auto* scratch = static_cast<const Surface*>(dest);
    CheckRect("CopyRect", "destination", dx, dy, w, h, scratch->width, scratch->height, "scratch surface");
    CheckRect("CopyRect", "source", sx, sy, w, h, current_->width, current_->height, "sprite");
    copiedWidth_ = w;
    copiedHeight_ = h;
    stage_ = Stage::Copied;
}

void Host::Filtered(ISurface* surface, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                    std::int32_t rate)
{
    if (!Enter("FilterRect", CallKind::Draw)) {
        return;
    }
    CheckMode("FilterRect", draw_.type == 2);
    if (!IsLiveScratch(surface) || stage_ != Stage::Copied) {
        Fault("Draw: FilterRect not on the scratch surface right after its CopyRect");
        return;
    }
    if (rate != draw_.rate) {
        Fault(Format("Draw: FilterRect with rate %d, the host passed %d", rate, draw_.rate));
    }
    const auto* scratch = static_cast<const Surface*>(surface);
    CheckRect("FilterRect", "filtered", x, y, w, h, scratch->width, scratch->height, "scratch surface");
    stage_ = Stage::Filtered;
}

void Host::DrawnFromScratch(const char* operation, bool mix, ISurface* dest, std::int32_t dx, std::int32_t dy,
                            ISurface* src, std::int32_t sx, std::int32_t sy, std::int32_t w, std::int32_t h,
                            std::int32_t rate)
{
    if (!Enter(operation, CallKind::Draw)) {
        return;
    }
    CheckMode(operation, draw_.type == (mix ? 3 : 2));
    if (!dest || dest != draw_.destination) {
        Fault(Format("Draw: %s onto a surface that is not the destination", operation));
    }
    if (!IsLiveScratch(src) || stage_ != (mix ? Stage::Copied : Stage::Filtered)) {
        Fault(Format("Draw: %s not from the scratch surface holding this particle's sprite", operation));
        return;
    }
    if (mix && rate != draw_.rate) {
        Fault(Format("Draw: %s with rate %d, the host passed %d", operation, rate, draw_.rate));
    }
    CheckRect(operation, "destination", dx, dy, w, h, draw_.width, draw_.height, "field");
    CheckRect(operation, "source", sx, sy, w, h, copiedWidth_, copiedHeight_, "copy of the sprite");
    ++drawn_;
    stage_ = Stage::None;
}

std::int32_t Host::Report(std::int32_t handle, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h)
{
    if (!Enter("ReportRect", CallKind::Update)) {
        return reportAnswer_;
    }
    ++reports_;
    if (x != 0 || y != 0 || w != 640 || h != 480) {
        Fault(Format("Update: ReportRect(%d, %d, %d, %d), not the rectangle 0, 0, 640, 480", x, y, w, h));
    }
    if (reportHandleKnown_ && handle != reportHandle_) {
        Fault(Format("Update: ReportRect for handle %d, the latest Init was for %d", handle, reportHandle_));
    }
    return reportAnswer_;
}

void Host::SurfaceDestroyed(Surface& surface)
{
    if (!Enter("Destroy", CallKind::Draw)) {
        return;
    }
    if (surface.role != SurfaceRole::Scratch) {
        Fault("Draw: Destroy of a surface the plug-in does not own");
        return;
    }
    if (!Usable(&surface, "Destroy")) {
        return;
    }
    surface.destroyed = true;
}

void Host::AlphaAsked(const Surface& surface, std::int32_t x, std::int32_t y)
{
    if (!Enter("GetAlphaAddress", CallKind::Draw) || !Usable(&surface, "GetAlphaAddress")) {
        return;
    }
    CheckMode("GetAlphaAddress", draw_.type == 3);
    ++totals_.pixelReads;
    if (&surface != current_ || stage_ != Stage::Copied) {
        Fault("Draw: alpha read from a surface that is not the sprite just copied");
    } else if (!surface.Contains(x, y)) {
        Fault(Format("Draw: alpha of (%d, %d) read outside the %d x %d sprite", x, y, surface.width,
                     surface.height));
    }
}

void Host::PixelAsked(const Surface& surface, std::int32_t x, std::int32_t y)
{
    if (!Enter("GetPixelAddress", CallKind::Draw) || !Usable(&surface, "GetPixelAddress")) {
        return;
    }
    CheckMode("GetPixelAddress", draw_.type == 3);
    if (!IsLiveScratch(&surface)) {
        Fault("Draw: pixel written in a surface that is not the scratch surface");
    } else if (!surface.Contains(x, y) || x >= copiedWidth_ || y >= copiedHeight_) {
        Fault(Format("Draw: pixel (%d, %d) asked outside the copied %d x %d", x, y, copiedWidth_, copiedHeight_));
    }
}

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
