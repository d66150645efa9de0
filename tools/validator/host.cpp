// The host's configuration between calls (the sprite bank's surfaces) and
// its bookkeeping of each call into the plug-in: what the call may do, what
// must hold at its end, and the faults found (host.h). The checks of each
// operation are in host_checks.cpp, the objects handed to the plug-in in
// host_objects.cpp.
#include "validator/host.h"

#include <climits>

#include "validator/clock_and_allocator.h"
#include "validator/host_limits.h"

namespace velora::validator {

using host_limits::Format;
using host_limits::kScratchGraveyard;
using host_limits::kSpritePixelLimit;
using host_limits::Mix;

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

}  // namespace velora::validator
