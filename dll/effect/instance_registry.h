// The process-wide map from script handles to the effect instances it owns.
//
// Handles are chosen by the scripts, never handed out here. Only Init adds;
// Release removes one; the plug-in object's Destroy clears them all.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "effect/effect_instance.h"

namespace velora {

class InstanceRegistry {
public:
    // The instance registered under handle, or nullptr. Never changes anything.
    EffectInstance* Find(std::int32_t handle) const;

    // Registers instance under a handle that has none; a taken handle keeps
    // its instance and the offered one is dropped.
    void Add(std::int32_t handle, std::unique_ptr<EffectInstance> instance);

    // Destroys the handle's instance, if any, and forgets the handle.
    void Remove(std::int32_t handle);

    // Destroys every instance.
    void Clear();

    std::size_t Size() const { return instances_.size(); }

private:
    std::map<std::int32_t, std::unique_ptr<EffectInstance>> instances_;
};

// The one registry of the process, built empty when the library loads.
InstanceRegistry& Instances();

}  // namespace velora
