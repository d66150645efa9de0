// A recording fake of the host engine: surfaces with real pixel and alpha
// storage, a sprite bank, a surface factory, both drawing interfaces and the
// draw host. Every operation appends one line to a shared log, such as
//   "BlendRect@14(dest, 0, 5, sprite3, 6, 0, 26, 32, 128)"
// (name, table position, arguments with surfaces by name; a surface's own
// operations are prefixed with its name, as in "sprite3.GetWidth@4()"), so
// tests can compare whole call sequences. Copies and mixes really move pixels.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "contract/host_interfaces.h"
#include "kit/clip.h"

namespace velora::testing {

class CallLog {
public:
    template <class... Args>
    void Record(const std::string& op, int slot, const Args&... args)
    {
        std::ostringstream line;
        line << op << '@' << slot << '(';
        [[maybe_unused]] const char* separator = "";
        ((line << separator << Render(args), separator = ", "), ...);
        line << ')';
        calls.push_back(line.str());
    }

    // Calls whose text starts with prefix.
    int Count(const std::string& prefix) const
    {
        int n = 0;
        for (const std::string& call : calls) {
            n += call.rfind(prefix, 0) == 0 ? 1 : 0;
        }
        return n;
    }

    std::vector<std::string> calls;

private:
    static std::string Render(std::int32_t value) { return std::to_string(value); }
    static std::string Render(ISurface* surface);
};

// Pixels: four colour bytes (0 to 2 used) and one alpha byte each. A surface
// larger than kMaxPixels holds none: it answers null for every address, as a
// host answers for a pixel it does not have.
class FakeSurface final : public ISurface {
public:
    FakeSurface(CallLog& log, std::string name, std::int32_t width, std::int32_t height,
                std::int32_t format = 0)
        : log_(log), name_(std::move(name)), width_(width), height_(height), format_(format),
          colour_(Area() * 4, 0), alpha_(Area(), 255)
    {
    }

    void VELORA_METHOD Destroy() override
    {
        log_.Record(name_ + ".Destroy", 1);
        destroyed = true;
    }
    std::uint8_t* VELORA_METHOD GetPixelAddress(std::int32_t x, std::int32_t y) override
    {
        log_.Record(name_ + ".GetPixelAddress", 2, x, y);
        return Inside(x, y) && HasPixels() ? &colour_[Index(x, y) * 4] : nullptr;
    }
    std::uint8_t* VELORA_METHOD GetAlphaAddress(std::int32_t x, std::int32_t y) override
    {
        log_.Record(name_ + ".GetAlphaAddress", 3, x, y);
        return Inside(x, y) && HasPixels() ? &alpha_[Index(x, y)] : nullptr;
    }
    std::int32_t VELORA_METHOD GetWidth() override
    {
        log_.Record(name_ + ".GetWidth", 4);
        return width_;
    }
    std::int32_t VELORA_METHOD GetHeight() override
    {
        log_.Record(name_ + ".GetHeight", 5);
        return height_;
    }
    std::int32_t VELORA_METHOD GetFormat() override
    {
        log_.Record(name_ + ".GetFormat", 6);
        return format_;
    }

    // Direct access for tests and for the fake drawing operations (not logged).
    static constexpr std::size_t kMaxPixels = std::size_t{1} << 20;
    const std::string& Name() const { return name_; }
    std::int32_t Width() const { return width_; }
    std::int32_t Height() const { return height_; }
    bool HasPixels() const { return !alpha_.empty(); }
    bool Inside(std::int32_t x, std::int32_t y) const
    {
        return x >= 0 && y >= 0 && x < width_ && y < height_;
    }
    std::uint8_t* Colour(std::int32_t x, std::int32_t y) { return &colour_[Index(x, y) * 4]; }
    std::uint8_t& Alpha(std::int32_t x, std::int32_t y) { return alpha_[Index(x, y)]; }
    void Fill(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t alpha)
    {
        if (!HasPixels()) {
            return;
        }
        for (std::int32_t y = 0; y < height_; ++y) {
            for (std::int32_t x = 0; x < width_; ++x) {
                std::uint8_t* c = Colour(x, y);
                c[0] = b0;
                c[1] = b1;
                c[2] = b2;
                Alpha(x, y) = alpha;
            }
        }
    }

