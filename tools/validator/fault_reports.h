// What ends a run before the validator can report it in the usual way: a
// crash inside the plug-in, a call that does not return within the limit, a
// sanitizer's report. Each is told on standard error with the call in
// progress (CurrentProgress) and the command that replays the run up to it,
//   "velora_validator: FAULT: <what> in call N (Name); replay: velora_validator
//    --seed S --calls N --plugin P"
// and the process ends: status 2 for a crash, 3 for a hang.
//
// One implementation a system: signals and an interval timer on POSIX
// (posix_fault_reports.cpp), exception handlers and a watchdog thread on
// Windows (windows_fault_reports.cpp).
#pragma once

#include <cstdint>

namespace velora::validator {

void InstallFaultReports(std::uint64_t seed, const char* plugin, int callLimitSeconds);

}  // namespace velora::validator
