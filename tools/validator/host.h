// The validator's host: a stand-in for the engine that can turn hostile, and
// that checks every call the plug-in makes on it while the call is made.
//
// It implements the engine's interfaces (sprite bank, surfaces, surface
// factory, both drawing interfaces, draw host, and the services the three
// host modules hand out). The driver tells it, before each call into the
// plug-in, what kind of call runs and, for Draw, what the model knows about
// the handle (started or not, field, mode, sprite run, particle count). The
// host then checks each operation as it arrives and, at EndCall, what must
// hold at the end of the call:
//   - no host operation outside Draw, Update and CreateInterface, and none at
//     all in a Draw for a handle without a started instance;
//   - the first sprite fetched is the base sprite, every later one lies in
//     the run (baseSprite .. baseSprite + spriteCount - 1);
//   - one sprite fetch per particle: in a Draw of a well-formed instance
//     (sprite bank held, base sprite there, spriteCount and rotationFrames
//     above 0) exactly as many as the model's particle count, otherwise that
//     many or none;
//   - the drawing operations of the instance's mode only, each with the
//     particle's own sprite or the call's scratch surface, the Draw's
//     destination and rate; every drawn rectangle non-empty, inside the
//     field and inside its source (for a draw from the scratch surface:
//     inside the part the last CopyRect filled); mode 2 copies, filters,
//     then draws, mode 3 copies, then mixes;
//   - pixel and alpha addresses asked only inside the surface asked;
//   - at most one scratch surface per call, S x S in the destination's
//     format, destroyed exactly once in the call that made it and not used
//     afterwards; no other surface destroyed; no surface used that was not
//     handed over in this call.
// Hostile configurations: missing sprites, sprites of zero, negative, huge or
// other sizes than the base sprite (smaller or larger), surfaces that answer
// null for every pixel address, a factory that makes no surface, module
// factories that refuse their services.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "contract/guid.h"
#include "contract/host_interfaces.h"
#include "validator/choice_stream.h"

namespace velora::validator {

class Host;

// GUIDs are equal when all sixteen bytes are.
inline bool SameGuid(const Guid& a, const Guid& b) { return GuidEquals(&a, &b); }

// The three host modules, in the order the plug-in looks them up.
enum class Module { MainSystem = 0, Graph = 1, SurfaceFactory = 2 };

// Called by the host modules' factory exports; answers from the active host.
void* ServeModule(int module, const Guid* iid);

enum class SurfaceRole { Sprite, Destination, Scratch };

class Surface final : public ISurface {
public:
    // Pixels are held only for small surfaces (0 < width, height <= pixelLimit)
    // that do not answer null on purpose; every other address asked is null.
    Surface(Host& host, SurfaceRole role, std::int32_t width, std::int32_t height, std::int32_t format,
            bool nullAddresses, std::uint32_t alphaSeed, std::int32_t pixelLimit);

    void VELORA_METHOD Destroy() override;
    std::uint8_t* VELORA_METHOD GetPixelAddress(std::int32_t x, std::int32_t y) override;
    std::uint8_t* VELORA_METHOD GetAlphaAddress(std::int32_t x, std::int32_t y) override;
    std::int32_t VELORA_METHOD GetWidth() override;
    std::int32_t VELORA_METHOD GetHeight() override;
    std::int32_t VELORA_METHOD GetFormat() override;

    bool HasPixels() const { return !alpha_.empty(); }
    bool Contains(std::int64_t x, std::int64_t y) const
    {
        return x >= 0 && y >= 0 && x < width && y < height;
    }

