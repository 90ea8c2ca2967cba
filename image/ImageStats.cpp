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

// The vector passes count the bins of a window of neighbouring bins with byte
// counters (or, for half of AVX-512's wide window, from the compares' masks),
// a whole vector of pixels per compare; the rare pixels outside the
// window (stars, hot pixels) are counted one by one. A window of 8 bins holds
// a quiet sky; a noisier one (more than one pixel in kWideningMisses outside)
// widens it to 16 for the rest of the image, at twice the compares.
constexpr int kNarrowWindow = 8;
constexpr int kWideWindow = 16;
constexpr int kWideningMisses = 32;
// Both passes take 64 pixels per step, one sample per step.
constexpr int kBlock = 64;
static_assert(ImageStats::kSampleStep == kBlock);

// The values the counters compare against, read from memory so that the
// registers are left to the counters.
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

// A pass's vector registers between rows, kept as plain bytes so the row loop
// below needs no vector unit of its own.
struct VectorState {
    alignas(64) std::uint8_t counters[kWideWindow][64];
    alignas(64) std::uint8_t lowest[64];
    alignas(64) std::uint8_t highest[64];
    // Sums of the low and high bytes of every pixel; the high bytes' own sum
    // comes from the histogram at the end.
    alignas(64) std::uint8_t byteSums[64];
    int base = -1;
    int blocks = 0;
};

// Runs STEP(c, k) on each of the window's counters. They are named variables
// rather than an array: the compiler keeps an array this large in memory.
// clang-format off
#define ZERMIC_LOWER_COUNTERS(STEP)                                                                \
    STEP(c0, 0) STEP(c1, 1) STEP(c2, 2) STEP(c3, 3) STEP(c4, 4) STEP(c5, 5) STEP(c6, 6) STEP(c7, 7)
#define ZERMIC_UPPER_COUNTERS(STEP)                                                                \
    STEP(c8, 8) STEP(c9, 9) STEP(c10, 10) STEP(c11, 11)                                            \
    STEP(c12, 12) STEP(c13, 13) STEP(c14, 14) STEP(c15, 15)
#define ZERMIC_EACH_COUNTER(STEP)                                                                  \
    ZERMIC_LOWER_COUNTERS(STEP) if constexpr (Window > 8) { ZERMIC_UPPER_COUNTERS(STEP) }
// clang-format on

// Adds a pass's extremes and byte sums, kept in the first bytes of its
// vector registers, to the tally.
void foldLanes(const VectorState& v, int bytes, Tally& t) {
    for (int k = 0; k < bytes; k += 2) {
        std::uint16_t lo, hi;
        std::memcpy(&lo, v.lowest + k, 2);
        std::memcpy(&hi, v.highest + k, 2);
        t.minimum = std::min<unsigned>(t.minimum, lo);
        t.maximum = std::max<unsigned>(t.maximum, hi);
    }
    for (int k = 0; k < bytes; k += 8) {
        std::uint64_t sum;
        std::memcpy(&sum, v.byteSums + k, 8);
        t.sum += sum;
    }
}

// Counts the bins of the pixels outside the window, given the packed bins and
// the bit mask of those outside; returns how many there were.
inline int countOutside(const std::uint8_t* bins, std::uint64_t outside, std::uint32_t* counts) {
    const int n = std::popcount(outside);
    for (; outside; outside &= outside - 1)
        ++counts[bins[std::countr_zero(outside)]];
    return n;
}

struct Avx512 {
    // A byte counter takes at most one pixel per step.
    static constexpr int kStepsPerFlush = 255;

