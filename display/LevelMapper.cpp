#include "LevelMapper.h"

#include "ImageBuffer.h"
#include "MosaicVector.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

// Grey rows are written eight bytes at a time, lowest address in the lowest byte.
static_assert(std::endian::native == std::endian::little);

namespace {
constexpr int kValues = 65536;
constexpr std::uint8_t kBlack = 0;
constexpr std::uint8_t kWhite = 255;
} // namespace

LevelMapper::LevelMapper() {
    rebuild();
}

void LevelMapper::setWindow(int lo, int hi) {
    if (lo == lo_ && hi == hi_)
        return;
    lo_ = lo;
    hi_ = hi;
    rebuild();
}

void LevelMapper::rebuild() {
    // [0, rampBegin) is at or below lo, [rampEnd, 65536) at or above hi.
    const long long lo = lo_;
    const long long hi = hi_;
    const int rampBegin = int(std::clamp<long long>(lo + 1, 0, kValues));
    const int rampEnd = int(std::clamp<long long>(hi, rampBegin, kValues));
    std::uint8_t* table = table_.data();
    std::memset(table, kBlack, std::size_t(rampBegin));
    std::memset(table + rampEnd, kWhite, std::size_t(kValues - rampEnd));
    ramp_ = GreyRamp::forLevels(lo_, hi_);
    if (rampBegin == rampEnd)
        return;
    // (v - lo) * 255 / (hi - lo) is q from the first v with v - lo >= q * span
    // / 255 rounded up: one run of equal bytes per level instead of a
    // division per entry.
    const long long span = hi - lo;
    auto firstOfLevel = [&](long long q) {
        return std::clamp<long long>(lo + (q * span + 254) / 255, rampBegin, rampEnd);
    };
    long long begin = rampBegin;
    for (long long q = 0; q < 255 && begin < rampEnd; ++q) {
        const long long end = firstOfLevel(q + 1);
        if (end > begin)
            std::memset(table + begin, int(q), std::size_t(end - begin));
        begin = std::max(begin, end);
    }
}

void LevelMapper::mapGrey(const unsigned short* pixels, int width, int height, int bitmapWidth,
                          std::uint8_t* bits, KernelCode code) const {
    const int vectorDone =
        runsAvx2(code) ? mapGreyRampVector(ramp_, pixels, width, height, bitmapWidth, bits) : 0;
    if (ramp_.usable) {
        mapGreyRampPlain(ramp_, pixels, width, height, bitmapWidth, bits, vectorDone);
        return;
    }
    const std::uint8_t* table = table_.data();
    for (int y = 0; y < height; ++y) {
        const unsigned short* src = pixels + std::ptrdiff_t(y) * width;
        std::uint8_t* dst = bits + std::ptrdiff_t(height - 1 - y) * bitmapWidth;
        int x = 0;
        // Eight levels gathered into one word and stored at once: one store
        // instead of eight keeps the loop bound by the table reads.
        for (; x + 8 <= width; x += 8) {
            std::uint64_t eight = 0;
            for (int k = 0; k < 8; ++k)
                eight |= std::uint64_t(table[src[x + k]]) << (8 * k);
            std::memcpy(dst + x, &eight, sizeof eight);
        }
        for (; x < width; ++x)
            dst[x] = table[src[x]];
    }
}

