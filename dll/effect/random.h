// The process's shared pseudo-random source, with the C runtime's contract:
// seeding sets the state, each draw yields 0..32767. On Windows it is the C
// runtime's srand and rand themselves, shared with the engine; elsewhere the
// classic runtime generator stands in, so a given seed lays particles out
// exactly as the engine platform's own rand() would.
//
// Init reseeds it from the tick count; only spawning draws from it.
#pragma once

#include <cstdint>

namespace velora {

inline constexpr int kRandomMax = 32767;

void SeedRandom(std::uint32_t seed);
int DrawRandom();

}  // namespace velora