    // counter += 1 in the byte lanes where value equals wanted. Written out
    // so that the counter stays in its register: the compiler's own code for
    // the masked add copies it on every step.
    __attribute__((target("avx512f,avx512bw"), always_inline)) static inline void
    countEqual(__m512i& counter, __m512i value, const WindowIndex& wanted, __m512i one) {
        __mmask64 equal;
        asm("vpcmpeqb %[wanted], %[value], %[equal]\n\t"
            "vpaddb %[one], %[counter], %[counter]%{%[equal]%}"
            : [counter] "+v"(counter), [equal] "=&Yk"(equal)
            : [value] "v"(value), [wanted] "m"(wanted), [one] "v"(one));
    }

    // The eight 64-bit lanes added up (the library's own reduction makes the
    // compiler warn about its undefined upper half).
    __attribute__((target("avx512f,avx512bw"))) static std::uint64_t total(__m512i lanes) {
        alignas(64) std::uint64_t each[8];
        _mm512_store_si512(each, lanes);
        std::uint64_t sum = 0;
        for (std::uint64_t e : each)
            sum += e;
        return sum;
    }

    __attribute__((target("avx512f,avx512bw"))) static void start(VectorState& v) {
        for (auto& c : v.counters)
            _mm512_store_si512(c, _mm512_setzero_si512());
        _mm512_store_si512(v.lowest, _mm512_set1_epi16(-1));
        _mm512_store_si512(v.highest, _mm512_setzero_si512());
        _mm512_store_si512(v.byteSums, _mm512_setzero_si512());
    }

    __attribute__((target("avx512f,avx512bw"))) static void flush(VectorState& v, int window,
                                                                  std::uint32_t* bins) {
        const __m512i zero = _mm512_setzero_si512();
        // Only the lower half of the wide window has byte counters here.
        for (int k = 0; k < std::min(window, kNarrowWindow); ++k) {
            const __m512i sums = _mm512_sad_epu8(_mm512_load_si512(v.counters[k]), zero);
            bins[v.base + k] += std::uint32_t(total(sums));
            _mm512_store_si512(v.counters[k], zero);
        }
        v.blocks = 0;
    }

    static void finish(const VectorState& v, Tally& t) { foldLanes(v, 64, t); }

