// The validator's one clock, allocator and progress state, each made on
// first use, so that the exported operator new can reach them while other
// statics are still being made.
#include "validator/clock_and_allocator.h"

namespace velora::validator {

ClockControl& Clock()
{
    static ClockControl clock;
    return clock;
}

AllocationControl& Allocation()
{
    static AllocationControl allocation;
    return allocation;
}

bool AllocationControl::Admit(std::size_t size)
{
    const bool plugin = PluginIsAsking();
    if (plugin) {
        ++pluginAllocations;
        if (failNext) {
            failNext = false;
            ++pluginFailures;
            return false;
        }
    }
    if (size > capBytes) {
        pluginFailures += plugin ? 1 : 0;
        return false;
    }
    return true;
}

Progress& CurrentProgress()
{
    static Progress progress;
    return progress;
}

}  // namespace velora::validator
