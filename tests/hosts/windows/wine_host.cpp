// A console host that drives DrawVelora.dll the way the engine does: through
// LoadLibraryA, GetProcAddress of its nine exports and the plug-in object's
// table of operations, with stand-in MainSystem, Graph and SurfaceFactory
// modules loaded (or not) beside it. It runs under Wine.
//
// What it can see is what the engine sees: the messages, the calls the
// plug-in makes on the host's objects (the draw host, the sprite bank, the
// surfaces and the modules' services), and the object's fields, read through
// the binary layout the engine shares with the plug-in.
//
// The plug-in's debug messages are caught in this process: OutputDebugStringA
// raises DBG_PRINTEXCEPTION_C, which a vectored handler sees first and
// dismisses. Every check compares the whole sequence of messages of one step,
// byte for byte, the stand-in modules' traces included.
//
// Usage: wine_host.exe <path of DrawVelora.dll>
// The stand-in modules are taken from this program's folder, the MainSystem.dll
// without a GetInterface export from its subfolder "noexport".
//
// Prints one line per check and "N passed, M failed"; exits 1 on any failure.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "contract/exports.h"
#include "contract/messages.h"
#include "contract/plugin_access.h"
#include "windows/host_module.h"
#include "windows/memory_surface.h"

#include "version_resource.h"

namespace {

using velora::Guid;
using velora::IDrawPlugin;
namespace messages = velora::messages;
namespace traces = host_module;

// ---------------------------------------------------------------------------
// Results

int passed = 0;
int failed = 0;

void Report(bool ok, const std::string& name, const std::string& detail = {})
{
    if (ok) {
        ++passed;
        std::printf("ok     %s\n", name.c_str());
    } else {
        ++failed;
        std::printf("FAILED %s\n", name.c_str());
        if (!detail.empty()) {
            std::printf("       %s\n", detail.c_str());
        }
    }
    std::fflush(stdout);
}

// Printable form of a message: bytes outside ASCII as \xNN, the line feed as \n.
std::string Escaped(const std::string& text)
{
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(c));
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Listed(const std::vector<std::string>& texts)
{
    if (texts.empty()) {
        return "(none)";
    }
    std::string out;
    for (const std::string& text : texts) {
        out += (out.empty() ? "" : ", ") + Escaped(text);
    }
    return out;
}

template <class T>
void ExpectEqual(const std::string& name, T actual, T expected)
{
    const bool ok = actual == expected;
    Report(ok, name,
           ok ? std::string{}
              : "got " + std::to_string(actual) + ", expected " + std::to_string(expected));
}

void ExpectTrue(const std::string& name, bool condition, const std::string& detail = {})
{
    Report(condition, name, detail);
}

// ---------------------------------------------------------------------------
// Debug messages

// OutputDebugStringA's exception: parameter 0 is the length including the
// terminating zero, parameter 1 the address of the text.
constexpr DWORD kDebugPrintException = 0x40010006;

std::vector<std::string> captured;

LONG CALLBACK CaptureDebugString(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (record->ExceptionCode != kDebugPrintException || record->NumberParameters < 2) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const auto length = static_cast<std::size_t>(record->ExceptionInformation[0]);
    const auto* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    captured.emplace_back(text, length > 0 ? length - 1 : 0);
    return EXCEPTION_CONTINUE_EXECUTION;
}

// The messages since the previous call.
std::vector<std::string> TakeMessages()
{
    std::vector<std::string> taken;
    taken.swap(captured);
    return taken;
}

void ExpectMessages(const std::string& name, std::initializer_list<const char*> expected)
{
    const std::vector<std::string> actual = TakeMessages();
    const std::vector<std::string> wanted(expected.begin(), expected.end());
    const bool ok = actual == wanted;
    Report(ok, name + " (messages)",
           ok ? std::string{} : "got " + Listed(actual) + "\n       expected " + Listed(wanted));
}

// ---------------------------------------------------------------------------
// The plug-in's binary interface

using velora::exports::PluginExports;

// Finds the nine exports with GetProcAddress, one check each.
bool Resolve(HMODULE module, PluginExports& dll)
{
    return velora::exports::BindExports(dll, [module](const char* name) {
               void* address = reinterpret_cast<void*>(GetProcAddress(module, name));
               ExpectTrue(std::string("GetProcAddress finds ") + name, address != nullptr);
               return address;
           }) == nullptr;
}

// ---------------------------------------------------------------------------
// The host's side of the plug-in object

class RecordingDrawHost final : public velora::IDrawHost {
public:
    explicit RecordingDrawHost(std::int32_t answer) : answer_(answer) {}

