// The tests' one host double: the kit's surfaces, sprite bank and drawing
// interfaces, with every call the plug-in makes appended to a shared log,
// such as
//   "BlendRect@14(dest, 0, 5, sprite3, 6, 0, 26, 32, 128)"
// (name, table position, arguments with surfaces by name; a surface's own
// operations are prefixed with its name, as in "sprite3.GetWidth@4()"), so
// tests can compare whole call sequences. The drawing is the kit's own, so
// the pixels are those every host shows; only the log, the names, a factory
// that can refuse and the draw host are the double's.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "contract/host_interfaces.h"
#include "kit/engine_services.h"
#include "kit/surface.h"

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

// A kit surface that logs the plug-in's calls on it and answers the size and
// format it was made with. Its pixels start opaque black. One larger than
// kMaxPixels (or one the kit cannot make: a side of 0 or less, or too long)
// holds none: it answers null for every address, as a host answers for a
// pixel it does not have, and the drawing operations leave it alone. The
// limit is far below the kit's, so a test can claim a sprite larger than
// anything a surface holds without allocating it.
class RecordingSurface final : public kit::Surface {
public:
    static constexpr std::int64_t kMaxPixels = std::int64_t{1} << 20;

    RecordingSurface(CallLog& log, std::string name, std::int32_t width, std::int32_t height,
                     std::int32_t format = 0)
        : kit::Surface(Holds(width, height) ? width : 0, Holds(width, height) ? height : 0), log_(log),
          name_(std::move(name)), width_(width), height_(height), format_(format)
    {
        Fill({0, 0, 0, 255});
    }

    // Destroy is logged and marks the surface; the test still owns it.
    void VELORA_METHOD Destroy() override
    {
        log_.Record(name_ + ".Destroy", 1);
        destroyed = true;
    }
    std::uint8_t* VELORA_METHOD GetPixelAddress(std::int32_t x, std::int32_t y) override
    {
        log_.Record(name_ + ".GetPixelAddress", 2, x, y);
        return kit::Surface::GetPixelAddress(x, y);
    }
    std::uint8_t* VELORA_METHOD GetAlphaAddress(std::int32_t x, std::int32_t y) override
    {
        log_.Record(name_ + ".GetAlphaAddress", 3, x, y);
        return kit::Surface::GetAlphaAddress(x, y);
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

    const std::string& Name() const { return name_; }
    bool destroyed = false;

private:
    static bool Holds(std::int32_t width, std::int32_t height)
    {
        return width > 0 && height > 0 && std::int64_t{width} * height <= kMaxPixels &&
               kit::Surface::SizeAllowed(width, height);
    }

    CallLog& log_;
    std::string name_;
    std::int32_t width_;
    std::int32_t height_;
    std::int32_t format_;
};

inline std::string CallLog::Render(ISurface* surface)
{
    return surface ? static_cast<RecordingSurface*>(surface)->Name() : std::string("null");
}

// The kit's sprite bank, holding recording surfaces named "sprite<number>".
class RecordingSpriteBank final : public kit::SpriteBank {
public:
    explicit RecordingSpriteBank(CallLog& log) : log_(log) {}

    ISurface* VELORA_METHOD GetSprite(std::int32_t number) override
    {
        log_.Record("GetSprite", 0, number);
        return kit::SpriteBank::GetSprite(number);
    }

    RecordingSurface& Add(std::int32_t number, std::int32_t width, std::int32_t height)
    {
        auto sprite = std::make_unique<RecordingSurface>(log_, "sprite" + std::to_string(number), width, height);
        RecordingSurface& added = *sprite;
        Put(number, std::move(sprite));
        return added;
    }
    // Adds sprites first .. first + count - 1, all size x size.
    void AddRun(std::int32_t first, std::int32_t count, std::int32_t size)
    {
        for (std::int32_t i = 0; i < count; ++i) {
            Add(first + i, size, size);
        }
    }
    // The sprite under number, or null.
    RecordingSurface* Sprite(std::int32_t number) const { return static_cast<RecordingSurface*>(Find(number)); }
    // GetSprite answers null for number from now on.
    void Remove(std::int32_t number) { Put(number, nullptr); }
    void Clear() { RemoveFrom(std::numeric_limits<std::int32_t>::min()); }

private:
    CallLog& log_;
};

// Makes recording surfaces "scratch1", "scratch2", ... of any size and of
// the format asked for, or refuses every request. It keeps them after their
// Destroy, for tests to look into.
class RecordingSurfaceFactory final : public ISurfaceFactory {
public:
    explicit RecordingSurfaceFactory(CallLog& log) : log_(log) {}

    ISurface* VELORA_METHOD CreateSurface(std::int32_t width, std::int32_t height, std::int32_t format) override
    {
        log_.Record("CreateSurface", 2, width, height, format);
        if (refuse) {
            return nullptr;
        }
        made.push_back(std::make_unique<RecordingSurface>(log_, "scratch" + std::to_string(made.size() + 1),
                                                          width, height, format));
        return made.back().get();
    }

    bool refuse = false;
    std::vector<std::unique_ptr<RecordingSurface>> made;

private:
    CallLog& log_;
};

class RecordingDrawHost final : public IDrawHost {
public:
    explicit RecordingDrawHost(CallLog& log) : log_(log) {}

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

// Hooks for the kit's drawing interfaces: each call is logged, after the kit
// drew it, at the operation's table position.
inline kit::GraphHooks LoggingDrawCalls(CallLog& log)
{
    kit::GraphHooks hooks;
    hooks.context = &log;
    hooks.observe = [](const kit::DrawCall& call, void* context) {
        CallLog& calls = *static_cast<CallLog*>(context);
        const std::string_view op = call.operation;
        if (op == "FilterRect") {
            calls.Record(call.operation, 22, call.dest, call.dx, call.dy, call.width, call.height, call.rate);
            return;
        }
        const int slot = op == "BlendRect" ? 14 : op == "BlendRectAlt" ? 20 : op == "CopyRect" ? 4
                       : op == "DrawRect"  ? 11 : 37;  // MixRect
        if (call.hasRate) {
            calls.Record(call.operation, slot, call.dest, call.dx, call.dy, call.src, call.sx, call.sy, call.width,
                         call.height, call.rate);
        } else {
            calls.Record(call.operation, slot, call.dest, call.dx, call.dy, call.src, call.sx, call.sy, call.width,
                         call.height);
        }
    };
    return hooks;
}

// One whole recording host: the kit's services, logged, and a 640 x 480
// destination of format 32.
struct RecordingHost {
    CallLog log;
    RecordingSpriteBank spriteBank{log};
    RecordingSurfaceFactory surfaceFactory{log};
    kit::GraphBlend graphBlend{LoggingDrawCalls(log)};
    kit::GraphFilter graphFilter{LoggingDrawCalls(log)};
    RecordingDrawHost drawHost{log};
    RecordingSurface destination{log, "dest", 640, 480, 32};
};

}  // namespace velora::testing
