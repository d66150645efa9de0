// Numeric helpers shared by spawning, motion and frame selection.
//
// Particle state is 32-bit float, but every formula is evaluated in double
// and rounded to float only where the result is stored. These helpers make
// the few integer operations whose overflow C++ leaves undefined wrap the
// way 32-bit machine arithmetic does.
#pragma once

#include <cstdint>

namespace velora {

// The double nearest pi: 2 * acos(0) as the runtime computes it.
inline constexpr double kPi = 3.141592653589793;
// The double nearest 2 pi: 4 * acos(0).
inline constexpr double kTwoPi = 6.283185307179586;

// a + b with the 32-bit wrap of machine addition.
constexpr std::int32_t WrappingAdd(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

// a * b with the 32-bit wrap of machine multiplication.
constexpr std::int32_t WrappingMultiply(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

}  // namespace velora