namespace {

// A pixel and its eight neighbours in the buffer's linear order.
struct Around {
    unsigned p, up, down, left, right, upLeft, upRight, downLeft, downRight;
};

// The colour-mosaic class of a pixel is its row and column parity; each class
// takes its three intermediate values from the centre and neighbour averages.
template <bool OddRow, bool OddColumn>
inline void mosaicPixel(const Around& n, const std::uint8_t* table, std::uint8_t* out) {
    unsigned x1, x2, x3;
    if constexpr (OddRow == OddColumn) {
        // Both odd: vertical pair, centre, horizontal pair.
        // Both even: horizontal pair, centre, vertical pair.
        const unsigned vert2 = (n.up + n.down) / 2;
        const unsigned horiz2 = (n.left + n.right) / 2;
        x1 = OddRow ? vert2 : horiz2;
        x2 = n.p;
        x3 = OddRow ? horiz2 : vert2;
    } else {
        const unsigned cross4 = (n.up + n.down + n.left + n.right) / 4;
        const unsigned diag4 = (n.upLeft + n.upRight + n.downLeft + n.downRight) / 4;
        x1 = OddRow ? diag4 : n.p;
        x2 = cross4;
        x3 = OddRow ? n.p : diag4;
    }
    out[0] = table[(x1 + x3) & 0xFFFFu]; // blue
    out[1] = table[(x1 + x2) & 0xFFFFu]; // green
    out[2] = table[(x2 + x3) & 0xFFFFu]; // red
}

// Converted columns: the odd ones below w, and the even ones up to
// 2 * floor((w - 1) / 2) - 2 (the last even column is left as it was).
std::ptrdiff_t lastEvenColumn(std::ptrdiff_t width) {
    return 2 * ((width - 1) / 2) - 2;
}
std::ptrdiff_t lastOddColumn(std::ptrdiff_t width) {
    return 2 * (width / 2) - 1;
}

// Rows near the ends of the buffer, one pixel at a time; a neighbour outside
// the buffer reads the centre pixel.
template <bool OddRow>
void convertEdgeRow(const unsigned short* pixels, std::ptrdiff_t count, std::ptrdiff_t width,
                    std::ptrdiff_t rowStart, const std::uint8_t* table, std::uint8_t* out) {
    auto convert = [&]<bool OddColumn>(std::ptrdiff_t c) {
        const std::ptrdiff_t i = rowStart + c;
        const unsigned p = pixels[i];
        auto at = [&](std::ptrdiff_t k) { return k < 0 || k >= count ? p : unsigned(pixels[k]); };
        const Around n{p,
                       at(i - width),
                       at(i + width),
                       at(i - 1),
                       at(i + 1),
                       at(i - width - 1),
                       at(i - width + 1),
                       at(i + width - 1),
                       at(i + width + 1)};
        mosaicPixel<OddRow, OddColumn>(n, table, out + 3 * c);
    };
    std::ptrdiff_t c = 0;
    for (; c <= lastEvenColumn(width); c += 2) {
        convert.template operator()<false>(c);
        convert.template operator()<true>(c + 1);
    }
    for (c += 1; c <= lastOddColumn(width); c += 2)
        convert.template operator()<true>(c);
}

// Rows whose every neighbour lies inside the buffer, two columns at a time
// from column start (even). The 3 x 4 block around a column pair slides right
// by two, so each pixel is read once per row it neighbours, and all reads of a
// pair happen before its bytes are written (byte stores could otherwise alias
// the pixels).
template <bool OddRow>
void convertInnerRow(const unsigned short* mid, std::ptrdiff_t width, std::ptrdiff_t start,
                     const std::uint8_t* table, std::uint8_t* out) {
    const unsigned short* above = mid - width;
    const unsigned short* below = mid + width;
    // Columns c - 1 and c of the three rows; column -1 is the previous row's last.
    std::ptrdiff_t c = start;
    unsigned a0 = above[c - 1], a1 = above[c];
    unsigned m0 = mid[c - 1], m1 = mid[c];
    unsigned b0 = below[c - 1], b1 = below[c];
    for (; c <= lastEvenColumn(width); c += 2) {
        const unsigned a2 = above[c + 1], a3 = above[c + 2];
        const unsigned m2 = mid[c + 1], m3 = mid[c + 2];
        const unsigned b2 = below[c + 1], b3 = below[c + 2];
        mosaicPixel<OddRow, false>({m1, a1, b1, m0, m2, a0, a2, b0, b2}, table, out + 3 * c);
        mosaicPixel<OddRow, true>({m2, a2, b2, m1, m3, a1, a3, b1, b3}, table, out + 3 * c + 3);
        a0 = a2, a1 = a3, m0 = m2, m1 = m3, b0 = b2, b1 = b3;
    }
    for (c += 1; c <= lastOddColumn(width); c += 2) {
        const Around n{mid[c],       above[c],     below[c],     mid[c - 1],  mid[c + 1],
                       above[c - 1], above[c + 1], below[c - 1], below[c + 1]};
        mosaicPixel<OddRow, true>(n, table, out + 3 * c);
    }
}

// floor((a + b) / 2) and floor((a + b + c + d) / 4) in 16-bit steps (each
// one narrowed, so that the vectorizer keeps 16-bit lanes): the half of the
// pairs' halves, with the unit that the three dropped halves make when all
// of them are there.
inline std::uint16_t halfSum(std::uint16_t a, std::uint16_t b) {
    const auto both = std::uint16_t(a & b);
    const auto either = std::uint16_t(a ^ b);
    return std::uint16_t(both + std::uint16_t(either >> 1));
}
inline std::uint16_t quarterSum(std::uint16_t a, std::uint16_t b, std::uint16_t c,
                                std::uint16_t d) {
    const auto ab = halfSum(a, b), cd = halfSum(c, d);
    const auto dropped = std::uint16_t((a ^ b) & (c ^ d) & (ab ^ cd) & 1);
    return std::uint16_t(halfSum(ab, cd) + dropped);
}

// Columns [0, end) of a row whose neighbours all lie inside the buffer (end
// even), through the ramp, with plain loops the compiler vectorizes, a chunk
// of columns at a time: each column takes all four averages and keeps its
// class's three values, each channel maps its sum of two, and the channels
// are interleaved. Short loops keep the vector registers enough for each.
constexpr int kChunk = 128;

// The channels' interleaving needs byte shuffles the x86-64 baseline lacks:
// the same loops are also built for AVX2 and picked at load time.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define ZERMIC_PLAIN_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ZERMIC_PLAIN_CLONES
#endif

template <bool OddRow>
ZERMIC_PLAIN_CLONES void convertRampRow(const GreyRamp& ramp, const unsigned short* mid,
                                        std::ptrdiff_t width, std::ptrdiff_t end,
                                        std::uint8_t* out) {
    const GreyRamp r = ramp;
    const unsigned short* above = mid - width;
    const unsigned short* below = mid + width;
    for (std::ptrdiff_t first = 0; first < end; first += kChunk) {
        const int n = int(std::min<std::ptrdiff_t>(kChunk, end - first));
        const unsigned short* a = above + first;
        const unsigned short* m = mid + first;
        const unsigned short* b = below + first;
        std::uint16_t x1[kChunk], x2[kChunk], x3[kChunk];
        for (int i = 0; i < n; ++i) {
            const std::uint16_t p = m[i];
            const std::uint16_t vert2 = halfSum(a[i], b[i]), horiz2 = halfSum(m[i - 1], m[i + 1]);
            const std::uint16_t cross4 = quarterSum(a[i], b[i], m[i - 1], m[i + 1]);
            const std::uint16_t diag4 = quarterSum(a[i - 1], a[i + 1], b[i - 1], b[i + 1]);
            // first is even: i has the column's parity.
            const bool oddColumn = i & 1;
            if (OddRow) {
                x1[i] = oddColumn ? vert2 : diag4;
                x2[i] = oddColumn ? p : cross4;
                x3[i] = oddColumn ? horiz2 : p;
            } else {
                x1[i] = oddColumn ? p : horiz2;
                x2[i] = oddColumn ? cross4 : p;
                x3[i] = oddColumn ? diag4 : vert2;
            }
        }
        std::uint8_t blue[kChunk], green[kChunk], red[kChunk];
        for (int i = 0; i < n; ++i)
            blue[i] = r.clampedLevel(std::uint16_t(x1[i] + x3[i]));
        for (int i = 0; i < n; ++i)
            green[i] = r.clampedLevel(std::uint16_t(x1[i] + x2[i]));
        for (int i = 0; i < n; ++i)
            red[i] = r.clampedLevel(std::uint16_t(x2[i] + x3[i]));
        std::uint8_t* o = out + 3 * first;
        for (int i = 0; i < n; ++i) {
            o[3 * i] = blue[i];
            o[3 * i + 1] = green[i];
            o[3 * i + 2] = red[i];
        }
    }
}

// Rows whose neighbours all lie inside the buffer go to the AVX2 loop a
// strip at a time, where the CPU has it, which leaves the last columns of
// each row to the table. The strip's rows share their neighbours' sums while
// they stay in the cache.
constexpr int kStripRows = 8;

} // namespace