    std::int32_t VELORA_METHOD ReportRect(std::int32_t handle, std::int32_t x, std::int32_t y,
                                          std::int32_t width, std::int32_t height) override
    {
        ++calls;
        last = {handle, x, y, width, height};
        return answer_;
    }

    int calls = 0;
    std::vector<std::int32_t> last;

private:
    std::int32_t answer_;
};

// Sprites first to first + count - 1, all size x size kit surfaces in format
// 77: colour 0x20 0x40 0x60, opaque but for size + 1 transparent pixels (the
// diagonal and the top-right corner). Counts the sprites asked for.
class SpriteBank final : public velora::ISpriteBank {
public:
    SpriteBank(std::int32_t first, std::int32_t count, std::int32_t size) : first_(first)
    {
        for (std::int32_t i = 0; i < count; ++i) {
            sprites_.push_back(std::make_unique<host_module::MemorySurface>(
                size, size, 77, "test host: a sprite was destroyed\n"));
            host_module::MemorySurface& sprite = *sprites_.back();
            for (std::int32_t x = 0; x < size; ++x) {
                for (std::int32_t y = 0; y < size; ++y) {
                    const bool transparent = x == y || (x == size - 1 && y == 0);
                    sprite.SetPixel(x, y, {0x20, 0x40, 0x60, static_cast<std::uint8_t>(transparent ? 0 : 255)});
                }
            }
        }
    }

    velora::ISurface* VELORA_METHOD GetSprite(std::int32_t number) override
    {
        ++calls;
        asked.push_back(number);
        const std::int64_t index = static_cast<std::int64_t>(number) - first_;
        return index >= 0 && index < static_cast<std::int64_t>(sprites_.size())
                   ? sprites_[static_cast<std::size_t>(index)].get()
                   : nullptr;
    }

    int calls = 0;
    std::vector<std::int32_t> asked;  // the sprite numbers, in order

private:
    std::int32_t first_;
    std::vector<std::unique_ptr<host_module::MemorySurface>> sprites_;
};

// Calls Update and checks it reported (handle, 0, 0, 640, 480) to host exactly
// once and returned host's answer.
void ExpectUpdateReports(const std::string& name, IDrawPlugin* plugin, RecordingDrawHost& host,
                         std::int32_t answer, std::int32_t handle)
{
    const int before = host.calls;
    const std::int32_t result = plugin->Update();
    ExpectEqual(name + ": ReportRect called once", host.calls - before, 1);
    const std::vector<std::int32_t> wanted{handle, 0, 0, 640, 480};
    std::string got;
    for (const std::int32_t value : host.last) {
        got += (got.empty() ? "" : ", ") + std::to_string(value);
    }
    ExpectTrue(name + ": ReportRect(" + std::to_string(handle) + ", 0, 0, 640, 480)",
               host.last == wanted, "got ReportRect(" + got + ")");
    ExpectEqual(name + ": Update returns ReportRect's result", result, answer);
}

// ---------------------------------------------------------------------------
// The stand-in host modules

std::string ProgramFolder()
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    const std::size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
}

HMODULE LoadModule(const std::string& path)
{
    HMODULE module = LoadLibraryA(path.c_str());
    ExpectTrue("LoadLibraryA " + path, module != nullptr,
               "error " + std::to_string(GetLastError()));
    return module;
}

void Unload(HMODULE& loaded, const char* name)
{
    ExpectTrue(std::string("FreeLibrary ") + name, loaded && FreeLibrary(loaded));
    loaded = nullptr;
    ExpectTrue(std::string(name) + " no longer loaded", GetModuleHandleA(name) == nullptr);
}

// What a module's factory answers, asked directly (its trace is dropped).
void* AskModule(HMODULE module, const char* exportName, const Guid& iid)
{
    using Factory = void*(__cdecl*)(const Guid*);
    const auto factory =
        reinterpret_cast<Factory>(reinterpret_cast<void*>(GetProcAddress(module, exportName)));
    void* answer = factory ? factory(&iid) : nullptr;
    TakeMessages();
    return answer;
}

void SetRefusing(HMODULE module, int refuse)
{
    const auto setter = reinterpret_cast<traces::RefuseRequestsFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, traces::kRefuseExport)));
    ExpectTrue("module exports RefuseRequests", setter != nullptr);
    if (setter) {
        setter(refuse);
    }
}

// ---------------------------------------------------------------------------

