// The fault reports' text and their watch for a hang, the same on every
// system (fault_reports.h); the systems' files say how the text is written
// and when the watch looks.
#include "validator/fault_reports.h"

#include <cstdio>

#include "validator/clock_and_allocator.h"

namespace velora::validator::fault_reports {
namespace {

std::uint64_t reportSeed = 0;
char reportPlugin[1024] = "";
int callLimitSeconds = 60;

}  // namespace

void WriteNumber(std::uint64_t value)
{
    char digits[24];
    int at = static_cast<int>(sizeof digits) - 1;
    digits[at] = '\0';
    do {
        digits[--at] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && at > 0);
    Write(&digits[at]);
}

void WriteReplay()
{
    const Progress& progress = CurrentProgress();
    const std::uint64_t call = progress.calls.load();
    Write(" in call ");
    WriteNumber(call);
    Write(" (");
    Write(progress.name.load());
    Write("); replay: velora_validator --seed ");
    WriteNumber(reportSeed);
    Write(" --calls ");
    WriteNumber(call);
    Write(" --plugin ");
    Write(reportPlugin);
    Write("\n");
}

void Remember(std::uint64_t seed, const char* plugin, int limitSeconds)
{
    reportSeed = seed;
    callLimitSeconds = limitSeconds;
    std::snprintf(reportPlugin, sizeof reportPlugin, "%s", plugin);
}

bool ReportedHang()
{
    static std::uint64_t lastCall = 0;
    static int seconds = 0;
    const Progress& progress = CurrentProgress();
    const std::uint64_t call = progress.calls.load();
    if (!progress.inCall.load() || call != lastCall) {
        lastCall = call;
        seconds = 0;
        return false;
    }
    if (++seconds < callLimitSeconds) {
        return false;
    }
    Write("velora_validator: FAULT: hang (no return within ");
    WriteNumber(static_cast<std::uint64_t>(callLimitSeconds));
    Write(" s)");
    WriteReplay();
    return true;
}

}  // namespace velora::validator::fault_reports
