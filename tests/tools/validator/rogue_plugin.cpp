// A library with the plug-in's nine exports that misbehaves on purpose, for
// the validator's own tests: its Init crashes, never returns, or does not read
// the clock, as VELORA_ROGUE (crash, hang, noclock) says.
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#define ROGUE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

bool Is(const char* mode)
{
    const char* rogue = std::getenv("VELORA_ROGUE");
    return rogue && std::strcmp(rogue, mode) == 0;
}

}  // namespace

ROGUE_EXPORT void* CreateInterface(const void*) { return nullptr; }

ROGUE_EXPORT void Init(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t)
{
    if (Is("crash")) {
        volatile int* nowhere = nullptr;
        *nowhere = 1;
    }
    if (Is("hang")) {
        for (;;) {
            pause();
        }
    }
    if (!Is("noclock")) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
    }
}

ROGUE_EXPORT void Start(std::int32_t) {}
ROGUE_EXPORT void Release(std::int32_t) {}
ROGUE_EXPORT void SetType(std::int32_t, std::int32_t) {}
ROGUE_EXPORT void SetNumof(std::int32_t, std::int32_t) {}
ROGUE_EXPORT void SetMaxAmp(std::int32_t, std::int32_t) {}
ROGUE_EXPORT void SetXSpeed(std::int32_t, float) {}
ROGUE_EXPORT void SetYSpeed(std::int32_t, float) {}
