// Fault reports on POSIX systems (fault_reports.h): signal handlers on an
// alternate stack for crashes, a one-second interval timer for hangs, and
// the sanitizers' death callback. Everything they call must work from a
// signal handler: write(2), no allocation, no stdio.
#include "validator/fault_reports.h"

#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>

#include "validator/binary.h"
#include "validator/clock_and_allocator.h"

#if defined(__SANITIZE_ADDRESS__)
#define VELORA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELORA_SANITIZED 1
#endif
#endif

namespace velora::validator {
namespace fault_reports {

void Write(const char* text)
{
    std::size_t length = std::strlen(text);
    while (length > 0) {
        const ssize_t written = write(STDERR_FILENO, text, length);
        if (written <= 0) {
            return;
        }
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

}  // namespace fault_reports

namespace {

using fault_reports::Write;
using fault_reports::WriteNumber;
using fault_reports::WriteReplay;

void OnCrash(int signal)
{
    Write("velora_validator: FAULT: crash (signal ");
    WriteNumber(static_cast<std::uint64_t>(signal));
    Write(")");
    WriteReplay();
    _exit(2);
}

void OnSanitizerDeath()
{
    Write("velora_validator: FAULT: sanitizer report above");
    WriteReplay();
}

// Every second: a call that has been running for the limit is a hang.
void OnTimer(int)
{
    if (fault_reports::ReportedHang()) {
        _exit(3);
    }
}

void InstallHandlers()
{
    static char alternateStack[1 << 16];
    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    sigaltstack(&stack, nullptr);

    struct sigaction crash {};
    crash.sa_handler = &OnCrash;
    crash.sa_flags = SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&crash.sa_mask);
#ifdef VELORA_SANITIZED
    // The sanitizers report memory faults themselves (see main).
    const int signals[] = {SIGABRT};
#else
    const int signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
#endif
    for (int signal : signals) {
        sigaction(signal, &crash, nullptr);
    }

    struct sigaction timer {};
    timer.sa_handler = &OnTimer;
    timer.sa_flags = SA_RESTART;
    sigemptyset(&timer.sa_mask);
    sigaction(SIGALRM, &timer, nullptr);
    itimerval every{};
    every.it_interval.tv_sec = 1;
    every.it_value.tv_sec = 1;
    setitimer(ITIMER_REAL, &every, nullptr);
}

}  // namespace

void InstallFaultReports(std::uint64_t seed, const char* plugin, int limitSeconds)
{
    fault_reports::Remember(seed, plugin, limitSeconds);
    // A sanitizer that ends the process tells the replay first.
    SetSanitizerDeathCallback(&OnSanitizerDeath);
    InstallHandlers();
}

}  // namespace velora::validator
