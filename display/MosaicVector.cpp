#include "MosaicVector.h"

#include "KernelCode.h"

#include <array>
#include <cstddef>

#if defined(__x86_64__) || defined(__i386__)

#include "VectorLanes.h"

namespace {

using L = Lanes256;
using V = __m256i;

// floor((a + b) / 2): the rounding-up average less what it rounded, which is
// kept (1 where a + b is odd, 0 elsewhere).
struct Half {
    V mean, odd;
};

ZERMIC_AVX2 inline Half half(V a, V b) {
    const auto odd = L::oddSum(a, b);
    return {L::sub(L::average(a, b), odd), odd};
}

// floor((a + b + c + d) / 4) from the two pair halves: the halves dropped by
// both pairs make one more unit, which counts when the halves' sum is odd.
// That is the rounding-up average of the halves, less one where their sum is
// odd and the dropped halves do not make up for it.
ZERMIC_AVX2 inline V quarter(Half ab, Half cd) {
    return L::sub(L::average(ab.mean, cd.mean),
                  L::notBothAnd(ab.odd, cd.odd, L::oddSum(ab.mean, cd.mean)));
}

struct Levels {
    V blue, green, red;
};

// What a register of pixels of one row keeps for the next row's conversion:
// its pixels and the half-sum of each pixel's left and right neighbours.
struct RowLanes {
    V pixels;
    Half sides;
};

ZERMIC_AVX2 inline RowLanes rowLanes(const unsigned short* row, std::ptrdiff_t c) {
    return {L::load(row + c), half(L::load(row + c - 1), L::load(row + c + 1))};
}

// One register of pixels from column c (even), so even lanes hold even
// columns, from the rows above, at and below it. The diagonal four are the
// side pairs of the rows above and below. Sums wrap at 16 bits, which is the
// modulo 65536 the levels take.
template <bool OddRow, bool NegativeLo, RampForm Form>
ZERMIC_AVX2 inline Levels convertLanes(const RowLanes& above, const RowLanes& mid,
                                       const RowLanes& below, const RampLanes<L>& ramp) {
    const V p = mid.pixels;
    const Half vert = half(above.pixels, below.pixels);
    const Half& horiz = mid.sides;
    const V cross4 = quarter(vert, horiz);
    const V diag4 = quarter(above.sides, below.sides);
    V x1, x2, x3;
    if constexpr (OddRow) {
        x1 = L::evenOdd(diag4, vert.mean);
        x2 = L::evenOdd(cross4, p);
        x3 = L::evenOdd(p, horiz.mean);
    } else {
        x1 = L::evenOdd(horiz.mean, p);
        x2 = L::evenOdd(p, cross4);
        x3 = L::evenOdd(vert.mean, diag4);
    }
    auto level = [&](V a, V b)
                     ZERMIC_AVX2 { return ramp.template levels<NegativeLo, Form>(L::add(a, b)); };
    return {level(x1, x3), level(x1, x2), level(x2, x3)};
}

// Byte tables spreading blue, green and red over 3 x 16 output bytes of
// sixteen pixels: entry [3 * third + channel][j] is the channel byte that
// output byte 16 * third + j takes, -1 for none (the other channels').
using Bytes32 = std::array<signed char, 32>;
constexpr std::array<Bytes32, 9> spreadTables() {
    std::array<Bytes32, 9> tables{};
    for (int third = 0; third < 3; ++third)
        for (int channel = 0; channel < 3; ++channel)
            for (int j = 0; j < 32; ++j) {
                const int byte = 16 * third + j % 16;
                tables[3 * third + channel][j] =
                    byte % 3 == channel ? static_cast<signed char>(byte / 3) : -1;
            }
    return tables;
}
alignas(32) constexpr std::array<Bytes32, 9> kSpread = spreadTables();

ZERMIC_AVX2 inline __m256i spread(__m256i channel, int table) {
    return _mm256_shuffle_epi8(
        channel, _mm256_load_si256(reinterpret_cast<const __m256i*>(kSpread[table].data())));
}

ZERMIC_AVX2 inline __m256i third(const __m256i channels[3], int index) {
    return _mm256_or_si256(
        _mm256_or_si256(spread(channels[0], 3 * index), spread(channels[1], 3 * index + 1)),
        spread(channels[2], 3 * index + 2));
}

// The pack interleaves the 128-bit halves of its operands; the permute puts
// the 32 bytes back in column order.
ZERMIC_AVX2 inline __m256i columnOrder(__m256i first, __m256i second) {
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(first, second), 0xD8);
}

