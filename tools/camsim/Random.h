#pragma once

#include <cmath>
#include <cstdint>

// Small deterministic generator (PCG32): the same seed gives the same sky and
// the same noise on every machine and library version.
class Random {
public:
    explicit Random(std::uint64_t seed, std::uint64_t stream = 1) {
        inc = stream << 1 | 1;
        next();
        state += seed;
        next();
    }

    std::uint32_t next() {
        const std::uint64_t old = state;
        state = old * 6364136223846793005ULL + inc;
        const auto xorshifted = static_cast<std::uint32_t>(((old >> 18) ^ old) >> 27);
        const auto rot = static_cast<std::uint32_t>(old >> 59);
        return (xorshifted >> rot) | (xorshifted << ((32 - rot) & 31));
    }

    // Uniform in [0, 1).
    double uniform() { return next() * (1.0 / 4294967296.0); }

    // Standard normal (Box-Muller, both values used).
    double normal() {
        if (haveSpare) {
            haveSpare = false;
            return spare;
        }
        const double u1 = 1.0 - uniform(); // (0, 1]: log stays finite
        const double u2 = uniform();
        const double r = std::sqrt(-2.0 * std::log(u1));
        spare = r * std::sin(2.0 * M_PI * u2);
        haveSpare = true;
        return r * std::cos(2.0 * M_PI * u2);
    }

private:
    std::uint64_t state = 0;
    std::uint64_t inc = 0;
    double spare = 0;
    bool haveSpare = false;
};
