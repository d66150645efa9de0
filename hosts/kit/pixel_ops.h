// The six drawing operations of every host, on kit surfaces (premultiplied
// RGBA, see surface.h). One meaning each; the formulas, per byte, with
// r = rate clamped to 0..255 (0 no effect, 255 full strength),
// D(x) = x / 255 rounded to nearest, s and d the source and destination
// bytes k = 0, 1, 2 (colour) and 3 (alpha), and every result clamped to 255:
//
//   BlendRect     source over destination, weighted by rate:
//                 s'k = D(sk r);  dk = s'k + D(dk (255 - s'3))
//   BlendRectAlt  source added to destination (light), weighted by rate:
//                 dk = dk + D(sk r)
//   CopyRect      all four bytes copied
//   FilterRect    colour darkened toward black in place, alpha kept:
//                 dk = D(dk r) for k < 3
//   DrawRect      BlendRect at r = 255: dk = sk + D(dk (255 - s3))
//   MixRect       destination multiplied by the source over white, weighted
//                 by rate, alpha kept: fk = sk + 255 - s3 (so white, or a
//                 transparent pixel, is 255); gk = 255 - D((255 - fk) r);
//                 dk = D(dk gk) for k < 3
//
// Every operation first clips its rectangle with ClipRect (clip.h) and
// touches nothing outside it. A source that is also the destination is read
// as it stood before the operation. They throw std::bad_alloc only when a
// source overlapping its own destination cannot be copied.
#pragma once

#include <cstdint>
#include <span>

#include "kit/surface.h"

namespace velora::kit {

inline constexpr std::int32_t kFullRate = 255;

void BlendRect(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
               std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate);
void BlendRectAlt(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
                  std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate);
void CopyRect(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
              std::int32_t sy, std::int32_t width, std::int32_t height);
void FilterRect(Surface& surface, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                std::int32_t rate);
void DrawRect(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
              std::int32_t sy, std::int32_t width, std::int32_t height);
void MixRect(Surface& dest, std::int32_t dx, std::int32_t dy, const Surface& src, std::int32_t sx,
             std::int32_t sy, std::int32_t width, std::int32_t height, std::int32_t rate);

// The loops behind the operations. Every build has the portable ones; some
// add loops written for one instruction set, for the operations named. Each
// gives the same bytes. The best this processor runs is used unless a test
// or a benchmark forces another.
enum class Kernel : std::uint8_t {
    kPortable,  // every operation: the compiler's loops
    kSse2,      // BlendRect and DrawRect (x86-64 Linux); the rest portable
    kAvx2,      // likewise
    kAvx512,    // likewise (AVX-512 BW)
    kWasmSimd,  // every operation but CopyRect (WebAssembly built with SIMD)
};

struct KernelSupport {
    Kernel kernel;
    const char* name;     // "portable", "SSE2", "AVX2", "AVX-512", "WebAssembly SIMD"
    const char* missing;  // null when this processor runs it, else why not
};

// The kernels this build has, the portable one first.
std::span<const KernelSupport> BuiltKernels();
// Every operation from now on runs kernel; false, changing nothing, when the
// build lacks it or this processor cannot run it.
bool UseKernel(Kernel kernel);
void UseBestKernel();
Kernel ActiveKernel();

}  // namespace velora::kit
