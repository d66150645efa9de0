// Where the validator's decisions come from: a seeded generator for long
// random runs, or the bytes of a fuzzer's input. Every decision the driver
// makes (which call, which handle, which extreme value, how the clock moves)
// is one of these draws, so a seed or an input replays a run exactly.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velora::validator {

class Choices {
public:
    virtual ~Choices() = default;

    // `bytes` (1 to 8) bytes' worth of decision.
    virtual std::uint64_t Take(int bytes) = 0;
    // True once a byte source has run dry; a seeded source never does.
    virtual bool Exhausted() const { return false; }

    // A value in [0, n); 0 when n is 0.
    std::uint32_t Below(std::uint32_t n)
    {
        if (n <= 1) {
            return 0;
        }
        const int bytes = n <= 0x100u ? 1 : n <= 0x10000u ? 2 : 4;
        return static_cast<std::uint32_t>(Take(bytes) % n);
    }
    bool OneIn(std::uint32_t n) { return Below(n) == 0; }
    std::uint32_t Bits32() { return static_cast<std::uint32_t>(Take(4)); }
    std::int32_t AnyInt32() { return static_cast<std::int32_t>(Bits32()); }
    std::uint64_t Bits64() { return Take(8); }

    template <class T, std::size_t N>
    T From(const T (&values)[N])
    {
        return values[Below(static_cast<std::uint32_t>(N))];
    }
};

// xoshiro256** seeded through splitmix64: fast, and the same sequence on
// every platform for a given seed.
class SeededChoices final : public Choices {
public:
    explicit SeededChoices(std::uint64_t seed)
    {
        for (std::uint64_t& word : state_) {
            seed += 0x9E3779B97F4A7C15ull;
            std::uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            word = z ^ (z >> 31);
        }
    }

    std::uint64_t Take(int bytes) override
    {
        const std::uint64_t value = Next();
        return bytes >= 8 ? value : value & ((std::uint64_t{1} << (8 * bytes)) - 1);
    }

private:
    static std::uint64_t Rotate(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::uint64_t Next()
    {
        const std::uint64_t result = Rotate(state_[1] * 5, 7) * 9;
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = Rotate(state_[3], 45);
        return result;
    }

    std::uint64_t state_[4] = {};
};

// The fuzzer's input, read front to back; past its end every draw is 0.
class ByteChoices final : public Choices {
public:
    ByteChoices(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint64_t Take(int bytes) override
    {
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            if (position_ < size_) {
                value |= static_cast<std::uint64_t>(data_[position_]) << (8 * i);
                ++position_;
            } else {
                exhausted_ = true;
            }
        }
        return value;
    }
    bool Exhausted() const override { return exhausted_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
    bool exhausted_ = false;
};

}  // namespace velora::validator
