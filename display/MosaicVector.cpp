#include "MosaicVector.h"

#include <array>
#include <cstddef>

#if defined(__x86_64__) || defined(__i386__)

#include "RampVector.h"

#define AVX2 __attribute__((target("avx2")))

namespace {

constexpr int kBlock = 32;

AVX2 inline __m256i load(const unsigned short* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// floor((a + b) / 2) kept within 16 bits, with a ^ b whose bit 0 says
// whether the halving dropped a half.
struct Half {
    __m256i mean, odd;
};

AVX2 inline Half half(__m256i a, __m256i b) {
    const __m256i odd = _mm256_xor_si256(a, b);
    return {_mm256_add_epi16(_mm256_and_si256(a, b), _mm256_srli_epi16(odd, 1)), odd};
}

// floor((a + b + c + d) / 4) from the two pair halves: the halves dropped by
// both pairs make one more unit, which counts when the halves' sum is odd.
// That is the rounding-up average of the halves, less one where their sum is
// odd and the dropped halves do not make up for it.
AVX2 inline __m256i quarter(Half ab, Half cd) {
    const __m256i short_ =
        _mm256_andnot_si256(_mm256_and_si256(ab.odd, cd.odd), _mm256_xor_si256(ab.mean, cd.mean));
    return _mm256_sub_epi16(_mm256_avg_epu16(ab.mean, cd.mean),
                            _mm256_and_si256(short_, _mm256_set1_epi16(1)));
}

struct Levels {
    __m256i blue, green, red;
};

// Sixteen pixels from column c (even), so even lanes hold even columns.
// Sums wrap at 16 bits, which is the modulo 65536 the levels take.
template <bool OddRow, bool NegativeLo, bool AverageCarry>
AVX2 inline Levels sixteen(const unsigned short* above, const unsigned short* mid,
                           const unsigned short* below, std::ptrdiff_t c, const RampVector& ramp) {
    const __m256i p = load(mid + c);
    const Half vert = half(load(above + c), load(below + c));
    const Half horiz = half(load(mid + c - 1), load(mid + c + 1));
    const __m256i cross4 = quarter(vert, horiz);
    const __m256i diag4 = quarter(half(load(above + c - 1), load(above + c + 1)),
                                  half(load(below + c - 1), load(below + c + 1)));
    // The blend takes its second operand in the odd lanes.
    constexpr int kOdd = 0xAA;
    __m256i x1, x2, x3;
    if constexpr (OddRow) {
        x1 = _mm256_blend_epi16(diag4, vert.mean, kOdd);
        x2 = _mm256_blend_epi16(cross4, p, kOdd);
        x3 = _mm256_blend_epi16(p, horiz.mean, kOdd);
    } else {
        x1 = _mm256_blend_epi16(horiz.mean, p, kOdd);
        x2 = _mm256_blend_epi16(p, cross4, kOdd);
        x3 = _mm256_blend_epi16(vert.mean, diag4, kOdd);
    }
    auto level = [&](__m256i a, __m256i b)
                     AVX2 { return ramp.levels<NegativeLo, AverageCarry>(_mm256_add_epi16(a, b)); };
    return {level(x1, x3), level(x1, x2), level(x2, x3)};
}

// Byte shuffles spreading one channel's 16 bytes of a 128-bit half over the
// three 16-byte thirds of its 48 bytes of blue, green, red.
using Shuffle = std::array<signed char, 32>;
constexpr std::array<Shuffle, 9> interleaveShuffles() {
    std::array<Shuffle, 9> masks{};
    for (int third = 0; third < 3; ++third)
        for (int channel = 0; channel < 3; ++channel)
            for (int j = 0; j < 32; ++j) {
                const int byte = 16 * third + j % 16;
                masks[3 * third + channel][j] =
                    byte % 3 == channel ? static_cast<signed char>(byte / 3) : -1;
            }
    return masks;
}
alignas(32) constexpr std::array<Shuffle, 9> kInterleave = interleaveShuffles();

AVX2 inline __m256i spread(__m256i channel, int mask) {
    return _mm256_shuffle_epi8(
        channel, _mm256_load_si256(reinterpret_cast<const __m256i*>(kInterleave[mask].data())));
}

AVX2 inline __m256i third(const __m256i channels[3], int index) {
    return _mm256_or_si256(
        _mm256_or_si256(spread(channels[0], 3 * index), spread(channels[1], 3 * index + 1)),
        spread(channels[2], 3 * index + 2));
}

// The pack interleaves the 128-bit halves of its operands; the permute puts
// the 32 bytes back in column order.
AVX2 inline __m256i columnOrder(__m256i first, __m256i second) {
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(first, second), 0xD8);
}

template <bool OddRow, bool NegativeLo, bool AverageCarry>
AVX2 inline void convertBlock(const unsigned short* above, const unsigned short* mid,
                              const unsigned short* below, std::ptrdiff_t c, const RampVector& ramp,
                              std::uint8_t* out) {
    const Levels first = sixteen<OddRow, NegativeLo, AverageCarry>(above, mid, below, c, ramp);
    const Levels second =
        sixteen<OddRow, NegativeLo, AverageCarry>(above, mid, below, c + 16, ramp);
    const __m256i channels[3] = {columnOrder(first.blue, second.blue),
                                 columnOrder(first.green, second.green),
                                 columnOrder(first.red, second.red)};
    // Each 128-bit half makes 48 bytes: columns c..c+15 from the low halves,
    // c+16..c+31 from the high ones.
    const __m256i t0 = third(channels, 0), t1 = third(channels, 1), t2 = third(channels, 2);
    __m256i* dst = reinterpret_cast<__m256i*>(out + 3 * c);
    _mm256_storeu_si256(dst, _mm256_permute2x128_si256(t0, t1, 0x20));
    _mm256_storeu_si256(dst + 1, _mm256_permute2x128_si256(t2, t0, 0x30));
    _mm256_storeu_si256(dst + 2, _mm256_permute2x128_si256(t1, t2, 0x31));
}

template <bool OddRow, bool NegativeLo, bool AverageCarry>
AVX2 void convertRowAvx2(const GreyRamp& ramp, const unsigned short* mid, std::ptrdiff_t width,
                         std::ptrdiff_t end, std::uint8_t* out) {
    const RampVector vector(ramp);
    const unsigned short* above = mid - width;
    const unsigned short* below = mid + width;
    // The last block steps back to end at the row's end: its overlap with the
    // block before is written twice with the same bytes.
    for (std::ptrdiff_t c = 0;; c += kBlock) {
        if (c + kBlock > end)
            c = end - kBlock;
        convertBlock<OddRow, NegativeLo, AverageCarry>(above, mid, below, c, vector, out);
        if (c + kBlock == end)
            return;
    }
}

} // namespace

int demosaicRowVector(const GreyRamp& ramp, const unsigned short* row, int width, bool oddRow,
                      std::uint8_t* out) {
    static const bool hasAvx2 = __builtin_cpu_supports("avx2");
    // One past the last even column converted; the right neighbours read stay
    // inside the row.
    const int end = 2 * ((width - 1) / 2);
    if (!ramp.usable || !hasAvx2 || end < kBlock)
        return 0;
    withRampVariant(ramp, [&]<bool NegativeLo, bool AverageCarry>() {
        if (oddRow)
            convertRowAvx2<true, NegativeLo, AverageCarry>(ramp, row, width, end, out);
        else
            convertRowAvx2<false, NegativeLo, AverageCarry>(ramp, row, width, end, out);
    });
    return end;
}

#else

int demosaicRowVector(const GreyRamp&, const unsigned short*, int, bool, std::uint8_t*) {
    return 0;
}

#endif
