#include "validator/driver.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>

#include "contract/messages.h"
#include "validator/controls.h"

namespace velora::validator {
namespace {

constexpr std::int32_t kHandles[] = {0, 1, 2, 3, -1, 77, INT_MIN, INT_MAX};

// Field sizes, sprite numbers and counts: ordinary values first, then the
// edges of the int32 range.
constexpr std::int32_t kSizes[] = {640, 480, 320, 200, 16, 1, 0, -1, -640, 100000, INT_MAX, INT_MIN};
constexpr std::int32_t kBaseSprites[] = {0, 100, 7, -5, INT_MAX, INT_MAX - 3, INT_MIN, 1 << 30};
constexpr std::int32_t kSpriteCounts[] = {16, 16, 8, 12, 1, 3, 0, -1, INT_MAX, INT_MIN, 64};
constexpr std::int32_t kRotations[] = {4, 4, 1, 2, 3, 16, 17, 0, -1, INT_MAX, INT_MIN};
constexpr std::int32_t kTypes[] = {0, 1, 2, 3, 0, 1, 2, 3, 4, -1, 5, INT_MAX, INT_MIN};
constexpr std::int32_t kAmplitudes[] = {40, 40, 0, 1, -40, 1000, INT_MAX, INT_MIN, -1};
constexpr std::int32_t kRates[] = {0, 128, 255, 256, -1, INT_MAX, INT_MIN};

std::int32_t PickInt(Choices& c, const std::int32_t* values, std::size_t count, std::int32_t low,
                     std::int32_t high)
{
    const std::uint32_t pick = c.Below(10);
    if (pick < 7) {
        return values[c.Below(static_cast<std::uint32_t>(count))];
    }
    if (pick < 9) {
        return low + static_cast<std::int32_t>(c.Below(static_cast<std::uint32_t>(high - low + 1)));
    }
    return c.AnyInt32();
}

template <std::size_t N>
std::int32_t PickInt(Choices& c, const std::int32_t (&values)[N], std::int32_t low, std::int32_t high)
{
    return PickInt(c, values, N, low, high);
}

float PickFloat(Choices& c)
{
    static const float kFloats[] = {
        1.0f, 0.5f, 0.0f, -0.0f, -1.0f, 2.0f, -3.5f, 100.0f,
        std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
        -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::denorm_min(), FLT_MIN / 4,
        FLT_MIN, FLT_MAX, -FLT_MAX, 1e-30f, 1e30f};
    const std::uint32_t pick = c.Below(10);
    if (pick < 7) {
        return c.From(kFloats);
    }
    if (pick < 9) {
        return static_cast<float>(static_cast<std::int32_t>(c.Below(2001)) - 1000) / 100.0f;
    }
    const std::uint32_t bits = c.Bits32();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::string Text(std::int64_t value) { return std::to_string(value); }

}  // namespace

Driver::Driver(PluginLibrary& plugin, HostModules& modules, Host& host, MessageCapture& capture, Limits limits)
    : plugin_(plugin), modules_(modules), host_(host), capture_(capture), limits_(limits)
{
}

void Driver::Describe(const char* format, ...)
{
    if (!limits_.trace) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vsnprintf(detail_, sizeof detail_, format, args);
    va_end(args);
}

template <class Call>
Driver::Outcome Driver::Run(CallKind kind, const char* name, Call&& call)
{
    ++calls_;
    if (limits_.trace) {
        std::printf("%llu %s(%s)\n", static_cast<unsigned long long>(calls_), name, detail_);
        std::fflush(stdout);
        detail_[0] = '\0';
    }
    Progress& progress = CurrentProgress();
    progress.name = name;
    progress.calls = calls_;
    host_.BeginCall(kind, name);

    ClockControl& clock = Clock();
    AllocationControl& allocation = Allocation();
    const std::uint64_t readsBefore = clock.reads;
    const std::uint64_t allocationsBefore = allocation.pluginAllocations;
    const std::uint64_t failuresBefore = allocation.pluginFailures;
    bool threw = false;

    capture_.Begin();
    clock.active = true;
    allocation.pluginCall = true;
    progress.inCall = true;
    try {
        call();
    } catch (...) {
        threw = true;
    }
    progress.inCall = false;
    allocation.pluginCall = false;
    allocation.failNext = false;
    clock.active = false;
    Outcome outcome;
    outcome.messages = capture_.End();

    host_.EndCall();
    outcome.clockReads = clock.reads - readsBefore;
    outcome.allocations = allocation.pluginAllocations - allocationsBefore;
    outcome.failures = allocation.pluginFailures - failuresBefore;
    if (threw) {
        host_.Fault(std::string(name) + ": an exception crossed the binary interface");
    }
    return outcome;
}

void Driver::Expect(bool condition, const char* call, const std::string& what)
{
    if (!condition) {
        host_.Fault(std::string(call) + ": " + what);
    }
}

void Driver::ExpectMessages(const Outcome& outcome, const char* call, const std::string& expected)
{
    if (outcome.messages != expected) {
        std::string shown = outcome.messages.empty() ? "nothing" : outcome.messages;
        std::replace(shown.begin(), shown.end(), '\n', '|');
        std::string wanted = expected.empty() ? "nothing" : expected;
        std::replace(wanted.begin(), wanted.end(), '\n', '|');
        host_.Fault(std::string(call) + ": wrote \"" + shown + "\" to standard error, expected \"" + wanted + "\"");
    }
}

void Driver::ExpectReads(const Outcome& outcome, const char* call, std::uint64_t reads)
{
    Expect(outcome.clockReads == reads, call,
           "read the clock " + Text(static_cast<std::int64_t>(outcome.clockReads)) + " times, expected " +
               Text(static_cast<std::int64_t>(reads)));
}

std::int32_t Driver::PickHandle(Choices& c)
{
    // Mostly handles that have an instance, so that the calls reach one.
    if (!instances_.empty() && c.Below(4) != 0) {
        auto it = instances_.begin();
        std::advance(it, c.Below(static_cast<std::uint32_t>(instances_.size())));
        return it->first;
    }
    return c.OneIn(20) ? c.AnyInt32() : c.From(kHandles);
}

std::size_t Driver::PickObject(Choices& c)
{
    // Callers make sure there is one.
    return c.Below(static_cast<std::uint32_t>(objects_.size()));
}

void Driver::Step(Choices& choices)
{
    Choices& c = choices;
    ChangeHost(c);
    MoveClock(c);
    if (!setupError_.empty()) {
        return;
    }
    if (!pending_.empty()) {
        const auto [object, wanted] = pending_.front();
        pending_.erase(pending_.begin());
        const auto it = std::find_if(objects_.begin(), objects_.end(),
                                     [object = object](const Object& o) { return o.object == object; });
        if (it != objects_.end()) {
            DoSetInterface(c, static_cast<std::size_t>(it - objects_.begin()), wanted);
            return;
        }
    }
    if (c.OneIn(200)) {
        Allocation().failNext = true;  // for the call about to run
    }
    const std::uint32_t pick = c.Below(1000);
    const bool needsObject = (pick >= 15 && pick < 20) || pick >= 700;
    if (pick < 15 || (needsObject && objects_.empty())) {
        DoCreateInterface(c);
    } else if (pick < 20) {
        DoDestroy(PickObject(c));
    } else if (pick < 80) {
        DoInit(c);
    } else if (pick < 140) {
        DoStart(c);
    } else if (pick < 160) {
        DoRelease(c);
    } else if (pick < 385) {
        DoSetter(c, static_cast<int>((pick - 160) / 45));
    } else if (pick < 700) {
        DoDraw(c);
    } else if (pick < 720) {
        DoRetain(c);
    } else if (pick < 780) {
        DoSetInterface(c, PickObject(c), -1);
    } else if (pick < 830) {
        DoUpdate(c);
    } else {
        DoDraw(c);
    }
}

void Driver::ChangeHost(Choices& c)
{
    if (!c.OneIn(12)) {
        return;
    }
    switch (c.Below(16)) {
    case 0:
    case 1:
    case 2:
        host_.ConfigureSprites(c, c.OneIn(3));
        break;
    case 3:
        host_.SetFactoryRefuses(c.OneIn(6));
        break;
    case 4:
        host_.SetScratchNullAddresses(c.OneIn(6));
        break;
    case 5:
        host_.SetModuleRefuses(static_cast<Module>(c.Below(3)), c.OneIn(8));
        break;
    case 6:
        if (limits_.moduleChanges && c.OneIn(8)) {
            static constexpr HostModules::State kStates[] = {
                HostModules::State::WithFactory, HostModules::State::WithFactory, HostModules::State::WithFactory,
                HostModules::State::WithFactory, HostModules::State::WithFactory, HostModules::State::WithFactory,
                HostModules::State::Unloaded, HostModules::State::WithoutFactory};
            std::string error;
            if (!modules_.Set(static_cast<int>(c.Below(3)), c.From(kStates), error)) {
                setupError_ = error;
            }
        }
        break;
    case 7:
        if (limits_.reloads && c.OneIn(4000)) {
            Reload();
        }
        break;
    default:
        host_.SetReportAnswer(c.AnyInt32());
        break;
    }
}

void Driver::MoveClock(Choices& c)
{
    ClockControl& clock = Clock();
    const std::uint32_t pick = c.Below(1000);
    if (pick < 300) {
        // stalled: no time between two calls
    } else if (pick < 985) {
        clock.nowMs += 1 + c.Below(50);
    } else if (pick < 993) {
        clock.nowMs += 1000 + c.Below(20000);  // a pause
    } else if (pick < 996) {
        clock.nowMs += c.Bits32();  // any jump the 32-bit counter can show
    } else if (pick < 999) {
        // Up to the wrap of the 32-bit counter, or just past it.
        const std::uint64_t wrap = (clock.nowMs | 0xFFFFFFFFull) + 1;
        const std::uint64_t target = wrap - 60 + c.Below(120);
        clock.nowMs = std::max(clock.nowMs, target);
    } else {
        clock.nowMs += 0x80000000ull + c.Below(1000);  // half the counter's range
    }
    const std::uint32_t drift = c.Below(32);
    clock.perReadMs = drift < 26 ? 0 : drift < 31 ? drift - 25 : c.Bits32();
}

void Driver::DoCreateInterface(Choices& c)
{
    Guid iid = IID_DrawPlugin;
    const Guid* argument = &iid;
    std::uint32_t pick = c.Below(20);
    if (objects_.size() >= limits_.maxObjects && (pick < 14 || pick == 19)) {
        pick = 14 + c.Below(5);  // no room for another: a GUID that makes none
    }
    if (pick == 14) {
        argument = nullptr;
    } else if (pick < 18 && pick >= 15) {
        reinterpret_cast<std::uint8_t*>(&iid)[c.Below(16)] ^= static_cast<std::uint8_t>(1u << c.Below(8));
    } else if (pick == 18) {
        static const Guid kOthers[] = {IID_DrawHost, IID_SpriteBank, IID_MainSystem, IID_GraphBlend,
                                       IID_GraphFilter, IID_SurfaceFactory};
        iid = c.From(kOthers);
    }
    const bool ours = argument && SameGuid(iid, IID_DrawPlugin);

    void* object = nullptr;
    Describe("%s", !argument ? "null" : ours ? "IID_DrawPlugin" : "another GUID");
    const Outcome outcome = Run(CallKind::CreateInterface, "CreateInterface",
                                [&] { object = plugin_.CreateInterface(argument); });

    std::string messages;
    std::vector<std::pair<Module, Guid>> factories;
    const bool made = ours && outcome.failures == 0;
    if (!argument) {
        messages = messages::kCreateInterfaceNullGuid;
    } else if (!ours) {
        messages = messages::kCreateInterfaceUnsupportedGuid;
    } else if (made) {
        const std::pair<Module, Guid> services[] = {{Module::MainSystem, IID_MainSystem},
                                                    {Module::Graph, IID_GraphBlend},
                                                    {Module::Graph, IID_GraphFilter},
                                                    {Module::SurfaceFactory, IID_SurfaceFactory}};
        for (const auto& [module, guid] : services) {
            switch (modules_.Get(static_cast<int>(module))) {
            case HostModules::State::Unloaded:
                messages += messages::kModuleNotLoaded;
                break;
            case HostModules::State::WithoutFactory:
                messages += messages::kExportMissing;
                break;
            case HostModules::State::WithFactory:
                factories.emplace_back(module, guid);
                if (host_.ModuleRefuses(module)) {
                    messages += messages::kServiceRefused;
                }
                break;
            }
        }
    }
    ExpectMessages(outcome, "CreateInterface", messages);
    ExpectReads(outcome, "CreateInterface", 0);
    const auto& asked = host_.FactoryCalls();
    bool sameFactories = asked.size() == factories.size();
    for (std::size_t i = 0; sameFactories && i < asked.size(); ++i) {
        sameFactories = asked[i].first == factories[i].first && SameGuid(asked[i].second, factories[i].second);
    }
    Expect(sameFactories, "CreateInterface",
           "asked the host modules' factories " + Text(static_cast<std::int64_t>(asked.size())) +
               " times, not once per loaded module in acquisition order");

    if (made) {
        Expect(object != nullptr, "CreateInterface", "no object for the plug-in's own GUID");
    } else {
        Expect(object == nullptr, "CreateInterface",
               ours ? "an object although its allocation failed" : "an object for a foreign or null GUID");
    }
    if (ours && outcome.failures > 0) {
        current_ = nullptr;  // no storage: no current object any more
    }
    if (!object) {
        return;
    }
    if (std::any_of(objects_.begin(), objects_.end(), [&](const Object& o) { return o.object == object; })) {
        host_.Fault("CreateInterface: returned an object that is still alive");
        return;
    }
    objects_.push_back(Object{object});
    current_ = object;
    if (!c.OneIn(8)) {
        pending_.emplace_back(object, 0);
        pending_.emplace_back(object, 1);
    }
}

void Driver::DoRetain(Choices& c)
{
    void* object = objects_[PickObject(c)].object;
    std::int32_t result = 0;
    Describe("object %p", object);
    const Outcome outcome = Run(CallKind::Quiet, "Retain", [&] { result = operations::Retain(object); });
    Expect(result == 1, "Retain", "answered " + Text(result) + ", not 1");
    ExpectMessages(outcome, "Retain", "");
    ExpectReads(outcome, "Retain", 0);
}

void Driver::DoDestroy(std::size_t which)
{
    void* object = objects_[which].object;
    std::int32_t result = -1;
    Describe("object %p", object);
    const Outcome outcome = Run(CallKind::Quiet, "Destroy", [&] { result = operations::Destroy(object); });
    Expect(result == 0, "Destroy", "answered " + Text(result) + ", not 0");
    ExpectMessages(outcome, "Destroy", "");
    ExpectReads(outcome, "Destroy", 0);
    objects_.erase(objects_.begin() + static_cast<std::ptrdiff_t>(which));
    instances_.clear();  // the whole registry, whichever object made the instances
    if (current_ == object) {
        current_ = nullptr;
    }
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                  [object](const auto& p) { return p.first == object; }),
                   pending_.end());
}

