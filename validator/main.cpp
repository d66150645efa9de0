// velora_validator: loads the built plug-in by path and drives long seeded
// random call sequences through its binary interface against a hostile fake
// host, checking after every call what must always hold (driver.h, host.h).
//
//   velora_validator [--seed N] [--calls N] [--plugin PATH] [--call-limit SECONDS]
//                    [--modules DIR] [--bare-modules DIR] [--trace] [--totals]
//
// --trace prints every call with its arguments, for replaying a fault;
// --totals what the run reached (draws, particles, modes, scratch surfaces).
// Prints one summary line (seed, calls, faults) and exits 0 when the run was
// clean; on a fault it tells what was found and how to replay it, and exits
// 1 (a broken rule), 2 (a crash) or 3 (a call that did not return in time).
// Setup problems (the plug-in or a host module cannot be loaded, the clock
// does not reach the plug-in) exit 4.
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "validator/binary.h"
#include "validator/choices.h"
#include "validator/controls.h"
#include "validator/driver.h"
#include "validator/host.h"

#if defined(__SANITIZE_ADDRESS__)
#define VELORA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELORA_SANITIZED 1
#endif
#endif

namespace {

using namespace velora::validator;

struct Options {
    std::uint64_t seed = 1;
    std::uint64_t calls = 100000;
    std::string plugin = VELORA_VALIDATOR_PLUGIN;
    std::string modules = VELORA_VALIDATOR_MODULES;
    std::string bareModules = VELORA_VALIDATOR_BARE_MODULES;
    int callLimitSeconds = 60;
    bool trace = false;
    bool totals = false;
};

// --- reports that must work from a signal handler -------------------------

const int reportFd = STDERR_FILENO;
std::uint64_t reportSeed = 0;
char reportPlugin[1024] = "";
int callLimitSeconds = 60;

void Write(const char* text)
{
    std::size_t length = std::strlen(text);
    while (length > 0) {
        const ssize_t written = write(reportFd, text, length);
        if (written <= 0) {
            return;
        }
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

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

// "in call N (Name); replay: velora_validator --seed S --calls N --plugin P"
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
    static std::uint64_t lastCall = 0;
    static int seconds = 0;
    const Progress& progress = CurrentProgress();
    const std::uint64_t call = progress.calls.load();
    if (!progress.inCall.load() || call != lastCall) {
        lastCall = call;
        seconds = 0;
        return;
    }
    if (++seconds >= callLimitSeconds) {
        Write("velora_validator: FAULT: hang (no return within ");
        WriteNumber(static_cast<std::uint64_t>(callLimitSeconds));
        Write(" s)");
        WriteReplay();
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

bool ParseNumber(const char* text, std::uint64_t& value)
{
    char* end = nullptr;
    value = std::strtoull(text, &end, 0);
    return end && *end == '\0' && end != text;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: velora_validator [--seed N] [--calls N] [--plugin PATH] [--modules DIR]\n"
                 "                        [--bare-modules DIR] [--call-limit SECONDS] [--trace] [--totals]\n");
    return 4;
}

// Reads the command line into options; false on anything it does not know.
bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--trace" || option == "--totals") {
            (option == "--trace" ? options.trace : options.totals) = true;
            continue;
        }
        if (i + 1 >= argc) {
            return false;
        }
        const char* value = argv[++i];
        std::uint64_t number = 0;
        if (option == "--seed" && ParseNumber(value, number)) {
            options.seed = number;
        } else if (option == "--calls" && ParseNumber(value, number)) {
            options.calls = number;
        } else if (option == "--call-limit" && ParseNumber(value, number) && number > 0 && number < 100000) {
            options.callLimitSeconds = static_cast<int>(number);
        } else if (option == "--plugin") {
            options.plugin = value;
        } else if (option == "--modules") {
            options.modules = value;
        } else if (option == "--bare-modules") {
            options.bareModules = value;
        } else {
            return false;
        }
    }
    return true;
}

// The plug-in's clock must be the validator's: its Init reads the tick count
// exactly once. False, with the reason told, when it is not.
bool ClockReachesThePlugin(PluginLibrary& plugin)
{
    ClockControl& clock = Clock();
    const std::uint64_t readsBefore = clock.reads;
    Progress& progress = CurrentProgress();
    clock.active = true;
    progress.name = "Init";
    progress.inCall = true;
    plugin.Init(INT_MIN + 1, 1, 1, 0, 1, 1);
    progress.name = "Release";
    plugin.Release(INT_MIN + 1);
    progress.inCall = false;
    clock.active = false;
    if (clock.reads - readsBefore != 1) {
        std::fprintf(stderr,
                     "velora_validator: the plug-in's clock_gettime does not reach the validator's clock "
                     "(%llu readings in Init instead of 1); is the executable linked with its symbols "
                     "exported?\n",
                     static_cast<unsigned long long>(clock.reads - readsBefore));
        return false;
    }
    return true;
}

