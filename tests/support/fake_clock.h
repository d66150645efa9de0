// A controlled clock for tests: replaces the multimedia clock and the tick
// count of the platform layer for the lifetime of the object.
#pragma once

#include <cstdint>
#include <deque>

#include "platform/platform.h"

namespace velora::testing {

class FakeClock {
public:
    FakeClock()
    {
        active = this;
        platform::testing::OverrideMultimediaTime(&ReadTime);
        platform::testing::OverrideTickCount(&ReadTicks);
    }
    ~FakeClock()
    {
        platform::testing::OverrideMultimediaTime(nullptr);
        platform::testing::OverrideTickCount(nullptr);
        active = nullptr;
    }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    // The reading the clock gives from now on, until changed.
    void Set(std::uint32_t ms) { now = ms; }
    void Advance(std::uint32_t ms) { now += ms; }
    // Readings handed out one per call before falling back to the current one.
    void Queue(std::uint32_t ms) { queued.push_back(ms); }

    void SetTicks(std::uint32_t value) { ticks = value; }

    std::uint32_t now = 0;
    std::uint32_t ticks = 0;
    int timeReads = 0;
    int tickReads = 0;
    std::deque<std::uint32_t> queued;

private:
    static std::uint32_t ReadTime()
    {
        ++active->timeReads;
        if (!active->queued.empty()) {
            const std::uint32_t value = active->queued.front();
            active->queued.pop_front();
            return value;
        }
        return active->now;
    }
    static std::uint32_t ReadTicks()
    {
        ++active->tickReads;
        return active->ticks;
    }
    static inline FakeClock* active = nullptr;
};

}  // namespace velora::testing
