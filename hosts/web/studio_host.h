// The studio's host engine: what the engine's process would hold around the
// plug-in, made for the page.
//
// It owns the frame (the destination surface Draw paints on, shown on the
// page's canvas), its background, the sprite bank and the services of the
// three engine modules. HostModuleExports() are those modules' factory
// exports as the plug-in looks them up by name ("MainSystem" GetInterface,
// "Graph" and "SurfaceFactory" CreateInterface); they answer for the host
// made current with SetModuleHost. One host is current at a time, as one
// engine runs per process.
//
// A frame, as the engine runs it: BeginFrame() puts the background in, then
// DrawLayer() calls the plug-in object's Draw for each effect handle in turn.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "contract/exports.h"
#include "web/host_services.h"
#include "web/sprite_runs.h"

namespace velora::web {

class StudioHost {
public:
    // A frame of width x height pixels over a dark gradient, and a bank
    // holding the built-in sprite runs.
    StudioHost(std::int32_t frameWidth, std::int32_t frameHeight);

    StudioHost(const StudioHost&) = delete;
    StudioHost& operator=(const StudioHost&) = delete;

    // What the engine modules' factories answer: the interface for iid, or null.
    void* MainSystemInterface(const Guid* iid);
    void* GraphInterface(const Guid* iid);
    void* SurfaceFactoryInterface(const Guid* iid);

    // Hands IDrawHost and ISpriteBank to a plug-in object.
    void Connect(IDrawPlugin& plugin);

    // A vertical gradient from top to bottom, colours as 0xRRGGBB.
    void SetBackground(std::uint32_t top, std::uint32_t bottom);
    // The author's picture (straight RGBA, width x height) stretched over
    // the frame instead, as the previewer draws its --background image.
    // False, with the background as it was, for a picture of no pixels or
    // one too large to make.
    bool SetBackgroundPicture(const std::uint8_t* rgba, std::int32_t width, std::int32_t height);
    // Starts a frame: the background, opaque, over the whole frame.
    void BeginFrame();
    // One Draw of the plug-in for handle at rate; the drawing calls it made.
    std::int32_t DrawLayer(IDrawPlugin& plugin, std::int32_t handle, std::int32_t rate);

    // Puts a sprite sheet into the bank at kSheetBase (see AddSheet):
    // LoadSheetAt(..., kSheetBase).
    SpriteRun LoadSheet(const std::uint8_t* rgba, std::int32_t width, std::int32_t height, std::int32_t size);
    // Puts a sprite sheet into the bank from sprite first on (kSheetBase or
    // above; below it nothing is loaded). A successful one replaces, in
    // Runs() and in the bank, the sheet that began at first and every sheet
    // whose numbers it overlaps; other sheets stay.
    SpriteRun LoadSheetAt(const std::uint8_t* rgba, std::int32_t width, std::int32_t height, std::int32_t size,
                          std::int32_t first);

    PixelSurface& Frame() { return frame_; }
    StudioSpriteBank& Bank() { return bank_; }
    const StudioSurfaceFactory& SurfaceFactory() const { return surfaceFactory_; }
    const StudioDrawHost& DrawHost() const { return drawHost_; }
    const std::vector<SpriteRun>& Runs() const { return runs_; }

private:
    DrawTally tally_;
    StudioGraphBlend graphBlend_{tally_};
    StudioGraphFilter graphFilter_{tally_};
    StudioSurfaceFactory surfaceFactory_;
    StudioSpriteBank bank_;
    StudioDrawHost drawHost_;
    StudioMainSystem mainSystem_;
    PixelSurface frame_;
    std::vector<std::uint8_t> background_;
    std::vector<SpriteRun> runs_;
};

// The shape of the engine modules' factory exports.
using HostFactory = void*(VELORA_CDECL*)(const Guid* iid);

struct HostModuleExport {
    const char* module;
    const char* exportName;
    HostFactory factory;
};

// The three modules' exports; they answer null while no host is current.
std::span<const HostModuleExport> HostModuleExports();

// Makes host the one the exports answer for (null: none).
void SetModuleHost(StudioHost* host);

}  // namespace velora::web
