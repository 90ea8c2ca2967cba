#include "MosaicVector.h"

#include <array>
#include <cstddef>

#if defined(__x86_64__) || defined(__i386__)

#include "VectorLanes.h"

namespace {

// floor((a + b) / 2): the rounding-up average less what it rounded, which is
// kept (1 where a + b is odd, 0 elsewhere).
template <class L> struct Half { typename L::V mean, odd; };

template <class L> inline Half<L> half(typename L::V a, typename L::V b) {
    const auto odd = L::oddSum(a, b);
    return {L::sub(L::average(a, b), odd), odd};
}

// floor((a + b + c + d) / 4) from the two pair halves: the halves dropped by
// both pairs make one more unit, which counts when the halves' sum is odd.
// That is the rounding-up average of the halves, less one where their sum is
// odd and the dropped halves do not make up for it.
template <class L> inline typename L::V quarter(Half<L> ab, Half<L> cd) {
    return L::sub(L::average(ab.mean, cd.mean),
                  L::notBothAnd(ab.odd, cd.odd, L::oddSum(ab.mean, cd.mean)));
}

template <class L> struct Levels { typename L::V blue, green, red; };

// What a register of pixels of one row keeps for the next row's conversion:
// its pixels and the half-sum of each pixel's left and right neighbours.
template <class L> struct RowLanes {
    typename L::V pixels;
    Half<L> sides;
};

template <class L> inline RowLanes<L> rowLanes(const unsigned short* row, std::ptrdiff_t c) {
    return {L::load(row + c), half<L>(L::load(row + c - 1), L::load(row + c + 1))};
}

// One register of pixels from column c (even), so even lanes hold even
// columns, from the rows above, at and below it. The diagonal four are the
// side pairs of the rows above and below. Sums wrap at 16 bits, which is the
// modulo 65536 the levels take.
template <class L, bool OddRow, bool NegativeLo, RampForm Form>
inline Levels<L> convertLanes(const RowLanes<L>& above, const RowLanes<L>& mid,
                              const RowLanes<L>& below, const RampLanes<L>& ramp) {
    using V = typename L::V;
    const V p = mid.pixels;
    const Half<L> vert = half<L>(above.pixels, below.pixels);
    const Half<L>& horiz = mid.sides;
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
    auto level = [&](V a, V b) { return ramp.template levels<NegativeLo, Form>(L::add(a, b)); };
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
ZERMIC_AVX2 inline void storeBgr(const Levels<Lanes256>& first, const Levels<Lanes256>& second,
                                 std::uint8_t* out) {
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

// The AVX-512 loop keeps a block's even columns in one register and its odd
// columns in another. The saturating pack of the two interleaves their
// 128-bit lanes: 8 bytes of the even columns, then 8 of the odd ones. The
// byte permutes make each 64-byte third of the 192 output bytes from blue and
// green, with red merged over it, reading each pixel where the pack left it.
struct Permutes512 {
    std::array<std::array<std::uint8_t, 64>, 3> blueGreen, red;
    std::array<std::uint64_t, 3> redMask;
};
constexpr std::uint8_t packedByte(int pixel) {
    const int lane = pixel / 2;
    return std::uint8_t(16 * (lane / 8) + 8 * (pixel % 2) + lane % 8);
}
constexpr Permutes512 permutes512() {
    Permutes512 t{};
    for (int third = 0; third < 3; ++third)
        for (int j = 0; j < 64; ++j) {
            const int byte = 64 * third + j, pixel = byte / 3, channel = byte % 3;
            t.blueGreen[third][j] = std::uint8_t(packedByte(pixel) + (channel == 1 ? 64 : 0));
            t.red[third][j] = packedByte(pixel);
            if (channel == 2)
                t.redMask[third] |= std::uint64_t(1) << j;
        }
    return t;
}
alignas(64) constexpr Permutes512 kPermutes512 = permutes512();

// 64 pixels' blue, green, red bytes from the levels of their even and odd
// columns.
ZERMIC_AVX512 inline void storeBgr(const Levels<Lanes512>& even, const Levels<Lanes512>& odd,
                                   std::uint8_t* out) {
    const __m512i blue = _mm512_packus_epi16(even.blue, odd.blue);
    const __m512i green = _mm512_packus_epi16(even.green, odd.green);
    const __m512i red = _mm512_packus_epi16(even.red, odd.red);
    for (int third = 0; third < 3; ++third) {
        const __m512i bg = _mm512_permutex2var_epi8(
            blue, _mm512_loadu_si512(kPermutes512.blueGreen[third].data()), green);
        const __m512i bgr =
            _mm512_mask_permutexvar_epi8(bg, kPermutes512.redMask[third],
                                         _mm512_loadu_si512(kPermutes512.red[third].data()), red);
        _mm512_storeu_si512(out + 64 * third, bgr);
    }
}

// Rows of a strip, a block of columns at a time, each block down the whole
// strip: each row's pixels and side pairs are read and summed once and serve
// the rows above and below it as well. Block reads a row's block (read) and
// converts one row from the blocks of its three rows (convert).
template <class Block, bool FirstOdd, bool NegativeLo, RampForm Form>
inline void convertStrip(const GreyRamp& ramp, const unsigned short* first, std::ptrdiff_t width,
                         int rows, std::ptrdiff_t end, std::uint8_t* out, std::ptrdiff_t outStep) {
    const RampLanes<typename Block::L> lanes(ramp);
    // The last block steps back to end at the row's end: its overlap with the
    // block before is written twice with the same bytes.
    for (std::ptrdiff_t c = 0;; c += Block::kColumns) {
        if (c + Block::kColumns > end)
            c = end - Block::kColumns;
        auto above = Block::read(first - width, c);
        auto mid = Block::read(first, c);
        const unsigned short* next = first + width;
        std::uint8_t* dst = out + 3 * c;
        auto convertRow = [&]<bool OddRow>() {
            const auto below = Block::read(next, c);
            Block::template convert<OddRow, NegativeLo, Form>(above, mid, below, lanes, dst);
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
        if (c + Block::kColumns == end)
            return;
    }
}

// Two registers of consecutive columns, each lane converting its own column's
// class and blending the classes.
template <class Lanes> struct InterleavedBlock {
    using L = Lanes;
    static constexpr std::ptrdiff_t kColumns = 2 * L::count;
    using Rows = std::array<RowLanes<L>, 2>;

    static Rows read(const unsigned short* row, std::ptrdiff_t c) {
        return {rowLanes<L>(row, c), rowLanes<L>(row, c + L::count)};
    }

    template <bool OddRow, bool NegativeLo, RampForm Form>
    static void convert(const Rows& above, const Rows& mid, const Rows& below,
                        const RampLanes<L>& ramp, std::uint8_t* out) {
        storeBgr(convertLanes<L, OddRow, NegativeLo, Form>(above[0], mid[0], below[0], ramp),
                 convertLanes<L, OddRow, NegativeLo, Form>(above[1], mid[1], below[1], ramp), out);
    }
};

template <bool FirstOdd, bool NegativeLo, RampForm Form>
ZERMIC_AVX2 __attribute__((flatten)) void
convertRowsAvx2(const GreyRamp& ramp, const unsigned short* first, std::ptrdiff_t width, int rows,
                std::ptrdiff_t end, std::uint8_t* out, std::ptrdiff_t outStep) {
    convertStrip<InterleavedBlock<Lanes256>, FirstOdd, NegativeLo, Form>(ramp, first, width, rows,
                                                                         end, out, outStep);
}

// The even and odd columns of 64 pixels from column c (even) on, each in a
// register, with the half-sums of their left and right neighbours: an even
// column's are odd columns, an odd column's even ones. The word permutes pick
// them from two registers of the row read at c - 2, c and c + 2.
struct ColumnsLanes {
    __m512i even, odd;
    Half<Lanes512> evenSides, oddSides;
};

struct Picks512 {
    std::array<std::uint16_t, 32> even, odd;
};
constexpr Picks512 picks512() {
    Picks512 t{};
    for (int j = 0; j < 32; ++j) {
        t.even[j] = std::uint16_t(2 * j);
        t.odd[j] = std::uint16_t(2 * j + 1);
    }
    return t;
}
alignas(64) constexpr Picks512 kPicks512 = picks512();

// Every other pixel of the 64 from p on.
ZERMIC_AVX512 inline __m512i pick(const unsigned short* p,
                                  const std::array<std::uint16_t, 32>& which) {
    return _mm512_permutex2var_epi16(Lanes512::load(p), _mm512_load_si512(which.data()),
                                     Lanes512::load(p + 32));
}

ZERMIC_AVX512 inline ColumnsLanes columnsLanes(const unsigned short* row, std::ptrdiff_t c) {
    const __m512i even = pick(row + c, kPicks512.even), odd = pick(row + c, kPicks512.odd);
    // Columns c - 1, c + 1, ... and c + 2, c + 4, ...
    const __m512i left = pick(row + c - 2, kPicks512.odd);
    const __m512i right = pick(row + c + 2, kPicks512.even);
    return {even, odd, half<Lanes512>(left, odd), half<Lanes512>(even, right)};
}

// A block's levels for one row, even and odd columns apart: each column set
// computes only the averages its class takes, with no blend.
template <bool OddRow, bool NegativeLo, RampForm Form>
ZERMIC_AVX512 inline void convertColumns(const ColumnsLanes& above, const ColumnsLanes& mid,
                                         const ColumnsLanes& below, const RampLanes<Lanes512>& ramp,
                                         std::uint8_t* out) {
    using L = Lanes512;
    using V = __m512i;
    auto levels = [&](V x1, V x2, V x3) {
        auto level = [&](V a, V b) { return ramp.template levels<NegativeLo, Form>(L::add(a, b)); };
        return Levels<L>{level(x1, x3), level(x1, x2), level(x2, x3)};
    };
    // The class taking four-pixel averages: diagonal, cross and the centre.
    auto fours = [&](V p, V up, V down, const Half<L>& sides, const Half<L>& upSides,
                     const Half<L>& downSides, bool centreLast) {
        const V cross4 = quarter(half<L>(up, down), sides);
        const V diag4 = quarter(upSides, downSides);
        return centreLast ? levels(diag4, cross4, p) : levels(p, cross4, diag4);
    };
    // The class taking two-pixel averages: vertical, centre, horizontal.
    auto twos = [&](V p, V up, V down, const Half<L>& sides, bool verticalFirst) {
        const V vert2 = half<L>(up, down).mean;
        return verticalFirst ? levels(vert2, p, sides.mean) : levels(sides.mean, p, vert2);
    };
    if constexpr (OddRow)
        storeBgr(fours(mid.even, above.even, below.even, mid.evenSides, above.evenSides,
                       below.evenSides, true),
                 twos(mid.odd, above.odd, below.odd, mid.oddSides, true), out);
    else
        storeBgr(twos(mid.even, above.even, below.even, mid.evenSides, false),
                 fours(mid.odd, above.odd, below.odd, mid.oddSides, above.oddSides, below.oddSides,
                       false),
                 out);
}

// The even and odd columns of 64 pixels, apart. The first block's reads at
// c - 2 start two values before the row, and for odd widths the last block's
// at c + 2 end one past it, the next row's first.
struct ColumnsBlock {
    using L = Lanes512;
    static constexpr std::ptrdiff_t kColumns = 2 * L::count;

    static ColumnsLanes read(const unsigned short* row, std::ptrdiff_t c) {
        return columnsLanes(row, c);
    }

    template <bool OddRow, bool NegativeLo, RampForm Form>
    static void convert(const ColumnsLanes& above, const ColumnsLanes& mid,
                        const ColumnsLanes& below, const RampLanes<L>& ramp, std::uint8_t* out) {
        convertColumns<OddRow, NegativeLo, Form>(above, mid, below, ramp, out);
    }
};

template <bool FirstOdd, bool NegativeLo, RampForm Form>
ZERMIC_AVX512 __attribute__((flatten)) void
convertRowsAvx512(const GreyRamp& ramp, const unsigned short* first, std::ptrdiff_t width, int rows,
                  std::ptrdiff_t end, std::uint8_t* out, std::ptrdiff_t outStep) {
    convertStrip<ColumnsBlock, FirstOdd, NegativeLo, Form>(ramp, first, width, rows, end, out,
                                                           outStep);
}

} // namespace

VectorUnit bestVectorUnit() {
    static const VectorUnit best = [] {
        if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
            __builtin_cpu_supports("avx512vbmi"))
            return VectorUnit::Avx512;
        return __builtin_cpu_supports("avx2") ? VectorUnit::Avx2 : VectorUnit::None;
    }();
    return best;
}

int demosaicRowsVector(const GreyRamp& ramp, const unsigned short* first, int width, int rows,
                       bool firstOdd, std::uint8_t* out, std::ptrdiff_t outStep, VectorUnit unit) {
    if (unit > bestVectorUnit())
        unit = bestVectorUnit();
    // One past the last even column converted; the right neighbours read stay
    // inside the row (AVX-512 reads one past it for odd widths).
    const int end = 2 * ((width - 1) / 2);
    if (unit == VectorUnit::Avx512 && end < 2 * Lanes512::count)
        unit = VectorUnit::Avx2;
    if (!ramp.usable || unit == VectorUnit::None || end < 2 * Lanes256::count || rows <= 0)
        return 0;
    withRampVariant(ramp, [&]<bool NegativeLo, RampForm Form>() {
        auto run = [&]<bool FirstOdd>() {
            if (unit == VectorUnit::Avx512)
                convertRowsAvx512<FirstOdd, NegativeLo, Form>(ramp, first, width, rows, end, out,
                                                              outStep);
            else
                convertRowsAvx2<FirstOdd, NegativeLo, Form>(ramp, first, width, rows, end, out,
                                                            outStep);
        };
        if (firstOdd)
            run.template operator()<true>();
        else
            run.template operator()<false>();
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
