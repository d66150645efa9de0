// The driver's calls of the exports that take a handle: Init, Start,
// Release and the five setters, each checked against the model (driver.h).
#include <algorithm>
#include <type_traits>

#include "validator/driver_calls.h"

namespace velora::validator {
namespace {

// Field sizes, sprite numbers and counts: ordinary values first, then the
// edges of the int32 range.
constexpr std::int32_t kSizes[] = {640, 480, 320, 200, 16, 1, 0, -1, -640, 100000, INT_MAX, INT_MIN};
constexpr std::int32_t kBaseSprites[] = {0, 100, 7, -5, INT_MAX, INT_MAX - 3, INT_MIN, 1 << 30};
constexpr std::int32_t kSpriteCounts[] = {16, 16, 8, 12, 1, 3, 0, -1, INT_MAX, INT_MIN, 64};
constexpr std::int32_t kRotations[] = {4, 4, 1, 2, 3, 16, 17, 0, -1, INT_MAX, INT_MIN};
constexpr std::int32_t kTypes[] = {0, 1, 2, 3, 0, 1, 2, 3, 4, -1, 5, INT_MAX, INT_MIN};
constexpr std::int32_t kAmplitudes[] = {40, 40, 0, 1, -40, 1000, INT_MAX, INT_MIN, -1};

}  // namespace

using driver_detail::PickFloat;
using driver_detail::PickInt;

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
    switch (which) {
    case 0: {
        const std::int32_t type = PickInt(c, kTypes, 0, 3);
        CallSetter("SetType", plugin_.SetType, handle, type);
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
        CallSetter("SetNumof", plugin_.SetNumof, handle, numof);
        if (instance) {
            instance->numof = numof;
        }
        break;
    }
    case 2:
        CallSetter("SetMaxAmp", plugin_.SetMaxAmp, handle, PickInt(c, kAmplitudes, -100, 100));
        break;
    case 3:
        CallSetter("SetXSpeed", plugin_.SetXSpeed, handle, PickFloat(c));
        break;
    default:
        CallSetter("SetYSpeed", plugin_.SetYSpeed, handle, PickFloat(c));
        break;
    }
}

template <class Value>
void Driver::CallSetter(const char* name, void(VELORA_CDECL* setter)(std::int32_t, Value), std::int32_t handle,
                        Value value)
{
    if constexpr (std::is_same_v<Value, float>) {
        Describe("%d, %g", handle, static_cast<double>(value));
    } else {
        Describe("%d, %d", handle, value);
    }
    const Outcome outcome = Run(CallKind::Quiet, name, [&] { setter(handle, value); });
    ExpectReads(outcome, name, 0);
    ExpectMessages(outcome, name, "");
}

}  // namespace velora::validator
