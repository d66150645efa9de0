// The host kit's pixel work, kernel against kernel, in one run: each drawing
// operation on one sprite of 40 x 40 pixels (the large petals) and of
// 256 x 256, drawn over a 640 x 480 frame, with every kernel this build has
// and this processor runs (pixel_ops.h), forced in turn. The floor is
// CopyRect on the same rectangle, a copy of its bytes row by row, measured
// in the same run, so that a busy machine shows in the floor as much as in
// what is measured.
//
// A plain program rather than Google Benchmark, so that the same source runs
// natively and, built with Emscripten, under Node.js: there it compares the
// WebAssembly SIMD loops with the portable ones, which is what the studio
// gains from them.
//
// Goal, in WebAssembly: with its SIMD kernel, BlendRect (what mode 0 draws
// with) on the 40 x 40 sprite takes at most half the portable kernel's
// time, and MixRect (mode 3) at most 0.6 of it. Natively the table is shown without a goal.
// Reported, not enforced: a loaded machine may blur it.
//
//   velora_kit_bench [seconds per measurement, default 0.2]
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "kit/pixel_ops.h"
#include "kit/surface.h"

namespace {

using velora::kit::Kernel;
using velora::kit::KernelSupport;
using velora::kit::Surface;
using Clock = std::chrono::steady_clock;

struct Operation {
    const char* name;
    std::function<void(Surface& frame, const Surface& sprite, int x, int y, int side)> run;
};

const std::vector<Operation>& Operations()
{
    namespace kit = velora::kit;
    static const std::vector<Operation> operations = {
        {"CopyRect", [](Surface& f, const Surface& s, int x, int y, int n) { kit::CopyRect(f, x, y, s, 0, 0, n, n); }},
        {"BlendRect", [](Surface& f, const Surface& s, int x, int y, int n) { kit::BlendRect(f, x, y, s, 0, 0, n, n, 255); }},
        {"BlendRect@128",
         [](Surface& f, const Surface& s, int x, int y, int n) { kit::BlendRect(f, x, y, s, 0, 0, n, n, 128); }},
        {"BlendRectAlt",
         [](Surface& f, const Surface& s, int x, int y, int n) { kit::BlendRectAlt(f, x, y, s, 0, 0, n, n, 128); }},
        {"FilterRect", [](Surface& f, const Surface&, int x, int y, int n) { kit::FilterRect(f, x, y, n, n, 128); }},
        {"MixRect", [](Surface& f, const Surface& s, int x, int y, int n) { kit::MixRect(f, x, y, s, 0, 0, n, n, 128); }},
    };
    return operations;
}

// Nanoseconds per pixel of one operation: the best of three batches, each
// drawing the sprite at places across the frame for about `seconds`.
double NanosecondsPerPixel(const Operation& operation, Surface& frame, const Surface& sprite, double seconds)
{
    const int side = sprite.Width();
    double best = 1e300;
    for (int batch = 0; batch < 3; ++batch) {
        std::int64_t pixels = 0;
        const auto start = Clock::now();
        const auto end = start + std::chrono::duration<double>(seconds / 3);
        auto now = start;
        for (int i = 0; now < end;) {
            for (int k = 0; k < 64; ++k, ++i) {
                // Places that wrap over the frame, always whole inside it.
                const int x = (i * 37) % (frame.Width() - side), y = (i * 23) % (frame.Height() - side);
                operation.run(frame, sprite, x, y, side);
                pixels += std::int64_t{side} * side;
            }
            now = Clock::now();
        }
        const double nanoseconds = std::chrono::duration<double, std::nano>(now - start).count();
        best = std::min(best, nanoseconds / static_cast<double>(pixels));
    }
    return best;
}

// A sprite like a petal: a soft disc, transparent around it, premultiplied.
void PaintPetal(Surface& sprite)
{
    const int side = sprite.Width();
    const double r = side / 2.0;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const double dx = x + 0.5 - r, dy = y + 0.5 - r;
            const double inside = 1.0 - (dx * dx + dy * dy) / (r * r);
            const auto alpha = static_cast<std::uint8_t>(inside <= 0 ? 0 : inside >= 0.5 ? 255 : inside * 510);
            sprite.SetPixel(x, y, {250, 190, 210, alpha});
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 0.2;
    if (!(seconds > 0)) {
        std::fprintf(stderr, "usage: velora_kit_bench [seconds per measurement, more than 0]\n");
        return 2;
    }
    Surface frame(640, 480);
    frame.Fill({40, 50, 90, 255});

    std::vector<const KernelSupport*> kernels;
    for (const KernelSupport& kernel : velora::kit::BuiltKernels()) {
        if (kernel.missing) {
            std::printf("kernel %s: not measured, %s\n", kernel.name, kernel.missing);
        } else {
            kernels.push_back(&kernel);
        }
    }
    const bool simd = velora::kit::ActiveKernel() == Kernel::kWasmSimd;
    bool goalsMet = true;
    for (const int side : {40, 256}) {
        Surface sprite(side, side);
        PaintPetal(sprite);
        std::printf("\n%d x %d sprite: nanoseconds per pixel (times the CopyRect floor)\n%-18s", side, side, "kernel");
        for (const Operation& operation : Operations()) {
            std::printf("%16s", operation.name);
        }
        std::printf("\n");
        std::vector<std::vector<double>> times;
        for (const KernelSupport* kernel : kernels) {
            velora::kit::UseKernel(kernel->kernel);
            std::vector<double> row;
            for (const Operation& operation : Operations()) {
                row.push_back(NanosecondsPerPixel(operation, frame, sprite, seconds));
            }
            std::printf("%-18s", kernel->name);
            for (const double t : row) {
                std::printf("%8.3f (%4.1fx)", t, t / row[0]);
            }
            std::printf("\n");
            times.push_back(row);
        }
        velora::kit::UseBestKernel();
        // Each kernel against the portable one (the first), operation by operation.
        for (std::size_t k = 1; k < kernels.size(); ++k) {
            std::printf("%s against portable:", kernels[k]->name);
            for (std::size_t op = 1; op < Operations().size(); ++op) {
                const double ratio = times[k][op] / times[0][op];
                std::printf(" %s %.2f", Operations()[op].name, ratio);
                const std::string name = Operations()[op].name;
                if (side == 40 && kernels[k]->kernel == Kernel::kWasmSimd &&
                    ((name == "BlendRect" && ratio > 0.5) || (name == "MixRect" && ratio > 0.6))) {
                    goalsMet = false;
                }
            }
            std::printf("\n");
        }
    }
    if (simd) {
        std::printf("\nGoal (WebAssembly SIMD, 40 x 40: BlendRect at most 0.5 and MixRect 0.6 of the portable time): %s\n",
                    goalsMet ? "met" : "missed");
    }
    return 0;
}
