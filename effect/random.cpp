#include "effect/random.h"

namespace velora {
namespace {
std::uint32_t state = 1;  // the runtime's state before any srand
}  // namespace

void SeedRandom(std::uint32_t seed) { state = seed; }

int DrawRandom()
{
    state = state * 214013u + 2531011u;  // modulo 2^32 by unsigned wrap
    return static_cast<int>((state >> 16) & 0x7FFFu);
}

}  // namespace velora
