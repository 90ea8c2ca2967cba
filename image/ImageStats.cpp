#include "ImageBuffer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZERMIC_X86 1
#endif

namespace {

constexpr int kBorder = 16;
constexpr int kBins = 256;
// Sky images put most pixels in a few neighbouring bins; counting into eight
// interleaved histograms keeps consecutive increments of the same bin from
// waiting on each other.
constexpr int kLanes = 8;
constexpr int kSumBlock = 65536;

// What one pass over the measured area gathers, before scaling.
struct Tally {
    std::uint32_t bins[kBins] = {};
    unsigned minimum = 65535;
    unsigned maximum = 0;
    std::uint64_t sum = 0;
};

// The measured area: rows top..bottom-1, columns left..right-1.
struct Area {
    const unsigned short* pixels;
    int width;
    int left, right, top, bottom;

    const unsigned short* row(int y) const { return pixels + std::int64_t(y) * width + left; }
    int columns() const { return right - left; }
};

int firstSample(int y) {
    return (y / 2) % ImageStats::kSampleStep;
}

void takeSamples(const unsigned short* row, int n, int y, std::uint32_t* samples) {
    for (int x = firstSample(y); x < n; x += ImageStats::kSampleStep)
        ++samples[row[x] / ImageStats::kSampleBinWidth];
}

void scanPortable(const Area& a, Tally& t, std::uint32_t* samples) {
    std::uint32_t counts[kLanes][kBins] = {};
    const int n = a.columns();
    for (int y = a.top; y < a.bottom; ++y) {
        const unsigned short* row = a.row(y);
        takeSamples(row, n, y, samples);
        // Extremes and sum vectorise on their own; blocks of 65536 pixels
        // keep the 32-bit block sum from overflowing. The histogram loop
        // then reads the row again from the first-level cache.
        for (int block = 0; block < n; block += kSumBlock) {
            const int end = std::min(n, block + kSumBlock);
            unsigned short lo = 65535, hi = 0;
            std::uint32_t blockSum = 0;
            for (int x = block; x < end; ++x) {
                lo = std::min(lo, row[x]);
                hi = std::max(hi, row[x]);
                blockSum += row[x];
            }
            t.minimum = std::min<unsigned>(t.minimum, lo);
            t.maximum = std::max<unsigned>(t.maximum, hi);
            t.sum += blockSum;
        }
        int x = 0;
        for (; x + kLanes <= n; x += kLanes) {
            // Two 8-byte reads; pixel k's high byte sits at bit 16 k + 8.
            std::uint64_t words[2];
            std::memcpy(words, row + x, sizeof words);
            for (int k = 0; k < kLanes; ++k)
                ++counts[k][(words[k / 4] >> (16 * (k % 4) + 8)) & 0xFF];
        }
        for (; x < n; ++x)
            ++counts[0][row[x] >> 8];
    }
    for (const auto& lane : counts)
        for (int k = 0; k < kBins; ++k)
            t.bins[k] += lane[k];
}

#ifdef ZERMIC_X86

// The vector pass counts the bins of a window of neighbouring bins with byte
// counters, 64 pixels per compare; the rare pixels outside the window (stars,
// hot pixels) are counted one by one. A window of 8 bins holds a quiet sky;
// a noisier one (more than one pixel in kWideningMisses outside) widens it to
// 16 for the rest of the image, at twice the compares.
constexpr int kNarrowWindow = 8;
constexpr int kWideWindow = 16;
constexpr int kWideningMisses = 32;
// One vector block is one sample step.
static_assert(ImageStats::kSampleStep == 64);
// A byte counter takes one pixel per block: emptied before it wraps.
constexpr int kBlocksPerFlush = 255;

// counter += 1 in the byte lanes where value equals wanted. Written out so
// that the counter stays in its register: the compiler's own code for the
// masked add copies it on every step.
// The compared values are read from memory, leaving the registers to the
// counters.
struct alignas(64) WindowIndex {
    std::uint8_t bytes[64];
};
constexpr auto kWindowIndex = [] {
    std::array<WindowIndex, kWideWindow> all{};
    for (int k = 0; k < kWideWindow; ++k)
        for (std::uint8_t& b : all[k].bytes)
            b = std::uint8_t(k);
    return all;
}();

__attribute__((target("avx512f,avx512bw"), always_inline)) inline void
countEqual(__m512i& counter, __m512i value, const WindowIndex& wanted, __m512i one) {
    __mmask64 equal;
    asm("vpcmpeqb %[wanted], %[value], %[equal]\n\t"
        "vpaddb %[one], %[counter], %[counter]%{%[equal]%}"
        : [counter] "+v"(counter), [equal] "=&Yk"(equal)
        : [value] "v"(value), [wanted] "m"(wanted), [one] "v"(one));
}

struct VectorTally {
    __m512i counters[kWideWindow];
    __m512i lowest;
    __m512i highest;
    // Sum of the low and high bytes of every pixel; the high bytes' own sum
    // comes from the histogram at the end.
    __m512i byteSums;
    int base = -1;
    int blocks = 0;
};

// Adds the window's byte counters to their bins and empties them.
__attribute__((target("avx512f,avx512bw"))) void flushWindow(VectorTally& v, int window,
                                                             std::uint32_t* bins) {
    const __m512i zero = _mm512_setzero_si512();
    for (int k = 0; k < window; ++k) {
        bins[v.base + k] +=
            std::uint32_t(_mm512_reduce_add_epi64(_mm512_sad_epu8(v.counters[k], zero)));
        v.counters[k] = zero;
    }
    v.blocks = 0;
}

// Runs STEP(c, k) on each of the window's counters. They are named variables
// rather than an array: the compiler keeps an array this large in memory.
#define ZERMIC_EACH_COUNTER(STEP)                                                                  \
    STEP(c0, 0)                                                                                    \
    STEP(c1, 1) STEP(c2, 2) STEP(c3, 3) STEP(c4, 4) STEP(c5, 5) STEP(c6, 6)                        \
        STEP(c7, 7) if constexpr (Window > 8) {                                                    \
        STEP(c8, 8)                                                                                \
        STEP(c9, 9)                                                                                \
        STEP(c10, 10) STEP(c11, 11) STEP(c12, 12) STEP(c13, 13) STEP(c14, 14) STEP(c15, 15)        \
    }

// The whole 64-pixel blocks of one row; returns how many pixels fell outside
// the window.
template <int Window>
__attribute__((target("avx512f,avx512bw"))) int countRow(const unsigned short* row, int blockEnd,
                                                         int sample, VectorTally& v, Tally& t,
                                                         std::uint32_t* samples) {
    static_assert(Window == 8 || Window == 16);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i one = _mm512_set1_epi8(1);
    const __m512i lastInWindow = _mm512_set1_epi8(Window - 1);
    const __m512i windowBase = _mm512_set1_epi8(char(v.base));
    __m512i c0, c1, c2, c3, c4, c5, c6, c7, c8, c9, c10, c11, c12, c13, c14, c15;
#define ZERMIC_LOAD(c, k) c = v.counters[k];
    ZERMIC_EACH_COUNTER(ZERMIC_LOAD)
    __m512i lowest = v.lowest, highest = v.highest, byteSums = v.byteSums;
    int misses = 0;
    for (int x = 0; x < blockEnd; x += 64) {
        const __m512i p0 = _mm512_loadu_si512(row + x);
        const __m512i p1 = _mm512_loadu_si512(row + x + 32);
        // One sample per block, its increment overlapping the vector work.
        ++samples[row[x + sample] / ImageStats::kSampleBinWidth];
        lowest = _mm512_min_epu16(lowest, _mm512_min_epu16(p0, p1));
        highest = _mm512_max_epu16(highest, _mm512_max_epu16(p0, p1));
        byteSums = _mm512_add_epi64(
            byteSums, _mm512_add_epi64(_mm512_sad_epu8(p0, zero), _mm512_sad_epu8(p1, zero)));
        // The pack interleaves the two halves' bins: counting does not care.
        const __m512i bins =
            _mm512_packus_epi16(_mm512_srli_epi16(p0, 8), _mm512_srli_epi16(p1, 8));
        const __m512i offset = _mm512_sub_epi8(bins, windowBase);
        if (__mmask64 outside = _mm512_cmpgt_epu8_mask(offset, lastInWindow)) {
            alignas(64) std::uint8_t each[64];
            _mm512_store_si512(each, bins);
            misses += std::popcount(outside);
            for (; outside; outside &= outside - 1)
                ++t.bins[each[std::countr_zero(outside)]];
        }
#define ZERMIC_COUNT(c, k) countEqual(c, offset, kWindowIndex[k], one);
        ZERMIC_EACH_COUNTER(ZERMIC_COUNT)
        if (++v.blocks == kBlocksPerFlush) {
#define ZERMIC_FLUSH(c, k)                                                                         \
    t.bins[v.base + k] += std::uint32_t(_mm512_reduce_add_epi64(_mm512_sad_epu8(c, zero)));        \
    c = zero;
            ZERMIC_EACH_COUNTER(ZERMIC_FLUSH)
            v.blocks = 0;
        }
    }
#define ZERMIC_STORE(c, k) v.counters[k] = c;
    ZERMIC_EACH_COUNTER(ZERMIC_STORE)
    v.lowest = lowest, v.highest = highest, v.byteSums = byteSums;
    return misses;
}
#undef ZERMIC_STORE
#undef ZERMIC_FLUSH
#undef ZERMIC_COUNT
#undef ZERMIC_LOAD
#undef ZERMIC_EACH_COUNTER

__attribute__((target("avx512f,avx512bw"))) void scanAvx512(const Area& a, Tally& t,
                                                            std::uint32_t* samples) {
    VectorTally v;
    for (__m512i& c : v.counters)
        c = _mm512_setzero_si512();
    v.lowest = _mm512_set1_epi16(-1);
    v.highest = _mm512_setzero_si512();
    v.byteSums = _mm512_setzero_si512();
    std::uint64_t tailByteSum = 0;
    int window = kNarrowWindow;

    const int n = a.columns();
    const int blockEnd = n & ~63;
    for (int y = a.top; y < a.bottom; ++y) {
        const unsigned short* row = a.row(y);
        // The window sits on the row's sky, the middle of three of its pixels
        // (rarely a star's), with more room above it, where the stars are.
        // A change by one bin keeps it where it is.
        const unsigned a0 = row[n / 4] >> 8, a1 = row[n / 2] >> 8, a2 = row[3 * n / 4] >> 8;
        const int sky = int(std::max(std::min(a0, a1), std::min(std::max(a0, a1), a2)));
        const int wanted = std::clamp(sky - window * 3 / 8, 0, kBins - window);
        if (v.base < 0 || std::abs(wanted - v.base) > 1) {
            if (v.base >= 0)
                flushWindow(v, window, t.bins);
            v.base = wanted;
        }
        const int sample = firstSample(y);
        const int misses = window == kNarrowWindow
                               ? countRow<kNarrowWindow>(row, blockEnd, sample, v, t, samples)
                               : countRow<kWideWindow>(row, blockEnd, sample, v, t, samples);
        if (window == kNarrowWindow && misses > blockEnd / kWideningMisses) {
            flushWindow(v, window, t.bins);
            window = kWideWindow;
            v.base = -1;
        }
        if (blockEnd + sample < n)
            ++samples[row[blockEnd + sample] / ImageStats::kSampleBinWidth];
        for (int x = blockEnd; x < n; ++x) {
            const unsigned p = row[x];
            t.minimum = std::min(t.minimum, p);
            t.maximum = std::max(t.maximum, p);
            tailByteSum += (p & 0xFF) + (p >> 8);
            ++t.bins[p >> 8];
        }
    }
    if (v.base >= 0)
        flushWindow(v, window, t.bins);

    alignas(64) std::uint16_t lanes[32];
    _mm512_store_si512(lanes, v.lowest);
    for (std::uint16_t p : lanes)
        t.minimum = std::min<unsigned>(t.minimum, p);
    _mm512_store_si512(lanes, v.highest);
    for (std::uint16_t p : lanes)
        t.maximum = std::max<unsigned>(t.maximum, p);
    // v = low + 256 high = (low + high) + 255 high.
    std::uint64_t highSum = 0;
    for (int k = 0; k < kBins; ++k)
        highSum += std::uint64_t(k) * t.bins[k];
    t.sum = std::uint64_t(_mm512_reduce_add_epi64(v.byteSums)) + tailByteSum + 255 * highSum;
}

bool scanVector(const Area& a, Tally& t, std::uint32_t* samples) {
    static const bool hasAvx512 =
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    if (!hasAvx512)
        return false;
    scanAvx512(a, t, samples);
    return true;
}

#else

bool scanVector(const Area&, Tally&, std::uint32_t*) {
    return false;
}

#endif

} // namespace

