// Load/unload soak: loads DrawVelora.dll, drives one short session (object,
// Init, Start, Draw in every drawing mode, Update, Release, Destroy) and
// unloads it with FreeLibrary, over and over, with the stand-in host modules
// loaded beside it the whole time.
//
// An engine reloads its plug-ins with every level. What must hold:
//   - every load starts empty: a handle left running when the library was
//     unloaded has no instance after the next load, so the cycle's first Draw
//     on it makes no host call and sends no message;
//   - every cycle does exactly what the first did: the same debug messages,
//     the same sprites asked for, the same reports (the host seeds the
//     runtime's generator before each Start, so the layout repeats);
//   - memory stays flat: the process's private bytes after the last cycle are
//     within 1 MB of those after the tenth;
//   - thread-local storage slots stay as many: a process has 1 088, and a
//     library that takes one per load and never frees it brings the engine
//     down after about a thousand loads.
//
// Usage: soak.exe <path of DrawVelora.dll> [cycles, default 1000]
// Prints progress every 100 cycles, the memory figures and one summary line;
// exits 0 when everything held, 1 otherwise, 2 on wrong usage.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// after windows.h, whose types it uses
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "windows/session.h"

namespace {

using host_module::DebugMessages;
using host_module::LoadedPlugin;

constexpr std::int32_t kLeftRunning = 77;  // started, then unloaded with the library
constexpr std::int32_t kHandle = 5;
constexpr unsigned kLayoutSeed = 4242;
constexpr SIZE_T kAllowedGrowth = 1u << 20;

// Committed pages of the process's own (MEM_PRIVATE) regions, walked with
// VirtualQuery: what Windows counts as private bytes.
SIZE_T CommittedPrivatePages()
{
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (auto* at = static_cast<const char*>(nullptr);
         VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            total += region.RegionSize;
        }
        if (region.RegionSize == 0) {
            break;
        }
    }
    return total;
}

// The process's private bytes: GetProcessMemoryInfo's PrivateUsage where the
// system fills it in, else (Wine leaves it 0) the committed private pages.
SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters) &&
        counters.PrivateUsage != 0) {
        return counters.PrivateUsage;
    }
    return CommittedPrivatePages();
}

// The first free thread-local storage slot: it climbs when slots leak.
DWORD FirstFreeTlsSlot()
{
    const DWORD slot = TlsAlloc();
    if (slot != TLS_OUT_OF_INDEXES) {
        TlsFree(slot);
    }
    return slot;
}

// One cycle's transcript: everything the host saw, in order.
std::vector<std::string> Cycle(const char* path, std::string& failure)
{
    std::vector<std::string> seen;
    LoadedPlugin plugin(path);
    if (!plugin.Error().empty()) {
        failure = "loading " + std::string(path) + ": " + plugin.Error();
        return seen;
    }
    host_module::RecordingDrawHost drawHost;
    host_module::RecordingSpriteBank bank(100, 4, 4);
    host_module::MemorySurface destination(64, 48, 77, "test host: the destination was destroyed\n");
    velora::IDrawPlugin* object = plugin->CreateInterface(&velora::IID_DrawPlugin);
    if (!object) {
        failure = "CreateInterface answered null";
        return seen;
    }
    for (const std::string& message : DebugMessages::Take()) {
        seen.push_back("CreateInterface: " + message);
    }
    object->SetInterface(&velora::IID_DrawHost, static_cast<velora::IDrawHost*>(&drawHost));
    object->SetInterface(&velora::IID_SpriteBank, static_cast<velora::ISpriteBank*>(&bank));
    const auto draw = [&](std::int32_t handle) {
        object->Draw(handle, &destination, 0, 0, 0, 0, 0, 0, 4660);
    };

    // The first Draw of the cycle: the registry must be empty.
    draw(kLeftRunning);
    const std::vector<std::string> first = DebugMessages::Take();
    if (!bank.asked.empty() || !first.empty()) {
        failure = "the first Draw on handle " + std::to_string(kLeftRunning) + " (started before the unload) asked " +
                  std::to_string(bank.asked.size()) + " sprites and sent " + std::to_string(first.size()) +
                  " messages: the registry outlived the library";
        return seen;
    }

    for (std::int32_t mode = 0; mode <= 3; ++mode) {
        plugin->Init(kHandle, 64, 48, 100, 4, 2);
        plugin->SetType(kHandle, mode);
        plugin->SetNumof(kHandle, 3);
        std::srand(kLayoutSeed);
        plugin->Start(kHandle);
        draw(kHandle);
        object->Update();
        plugin->Release(kHandle);
        draw(kHandle);  // nothing: released
        seen.push_back("mode " + std::to_string(mode));
        for (const std::string& message : DebugMessages::Take()) {
            seen.push_back(message);
        }
        for (const std::int32_t number : bank.asked) {
            seen.push_back("sprite " + std::to_string(number));
        }
        for (const std::string& report : drawHost.reports) {
            seen.push_back("ReportRect " + report);
        }
        bank.asked.clear();
        drawHost.reports.clear();
    }
    object->Destroy();
    // An instance without an object, left running into the unload.
    plugin->Init(kLeftRunning, 64, 48, 100, 4, 2);
    plugin->Start(kLeftRunning);
    for (const std::string& message : DebugMessages::Take()) {
        seen.push_back("after Destroy: " + message);
    }
    if (!plugin.Unload()) {
        failure = "FreeLibrary failed with error " + std::to_string(GetLastError());
    } else if (GetModuleHandleA("DrawVelora")) {
        failure = "DrawVelora.dll is still loaded after FreeLibrary";
    }
    return seen;
}

