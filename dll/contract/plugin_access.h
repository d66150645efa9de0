// How a host reaches a loaded plug-in: binding the library's nine exports by
// name, and reading (or, for a bench standing in for the host's modules,
// writing) the fields that follow a plug-in object's table pointer.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "contract/exports.h"
#include "contract/plugin_interfaces.h"

namespace velora::exports {

// Fills exports through lookup(name), which answers an export's address or
// null (dlsym, GetProcAddress). Answers the first name that could not be
// found, or null when all nine were.
template <class Lookup>
const char* BindExports(PluginExports& exports, Lookup&& lookup)
{
    const char* missing = nullptr;
    auto bind = [&](auto& entry, const char* name) {
        auto* address = lookup(name);
        if (!address && !missing) {
            missing = name;
        }
        entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(address);
    };
    bind(exports.CreateInterface, kCreateInterface);
    bind(exports.Init, kInit);
    bind(exports.Start, kStart);
    bind(exports.Release, kRelease);
    bind(exports.SetType, kSetType);
    bind(exports.SetNumof, kSetNumof);
    bind(exports.SetMaxAmp, kSetMaxAmp);
    bind(exports.SetXSpeed, kSetXSpeed);
    bind(exports.SetYSpeed, kSetYSpeed);
    return missing;
}

}  // namespace velora::exports

namespace velora {

// The fields of a plug-in object that CreateInterface returned, as they
// are now: a copy of its memory, as the engine reads it.
inline DrawPluginFields FieldsOf(const IDrawPlugin* plugin)
{
    DrawPluginFields fields;
    std::memcpy(&fields, static_cast<const void*>(plugin), sizeof fields);
    return fields;
}

// Writes every field after the table pointer. The engine never does; a
// test bench that stands in for the host's modules may.
inline void SetFields(IDrawPlugin* plugin, const DrawPluginFields& fields)
{
    constexpr std::size_t kAfterTable = offsetof(DrawPluginFields, drawHost);
    std::memcpy(reinterpret_cast<unsigned char*>(static_cast<void*>(plugin)) + kAfterTable,
                reinterpret_cast<const unsigned char*>(&fields) + kAfterTable, sizeof fields - kAfterTable);
}

}  // namespace velora