// What the scenarios share: the plug-in, its exports, the host's objects and
// modules, and the plug-in objects made so far. Each scenario runs on what
// the ones before it left; false stops the run.
struct Session {
    const char* pluginPath = nullptr;
    HMODULE plugin = nullptr;
    PluginExports dll;
    std::string folder;
    IDrawPlugin* first = nullptr;
    IDrawPlugin* second = nullptr;
    IDrawPlugin* third = nullptr;
    RecordingDrawHost hostA{4242};
    RecordingDrawHost hostB{-7};
    RecordingDrawHost hostC{31};
    SpriteBank bank{100, 4, 4};
    Guid nearMiss{};
    HMODULE mainSystem = nullptr;
    HMODULE graph = nullptr;
    HMODULE surfaceFactory = nullptr;
    void* mainSystemObject = nullptr;
    void* blendObject = nullptr;
    void* filterObject = nullptr;
    void* factoryObject = nullptr;
    host_module::MemorySurface destination{64, 48, 77, "test host: the destination was destroyed\n"};

    static constexpr std::int32_t kRate = 4660;
    // Draw through the table's fifth slot; the six words between the
    // destination and the rate are never read.
    void draw(IDrawPlugin* object, std::int32_t handle)
    {
        object->Draw(handle, &destination, -1, 0x7FFFFFFF, -0x7FFFFFFF - 1, 12345, 0, -99, kRate);
    }
};

// The plug-in loads and shows its nine exports; the capture of debug
// messages must work before anything else means something.
bool LoadThePlugin(Session& s)
{
    OutputDebugStringA("test host: probe \x81\xA1\n");
    ExpectMessages("OutputDebugStringA is captured", {"test host: probe \x81\xA1\n"});

    s.plugin = LoadLibraryA(s.pluginPath);
    ExpectTrue(std::string("LoadLibraryA ") + s.pluginPath, s.plugin != nullptr,
               "error " + std::to_string(GetLastError()));
    if (!s.plugin) {
        return false;
    }
    ExpectMessages("loading the plug-in", {});

    if (!Resolve(s.plugin, s.dll)) {
        return false;
    }

    s.folder = ProgramFolder();
    for (const char* name : {"MainSystem", "Graph", "SurfaceFactory"}) {
        ExpectTrue(std::string(name) + " not loaded at start", GetModuleHandleA(name) == nullptr);
    }
    return true;
}

// Without the host modules: four lookups fail, the object still comes.
bool WithoutHostModules(Session& s)
{
    s.first = s.dll.CreateInterface(&velora::IID_DrawPlugin);
    ExpectMessages("CreateInterface without host modules",
                   {messages::kModuleNotLoaded, messages::kModuleNotLoaded,
                    messages::kModuleNotLoaded, messages::kModuleNotLoaded});
    ExpectTrue("CreateInterface without host modules returns an object", s.first != nullptr);
    if (!s.first) {
        return false;
    }
    {
        const velora::DrawPluginFields f = velora::FieldsOf(s.first);
        ExpectTrue("without host modules all four services are null",
                   !f.mainSystem && !f.surfaceFactory && !f.graphBlend && !f.graphFilter);
        ExpectTrue("drawHost and spriteBank start null", !f.drawHost && !f.spriteBank);
    }
    ExpectEqual("Retain returns 1", s.first->Retain(), 1);
    ExpectEqual("Retain returns 1 again", s.first->Retain(), 1);
    ExpectEqual("Update before any IDrawHost returns 0", s.first->Update(), 0);
    ExpectMessages("Retain and Update", {});
    return true;
}

// CreateInterface refuses what is not IID_DrawPlugin.
bool FactoryRefusesOtherGuids(Session& s)
{
    ExpectTrue("CreateInterface(null) returns null", s.dll.CreateInterface(nullptr) == nullptr);
    ExpectMessages("CreateInterface(null)", {messages::kCreateInterfaceNullGuid});
    s.nearMiss = velora::IID_DrawPlugin;
    s.nearMiss.Data4[7] ^= 0x01;
    ExpectTrue("CreateInterface(last byte differs) returns null",
               s.dll.CreateInterface(&s.nearMiss) == nullptr);
    ExpectMessages("CreateInterface(last byte differs)", {messages::kCreateInterfaceUnsupportedGuid});
    ExpectTrue("CreateInterface(IID_DrawHost) returns null",
               s.dll.CreateInterface(&velora::IID_DrawHost) == nullptr);
    ExpectMessages("CreateInterface(IID_DrawHost)", {messages::kCreateInterfaceUnsupportedGuid});
    return true;
}

