// Benchmarks of the plug-in's per-frame work, per particle, against a floor.
//
// The host here does nothing: its drawing operations return at once, its
// surfaces answer a fixed size and fixed addresses. What is timed is
// therefore the plug-in's own work: Draw in each mode (which includes one
// motion step), StepParticles alone, and, as the floor, a loop that does only
// the arithmetic no implementation of the step can avoid (one cosine and the
// position updates of each particle, over the same array). After the runs a
// table gives each one's time per particle and its ratio to the floor at the
// same particle count, and the number of heap allocations per Draw.
//
// Goals: Draw in mode 0 at most 2.5 times the floor per particle; no heap
// allocation in a Draw of modes 0 and 1. They are reported, not enforced.
//
// When the reference host is built (VELORA_BENCH_HOST), its pixel work is
// measured too: each of the six drawing operations on one sprite, of 32 x 32
// and of 256 x 256 pixels, against a plain copy of the same bytes (memcpy,
// row by row) in the same run. Goal: BlendRect within 4 times the copy on
// both.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "contract/exports.h"
#include "contract/plugin_access.h"
#include "effect/effect_instance.h"
#include "effect/instance_registry.h"
#include "effect/motion.h"
#include "effect/random.h"
#include "effect/spawn.h"
#include "heap/heap.h"
#include "platform/platform.h"

#ifdef VELORA_BENCH_HOST
#include <cstring>

#include "reference/drawing.h"
#include "reference/surface.h"
#endif

// --- every heap allocation of the process, counted --------------------------

namespace {
std::uint64_t allocations = 0;
}  // namespace

// Every form of operator new comes here (heap.h).
void* velora::heap::Allocate(std::size_t size, std::size_t alignment) noexcept
{
    ++allocations;
    return SystemAllocate(size, alignment);
}

