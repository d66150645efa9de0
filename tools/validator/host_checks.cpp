// The host's checks of each operation the plug-in makes on it while a call
// runs (host.h): sprite fetches, the scratch surface, the drawing operations
// of each mode, pixel and alpha addresses, ReportRect.
#include "validator/host.h"

#include <cstring>

#include "validator/host_limits.h"

namespace velora::validator {

using host_limits::Format;
using host_limits::kScratchPixelLimit;

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

void Host::CheckRate(const char* operation, std::int32_t rate)
{
    if (rate != draw_.rate) {
        Fault(Format("Draw: %s with rate %d, the host passed %d", operation, rate, draw_.rate));
    }
}

void Host::Drawn(const char* operation, std::int32_t mode, ISurface* dest, std::int32_t dx, std::int32_t dy,
                 ISurface* src, std::int32_t sx, std::int32_t sy, std::int32_t w, std::int32_t h, std::int32_t rate)
{
    if (!Enter(operation, CallKind::Draw)) {
        return;
    }
    CheckMode(operation, draw_.type == mode);
    if (!dest || dest != draw_.destination) {
        Fault(Format("Draw: %s onto a surface that is not the destination", operation));
    }
    // Modes 0 and 1 draw the particle's sprite itself, modes 2 and 3 the
    // scratch surface holding its copy (filtered first in mode 2).
    const bool fromSprite = mode < 2;
    if (fromSprite) {
        if (!src || src != current_ || stage_ != Stage::Fetched) {
            Fault(Format("Draw: %s of a surface that is not the particle's own sprite", operation));
            return;
        }
        if (!Usable(current_, operation)) {
            return;
        }
    } else if (!IsLiveScratch(src) || stage_ != (mode == 3 ? Stage::Copied : Stage::Filtered)) {
        Fault(Format("Draw: %s not from the scratch surface holding this particle's sprite", operation));
        return;
    }
    if (mode != 2) {  // DrawRect takes no rate
        CheckRate(operation, rate);
    }
    CheckRect(operation, "destination", dx, dy, w, h, draw_.width, draw_.height, "field");
    if (fromSprite) {
        CheckRect(operation, "source", sx, sy, w, h, current_->width, current_->height, "sprite");
    } else {
        CheckRect(operation, "source", sx, sy, w, h, copiedWidth_, copiedHeight_, "copy of the sprite");
    }
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
    CheckRate("FilterRect", rate);
    const auto* scratch = static_cast<const Surface*>(surface);
    CheckRect("FilterRect", "filtered", x, y, w, h, scratch->width, scratch->height, "scratch surface");
    stage_ = Stage::Filtered;
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

}  // namespace velora::validator
