// System calls behind the platform layer, and the seams tests drive.
#include "plugin/platform.h"

#if defined(_WIN32)
#include <windows.h>
#include <mmsystem.h>
#else
#include <time.h>
#endif

namespace velora::platform {
namespace {

#if defined(_WIN32)
std::uint32_t SystemMultimediaTime() { return timeGetTime(); }
std::uint32_t SystemTickCount() { return GetTickCount(); }
#else
// Milliseconds of CLOCK_MONOTONIC, truncated to the low 32 bits so that it
// wraps exactly like the Windows counters.
std::uint32_t MonotonicMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}
std::uint32_t SystemMultimediaTime() { return MonotonicMilliseconds(); }
std::uint32_t SystemTickCount() { return MonotonicMilliseconds(); }
#endif

testing::TimeSource multimediaOverride = nullptr;
testing::TimeSource tickOverride = nullptr;

}  // namespace

std::uint32_t MultimediaTime()
{
    return multimediaOverride ? multimediaOverride() : SystemMultimediaTime();
}

std::uint32_t TickCount()
{
    return tickOverride ? tickOverride() : SystemTickCount();
}

namespace testing {
void OverrideMultimediaTime(TimeSource source) { multimediaOverride = source; }
void OverrideTickCount(TimeSource source) { tickOverride = source; }
}  // namespace testing

}  // namespace velora::platform
