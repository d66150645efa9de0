// The guard that keeps C++ exceptions on the plug-in's side of the boundary.
//
// Every exported function and every operation of the plug-in object runs its
// work through Guarded: the host has no idea how to handle an exception
// unwinding into its frames.
#pragma once

namespace velora {

// Runs body and swallows anything it throws.
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
