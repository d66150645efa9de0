// Linked into a second build of a test program, so that the whole program
// runs under the floating-point state an engine may leave behind when it
// calls the plug-in:
//   VELORA_FP_PRESET=1  x87 precision control 24 bits (a Direct3D 9 device
//                       created without FPU preservation);
//   VELORA_FP_PRESET=2  flush-to-zero and denormals-are-zero in MXCSR.
// The state is set by a static constructor, after the C runtime's own
// start-up and before main. At exit the program checks that it is still in
// force (nothing in between gave it up), else it fails.
#include <float.h>
#include <xmmintrin.h>

#include <cstdio>
#include <cstdlib>

namespace {

#if VELORA_FP_PRESET == 1
constexpr const char* kName = "x87 precision 24 bits";
bool InForce() { return (_controlfp(0, 0) & _MCW_PC) == _PC_24; }
void Set() { _controlfp(_PC_24, _MCW_PC); }
#elif VELORA_FP_PRESET == 2
constexpr unsigned kFtzDaz = 0x8040;
constexpr const char* kName = "MXCSR flush-to-zero and denormals-are-zero";
bool InForce() { return (_mm_getcsr() & kFtzDaz) == kFtzDaz; }
void Set() { _mm_setcsr(_mm_getcsr() | kFtzDaz); }
#else
#error "VELORA_FP_PRESET must be 1 or 2"
#endif

void CheckAtExit()
{
    if (!InForce()) {
        std::printf("FAILED the floating-point state (%s) was no longer in force at exit\n", kName);
        std::fflush(stdout);
        std::_Exit(1);
    }
    std::printf("floating-point state in force from start to exit: %s\n", kName);
    std::fflush(stdout);
}

struct Preset {
    Preset()
    {
        Set();
        std::atexit(&CheckAtExit);
    }
} preset;

}  // namespace
