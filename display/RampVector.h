#pragma once

// GreyRamp::level on sixteen 16-bit lanes with AVX2, shared by the grey and
// colour loops. Include only from files that check for the CPU at run time.

#include "GreyRamp.h"

#include <immintrin.h>

struct RampVector {
    __m256i subtract, add, span, factorHigh, factorLow;
    __m128i shift;

    __attribute__((target("avx2"))) explicit RampVector(const GreyRamp& ramp)
        : subtract(_mm256_set1_epi16(short(ramp.subtract))),
          add(_mm256_set1_epi16(short(ramp.add))), span(_mm256_set1_epi16(short(ramp.span))),
          factorHigh(_mm256_set1_epi16(short(ramp.factorHigh))),
          factorLow(_mm256_set1_epi16(short(ramp.factorLow))),
          shift(_mm_cvtsi32_si128(ramp.shift)) {}

    // Sixteen levels from sixteen values, each lane as GreyRamp::level does
    // it. The loops pick the variant once per row: whether lo is negative
    // (only one of subtract and add is not zero) and how the carry is taken.
    template <bool NegativeLo, bool AverageCarry>
    __attribute__((target("avx2"))) __m256i levels(__m256i v) const {
        __m256i t = NegativeLo ? _mm256_adds_epu16(v, add) : _mm256_subs_epu16(v, subtract);
        t = _mm256_sll_epi16(_mm256_min_epu16(t, span), shift);
        const __m256i high = _mm256_mulhi_epu16(t, factorHigh);
        const __m256i low = _mm256_mullo_epi16(t, factorHigh);
        const __m256i carryIn = _mm256_mulhi_epu16(t, factorLow);
        if constexpr (AverageCarry)
            return _mm256_add_epi16(high, _mm256_srli_epi16(_mm256_avg_epu16(low, carryIn), 15));
        // low + carryIn overflows 16 bits exactly when carryIn > ~low; compared
        // as signed after flipping the top bits.
        const __m256i carry =
            _mm256_cmpgt_epi16(_mm256_xor_si256(carryIn, _mm256_set1_epi16(short(0x8000))),
                               _mm256_xor_si256(low, _mm256_set1_epi16(0x7FFF)));
        return _mm256_sub_epi16(high, carry); // carry lanes are -1
    }
};

// Calls f.template operator()<NegativeLo, AverageCarry>() for the ramp's variant.
template <typename F> decltype(auto) withRampVariant(const GreyRamp& ramp, F&& f) {
    const bool negative = ramp.add != 0;
    if (negative)
        return ramp.averageCarry ? f.template operator()<true, true>()
                                 : f.template operator()<true, false>();
    return ramp.averageCarry ? f.template operator()<false, true>()
                             : f.template operator()<false, false>();
}