void LevelMapper::demosaicColour(const unsigned short* pixels, int width, int height,
                                 int bitmapWidth, std::uint8_t* bits, KernelCode code) const {
    const std::ptrdiff_t stride = 3 * std::ptrdiff_t(bitmapWidth);
    const std::ptrdiff_t count = std::ptrdiff_t(width) * height;
    const std::uint8_t* table = table_.data();
    // Image row r lands on display row r - 1 from the top, i.e. memory row h - r.
    auto outRow = [&](int r) { return bits + (height - r) * stride; };
    auto edgeRow = [&](int r) {
        if (r % 2 == 1)
            convertEdgeRow<true>(pixels, count, width, std::ptrdiff_t(r) * width, table, outRow(r));
        else
            convertEdgeRow<false>(pixels, count, width, std::ptrdiff_t(r) * width, table,
                                  outRow(r));
    };
    // Rows 2..h-3 have every neighbour inside the buffer.
    const int firstInner = 2, lastInner = height - 3;
    for (int r = 1; r < std::min(firstInner, height); ++r)
        edgeRow(r);
    for (int r = firstInner; r <= lastInner; r += kStripRows) {
        const int rows = std::min(kStripRows, lastInner + 1 - r);
        const VectorUnit unit = runsAvx2(code) ? VectorUnit::Avx2 : VectorUnit::None;
        int done = demosaicRowsVector(ramp_, pixels + std::ptrdiff_t(r) * width, width, rows,
                                      r % 2 == 1, outRow(r), -stride, unit);
        const bool plain = done == 0 && ramp_.usable;
        if (plain)
            done = int(lastEvenColumn(width) + 2);
        for (int k = r; k < r + rows; ++k) {
            const unsigned short* mid = pixels + std::ptrdiff_t(k) * width;
            if (k % 2 == 1) {
                if (plain)
                    convertRampRow<true>(ramp_, mid, width, done, outRow(k));
                convertInnerRow<true>(mid, width, done, table, outRow(k));
            } else {
                if (plain)
                    convertRampRow<false>(ramp_, mid, width, done, outRow(k));
                convertInnerRow<false>(mid, width, done, table, outRow(k));
            }
        }
    }
    for (int r = std::max(firstInner, lastInner + 1); r < height; ++r)
        edgeRow(r);
}

void LevelMapper::render(DisplayMode mode, const ImageBuffer& image, std::uint8_t* bits) const {
    if (!bits || image.pixelCount() == 0)
        return;
    const int bitmapWidth = displayBitmapRowPixels(image.width);
    if (mode == DisplayMode::Colour)
        demosaicColour(image.pixels, image.width, image.height, bitmapWidth, bits);
    else
        mapGrey(image.pixels, image.width, image.height, bitmapWidth, bits);
}