void Driver::DoSetInterface(Choices& c, std::size_t which, int wanted)
{
    Object& target = objects_[which];
    // What the host hands over: its draw host or sprite bank under the right
    // GUID, or a null, or a GUID the plug-in does not take.
    Guid iid = IID_DrawHost;
    const Guid* argument = &iid;
    void* iface = nullptr;
    int kind = wanted;
    if (kind < 0) {
        kind = static_cast<int>(c.Below(7));
    }
    switch (kind) {
    case 0:
        iface = static_cast<IDrawHost*>(host_.DrawHost());
        break;
    case 1:
        iid = IID_SpriteBank;
        iface = static_cast<ISpriteBank*>(host_.SpriteBank());
        break;
    case 2:
        iid = c.OneIn(2) ? IID_DrawHost : IID_SpriteBank;
        break;  // a null interface never clears a field
    case 3:
        argument = nullptr;
        iface = c.OneIn(2) ? static_cast<void*>(host_.SpriteBank()) : nullptr;
        break;
    case 4: {
        static const Guid kOthers[] = {IID_DrawPlugin, IID_MainSystem, IID_GraphBlend, IID_GraphFilter,
                                       IID_SurfaceFactory};
        iid = c.From(kOthers);
        iface = static_cast<ISpriteBank*>(host_.SpriteBank());
        break;
    }
    default:
        iid = c.OneIn(2) ? IID_DrawHost : IID_SpriteBank;
        reinterpret_cast<std::uint8_t*>(&iid)[c.Below(16)] ^= static_cast<std::uint8_t>(1u << c.Below(8));
        iface = static_cast<ISpriteBank*>(host_.SpriteBank());
        break;
    }
    void* object = target.object;
    Describe("object %p, case %d, iface %p", object, kind, iface);
    const Outcome outcome =
        Run(CallKind::Quiet, "SetInterface", [&] { operations::SetInterface(object, argument, iface); });

    std::string messages;
    if (!argument) {
        messages = messages::kSetInterfaceNullGuid;
    } else if (!iface) {
        messages = messages::kSetInterfaceNullInterface;
    } else if (SameGuid(iid, IID_DrawHost)) {
        target.drawHost = true;
    } else if (SameGuid(iid, IID_SpriteBank)) {
        target.spriteBank = true;
    } else {
        messages = messages::kSetInterfaceUnsupportedGuid;
    }
    ExpectMessages(outcome, "SetInterface", messages);
    ExpectReads(outcome, "SetInterface", 0);
}

