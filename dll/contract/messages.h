// The plug-in's debug messages, byte for byte as the host's tools expect them:
// code page 932, one line each. 0x81 0xA1 is the black square that opens an
// error, 0x81 0xA0 the white square of a warning; the Japanese words of the
// warning ("an unsupported GUID was passed") are spelled as their code page
// 932 bytes so that no source encoding can change them.
#pragma once

namespace velora::messages {

#define VELORA_ERROR "\x81\xA1" "ERROR - "
#define VELORA_WARNING "\x81\xA0" "WARNING - "
#define VELORA_UNSUPPORTED_GUID \
    "\x96\xA2\x91\xCE\x89\x9E\x82\xCC" "GUID" "\x82\xAA\x93\x6E\x82\xB3\x82\xEA\x82\xBD"

inline constexpr char kCreateInterfaceNullGuid[] = VELORA_ERROR "pGuid==NULL - CreateInterface\n";
inline constexpr char kCreateInterfaceUnsupportedGuid[] =
    VELORA_WARNING VELORA_UNSUPPORTED_GUID " - CreateInterface\n";
inline constexpr char kModuleNotLoaded[] = VELORA_ERROR "hDLL==NULL - GetQuenIF GetModuleHandle\n";
inline constexpr char kExportMissing[] =
    VELORA_ERROR "CreateInterface==NULL - GetQuenIF GetProcAddress\n";
inline constexpr char kServiceRefused[] = VELORA_ERROR "pGuid==NULL - GetQuenIF CreateInterface\n";
inline constexpr char kSetInterfaceNullGuid[] = VELORA_ERROR "pGuid==NULL - CDrawTest::SetInterface\n";
inline constexpr char kSetInterfaceNullInterface[] =
    VELORA_ERROR "pvInterface==NULL - CDrawTest::SetInterface\n";
inline constexpr char kSetInterfaceUnsupportedGuid[] =
    VELORA_WARNING VELORA_UNSUPPORTED_GUID " - CDrawTest::SetInterface\n";

#undef VELORA_ERROR
#undef VELORA_WARNING
#undef VELORA_UNSUPPORTED_GUID

}  // namespace velora::messages
