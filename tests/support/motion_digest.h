// A 64-bit FNV-1a digest of effect state and host calls, so that long runs on
// different builds (native, 32-bit Windows, WebAssembly) can be compared by
// one number. Everything is folded byte by byte in a fixed order, words as
// little-endian, floats by their bit patterns; every NaN folds as one
// pattern, since platforms disagree on the payload of a NaN they make.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "effect/effect_instance.h"

namespace velora::testing {

class MotionDigest {
public:
    void Byte(std::uint8_t value) { hash_ = (hash_ ^ value) * 0x100000001B3u; }
    void Word(std::uint32_t value)
    {
        for (int shift = 0; shift < 32; shift += 8) {
            Byte(static_cast<std::uint8_t>(value >> shift));
        }
    }
    void Float(float value)
    {
        std::uint32_t bits = 0x7FC00000u;
        if (!std::isnan(value)) {
            std::memcpy(&bits, &value, sizeof bits);  // (Emscripten's libc++ has no std::bit_cast)
        }
        Word(bits);
    }
    // A line of text, ended by a newline byte.
    void Text(std::string_view text)
    {
        for (char c : text) {
            Byte(static_cast<std::uint8_t>(c));
        }
        Byte('\n');
    }

    // Settings, clock stamp and every field of every particle, in list order.
    void Instance(const EffectInstance& instance)
    {
        for (std::int32_t value : {instance.type, instance.numof, instance.maxAmp, instance.width, instance.height}) {
            Word(static_cast<std::uint32_t>(value));
        }
        Float(instance.xSpeed);
        Float(instance.ySpeed);
        Byte(instance.started ? 1 : 0);
        Word(instance.lastTime);
        Word(static_cast<std::uint32_t>(instance.particles.size()));
        for (const Particle& p : instance.particles) {
            for (float value : {p.x, p.y, p.angle, p.phaseRate, p.phase, p.fallRate}) {
                Float(value);
            }
            Byte(p.forward ? 1 : 0);
        }
    }

    std::uint64_t Value() const { return hash_; }

private:
    std::uint64_t hash_ = 0xCBF29CE484222325u;
};

}  // namespace velora::testing
