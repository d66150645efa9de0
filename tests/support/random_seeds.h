// Seeds that make the shared random source yield chosen draws, so tests can
// put exact values (16384, 32767, ...) into exact draw positions.
#pragma once

#include <cstdint>

namespace velora::testing {

// The generator's step is state' = state * 214013 + 2531011 (mod 2^32), a
// bijection; stepping it backwards needs the multiplier's inverse.
constexpr std::uint32_t InverseMultiplier()
{
    std::uint32_t inverse = 214013u;  // Newton's iteration doubles the correct bits
    for (int i = 0; i < 5; ++i) {
        inverse *= 2u - 214013u * inverse;
    }
    return inverse;
}
static_assert(214013u * InverseMultiplier() == 1u);

// A seed after which draw number `position` (1 for the first) yields `value`.
constexpr std::uint32_t SeedForDraw(int position, int value)
{
    std::uint32_t state = static_cast<std::uint32_t>(value) << 16 | 0x1234u;
    for (int i = 0; i < position; ++i) {
        state = (state - 2531011u) * InverseMultiplier();
    }
    return state;
}

}  // namespace velora::testing
