// The driver's loop (driver.h): each step changes the host and the clock,
// then picks the call to make; and what every call checks afterwards. The
// calls themselves are in driver_objects.cpp (CreateInterface and the
// operations of plug-in objects) and driver_instances.cpp (the exports that
// take a handle).
#include "validator/driver.h"

#include <algorithm>
#include <cstdarg>
#include <iterator>

#include "validator/driver_calls.h"

namespace velora::validator {
namespace {

constexpr std::int32_t kHandles[] = {0, 1, 2, 3, -1, 77, INT_MIN, INT_MAX};

}  // namespace

using driver_detail::Text;

Driver::Driver(PluginLibrary& plugin, HostModules& modules, Host& host, MessageCapture& capture, Limits limits)
    : plugin_(plugin), modules_(modules), host_(host), capture_(capture), limits_(limits)
{
}

void Driver::Describe(const char* format, ...)
{
    if (!limits_.trace) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vsnprintf(detail_, sizeof detail_, format, args);
    va_end(args);
}

void Driver::Expect(bool condition, const char* call, const std::string& what)
{
    if (!condition) {
        host_.Fault(std::string(call) + ": " + what);
    }
}

void Driver::ExpectMessages(const Outcome& outcome, const char* call, const std::string& expected)
{
    if (outcome.messages != expected) {
        std::string shown = outcome.messages.empty() ? "nothing" : outcome.messages;
        std::replace(shown.begin(), shown.end(), '\n', '|');
        std::string wanted = expected.empty() ? "nothing" : expected;
        std::replace(wanted.begin(), wanted.end(), '\n', '|');
        host_.Fault(std::string(call) + ": wrote \"" + shown + "\" to standard error, expected \"" + wanted + "\"");
    }
}

void Driver::ExpectReads(const Outcome& outcome, const char* call, std::uint64_t reads)
{
    Expect(outcome.clockReads == reads, call,
           "read the clock " + Text(static_cast<std::int64_t>(outcome.clockReads)) + " times, expected " +
               Text(static_cast<std::int64_t>(reads)));
}

std::int32_t Driver::PickHandle(Choices& c)
{
    // Mostly handles that have an instance, so that the calls reach one.
    if (!instances_.empty() && c.Below(4) != 0) {
        auto it = instances_.begin();
        std::advance(it, c.Below(static_cast<std::uint32_t>(instances_.size())));
        return it->first;
    }
    return c.OneIn(20) ? c.AnyInt32() : c.From(kHandles);
}

std::size_t Driver::PickObject(Choices& c)
{
    // Callers make sure there is one.
    return c.Below(static_cast<std::uint32_t>(objects_.size()));
}

void Driver::Step(Choices& choices)
{
    Choices& c = choices;
    ChangeHost(c);
    MoveClock(c);
    if (!setupError_.empty()) {
        return;
    }
    if (!pending_.empty()) {
        const auto [object, wanted] = pending_.front();
        pending_.erase(pending_.begin());
        const auto it = std::find_if(objects_.begin(), objects_.end(),
                                     [object = object](const Object& o) { return o.object == object; });
        if (it != objects_.end()) {
            DoSetInterface(c, static_cast<std::size_t>(it - objects_.begin()), wanted);
            return;
        }
    }
    if (c.OneIn(200)) {
        Allocation().failNext = true;  // for the call about to run
    }
    const std::uint32_t pick = c.Below(1000);
    const bool needsObject = (pick >= 15 && pick < 20) || pick >= 700;
    if (pick < 15 || (needsObject && objects_.empty())) {
        DoCreateInterface(c);
    } else if (pick < 20) {
        DoDestroy(PickObject(c));
    } else if (pick < 80) {
        DoInit(c);
    } else if (pick < 140) {
        DoStart(c);
    } else if (pick < 160) {
        DoRelease(c);
    } else if (pick < 385) {
        DoSetter(c, static_cast<int>((pick - 160) / 45));
    } else if (pick < 700) {
        DoDraw(c);
    } else if (pick < 720) {
        DoRetain(c);
    } else if (pick < 780) {
        DoSetInterface(c, PickObject(c), -1);
    } else if (pick < 830) {
        DoUpdate(c);
    } else {
        DoDraw(c);
    }
}

void Driver::ChangeHost(Choices& c)
{
    if (!c.OneIn(12)) {
        return;
    }
    switch (c.Below(16)) {
    case 0:
    case 1:
    case 2:
        host_.ConfigureSprites(c, c.OneIn(3));
        break;
    case 3:
        host_.SetFactoryRefuses(c.OneIn(6));
        break;
    case 4:
        host_.SetScratchNullAddresses(c.OneIn(6));
        break;
    case 5:
        host_.SetModuleRefuses(static_cast<Module>(c.Below(3)), c.OneIn(8));
        break;
    case 6:
        if (limits_.moduleChanges && c.OneIn(8)) {
            static constexpr HostModules::State kStates[] = {
                HostModules::State::WithFactory, HostModules::State::WithFactory, HostModules::State::WithFactory,
                HostModules::State::WithFactory, HostModules::State::WithFactory, HostModules::State::WithFactory,
                HostModules::State::Unloaded, HostModules::State::WithoutFactory};
            std::string error;
            if (!modules_.Set(static_cast<int>(c.Below(3)), c.From(kStates), error)) {
                setupError_ = error;
            }
        }
        break;
    case 7:
        if (limits_.reloads && c.OneIn(4000)) {
            Reload();
        }
        break;
    default:
        host_.SetReportAnswer(c.AnyInt32());
        break;
    }
}

void Driver::MoveClock(Choices& c)
{
    ClockControl& clock = Clock();
    const std::uint32_t pick = c.Below(1000);
    if (pick < 300) {
        // stalled: no time between two calls
    } else if (pick < 985) {
        clock.nowMs += 1 + c.Below(50);
    } else if (pick < 993) {
        clock.nowMs += 1000 + c.Below(20000);  // a pause
    } else if (pick < 996) {
        clock.nowMs += c.Bits32();  // any jump the 32-bit counter can show
    } else if (pick < 999) {
        // Up to the wrap of the 32-bit counter, or just past it.
        const std::uint64_t wrap = (clock.nowMs | 0xFFFFFFFFull) + 1;
        const std::uint64_t target = wrap - 60 + c.Below(120);
        clock.nowMs = std::max(clock.nowMs, target);
    } else {
        clock.nowMs += 0x80000000ull + c.Below(1000);  // half the counter's range
    }
    const std::uint32_t drift = c.Below(32);
    clock.perReadMs = drift < 26 ? 0 : drift < 31 ? drift - 25 : c.Bits32();
}

void Driver::Reload()
{
    Finish();
    instances_.clear();  // unloading destroys the registry
    current_ = nullptr;
    const std::string path = plugin_.Path();
    plugin_.Close();
    std::string error;
    if (!plugin_.Open(path, error)) {
        setupError_ = "reloading the plug-in: " + error;
    }
}

void Driver::Finish()
{
    while (!objects_.empty() && setupError_.empty()) {
        DoDestroy(objects_.size() - 1);
    }
    if (!instances_.empty() && setupError_.empty()) {
        // No object is left to empty the registry: make one for it.
        const Outcome outcome = Run(CallKind::CreateInterface, "CreateInterface", [&] {
            if (void* object = plugin_.CreateInterface(&IID_DrawPlugin)) {
                operations::Destroy(object);
            }
        });
        (void)outcome;  // its messages depend on the modules; checked elsewhere
        instances_.clear();
    }
    current_ = nullptr;
    pending_.clear();
}

void Driver::Reset(Choices& choices)
{
    host_.ConfigureSprites(choices, false);
    host_.SetFactoryRefuses(false);
    host_.SetScratchNullAddresses(false);
    for (int module = 0; module < 3; ++module) {
        host_.SetModuleRefuses(static_cast<Module>(module), false);
        std::string error;
        if (!modules_.Set(module, HostModules::State::WithFactory, error)) {
            setupError_ = error;
        }
    }
    Clock().nowMs = (static_cast<std::uint64_t>(choices.Below(256)) << 32) + choices.Bits32();
    Clock().perReadMs = 0;
}

}  // namespace velora::validator
