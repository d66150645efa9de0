// A file's version resource read back through the Win32 version API, as
// Explorer's Details tab reads it: GetFileVersionInfoA, then VerQueryValueA
// for the fixed part and for the strings of the file's first translation.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace version_resource {

struct Resource {
    bool readable = false;   // GetFileVersionInfoA succeeded and the strings were found
    std::string failure;     // what went wrong where not readable
    DWORD fileVersionMS = 0;  // FILEVERSION, major << 16 | minor
    DWORD fileVersionLS = 0;  //              patch << 16 | build
    std::string block;        // the translation's "\StringFileInfo\llllcccc\"

    std::vector<char> data;

    // The string value of name, or "<missing>".
    std::string Get(const char* name) const
    {
        void* value = nullptr;
        UINT length = 0;
        const std::string query = block + name;
        if (!VerQueryValueA(data.data(), query.c_str(), &value, &length) || !value ||
            length == 0) {
            return "<missing>";
        }
        return std::string(static_cast<const char*>(value));
    }
};

inline Resource Read(const char* path)
{
    Resource resource;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) {
        resource.failure = "GetFileVersionInfoSizeA: error " + std::to_string(GetLastError());
        return resource;
    }
    resource.data.resize(size);
    if (!GetFileVersionInfoA(path, 0, size, resource.data.data())) {
        resource.failure = "GetFileVersionInfoA: error " + std::to_string(GetLastError());
        return resource;
    }
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(resource.data.data(), "\\", &value, &length) ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        resource.failure = "no fixed file information";
        return resource;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    resource.fileVersionMS = fixed->dwFileVersionMS;
    resource.fileVersionLS = fixed->dwFileVersionLS;
    if (!VerQueryValueA(resource.data.data(), "\\VarFileInfo\\Translation", &value, &length) ||
        length < 2 * sizeof(WORD)) {
        resource.failure = "no translation";
        return resource;
    }
    const auto* translation = static_cast<const WORD*>(value);
    char block[40];
    std::snprintf(block, sizeof block, "\\StringFileInfo\\%04x%04x\\",
                  static_cast<unsigned>(translation[0]), static_cast<unsigned>(translation[1]));
    resource.block = block;
    resource.readable = true;
    return resource;
}

}  // namespace version_resource
