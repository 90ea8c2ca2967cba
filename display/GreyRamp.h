#pragma once

#include <algorithm>
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
// The carry out of the low half can also be read from a rounding average
// of the two low parts, one operation fewer; that adds at most 2^16 more to
// the product, which stays below the next integer while span <= 2^15.
//
// Spans from 512 to 2^15 take a shorter form with no clamp and no shift:
//
//   level = floor(t * direct / 2^32), direct = ceil(255 * 2^32 / span), t unclamped
//
// with the carry from the rounding average. That is at most (t + 2^16) / 2^32
// above t * 255 / span, below 1 / span while span * (span + 2^16) < 2^32,
// so exact inside the window. Above it the level is 255 or more and at most
// 65535 * 255 / 512 + 1 < 2^15, which a saturating pack to bytes makes 255.
//
// The plain loops every CPU runs take one form for every window: the value
// clamped into the window first, the offset normalised, and the carry taken
// exactly (clampedLevel).
//
// Windows with no ramp (lo = hi), a span beyond 65535 or lo beyond
// +-65535 are not representable; callers use the lookup table for them.

// How the vector loops take a ramp's product: normalised with the exact
// carry, normalised with the carry from the rounding average, or direct.
enum class RampForm { Carry, AverageCarry, Direct };

struct GreyRamp {
    bool usable = false;
    std::uint16_t subtract = 0; // lo when lo >= 0
    std::uint16_t add = 0;      // -lo when lo < 0, at most span (hi <= 0: all white)
    std::uint16_t span = 0;
    std::uint16_t clampLow = 0;  // the window on the 16-bit scale: max(lo, 0) ...
    std::uint16_t clampHigh = 0; // ... to hi within 0..65535
    std::uint16_t shift = 0;
    std::uint16_t scale = 1; // 2^shift
    std::uint16_t factorHigh = 0;
    std::uint16_t factorLow = 0;
    bool averageCarry = false; // span <= 2^15: the carry from the rounding average
    bool direct = false;       // 512 <= span <= 2^15: the direct form
    std::uint16_t directHigh = 0;
    std::uint16_t directLow = 0;

    RampForm form() const {
        return direct ? RampForm::Direct : averageCarry ? RampForm::AverageCarry : RampForm::Carry;
    }

    static GreyRamp forWindow(int lo, int hi);

    // The ramp giving the level table's byte for every 16-bit value: a window
    // with no ramp splits at value > lo, which is the ramp of (lo, lo + 1), and
    // a window wholly above or below the scale maps it all to black or white,
    // as the ramp at that edge does. Not usable only for spans beyond 65535.
    static GreyRamp forLevels(int lo, int hi);

    // The same arithmetic on one value, as the vector code does it per lane;
    // the direct form's levels above 255 are saturated as the vector pack does.
    std::uint8_t level(unsigned value) const {
        unsigned t = value > subtract ? value - subtract : 0u;
        t = t + add > 0xFFFFu ? 0xFFFFu : t + add;
        if (direct) {
            const std::uint32_t product = t * directHigh;
            const std::uint32_t carryIn = (t * directLow) >> 16;
            const std::uint32_t level =
                (product >> 16) + ((((product & 0xFFFFu) + carryIn + 1) >> 1) >> 15);
            return static_cast<std::uint8_t>(level < 255 ? level : 255);
        }
        t = (t < span ? t : span) << shift;
        const std::uint32_t product = t * factorHigh;
        const std::uint32_t carryIn = (t * factorLow) >> 16;
        const std::uint32_t high = product >> 16;
        const std::uint32_t low = product & 0xFFFFu;
        const std::uint32_t carry =
            averageCarry ? ((low + carryIn + 1) >> 1) >> 15 : (low + carryIn) >> 16;
        return static_cast<std::uint8_t>(high + carry);
    }

    // The same levels in 16-bit steps that a compiler turns into vector code
    // for any target: the value clamped into the window, its offset, the
    // product's high half and the exact carry out of its low half. Values are
    // compared with their top bit flipped, as signed numbers, which every
    // vector unit can.
    std::uint8_t clampedLevel(std::uint16_t value) const {
        const auto signedLow = std::int16_t(clampLow ^ 0x8000);
        const auto signedHigh = std::int16_t(clampHigh ^ 0x8000);
        const auto kept = std::min(std::max(std::int16_t(value ^ 0x8000), signedLow), signedHigh);
        const auto t = std::uint16_t(std::uint16_t(kept - signedLow + add) * scale);
        const auto high = std::uint16_t((std::uint32_t(t) * factorHigh) >> 16);
        const auto low = std::uint16_t(t * factorHigh);
        const auto carryIn = std::uint16_t((std::uint32_t(t) * factorLow) >> 16);
        const auto notLow = std::uint16_t(~low);
        return std::uint8_t(high +
                            (std::int16_t(carryIn ^ 0x8000) > std::int16_t(notLow ^ 0x8000)));
    }
};

// Maps columns from firstColumn on of every image row through the ramp with
// the plain loop (usable ramps only), into the bottom-up bitmap as below.
void mapGreyRampPlain(const GreyRamp& ramp, const unsigned short* pixels, int width, int height,
                      int bitmapWidth, std::uint8_t* bits, int firstColumn);

// Maps the first (width rounded down to 32) pixels of each image row through
// the ramp into the bottom-up bitmap (image row y into memory row h - 1 - y,
// rows bitmapWidth bytes apart) with the hand-written AVX2 loop, and returns
// how many pixels of each row it did: 0 when the CPU has no AVX2, or the ramp
// is not usable. The caller maps the rest.
int mapGreyRampVector(const GreyRamp& ramp, const unsigned short* pixels, int width, int height,
                      int bitmapWidth, std::uint8_t* bits);