    // The whole steps of one row; returns how many pixels fell outside the
    // window.
    template <int Window>
    __attribute__((target("avx512f,avx512bw,popcnt"))) static int
    countRow(const unsigned short* row, int blockEnd, int sample, VectorState& v, Tally& t,
             std::uint32_t* samples) {
        const __m512i zero = _mm512_setzero_si512();
        const __m512i one = _mm512_set1_epi8(1);
        const __m512i lastInWindow = _mm512_set1_epi8(Window - 1);
        const __m512i windowBase = _mm512_set1_epi8(char(v.base));
        // The narrow window and the lower half of the wide one count in byte
        // counters; the wide window's upper half is counted from the
        // compares' masks by the scalar units, which leaves the vector unit
        // half the adds.
        __m512i c0, c1, c2, c3, c4, c5, c6, c7;
#define ZERMIC_LOAD(c, k) c = _mm512_load_si512(v.counters[k]);
        ZERMIC_LOWER_COUNTERS(ZERMIC_LOAD)
        std::uint32_t c8 = 0, c9 = 0, c10 = 0, c11 = 0, c12 = 0, c13 = 0, c14 = 0, c15 = 0;
        __m512i lowest = _mm512_load_si512(v.lowest);
        __m512i highest = _mm512_load_si512(v.highest);
        __m512i byteSums = _mm512_load_si512(v.byteSums);
        int misses = 0;
        for (int x = 0; x < blockEnd; x += kBlock) {
            const __m512i p0 = _mm512_loadu_si512(row + x);
            const __m512i p1 = _mm512_loadu_si512(row + x + 32);
            // One sample per step, its increment overlapping the vector work.
            ++samples[row[x + sample] / ImageStats::kSampleBinWidth];
            lowest = _mm512_min_epu16(lowest, _mm512_min_epu16(p0, p1));
            highest = _mm512_max_epu16(highest, _mm512_max_epu16(p0, p1));
            byteSums = _mm512_add_epi64(
                byteSums, _mm512_add_epi64(_mm512_sad_epu8(p0, zero), _mm512_sad_epu8(p1, zero)));
            // The pack interleaves the two halves' bins: counting does not care.
            const __m512i bins =
                _mm512_packus_epi16(_mm512_srli_epi16(p0, 8), _mm512_srli_epi16(p1, 8));
            const __m512i offset = _mm512_sub_epi8(bins, windowBase);
            if (const __mmask64 outside = _mm512_cmpgt_epu8_mask(offset, lastInWindow)) {
                alignas(64) std::uint8_t each[64];
                _mm512_store_si512(each, bins);
                misses += countOutside(each, outside, t.bins);
            }
#define ZERMIC_COUNT(c, k) countEqual(c, offset, kWindowIndex[k], one);
            ZERMIC_LOWER_COUNTERS(ZERMIC_COUNT)
#define ZERMIC_POP(c, k)                                                                           \
    c += std::popcount(_mm512_cmpeq_epi8_mask(offset, _mm512_load_si512(kWindowIndex[k].bytes)));
            if constexpr (Window > 8) {
                ZERMIC_UPPER_COUNTERS(ZERMIC_POP)
            }
            if (++v.blocks == kStepsPerFlush) {
#define ZERMIC_FLUSH(c, k)                                                                         \
    t.bins[v.base + k] += std::uint32_t(total(_mm512_sad_epu8(c, zero)));                          \
    c = zero;
                ZERMIC_LOWER_COUNTERS(ZERMIC_FLUSH)
                v.blocks = 0;
            }
        }
#define ZERMIC_STORE(c, k) _mm512_store_si512(v.counters[k], c);
        ZERMIC_LOWER_COUNTERS(ZERMIC_STORE)
#define ZERMIC_ADD(c, k) t.bins[v.base + k] += c;
        if constexpr (Window > 8) {
            ZERMIC_UPPER_COUNTERS(ZERMIC_ADD)
        }
        _mm512_store_si512(v.lowest, lowest);
        _mm512_store_si512(v.highest, highest);
        _mm512_store_si512(v.byteSums, byteSums);
        return misses;
    }
#undef ZERMIC_STORE
#undef ZERMIC_FLUSH
#undef ZERMIC_ADD
#undef ZERMIC_POP
#undef ZERMIC_COUNT
#undef ZERMIC_LOAD
};

struct Avx2 {
    // A byte counter takes at most two pixels per step (one per half).
    static constexpr int kStepsPerFlush = 127;

    __attribute__((target("avx2"))) static void start(VectorState& v) {
        for (auto& c : v.counters) {
            _mm256_store_si256(reinterpret_cast<__m256i*>(c), _mm256_setzero_si256());
            _mm256_store_si256(reinterpret_cast<__m256i*>(c + 32), _mm256_setzero_si256());
        }
        _mm256_store_si256(reinterpret_cast<__m256i*>(v.lowest), _mm256_set1_epi16(-1));
        _mm256_store_si256(reinterpret_cast<__m256i*>(v.highest), _mm256_setzero_si256());
        _mm256_store_si256(reinterpret_cast<__m256i*>(v.byteSums), _mm256_setzero_si256());
    }

    // The four 64-bit sums of a vector's bytes, added up.
    __attribute__((target("avx2"))) static std::uint64_t byteTotal(__m256i bytes) {
        alignas(32) std::uint64_t sums[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(sums),
                           _mm256_sad_epu8(bytes, _mm256_setzero_si256()));
        return sums[0] + sums[1] + sums[2] + sums[3];
    }

    __attribute__((target("avx2"))) static void flush(VectorState& v, int window,
                                                      std::uint32_t* bins) {
        for (int k = 0; k < window; ++k) {
            auto* c = reinterpret_cast<__m256i*>(v.counters[k]);
            bins[v.base + k] += std::uint32_t(byteTotal(_mm256_load_si256(c)));
            _mm256_store_si256(c, _mm256_setzero_si256());
        }
        v.blocks = 0;
    }

