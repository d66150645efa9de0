// One long seeded session through the public seams: the control exports and
// the plug-in object's Draw and Update against the recording host, with both
// clocks driven here. Thousands of frames with changing settings, fields,
// sprite sizes and clock steps are folded into a digest after every frame:
// any change in spawning, motion, frame choice, placement, drawing or the
// order of host calls and clock readings changes it. The run uses no
// platform generator or distribution, so every build must reach the same
// digest.
#include <cstdint>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "contract/exports.h"
#include "effect/instance_registry.h"
#include "platform/platform.h"
#include "support/chooser.h"
#include "support/debug_capture.h"
#include "support/fake_modules.h"
#include "support/host_modules.h"
#include "support/motion_digest.h"
#include "support/recording_host.h"

namespace velora {
namespace {

// Both clocks. Every multimedia-clock reading is logged among the host calls
// and moves the clock on by one millisecond, so the time between the two
// readings of a step is real and the readings' place in the call order shows.
struct SessionClock {
    static std::uint32_t Read()
    {
        log->Record("MultimediaTime", 0);
        return now++;
    }
    static std::uint32_t Ticks() { return ticks; }
    static inline testing::CallLog* log = nullptr;
    static inline std::uint32_t now = 0;
    static inline std::uint32_t ticks = 0;
};

struct Digests {
    std::uint64_t particles;  // effect state only
    std::uint64_t all;        // effect state and host calls
    std::map<std::string, int> calls;  // host calls by name, to see what the run covered
};

// Sprite runs: first number, sprites, size (odd, even and one-pixel sizes).
struct Run {
    std::int32_t first, count, size;
};
constexpr Run kRuns[] = {{100, 12, 5}, {200, 9, 3}, {300, 8, 8}, {400, 1, 1}, {500, 6, 7}};
constexpr std::int32_t kHandles[] = {1, 7, -5};
constexpr int kFrames = 3000;

Digests RunSession()
{
    Instances().Clear();
    testing::RecordingHost host;
    testing::HostModules hostModules{host};
    testing::FakeModules modules;
    testing::DebugCapture debug;
    hostModules.LoadInto(modules);
    SessionClock::log = &host.log;
    SessionClock::now = 0xFFFFFFFFu - 60000u;  // wraps during the run
    platform::testing::OverrideMultimediaTime(&SessionClock::Read);
    platform::testing::OverrideTickCount(&SessionClock::Ticks);

    testing::Chooser choose;
    for (const Run& run : kRuns) {
        host.spriteBank.AddRun(run.first, run.count, run.size);
        for (std::int32_t i = 0; i < run.count; ++i) {  // some transparent pixels to whiten
            const std::int32_t x = choose.Range(0, run.size - 1);  // one choice per statement: argument
            const std::int32_t y = choose.Range(0, run.size - 1);  // order differs between compilers
            host.spriteBank.Sprite(run.first + i)->At(x, y)[3] = 0;
        }
    }
    IDrawPlugin* plugin = CreateInterface(&IID_DrawPlugin);
    plugin->SetInterface(&IID_DrawHost, static_cast<IDrawHost*>(&host.drawHost));
    plugin->SetInterface(&IID_SpriteBank, static_cast<ISpriteBank*>(&host.spriteBank));

    const auto init = [&](std::int32_t handle) {
        const Run& run = kRuns[choose.Range(0, 4)];
        SessionClock::ticks = choose.Next();
        const std::int32_t width = choose.Range(1, 700);
        const std::int32_t height = choose.Range(1, 500);
        const std::int32_t count = run.count - choose.Range(0, 1);
        Init(handle, width, height, run.first, count, choose.Range(0, 4));
    };
    for (std::int32_t handle : kHandles) {
        init(handle);
        SetNumof(handle, choose.Range(0, 24));
        Start(handle);
    }

    testing::MotionDigest particles;
    testing::MotionDigest all;
    std::map<std::string, int> counts;
    for (int frame = 0; frame < kFrames; ++frame) {
        const std::int32_t handle = kHandles[choose.Range(0, 2)];
        switch (choose.Range(0, 39)) {
        case 0: Release(handle); init(handle); break;
        case 1: init(handle); break;  // reseeds; the instance stays
        case 2: case 3: Start(handle); break;
        case 4: case 5: SetType(handle, choose.Range(-1, 4)); break;
        case 6: SetNumof(handle, choose.Range(-2, 24)); break;
        case 7: SetMaxAmp(handle, choose.Range(-300, 3000)); break;
        case 8: SetXSpeed(handle, static_cast<float>(choose.Range(-4000, 4000)) / 999.0f); break;
        case 9: SetYSpeed(handle, static_cast<float>(choose.Range(-1000, 6000)) / 1003.0f); break;
        default: break;
        }
        SessionClock::now += choose.Range(0, 99) == 0 ? static_cast<std::uint32_t>(choose.Range(1000, 12000))
                                                      : static_cast<std::uint32_t>(choose.Range(0, 70));
        for (std::int32_t drawn : kHandles) {
            plugin->Draw(drawn, &host.destination, 0, 0, 0, 0, 0, 0, choose.Range(0, 255));
        }
        all.Word(static_cast<std::uint32_t>(plugin->Update()));
        for (const std::string& call : host.log.calls) {
            all.Text(call);
            std::string name = call.substr(0, call.find('@'));  // "scratch12.Destroy" counts as "scratch.Destroy"
            std::erase_if(name, [](char c) { return c >= '0' && c <= '9'; });
            ++counts[name];
        }
        host.log.calls.clear();
        for (std::int32_t folded : kHandles) {
            if (const EffectInstance* instance = Instances().Find(folded)) {
                particles.Instance(*instance);
                all.Instance(*instance);
            }
        }
    }

    plugin->Destroy();
    platform::testing::OverrideMultimediaTime(nullptr);
    platform::testing::OverrideTickCount(nullptr);
    return {particles.Value(), all.Value(), counts};
}

TEST(LongRun, SeededSessionReachesThePinnedDigests)
{
    const Digests digests = RunSession();
    EXPECT_EQ(digests.particles, 0x97624F5ACED50DF0u) << std::hex << digests.particles;
    EXPECT_EQ(digests.all, 0xD703B3EDC8220319u) << std::hex << digests.all;
    EXPECT_EQ(Instances().Size(), 0u);
    // The run reached every drawing mode, the whitening and the scratch surface's end.
    for (const char* name :
         {"BlendRect", "BlendRectAlt", "DrawRect", "MixRect", "scratch.GetPixelAddress", "scratch.Destroy"}) {
        EXPECT_GT(digests.calls.count(name) ? digests.calls.at(name) : 0, 100) << name;
    }
}

}  // namespace
}  // namespace velora
