// The eight control functions the host's scripts call, exported by name.
//
// Each names an effect by a handle of the script's choosing. They report
// nothing: no result, no message. Every argument is one 32-bit value.
#pragma once

#include <cstdint>

#include "plugin/abi.h"

extern "C" {

// Reseeds the random source, registers a fresh instance under handle unless
// one is there, and records handle, width and height in the current plug-in.
VELORA_EXPORT void VELORA_CDECL Init(std::int32_t handle, std::int32_t width, std::int32_t height,
                                     std::int32_t baseSprite, std::int32_t spriteCount,
                                     std::int32_t rotationFrames);

// Spawns numof particles and starts (or restarts) the instance.
VELORA_EXPORT void VELORA_CDECL Start(std::int32_t handle);

// Destroys the handle's instance; harmless for a handle without one.
VELORA_EXPORT void VELORA_CDECL Release(std::int32_t handle);

// The five setters store the value and nothing else; it takes effect where it
// is next read (type at the next Draw, numof at the next Start, the rest at
// the next motion step).
VELORA_EXPORT void VELORA_CDECL SetType(std::int32_t handle, std::int32_t type);
VELORA_EXPORT void VELORA_CDECL SetNumof(std::int32_t handle, std::int32_t numof);
VELORA_EXPORT void VELORA_CDECL SetMaxAmp(std::int32_t handle, std::int32_t maxAmp);
VELORA_EXPORT void VELORA_CDECL SetXSpeed(std::int32_t handle, float xSpeed);
VELORA_EXPORT void VELORA_CDECL SetYSpeed(std::int32_t handle, float ySpeed);

}  // extern "C"
