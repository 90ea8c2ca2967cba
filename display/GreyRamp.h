#pragma once

#include <cstdint>

// The grey ramp (v - lo) * 255 / (hi - lo), clamped to 0..255, as exact
// 16-bit fixed-point arithmetic that vector units do many pixels at a time:
//
//   t = min(v - lo, span) with v - lo saturated at 0 and 65535, span = hi - lo
//   t' = t << shift, shift putting span's top bit at bit 15
//   level = floor(t' * factor / 2^32), factor = ceil(255 * 2^32 / (span << shift))
//
// factor is below 2^25 and is split into two 16-bit halves, so the product
// needs only 16 x 16-bit multiplies and one carry. The result equals the
// truncating division for every value because span^2 < 2^32: the rounding
// excess of the factor, at most t / 2^32 < 1 / span, never reaches the
// next integer.
//
// Windows with no ramp (lo = hi), a span beyond 65535 or lo beyond
// +-65535 are not representable; callers use the lookup table for them.
struct GreyRamp {
    bool usable = false;
    std::uint16_t subtract = 0; // lo when lo >= 0
    std::uint16_t add = 0;      // -lo when lo < 0
    std::uint16_t span = 0;
    std::uint16_t shift = 0;
    std::uint16_t factorHigh = 0;
    std::uint16_t factorLow = 0;

    static GreyRamp forWindow(int lo, int hi);

    // The same arithmetic on one value, as the vector code does it per lane.
    std::uint8_t level(unsigned value) const {
        unsigned t = value > subtract ? value - subtract : 0u;
        t = t + add > 0xFFFFu ? 0xFFFFu : t + add;
        t = (t < span ? t : span) << shift;
        const std::uint32_t product = t * factorHigh;
        const std::uint32_t low = (t * factorLow) >> 16;
        return static_cast<std::uint8_t>((product + low) >> 16);
    }
};

// Maps the first (width rounded down to 32) pixels of each image row through
// the ramp into the bottom-up bitmap (image row y into memory row h - 1 - y,
// rows bitmapWidth bytes apart) with the CPU's vector unit, and returns how
// many pixels of each row it did: 0 when the CPU cannot, or the ramp is not
// usable. The caller maps the rest.
int mapGreyRampVector(const GreyRamp& ramp, const unsigned short* pixels, int width, int height,
                      int bitmapWidth, std::uint8_t* bits);