void Driver::DoUpdate(Choices& c)
{
    const Object& target = objects_[PickObject(c)];
    host_.SetReportAnswer(c.AnyInt32());
    void* object = target.object;
    host_.ExpectReport(target.drawHost, target.lastHandleKnown, target.lastHandle);
    std::int32_t result = 0;
    Describe("object %p", object);
    const Outcome outcome = Run(CallKind::Update, "Update", [&] { result = operations::Update(object); });
    if (target.drawHost) {
        Expect(result == host_.ReportAnswer(), "Update",
               "answered " + Text(result) + ", not ReportRect's " + Text(host_.ReportAnswer()));
    }
    ExpectMessages(outcome, "Update", "");
    ExpectReads(outcome, "Update", 0);
}

void Driver::DoDraw(Choices& c)
{
    if (objects_.empty()) {
        DoCreateInterface(c);
        return;
    }
    const Object& target = objects_[PickObject(c)];
    const std::int32_t handle = PickHandle(c);
    const std::uint32_t pickDestination = c.Below(16);
    ISurface* destination = pickDestination < 12 ? host_.Destination(0)
                            : pickDestination < 15 ? host_.Destination(static_cast<int>(pickDestination - 11))
                                                   : nullptr;
    std::int32_t ignored[6] = {0, 0, 0, 0, 0, 0};
    if (c.OneIn(5)) {
        for (std::int32_t& word : ignored) {
            word = c.AnyInt32();
        }
    }
    const std::int32_t rate = PickInt(c, kRates, 0, 255);

    DrawExpectation expectation;
    const auto it = instances_.find(handle);
    const Instance* instance = it == instances_.end() ? nullptr : &it->second;
    expectation.started = instance && instance->started;
    if (instance) {
        expectation.width = instance->width;
        expectation.height = instance->height;
        expectation.type = instance->type;
        expectation.baseSprite = instance->baseSprite;
        expectation.spriteCount = instance->spriteCount;
        expectation.rotationFrames = instance->rotationFrames;
        expectation.particles = instance->particles;
    }
    expectation.hasBank = target.spriteBank;
    expectation.destination = destination;
    expectation.rate = rate;
    host_.ExpectDraw(expectation);

    void* object = target.object;
    Describe("object %p, handle %d, destination %p, rate %d; %s, type %d, %lld particles", object, handle,
             static_cast<void*>(destination), rate, expectation.started ? "started" : "not started",
             expectation.type, static_cast<long long>(expectation.particles));
    const Outcome outcome = Run(CallKind::Draw, "Draw", [&] {
        operations::Draw(object, handle, destination, ignored, rate);
    });
    if (!expectation.started) {
        ExpectReads(outcome, "Draw", 0);
    } else if (target.spriteBank && host_.SpriteFor(instance->baseSprite)) {
        ExpectReads(outcome, "Draw", 2);  // one motion step
    } else {
        Expect(outcome.clockReads == 0 || outcome.clockReads == 2, "Draw",
               "read the clock " + Text(static_cast<std::int64_t>(outcome.clockReads)) + " times");
    }
    Expect(outcome.allocations == 0, "Draw",
           "allocated memory " + Text(static_cast<std::int64_t>(outcome.allocations)) + " times");
    ExpectMessages(outcome, "Draw", "");
}

