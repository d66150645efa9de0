// The clock the plug-in binds to in a velora_previewer process.
//
// An executable's exported definitions come first in the dynamic linker's
// search, ahead of libc, so the plug-in's clock_gettime resolves to this one
// (the executable is linked with its symbols exported, and the definition has
// default visibility). Compiled into the executable, never into a library: a
// definition in a static archive would only be linked if something else
// referred to it.
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>

#include "previewer/effect_clock.h"

#pragma GCC visibility push(default)

extern "C" int clock_gettime(clockid_t id, struct timespec* time) noexcept
{
    std::uint64_t ms = 0;
    if (id != CLOCK_MONOTONIC || !velora::previewer::FixedClock(ms)) {
        return static_cast<int>(syscall(SYS_clock_gettime, id, time));
    }
    time->tv_sec = static_cast<time_t>(ms / 1000u);
    time->tv_nsec = static_cast<long>(ms % 1000u * 1000000u);
    return 0;
}

#pragma GCC visibility pop