namespace {

using namespace velora;

// --- a host whose operations do nothing -----------------------------------------

std::uint8_t opaque = 255;      // every alpha byte: nothing to whiten
std::uint8_t pixel[4] = {};

class NullSurface final : public ISurface {
public:
    void VELORA_METHOD Destroy() override {}
    std::uint8_t* VELORA_METHOD GetPixelAddress(std::int32_t, std::int32_t) override { return pixel; }
    std::uint8_t* VELORA_METHOD GetAlphaAddress(std::int32_t, std::int32_t) override { return &opaque; }
    std::int32_t VELORA_METHOD GetWidth() override { return 32; }
    std::int32_t VELORA_METHOD GetHeight() override { return 32; }
    std::int32_t VELORA_METHOD GetFormat() override { return 0; }
};

class NullBank final : public ISpriteBank {
public:
    explicit NullBank(ISurface* sprite) : sprite_(sprite) {}
    ISurface* VELORA_METHOD GetSprite(std::int32_t) override { return sprite_; }

private:
    ISurface* sprite_;
};

class NullFactory final : public ISurfaceFactory {
public:
    explicit NullFactory(ISurface* surface) : surface_(surface) {}
    ISurface* VELORA_METHOD CreateSurface(std::int32_t, std::int32_t, std::int32_t) override { return surface_; }

private:
    ISurface* surface_;
};

class NullBlend final : public IGraphBlend {
public:
    std::int32_t VELORA_METHOD BlendRect(ISurface*, std::int32_t, std::int32_t, ISurface*, std::int32_t,
                                         std::int32_t, std::int32_t, std::int32_t, std::int32_t) override
    {
        return 0;
    }
    std::int32_t VELORA_METHOD BlendRectAlt(ISurface*, std::int32_t, std::int32_t, ISurface*, std::int32_t,
                                            std::int32_t, std::int32_t, std::int32_t, std::int32_t) override
    {
        return 0;
    }
};

class NullFilter final : public IGraphFilter {
public:
    std::int32_t VELORA_METHOD CopyRect(ISurface*, std::int32_t, std::int32_t, ISurface*, std::int32_t,
                                        std::int32_t, std::int32_t, std::int32_t) override
    {
        return 0;
    }
    std::int32_t VELORA_METHOD DrawRect(ISurface*, std::int32_t, std::int32_t, ISurface*, std::int32_t,
                                        std::int32_t, std::int32_t, std::int32_t) override
    {
        return 0;
    }
    std::int32_t VELORA_METHOD FilterRect(ISurface*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                          std::int32_t) override
    {
        return 0;
    }
    std::int32_t VELORA_METHOD MixRect(ISurface*, std::int32_t, std::int32_t, ISurface*, std::int32_t,
                                       std::int32_t, std::int32_t, std::int32_t, std::int32_t) override
    {
        return 0;
    }
};

struct NullHost {
    NullSurface sprite;
    NullSurface scratch;
    NullSurface destination;
    NullBank bank{&sprite};
    NullFactory factory{&scratch};
    NullBlend blend;
    NullFilter filter;
};

// The clock advances 8 ms a reading: a motion step of 16 ms, one frame at 60 Hz.
std::uint32_t clockNow = 0;
std::uint32_t NextReading() { return clockNow += 8; }
std::uint32_t FixedTicks() { return 1234; }
platform::ModuleHandle NoModule(const char*) { return nullptr; }
platform::ExportAddress NoExport(platform::ModuleHandle, const char*) { return nullptr; }
void NoMessage(const char*) {}

constexpr std::int32_t kHandle = 1;
constexpr std::int32_t kWidth = 640;
constexpr std::int32_t kHeight = 480;
constexpr std::int32_t kSpriteSize = 32;

// --- the benchmarks ---------------------------------------------------------------

void Draw(benchmark::State& state)
{
    const auto mode = static_cast<std::int32_t>(state.range(0));
    const auto count = static_cast<std::int32_t>(state.range(1));
    Instances().Clear();
    NullHost host;
    IDrawPlugin* plugin = CreateInterface(&IID_DrawPlugin);
    plugin->SetInterface(&IID_SpriteBank, static_cast<ISpriteBank*>(&host.bank));
    DrawPluginFields services = FieldsOf(plugin);  // stands in for the host's modules
    services.graphBlend = &host.blend;
    services.graphFilter = &host.filter;
    services.surfaceFactory = &host.factory;
    SetFields(plugin, services);
    Init(kHandle, kWidth, kHeight, 100, 16, 4);
    SetType(kHandle, mode);
    SetNumof(kHandle, count);
    Start(kHandle);

    IDrawPlugin* object = plugin;  // called through its table, as the host does
    for (auto _ : state) {
        object->Draw(kHandle, &host.destination, 0, 0, 0, 0, 0, 0, 128);
    }
    // Allocations counted over a few more Draw calls, outside the timed loop
    // (the benchmark library may allocate between its own iterations).
    constexpr int kCounted = 20;
    const std::uint64_t before = allocations;
    for (int i = 0; i < kCounted; ++i) {
        object->Draw(kHandle, &host.destination, 0, 0, 0, 0, 0, 0, 128);
    }
    const double perDraw = static_cast<double>(allocations - before) / kCounted;
    state.counters["particles"] = count;
    state.counters["allocations_per_draw"] = perDraw;
    plugin->Destroy();
}

EffectInstance SpawnedInstance(std::int32_t count)
{
    EffectInstance instance;
    instance.width = kWidth;
    instance.height = kHeight;
    instance.numof = count;
    SeedRandom(1);
    SpawnParticles(instance);
    return instance;
}

void Step(benchmark::State& state)
{
    const auto count = static_cast<std::int32_t>(state.range(0));
    EffectInstance instance = SpawnedInstance(count);
    for (auto _ : state) {
        StepParticles(instance, kSpriteSize);
        benchmark::ClobberMemory();
    }
    state.counters["particles"] = count;
}

// The floor: per particle one cosine of its angle, and x, y and the angle
// moved on by a 16 ms step, in double and stored as float like the step.
void Floor(benchmark::State& state)
{
    const auto count = static_cast<std::int32_t>(state.range(0));
    EffectInstance instance = SpawnedInstance(count);
    const double t = static_cast<float>(16 / 10000.0);
    const double sway = 40 * 0.01;
    const double drift = t * 100.0 * 1.0;
    const double fall = kHeight * t * 1.0;
    const double spin = 3.141592653589793 * t * 10.0;
    for (auto _ : state) {
        for (Particle& p : instance.particles) {
            const double c = static_cast<float>(std::cos(static_cast<double>(p.angle)));
            p.x = static_cast<float>(c * sway + (drift + p.x));
            p.y = static_cast<float>(fall * p.fallRate + p.y);
            p.angle = static_cast<float>(spin + p.angle);
        }
        benchmark::ClobberMemory();
    }
    state.counters["particles"] = count;
}

// Five runs of each, of which the report takes the median: the machine may be
// busy with other work.
BENCHMARK(Floor)
    ->ArgName("particles")
    ->Arg(40)->Arg(1000)->Arg(100000)
    ->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(Step)
    ->ArgName("particles")
    ->Arg(40)->Arg(1000)->Arg(100000)
    ->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(Draw)
    ->ArgNames({"mode", "particles"})
    ->ArgsProduct({{0, 1, 2, 3}, {40, 1000, 100000}})
    ->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

#ifdef VELORA_BENCH_HOST
// --- the reference host's pixel work ----------------------------------------------

// A sprite whose alpha runs through every value, so that no operation can
// take a shortcut for opaque or transparent pixels, over a 640 x 480 frame.
struct HostScene {
    explicit HostScene(std::int32_t side)
        : frame(640, 480, "frame"), sprite(side, side, "sprite"), scratch(side, side, "scratch")
    {
        frame.Fill({40, 60, 90, 255});
        for (std::int32_t y = 0; y < side; ++y) {
            for (std::int32_t x = 0; x < side; ++x) {
                sprite.SetPixel(x, y, {static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 5), 200,
                                       static_cast<std::uint8_t>((x * 13 + y * 29) & 255)});
            }
        }
    }
    reference::HostSurface frame;
    reference::HostSurface sprite;
    reference::HostSurface scratch;
    reference::HostGraphBlend blend;
    reference::HostGraphFilter filter;
};

