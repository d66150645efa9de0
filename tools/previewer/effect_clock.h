// The clock the plug-in reads in a previewer process.
//
// The plug-in reads both of its clocks (the tick count that seeds its random
// source in Init, and the millisecond clock that Start and every motion step
// read) from CLOCK_MONOTONIC. velora_previewer provides clock_gettime itself
// (interpose.cpp), and while a fixed time is set here that is what every
// CLOCK_MONOTONIC reading in the process answers; otherwise the readings go
// to the system. The previewer's own timing uses RealMilliseconds, which
// always asks the system.
#pragma once

#include <cstdint>

namespace velora::previewer {

// From now on CLOCK_MONOTONIC reads exactly ms milliseconds.
void SetFixedClock(std::uint64_t ms);
// From now on CLOCK_MONOTONIC reads the system's clock.
void UseSystemClock();
// True, with the time, while a fixed time is set.
bool FixedClock(std::uint64_t& ms);

// CLOCK_MONOTONIC of the system in milliseconds, whatever is set above.
double RealMilliseconds();

}  // namespace velora::previewer
