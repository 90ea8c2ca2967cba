#pragma once

// The 16-bit lane operations of the hand-written AVX2 loops. Every function
// that takes or returns a vector carries the instruction set, the templates
// over the lanes included, so that a call that is not inlined (at -O0) passes
// its vectors the same way on both sides. The loops' entry points are called
// only after asking the CPU. Include only from such files.

#include "GreyRamp.h"

#include <immintrin.h>

#include <array>
#include <cstdint>

#define ZERMIC_AVX2 __attribute__((target("avx2")))

struct Lanes256 {
    using V = __m256i;
    static constexpr int count = 16;

    ZERMIC_AVX2 static V load(const unsigned short* p) {
        return _mm256_loadu_si256(reinterpret_cast<const V*>(p));
    }
    ZERMIC_AVX2 static V set(std::uint16_t v) { return _mm256_set1_epi16(short(v)); }
    ZERMIC_AVX2 static V add(V a, V b) { return _mm256_add_epi16(a, b); }
    ZERMIC_AVX2 static V sub(V a, V b) { return _mm256_sub_epi16(a, b); }
    // (a ^ b) & 1: whether a + b is odd.
    ZERMIC_AVX2 static V oddSum(V a, V b) {
        return _mm256_and_si256(_mm256_xor_si256(a, b), set(1));
    }
    // ~(a & b) & c
    ZERMIC_AVX2 static V notBothAnd(V a, V b, V c) {
        return _mm256_andnot_si256(_mm256_and_si256(a, b), c);
    }
    template <int N> ZERMIC_AVX2 static V shiftRight(V a) { return _mm256_srli_epi16(a, N); }
    ZERMIC_AVX2 static V shiftLeft(V a, __m128i n) { return _mm256_sll_epi16(a, n); }
    ZERMIC_AVX2 static V average(V a, V b) { return _mm256_avg_epu16(a, b); }
    ZERMIC_AVX2 static V subSaturated(V a, V b) { return _mm256_subs_epu16(a, b); }
    ZERMIC_AVX2 static V addSaturated(V a, V b) { return _mm256_adds_epu16(a, b); }
    ZERMIC_AVX2 static V min(V a, V b) { return _mm256_min_epu16(a, b); }
    ZERMIC_AVX2 static V mulHigh(V a, V b) { return _mm256_mulhi_epu16(a, b); }
    ZERMIC_AVX2 static V mulLow(V a, V b) { return _mm256_mullo_epi16(a, b); }
    // high + 1 where low + carryIn overflows 16 bits, i.e. carryIn > ~low,
    // compared as signed after flipping the top bits.
    ZERMIC_AVX2 static V addCarry(V high, V low, V carryIn) {
        const V carry = _mm256_cmpgt_epi16(_mm256_xor_si256(carryIn, set(0x8000)),
                                           _mm256_xor_si256(low, set(0x7FFF)));
        return _mm256_sub_epi16(high, carry);
    }
    // a in the even lanes, b in the odd ones.
    ZERMIC_AVX2 static V evenOdd(V a, V b) { return _mm256_blend_epi16(a, b, 0xAA); }
};

// GreyRamp::level on every lane. The direct form's levels go above 255 past
// the window: the caller packs them to bytes with saturation.
template <class L> struct RampLanes {
    using V = typename L::V;
    V subtract, add, span, factorHigh, factorLow, directHigh, directLow;
    __m128i shift;

    ZERMIC_AVX2 explicit RampLanes(const GreyRamp& ramp)
        : subtract(L::set(ramp.subtract)), add(L::set(ramp.add)), span(L::set(ramp.span)),
          factorHigh(L::set(ramp.factorHigh)), factorLow(L::set(ramp.factorLow)),
          directHigh(L::set(ramp.directHigh)), directLow(L::set(ramp.directLow)),
          shift(_mm_cvtsi32_si128(ramp.shift)) {}

    // The loops pick the variant once per row: whether lo is negative (only
    // one of subtract and add is not zero) and the ramp's form.
    template <bool NegativeLo, RampForm Form> ZERMIC_AVX2 V levels(V v) const {
        V t = NegativeLo ? L::addSaturated(v, add) : L::subSaturated(v, subtract);
        V high, low, carryIn;
        if constexpr (Form == RampForm::Direct) {
            high = L::mulHigh(t, directHigh);
            low = L::mulLow(t, directHigh);
            carryIn = L::mulHigh(t, directLow);
        } else {
            t = L::shiftLeft(L::min(t, span), shift);
            high = L::mulHigh(t, factorHigh);
            low = L::mulLow(t, factorHigh);
            carryIn = L::mulHigh(t, factorLow);
        }
        if constexpr (Form == RampForm::Carry)
            return L::addCarry(high, low, carryIn);
        return L::add(high, L::template shiftRight<15>(L::average(low, carryIn)));
    }
};

// Calls f.template operator()<NegativeLo, Form>() for the ramp's variant.
template <typename F> decltype(auto) withRampVariant(const GreyRamp& ramp, F&& f) {
    auto withForm = [&]<bool NegativeLo>() -> decltype(auto) {
        switch (ramp.form()) {
        case RampForm::Direct:
            return f.template operator()<NegativeLo, RampForm::Direct>();
        case RampForm::AverageCarry:
            return f.template operator()<NegativeLo, RampForm::AverageCarry>();
        case RampForm::Carry:
            break;
        }
        return f.template operator()<NegativeLo, RampForm::Carry>();
    };
    return ramp.add != 0 ? withForm.template operator()<true>()
                         : withForm.template operator()<false>();
}
