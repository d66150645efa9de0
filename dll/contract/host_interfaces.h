// The host engine's interfaces, as far as the plug-in uses them.
//
// Each is reached through a table of operations in the object's first word;
// an operation is identified by its position in that table. Positions the
// plug-in never calls are placeholder slots, declared only to keep the used
// ones where the host has them. No interface has a virtual destructor: GCC
// would spend two slots on it. The plug-in owns none of these objects and
// releases none, except the scratch surfaces it makes itself.
#pragma once

#include <cstdint>

#include "contract/abi.h"
#include "contract/guid.h"

// A slot the plug-in never calls. It has a body so that hosts written against
// these declarations (tests, the reference host) need not implement it.
#define VELORA_UNUSED_SLOT(n) \
    virtual void VELORA_METHOD UnusedSlot##n() {}

namespace velora {

// A surface of pixels: a sprite from the bank, the destination of Draw, or a
// scratch surface from ISurfaceFactory.
class ISurface {
public:
    VELORA_UNUSED_SLOT(0)
    // 1: ends a surface made by ISurfaceFactory::CreateSurface.
    virtual void VELORA_METHOD Destroy() = 0;
    // 2: address of pixel (x, y)'s colour bytes; bytes 0 to 2 may be written.
    virtual std::uint8_t* VELORA_METHOD GetPixelAddress(std::int32_t x, std::int32_t y) = 0;
    // 3: address of pixel (x, y)'s alpha byte; 0 means transparent.
    virtual std::uint8_t* VELORA_METHOD GetAlphaAddress(std::int32_t x, std::int32_t y) = 0;
    // 4, 5: size in pixels.
    virtual std::int32_t VELORA_METHOD GetWidth() = 0;
    virtual std::int32_t VELORA_METHOD GetHeight() = 0;
    // 6: an opaque pixel format, handed back to CreateSurface.
    virtual std::int32_t VELORA_METHOD GetFormat() = 0;

protected:
    ~ISurface() = default;
};

// The host side of the plug-in object: told which rectangle the effect covers.
class IDrawHost {
public:
    // 0: Update reports (lastHandle, 0, 0, 640, 480) here.
    virtual std::int32_t VELORA_METHOD ReportRect(std::int32_t handle, std::int32_t x, std::int32_t y,
                                                  std::int32_t width, std::int32_t height) = 0;

protected:
    ~IDrawHost() = default;
};

// The host's numbered sprites.
class ISpriteBank {
public:
    // 0: the sprite's surface; it stays the host's.
    virtual ISurface* VELORA_METHOD GetSprite(std::int32_t number) = 0;

protected:
    ~ISpriteBank() = default;
};

// The engine's main system: acquired at construction and never called.
class IMainSystem {
protected:
    ~IMainSystem() = default;
};

// Makes surfaces.
class ISurfaceFactory {
public:
    VELORA_UNUSED_SLOT(0)
    VELORA_UNUSED_SLOT(1)
    // 2: a new width x height surface in the given format; Destroy ends it.
    virtual ISurface* VELORA_METHOD CreateSurface(std::int32_t width, std::int32_t height,
                                                  std::int32_t format) = 0;

protected:
    ~ISurfaceFactory() = default;
};

// Blending of a source rectangle onto a destination, weighted by rate.
class IGraphBlend {
public:
    VELORA_UNUSED_SLOT(0) VELORA_UNUSED_SLOT(1) VELORA_UNUSED_SLOT(2) VELORA_UNUSED_SLOT(3)
    VELORA_UNUSED_SLOT(4) VELORA_UNUSED_SLOT(5) VELORA_UNUSED_SLOT(6) VELORA_UNUSED_SLOT(7)
    VELORA_UNUSED_SLOT(8) VELORA_UNUSED_SLOT(9) VELORA_UNUSED_SLOT(10) VELORA_UNUSED_SLOT(11)
    VELORA_UNUSED_SLOT(12) VELORA_UNUSED_SLOT(13)
    // 14: draw (sx, sy, width, height) of src at (dx, dy) on dest, by rate.
    virtual std::int32_t VELORA_METHOD BlendRect(ISurface* dest, std::int32_t dx, std::int32_t dy,
                                                 ISurface* src, std::int32_t sx, std::int32_t sy,
                                                 std::int32_t width, std::int32_t height,
                                                 std::int32_t rate) = 0;
    VELORA_UNUSED_SLOT(15) VELORA_UNUSED_SLOT(16) VELORA_UNUSED_SLOT(17) VELORA_UNUSED_SLOT(18)
    VELORA_UNUSED_SLOT(19)
    // 20: as BlendRect, with the host's other blend.
    virtual std::int32_t VELORA_METHOD BlendRectAlt(ISurface* dest, std::int32_t dx, std::int32_t dy,
                                                    ISurface* src, std::int32_t sx, std::int32_t sy,
                                                    std::int32_t width, std::int32_t height,
                                                    std::int32_t rate) = 0;

protected:
    ~IGraphBlend() = default;
};

// Copies, filters and mixes.
class IGraphFilter {
public:
    VELORA_UNUSED_SLOT(0) VELORA_UNUSED_SLOT(1) VELORA_UNUSED_SLOT(2) VELORA_UNUSED_SLOT(3)
    // 4: copy (sx, sy, width, height) of src to (dx, dy) of dest.
    virtual std::int32_t VELORA_METHOD CopyRect(ISurface* dest, std::int32_t dx, std::int32_t dy,
                                                ISurface* src, std::int32_t sx, std::int32_t sy,
                                                std::int32_t width, std::int32_t height) = 0;
    VELORA_UNUSED_SLOT(5) VELORA_UNUSED_SLOT(6) VELORA_UNUSED_SLOT(7) VELORA_UNUSED_SLOT(8)
    VELORA_UNUSED_SLOT(9) VELORA_UNUSED_SLOT(10)
    // 11: draw (sx, sy, width, height) of src at (dx, dy) on dest.
    virtual std::int32_t VELORA_METHOD DrawRect(ISurface* dest, std::int32_t dx, std::int32_t dy,
                                                ISurface* src, std::int32_t sx, std::int32_t sy,
                                                std::int32_t width, std::int32_t height) = 0;
    VELORA_UNUSED_SLOT(12) VELORA_UNUSED_SLOT(13) VELORA_UNUSED_SLOT(14) VELORA_UNUSED_SLOT(15)
    VELORA_UNUSED_SLOT(16) VELORA_UNUSED_SLOT(17) VELORA_UNUSED_SLOT(18) VELORA_UNUSED_SLOT(19)
    VELORA_UNUSED_SLOT(20) VELORA_UNUSED_SLOT(21)
    // 22: alter (x, y, width, height) of surface in place, by rate.
    virtual std::int32_t VELORA_METHOD FilterRect(ISurface* surface, std::int32_t x, std::int32_t y,
                                                  std::int32_t width, std::int32_t height,
                                                  std::int32_t rate) = 0;
    VELORA_UNUSED_SLOT(23) VELORA_UNUSED_SLOT(24) VELORA_UNUSED_SLOT(25) VELORA_UNUSED_SLOT(26)
    VELORA_UNUSED_SLOT(27) VELORA_UNUSED_SLOT(28) VELORA_UNUSED_SLOT(29) VELORA_UNUSED_SLOT(30)
    VELORA_UNUSED_SLOT(31) VELORA_UNUSED_SLOT(32) VELORA_UNUSED_SLOT(33) VELORA_UNUSED_SLOT(34)
    VELORA_UNUSED_SLOT(35) VELORA_UNUSED_SLOT(36)
    // 37: mix (sx, sy, width, height) of src onto dest at (dx, dy), by rate.
    virtual std::int32_t VELORA_METHOD MixRect(ISurface* dest, std::int32_t dx, std::int32_t dy,
                                               ISurface* src, std::int32_t sx, std::int32_t sy,
                                               std::int32_t width, std::int32_t height,
                                               std::int32_t rate) = 0;

protected:
    ~IGraphFilter() = default;
};

}  // namespace velora