void Driver::DoInit(Choices& c)
{
    const std::int32_t handle = PickHandle(c);
    Instance fresh{};
    if (c.Below(10) < 6) {
        // An effect as a script would set it up.
        static constexpr std::int32_t kBases[] = {0, 100, 7};
        static constexpr std::int32_t kCounts[] = {16, 8, 12, 1, 3};
        static constexpr std::int32_t kGroups[] = {4, 1, 2, 3};
        fresh.width = 100 + static_cast<std::int32_t>(c.Below(900));
        fresh.height = 100 + static_cast<std::int32_t>(c.Below(700));
        fresh.baseSprite = c.From(kBases);
        fresh.spriteCount = c.From(kCounts);
        fresh.rotationFrames = c.From(kGroups);
    } else {
        fresh.width = PickInt(c, kSizes, -50, 1000);
        fresh.height = PickInt(c, kSizes, -50, 1000);
        fresh.baseSprite = PickInt(c, kBaseSprites, -10, 200);
        fresh.spriteCount = PickInt(c, kSpriteCounts, -2, 70);
        fresh.rotationFrames = PickInt(c, kRotations, -2, 20);
    }
    Describe("%d, %d, %d, %d, %d, %d", handle, fresh.width, fresh.height, fresh.baseSprite, fresh.spriteCount,
             fresh.rotationFrames);
    const Outcome outcome = Run(CallKind::Quiet, "Init", [&] {
        plugin_.Init(handle, fresh.width, fresh.height, fresh.baseSprite, fresh.spriteCount, fresh.rotationFrames);
    });
    ExpectReads(outcome, "Init", 1);  // the tick count that reseeds the random source
    ExpectMessages(outcome, "Init", "");
    if (!instances_.count(handle) && outcome.failures == 0) {
        instances_.emplace(handle, fresh);
    }
    for (Object& object : objects_) {
        if (object.object == current_) {
            object.lastHandleKnown = true;
            object.lastHandle = handle;
        }
    }
}

