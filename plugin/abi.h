// The binary boundary: calling conventions, symbol visibility and the guard
// that keeps C++ exceptions on our side of it.
//
// The host is a closed 32-bit Windows engine. It calls the nine exported
// functions as plain __cdecl functions and the plug-in object's operations as
// C++ member functions (thiscall). Nothing here may let an exception unwind
// into the host's frames: it has no idea how to handle one.
#pragma once

#if defined(_WIN32)
// Exported plain functions: __cdecl, undecorated names come from the .def file.
#define VELORA_CDECL __cdecl
#define VELORA_EXPORT
#else
#define VELORA_CDECL
#define VELORA_EXPORT __attribute__((visibility("default")))
#endif

// Operations of the host's interfaces and of the plug-in object: the
// platform's convention for C++ member functions (thiscall on 32-bit Windows).
#if defined(_WIN32) && !defined(_WIN64)
#define VELORA_METHOD __thiscall
#else
#define VELORA_METHOD
#endif

namespace velora {

// Runs body and swallows anything it throws. Every exported function and every
// operation of the plug-in object runs its work through this.
template <class Body>
void Guarded(Body&& body) noexcept
{
    try {
        body();
    } catch (...) {
        // The host has no channel for a failure here; the state left behind
        // is whatever the body had completed.
    }
}

}  // namespace velora
