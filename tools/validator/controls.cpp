#include "validator/controls.h"

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

Progress& CurrentProgress()
{
    static Progress progress;
    return progress;
}

}  // namespace velora::validator