// SetInterface.
bool SetInterfaceTakesTwoInterfaces(Session& s)
{
    s.first->SetInterface(nullptr, nullptr);
    ExpectMessages("SetInterface(null, null)", {messages::kSetInterfaceNullGuid});
    s.first->SetInterface(nullptr, &s.hostA);
    ExpectMessages("SetInterface(null, host)", {messages::kSetInterfaceNullGuid});
    s.first->SetInterface(&velora::IID_DrawHost, nullptr);
    ExpectMessages("SetInterface(IID_DrawHost, null)", {messages::kSetInterfaceNullInterface});
    s.first->SetInterface(&velora::IID_MainSystem, &s.hostA);
    ExpectMessages("SetInterface(IID_MainSystem, p)", {messages::kSetInterfaceUnsupportedGuid});
    s.first->SetInterface(&velora::IID_DrawPlugin, &s.hostA);
    ExpectMessages("SetInterface(IID_DrawPlugin, p)", {messages::kSetInterfaceUnsupportedGuid});
    {
        const velora::DrawPluginFields f = velora::FieldsOf(s.first);
        ExpectTrue("refused SetInterface calls store nothing", !f.drawHost && !f.spriteBank);
    }
    s.first->SetInterface(&velora::IID_DrawHost, static_cast<velora::IDrawHost*>(&s.hostA));
    s.first->SetInterface(&velora::IID_SpriteBank, static_cast<velora::ISpriteBank*>(&s.bank));
    ExpectMessages("SetInterface(IID_DrawHost) and (IID_SpriteBank)", {});
    {
        const velora::DrawPluginFields f = velora::FieldsOf(s.first);
        ExpectTrue("drawHost and spriteBank are stored",
                   f.drawHost == static_cast<velora::IDrawHost*>(&s.hostA) &&
                       f.spriteBank == static_cast<velora::ISpriteBank*>(&s.bank));
    }
    s.first->SetInterface(&velora::IID_DrawHost, nullptr);
    ExpectMessages("SetInterface(IID_DrawHost, null) after a host",
                   {messages::kSetInterfaceNullInterface});
    return true;
}

// Init records into the current object; Update reports it.
bool InitRecordsUpdateReports(Session& s)
{
    s.dll.Init(7, 800, 600, 0, 16, 4);
    ExpectMessages("Init(7, 800, 600, 0, 16, 4)", {});
    {
        const velora::DrawPluginFields f = velora::FieldsOf(s.first);
        ExpectTrue("Init records handle, width and height",
                   f.lastHandle == 7 && f.lastWidth == 800 && f.lastHeight == 600);
    }
    ExpectUpdateReports("Update after Init(7)", s.first, s.hostA, 4242, 7);
    s.first->SetInterface(&velora::IID_DrawHost, static_cast<velora::IDrawHost*>(&s.hostB));
    const int hostACalls = s.hostA.calls;
    ExpectUpdateReports("Update after replacing IDrawHost", s.first, s.hostB, -7, 7);
    ExpectEqual("the replaced IDrawHost is not called", s.hostA.calls, hostACalls);
    ExpectMessages("Update", {});

    // Refused CreateInterface calls leave the current object as it was.
    s.dll.CreateInterface(nullptr);
    s.dll.CreateInterface(&s.nearMiss);
    TakeMessages();
    s.dll.Init(8, 320, 240, 0, 16, 4);
    ExpectUpdateReports("Init after refused CreateInterface calls", s.first, s.hostB, -7, 8);
    return true;
}

// With the host modules loaded: the four services, no plug-in message.
bool WithHostModules(Session& s)
{
    s.mainSystem = LoadModule(s.folder + "\\MainSystem.dll");
    s.graph = LoadModule(s.folder + "\\Graph.dll");
    s.surfaceFactory = LoadModule(s.folder + "\\SurfaceFactory.dll");
    if (!s.mainSystem || !s.graph || !s.surfaceFactory) {
        return false;
    }
    s.mainSystemObject = AskModule(s.mainSystem, "GetInterface", velora::IID_MainSystem);
    s.blendObject = AskModule(s.graph, "CreateInterface", velora::IID_GraphBlend);
    s.filterObject = AskModule(s.graph, "CreateInterface", velora::IID_GraphFilter);
    s.factoryObject =
        AskModule(s.surfaceFactory, "CreateInterface", velora::IID_SurfaceFactory);

    s.second = s.dll.CreateInterface(&velora::IID_DrawPlugin);
    ExpectMessages("CreateInterface with host modules",
                   {traces::kTraceMainSystem, traces::kTraceGraphBlend, traces::kTraceGraphFilter,
                    traces::kTraceSurfaceFactory});
    ExpectTrue("CreateInterface with host modules returns a new object",
               s.second != nullptr && s.second != s.first);
    if (!s.second) {
        return false;
    }
    {
        const velora::DrawPluginFields f = velora::FieldsOf(s.second);
        ExpectTrue("the four services are stored in their fields",
                   f.mainSystem == s.mainSystemObject && f.graphBlend == s.blendObject &&
                       f.graphFilter == s.filterObject && f.surfaceFactory == s.factoryObject &&
                       s.mainSystemObject && s.blendObject && s.filterObject && s.factoryObject);
        ExpectTrue("a new object has no drawHost or spriteBank", !f.drawHost && !f.spriteBank);
    }

    // The newest object is the current one; the earlier one keeps working.
    s.second->SetInterface(&velora::IID_DrawHost, static_cast<velora::IDrawHost*>(&s.hostC));
    s.dll.Init(9, 640, 480, 0, 16, 4);
    ExpectUpdateReports("second object after Init(9)", s.second, s.hostC, 31, 9);
    ExpectUpdateReports("first object still reports its own Init", s.first, s.hostB, -7, 8);
    ExpectMessages("two objects side by side", {});
    return true;
}

