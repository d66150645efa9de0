// xorshift32: the tests' own source of choices, independent of the plug-in's
// generator, so a run replays exactly from its seed on every compiler and
// platform.
#pragma once

#include <cstdint>

namespace velora::testing {

class Chooser {
public:
    explicit Chooser(std::uint32_t seed = 0x9E3779B9u) : state_(seed) {}

    std::uint32_t Next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        return state_ ^= state_ << 5;
    }
    // 0 to n - 1.
    std::uint32_t Below(std::uint32_t n) { return Next() % n; }
    // low to high, both included.
    std::int32_t Range(std::int32_t low, std::int32_t high)
    {
        return low + static_cast<std::int32_t>(Below(static_cast<std::uint32_t>(high - low + 1)));
    }

private:
    std::uint32_t state_;
};

}  // namespace velora::testing
