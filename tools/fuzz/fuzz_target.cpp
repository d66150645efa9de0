// The libFuzzer target: an input's bytes decide a sequence of calls into the
// built plug-in, made and checked exactly as the validator makes and checks
// them (validator/driver.h, validator/host.h), against the same hostile host.
//
// Each input starts from the same state: no plug-in object, an empty
// registry, all host modules loaded, a well-behaved sprite bank; the bytes
// then choose every call, argument, host change and clock move, up to
// kCallsPerInput calls. A broken rule aborts with the faults on standard
// error, so libFuzzer keeps the input as a crash; memory errors and undefined
// behaviour are the sanitizers' to report, hangs libFuzzer's (-timeout).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "validator/binary.h"
#include "validator/choice_stream.h"
#include "validator/driver.h"
#include "validator/host.h"

namespace {

using namespace velora::validator;

constexpr int kCallsPerInput = 400;

struct Fuzzing {
    PluginLibrary plugin;
    Host host;
    HostModules modules{VELORA_VALIDATOR_MODULES, VELORA_VALIDATOR_BARE_MODULES};
    MessageCapture capture;
    std::unique_ptr<Driver> driver;
};

Fuzzing* fuzzing = nullptr;

[[noreturn]] void Stop(const std::string& why)
{
    std::fprintf(stderr, "velora_fuzz: %s\n", why.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzing = new Fuzzing;  // lives as long as the process
    const char* path = std::getenv("VELORA_FUZZ_PLUGIN");
    std::string error;
    if (!fuzzing->plugin.Open(path ? path : VELORA_VALIDATOR_PLUGIN, error)) {
        Stop("cannot load the plug-in: " + error);
    }
    if (!fuzzing->capture.Ok()) {
        Stop("cannot capture standard error");
    }
    SetActiveHost(&fuzzing->host);
    Limits limits;
    limits.largestCount = 4096;  // keeps every input quick
    limits.reloads = false;
    fuzzing->driver = std::make_unique<Driver>(fuzzing->plugin, fuzzing->modules, fuzzing->host,
                                               fuzzing->capture, limits);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Driver& driver = *fuzzing->driver;
    ByteChoices choices(data, size);
    driver.Reset(choices);
    for (int call = 0; call < kCallsPerInput && !choices.Exhausted(); ++call) {
        driver.Step(choices);
        if (driver.Faulty() || !driver.SetupError().empty()) {
            break;
        }
    }
    if (!driver.Faulty() && driver.SetupError().empty()) {
        driver.Finish();  // every object ends, the registry is empty again
    }
    if (!driver.SetupError().empty()) {
        Stop(driver.SetupError());
    }
    if (driver.Faulty()) {
        for (const std::string& fault : fuzzing->host.Faults()) {
            std::fprintf(stderr, "velora_fuzz: FAULT: %s\n", fault.c_str());
        }
        Stop("the plug-in broke a rule (faults above)");
    }
    return 0;
}
