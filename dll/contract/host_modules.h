// The engine's modules the plug-in takes its services from, and the shape of
// their factory exports. A module must already be loaded when the plug-in
// object is made: the plug-in looks for it by name and never loads one.
#pragma once

#include "contract/abi.h"
#include "contract/guid.h"

namespace velora::modules {

// A module's factory export: one GUID in, an interface or null out.
using HostFactory = void*(VELORA_CDECL*)(const Guid* iid);

// MainSystem: GetInterface answers IID_MainSystem.
inline constexpr char kMainSystem[] = "MainSystem";
inline constexpr char kMainSystemExport[] = "GetInterface";
// Graph: CreateInterface answers IID_GraphBlend and IID_GraphFilter.
inline constexpr char kGraph[] = "Graph";
inline constexpr char kGraphExport[] = "CreateInterface";
// SurfaceFactory: CreateInterface answers IID_SurfaceFactory.
inline constexpr char kSurfaceFactory[] = "SurfaceFactory";
inline constexpr char kSurfaceFactoryExport[] = "CreateInterface";

}  // namespace velora::modules