    const SurfaceRole role;
    const std::int32_t width;
    const std::int32_t height;
    const std::int32_t format;
    const bool nullAddresses;
    std::uint64_t handedOutIn = 0;  // the host call index that last handed it over
    bool destroyed = false;

private:
    Host& host_;
    std::vector<std::uint8_t> colour_;  // four bytes a pixel, 0 to 2 used
    std::vector<std::uint8_t> alpha_;
};

// What the model knows about the handle of the Draw about to run.
struct DrawExpectation {
    bool started = false;  // the handle has an instance and Start ran for it
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t type = 0;
    std::int32_t baseSprite = 0;
    std::int32_t spriteCount = 0;
    std::int32_t rotationFrames = 0;
    std::int64_t particles = 0;
    bool hasBank = false;  // the plug-in object holds the host's sprite bank
    ISurface* destination = nullptr;
    std::int32_t rate = 0;
};

enum class CallKind { Quiet, CreateInterface, Update, Draw };

class Host {
public:
    Host();
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // --- hostile configuration, changed between calls by the driver ---

    // A new sprite bank: every sprite number maps to one of a few surfaces of
    // chosen sizes, or to none. hostile=false gives a uniform run of S x S
    // sprites that are all there.
    void ConfigureSprites(Choices& choices, bool hostile);
    // The sprite bank's answer for a number under the current configuration.
    Surface* SpriteFor(std::int32_t number);
    void SetFactoryRefuses(bool refuses) { factoryRefuses_ = refuses; }
    void SetScratchNullAddresses(bool nullAddresses) { scratchNullAddresses_ = nullAddresses; }
    void SetModuleRefuses(Module module, bool refuses) { moduleRefuses_[static_cast<int>(module)] = refuses; }
    bool ModuleRefuses(Module module) const { return moduleRefuses_[static_cast<int>(module)]; }
    void SetReportAnswer(std::int32_t answer) { reportAnswer_ = answer; }
    std::int32_t ReportAnswer() const { return reportAnswer_; }
    // Destination surfaces: 0 is an ordinary 640 x 480 one, the others are
    // empty or of negative size; nullptr is also a destination the host may pass.
    ISurface* Destination(int which);
    static constexpr int kDestinations = 3;

    // --- the interfaces handed to the plug-in ---
    ISpriteBank* SpriteBank();
    IDrawHost* DrawHost();
    IGraphBlend* GraphBlend();
    IGraphFilter* GraphFilter();
    ISurfaceFactory* SurfaceFactory();
    void* MainSystem();

    // --- one call into the plug-in ---
    // The expectations are given before BeginCall and hold until EndCall.
    void ExpectDraw(const DrawExpectation& expectation) { draw_ = expectation; }
    // The ReportRect the coming Update must make, if any.
    void ExpectReport(bool expected, bool handleKnown, std::int32_t handle);
    void BeginCall(CallKind kind, const char* name);
    void EndCall();

    std::uint64_t HostCallsThisCall() const { return hostCalls_; }
    std::int64_t SpritesFetchedThisCall() const { return particleFetches_ + (baseFetched_ ? 1 : 0); }
    std::int64_t DrawsThisCall() const { return drawn_; }
    int ScratchesThisCall() const { return scratchMade_; }
    // The module factory calls of this call, in order.
    const std::vector<std::pair<Module, Guid>>& FactoryCalls() const { return factoryCalls_; }

    // Totals over the run, to see what a run reached.
    struct Totals {
        std::uint64_t startedDraws = 0;    // Draw calls of started instances
        std::uint64_t startedByMode[5] = {0, 0, 0, 0, 0};  // modes 0 to 3, others
        std::uint64_t spriteFetches = 0;   // per-particle sprite fetches
        std::uint64_t drawnByMode[4] = {0, 0, 0, 0};
        std::uint64_t scratches = 0;
        std::uint64_t pixelReads = 0;      // alpha addresses asked (mode 3)
        std::uint64_t reports = 0;
        std::uint64_t factoryCalls = 0;
    };
    const Totals& RunTotals() const { return totals_; }

    // Faults found so far: the first few in words, all of them counted.
    void Fault(const std::string& what);
    const std::vector<std::string>& Faults() const { return faults_; }
    std::uint64_t FaultCount() const { return faultCount_; }
    // The call (number and name) in which the first fault was found.
    std::uint64_t FirstFaultCall() const { return firstFaultCall_; }
    const char* FirstFaultName() const { return firstFaultName_; }
    void ClearFaults();

