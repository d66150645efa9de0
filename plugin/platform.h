// The platform layer: the only place that talks to the operating system.
//
// Windows: timeGetTime, GetTickCount. Elsewhere: CLOCK_MONOTONIC in whole
// milliseconds, truncated to 32 bits, for both. Tests replace the clocks
// through the seams at the bottom so that every step runs at an exact time.
#pragma once

#include <cstdint>

namespace velora::platform {

// The millisecond multimedia clock (timeGetTime): unsigned, wraps at 2^32.
std::uint32_t MultimediaTime();

// The millisecond tick count (GetTickCount) that seeds the random source.
std::uint32_t TickCount();

namespace testing {

using TimeSource = std::uint32_t (*)();

// Replaces the clock behind MultimediaTime; nullptr restores the system one.
void OverrideMultimediaTime(TimeSource source);

// Replaces the counter behind TickCount; nullptr restores the system one.
void OverrideTickCount(TimeSource source);

}  // namespace testing
}  // namespace velora::platform
