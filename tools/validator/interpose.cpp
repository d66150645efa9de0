// The functions the plug-in's own calls bind to in a validator process.
//
// An executable's exported definitions come first in the dynamic linker's
// search, ahead of libc and libstdc++, so the plug-in's clock_gettime and
// operator new resolve to these. The executables are linked with their
// symbols exported (ENABLE_EXPORTS), and these definitions are given default
// visibility so that the export reaches them. The host modules' factories
// reach the validator's host through VeloraValidatorService the same way.
//
// The replacement operator new itself is the shared one (heap/heap.h); this
// file decides what an allocation does. Compiled into each executable that
// loads the plug-in, never into a library: a definition in a static archive
// would only be linked if something else referred to it.
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstddef>

#include "contract/guid.h"
#include "heap/heap.h"
#include "validator/clock_and_allocator.h"
#include "validator/host.h"

using velora::validator::Allocation;
using velora::validator::Clock;

// Every operator new of the process comes here (heap.h): the plug-in's own
// requests are counted, and fail when told to; any request above the cap
// fails.
void* velora::heap::Allocate(std::size_t size, std::size_t alignment) noexcept
{
    return Allocation().Admit(size) ? SystemAllocate(size, alignment) : nullptr;
}

#pragma GCC visibility push(default)

extern "C" int clock_gettime(clockid_t id, struct timespec* time) noexcept
{
    velora::validator::ClockControl& clock = Clock();
    if (!clock.active || id != CLOCK_MONOTONIC) {
        return static_cast<int>(syscall(SYS_clock_gettime, id, time));
    }
    const std::uint64_t now = clock.Read();
    time->tv_sec = static_cast<time_t>(now / 1000u);
    time->tv_nsec = static_cast<long>(now % 1000u * 1000000u);
    return 0;
}

extern "C" void* VeloraValidatorService(int module, const velora::Guid* iid)
{
    return velora::validator::ServeModule(module, iid);
}

#pragma GCC visibility pop
