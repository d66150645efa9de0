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
// Windows (windows_fault_reports.cpp); the text they write, and the watch for
// a hang, are shared (fault_reports.cpp).
#pragma once

#include <cstdint>

namespace velora::validator {

void InstallFaultReports(std::uint64_t seed, const char* plugin, int callLimitSeconds);

// For the systems' files. Everything here works where a fault is reported
// (in a signal handler, in a process whose heap may be damaged): it neither
// allocates nor uses stdio.
namespace fault_reports {

// Writes the text to standard error; one for each system.
void Write(const char* text);
void WriteNumber(std::uint64_t value);
// " in call N (Name); replay: velora_validator --seed S --calls N --plugin P"
// and the end of the line.
void WriteReplay();
// What the replay names, and the call limit; kept by InstallFaultReports.
void Remember(std::uint64_t seed, const char* plugin, int callLimitSeconds);
// Looked at once a second: true, with the hang told, when the call in
// progress has been running for the limit. The process must end then.
bool ReportedHang();

}  // namespace fault_reports

}  // namespace velora::validator