// Draw, through the table's fifth slot, onto the host's surfaces with
// the Graph and SurfaceFactory modules. Freshly spawned particles lie in
// the field, so the first frame after Start draws every one of them.
bool DrawInEveryMode(Session& s)
{
    s.second->SetInterface(&velora::IID_SpriteBank, static_cast<velora::ISpriteBank*>(&s.bank));

    s.bank.calls = 0;
    s.draw(s.second, 40);
    s.dll.Init(40, 64, 48, 100, 4, 2);
    s.draw(s.second, 40);
    ExpectEqual("Draw for a handle without a started instance asks for no sprite", s.bank.calls, 0);
    ExpectMessages("Draw for a handle without a started instance", {});

    const char* const blend = "test module Graph: BlendRect(onto 64x48 from 4x4, rate 4660, inside)\n";
    const char* const blendAlt =
        "test module Graph: BlendRectAlt(onto 64x48 from 4x4, rate 4660, inside)\n";
    const char* const makeScratch = "test module SurfaceFactory: CreateSurface(4, 4, format 77)\n";
    const char* const copy = "test module Graph: CopyRect(onto 4x4 at 0,0 from 4x4 at 0,0, 4x4)\n";
    const char* const filter = "test module Graph: FilterRect(on 4x4 at 0,0, 4x4, rate 4660)\n";
    const char* const drawRect = "test module Graph: DrawRect(onto 64x48 from 4x4, inside)\n";
    // The copy of a sprite with 5 transparent pixels, whitened there.
    const char* const mix =
        "test module Graph: MixRect(onto 64x48 from 4x4 with 5 white, rate 4660, inside)\n";
    const char* const endScratch = traces::kTraceScratchDestroyed;
    struct ModeCase {
        std::int32_t type;
        std::initializer_list<const char*> calls;
    };
    for (const ModeCase& mode : {
             ModeCase{0, {blend, blend, blend}},
             ModeCase{1, {blendAlt, blendAlt, blendAlt}},
             ModeCase{2, {makeScratch, copy, filter, drawRect, copy, filter, drawRect, copy, filter,
                          drawRect, endScratch}},
             ModeCase{3, {makeScratch, copy, mix, copy, mix, copy, mix, endScratch}},
             ModeCase{5, {}},
         }) {
        const std::int32_t handle = 41 + mode.type;
        const std::string name = "Draw in mode " + std::to_string(mode.type);
        s.dll.Init(handle, 64, 48, 100, 4, 2);
        s.dll.SetType(handle, mode.type);
        s.dll.SetNumof(handle, 3);
        s.dll.Start(handle);
        TakeMessages();
        s.bank.calls = 0;
        s.draw(s.second, handle);
        ExpectMessages(name, mode.calls);
        ExpectEqual(name + " asks for the base sprite and one per particle", s.bank.calls, 4);
        s.dll.Release(handle);
        s.draw(s.second, handle);
        ExpectMessages(name + " after Release", {});
        ExpectEqual(name + " after Release asks for no sprite", s.bank.calls, 4);
    }
    return true;
}

