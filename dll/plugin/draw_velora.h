// The plug-in object the host's drawing machinery talks to.
//
// One table of five operations serves IInterface, IDrawPlugin and
// CDrawVelora alike (single inheritance): Retain, Destroy, SetInterface,
// Update, Draw at positions 0 to 4. Every operation is guarded: no exception
// reaches the host. There is no reference counting. Hosts see this object
// only through contract/plugin_interfaces.h, whose DrawPluginFields gives
// the layout of the fields below.
#pragma once

#include <cstdint>

#include "contract/abi.h"
#include "contract/guid.h"
#include "contract/host_interfaces.h"
#include "contract/plugin_interfaces.h"

namespace velora {

class CDrawVelora final : public IDrawPlugin {
public:
    // Acquires the four host services from the modules already loaded; a
    // service that cannot be had stays null. Never fails.
    CDrawVelora();

    std::int32_t VELORA_METHOD Retain() override;
    std::int32_t VELORA_METHOD Destroy() override;
    void VELORA_METHOD SetInterface(const Guid* iid, void* iface) override;
    std::int32_t VELORA_METHOD Update() override;
    std::int32_t VELORA_METHOD Draw(std::int32_t handle, ISurface* destination,
                                    std::int32_t ignored1, std::int32_t ignored2,
                                    std::int32_t ignored3, std::int32_t ignored4,
                                    std::int32_t ignored5, std::int32_t ignored6,
                                    std::int32_t rate) override;

    // Borrowed host interfaces, in this order after the table pointer.
    IDrawHost* drawHost = nullptr;              // from SetInterface
    ISpriteBank* spriteBank = nullptr;          // from SetInterface
    IMainSystem* mainSystem = nullptr;          // acquired, never used
    ISurfaceFactory* surfaceFactory = nullptr;  // makes Draw's scratch surface
    IGraphBlend* graphBlend = nullptr;          // drawing modes 0 and 1
    IGraphFilter* graphFilter = nullptr;        // drawing modes 2 and 3
    // The latest Init's arguments, written by Init through currentPlugin.
    std::int32_t lastHandle = 0;
    std::int32_t lastWidth = 0;
    std::int32_t lastHeight = 0;
};

// The object made by the latest successful CreateInterface; null when the
// library loads, after a failed allocation, and after that object's Destroy.
extern CDrawVelora* currentPlugin;

// Finds moduleName among the modules already loaded, its export exportName,
// and asks that factory for iid. Every failure is told in a debug message and
// gives null.
void* GetQuenIF(const char* moduleName, const char* exportName, const Guid* iid);

}  // namespace velora
