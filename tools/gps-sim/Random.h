// A small seeded generator (SplitMix64): the same seed gives the same drive and the same line
// noise on every machine, which std:: distributions do not promise.
#pragma once

#include <stdint.h>

namespace tavro::gpssim {

class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}

    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [low, high).
    double Uniform(double low, double high) {
        return low + (high - low) * static_cast<double>(Next() >> 11) * 0x1.0p-53;
    }

    // Uniform in [0, bound), bound > 0.
    uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }

private:
    uint64_t state_;
};

// A value in [-1, 1) fixed by (seed, key): repeatable jitter without keeping state.
inline double HashNoise(uint64_t seed, uint64_t key) {
    Random random(seed * 0x100000001B3ull ^ key);
    return random.Uniform(-1.0, 1.0);
}

} // namespace tavro::gpssim
