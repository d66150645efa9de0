// What the studio page calls besides the plug-in's own nine exports (which
// it calls directly, as the engine's scripts do): opening the host, one
// frame's work, the background, the clock hold and sprite sheets.
//
// velora_studio_open does what the engine does when it loads the plug-in:
// its modules are in place first (registered by name with their factory
// exports), then CreateInterface, then SetInterface with the draw host and
// the sprite bank.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "contract/exports.h"
#include "script/script.h"
#include "platform/web.h"
#include "web/sprite_runs.h"
#include "web/studio_host.h"

namespace {

std::unique_ptr<velora::web::StudioHost> host;
velora::IDrawPlugin* plugin = nullptr;
std::string runsText;

}  // namespace

extern "C" {

// Opens the host with a width x height frame and makes the plug-in object.
// 1 when the plug-in object was made, 0 otherwise. Opening again replaces
// the host and the object (and so ends every effect).
int velora_studio_open(int width, int height)
{
    using namespace velora;
    if (plugin) {
        plugin->Destroy();
        plugin = nullptr;
    }
    web::SetModuleHost(nullptr);
    host = std::make_unique<web::StudioHost>(width, height);
    web::SetModuleHost(host.get());
    platform::web::ForgetModules();
    for (const web::HostModuleExport& entry : web::HostModuleExports()) {
        platform::web::RegisterModuleExport(entry.module, entry.exportName,
                                            reinterpret_cast<platform::ExportAddress>(entry.factory));
    }
    plugin = CreateInterface(&IID_DrawPlugin);
    if (!plugin) {
        return 0;
    }
    host->Connect(*plugin);
    return 1;
}

// The frame's RGBA bytes (width * height * 4), valid until the next open.
std::uint8_t* velora_studio_frame() { return host ? host->Frame().Bytes() : nullptr; }

void velora_studio_set_background(std::uint32_t top, std::uint32_t bottom)
{
    if (host) {
        host->SetBackground(top, bottom);
    }
}

// The author's picture (straight RGBA, width * height * 4 bytes) behind the
// effect, stretched over the frame; 1 when it was put in, 0 otherwise.
int velora_studio_set_background_picture(const std::uint8_t* rgba, int width, int height)
{
    return host && host->SetBackgroundPicture(rgba, width, height) ? 1 : 0;
}

void velora_studio_begin_frame()
{
    if (host) {
        host->BeginFrame();
    }
}

// The plug-in's Draw for one handle; the number of sprites it drew.
int velora_studio_draw(int handle, int rate)
{
    return host && plugin ? host->DrawLayer(*plugin, handle, rate) : 0;
}

void velora_studio_hold_clock(int held) { velora::platform::web::HoldClock(held != 0); }

// The numbers the page holds too, as JSON: the largest field side, the
// particles one Start spawns at most, the layers and particles drawn at once
// at most, and the first sprite number of a sheet.
const char* velora_studio_limits()
{
    static char text[128];
    std::snprintf(text, sizeof text, "{\"side\":%d,\"spawned\":%d,\"layers\":%d,\"particles\":%d,\"sheetBase\":%d}",
                  static_cast<int>(velora::script::kMaxSide), static_cast<int>(velora::script::kMaxSpawned),
                  static_cast<int>(velora::script::kMaxLayers), static_cast<int>(velora::script::kMaxParticles),
                  static_cast<int>(velora::web::kSheetBase));
    return text;
}

// The bank's runs, one a line: name, base, count, rotation groups, size,
// separated by tabs.
const char* velora_studio_runs()
{
    runsText.clear();
    if (host) {
        for (const velora::web::SpriteRun& run : host->Runs()) {
            runsText += run.name + '\t' + std::to_string(run.base) + '\t' + std::to_string(run.count) + '\t' +
                        std::to_string(run.rotationFrames) + '\t' + std::to_string(run.size) + '\n';
        }
    }
    return runsText.c_str();
}

// Puts a sprite sheet (RGBA, width * height * 4 bytes) into the bank at
// sprite 100, cut into size x size cells; the number of sprites it gave (0: none fitted).
int velora_studio_load_sheet(const std::uint8_t* rgba, int width, int height, int size)
{
    return host ? host->LoadSheet(rgba, width, height, size).count : 0;
}

// The same from sprite first on (100 or above): each sheet keeps numbers of
// its own, and loading at a sheet's first number again replaces it.
int velora_studio_load_sheet_at(const std::uint8_t* rgba, int width, int height, int size, int first)
{
    return host ? host->LoadSheetAt(rgba, width, height, size, first).count : 0;
}

}  // extern "C"
