// The plug-in under the floating-point state engines leave behind.
//
// A Direct3D 9 device created without FPU preservation sets the x87
// precision control to 24 bits; other engines set flush-to-zero and
// denormals-are-zero in MXCSR for speed. The plug-in's particles must not
// notice: this host runs one seeded session through DrawVelora.dll in the
// default state, then again with each of those states set, each time in a
// fresh load of the library, and compares digests of everything the host
// saw: the debug messages (the stand-in Graph module's trace of every drawing
// operation among them), the sprites asked for, the reports, and the
// destination's pixels after every frame, which the stand-in Graph module
// really draws and which thus show where every particle went.
//
// The plug-in's clocks are this host's: its imports of timeGetTime and
// GetTickCount are redirected, so every run sees the same times. The host
// checks from inside its own operations (which the plug-in calls) that the
// state it set is the one in force, and after the session that the plug-in
// gave it back unchanged.
//
// Usage: fp_state.exe <path of DrawVelora.dll> [frames, default 1500]
// Prints one digest a state; exits 0 when all are equal, 1 otherwise.
#include <fcntl.h>
#include <float.h>
#include <io.h>
#include <windows.h>
#include <xmmintrin.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/chooser.h"
#include "validator/import_patch.h"
#include "windows/session.h"

namespace {

using host_module::DebugMessages;
using host_module::LoadedPlugin;
using velora::validator::ReplaceImport;

constexpr unsigned kFlushToZero = 0x8000;       // MXCSR FTZ
constexpr unsigned kRoundTowardZero = 0x6000;   // MXCSR RC = 11
constexpr unsigned kDenormalsAreZero = 0x0040;  // MXCSR DAZ

struct FpState {
    const char* name;
    bool mustDiffer;        // a control: the digest must see this state
    unsigned x87Precision;  // _PC_24, or kLeave for the process's own
    unsigned mxcsrFlags;    // bits set in MXCSR on top of the default
};

constexpr unsigned kLeave = ~0u;

constexpr FpState kStates[] = {
    {"default", false, kLeave, 0},
    {"x87 precision 24 bits", false, _PC_24, 0},
    {"MXCSR flush-to-zero and denormals-are-zero", false, kLeave, kFlushToZero | kDenormalsAreZero},
    // The control: rounding toward zero changes the plug-in's arithmetic,
    // so a digest that did not change would see too little to prove anything.
    {"MXCSR rounding toward zero (control)", true, kLeave, kRoundTowardZero},
};

// What the control words are right now.
struct FpWords {
    unsigned x87Precision;
    unsigned mxcsr;
    bool operator==(const FpWords&) const = default;
};

FpWords CurrentWords() { return {_controlfp(0, 0) & _MCW_PC, _mm_getcsr() & ~0x3Fu}; }  // less the sticky flags

// The state a run sets, and whether every look from inside the plug-in's
// calls found it.
FpWords wanted{};
int lookedInside = 0;
int wrongInside = 0;

void LookInside()
{
    ++lookedInside;
    wrongInside += CurrentWords() == wanted ? 0 : 1;
}

// FNV-1a, 64 bits.
class Digest {
public:
    void Bytes(const void* data, std::size_t size)
    {
        for (const auto* byte = static_cast<const std::uint8_t*>(data); size-- > 0; ++byte) {
            value_ = (value_ ^ *byte) * 0x100000001B3u;
        }
    }
    void Text(const std::string& text) { Bytes(text.data(), text.size() + 1); }
    void Word(std::int32_t word) { Bytes(&word, sizeof word); }
    std::uint64_t Value() const { return value_; }

private:
    std::uint64_t value_ = 0xCBF29CE484222325u;
};

// The plug-in's two clocks, advanced by the session.
std::uint32_t multimediaNow = 0;
std::uint32_t tickNow = 0;
DWORD WINAPI SessionTime() { return multimediaNow++; }
DWORD WINAPI SessionTicks() { return tickNow; }

class CheckingDrawHost final : public velora::IDrawHost {
public:
    std::int32_t VELORA_METHOD ReportRect(std::int32_t handle, std::int32_t x, std::int32_t y, std::int32_t width,
                                          std::int32_t height) override
    {
        LookInside();
        digest->Word(handle);
        digest->Word(x);
        digest->Word(y);
        digest->Word(width);
        digest->Word(height);
        return handle;
    }
    Digest* digest = nullptr;
};

// A sprite bank that looks at the state whenever the plug-in asks it.
class CheckingSpriteBank final : public velora::ISpriteBank {
public:
    velora::ISurface* VELORA_METHOD GetSprite(std::int32_t number) override
    {
        LookInside();
        return bank_.GetSprite(number);
    }
    host_module::RecordingSpriteBank& Bank() { return bank_; }

private:
    host_module::RecordingSpriteBank bank_{100, 12, 7};
};

// One session in the given state; the digest, or an error.
bool Session(const char* path, const FpState& state, int frames, std::uint64_t& value, std::string& error)
{
    LoadedPlugin plugin(path);
    if (!plugin.Error().empty()) {
        error = plugin.Error();
        return false;
    }
    if (!ReplaceImport(plugin.Module(), "WINMM.dll", "timeGetTime", reinterpret_cast<void*>(&SessionTime)) ||
        !ReplaceImport(plugin.Module(), "KERNEL32.dll", "GetTickCount", reinterpret_cast<void*>(&SessionTicks))) {
        error = "the plug-in does not import timeGetTime from WINMM.dll and GetTickCount from KERNEL32.dll";
        return false;
    }
    Digest digest;
    CheckingDrawHost drawHost;
    drawHost.digest = &digest;
    CheckingSpriteBank bank;
    host_module::MemorySurface destination(320, 240, 77, "test host: the destination was destroyed\n");
    multimediaNow = 0xFFFFFFFFu - 20000u;  // the counter wraps during the session
    velora::testing::Chooser choose(0x2545F491u);

    const FpWords before = CurrentWords();
    if (state.x87Precision != kLeave) {
        _controlfp(state.x87Precision, _MCW_PC);
    }
    _mm_setcsr(_mm_getcsr() | state.mxcsrFlags);
    wanted = CurrentWords();

    velora::IDrawPlugin* object = plugin->CreateInterface(&velora::IID_DrawPlugin);
    if (object) {
        object->SetInterface(&velora::IID_DrawHost, static_cast<velora::IDrawHost*>(&drawHost));
        object->SetInterface(&velora::IID_SpriteBank, static_cast<velora::ISpriteBank*>(&bank));
        const std::int32_t handles[] = {1, 2, 3};
        const auto init = [&](std::int32_t handle) {
            tickNow = choose.Next();
            plugin->Init(handle, choose.Range(40, 360), choose.Range(30, 260), 100, choose.Range(1, 12),
                         choose.Range(0, 4));
            plugin->SetType(handle, choose.Range(0, 3));
            plugin->SetNumof(handle, choose.Range(1, 30));
            plugin->Start(handle);
        };
        for (const std::int32_t handle : handles) {
            init(handle);
        }
        for (int frame = 0; frame < frames; ++frame) {
            const std::int32_t handle = handles[choose.Range(0, 2)];
            switch (choose.Range(0, 29)) {
            case 0: plugin->Release(handle); init(handle); break;
            case 1: plugin->SetType(handle, choose.Range(0, 3)); break;
            case 2: plugin->SetMaxAmp(handle, choose.Range(-50, 900)); break;
            // Tiny and odd speeds, where results are most fragile.
            case 3: plugin->SetXSpeed(handle, static_cast<float>(choose.Range(-3000, 3000)) / 997.0f); break;
            case 4: plugin->SetYSpeed(handle, static_cast<float>(choose.Range(1, 5000)) / 1e7f); break;
            case 5: plugin->Start(handle); break;
            default: break;
            }
            multimediaNow += static_cast<std::uint32_t>(choose.Range(0, 60));
            for (const std::int32_t drawn : handles) {
                object->Draw(drawn, &destination, 0, 0, 0, 0, 0, 0, choose.Range(0, 255));
            }
            object->Update();
            for (const std::string& message : DebugMessages::Take()) {
                digest.Text(message);
            }
            for (const std::int32_t number : bank.Bank().asked) {
                digest.Word(number);
            }
            bank.Bank().asked.clear();
            // The destination keeps every frame's drawing; a look now and
            // then sees where all particles went.
            for (std::int32_t y = 0; frame % 20 == 19 && y < destination.GetHeight(); ++y) {
                digest.Bytes(destination.GetPixelAddress(0, y), static_cast<std::size_t>(destination.GetWidth()) * 4);
            }
        }
        object->Destroy();
    }
    const FpWords after = CurrentWords();
    _controlfp(before.x87Precision, _MCW_PC);
    _mm_setcsr(before.mxcsr);

    if (!object) {
        error = "CreateInterface answered null";
        return false;
    }
    if (!(after == wanted)) {
        error = "the plug-in did not give the host's floating-point state back";
        return false;
    }
    value = digest.Value();
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const int frames = argc == 3 ? std::atoi(argv[2]) : 1500;
    if (argc < 2 || argc > 3 || frames < 1) {
        std::fprintf(stderr, "usage: fp_state.exe <path of DrawVelora.dll> [frames]\n");
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    DebugMessages capture;
    const std::string folder = host_module::ProgramFolder();
    for (const char* name : {"MainSystem.dll", "Graph.dll", "SurfaceFactory.dll"}) {
        if (!LoadLibraryA((folder + "\\" + name).c_str())) {
            std::printf("FAILED cannot load the host module %s\n", name);
            return 1;
        }
    }
    int failed = 0;
    std::uint64_t reference = 0;
    for (const FpState& state : kStates) {
        lookedInside = 0;
        wrongInside = 0;
        std::uint64_t value = 0;
        std::string error;
        if (!capture.Ok() || !Session(argv[1], state, frames, value, error)) {
            std::printf("FAILED %s: %s\n", state.name, capture.Ok() ? error.c_str() : "no message capture");
            ++failed;
            continue;
        }
        if (lookedInside == 0 || wrongInside != 0) {
            std::printf("FAILED %s: the state was not in force inside %d of %d host operations\n", state.name,
                        wrongInside, lookedInside);
            ++failed;
        }
        if (&state == &kStates[0]) {
            reference = value;
        }
        const bool ok = (value == reference) != state.mustDiffer;
        std::printf("%s %s: digest %016llX over %d frames%s\n", ok ? "ok    " : "FAILED", state.name,
                    static_cast<unsigned long long>(value), frames,
                    state.mustDiffer ? (ok ? ", differs as it must" : ", the same: the digest sees too little") : "");
        failed += ok ? 0 : 1;
    }
    std::printf("%d failure(s) over %d floating-point states\n", failed,
                static_cast<int>(sizeof kStates / sizeof kStates[0]));
    return failed == 0 ? 0 : 1;
}
