#include "GreyRamp.h"

#include <bit>
#include <cstddef>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZERMIC_X86 1
#endif

GreyRamp GreyRamp::forWindow(int lo, int hi) {
    GreyRamp ramp;
    const long long span = static_cast<long long>(hi) - lo;
    if (span < 1 || span > 0xFFFF || lo < -0xFFFF || lo > 0xFFFF)
        return ramp;
    ramp.usable = true;
    ramp.subtract = static_cast<std::uint16_t>(lo >= 0 ? lo : 0);
    ramp.add = static_cast<std::uint16_t>(lo < 0 ? -lo : 0);
    ramp.span = static_cast<std::uint16_t>(span);
    ramp.shift = static_cast<std::uint16_t>(std::countl_zero(ramp.span));
    const std::uint64_t normalised = std::uint64_t(span) << ramp.shift;
    const std::uint64_t factor = ((std::uint64_t(255) << 32) + normalised - 1) / normalised;
    ramp.factorHigh = static_cast<std::uint16_t>(factor >> 16);
    ramp.factorLow = static_cast<std::uint16_t>(factor & 0xFFFF);
    return ramp;
}

#ifdef ZERMIC_X86

namespace {

// Sixteen levels from sixteen pixels, each lane as GreyRamp::level does it.
__attribute__((target("avx2"))) inline __m256i rampLevels(__m256i v, __m256i subtract, __m256i add,
                                                          __m256i span, __m128i shift,
                                                          __m256i factorHigh, __m256i factorLow) {
    __m256i t = _mm256_adds_epu16(_mm256_subs_epu16(v, subtract), add);
    t = _mm256_sll_epi16(_mm256_min_epu16(t, span), shift);
    const __m256i high = _mm256_mulhi_epu16(t, factorHigh);
    const __m256i low = _mm256_mullo_epi16(t, factorHigh);
    const __m256i carryIn = _mm256_mulhi_epu16(t, factorLow);
    // low + carryIn overflows 16 bits exactly when carryIn > ~low; compared
    // as signed after flipping the top bits.
    const __m256i carry =
        _mm256_cmpgt_epi16(_mm256_xor_si256(carryIn, _mm256_set1_epi16(short(0x8000))),
                           _mm256_xor_si256(low, _mm256_set1_epi16(0x7FFF)));
    return _mm256_sub_epi16(high, carry); // carry lanes are -1
}

__attribute__((target("avx2"))) int mapAvx2(const GreyRamp& ramp, const unsigned short* pixels,
                                            int width, int height, int bitmapWidth,
                                            std::uint8_t* bits) {
    const __m256i subtract = _mm256_set1_epi16(short(ramp.subtract));
    const __m256i add = _mm256_set1_epi16(short(ramp.add));
    const __m256i span = _mm256_set1_epi16(short(ramp.span));
    const __m128i shift = _mm_cvtsi32_si128(ramp.shift);
    const __m256i factorHigh = _mm256_set1_epi16(short(ramp.factorHigh));
    const __m256i factorLow = _mm256_set1_epi16(short(ramp.factorLow));
    const int done = width & ~31;
    for (int y = 0; y < height; ++y) {
        const unsigned short* src = pixels + std::ptrdiff_t(y) * width;
        std::uint8_t* dst = bits + std::ptrdiff_t(height - 1 - y) * bitmapWidth;
        for (int x = 0; x < done; x += 32) {
            const __m256i first =
                rampLevels(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + x)), subtract,
                           add, span, shift, factorHigh, factorLow);
            const __m256i second =
                rampLevels(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + x + 16)),
                           subtract, add, span, shift, factorHigh, factorLow);
            // The pack interleaves the 128-bit halves; the permute puts the
            // 32 bytes back in pixel order.
            const __m256i packed =
                _mm256_permute4x64_epi64(_mm256_packus_epi16(first, second), 0xD8);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x), packed);
        }
    }
    return done;
}

} // namespace

int mapGreyRampVector(const GreyRamp& ramp, const unsigned short* pixels, int width, int height,
                      int bitmapWidth, std::uint8_t* bits) {
    static const bool hasAvx2 = __builtin_cpu_supports("avx2");
    if (!ramp.usable || !hasAvx2 || width < 32)
        return 0;
    return mapAvx2(ramp, pixels, width, height, bitmapWidth, bits);
}

#else

int mapGreyRampVector(const GreyRamp&, const unsigned short*, int, int, int, std::uint8_t*) {
    return 0;
}

#endif
