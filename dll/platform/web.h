// The platform layer's extra calls in the WebAssembly build (the studio page).
//
// A browser has no loaded modules to search and no multimedia timer. The
// page's host registers its engine modules here, name by name with their
// factory exports, before it calls CreateInterface; FindLoadedModule and
// FindExport then find them exactly as they find loaded modules elsewhere.
// Both clocks are the browser's monotonic clock in whole milliseconds,
// truncated to 32 bits; the page may hold them still (its pause button, a
// hidden tab) so that the effect resumes where it stood instead of jumping
// ahead by the time it was not shown.
//
// Only the Emscripten build defines these.
#pragma once

#include "platform/platform.h"

namespace velora::platform::web {

// Makes module findable by FindLoadedModule and its export exportName by
// FindExport. Registering the same pair again replaces the address; a null
// address removes that export. The names are copied.
void RegisterModuleExport(const char* module, const char* exportName, ExportAddress address);

// Forgets every registered module: afterwards no module is found.
void ForgetModules();

// true: both clocks stand still from now on. false: they run on from the
// value they stood at; the time they were held is never counted.
void HoldClock(bool held);

}  // namespace velora::platform::web
