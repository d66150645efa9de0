// The frames: the script's calls replayed in an instant, then warm-up
// frames drawn and thrown away and the captured ones handed to the outputs,
// each the background with every layer drawn over it in order; and the trace
// of every drawing call the host receives.
#pragma once

#include <cmath>
#include <cstdint>
#include <exception>
#include <memory>

#include "contract/plugin_interfaces.h"
#include "previewer/atomic_file.h"
#include "previewer/effect_clock.h"
#include "previewer/frame_sink.h"
#include "previewer/plan.h"
#include "previewer/plugin_library.h"
#include "reference/drawing.h"
#include "reference/surface.h"

namespace velora::previewer {

// Where effect time starts: any fixed value gives the same frames.
inline constexpr std::uint64_t kEffectOrigin = 1000000;

// The trace, written as the frames are drawn and put in place at the end.
// Null without --trace.
std::unique_ptr<AtomicFile> OpenTrace(const Options& options);

// One line of the trace for each drawing call the host receives.
void TraceCall(AtomicFile& trace, const reference::DrawCall& call);

// The script's calls, run in an instant: every Init reads the seed, every
// Start the effect's origin (or, with --realtime, the real clock).
void ReplayScript(const Plan& plan, const PluginLibrary& library, const Options& options, std::uint32_t seed);

// The frames: warm-up frames drawn and thrown away, then the captured ones,
// each the background with every layer drawn over it in order.
class FrameLoop {
public:
    FrameLoop(const Options& options, const Reporter& reporter, const Plan& plan, IDrawPlugin* plugin,
              reference::HostSurface& background, AtomicFile* trace, Summary& summary, std::exception_ptr& traceError)
        : options_(options), reporter_(reporter), plan_(plan), plugin_(plugin), background_(background),
          trace_(trace), summary_(summary), traceError_(traceError), destination_(plan.width, plan.height, "frame"),
          wallStart_(RealMilliseconds())
    {
    }

    // Warm-up: frames up to warmup seconds of effect time, neither traced nor kept.
    void WarmUp()
    {
        for (std::int64_t j = 1; FrameTime(j, options_.fps) <= WarmupMs() && !Stopped(); ++j) {
            Draw(FrameTime(j, options_.fps));
        }
    }

    // The captured frames, into sink; stops early on Ctrl+C. Answers the
    // effect time, in milliseconds, where the last frame ends.
    std::int32_t Capture(FrameSink& sink);

    bool Capturing() const { return capturing_; }
    // The frame drawn last.
    reference::HostSurface& LastFrame() { return destination_; }
    // Wall milliseconds from the start of the frames to the last one drawn.
    double LastDrawn() const { return lastDrawn_; }

private:
    std::int64_t WarmupMs() const { return static_cast<std::int64_t>(std::llround(options_.warmup * 1000.0)); }
    bool Stopped() const { return reporter_.stopRequested && reporter_.stopRequested(); }

    // One frame at effect time `due` milliseconds after Start; answers when
    // it was drawn, in wall milliseconds from the start of the frames.
    double Draw(std::int64_t due);

    const Options& options_;
    const Reporter& reporter_;
    const Plan& plan_;
    IDrawPlugin* plugin_;
    reference::HostSurface& background_;
    AtomicFile* trace_;
    Summary& summary_;
    std::exception_ptr& traceError_;
    reference::HostSurface destination_;
    const double wallStart_;
    bool capturing_ = false;
    double lastDrawn_ = 0.0;
};

}  // namespace velora::previewer