void Driver::DoStart(Choices& c)
{
    const std::int32_t handle = PickHandle(c);
    Describe("%d", handle);
    const Outcome outcome = Run(CallKind::Quiet, "Start", [&] { plugin_.Start(handle); });
    ExpectMessages(outcome, "Start", "");
    const auto it = instances_.find(handle);
    if (it == instances_.end()) {
        ExpectReads(outcome, "Start", 0);
        return;
    }
    Instance& instance = it->second;
    // A count beyond the largest meant to succeed cannot be had: its storage
    // is refused, or, where the address space is smaller than that storage
    // (32-bit Windows), it cannot even be asked for.
    const bool storageRefused = outcome.failures > 0 || instance.numof > limits_.largestCount;
    if (!storageRefused) {
        ExpectReads(outcome, "Start", 1);  // lastTime, after spawning
        instance.started = true;
        instance.particles = std::max(instance.numof, 0);
    } else {
        // The storage could not be had: the old particles are gone, nothing
        // was spawned, and the instance keeps its started flag and clock.
        ExpectReads(outcome, "Start", 0);
        instance.particles = 0;
    }
}

void Driver::DoRelease(Choices& c)
{
    const std::int32_t handle = PickHandle(c);
    Describe("%d", handle);
    const Outcome outcome = Run(CallKind::Quiet, "Release", [&] { plugin_.Release(handle); });
    ExpectReads(outcome, "Release", 0);
    ExpectMessages(outcome, "Release", "");
    instances_.erase(handle);
}