    bool destroyed = false;

private:
    std::size_t Area() const
    {
        const std::size_t area = width_ > 0 && height_ > 0
                                     ? static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_)
                                     : 0;
        return area <= kMaxPixels ? area : 0;
    }
    std::size_t Index(std::int32_t x, std::int32_t y) const
    {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x);
    }

    CallLog& log_;
    std::string name_;
    std::int32_t width_;
    std::int32_t height_;
    std::int32_t format_;
    std::vector<std::uint8_t> colour_;
    std::vector<std::uint8_t> alpha_;
};

inline std::string CallLog::Render(ISurface* surface)
{
    return surface ? static_cast<FakeSurface*>(surface)->Name() : std::string("null");
}

// Copies the colour and alpha of a rectangle, clipped to both surfaces by the
// kit's one clipping rule.
inline void CopyPixels(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src, std::int32_t sx,
                       std::int32_t sy, std::int32_t width, std::int32_t height, bool withAlpha)
{
    auto* d = static_cast<FakeSurface*>(dest);
    auto* s = static_cast<FakeSurface*>(src);
    if (!d || !s || !d->HasPixels() || !s->HasPixels()) {
        return;
    }
    const auto clipped = kit::ClipRect(d->Width(), d->Height(), s->Width(), s->Height(), dx, dy, sx, sy,
                                           width, height);
    if (!clipped) {
        return;
    }
    for (std::int32_t y = 0; y < clipped->height; ++y) {
        for (std::int32_t x = 0; x < clipped->width; ++x) {
            const std::int32_t fromX = clipped->sx + x;
            const std::int32_t fromY = clipped->sy + y;
            const std::int32_t toX = clipped->dx + x;
            const std::int32_t toY = clipped->dy + y;
            const std::uint8_t* from = s->Colour(fromX, fromY);
            std::uint8_t* to = d->Colour(toX, toY);
            to[0] = from[0];
            to[1] = from[1];
            to[2] = from[2];
            if (withAlpha) {
                d->Alpha(toX, toY) = s->Alpha(fromX, fromY);
            }
        }
    }
}

class FakeSpriteBank final : public ISpriteBank {
public:
    explicit FakeSpriteBank(CallLog& log) : log_(log) {}

    ISurface* VELORA_METHOD GetSprite(std::int32_t number) override
    {
        log_.Record("GetSprite", 0, number);
        const auto it = sprites.find(number);
        return it == sprites.end() ? nullptr : it->second.get();
    }

    // Adds sprite `number`, named "sprite<number>".
    FakeSurface& Add(std::int32_t number, std::int32_t width, std::int32_t height)
    {
        auto& slot = sprites[number];
        slot = std::make_unique<FakeSurface>(log_, "sprite" + std::to_string(number), width, height);
        return *slot;
    }
    // Adds sprites first .. first + count - 1, all size x size.
    void AddRun(std::int32_t first, std::int32_t count, std::int32_t size)
    {
        for (std::int32_t i = 0; i < count; ++i) {
            Add(first + i, size, size);
        }
    }

    std::map<std::int32_t, std::unique_ptr<FakeSurface>> sprites;

private:
    CallLog& log_;
};

class FakeSurfaceFactory final : public ISurfaceFactory {
public:
    explicit FakeSurfaceFactory(CallLog& log) : log_(log) {}

