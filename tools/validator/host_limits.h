// What the host's files share (host.cpp, host_objects.cpp, host_checks.cpp).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace velora::validator::host_limits {

// Sprites hold pixels up to this size, scratch surfaces up to the larger one;
// beyond, a surface answers null for every address, as one that has no such
// pixel must.
constexpr std::int32_t kSpritePixelLimit = 16;
constexpr std::int32_t kScratchPixelLimit = 64;
// Scratch surfaces kept after their call, so that a late use is caught as a
// fault rather than as a crash.
constexpr std::size_t kScratchGraveyard = 64;

// A well-mixed 32-bit hash: sprite numbers to surfaces, alpha patterns.
inline std::uint32_t Mix(std::uint32_t value)
{
    value ^= value >> 16;
    value *= 0x7FEB352Du;
    value ^= value >> 15;
    value *= 0x846CA68Bu;
    value ^= value >> 16;
    return value;
}

// The text of a fault.
inline std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string Format(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

}  // namespace velora::validator::host_limits
