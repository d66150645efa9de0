// Calls an operation by its position in an object's table, the way the host
// does: as a plain function that takes the object first, in the platform's
// convention for member functions (thiscall on 32-bit Windows, where the
// object travels in ECX and the operation pops its other arguments).
//
// The convention is spelled out here rather than taken from the plug-in's
// own declarations, so that a wrong declaration there shows up as a failure.
#pragma once

#if defined(_WIN32) && !defined(_WIN64)
#define VELORA_HOST_CALL __thiscall
#else
#define VELORA_HOST_CALL
#endif

namespace velora::testing {

template <class Result, class... Args>
Result CallSlot(void* object, int slot, Args... args)
{
    void** table = *static_cast<void***>(object);
    // GCC honours thiscall on a plain function type and only notes, under
    // -Wpedantic, that it is meant for members.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
    using Operation = Result(VELORA_HOST_CALL*)(void*, Args...);
#pragma GCC diagnostic pop
    return reinterpret_cast<Operation>(table[slot])(object, args...);
}

}  // namespace velora::testing
