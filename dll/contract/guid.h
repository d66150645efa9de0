// Interface identifiers: the platform's 16-byte GUID, compared byte for byte.
#pragma once

#include <cstdint>
#include <cstring>

namespace velora {

// Same layout as the Windows GUID: one 32-bit and two 16-bit little-endian
// fields, then eight bytes.
struct Guid {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
static_assert(sizeof(Guid) == 16);

// True when all 16 bytes are equal; there is no partial match.
inline bool GuidEquals(const Guid* a, const Guid* b) { return std::memcmp(a, b, sizeof(Guid)) == 0; }

// The plug-in's own identifier, answered by CreateInterface.
inline constexpr Guid IID_DrawPlugin = {
    0x21D5AB5C, 0xB8BB, 0x4CB3, {0xA2, 0x38, 0x53, 0xBE, 0x3E, 0xC7, 0x68, 0x4D}};

// The host engine's interfaces.
inline constexpr Guid IID_DrawHost = {
    0x1C225D59, 0xDA0D, 0x438B, {0x84, 0x81, 0x0D, 0xA0, 0x6A, 0x4D, 0x89, 0xE6}};
inline constexpr Guid IID_SpriteBank = {
    0x631954D8, 0x253C, 0x4CD6, {0x88, 0xB2, 0x3A, 0xAB, 0x75, 0x92, 0x3B, 0x64}};
inline constexpr Guid IID_MainSystem = {
    0xB995A758, 0xBFB0, 0x4F7A, {0x9F, 0x17, 0xD2, 0x3A, 0x0F, 0xB4, 0x8A, 0x08}};
inline constexpr Guid IID_GraphBlend = {
    0x58AD7D01, 0x4DAE, 0x11D4, {0xBE, 0xB2, 0x00, 0xC0, 0xF6, 0xB0, 0xE9, 0xBE}};
inline constexpr Guid IID_GraphFilter = {
    0x46F1EC26, 0x82CD, 0x4A69, {0xA0, 0xBF, 0x8F, 0x7D, 0x69, 0x75, 0xAB, 0xDA}};
inline constexpr Guid IID_SurfaceFactory = {
    0xD6433348, 0x4DB3, 0x11D4, {0xBE, 0xB2, 0x00, 0xC0, 0xF6, 0xB0, 0xE9, 0xBE}};

}  // namespace velora
