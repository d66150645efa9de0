// The fixed time lives in atomics, as the plug-in may read the clock from any
// thread while the previewer sets it. The real clock is read by system
// call, past the clock_gettime this process answers itself.
#include "previewer/effect_clock.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace velora::previewer {
namespace {

std::atomic<bool> fixedSet{false};
std::atomic<std::uint64_t> fixedMs{0};

}  // namespace

void SetFixedClock(std::uint64_t ms)
{
    fixedMs.store(ms);
    fixedSet.store(true);
}

void UseSystemClock() { fixedSet.store(false); }

bool FixedClock(std::uint64_t& ms)
{
    if (!fixedSet.load()) {
        return false;
    }
    ms = fixedMs.load();
    return true;
}

double RealMilliseconds()
{
    timespec now{};
    syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

}  // namespace velora::previewer
