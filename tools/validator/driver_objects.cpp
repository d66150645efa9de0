// The driver's calls of CreateInterface and of the operations of plug-in
// objects (Retain, Destroy, SetInterface, Update, Draw), each checked against
// the model (driver.h).
#include <algorithm>
#include <vector>

#include "contract/messages.h"
#include "validator/driver_calls.h"

namespace velora::validator {

using driver_detail::kRates;
using driver_detail::PickInt;
using driver_detail::Text;

void Driver::DoCreateInterface(Choices& c)
{
    Guid iid = IID_DrawPlugin;
    const Guid* argument = &iid;
    std::uint32_t pick = c.Below(20);
    if (objects_.size() >= limits_.maxObjects && (pick < 14 || pick == 19)) {
        pick = 14 + c.Below(5);  // no room for another: a GUID that makes none
    }
    if (pick == 14) {
        argument = nullptr;
    } else if (pick < 18 && pick >= 15) {
        reinterpret_cast<std::uint8_t*>(&iid)[c.Below(16)] ^= static_cast<std::uint8_t>(1u << c.Below(8));
    } else if (pick == 18) {
        static const Guid kOthers[] = {IID_DrawHost, IID_SpriteBank, IID_MainSystem, IID_GraphBlend,
                                       IID_GraphFilter, IID_SurfaceFactory};
        iid = c.From(kOthers);
    }
    const bool ours = argument && SameGuid(iid, IID_DrawPlugin);

    void* object = nullptr;
    Describe("%s", !argument ? "null" : ours ? "IID_DrawPlugin" : "another GUID");
    const Outcome outcome = Run(CallKind::CreateInterface, "CreateInterface",
                                [&] { object = plugin_.CreateInterface(argument); });

    std::string messages;
    std::vector<std::pair<Module, Guid>> factories;
    const bool made = ours && outcome.failures == 0;
    if (!argument) {
        messages = messages::kCreateInterfaceNullGuid;
    } else if (!ours) {
        messages = messages::kCreateInterfaceUnsupportedGuid;
    } else if (made) {
        const std::pair<Module, Guid> services[] = {{Module::MainSystem, IID_MainSystem},
                                                    {Module::Graph, IID_GraphBlend},
                                                    {Module::Graph, IID_GraphFilter},
                                                    {Module::SurfaceFactory, IID_SurfaceFactory}};
        for (const auto& [module, guid] : services) {
            switch (modules_.Get(static_cast<int>(module))) {
            case HostModules::State::Unloaded:
                messages += messages::kModuleNotLoaded;
                break;
            case HostModules::State::WithoutFactory:
                messages += messages::kExportMissing;
                break;
            case HostModules::State::WithFactory:
                factories.emplace_back(module, guid);
                if (host_.ModuleRefuses(module)) {
                    messages += messages::kServiceRefused;
                }
                break;
            }
        }
    }
    ExpectMessages(outcome, "CreateInterface", messages);
    ExpectReads(outcome, "CreateInterface", 0);
    const auto& asked = host_.FactoryCalls();
    bool sameFactories = asked.size() == factories.size();
    for (std::size_t i = 0; sameFactories && i < asked.size(); ++i) {
        sameFactories = asked[i].first == factories[i].first && SameGuid(asked[i].second, factories[i].second);
    }
    Expect(sameFactories, "CreateInterface",
           "asked the host modules' factories " + Text(static_cast<std::int64_t>(asked.size())) +
               " times, not once per loaded module in acquisition order");

    if (made) {
        Expect(object != nullptr, "CreateInterface", "no object for the plug-in's own GUID");
    } else {
        Expect(object == nullptr, "CreateInterface",
               ours ? "an object although its allocation failed" : "an object for a foreign or null GUID");
    }
    if (ours && outcome.failures > 0) {
        current_ = nullptr;  // no storage: no current object any more
    }
    if (!object) {
        return;
    }
    if (std::any_of(objects_.begin(), objects_.end(), [&](const Object& o) { return o.object == object; })) {
        host_.Fault("CreateInterface: returned an object that is still alive");
        return;
    }
    objects_.push_back(Object{object});
    current_ = object;
    if (!c.OneIn(8)) {
        pending_.emplace_back(object, 0);
        pending_.emplace_back(object, 1);
    }
}

void Driver::DoRetain(Choices& c)
{
    void* object = objects_[PickObject(c)].object;
    std::int32_t result = 0;
    Describe("object %p", object);
    const Outcome outcome = Run(CallKind::Quiet, "Retain", [&] { result = operations::Retain(object); });
    Expect(result == 1, "Retain", "answered " + Text(result) + ", not 1");
    ExpectMessages(outcome, "Retain", "");
    ExpectReads(outcome, "Retain", 0);
}

void Driver::DoDestroy(std::size_t which)
{
    void* object = objects_[which].object;
    std::int32_t result = -1;
    Describe("object %p", object);
    const Outcome outcome = Run(CallKind::Quiet, "Destroy", [&] { result = operations::Destroy(object); });
    Expect(result == 0, "Destroy", "answered " + Text(result) + ", not 0");
    ExpectMessages(outcome, "Destroy", "");
    ExpectReads(outcome, "Destroy", 0);
    objects_.erase(objects_.begin() + static_cast<std::ptrdiff_t>(which));
    instances_.clear();  // the whole registry, whichever object made the instances
    if (current_ == object) {
        current_ = nullptr;
    }
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                  [object](const auto& p) { return p.first == object; }),
                   pending_.end());
}

