// The plug-in library's nine exports: their names, their signatures as
// function-pointer types, and their declarations for a host that links the
// plug-in directly. All are plain __cdecl functions with undecorated names.
//
// The control functions name an effect by a handle of the script's choosing
// and report nothing: no result, no message. Every argument is one 32-bit
// value.
#pragma once

#include <cstdint>

#include "contract/abi.h"
#include "contract/guid.h"
#include "contract/plugin_interfaces.h"

namespace velora::exports {

// The factory: a new plug-in object for IID_DrawPlugin, else null.
using CreateInterfaceFn = IDrawPlugin*(VELORA_CDECL*)(const Guid* iid);
// Init(handle, width, height, baseSprite, spriteCount, rotationFrames).
using InitFn = void(VELORA_CDECL*)(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                   std::int32_t);
// Start(handle) and Release(handle).
using HandleFn = void(VELORA_CDECL*)(std::int32_t handle);
// SetType, SetNumof and SetMaxAmp(handle, value).
using SetIntFn = void(VELORA_CDECL*)(std::int32_t handle, std::int32_t value);
// SetXSpeed and SetYSpeed(handle, value).
using SetFloatFn = void(VELORA_CDECL*)(std::int32_t handle, float value);

inline constexpr char kCreateInterface[] = "CreateInterface";
inline constexpr char kInit[] = "Init";
inline constexpr char kStart[] = "Start";
inline constexpr char kRelease[] = "Release";
inline constexpr char kSetType[] = "SetType";
inline constexpr char kSetNumof[] = "SetNumof";
inline constexpr char kSetMaxAmp[] = "SetMaxAmp";
inline constexpr char kSetXSpeed[] = "SetXSpeed";
inline constexpr char kSetYSpeed[] = "SetYSpeed";

// All nine, in this order; the library exports these and no other names.
inline constexpr const char* kNames[] = {kCreateInterface, kInit,      kStart,     kRelease,  kSetType,
                                         kSetNumof,        kSetMaxAmp, kSetXSpeed, kSetYSpeed};

// The nine entry points of one loaded library.
struct PluginExports {
    CreateInterfaceFn CreateInterface = nullptr;
    InitFn Init = nullptr;
    HandleFn Start = nullptr;
    HandleFn Release = nullptr;
    SetIntFn SetType = nullptr;
    SetIntFn SetNumof = nullptr;
    SetIntFn SetMaxAmp = nullptr;
    SetFloatFn SetXSpeed = nullptr;
    SetFloatFn SetYSpeed = nullptr;
};

}  // namespace velora::exports

// For a host that links the plug-in itself (its tests, the studio's
// WebAssembly build) rather than loading it.
extern "C" {
VELORA_EXPORT velora::IDrawPlugin* VELORA_CDECL CreateInterface(const velora::Guid* iid);
// Reseeds the random source from the tick count, registers a fresh instance
// under handle unless one is there, and records handle, width and height in
// the latest plug-in object.
VELORA_EXPORT void VELORA_CDECL Init(std::int32_t handle, std::int32_t width, std::int32_t height,
                                     std::int32_t baseSprite, std::int32_t spriteCount,
                                     std::int32_t rotationFrames);
// Spawns numof particles and starts (or restarts) the instance.
VELORA_EXPORT void VELORA_CDECL Start(std::int32_t handle);
// Destroys the handle's instance; harmless for a handle without one.
VELORA_EXPORT void VELORA_CDECL Release(std::int32_t handle);
// The five setters store the value and nothing else; it takes effect where it
// is next read (type at the next Draw, numof at the next Start, the rest at
// the next motion step). A handle without an instance makes them do nothing.
VELORA_EXPORT void VELORA_CDECL SetType(std::int32_t handle, std::int32_t type);
VELORA_EXPORT void VELORA_CDECL SetNumof(std::int32_t handle, std::int32_t numof);
VELORA_EXPORT void VELORA_CDECL SetMaxAmp(std::int32_t handle, std::int32_t maxAmp);
VELORA_EXPORT void VELORA_CDECL SetXSpeed(std::int32_t handle, float xSpeed);
VELORA_EXPORT void VELORA_CDECL SetYSpeed(std::int32_t handle, float ySpeed);
}  // extern "C"
