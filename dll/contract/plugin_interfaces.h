// The plug-in object as a host sees it: one table of five operations shared
// by IInterface and IDrawPlugin (single inheritance), and the fields that
// follow the table pointer.
//
// There is no reference counting: Retain answers 1 and Destroy ends the
// object. No operation lets an exception reach the host.
#pragma once

#include <cstddef>
#include <cstdint>

#include "contract/abi.h"
#include "contract/guid.h"
#include "contract/host_interfaces.h"

namespace velora {

class IInterface {
public:
    // 0: always 1; keeps no count.
    virtual std::int32_t VELORA_METHOD Retain() = 0;
    // 1: empties the effect registry and ends the object; always 0.
    virtual std::int32_t VELORA_METHOD Destroy() = 0;
    // 2: hands over IDrawHost or ISpriteBank; other GUIDs are refused with a
    // debug message, and a null interface never clears a field.
    virtual void VELORA_METHOD SetInterface(const Guid* iid, void* iface) = 0;

protected:
    ~IInterface() = default;
};

class IDrawPlugin : public IInterface {
public:
    // 3: reports the latest Init's handle with the rectangle 0, 0, 640, 480
    // to IDrawHost and answers its result; 0 before IDrawHost is known.
    virtual std::int32_t VELORA_METHOD Update() = 0;
    // 4: draws the handle's particles onto destination, then moves them on.
    // The six words between destination and rate are never read; answers 0.
    virtual std::int32_t VELORA_METHOD Draw(std::int32_t handle, ISurface* destination,
                                            std::int32_t ignored1, std::int32_t ignored2,
                                            std::int32_t ignored3, std::int32_t ignored4,
                                            std::int32_t ignored5, std::int32_t ignored6,
                                            std::int32_t rate) = 0;

protected:
    ~IDrawPlugin() = default;
};

// Positions of the plug-in object's operations in its table.
namespace slot {
inline constexpr int kRetain = 0;
inline constexpr int kDestroy = 1;
inline constexpr int kSetInterface = 2;
inline constexpr int kUpdate = 3;
inline constexpr int kDraw = 4;
}  // namespace slot

// The plug-in object's memory, as a host that looks inside it sees it: the
// table pointer, then these fields in this order. Pointers have the width of
// the process's pointers; the three integers are signed 32-bit.
struct DrawPluginFields {
    const void* table;
    IDrawHost* drawHost;              // from SetInterface
    ISpriteBank* spriteBank;          // from SetInterface
    IMainSystem* mainSystem;          // acquired at construction, never used
    ISurfaceFactory* surfaceFactory;  // makes Draw's scratch surface
    IGraphBlend* graphBlend;          // drawing modes 0 and 1
    IGraphFilter* graphFilter;        // drawing modes 2 and 3
    std::int32_t lastHandle;          // the latest Init's handle, which Update reports
    std::int32_t lastWidth;           // the latest Init's width, never read
    std::int32_t lastHeight;          // the latest Init's height, never read
};

}  // namespace velora
