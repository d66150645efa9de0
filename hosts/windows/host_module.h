// Shared by the stand-in host modules (MainSystem.dll, Graph.dll,
// SurfaceFactory.dll) and the test host that loads them next to the plug-in.
//
// Each module exports its factory exactly as the engine's modules do:
// void* __cdecl F(const Guid*). Every factory call is announced through
// OutputDebugStringA, so the test host sees, interleaved with the plug-in's
// own messages, which service was asked for in which order.
#pragma once

#include <cstring>

#include "contract/guid.h"

#define HOST_MODULE_EXPORT extern "C" __declspec(dllexport)

namespace host_module {

// The traces of the factory calls for the GUIDs the modules answer.
inline constexpr char kTraceMainSystem[] = "test module MainSystem: GetInterface(IID_MainSystem)\n";
inline constexpr char kTraceGraphBlend[] = "test module Graph: CreateInterface(IID_GraphBlend)\n";
inline constexpr char kTraceGraphFilter[] = "test module Graph: CreateInterface(IID_GraphFilter)\n";
inline constexpr char kTraceSurfaceFactory[] =
    "test module SurfaceFactory: CreateInterface(IID_SurfaceFactory)\n";
// A surface made by SurfaceFactory.dll announces its Destroy with this.
inline constexpr char kTraceScratchDestroyed[] = "test module SurfaceFactory: surface destroyed\n";
// Any other request is traced as "test module <name>: <export>(other GUID)\n"
// and answered with null.

// Name of the extra export through which the test host makes a module's
// factory answer null for every GUID: void __cdecl RefuseRequests(int refuse).
inline constexpr char kRefuseExport[] = "RefuseRequests";
using RefuseRequestsFunction = void(__cdecl*)(int refuse);

inline bool SameGuid(const velora::Guid* a, const velora::Guid& b)
{
    return a && velora::GuidEquals(a, &b);
}

}  // namespace host_module
