// The studio host's module exports answer for whichever host is current, so
// that the plug-in's lookups by name reach the page's host; the frame, its
// background and the sprite sheets are that host's own.
#include "web/studio_host.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "kit/backdrop.h"
#include "kit/surface.h"

namespace velora::web {
namespace {

StudioHost* moduleHost = nullptr;

void* VELORA_CDECL MainSystemGetInterface(const Guid* iid)
{
    return moduleHost ? moduleHost->MainSystemInterface(iid) : nullptr;
}

void* VELORA_CDECL GraphCreateInterface(const Guid* iid)
{
    return moduleHost ? moduleHost->GraphInterface(iid) : nullptr;
}

void* VELORA_CDECL SurfaceFactoryCreateInterface(const Guid* iid)
{
    return moduleHost ? moduleHost->SurfaceFactoryInterface(iid) : nullptr;
}

constexpr HostModuleExport kExports[] = {
    {"MainSystem", "GetInterface", &MainSystemGetInterface},
    {"Graph", "CreateInterface", &GraphCreateInterface},
    {"SurfaceFactory", "CreateInterface", &SurfaceFactoryCreateInterface},
};

bool Is(const Guid* iid, const Guid& wanted) { return iid && GuidEquals(iid, &wanted); }

}  // namespace

StudioHost::StudioHost(std::int32_t frameWidth, std::int32_t frameHeight)
    : frame_(frameWidth, frameHeight), background_(frame_.ByteCount(), 0)
{
    runs_ = AddBuiltInRuns(bank_);
    SetBackground(0x141a3c, 0x6a4c78);
}

void* StudioHost::MainSystemInterface(const Guid* iid)
{
    return Is(iid, IID_MainSystem) ? static_cast<IMainSystem*>(&mainSystem_) : nullptr;
}

void* StudioHost::GraphInterface(const Guid* iid)
{
    if (Is(iid, IID_GraphBlend)) {
        return static_cast<IGraphBlend*>(&graphBlend_);
    }
    if (Is(iid, IID_GraphFilter)) {
        return static_cast<IGraphFilter*>(&graphFilter_);
    }
    return nullptr;
}

void* StudioHost::SurfaceFactoryInterface(const Guid* iid)
{
    return Is(iid, IID_SurfaceFactory) ? static_cast<ISurfaceFactory*>(&surfaceFactory_) : nullptr;
}

void StudioHost::Connect(IDrawPlugin& plugin)
{
    plugin.SetInterface(&IID_DrawHost, static_cast<IDrawHost*>(&drawHost_));
    plugin.SetInterface(&IID_SpriteBank, static_cast<ISpriteBank*>(&bank_));
}

void StudioHost::SetBackground(std::uint32_t top, std::uint32_t bottom)
{
    const std::int32_t width = frame_.Width();
    const std::int32_t height = frame_.Height();
    for (std::int32_t y = 0; y < height; ++y) {
        const double t = height > 1 ? static_cast<double>(y) / (height - 1) : 0.0;
        std::uint8_t colour[4] = {0, 0, 0, 255};
        for (int c = 0; c < 3; ++c) {
            const int shift = 16 - 8 * c;
            const double a = (top >> shift) & 0xFFu;
            const double b = (bottom >> shift) & 0xFFu;
            colour[c] = static_cast<std::uint8_t>(a + (b - a) * t + 0.5);
        }
        std::uint8_t* row = background_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4u;
        for (std::int32_t x = 0; x < width; ++x) {
            std::memcpy(row + static_cast<std::size_t>(x) * 4u, colour, 4);
        }
    }
}

bool StudioHost::SetBackgroundPicture(const std::uint8_t* rgba, std::int32_t width, std::int32_t height)
{
    if (!rgba || width <= 0 || height <= 0 || !kit::Surface::SizeAllowed(width, height)) {
        return false;
    }
    try {
        // Premultiplied, as the previewer's loaded picture is.
        const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4u;
        std::vector<std::uint8_t> picture(rgba, rgba + bytes);
        kit::Premultiply(picture.data(), picture.size() / 4);
        kit::StretchPicture(picture.data(), width, height, background_.data(), frame_.Width(), frame_.Height());
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void StudioHost::BeginFrame()
{
    std::copy(background_.begin(), background_.end(), frame_.Bytes());
}

std::int32_t StudioHost::DrawLayer(IDrawPlugin& plugin, std::int32_t handle, std::int32_t rate)
{
    tally_.drawingCalls = 0;
    // The six words between the destination and the rate mean nothing to Draw.
    plugin.Draw(handle, &frame_, 0, 0, 0, 0, 0, 0, rate);
    return tally_.drawingCalls;
}

SpriteRun StudioHost::LoadSheet(const std::uint8_t* rgba, std::int32_t width, std::int32_t height,
                                std::int32_t size)
{
    return LoadSheetAt(rgba, width, height, size, kSheetBase);
}

SpriteRun StudioHost::LoadSheetAt(const std::uint8_t* rgba, std::int32_t width, std::int32_t height,
                                  std::int32_t size, std::int32_t first)
{
    if (first < kSheetBase) {
        return {"Sprite sheet", first, 0, 1, size};
    }
    SpriteRun run = AddSheet(bank_, rgba, width, height, size, first);
    if (run.count == 0) {
        return run;
    }
    const std::int64_t end = std::int64_t{run.base} + run.count;
    std::erase_if(runs_, [&](const SpriteRun& old) {
        const std::int64_t oldEnd = std::int64_t{old.base} + old.count;
        if (old.base < kSheetBase || (old.base != first && (oldEnd <= run.base || old.base >= end))) {
            return false;
        }
        // The replaced sheet's sprites that the new one did not overwrite
        // are emptied: the bank answers null for them.
        for (std::int64_t n = old.base; n < oldEnd; ++n) {
            if (n < run.base || n >= end) {
                bank_.Put(static_cast<std::int32_t>(n), nullptr);
            }
        }
        return true;
    });
    runs_.push_back(run);
    return run;
}

std::span<const HostModuleExport> HostModuleExports() { return kExports; }

void SetModuleHost(StudioHost* host) { moduleHost = host; }

}  // namespace velora::web
