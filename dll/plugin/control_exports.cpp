// The eight control exports: thin guarded trampolines over the effect
// registry, beside CreateInterface. Init also records its handle and field
// size in the latest plug-in object, which is how Update learns the handle.
//
// A handle without an instance makes Start and the setters do nothing.
#include <memory>

#include "contract/exports.h"
#include "effect/instance_registry.h"
#include "effect/random.h"
#include "effect/spawn.h"
#include "platform/platform.h"
#include "plugin/draw_velora.h"
#include "plugin/guarded.h"

namespace velora {
namespace {

// Runs change on the handle's instance, if it has one.
template <class Change>
void WithInstance(std::int32_t handle, Change&& change) noexcept
{
    Guarded([&] {
        if (EffectInstance* instance = Instances().Find(handle)) {
            change(*instance);
        }
    });
}

}  // namespace
}  // namespace velora

using velora::EffectInstance;

extern "C" {

void VELORA_CDECL Init(std::int32_t handle, std::int32_t width, std::int32_t height,
                       std::int32_t baseSprite, std::int32_t spriteCount,
                       std::int32_t rotationFrames)
{
    velora::Guarded([&] {
        velora::SeedRandom(velora::platform::TickCount());
        velora::InstanceRegistry& instances = velora::Instances();
        if (!instances.Find(handle)) {
            auto instance = std::make_unique<EffectInstance>();
            instance->baseSprite = baseSprite;
            instance->spriteCount = spriteCount;
            instance->rotationFrames = rotationFrames;
            instance->width = width;
            instance->height = height;
            instances.Add(handle, std::move(instance));
        }
    });
    // Recorded whatever the registration did; without a plug-in object
    // there is nowhere to record it.
    if (velora::CDrawVelora* plugin = velora::currentPlugin) {
        plugin->lastHandle = handle;
        plugin->lastWidth = width;
        plugin->lastHeight = height;
    }
}

void VELORA_CDECL Start(std::int32_t handle)
{
    velora::WithInstance(handle, [](EffectInstance& instance) { velora::SpawnParticles(instance); });
}

void VELORA_CDECL Release(std::int32_t handle)
{
    velora::Guarded([&] { velora::Instances().Remove(handle); });
}

void VELORA_CDECL SetType(std::int32_t handle, std::int32_t type)
{
    velora::WithInstance(handle, [&](EffectInstance& instance) { instance.type = type; });
}

void VELORA_CDECL SetNumof(std::int32_t handle, std::int32_t numof)
{
    velora::WithInstance(handle, [&](EffectInstance& instance) { instance.numof = numof; });
}

void VELORA_CDECL SetMaxAmp(std::int32_t handle, std::int32_t maxAmp)
{
    velora::WithInstance(handle, [&](EffectInstance& instance) { instance.maxAmp = maxAmp; });
}

void VELORA_CDECL SetXSpeed(std::int32_t handle, float xSpeed)
{
    velora::WithInstance(handle, [&](EffectInstance& instance) { instance.xSpeed = xSpeed; });
}

void VELORA_CDECL SetYSpeed(std::int32_t handle, float ySpeed)
{
    velora::WithInstance(handle, [&](EffectInstance& instance) { instance.ySpeed = ySpeed; });
}

}  // extern "C"
