// What the driver's files share (driver.cpp, driver_objects.cpp,
// driver_instances.cpp): how a call into the plug-in is made and measured,
// and how arguments are picked.
#pragma once

#include <cfloat>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "validator/clock_and_allocator.h"
#include "validator/driver.h"

namespace velora::validator {
namespace driver_detail {

// Rates of a Draw: ordinary values first, then the edges of the int32 range.
inline constexpr std::int32_t kRates[] = {0, 128, 255, 256, -1, INT_MAX, INT_MIN};

// Mostly one of the values, else one in [low, high], else any.
inline std::int32_t PickInt(Choices& c, const std::int32_t* values, std::size_t count, std::int32_t low,
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

// Mostly a telling value (zero, signed zero, NaN, infinities, denormals,
// extremes), else a short decimal, else any bit pattern.
inline float PickFloat(Choices& c)
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

inline std::string Text(std::int64_t value) { return std::to_string(value); }

}  // namespace driver_detail

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

}  // namespace velora::validator