// The random generator is the C runtime's, shared with this host.
// The sprites a first frame asks for follow from the spawned angles,
// phases and directions, so they stand for the layout.
bool SharedRandomGenerator(Session& s)
{
    std::srand(1);
    const int first3[] = {std::rand(), std::rand(), std::rand()};
    ExpectTrue("the runtime's rand is the classic generator (41, 18467, 6334 after srand(1))",
               first3[0] == 41 && first3[1] == 18467 && first3[2] == 6334);
    const auto layout = [&](std::int32_t handle, unsigned seed) {
        s.dll.Init(handle, 64, 48, 100, 4, 2);
        std::srand(seed);
        s.dll.Start(handle);
        s.bank.asked.clear();
        s.draw(s.second, handle);
        TakeMessages();
        s.dll.Release(handle);
        return s.bank.asked;
    };
    // Apart in time, so that the tick counts that Init seeds with differ.
    const std::vector<std::int32_t> seeded = layout(60, 777);
    Sleep(50);
    const std::vector<std::int32_t> again = layout(61, 777);
    ExpectTrue("a host srand between Init and Start decides the layout",
               seeded.size() == 41 && again == seeded);
    ExpectTrue("a host srand of another seed gives another layout", layout(62, 778) != seeded);
    // Init reseeds the host's generator with the tick count.
    const DWORD tickBefore = GetTickCount();
    s.dll.Init(63, 64, 48, 100, 4, 2);
    const DWORD tickAfter = GetTickCount();
    int after[4];
    for (int& value : after) {
        value = std::rand();
    }
    bool seededByInit = false;
    for (DWORD tick = tickBefore;; ++tick) {
        std::srand(tick);
        bool same = true;
        for (const int value : after) {
            same = std::rand() == value && same;
        }
        seededByInit = seededByInit || same;
        if (tick == tickAfter) {
            break;
        }
    }
    ExpectTrue("after Init the host's rand() continues from srand(GetTickCount())", seededByInit,
               "no tick from " + std::to_string(tickBefore) + " to " + std::to_string(tickAfter) +
                   " gives the draws seen");
    s.dll.Release(63);
    ExpectMessages("the shared random generator", {});
    return true;
}

