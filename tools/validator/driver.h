// The driver: random call sequences against the plug-in's binary interface,
// checked against a model of what the plug-in must do.
//
// Each Step makes one call into the plug-in (one of the nine exports, or one
// of the five operations of a plug-in object), after letting the host and the
// clock change: the clock stalls, runs, jumps and wraps; sprites go missing or
// change size; services are refused; modules come and go. The model follows
// the calls: which handles have an instance, with which settings, whether it
// was started and how many particles its last Start spawned; which plug-in
// objects live, which interfaces each was given and which services it
// acquired; which object is current and which handle its latest Init named.
//
// What the driver checks after each call, beyond what the host checks while
// the call runs (host.h):
//   - nothing thrown across the binary interface;
//   - results: Retain 1, Destroy 0, Update the draw host's answer,
//     CreateInterface an object exactly for the plug-in's GUID (unless its
//     allocation was made to fail);
//   - clock readings: Init one, a successful Start one, a failed Start none,
//     a Draw of a started instance that has its base sprite two (none or two
//     when the frame cannot be drawn at all), every other call none;
//   - debug messages on standard error: exactly the ones the call must give,
//     in order (service acquisition, refused GUIDs), and none elsewhere;
//   - the host module factories asked in acquisition order, only those loaded;
//   - Draw allocates nothing of its own.
// The particle count is not visible directly; the host sees it as the number
// of per-particle sprite fetches in a Draw (see host.h), which the model's
// count must match.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "validator/binary.h"
#include "validator/choice_stream.h"
#include "validator/host.h"

namespace velora::validator {

struct Limits {
    // Largest particle count meant to succeed; larger ones are chosen only
    // beyond the allocation cap, where they must fail.
    std::int32_t largestCount = 1 << 17;
    bool reloads = true;        // unload and reload the plug-in now and then
    bool moduleChanges = true;  // load and unload host modules between calls
    std::size_t maxObjects = 6; // plug-in objects alive at once
    bool trace = false;         // print every call on standard output
};

class Driver {
public:
    Driver(PluginLibrary& plugin, HostModules& modules, Host& host, MessageCapture& capture, Limits limits);

    // One call into the plug-in, after whatever the host and clock do first.
    void Step(Choices& choices);
    // Ends every plug-in object the driver made and empties the registry.
    void Finish();
    // The host, modules and clock as at the start of a run (after Finish).
    void Reset(Choices& choices);

    std::uint64_t Calls() const { return calls_; }
    bool Faulty() const { return host_.FaultCount() > 0; }
    // Set when loading failed (the plug-in or a host module).
    const std::string& SetupError() const { return setupError_; }

private:
    struct Instance {
        std::int32_t width, height, baseSprite, spriteCount, rotationFrames;
        std::int32_t type = 0;
        std::int32_t numof = 40;
        bool started = false;
        std::int64_t particles = 0;
    };
    struct Object {
        void* object = nullptr;
        bool drawHost = false;
        bool spriteBank = false;
        bool lastHandleKnown = false;
        std::int32_t lastHandle = 0;
    };
    struct Outcome {
        std::uint64_t clockReads = 0;
        std::uint64_t allocations = 0;
        std::uint64_t failures = 0;
        std::string messages;
    };

    template <class Call>
    Outcome Run(CallKind kind, const char* name, Call&& call);
    // What the next Run shows when tracing: the arguments of the call.
    void Describe(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Expect(bool condition, const char* call, const std::string& what);
    void ExpectMessages(const Outcome& outcome, const char* call, const std::string& expected);
    void ExpectReads(const Outcome& outcome, const char* call, std::uint64_t reads);

    void ChangeHost(Choices& c);
    void MoveClock(Choices& c);

    void DoCreateInterface(Choices& c);
    void DoRetain(Choices& c);
    void DoDestroy(std::size_t which);
    void DoSetInterface(Choices& c, std::size_t which, int wanted);
    void DoUpdate(Choices& c);
    void DoDraw(Choices& c);
    void DoInit(Choices& c);
    void DoStart(Choices& c);
    void DoRelease(Choices& c);
    void DoSetter(Choices& c, int which);
    // One setter export called with its value, then checked.
    template <class Value>
    void CallSetter(const char* name, void(VELORA_CDECL* setter)(std::int32_t, Value), std::int32_t handle,
                    Value value);
    void Reload();

    std::int32_t PickHandle(Choices& c);
    std::size_t PickObject(Choices& c);

    PluginLibrary& plugin_;
    HostModules& modules_;
    Host& host_;
    MessageCapture& capture_;
    Limits limits_;
    std::uint64_t calls_ = 0;
    std::map<std::int32_t, Instance> instances_;
    std::vector<Object> objects_;
    void* current_ = nullptr;
    // Interfaces to hand a new object in the calls after its creation.
    std::vector<std::pair<void*, int>> pending_;
    std::string setupError_;
    char detail_[256] = "";
};

}  // namespace velora::validator