std::string Lines(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines) {
        out += "         " + line + (line.empty() || line.back() != '\n' ? "\n" : "");
    }
    return out;
}

int Soak(const char* path, int cycles)
{
    const std::string folder = host_module::ProgramFolder();
    std::vector<HMODULE> modules;
    for (const char* name : {"MainSystem.dll", "Graph.dll", "SurfaceFactory.dll"}) {
        const std::string module = folder + "\\" + name;
        modules.push_back(LoadLibraryA(module.c_str()));
        if (!modules.back()) {
            std::printf("FAILED cannot load the host module %s (error %lu)\n", module.c_str(), GetLastError());
            return 1;
        }
    }
    DebugMessages::Take();

    std::vector<std::string> reference;
    SIZE_T afterTenth = 0;
    SIZE_T afterLast = 0;
    DWORD slotAfterTenth = 0;
    DWORD slotAfterLast = 0;
    const DWORD began = GetTickCount();
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        std::string failure;
        const std::vector<std::string> seen = Cycle(path, failure);
        if (!failure.empty()) {
            std::printf("FAILED cycle %d: %s\n", cycle, failure.c_str());
            return 1;
        }
        if (cycle == 1) {
            reference = seen;
        } else if (seen != reference) {
            std::printf("FAILED cycle %d differs from the first\n       first:\n%s       this one:\n%s", cycle,
                        Lines(reference).c_str(), Lines(seen).c_str());
            return 1;
        }
        if (cycle == 10) {
            afterTenth = PrivateBytes();
            slotAfterTenth = FirstFreeTlsSlot();
        }
        if (cycle % 100 == 0 || cycle == cycles) {
            afterLast = PrivateBytes();
            slotAfterLast = FirstFreeTlsSlot();
            std::printf("cycle %d of %d: private bytes %lu, first free TLS slot %lu (%lu ms)\n", cycle, cycles,
                        static_cast<unsigned long>(afterLast), static_cast<unsigned long>(slotAfterLast),
                        static_cast<unsigned long>(GetTickCount() - began));
            std::fflush(stdout);
        }
    }
    for (HMODULE module : modules) {
        FreeLibrary(module);
    }
    if (cycles < 10) {
        std::printf("cycles: %d, too few to compare memory\n", cycles);
        return 0;
    }
    std::printf("private bytes after cycle 10: %lu, after cycle %d: %lu\n", static_cast<unsigned long>(afterTenth),
                cycles, static_cast<unsigned long>(afterLast));
    std::printf("first free TLS slot after cycle 10: %lu, after cycle %d: %lu\n",
                static_cast<unsigned long>(slotAfterTenth), cycles, static_cast<unsigned long>(slotAfterLast));
    if (afterTenth == 0 || afterLast == 0) {
        std::printf("FAILED GetProcessMemoryInfo gives no private bytes\n");
        return 1;
    }
    if (afterLast > afterTenth + kAllowedGrowth) {
        std::printf("FAILED private bytes grew by %lu over %d cycles (at most %lu allowed)\n",
                    static_cast<unsigned long>(afterLast - afterTenth), cycles - 10,
                    static_cast<unsigned long>(kAllowedGrowth));
        return 1;
    }
    if (slotAfterLast != slotAfterTenth) {
        std::printf("FAILED every load takes a thread-local storage slot that the unload does not free "
                    "(%lu more after %d cycles); the process runs out after about 1 000 loads\n",
                    static_cast<unsigned long>(slotAfterLast - slotAfterTenth), cycles - 10);
        return 1;
    }
    std::printf("%d load/unload cycles, each as the first, memory and TLS slots flat\n", cycles);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const int cycles = argc == 3 ? std::atoi(argv[2]) : 1000;
    if (argc < 2 || argc > 3 || cycles < 1) {
        std::fprintf(stderr, "usage: soak.exe <path of DrawVelora.dll> [cycles]\n");
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    DebugMessages capture;
    if (!capture.Ok()) {
        std::printf("FAILED AddVectoredExceptionHandler\n");
        return 1;
    }
    return Soak(argv[1], cycles);
}