    // For the module factories.
    void* Serve(Module module, const Guid* iid);

private:
    friend class Surface;
    class Bank;
    class Factory;
    class Blend;
    class Filter;
    class Reporter;

    // Every operation of the host starts here: counts it and checks that a
    // call of this kind may make it at all.
    bool Enter(const char* operation, CallKind allowed);
    bool Usable(const Surface* surface, const char* operation);
    bool IsLiveScratch(const ISurface* surface) const;
    void CheckRect(const char* operation, const char* what, std::int64_t x, std::int64_t y, std::int64_t w,
                   std::int64_t h, std::int64_t limitW, std::int64_t limitH, const char* limitName);
    bool CheckMode(const char* operation, bool allowed);
    void CheckRate(const char* operation, std::int32_t rate);
    ISurface* GetSprite(std::int32_t number);
    ISurface* CreateSurface(std::int32_t width, std::int32_t height, std::int32_t format);
    // A particle drawn onto the destination by the last operation of its
    // drawing mode: BlendRect (0), BlendRectAlt (1), DrawRect (2), MixRect (3).
    void Drawn(const char* operation, std::int32_t mode, ISurface* dest, std::int32_t dx, std::int32_t dy,
               ISurface* src, std::int32_t sx, std::int32_t sy, std::int32_t w, std::int32_t h, std::int32_t rate);
    void Copied(ISurface* dest, std::int32_t dx, std::int32_t dy, ISurface* src, std::int32_t sx,
                std::int32_t sy, std::int32_t w, std::int32_t h);
    void Filtered(ISurface* surface, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                  std::int32_t rate);
    std::int32_t Report(std::int32_t handle, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h);
    void SurfaceDestroyed(Surface& surface);
    void AlphaAsked(const Surface& surface, std::int32_t x, std::int32_t y);
    void PixelAsked(const Surface& surface, std::int32_t x, std::int32_t y);

    std::unique_ptr<Bank> bank_;
    std::unique_ptr<Factory> factory_;
    std::unique_ptr<Blend> blend_;
    std::unique_ptr<Filter> filter_;
    std::unique_ptr<Reporter> reporter_;
    int mainSystem_ = 0;  // IMainSystem is never called: any object serves

    // Sprite configuration.
    std::vector<std::unique_ptr<Surface>> spritePool_;
    std::uint32_t spriteSalt_ = 0;
    std::uint32_t missingPercent_ = 0;
    std::vector<std::unique_ptr<Surface>> destinations_;
    bool factoryRefuses_ = false;
    bool scratchNullAddresses_ = false;
    bool moduleRefuses_[3] = {false, false, false};
    std::int32_t reportAnswer_ = 0x5EED;

    // The call in progress.
    CallKind kind_ = CallKind::Quiet;
    const char* callName_ = "";
    std::uint64_t callIndex_ = 0;
    std::uint64_t hostCalls_ = 0;
    DrawExpectation draw_;
    bool reportExpected_ = false;
    bool reportHandleKnown_ = false;
    std::int32_t reportHandle_ = 0;
    int reports_ = 0;
    bool unstartedReported_ = false;
    bool baseFetched_ = false;
    Surface* base_ = nullptr;
    std::int32_t S_ = 0;
    std::int64_t particleFetches_ = 0;
    Surface* current_ = nullptr;  // the sprite of the particle being drawn
    enum class Stage { None, Fetched, Copied, Filtered } stage_ = Stage::None;
    std::int32_t copiedWidth_ = 0;
    std::int32_t copiedHeight_ = 0;
    std::int64_t drawn_ = 0;
    int scratchMade_ = 0;
    int createAsked_ = 0;
    std::vector<std::unique_ptr<Surface>> scratches_;
    std::vector<std::pair<Module, Guid>> factoryCalls_;

    Totals totals_;
    std::vector<std::string> faults_;
    std::uint64_t faultCount_ = 0;
    std::uint64_t firstFaultCall_ = 0;
    const char* firstFaultName_ = "";
};

// The host the module factories answer from; null when none is active.
void SetActiveHost(Host* host);

}  // namespace velora::validator