// 32 pixels' blue, green, red bytes from two registers of levels each.
ZERMIC_AVX2 inline void storeBgr(const Levels& first, const Levels& second, std::uint8_t* out) {
    const __m256i channels[3] = {columnOrder(first.blue, second.blue),
                                 columnOrder(first.green, second.green),
                                 columnOrder(first.red, second.red)};
    // Each 128-bit half makes 48 bytes: the first 16 pixels from the low
    // halves, the next 16 from the high ones.
    const __m256i t0 = third(channels, 0), t1 = third(channels, 1), t2 = third(channels, 2);
    __m256i* dst = reinterpret_cast<__m256i*>(out);
    _mm256_storeu_si256(dst, _mm256_permute2x128_si256(t0, t1, 0x20));
    _mm256_storeu_si256(dst + 1, _mm256_permute2x128_si256(t2, t0, 0x30));
    _mm256_storeu_si256(dst + 2, _mm256_permute2x128_si256(t1, t2, 0x31));
}

// Rows of a strip, two registers of consecutive columns at a time, each block
// down the whole strip: each row's pixels and side pairs are read and summed
// once and serve the rows above and below it as well. Each lane converts its
// own column's class and the classes are blended.
constexpr std::ptrdiff_t kBlockColumns = 2 * L::count;
using Block = std::array<RowLanes, 2>;

ZERMIC_AVX2 inline Block readBlock(const unsigned short* row, std::ptrdiff_t c) {
    return {rowLanes(row, c), rowLanes(row, c + L::count)};
}

template <bool FirstOdd, bool NegativeLo, RampForm Form>
ZERMIC_AVX2 __attribute__((flatten)) void
convertRowsAvx2(const GreyRamp& ramp, const unsigned short* first, std::ptrdiff_t width, int rows,
                std::ptrdiff_t end, std::uint8_t* out, std::ptrdiff_t outStep) {
    const RampLanes<L> lanes(ramp);
    // The last block steps back to end at the row's end: its overlap with the
    // block before is written twice with the same bytes.
    for (std::ptrdiff_t c = 0;; c += kBlockColumns) {
        if (c + kBlockColumns > end)
            c = end - kBlockColumns;
        Block above = readBlock(first - width, c);
        Block mid = readBlock(first, c);
        const unsigned short* next = first + width;
        std::uint8_t* dst = out + 3 * c;
        auto convertRow = [&]<bool OddRow>() ZERMIC_AVX2 {
            const Block below = readBlock(next, c);
            storeBgr(convertLanes<OddRow, NegativeLo, Form>(above[0], mid[0], below[0], lanes),
                     convertLanes<OddRow, NegativeLo, Form>(above[1], mid[1], below[1], lanes),
                     dst);
            above = mid;
            mid = below;
            next += width;
            dst += outStep;
        };
        int r = 0;
        for (; r + 2 <= rows; r += 2) {
            convertRow.template operator()<FirstOdd>();
            convertRow.template operator()<!FirstOdd>();
        }
        if (r < rows)
            convertRow.template operator()<FirstOdd>();
        if (c + kBlockColumns == end)
            return;
    }
}

} // namespace

VectorUnit bestVectorUnit() {
    return runsAvx2(KernelCode::Fastest) ? VectorUnit::Avx2 : VectorUnit::None;
}

int demosaicRowsVector(const GreyRamp& ramp, const unsigned short* first, int width, int rows,
                       bool firstOdd, std::uint8_t* out, std::ptrdiff_t outStep, VectorUnit unit) {
    // One past the last even column converted; the right neighbours read stay
    // inside the row.
    const int end = 2 * ((width - 1) / 2);
    if (!ramp.usable || unit != VectorUnit::Avx2 || bestVectorUnit() != VectorUnit::Avx2 ||
        end < kBlockColumns || rows <= 0)
        return 0;
    withRampVariant(ramp, [&]<bool NegativeLo, RampForm Form>() {
        if (firstOdd)
            convertRowsAvx2<true, NegativeLo, Form>(ramp, first, width, rows, end, out, outStep);
        else
            convertRowsAvx2<false, NegativeLo, Form>(ramp, first, width, rows, end, out, outStep);
    });
    return end;
}

#else

VectorUnit bestVectorUnit() {
    return VectorUnit::None;
}

int demosaicRowsVector(const GreyRamp&, const unsigned short*, int, int, bool, std::uint8_t*,
                       std::ptrdiff_t, VectorUnit) {
    return 0;
}

#endif
