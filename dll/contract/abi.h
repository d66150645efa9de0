// The binary boundary: calling conventions and symbol visibility, the only
// place either is spelled.
//
// The host is a closed 32-bit Windows engine. It calls the nine exported
// functions as plain __cdecl functions and the plug-in object's operations as
// C++ member functions (thiscall).
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