void Driver::DoSetter(Choices& c, int which)
{
    const std::int32_t handle = PickHandle(c);
    const auto it = instances_.find(handle);
    Instance* instance = it == instances_.end() ? nullptr : &it->second;
    const char* name = "";
    Outcome outcome;
    switch (which) {
    case 0: {
        const std::int32_t type = PickInt(c, kTypes, 0, 3);
        name = "SetType";
        Describe("%d, %d", handle, type);
        outcome = Run(CallKind::Quiet, name, [&] { plugin_.SetType(handle, type); });
        if (instance) {
            instance->type = type;
        }
        break;
    }
    case 1: {
        std::int32_t numof;
        const std::uint32_t pick = c.Below(1000);
        if (pick < 750) {
            numof = static_cast<std::int32_t>(c.Below(65));
        } else if (pick < 850) {
            static constexpr std::int32_t kSpecial[] = {0, -1, INT_MIN, 1, -40};
            numof = c.From(kSpecial);
        } else if (pick < 950) {
            numof = 65 + static_cast<std::int32_t>(c.Below(2000));
        } else if (pick < 995) {
            // Beyond the allocation cap: Start must fail cleanly.
            static constexpr std::int32_t kHuge[] = {INT_MAX, 1 << 28, 0x40000000, INT_MAX - 1};
            numof = c.From(kHuge);
        } else {
            numof = 2065 + static_cast<std::int32_t>(
                               c.Below(static_cast<std::uint32_t>(std::max(limits_.largestCount - 2065, 1))));
        }
        name = "SetNumof";
        Describe("%d, %d", handle, numof);
        outcome = Run(CallKind::Quiet, name, [&] { plugin_.SetNumof(handle, numof); });
        if (instance) {
            instance->numof = numof;
        }
        break;
    }
    case 2: {
        const std::int32_t amplitude = PickInt(c, kAmplitudes, -100, 100);
        name = "SetMaxAmp";
        Describe("%d, %d", handle, amplitude);
        outcome = Run(CallKind::Quiet, name, [&] { plugin_.SetMaxAmp(handle, amplitude); });
        break;
    }
    case 3: {
        const float speed = PickFloat(c);
        name = "SetXSpeed";
        Describe("%d, %g", handle, static_cast<double>(speed));
        outcome = Run(CallKind::Quiet, name, [&] { plugin_.SetXSpeed(handle, speed); });
        break;
    }
    default: {
        const float speed = PickFloat(c);
        name = "SetYSpeed";
        Describe("%d, %g", handle, static_cast<double>(speed));
        outcome = Run(CallKind::Quiet, name, [&] { plugin_.SetYSpeed(handle, speed); });
        break;
    }
    }
    ExpectReads(outcome, name, 0);
    ExpectMessages(outcome, name, "");
}

