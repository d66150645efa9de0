// The functions the plug-in's own calls bind to in a validator process.
//
// An executable's exported definitions come first in the dynamic linker's
// search, ahead of libc and libstdc++, so the plug-in's clock_gettime and
// operator new resolve to these. The executables are linked with their
// symbols exported (ENABLE_EXPORTS), and these definitions are given default
// visibility so that the export reaches them. The host modules' factories
// reach the validator's host through VeloraValidatorService the same way.
//
// Compiled into each executable that loads the plug-in, never into a library:
// a definition in a static archive would only be linked if something else
// referred to it.
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <new>

#include "contract/guid.h"
#include "validator/controls.h"
#include "validator/host.h"

using velora::validator::Allocation;
using velora::validator::Clock;

namespace {

// Null when the request cannot be had.
void* Allocate(std::size_t size, std::size_t alignment) noexcept
{
    velora::validator::AllocationControl& allocation = Allocation();
    const bool plugin = allocation.PluginIsAsking();
    if (plugin) {
        ++allocation.pluginAllocations;
        if (allocation.failNext) {
            allocation.failNext = false;
            ++allocation.pluginFailures;
            return nullptr;
        }
    }
    if (size > allocation.capBytes) {
        allocation.pluginFailures += plugin ? 1 : 0;
        return nullptr;
    }
    if (size == 0) {
        size = 1;
    }
    if (alignment <= alignof(std::max_align_t)) {
        return std::malloc(size);
    }
    return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
}

void* AllocateOrThrow(std::size_t size, std::size_t alignment)
{
    if (void* memory = Allocate(size, alignment)) {
        return memory;
    }
    throw std::bad_alloc();
}

std::size_t Alignment(std::align_val_t alignment) { return static_cast<std::size_t>(alignment); }

}  // namespace

#pragma GCC visibility push(default)

extern "C" int clock_gettime(clockid_t id, struct timespec* time) noexcept
{
    velora::validator::ClockControl& clock = Clock();
    if (!clock.active || id != CLOCK_MONOTONIC) {
        return static_cast<int>(syscall(SYS_clock_gettime, id, time));
    }
    ++clock.reads;
    const std::uint64_t now = clock.nowMs;
    clock.nowMs += clock.perReadMs;
    time->tv_sec = static_cast<time_t>(now / 1000u);
    time->tv_nsec = static_cast<long>(now % 1000u * 1000000u);
    return 0;
}

extern "C" void* VeloraValidatorService(int module, const velora::Guid* iid)
{
    return velora::validator::ServeModule(module, iid);
}

void* operator new(std::size_t size) { return AllocateOrThrow(size, 0); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size, 0); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size, 0); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size, 0); }
void* operator new(std::size_t size, std::align_val_t a) { return AllocateOrThrow(size, Alignment(a)); }
void* operator new[](std::size_t size, std::align_val_t a) { return AllocateOrThrow(size, Alignment(a)); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return Allocate(size, Alignment(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return Allocate(size, Alignment(a));
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept { std::free(memory); }

#pragma GCC visibility pop
