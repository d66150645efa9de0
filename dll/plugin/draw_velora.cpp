// The plug-in object: factory, service acquisition and interface negotiation.
#include "plugin/draw_velora.h"

#include <new>
#include <optional>

#include "contract/exports.h"
#include "contract/host_modules.h"
#include "contract/messages.h"
#include "effect/instance_registry.h"
#include "effect/motion.h"
#include "platform/platform.h"
#include "plugin/guarded.h"
#include "render/frame_renderer.h"

namespace velora {

CDrawVelora* currentPlugin = nullptr;

void* GetQuenIF(const char* moduleName, const char* exportName, const Guid* iid)
{
    // Looked up afresh each time; the module must already be loaded.
    platform::ModuleHandle module = platform::FindLoadedModule(moduleName);
    if (!module) {
        platform::DebugOutput(messages::kModuleNotLoaded);
        return nullptr;
    }
    const auto factory = reinterpret_cast<modules::HostFactory>(platform::FindExport(module, exportName));
    if (!factory) {
        platform::DebugOutput(messages::kExportMissing);
        return nullptr;
    }
    void* iface = factory(iid);
    if (!iface) {
        platform::DebugOutput(messages::kServiceRefused);
    }
    return iface;
}

CDrawVelora::CDrawVelora()
{
    // Acquired in this order, each whatever became of the others; the fields
    // keep whatever came back, null included.
    using namespace modules;
    mainSystem = static_cast<IMainSystem*>(GetQuenIF(kMainSystem, kMainSystemExport, &IID_MainSystem));
    graphBlend = static_cast<IGraphBlend*>(GetQuenIF(kGraph, kGraphExport, &IID_GraphBlend));
    graphFilter = static_cast<IGraphFilter*>(GetQuenIF(kGraph, kGraphExport, &IID_GraphFilter));
    surfaceFactory = static_cast<ISurfaceFactory*>(
        GetQuenIF(kSurfaceFactory, kSurfaceFactoryExport, &IID_SurfaceFactory));
}

std::int32_t VELORA_METHOD CDrawVelora::Retain() { return 1; }

std::int32_t VELORA_METHOD CDrawVelora::Destroy()
{
    Guarded([this] {
        Instances().Clear();
        if (currentPlugin == this) {
            currentPlugin = nullptr;
        }
        delete this;
    });
    return 0;
}

void VELORA_METHOD CDrawVelora::SetInterface(const Guid* iid, void* iface)
{
    Guarded([&] {
        if (!iid) {
            platform::DebugOutput(messages::kSetInterfaceNullGuid);
        } else if (!iface) {
            // A null interface never clears a field.
            platform::DebugOutput(messages::kSetInterfaceNullInterface);
        } else if (GuidEquals(iid, &IID_DrawHost)) {
            drawHost = static_cast<IDrawHost*>(iface);
        } else if (GuidEquals(iid, &IID_SpriteBank)) {
            spriteBank = static_cast<ISpriteBank*>(iface);
        } else {
            platform::DebugOutput(messages::kSetInterfaceUnsupportedGuid);
        }
    });
}

std::int32_t VELORA_METHOD CDrawVelora::Update()
{
    std::int32_t result = 0;
    Guarded([&] {
        // Before the host has handed over IDrawHost there is no one to tell.
        if (drawHost) {
            result = drawHost->ReportRect(lastHandle, 0, 0, 640, 480);
        }
    });
    return result;
}

std::int32_t VELORA_METHOD CDrawVelora::Draw(std::int32_t handle, ISurface* destination, std::int32_t,
                                             std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                             std::int32_t, std::int32_t rate)
{
    // The result carries no meaning for the host.
    Guarded([&] {
        // A handle without a started instance gets no host call and no step.
        EffectInstance* instance = Instances().Find(handle);
        if (!instance || !instance->started) {
            return;
        }
        const HostServices services{spriteBank, surfaceFactory, graphBlend, graphFilter};
        ScratchSurface scratch(surfaceFactory, destination);
        if (const std::optional<std::int32_t> spriteSize = DrawFrame(services, *instance, destination, rate, scratch)) {
            StepParticles(*instance, *spriteSize);
        }
        scratch.Destroy();
    });
    return 0;
}

}  // namespace velora

extern "C" velora::IDrawPlugin* VELORA_CDECL CreateInterface(const velora::Guid* iid)
{
    using namespace velora;
    IDrawPlugin* result = nullptr;
    Guarded([&] {
        if (!iid) {
            platform::DebugOutput(messages::kCreateInterfaceNullGuid);
        } else if (!GuidEquals(iid, &IID_DrawPlugin)) {
            platform::DebugOutput(messages::kCreateInterfaceUnsupportedGuid);
        } else {
            // Without storage there is no current object any more, and no message.
            currentPlugin = new (std::nothrow) CDrawVelora;
            result = currentPlugin;
        }
    });
    return result;
}
