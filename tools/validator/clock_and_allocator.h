// What the validator controls in its own process, beneath the plug-in: the
// clock the plug-in reads and the allocator it allocates from.
//
// The plug-in reads its millisecond clock through clock_gettime and
// allocates through operator new. The validator's executables define both
// themselves and export them (interpose.cpp, over the shared replacement
// operator new of heap/heap.h), so the plug-in's calls bind to them; on
// Windows the plug-in's imports are redirected instead
// (windows_interpose.cpp). These two structs are the state behind them. Nothing
// here touches the plug-in's internals.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace velora::validator {

// The CLOCK_MONOTONIC the plug-in sees, in whole milliseconds. A 64-bit
// count that never runs backwards; the plug-in truncates it to 32 bits, so
// crossing a multiple of 2^32 is the wrap of its counter.
struct ClockControl {
    bool active = false;         // while false the real clock answers
    std::uint64_t nowMs = 0;     // the reading handed out next
    std::uint32_t perReadMs = 0; // added after every reading: time passing inside a call
    std::uint64_t reads = 0;     // readings handed out while active

    // The next reading, counted; time passes by perReadMs after it.
    std::uint64_t Read()
    {
        ++reads;
        const std::uint64_t now = nowMs;
        nowMs += perReadMs;
        return now;
    }
};

// The allocator beneath the plug-in. A request above capBytes fails, as it
// would in a process that cannot have that much; failNext makes the next
// allocation the plug-in itself asks for fail. Allocations the validator's
// host makes while the plug-in calls it are not the plug-in's: hostDepth
// tells them apart.
struct AllocationControl {
    std::size_t capBytes = std::size_t{1} << 30;
    bool pluginCall = false;        // inside a call into the plug-in
    int hostDepth = 0;              // inside one of the host's operations
    bool failNext = false;          // the plug-in's next allocation fails
    std::uint64_t pluginAllocations = 0;
    std::uint64_t pluginFailures = 0;

    bool PluginIsAsking() const { return pluginCall && hostDepth == 0; }
    // Whether a request for size bytes may be had: false when it is the
    // plug-in's and the one told to fail, or when it is above the cap. The
    // plug-in's requests and failures are counted.
    bool Admit(std::size_t size);
};

// The call in progress, readable from a signal handler: for the report of a
// crash or a hang.
struct Progress {
    std::atomic<std::uint64_t> calls{0};        // calls begun so far
    std::atomic<const char*> name{""};          // the export or operation of the latest
    std::atomic<bool> inCall{false};            // inside the plug-in right now
};

ClockControl& Clock();
AllocationControl& Allocation();
Progress& CurrentProgress();

// Marks a host operation for its duration.
class InHost {
public:
    InHost() { ++Allocation().hostDepth; }
    ~InHost() { --Allocation().hostDepth; }
    InHost(const InHost&) = delete;
    InHost& operator=(const InHost&) = delete;
};

}  // namespace velora::validator