void Driver::DoSetInterface(Choices& c, std::size_t which, int wanted)
{
    Object& target = objects_[which];
    // What the host hands over: its draw host or sprite bank under the right
    // GUID, or a null, or a GUID the plug-in does not take.
    Guid iid = IID_DrawHost;
    const Guid* argument = &iid;
    void* iface = nullptr;
    int kind = wanted;
    if (kind < 0) {
        kind = static_cast<int>(c.Below(7));
    }
    switch (kind) {
    case 0:
        iface = static_cast<IDrawHost*>(host_.DrawHost());
        break;
    case 1:
        iid = IID_SpriteBank;
        iface = static_cast<ISpriteBank*>(host_.SpriteBank());
        break;
    case 2:
        iid = c.OneIn(2) ? IID_DrawHost : IID_SpriteBank;
        break;  // a null interface never clears a field
    case 3:
        argument = nullptr;
        iface = c.OneIn(2) ? static_cast<void*>(host_.SpriteBank()) : nullptr;
        break;
    case 4: {
        static const Guid kOthers[] = {IID_DrawPlugin, IID_MainSystem, IID_GraphBlend, IID_GraphFilter,
                                       IID_SurfaceFactory};
        iid = c.From(kOthers);
        iface = static_cast<ISpriteBank*>(host_.SpriteBank());
        break;
    }
    default:
        iid = c.OneIn(2) ? IID_DrawHost : IID_SpriteBank;
        reinterpret_cast<std::uint8_t*>(&iid)[c.Below(16)] ^= static_cast<std::uint8_t>(1u << c.Below(8));
        iface = static_cast<ISpriteBank*>(host_.SpriteBank());
        break;
    }
    void* object = target.object;
    Describe("object %p, case %d, iface %p", object, kind, iface);
    const Outcome outcome =
        Run(CallKind::Quiet, "SetInterface", [&] { operations::SetInterface(object, argument, iface); });

    std::string messages;
    if (!argument) {
        messages = messages::kSetInterfaceNullGuid;
    } else if (!iface) {
        messages = messages::kSetInterfaceNullInterface;
    } else if (SameGuid(iid, IID_DrawHost)) {
        target.drawHost = true;
    } else if (SameGuid(iid, IID_SpriteBank)) {
        target.spriteBank = true;
    } else {
        messages = messages::kSetInterfaceUnsupportedGuid;
    }
    ExpectMessages(outcome, "SetInterface", messages);
    ExpectReads(outcome, "SetInterface", 0);
}

void Driver::DoUpdate(Choices& c)
{
    const Object& target = objects_[PickObject(c)];
    host_.SetReportAnswer(c.AnyInt32());
    void* object = target.object;
    host_.ExpectReport(target.drawHost, target.lastHandleKnown, target.lastHandle);
    std::int32_t result = 0;
    Describe("object %p", object);
    const Outcome outcome = Run(CallKind::Update, "Update", [&] { result = operations::Update(object); });
    if (target.drawHost) {
        Expect(result == host_.ReportAnswer(), "Update",
               "answered " + Text(result) + ", not ReportRect's " + Text(host_.ReportAnswer()));
    }
    ExpectMessages(outcome, "Update", "");
    ExpectReads(outcome, "Update", 0);
}

void Driver::DoDraw(Choices& c)
{
    if (objects_.empty()) {
        DoCreateInterface(c);
        return;
    }
    const Object& target = objects_[PickObject(c)];
    const std::int32_t handle = PickHandle(c);
    const std::uint32_t pickDestination = c.Below(16);
    ISurface* destination = pickDestination < 12 ? host_.Destination(0)
                            : pickDestination < 15 ? host_.Destination(static_cast<int>(pickDestination - 11))
                                                   : nullptr;
    std::int32_t ignored[6] = {0, 0, 0, 0, 0, 0};
    if (c.OneIn(5)) {
        for (std::int32_t& word : ignored) {
            word = c.AnyInt32();
        }
    }
    const std::int32_t rate = PickInt(c, kRates, 0, 255);

    DrawExpectation expectation;
    const auto it = instances_.find(handle);
    const Instance* instance = it == instances_.end() ? nullptr : &it->second;
    expectation.started = instance && instance->started;
    if (instance) {
        expectation.width = instance->width;
        expectation.height = instance->height;
        expectation.type = instance->type;
        expectation.baseSprite = instance->baseSprite;
        expectation.spriteCount = instance->spriteCount;
        expectation.rotationFrames = instance->rotationFrames;
        expectation.particles = instance->particles;
    }
    expectation.hasBank = target.spriteBank;
    expectation.destination = destination;
    expectation.rate = rate;
    host_.ExpectDraw(expectation);

    void* object = target.object;
    Describe("object %p, handle %d, destination %p, rate %d; %s, type %d, %lld particles", object, handle,
             static_cast<void*>(destination), rate, expectation.started ? "started" : "not started",
             expectation.type, static_cast<long long>(expectation.particles));
    const Outcome outcome = Run(CallKind::Draw, "Draw", [&] {
        operations::Draw(object, handle, destination, ignored, rate);
    });
    if (!expectation.started) {
        ExpectReads(outcome, "Draw", 0);
    } else if (target.spriteBank && host_.SpriteFor(instance->baseSprite)) {
        ExpectReads(outcome, "Draw", 2);  // one motion step
    } else {
        Expect(outcome.clockReads == 0 || outcome.clockReads == 2, "Draw",
               "read the clock " + Text(static_cast<std::int64_t>(outcome.clockReads)) + " times");
    }
    Expect(outcome.allocations == 0, "Draw",
           "allocated memory " + Text(static_cast<std::int64_t>(outcome.allocations)) + " times");
    ExpectMessages(outcome, "Draw", "");
}

}  // namespace velora::validator