    static void finish(const VectorState& v, Tally& t) { foldLanes(v, 32, t); }

    template <int Window>
    __attribute__((target("avx2"))) static int countRow(const unsigned short* row, int blockEnd,
                                                        int sample, VectorState& v, Tally& t,
                                                        std::uint32_t* samples) {
        const __m256i zero = _mm256_setzero_si256();
        const __m256i lastInWindow = _mm256_set1_epi8(Window - 1);
        const __m256i windowBase = _mm256_set1_epi8(char(v.base));
        auto at = [](std::uint8_t* p) { return reinterpret_cast<__m256i*>(p); };
        __m256i c0, c1, c2, c3, c4, c5, c6, c7, c8, c9, c10, c11, c12, c13, c14, c15;
#define ZERMIC_LOAD(c, k) c = _mm256_load_si256(at(v.counters[k]));
        ZERMIC_EACH_COUNTER(ZERMIC_LOAD)
        __m256i lowest = _mm256_load_si256(at(v.lowest));
        __m256i highest = _mm256_load_si256(at(v.highest));
        __m256i byteSums = _mm256_load_si256(at(v.byteSums));
        int misses = 0;
        for (int x = 0; x < blockEnd; x += kBlock) {
            const auto* src = reinterpret_cast<const __m256i*>(row + x);
            const __m256i p0 = _mm256_loadu_si256(src), p1 = _mm256_loadu_si256(src + 1);
            const __m256i p2 = _mm256_loadu_si256(src + 2), p3 = _mm256_loadu_si256(src + 3);
            ++samples[row[x + sample] / ImageStats::kSampleBinWidth];
            lowest = _mm256_min_epu16(
                lowest, _mm256_min_epu16(_mm256_min_epu16(p0, p1), _mm256_min_epu16(p2, p3)));
            highest = _mm256_max_epu16(
                highest, _mm256_max_epu16(_mm256_max_epu16(p0, p1), _mm256_max_epu16(p2, p3)));
            byteSums = _mm256_add_epi64(
                byteSums,
                _mm256_add_epi64(
                    _mm256_add_epi64(_mm256_sad_epu8(p0, zero), _mm256_sad_epu8(p1, zero)),
                    _mm256_add_epi64(_mm256_sad_epu8(p2, zero), _mm256_sad_epu8(p3, zero))));
            const __m256i bins0 =
                _mm256_packus_epi16(_mm256_srli_epi16(p0, 8), _mm256_srli_epi16(p1, 8));
            const __m256i bins1 =
                _mm256_packus_epi16(_mm256_srli_epi16(p2, 8), _mm256_srli_epi16(p3, 8));
            const __m256i offset0 = _mm256_sub_epi8(bins0, windowBase);
            const __m256i offset1 = _mm256_sub_epi8(bins1, windowBase);
            // In the window where max(offset, last) is last.
            const std::uint64_t inside =
                std::uint32_t(_mm256_movemask_epi8(
                    _mm256_cmpeq_epi8(_mm256_max_epu8(offset0, lastInWindow), lastInWindow))) |
                std::uint64_t(std::uint32_t(_mm256_movemask_epi8(
                    _mm256_cmpeq_epi8(_mm256_max_epu8(offset1, lastInWindow), lastInWindow))))
                    << 32;
            if (inside != ~std::uint64_t(0)) {
                alignas(32) std::uint8_t each[64];
                _mm256_store_si256(at(each), bins0);
                _mm256_store_si256(at(each + 32), bins1);
                misses += countOutside(each, ~inside, t.bins);
            }
            // A match is -1: subtracting both halves' matches counts them.
#define ZERMIC_COUNT(c, k)                                                                         \
    {                                                                                              \
        const __m256i wanted =                                                                     \
            _mm256_load_si256(reinterpret_cast<const __m256i*>(kWindowIndex[k].bytes));            \
        c = _mm256_sub_epi8(_mm256_sub_epi8(c, _mm256_cmpeq_epi8(offset0, wanted)),                \
                            _mm256_cmpeq_epi8(offset1, wanted));                                   \
    }
            ZERMIC_EACH_COUNTER(ZERMIC_COUNT)
            if (++v.blocks == kStepsPerFlush) {
#define ZERMIC_FLUSH(c, k)                                                                         \
    t.bins[v.base + k] += std::uint32_t(byteTotal(c));                                             \
    c = zero;
                ZERMIC_EACH_COUNTER(ZERMIC_FLUSH)
                v.blocks = 0;
            }
        }
#define ZERMIC_STORE(c, k) _mm256_store_si256(at(v.counters[k]), c);
        ZERMIC_EACH_COUNTER(ZERMIC_STORE)
        _mm256_store_si256(at(v.lowest), lowest);
        _mm256_store_si256(at(v.highest), highest);
        _mm256_store_si256(at(v.byteSums), byteSums);
        return misses;
    }
#undef ZERMIC_STORE
#undef ZERMIC_FLUSH
#undef ZERMIC_COUNT
#undef ZERMIC_LOAD
};
#undef ZERMIC_EACH_COUNTER
#undef ZERMIC_UPPER_COUNTERS
#undef ZERMIC_LOWER_COUNTERS

