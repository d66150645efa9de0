// Shared set-up for tests of the effect core: an empty registry, a controlled
// clock, and no current plug-in object unless a test installs one.
#pragma once

#include <gtest/gtest.h>

#include "effect/instance_registry.h"
#include "plugin/draw_velora.h"
#include "support/fake_clock.h"

namespace velora::testing {

class EffectTest : public ::testing::Test {
protected:
    EffectTest() { Instances().Clear(); }
    ~EffectTest() override
    {
        Instances().Clear();
        currentPlugin = nullptr;
    }

    static EffectInstance* Find(std::int32_t handle) { return Instances().Find(handle); }

    FakeClock clock;
};

}  // namespace velora::testing
