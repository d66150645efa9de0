// Redirects one function that a loaded module imports: the module's import
// address table holds the address each of its calls goes through, so writing
// another address there makes every later call of that module (and only of
// that module) reach the replacement. The validator on Windows uses it to
// hand the plug-in a clock and an allocator it controls; it is a header of
// its own because the floating-point state run under Wine hands the plug-in
// its clocks the same way.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>

namespace velora::validator {

// Replaces `function` imported from `library` (compared without regard to
// case) in `module`'s import table. Answers the address it held before, or
// null when the module does not import that function by name.
inline void* ReplaceImport(HMODULE module, const char* library, const char* function, void* replacement)
{
    auto* const base = reinterpret_cast<std::uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) {
        return nullptr;
    }
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name;
         ++entry) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), library) != 0) {
            continue;
        }
        // The names stay in the lookup table; the loader wrote the addresses
        // into the address table beside it.
        const DWORD lookup = entry->OriginalFirstThunk ? entry->OriginalFirstThunk : entry->FirstThunk;
        auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + lookup);
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; name->u1.AddressOfData != 0; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) {
                continue;
            }
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) {
                continue;
            }
            DWORD protection = 0;
            if (!VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &protection)) {
                return nullptr;
            }
            void* const previous = reinterpret_cast<void*>(slot->u1.Function);
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection, &protection);
            return previous;
        }
    }
    return nullptr;
}

}  // namespace velora::validator