static_assert(std::endian::native == std::endian::little);

void ImageBuffer::computeStats(StatsCode code) {
    Tally t;
    std::memset(stats.samples, 0, sizeof stats.samples);
    const Area a{pixels, width, kBorder, width - kBorder, kBorder, height - kBorder};
    // An image 32 pixels or fewer on a side has nothing to measure; its mean
    // is shown as 0 rather than divided by a zero or negative count.
    const bool empty = !pixels || a.right <= a.left || a.bottom <= a.top;
    if (!empty && (code == StatsCode::Portable || !scanVector(a, t, stats.samples)))
        scanPortable(a, t, stats.samples);
    const std::int64_t area = empty ? 0 : std::int64_t(a.columns()) * (a.bottom - a.top);
    stats.mean = area > 0 ? int(t.sum / std::uint64_t(area)) : 0;
    stats.minimum = int(t.minimum);
    stats.maximum = int(t.maximum);
    const std::uint32_t fullest = *std::max_element(std::begin(t.bins), std::end(t.bins));
    for (int k = 0; k < kBins; ++k)
        stats.histogram[k] = fullest ? float(t.bins[k]) / float(fullest) : 0.0f;
    stats.sampleCount = 0;
    for (std::uint32_t c : stats.samples)
        stats.sampleCount += c;
    stats.valid = true;
}

void ImageBuffer::getStats(int& minimum, int& maximum, int& mean) {
    if (!stats.valid)
        computeStats();
    minimum = stats.minimum;
    maximum = stats.maximum;
    mean = stats.mean;
}

const float* ImageBuffer::getHistogram() {
    if (!stats.valid)
        computeStats();
    return stats.histogram;
}
