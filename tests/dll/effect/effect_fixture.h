// Shared set-up for tests of the effect core and of the control exports: an
// empty registry and a controlled clock.
#pragma once

#include <gtest/gtest.h>

#include "effect/instance_registry.h"
#include "support/fake_clock.h"

namespace velora::testing {

class EffectTest : public ::testing::Test {
protected:
    EffectTest() { Instances().Clear(); }
    ~EffectTest() override
    {
        Instances().Clear();
    }

    static EffectInstance* Find(std::int32_t handle) { return Instances().Find(handle); }

    FakeClock clock;
};

}  // namespace velora::testing