    ISurface* VELORA_METHOD CreateSurface(std::int32_t width, std::int32_t height, std::int32_t format) override
    {
        log_.Record("CreateSurface", 2, width, height, format);
        if (refuse) {
            return nullptr;
        }
        made.push_back(std::make_unique<FakeSurface>(log_, "scratch" + std::to_string(made.size() + 1),
                                                     width, height, format));
        return made.back().get();
    }

    bool refuse = false;
    std::vector<std::unique_ptr<FakeSurface>> made;

private:
    CallLog& log_;
};

class FakeGraphBlend final : public IGraphBlend {
public:
    explicit FakeGraphBlend(CallLog& log) : log_(log) {}

    std::int32_t VELORA_METHOD BlendRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                         std::int32_t sx, std::int32_t sy, std::int32_t width,
                                         std::int32_t height, std::int32_t rate) override
    {
        log_.Record("BlendRect", 14, dest, dx, dy, src, sx, sy, width, height, rate);
        CopyPixels(dest, dx, dy, src, sx, sy, width, height, false);
        return 0;
    }
    std::int32_t VELORA_METHOD BlendRectAlt(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                            std::int32_t sx, std::int32_t sy, std::int32_t width,
                                            std::int32_t height, std::int32_t rate) override
    {
        log_.Record("BlendRectAlt", 20, dest, dx, dy, src, sx, sy, width, height, rate);
        CopyPixels(dest, dx, dy, src, sx, sy, width, height, false);
        return 0;
    }

private:
    CallLog& log_;
};

class FakeGraphFilter final : public IGraphFilter {
public:
    explicit FakeGraphFilter(CallLog& log) : log_(log) {}

    std::int32_t VELORA_METHOD CopyRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                        std::int32_t sx, std::int32_t sy, std::int32_t width,
                                        std::int32_t height) override
    {
        log_.Record("CopyRect", 4, dest, dx, dy, src, sx, sy, width, height);
        CopyPixels(dest, dx, dy, src, sx, sy, width, height, true);
        return 0;
    }
    std::int32_t VELORA_METHOD DrawRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                        std::int32_t sx, std::int32_t sy, std::int32_t width,
                                        std::int32_t height) override
    {
        log_.Record("DrawRect", 11, dest, dx, dy, src, sx, sy, width, height);
        CopyPixels(dest, dx, dy, src, sx, sy, width, height, false);
        return 0;
    }
    std::int32_t VELORA_METHOD FilterRect(ISurface* surface, std::int32_t x, std::int32_t y, std::int32_t width,
                                          std::int32_t height, std::int32_t rate) override
    {
        log_.Record("FilterRect", 22, surface, x, y, width, height, rate);
        return 0;
    }
    std::int32_t VELORA_METHOD MixRect(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src,
                                       std::int32_t sx, std::int32_t sy, std::int32_t width,
                                       std::int32_t height, std::int32_t rate) override
    {
        log_.Record("MixRect", 37, dest, dx, dy, src, sx, sy, width, height, rate);
        CopyPixels(dest, dx, dy, src, sx, sy, width, height, false);
        return 0;
    }

private:
    CallLog& log_;
};

class FakeDrawHost final : public IDrawHost {
public:
    explicit FakeDrawHost(CallLog& log) : log_(log) {}

    std::int32_t VELORA_METHOD ReportRect(std::int32_t handle, std::int32_t x, std::int32_t y,
                                          std::int32_t width, std::int32_t height) override
    {
        log_.Record("ReportRect", 0, handle, x, y, width, height);
        return answer;
    }

    std::int32_t answer = 0x5EED;

private:
    CallLog& log_;
};

// One whole fake host, wired together.
struct RecordingHost {
    CallLog log;
    FakeSpriteBank spriteBank{log};
    FakeSurfaceFactory surfaceFactory{log};
    FakeGraphBlend graphBlend{log};
    FakeGraphFilter graphFilter{log};
    FakeDrawHost drawHost{log};
    FakeSurface destination{log, "dest", 640, 480, 32};
};

}  // namespace velora::testing
