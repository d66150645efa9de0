// The registry's one instance, for the whole process: the plug-in object and
// the control exports reach the same effects through Instances().
#include "effect/instance_registry.h"

#include <utility>

namespace velora {
namespace {
InstanceRegistry registry;
}  // namespace

InstanceRegistry& Instances() { return registry; }

EffectInstance* InstanceRegistry::Find(std::int32_t handle) const
{
    const auto it = instances_.find(handle);
    return it == instances_.end() ? nullptr : it->second.get();
}

void InstanceRegistry::Add(std::int32_t handle, std::unique_ptr<EffectInstance> instance)
{
    instances_.try_emplace(handle, std::move(instance));
}

void InstanceRegistry::Remove(std::int32_t handle) { instances_.erase(handle); }

void InstanceRegistry::Clear() { instances_.clear(); }

}  // namespace velora
