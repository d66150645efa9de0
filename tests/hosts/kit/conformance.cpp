// The host kit's conformance suite: every drawing operation, over many
// rectangles (some far outside, some at the ends of the 32-bit range) and
// surfaces of random bytes (premultiplied or not, as a caller may write
// any), compared pixel by pixel with an oracle that works each pixel out on
// its own, in floating point, from the documented formulas, without the
// kit's clipping or loops. Every kernel the build has (pixel_ops.h) is held
// to the oracle in turn, forced one by one, so that a rounding fault in one
// the tests' processor would not pick (AVX2 on a machine with AVX-512) still
// shows; one this processor cannot run is named as skipped, with the reason.
// A plain program (no test framework), so that the same source runs natively
// and, built with Emscripten, under Node.js. Prints each failure and exits 1
// when there is one.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "kit/backdrop.h"
#include "kit/pixel_ops.h"

namespace {

using velora::kit::Surface;
using Byte = std::uint8_t;

int failures = 0;

void Fail(const char* what, int trial, int x, int y, int k, int got, int want)
{
    if (++failures <= 20) {
        std::printf("FAIL %s, trial %d: pixel (%d, %d) byte %d is %d, want %d\n", what, trial, x, y, k, got, want);
    }
}

void Check(bool ok, const char* what)
{
    if (!ok && ++failures <= 20) {
        std::printf("FAIL %s\n", what);
    }
}

// x / 255 rounded to nearest (never a tie for whole x).
int D(double x) { return static_cast<int>(std::lround(x / 255.0)); }
int Clamp(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

enum class Op { Blend, Add, Copy, Filter, Draw, Mix };
const char* Name(Op op)
{
    static const char* names[] = {"BlendRect", "BlendRectAlt", "CopyRect", "FilterRect", "DrawRect", "MixRect"};
    return names[static_cast<int>(op)];
}

// The new value of destination pixel d, with source pixel s, at rate r (0..255).
void Oracle(Op op, Byte* d, const Byte* s, int r)
{
    int out[4];
    for (int k = 0; k < 4; ++k) {
        switch (op) {
        case Op::Blend:
        case Op::Draw: {
            const int rate = op == Op::Draw ? 255 : r;
            const int alpha = D(s[3] * rate);
            out[k] = Clamp(D(s[k] * rate) + D(d[k] * (255 - alpha)));
            break;
        }
        case Op::Add: out[k] = Clamp(d[k] + D(s[k] * r)); break;
        case Op::Copy: out[k] = s[k]; break;
        case Op::Filter: out[k] = k == 3 ? d[k] : D(d[k] * r); break;
        case Op::Mix: {
            if (k == 3) {
                out[k] = d[k];
                break;
            }
            const int over = Clamp(s[k] + 255 - s[3]);
            out[k] = D(d[k] * (255 - D((255 - over) * r)));
            break;
        }
        }
    }
    for (int k = 0; k < 4; ++k) {
        d[k] = static_cast<Byte>(out[k]);
    }
}

// Random bytes, premultiplied or not; one time in three laid out like a
// sprite instead, in runs of 1 to 8 pixels each wholly transparent (0, or
// whitened as the plug-in does in mode 3), wholly opaque or random, so that
// the loops' shortcuts for such pixels are met a vector at a time.
void Randomise(Surface& s, std::mt19937& random)
{
    const bool premultiplied = random() % 2 == 0;
    for (std::size_t i = 0; i < s.ByteCount(); ++i) {
        s.Bytes()[i] = static_cast<Byte>(random());
    }
    if (premultiplied) {
        s.Premultiply();
    }
    if (random() % 3 != 0) {
        return;
    }
    for (std::size_t pixel = 0; pixel < s.ByteCount() / 4;) {
        const std::size_t end = std::min(s.ByteCount() / 4, pixel + 1 + random() % 8);
        const auto kind = random() % 4;
        for (; pixel < end; ++pixel) {
            Byte* p = s.Bytes() + 4 * pixel;
            if (kind == 0) {
                std::memset(p, 0, 4);
            } else if (kind == 1) {
                std::memset(p, 255, 3);
                p[3] = 0;
            } else if (kind == 2) {
                p[3] = 255;
            }
        }
    }
}

std::int32_t Coordinate(std::mt19937& random)
{
    switch (random() % 8) {
    case 0: return INT_MIN + static_cast<std::int32_t>(random() % 3);
    case 1: return INT_MAX - static_cast<std::int32_t>(random() % 3);
    case 2: return static_cast<std::int32_t>(random() % 200) - 100;
    default: return static_cast<std::int32_t>(random() % 40) - 12;
    }
}

std::int32_t Size(std::mt19937& random)
{
    switch (random() % 6) {
    case 0: return INT_MAX - static_cast<std::int32_t>(random() % 2);
    case 1: return -static_cast<std::int32_t>(random() % 5);
    default: return static_cast<std::int32_t>(random() % 50);
    }
}

std::int32_t Rate(std::mt19937& random)
{
    switch (random() % 6) {
    case 0: return 255;
    case 1: return 0;
    case 2: return static_cast<std::int32_t>(random() % 2000) - 1000;  // outside: the nearer end
    default: return static_cast<std::int32_t>(random() % 256);
    }
}

bool Inside(std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height)
{
    return x >= 0 && y >= 0 && x < width && y < height;
}

void Operations(std::mt19937& random)
{
    for (int trial = 0; trial < 3000; ++trial) {
        const auto op = static_cast<Op>(random() % 6);
        Surface dest(static_cast<std::int32_t>(random() % 40), static_cast<std::int32_t>(random() % 40));
        Surface other(static_cast<std::int32_t>(random() % 70), static_cast<std::int32_t>(random() % 30));
        Randomise(dest, random);
        Randomise(other, random);
        const bool self = op == Op::Filter || random() % 8 == 0;  // a source that is its destination
        const Surface& src = self ? dest : other;
        const std::int32_t dx = Coordinate(random), dy = Coordinate(random);
        const std::int32_t sx = op == Op::Filter ? dx : Coordinate(random);
        const std::int32_t sy = op == Op::Filter ? dy : Coordinate(random);
        const std::int32_t w = Size(random), h = Size(random);
        const std::int32_t rate = Rate(random);
        const int r = rate < 0 ? 0 : (rate > 255 ? 255 : rate);

        // The oracle: each destination pixel on its own, from the source as it was.
        std::vector<Byte> want(dest.Bytes(), dest.Bytes() + dest.ByteCount());
        const std::vector<Byte> before = want;
        const std::vector<Byte> source(src.Bytes(), src.Bytes() + src.ByteCount());
        for (std::int32_t y = 0; y < dest.Height(); ++y) {
            for (std::int32_t x = 0; x < dest.Width(); ++x) {
                const std::int64_t t = std::int64_t{x} - dx, u = std::int64_t{y} - dy;
                const std::int64_t fx = sx + t, fy = sy + u;
                if (!Inside(t, u, w, h) || !Inside(fx, fy, src.Width(), src.Height())) {
                    continue;
                }
                Oracle(op, &want[(static_cast<std::size_t>(y) * dest.Width() + x) * 4],
                       &source[(static_cast<std::size_t>(fy) * src.Width() + static_cast<std::size_t>(fx)) * 4], r);
            }
        }

        switch (op) {
        case Op::Blend: BlendRect(dest, dx, dy, src, sx, sy, w, h, rate); break;
        case Op::Add: BlendRectAlt(dest, dx, dy, src, sx, sy, w, h, rate); break;
        case Op::Copy: CopyRect(dest, dx, dy, src, sx, sy, w, h); break;
        case Op::Filter: FilterRect(dest, dx, dy, w, h, rate); break;
        case Op::Draw: DrawRect(dest, dx, dy, src, sx, sy, w, h); break;
        case Op::Mix: MixRect(dest, dx, dy, src, sx, sy, w, h, rate); break;
        }
        for (std::size_t i = 0; i < want.size(); ++i) {
            if (dest.Bytes()[i] != want[i]) {
                const auto pixel = static_cast<int>(i / 4);
                Fail(Name(op), trial, pixel % dest.Width(), pixel / dest.Width(), static_cast<int>(i % 4),
                     dest.Bytes()[i], want[i]);
                break;
            }
        }
        if (!self) {
            Check(source.empty() || std::memcmp(other.Bytes(), source.data(), source.size()) == 0,
                  "the source is left as it was");
        }
        (void)before;
    }
}

// What the modes must look like, on plain colours.
void Meanings()
{
    Surface sprite(1, 1), white(1, 1), black(1, 1), grey(1, 1);
    sprite.SetPixel(0, 0, {200, 100, 50, 255});
    white.Fill({255, 255, 255, 255});
    black.Fill({0, 0, 0, 255});
    MixRect(white, 0, 0, sprite, 0, 0, 1, 1, 255);
    Check(white.Pixel(0, 0) == velora::kit::Rgba{200, 100, 50, 255}, "multiply on white shows the sprite's colour");
    MixRect(black, 0, 0, sprite, 0, 0, 1, 1, 255);
    Check(black.Pixel(0, 0) == velora::kit::Rgba{0, 0, 0, 255}, "multiply on black changes nothing");

    // A whitened transparent pixel (colour 255, alpha 0) leaves the destination alone.
    Surface whitened(1, 1);
    std::memset(whitened.Bytes(), 255, 3);
    grey.Fill({90, 120, 150, 255});
    MixRect(grey, 0, 0, whitened, 0, 0, 1, 1, 255);
    Check(grey.Pixel(0, 0) == velora::kit::Rgba{90, 120, 150, 255}, "a whitened pixel leaves the destination");

    // Mode 2 (darken the copy, then draw it) differs from mode 0 below full rate.
    Surface petal(1, 1), scratch(1, 1), mode0(1, 1), mode2(1, 1);
    petal.SetPixel(0, 0, {240, 180, 200, 200});
    mode0.Fill({30, 60, 90, 255});
    mode2.Fill({30, 60, 90, 255});
    BlendRect(mode0, 0, 0, petal, 0, 0, 1, 1, 128);
    CopyRect(scratch, 0, 0, petal, 0, 0, 1, 1);
    FilterRect(scratch, 0, 0, 1, 1, 128);
    DrawRect(mode2, 0, 0, scratch, 0, 0, 1, 1);
    Check(!(mode0.Pixel(0, 0) == mode2.Pixel(0, 0)), "mode 2 differs from mode 0 at rate 128");
}

// The picture behind the effect: each frame pixel worked out on its own,
// from the picture at the same place between pixel centres, its edges going
// on, mixed by distance, over black. Sizes smaller, larger and the same as
// the frame, one pixel wide or high included.
void Stretching(std::mt19937& random)
{
    std::uniform_int_distribution<int> side(1, 40);
    for (int trial = 0; trial < 60; ++trial) {
        const int pw = trial == 0 ? 1 : side(random), ph = trial == 0 ? 1 : side(random);
        const int fw = trial == 1 ? pw : side(random), fh = trial == 1 ? ph : side(random);
        Surface picture(pw, ph);
        Randomise(picture, random);
        velora::kit::Premultiply(picture.Bytes(), picture.ByteCount() / 4);
        std::vector<Byte> frame(static_cast<std::size_t>(fw) * fh * 4, 7);
        velora::kit::StretchPicture(picture.Bytes(), pw, ph, frame.data(), fw, fh);
        const auto at = [](int i, int frameSide, int pictureSide) {
            return std::clamp((i + 0.5) * pictureSide / frameSide - 0.5, 0.0, pictureSide - 1.0);
        };
        for (int y = 0; y < fh; ++y) {
            for (int x = 0; x < fw; ++x) {
                const double u = at(x, fw, pw), v = at(y, fh, ph);
                const int x0 = static_cast<int>(std::floor(u)), y0 = static_cast<int>(std::floor(v));
                const int x1 = std::min(x0 + 1, pw - 1), y1 = std::min(y0 + 1, ph - 1);
                const double tx = u - x0, ty = v - y0;
                for (int k = 0; k < 4; ++k) {
                    const auto p = [&](int px, int py) { return double(picture.Bytes()[(py * pw + px) * 4 + k]); };
                    const double top = p(x0, y0) + (p(x1, y0) - p(x0, y0)) * tx;
                    const double bottom = p(x0, y1) + (p(x1, y1) - p(x0, y1)) * tx;
                    const int want = k == 3 ? 255 : static_cast<int>(top + (bottom - top) * ty + 0.5);
                    const int got = frame[(static_cast<std::size_t>(y) * fw + x) * 4 + k];
                    if (got != want) {
                        Fail("StretchPicture", trial, x, y, k, got, want);
                    }
                }
            }
        }
        if (trial == 1) {
            bool unchanged = true;
            for (std::size_t i = 0; i < frame.size(); ++i) {
                unchanged = unchanged && frame[i] == (i % 4 == 3 ? 255 : picture.Bytes()[i]);
            }
            Check(unchanged, "a picture of the frame's size comes out unchanged, over black");
        }
    }
}

}  // namespace

int main()
{
    for (const velora::kit::KernelSupport& kernel : velora::kit::BuiltKernels()) {
        if (kernel.missing) {
            std::printf("kernel %s: skipped, %s\n", kernel.name, kernel.missing);
            continue;
        }
        Check(velora::kit::UseKernel(kernel.kernel), "a kernel the processor runs can be chosen");
        const int before = failures;
        std::mt19937 random(20240611);
        Operations(random);
        Meanings();
        std::printf("kernel %s: %s\n", kernel.name, failures == before ? "every operation matches" : "FAILED");
    }
    velora::kit::UseBestKernel();
    std::mt19937 random(20240611);
    Stretching(random);
    if (failures) {
        std::printf("%d failures\n", failures);
        return 1;
    }
    std::printf("host kit conformance: every operation matches the oracle\n");
    return 0;
}
