// The Windows build of the library that misbehaves on purpose, for the
// validator's own tests: its Init crashes with an access violation, never
// returns, or does not read the clock, as VELORA_ROGUE (crash, hang,
// noclock) says. It imports timeGetTime, GetTickCount and malloc, as the
// plug-in does, so that the validator accepts it.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#define ROGUE_EXPORT extern "C" __declspec(dllexport)

namespace {

void* volatile kept = nullptr;

bool Is(const char* mode)
{
    const char* rogue = std::getenv("VELORA_ROGUE");
    return rogue && std::strcmp(rogue, mode) == 0;
}

}  // namespace

ROGUE_EXPORT void* __cdecl CreateInterface(const void*)
{
    kept = std::malloc(static_cast<std::size_t>(timeGetTime() & 1u) + 1);
    std::free(kept);
    return nullptr;
}

ROGUE_EXPORT void __cdecl Init(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t)
{
    if (Is("crash")) {
        volatile int* nowhere = nullptr;
        *nowhere = 1;
    }
    if (Is("hang")) {
        for (;;) {
            Sleep(INFINITE);
        }
    }
    if (!Is("noclock")) {
        GetTickCount();
    }
}

ROGUE_EXPORT void __cdecl Start(std::int32_t) {}
ROGUE_EXPORT void __cdecl Release(std::int32_t) {}
ROGUE_EXPORT void __cdecl SetType(std::int32_t, std::int32_t) {}
ROGUE_EXPORT void __cdecl SetNumof(std::int32_t, std::int32_t) {}
ROGUE_EXPORT void __cdecl SetMaxAmp(std::int32_t, std::int32_t) {}
ROGUE_EXPORT void __cdecl SetXSpeed(std::int32_t, float) {}
ROGUE_EXPORT void __cdecl SetYSpeed(std::int32_t, float) {}
