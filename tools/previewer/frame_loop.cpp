// The trace's lines, the replay of the script's calls and the frame loop.
#include "previewer/frame_loop.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "script/script.h"

namespace velora::previewer {

using script::Call;
using script::Layer;
using script::Op;

namespace {

std::string Name(const reference::HostSurface* surface) { return surface ? surface->Label() : "none"; }

}  // namespace

std::unique_ptr<AtomicFile> OpenTrace(const Options& options)
{
    if (options.trace.empty()) {
        return nullptr;
    }
    auto trace = std::make_unique<AtomicFile>(options.trace);
    trace->Write("# every drawing call the host received, frame by frame\n");
    return trace;
}

void TraceCall(AtomicFile& trace, const reference::DrawCall& call)
{
    std::string line;
    line.reserve(128);
    const auto number = [&](const char* key, std::int64_t value) {
        line += key;
        line += std::to_string(value);
    };
    line += call.operation;
    line += " dest=" + Name(call.dest);
    number(" dx=", call.dx);
    number(" dy=", call.dy);
    if (call.src) {
        line += " src=" + Name(call.src);
        number(" sx=", call.sx);
        number(" sy=", call.sy);
    }
    number(" w=", call.width);
    number(" h=", call.height);
    if (call.hasRate) {
        number(" rate=", call.rate);
    }
    line += call.result == reference::kDone ? "\n" : " refused\n";
    trace.Write(line);
}

void ReplayScript(const Plan& plan, const PluginLibrary& library, const Options& options, std::uint32_t seed)
{
    const auto origin = [&] {
        if (options.realtime) {
            UseSystemClock();
        } else {
            SetFixedClock(kEffectOrigin);
        }
    };
    for (const Call& call : plan.script.calls) {
        switch (call.op) {
        case Op::Init:
            SetFixedClock(seed);
            library.Init(call.handle, call.args[0], call.args[1], call.args[2], call.args[3], call.args[4]);
            origin();
            break;
        case Op::SetType: library.SetType(call.handle, call.args[0]); break;
        case Op::SetNumof: library.SetNumof(call.handle, call.args[0]); break;
        case Op::SetMaxAmp: library.SetMaxAmp(call.handle, call.args[0]); break;
        case Op::SetXSpeed: library.SetXSpeed(call.handle, call.speed); break;
        case Op::SetYSpeed: library.SetYSpeed(call.handle, call.speed); break;
        case Op::Start:
            origin();
            library.Start(call.handle);
            break;
        case Op::Release: library.Release(call.handle); break;
        }
    }
    origin();
}

std::int32_t FrameLoop::Capture(FrameSink& sink)
{
    capturing_ = true;
    const std::int64_t intervalMs = std::max<std::int64_t>(1, FrameTime(1, options_.fps));
    double firstDrawn = 0.0;
    std::int32_t lastStamp = -1;
    for (std::int32_t frameIndex = 0; frameIndex < summary_.plannedFrames; ++frameIndex) {
        if (Stopped()) {
            summary_.interrupted = true;
            break;
        }
        if (trace_) {
            trace_->Write("frame " + std::to_string(frameIndex) + "\n");
        }
        const std::int64_t due = WarmupMs() + FrameTime(frameIndex + 1, options_.fps);
        const double drawn = Draw(due);
        if (traceError_) {
            std::rethrow_exception(traceError_);
        }
        std::int32_t stamp = static_cast<std::int32_t>(FrameTime(frameIndex, options_.fps));
        if (options_.realtime) {
            if (frameIndex == 0) {
                firstDrawn = drawn;
            }
            if (drawn - static_cast<double>(due) > static_cast<double>(intervalMs)) {
                ++summary_.lateFrames;
            }
            // When each frame was drawn, strictly increasing as the encoder wants.
            stamp = static_cast<std::int32_t>(std::max<double>(lastStamp + 1, std::min(drawn - firstDrawn, 1e9)));
        }
        lastDrawn_ = drawn;
        sink.Push(destination_, frameIndex, stamp);
        lastStamp = stamp;
        ++summary_.frames;
        if (reporter_.progress) {
            reporter_.progress(frameIndex + 1, summary_.plannedFrames);
        }
    }
    summary_.wallSeconds = (RealMilliseconds() - wallStart_) / 1000.0;
    return options_.realtime ? lastStamp + static_cast<std::int32_t>(intervalMs)
                             : static_cast<std::int32_t>(FrameTime(summary_.frames, options_.fps));
}

double FrameLoop::Draw(std::int64_t due)
{
    if (options_.realtime) {
        const double wait = wallStart_ + static_cast<double>(due) - RealMilliseconds();
        if (wait > 0.0) {
            std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(wait));
        }
    } else {
        SetFixedClock(kEffectOrigin + static_cast<std::uint64_t>(due));
    }
    reference::Copy(&destination_, 0, 0, &background_, 0, 0, plan_.width, plan_.height);
    const double drawn = RealMilliseconds();
    for (const Layer& layer : plan_.script.layers) {
        if (capturing_ && trace_) {
            trace_->Write("draw handle " + std::to_string(layer.handle) + " rate " + std::to_string(layer.rate) +
                          "\n");
        }
        plugin_->Draw(layer.handle, &destination_, 0, 0, 0, 0, 0, 0, layer.rate);
    }
    return drawn - wallStart_;
}

}  // namespace velora::previewer