// The kit's six operations, each on one sprite (the filter on a scratch
// surface of the sprite's size), through the reference host's interfaces as
// the plug-in calls them; rate 200 where an operation takes one.
const char* const kOperations[] = {"BlendRect", "BlendRectAlt", "CopyRect", "FilterRect", "DrawRect", "MixRect"};

void HostOperation(benchmark::State& state)
{
    const auto operation = static_cast<int>(state.range(0));
    const auto side = static_cast<std::int32_t>(state.range(1));
    HostScene scene(side);
    for (auto _ : state) {
        switch (operation) {
        case 0: scene.blend.BlendRect(&scene.frame, 100, 100, &scene.sprite, 0, 0, side, side, 200); break;
        case 1: scene.blend.BlendRectAlt(&scene.frame, 100, 100, &scene.sprite, 0, 0, side, side, 200); break;
        case 2: scene.filter.CopyRect(&scene.frame, 100, 100, &scene.sprite, 0, 0, side, side); break;
        case 3: scene.filter.FilterRect(&scene.scratch, 0, 0, side, side, 200); break;
        case 4: scene.filter.DrawRect(&scene.frame, 100, 100, &scene.sprite, 0, 0, side, side); break;
        default: scene.filter.MixRect(&scene.frame, 100, 100, &scene.sprite, 0, 0, side, side, 200); break;
        }
        benchmark::ClobberMemory();
    }
    state.SetLabel(kOperations[operation]);
    state.counters["particles"] = 1;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * side * side * 4);
}

// The floor of pixel work: the sprite's bytes copied into the frame, row by row.
void HostCopy(benchmark::State& state)
{
    const auto side = static_cast<std::int32_t>(state.range(0));
    HostScene scene(side);
    const std::size_t row = static_cast<std::size_t>(side) * 4;
    for (auto _ : state) {
        for (std::int32_t y = 0; y < side; ++y) {
            std::memcpy(scene.frame.Bytes() + static_cast<std::size_t>(100 + y) * scene.frame.Stride() + 400,
                        scene.sprite.Bytes() + static_cast<std::size_t>(y) * row, row);
        }
        benchmark::ClobberMemory();
    }
    state.counters["particles"] = 1;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * side * side * 4);
}

BENCHMARK(HostCopy)
    ->ArgName("side")
    ->Arg(32)->Arg(256)
    ->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(HostOperation)
    ->ArgNames({"operation", "side"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {32, 256}})
    ->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
#endif

// --- the ratio report ---------------------------------------------------------------

struct Result {
    double nsPerParticle = 0;
    double allocationsPerDraw = 0;
};

// Prints as usual and keeps each benchmark's median time per particle (or,
// when run without repetitions, its one time).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.error_occurred || !(single || median)) {
                continue;
            }
            const double particles = run.counters.at("particles");
            Result result;
            // CPU time: the machine may be busy with other work meanwhile.
            result.nsPerParticle = run.GetAdjustedCPUTime() * 1000.0 / particles;  // microseconds -> ns
            const auto found = run.counters.find("allocations_per_draw");
            result.allocationsPerDraw = found == run.counters.end() ? 0.0 : found->second.value;
            results[run.run_name.function_name + "/" + run.run_name.args] = result;
        }
    }

    std::map<std::string, Result> results;
};

