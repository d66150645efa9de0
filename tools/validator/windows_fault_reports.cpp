// Fault reports on Windows (fault_reports.h). MinGW has no __try, so
// structured exceptions are met with handlers: a vectored handler sees an
// access violation (or another fatal exception) first, before any frame
// could swallow it, and an unhandled-exception filter catches whatever
// else would end the process. A watchdog thread looks once a second for a
// call that has not returned within the limit. What they call must work in
// a process whose heap may be damaged: WriteFile on the standard error
// handle, no allocation, no stdio.
#include "validator/fault_reports.h"

#include <windows.h>

#include <csignal>
#include <cstdint>
#include <cstring>

#include "validator/clock_and_allocator.h"

namespace velora::validator {
namespace fault_reports {

void Write(const char* text)
{
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD length = static_cast<DWORD>(std::strlen(text));
    while (length > 0) {
        DWORD written = 0;
        if (!WriteFile(error, text, length, &written, nullptr) || written == 0) {
            return;
        }
        text += written;
        length -= written;
    }
}

}  // namespace fault_reports

namespace {

using fault_reports::Write;
using fault_reports::WriteReplay;

// Eight hexadecimal digits: codes and addresses of a 32-bit process.
void WriteHex(std::uint32_t value)
{
    char digits[11] = "0x";
    for (int i = 0; i < 8; ++i) {
        digits[2 + i] = "0123456789ABCDEF"[(value >> (28 - 4 * i)) & 0xF];
    }
    digits[10] = '\0';
    Write(digits);
}

[[noreturn]] void End(UINT status)
{
    TerminateProcess(GetCurrentProcess(), status);
    for (;;) {
        Sleep(INFINITE);
    }
}

// The exceptions that end a program, by name; null for the others (debug
// output, C++ exceptions of other runtimes, breakpoints a debugger handles).
const char* FatalName(DWORD code)
{
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return "access violation";
    case EXCEPTION_IN_PAGE_ERROR: return "in-page error";
    case EXCEPTION_ILLEGAL_INSTRUCTION: return "illegal instruction";
    case EXCEPTION_PRIV_INSTRUCTION: return "privileged instruction";
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return "integer division by zero";
    case EXCEPTION_INT_OVERFLOW: return "integer overflow";
    case EXCEPTION_STACK_OVERFLOW: return "stack overflow";
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: return "array bounds exceeded";
    case EXCEPTION_DATATYPE_MISALIGNMENT: return "misaligned data";
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_FLT_STACK_CHECK: return "floating-point exception";
    default: return nullptr;
    }
}

[[noreturn]] void ReportCrash(const EXCEPTION_RECORD* record, const char* name)
{
    Write("velora_validator: FAULT: crash (");
    Write(name ? name : "unhandled exception");
    Write(", code ");
    WriteHex(record->ExceptionCode);
    Write(" at ");
    WriteHex(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(record->ExceptionAddress)));
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
        Write(record->ExceptionInformation[0] == 1 ? ", writing " : ", reading ");
        WriteHex(static_cast<std::uint32_t>(record->ExceptionInformation[1]));
    }
    Write(")");
    WriteReplay();
    End(2);
}

// First in line: a fatal exception inside a call into the plug-in is a
// fault, whatever might have caught it later.
LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers)
{
    const char* name = FatalName(pointers->ExceptionRecord->ExceptionCode);
    if (name && CurrentProgress().inCall.load()) {
        ReportCrash(pointers->ExceptionRecord, name);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// Last in line: anything that nobody handled.
LONG WINAPI OnUnhandled(EXCEPTION_POINTERS* pointers)
{
    ReportCrash(pointers->ExceptionRecord, FatalName(pointers->ExceptionRecord->ExceptionCode));
}

// abort() raises SIGABRT.
void OnAbort(int)
{
    Write("velora_validator: FAULT: crash (abort)");
    WriteReplay();
    End(2);
}

// Every second: a call that has been running for the limit is a hang.
DWORD WINAPI Watchdog(void*)
{
    for (;;) {
        Sleep(1000);
        if (fault_reports::ReportedHang()) {
            End(3);
        }
    }
}

}  // namespace

void InstallFaultReports(std::uint64_t seed, const char* plugin, int limitSeconds)
{
    fault_reports::Remember(seed, plugin, limitSeconds);
    // No "program has stopped working" box to wait on.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    AddVectoredExceptionHandler(1, &OnException);
    SetUnhandledExceptionFilter(&OnUnhandled);
    std::signal(SIGABRT, &OnAbort);
    if (HANDLE thread = CreateThread(nullptr, 0, &Watchdog, nullptr, 0, nullptr)) {
        CloseHandle(thread);
    }
}

}  // namespace velora::validator
