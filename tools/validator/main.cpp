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
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "validator/binary.h"
#include "validator/choice_stream.h"
#include "validator/clock_and_allocator.h"
#include "validator/driver.h"
#include "validator/fault_reports.h"
#include "validator/host.h"

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
#if defined(_WIN32)
        const char* clockFunction = "GetTickCount";
        const char* hint = "does the plug-in import it from KERNEL32.dll?";
#else
        const char* clockFunction = "clock_gettime";
        const char* hint = "is the executable linked with its symbols exported?";
#endif
        std::fprintf(stderr,
                     "velora_validator: the plug-in's %s does not reach the validator's clock "
                     "(%llu readings in Init instead of 1); %s\n",
                     clockFunction, static_cast<unsigned long long>(clock.reads - readsBefore), hint);
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
    std::fflush(stdout);  // before anything at exit could end the process
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
    InstallFaultReports(options.seed, options.plugin.c_str(), options.callLimitSeconds);

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