// Particle counts the storage of a 32-bit process cannot hold. The largest
// int32 is beyond what std::vector<Particle> accepts at all (its max_size),
// so the runtime reports a length error; the largest count it accepts needs
// just under 2 GiB in one block, which the 2 GiB of a process without large
// addresses never has free, so operator new throws bad_alloc. Either way
// Start refuses: no random draw is taken, a fresh instance stays unstarted
// and a running one keeps running without particles. Nothing reaches the
// host, and the plug-in goes on working for every handle.
// Catches: the runtime's length error aborting the process instead of
// throwing bad_alloc, and a guard or operator new that lets a refused
// allocation end the process.
bool OversizedParticleCounts(Session& s)
{
    if constexpr (sizeof(void*) != 4) {
        // A 64-bit process could well be given the storage for the largest
        // int32 of particles, and would then spend minutes filling it.
        return true;
    }
    // The second count relies on this program having 2 GiB of addresses.
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(GetModuleHandleA(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        reinterpret_cast<const char*>(dos) + dos->e_lfanew);
    ExpectTrue("the test host is not large-address-aware (2 GiB of addresses)",
               (nt->FileHeader.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE) == 0);
    // A particle is seven 4-byte fields; the vector's max_size is
    // PTRDIFF_MAX / sizeof(Particle).
    constexpr std::int32_t kParticleBytes = 28;
    constexpr std::int32_t kLargestAccepted = INT32_MAX / kParticleBytes;
    struct CountCase {
        const char* name;
        std::int32_t numof;
    };
    const char* const blend = "test module Graph: BlendRect(onto 64x48 from 4x4, rate 4660, inside)\n";
    const auto firstDraw = [](unsigned seed) {
        std::srand(seed);
        return std::rand();
    };
    for (const CountCase& count : {CountCase{"the largest int32 (beyond max_size)", INT32_MAX},
                                   CountCase{"max_size (2 GiB in one block)", kLargestAccepted}}) {
        const std::string name = std::string("Start with numof ") + count.name;
        constexpr std::int32_t fresh = 70;
        constexpr std::int32_t running = 71;
        s.dll.Init(fresh, 64, 48, 100, 4, 2);
        s.dll.Init(running, 64, 48, 100, 4, 2);
        s.dll.SetNumof(running, 3);
        s.dll.Start(running);

        s.dll.SetNumof(fresh, count.numof);
        s.dll.SetNumof(running, count.numof);
        std::srand(5);
        s.dll.Start(fresh);
        s.dll.Start(running);
        const int next = std::rand();
        ExpectEqual(name + " takes no random draw", next, firstDraw(5));
        s.bank.calls = 0;
        for (int frame = 0; frame < 3; ++frame) {
            s.draw(s.second, fresh);
        }
        ExpectEqual(name + ": a fresh instance stays unstarted and asks for no sprite",
                    s.bank.calls, 0);
        for (int frame = 0; frame < 3; ++frame) {
            s.draw(s.second, running);
        }
        ExpectEqual(name + ": a running instance draws no particle, only the base sprite each frame",
                    s.bank.calls, 3);
        ExpectMessages(name, {});

        // The same instance takes a count it can hold, and another handle draws.
        s.dll.SetNumof(running, 3);
        s.dll.Start(running);
        s.dll.Init(72, 64, 48, 100, 4, 2);
        s.dll.SetNumof(72, 2);
        s.dll.Start(72);
        s.bank.calls = 0;
        s.draw(s.second, running);
        s.draw(s.second, 72);
        ExpectEqual(name + ", then numof 3 and another handle with 2 draw every particle",
                    s.bank.calls, 4 + 3);
        s.dll.Release(fresh);
        s.dll.Release(running);
        s.dll.Release(72);
        s.bank.calls = 0;
        for (const std::int32_t handle : {fresh, running, 72}) {
            s.draw(s.second, handle);
        }
        ExpectEqual(name + ", then Release: no handle draws", s.bank.calls, 0);
        ExpectMessages(name + ", then the plug-in's other calls", {blend, blend, blend, blend, blend});
    }
    return true;
}

// A Graph module that answers null.
bool GraphAnswersNull(Session& s)
{
    SetRefusing(s.graph, 1);
    s.third = s.dll.CreateInterface(&velora::IID_DrawPlugin);
    SetRefusing(s.graph, 0);
    ExpectMessages("CreateInterface while Graph answers null",
                   {traces::kTraceMainSystem, traces::kTraceGraphBlend, messages::kServiceRefused,
                    traces::kTraceGraphFilter, messages::kServiceRefused,
                    traces::kTraceSurfaceFactory});
    ExpectTrue("CreateInterface while Graph answers null returns an object", s.third != nullptr);
    if (!s.third) {
        return false;
    }
    {
        const velora::DrawPluginFields f = velora::FieldsOf(s.third);
        ExpectTrue("refused services stay null, the others are stored",
                   !f.graphBlend && !f.graphFilter && f.mainSystem == s.mainSystemObject &&
                       f.surfaceFactory == s.factoryObject);
    }
    return true;
}

// Destroy: 0, and the current object only stops being current when it
// is the one destroyed.
bool DestroyAndTheCurrentObject(Session& s)
{
    RecordingDrawHost hostD(55);
    s.third->SetInterface(&velora::IID_DrawHost, static_cast<velora::IDrawHost*>(&hostD));
    // Instances made while another object was current, one of them running.
    s.third->SetInterface(&velora::IID_SpriteBank, static_cast<velora::ISpriteBank*>(&s.bank));
    s.dll.Init(50, 64, 48, 100, 4, 2);
    s.dll.SetNumof(50, 2);
    s.dll.Start(50);
    s.bank.calls = 0;
    s.draw(s.third, 50);
    ExpectEqual("a started instance is drawn before Destroy", s.bank.calls, 3);
    ExpectEqual("Destroy of an older object returns 0", s.first->Destroy(), 0);
    s.first = nullptr;
    s.bank.calls = 0;
    s.draw(s.third, 50);
    s.dll.Start(50);
    s.draw(s.third, 50);
    ExpectEqual("Destroy empties the registry: the handle has no instance to draw or start",
                s.bank.calls, 0);
    ExpectMessages("Draw after Destroy", {});
    s.dll.Init(10, 640, 480, 0, 16, 4);
    ExpectUpdateReports("Destroy of an older object keeps the current one", s.third, hostD, 55, 10);
    ExpectEqual("Destroy of the current object returns 0", s.third->Destroy(), 0);
    s.third = nullptr;
    const std::int32_t secondHandle = FieldsOf(s.second).lastHandle;
    s.dll.Init(11, 640, 480, 0, 16, 4);
    ExpectUpdateReports("Init with no current object changes no object", s.second, s.hostC, 31,
                        secondHandle);
    ExpectMessages("Destroy and Init without a current object", {});
    ExpectEqual("Destroy of the second object returns 0", s.second->Destroy(), 0);
    s.second = nullptr;
    return true;
}

// A MainSystem.dll without GetInterface.
bool MainSystemWithoutExport(Session& s)
{
    Unload(s.mainSystem, "MainSystem");
    // The one without the export takes the place of the MainSystem module.
    s.mainSystem = LoadModule(s.folder + "\\noexport\\MainSystem.dll");
    if (!s.mainSystem) {
        return false;
    }
    IDrawPlugin* fourth = s.dll.CreateInterface(&velora::IID_DrawPlugin);
    ExpectMessages("CreateInterface when MainSystem lacks GetInterface",
                   {messages::kExportMissing, traces::kTraceGraphBlend, traces::kTraceGraphFilter,
                    traces::kTraceSurfaceFactory});
    if (fourth) {
        const velora::DrawPluginFields f = velora::FieldsOf(fourth);
        ExpectTrue("without GetInterface mainSystem is null, the others are stored",
                   !f.mainSystem && f.graphBlend == s.blendObject && f.graphFilter == s.filterObject &&
                       f.surfaceFactory == s.factoryObject);
        ExpectEqual("Destroy returns 0", fourth->Destroy(), 0);
    } else {
        ExpectTrue("CreateInterface when MainSystem lacks GetInterface returns an object", false);
    }
    return true;
}

// Modules are looked up afresh: once unloaded they are not found.
bool ModulesAreLookedUpAfresh(Session& s)
{
    Unload(s.mainSystem, "MainSystem");
    Unload(s.graph, "Graph");
    Unload(s.surfaceFactory, "SurfaceFactory");
    IDrawPlugin* fifth = s.dll.CreateInterface(&velora::IID_DrawPlugin);
    ExpectMessages("CreateInterface after the host modules were unloaded",
                   {messages::kModuleNotLoaded, messages::kModuleNotLoaded,
                    messages::kModuleNotLoaded, messages::kModuleNotLoaded});
    if (fifth) {
        ExpectEqual("Destroy returns 0", fifth->Destroy(), 0);
    }
    return true;
}

// The version resource the build gives the DLL, read back as Explorer's
// Details tab reads it.
bool VersionResource(Session& s)
{
    const version_resource::Resource version = version_resource::Read(s.pluginPath);
    ExpectTrue("GetFileVersionInfoA reads the version resource", version.readable, version.failure);
    if (!version.readable) {
        return true;  // nothing below could pass; the other scenarios still run
    }
    ExpectEqual<unsigned long>("FILEVERSION major, minor", version.fileVersionMS,
                               VELORA_TEST_FILE_VERSION_MS);
    ExpectEqual<unsigned long>("FILEVERSION patch, build", version.fileVersionLS,
                               VELORA_TEST_FILE_VERSION_LS);
    const std::pair<const char*, std::string> expected[] = {
        {"FileVersion", VELORA_TEST_VERSION},
        {"ProductVersion", VELORA_TEST_VERSION},
        {"ProductName", "DrawVelora"},
        {"FileDescription", VELORA_TEST_FILE_DESCRIPTION},
        {"OriginalFilename", "DrawVelora.dll"},
    };
    for (const auto& [name, value] : expected) {
        const std::string got = version.Get(name);
        ExpectTrue(std::string("version resource ") + name + " " + Escaped(value), got == value,
                   "got " + Escaped(got));
    }
    return true;
}

// The control exports report nothing, whatever the handle; unloading
// the library with running effects registered is clean.
bool ControlExportsAndUnload(Session& s)
{
    s.dll.Init(20, 640, 480, 100, 16, 4);
    s.dll.SetType(20, 2);
    s.dll.SetNumof(20, 60);
    s.dll.SetMaxAmp(20, 25);
    s.dll.SetXSpeed(20, 1.5f);
    s.dll.SetYSpeed(20, 0.5f);
    s.dll.Start(20);
    s.dll.Init(21, 320, 200, 0, 8, 2);
    s.dll.Start(21);
    s.dll.Release(21);
    s.dll.Release(999);
    s.dll.Start(999);
    s.dll.SetType(999, 1);
    ExpectMessages("control exports", {});
    ExpectTrue("FreeLibrary of the plug-in with an effect running", FreeLibrary(s.plugin) != 0);
    ExpectTrue("DrawVelora no longer loaded", GetModuleHandleA("DrawVelora") == nullptr);
    ExpectMessages("unloading the plug-in", {});
    return true;
}

// The scenarios in order; the first that cannot go on ends the run.
int Run(const char* pluginPath)
{
    Session s;
    s.pluginPath = pluginPath;
    using Scenario = bool (*)(Session&);
    for (Scenario scenario : {&VersionResource, &LoadThePlugin, &WithoutHostModules, &FactoryRefusesOtherGuids, &SetInterfaceTakesTwoInterfaces, &InitRecordsUpdateReports, &WithHostModules, &DrawInEveryMode, &SharedRandomGenerator, &OversizedParticleCounts, &GraphAnswersNull, &DestroyAndTheCurrentObject, &MainSystemWithoutExport, &ModulesAreLookedUpAfresh, &ControlExportsAndUnload}) {
        if (!scenario(s)) {
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: wine_host.exe <path of DrawVelora.dll>\n");
        return 2;
    }
    // Plain line feeds, so the closing line reads the same on every platform.
    _setmode(_fileno(stdout), _O_BINARY);
    PVOID handler = AddVectoredExceptionHandler(1, &CaptureDebugString);
    const int early = handler ? Run(argv[1]) : 1;
    if (!handler) {
        Report(false, "AddVectoredExceptionHandler");
    } else {
        RemoveVectoredExceptionHandler(handler);
    }
    if (early != 0 && failed == 0) {
        Report(false, "the run stopped early");
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