void PrintRatios(const RatioReporter& reporter)
{
    const auto& r = reporter.results;
    const int counts[] = {40, 1000, 100000};
    auto find = [&](const std::string& key) -> const Result* {
        const auto it = r.find(key);
        return it == r.end() ? nullptr : &it->second;
    };
    std::printf("\nPer particle, and as a multiple of the floor (one cosine and the position updates):\n");
    std::printf("%-26s %18s %18s %18s\n", "", "40 particles", "1000 particles", "100000 particles");
    auto row = [&](const char* label, const std::string& prefix) {
        std::printf("%-26s", label);
        for (int count : counts) {
            const Result* floor = find("Floor/particles:" + std::to_string(count));
            const Result* result = find(prefix + std::to_string(count));
            if (!floor || !result) {
                std::printf(" %18s", "-");
                continue;
            }
            std::printf(" %8.2f ns %5.2fx", result->nsPerParticle, result->nsPerParticle / floor->nsPerParticle);
        }
        std::printf("\n");
    };
    row("floor", "Floor/particles:");
    row("StepParticles", "Step/particles:");
    for (int mode = 0; mode < 4; ++mode) {
        const std::string label = "Draw, mode " + std::to_string(mode) + ", null host";
        row(label.c_str(), "Draw/mode:" + std::to_string(mode) + "/particles:");
    }

    double worst = 0;
    for (int count : counts) {
        const Result* floor = find("Floor/particles:" + std::to_string(count));
        const Result* draw = find("Draw/mode:0/particles:" + std::to_string(count));
        if (floor && draw) {
            worst = std::max(worst, draw->nsPerParticle / floor->nsPerParticle);
        }
    }
    std::printf("\nDraw in mode 0 with the null host: at most %.2f times the floor per particle "
                "(goal: at most 2.5) - %s\n",
                worst, worst <= 2.5 ? "goal met" : "goal missed");
    for (int mode : {0, 1}) {
        double most = 0;
        for (int count : counts) {
            if (const Result* draw = find("Draw/mode:" + std::to_string(mode) + "/particles:" + std::to_string(count))) {
                most = std::max(most, draw->allocationsPerDraw);
            }
        }
        std::printf("Heap allocations per Draw in mode %d: %g (goal: none) - %s\n", mode, most,
                    most == 0 ? "goal met" : "goal missed");
    }

    const Result* copies[] = {find("HostCopy/side:32"), find("HostCopy/side:256")};
    if (!copies[0] || !copies[1]) {
        std::printf("\nReference host: not built, its pixel work not measured.\n");
        return;
    }
    std::printf("\nReference host, each operation on one sprite, as a multiple of a row-by-row copy of the "
                "same bytes (memcpy, measured in the same run):\n");
    std::printf("%-28s %22s %22s\n", "", "32 x 32 sprite", "256 x 256 sprite");
    std::printf("%-28s", "memcpy, row by row");
    for (const Result* copy : copies) {
        std::printf(" %11.1f ns  1.00x", copy->nsPerParticle);
    }
    std::printf("\n");
    double blendWorst = 0;
    for (int operation = 0; operation < 6; ++operation) {
        std::printf("%-28s", kOperations[operation]);
        for (int i = 0; i < 2; ++i) {
            const Result* pixels =
                find("HostOperation/operation:" + std::to_string(operation) + "/side:" + (i == 0 ? "32" : "256"));
            if (!pixels) {
                std::printf(" %22s", "-");
                continue;
            }
            const double ratio = pixels->nsPerParticle / copies[i]->nsPerParticle;
            if (operation == 0) {
                blendWorst = std::max(blendWorst, ratio);
            }
            std::printf(" %11.1f ns %5.2fx", pixels->nsPerParticle, ratio);
        }
        std::printf("\n");
    }
    std::printf("\nReference host's BlendRect: at most %.2f times the copy on both sprites (goal: within 4) - %s\n",
                blendWorst, blendWorst <= 4.0 ? "goal met" : "goal missed");
}

}  // namespace

int main(int argc, char** argv)
{
    platform::testing::OverrideMultimediaTime(&NextReading);
    platform::testing::OverrideTickCount(&FixedTicks);
    platform::testing::OverrideModuleLookup(&NoModule, &NoExport);
    platform::testing::OverrideDebugOutput(&NoMessage);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter);
    benchmark::Shutdown();
    return 0;
}