// What the run exercised, for --totals.
void PrintTotals(const Host::Totals& t)
{
    std::printf("velora_validator: started draws by mode %llu %llu %llu %llu, other %llu\n",
                static_cast<unsigned long long>(t.startedByMode[0]), static_cast<unsigned long long>(t.startedByMode[1]),
                static_cast<unsigned long long>(t.startedByMode[2]), static_cast<unsigned long long>(t.startedByMode[3]),
                static_cast<unsigned long long>(t.startedByMode[4]));
    std::printf("velora_validator: %llu draws of started instances, %llu particle sprites fetched, drawn by "
                "mode %llu %llu %llu %llu, %llu scratch surfaces, %llu alpha reads, %llu reports, %llu "
                "module factory calls\n",
                static_cast<unsigned long long>(t.startedDraws), static_cast<unsigned long long>(t.spriteFetches),
                static_cast<unsigned long long>(t.drawnByMode[0]), static_cast<unsigned long long>(t.drawnByMode[1]),
                static_cast<unsigned long long>(t.drawnByMode[2]), static_cast<unsigned long long>(t.drawnByMode[3]),
                static_cast<unsigned long long>(t.scratches), static_cast<unsigned long long>(t.pixelReads),
                static_cast<unsigned long long>(t.reports), static_cast<unsigned long long>(t.factoryCalls));
}

// The summary line, each fault, and the replay command for the first one.
// Answers the exit status: 1 when there was a fault.
int Report(const Options& options, const Driver& driver, const Host& host)
{
    const std::uint64_t faults = host.FaultCount();
    for (const std::string& fault : host.Faults()) {
        std::fprintf(stderr, "velora_validator: FAULT: %s\n", fault.c_str());
    }
    if (options.totals) {
        PrintTotals(host.RunTotals());
    }
    std::printf("velora_validator: seed %llu, %llu calls, %llu faults, plugin %s\n",
                static_cast<unsigned long long>(options.seed), static_cast<unsigned long long>(driver.Calls()),
                static_cast<unsigned long long>(faults), options.plugin.c_str());
    if (faults > 0) {
        std::fprintf(stderr,
                     "velora_validator: first fault in call %llu (%s); replay: velora_validator --seed %llu "
                     "--calls %llu --plugin %s\n",
                     static_cast<unsigned long long>(host.FirstFaultCall()), host.FirstFaultName(),
                     static_cast<unsigned long long>(options.seed),
                     static_cast<unsigned long long>(host.FirstFaultCall()),
                     options.plugin.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        return Usage();
    }

    MessageCapture capture;
    if (!capture.Ok()) {
        std::fprintf(stderr, "velora_validator: cannot capture standard error\n");
        return 4;
    }
    reportSeed = options.seed;
    callLimitSeconds = options.callLimitSeconds;
    std::snprintf(reportPlugin, sizeof reportPlugin, "%s", options.plugin.c_str());
    // A sanitizer that ends the process tells the replay first.
    SetSanitizerDeathCallback(&OnSanitizerDeath);
    InstallHandlers();

    PluginLibrary plugin;
    std::string error;
    if (!plugin.Open(options.plugin, error)) {
        std::fprintf(stderr, "velora_validator: cannot load the plug-in %s: %s\n", options.plugin.c_str(),
                     error.c_str());
        return 4;
    }
    if (!ClockReachesThePlugin(plugin)) {
        return 4;
    }

    // The run: seeded calls until the count, a fault or a set-up error.
    Host host;
    SetActiveHost(&host);
    HostModules modules(options.modules, options.bareModules);
    Limits limits;
    limits.trace = options.trace;
    Driver driver(plugin, modules, host, capture, limits);
    SeededChoices choices(options.seed);
    driver.Reset(choices);
    while (driver.Calls() < options.calls && !driver.Faulty() && driver.SetupError().empty()) {
        driver.Step(choices);
    }
    if (!driver.Faulty()) {
        driver.Finish();  // the ends of the objects are checked too
    }
    SetActiveHost(nullptr);

    if (!driver.SetupError().empty()) {
        std::fprintf(stderr, "velora_validator: %s\n", driver.SetupError().c_str());
        return 4;
    }
    return Report(options, driver, host);
}
