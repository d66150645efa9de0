// The two generators behind SeedRandom and DrawRandom: the Windows C
// runtime's own, or the same classic sequence written out elsewhere.
#include "effect/random.h"

#if defined(_WIN32)
#include <cstdlib>
#endif

namespace velora {

#if defined(_WIN32)
// Windows: the C runtime's own generator (msvcrt.dll's srand and rand, range
// 0 to 32767), which the engine shares: a host's srand between Init and
// Start changes the layout, and Init reseeds the host's rand as well.
static_assert(RAND_MAX == kRandomMax, "the Windows runtime's rand must yield 0..32767");

void SeedRandom(std::uint32_t seed) { std::srand(seed); }

int DrawRandom() { return std::rand(); }
#else
// Elsewhere the runtime's rand has another range (Linux: 0 to 2^31 - 1), so
// the classic generator stands in for it, with the same sequence as the
// Windows runtime's for every seed.
namespace {
std::uint32_t state = 1;  // the runtime's state before any srand
}  // namespace

void SeedRandom(std::uint32_t seed) { state = seed; }

int DrawRandom()
{
    state = state * 214013u + 2531011u;  // modulo 2^32 by unsigned wrap
    return static_cast<int>((state >> 16) & 0x7FFFu);
}
#endif

}  // namespace velora