void Driver::Reload()
{
    Finish();
    instances_.clear();  // unloading destroys the registry
    current_ = nullptr;
    const std::string path = plugin_.Path();
    plugin_.Close();
    std::string error;
    if (!plugin_.Open(path, error)) {
        setupError_ = "reloading the plug-in: " + error;
    }
}

void Driver::Finish()
{
    while (!objects_.empty() && setupError_.empty()) {
        DoDestroy(objects_.size() - 1);
    }
    if (!instances_.empty() && setupError_.empty()) {
        // No object is left to empty the registry: make one for it.
        const Outcome outcome = Run(CallKind::CreateInterface, "CreateInterface", [&] {
            if (void* object = plugin_.CreateInterface(&IID_DrawPlugin)) {
                operations::Destroy(object);
            }
        });
        (void)outcome;  // its messages depend on the modules; checked elsewhere
        instances_.clear();
    }
    current_ = nullptr;
    pending_.clear();
}

void Driver::Reset(Choices& choices)
{
    host_.ConfigureSprites(choices, false);
    host_.SetFactoryRefuses(false);
    host_.SetScratchNullAddresses(false);
    for (int module = 0; module < 3; ++module) {
        host_.SetModuleRefuses(static_cast<Module>(module), false);
        std::string error;
        if (!modules_.Set(module, HostModules::State::WithFactory, error)) {
            setupError_ = error;
        }
    }
    Clock().nowMs = (static_cast<std::uint64_t>(choices.Below(256)) << 32) + choices.Bits32();
    Clock().perReadMs = 0;
}

}  // namespace velora::validator