// The row loop both vector units share: the window placed on each row's sky,
// the whole steps counted by the unit, the row's last pixels one by one.
template <class Unit> void scanRows(const Area& a, Tally& t, std::uint32_t* samples) {
    VectorState v;
    Unit::start(v);
    std::uint64_t byteSum = 0;
    int window = kNarrowWindow;
    const int n = a.columns();
    const int blockEnd = n / kBlock * kBlock;
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
                Unit::flush(v, window, t.bins);
            v.base = wanted;
        }
        const int sample = firstSample(y);
        const int misses =
            window == kNarrowWindow
                ? Unit::template countRow<kNarrowWindow>(row, blockEnd, sample, v, t, samples)
                : Unit::template countRow<kWideWindow>(row, blockEnd, sample, v, t, samples);
        if (window == kNarrowWindow && misses > blockEnd / kWideningMisses) {
            Unit::flush(v, window, t.bins);
            window = kWideWindow;
            v.base = -1;
        }
        if (blockEnd + sample < n)
            ++samples[row[blockEnd + sample] / ImageStats::kSampleBinWidth];
        for (int x = blockEnd; x < n; ++x) {
            const unsigned p = row[x];
            t.minimum = std::min(t.minimum, p);
            t.maximum = std::max(t.maximum, p);
            byteSum += (p & 0xFF) + (p >> 8);
            ++t.bins[p >> 8];
        }
    }
    if (v.base >= 0)
        Unit::flush(v, window, t.bins);
    t.sum = byteSum;
    Unit::finish(v, t);
    // v = low + 256 high = (low + high) + 255 high.
    std::uint64_t highSum = 0;
    for (int k = 0; k < kBins; ++k)
        highSum += std::uint64_t(k) * t.bins[k];
    t.sum += 255 * highSum;
}

bool scanVector(const Area& a, Tally& t, std::uint32_t* samples, StatsCode code) {
    static const bool hasAvx512 =
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    static const bool hasAvx2 = __builtin_cpu_supports("avx2");
    if (hasAvx512 && code == StatsCode::Fastest)
        scanRows<Avx512>(a, t, samples);
    else if (hasAvx2 && code != StatsCode::Portable)
        scanRows<Avx2>(a, t, samples);
    else
        return false;
    return true;
}

#else

bool scanVector(const Area&, Tally&, std::uint32_t*, StatsCode) {
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
    if (!empty && !scanVector(a, t, stats.samples, code))
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
