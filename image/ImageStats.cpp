#include "ImageBuffer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZERMIC_X86 1
#endif

namespace {

constexpr int kBorder = 16;
constexpr int kBins = 256;

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

// An axis longer than twice the border leaves the border out; a shorter one,
// which would have nothing left, is measured whole, so that small images get
// statistics (and automatic levels) too.
void measuredSpan(int size, int& first, int& end) {
    const bool bordered = size > 2 * kBorder;
    first = bordered ? kBorder : 0;
    end = bordered ? size - kBorder : size;
}

int firstSample(int y) {
    return (y / 2) % ImageStats::kSampleStep;
}

// Every pass counts the bins of a window of neighbouring bins with byte
// counters, a whole step of pixels per compare, which vector units do at
// once; the rare pixels outside the window (stars, hot pixels) are counted
// one by one. A window of 8 bins holds a quiet sky; a noisier one (more than
// one pixel in kWideningMisses outside) widens it to 16 for the rest of the
// image, at twice the compares.
constexpr int kNarrowWindow = 8;
constexpr int kWideWindow = 16;
constexpr int kWideningMisses = 32;
// Every pass takes 64 pixels per step, one sample per step.
constexpr int kBlock = 64;
static_assert(ImageStats::kSampleStep == kBlock);

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

std::uint16_t lowerOf(std::uint16_t a, std::uint16_t b) {
    return std::uint16_t(a - (a > b ? a - b : 0));
}
std::uint16_t higherOf(std::uint16_t a, std::uint16_t b) {
    return std::uint16_t(b + (a > b ? a - b : 0));
}

// Bit j set where offset[j] >= Window, eight offsets at a time: a byte is at
// least Window where its top bit is set or its low seven bits reach it, and
// the multiply gathers the eight top bits into one byte.
template <int Window> std::uint64_t outsideMask(const std::uint8_t* offset) {
    constexpr std::uint64_t kBytes = 0x0101010101010101;
    std::uint64_t mask = 0;
    for (int w = 0; w < kBlock / 8; ++w) {
        std::uint64_t x;
        std::memcpy(&x, offset + 8 * w, 8);
        const std::uint64_t top =
            (x | ((x & 0x7F * kBytes) + (0x80 - Window) * kBytes)) & 0x80 * kBytes;
        mask |= (((top >> 7) * 0x0102040810204080) >> 56) << (8 * w);
    }
    return mask;
}

// The pass every CPU runs: plain loops over a step's pixels that the compiler
// vectorizes for whatever vector unit the target has. The extremes and byte
// sums are kept per position of a half step (the minimum and maximum through
// saturating subtractions, which every vector unit has), the counters per
// position of a step.
struct Plain {
    static constexpr int kStepsPerFlush = 255;
    static constexpr int kHalf = kBlock / 2;

    static void start(VectorState& v) {
        std::memset(v.counters, 0, sizeof v.counters);
        std::memset(v.lowest, 0xFF, sizeof v.lowest);
        std::memset(v.highest, 0, sizeof v.highest);
        std::memset(v.byteSums, 0, sizeof v.byteSums);
    }

    static void flush(VectorState& v, int window, std::uint32_t* bins) {
        for (int k = 0; k < window; ++k) {
            std::uint32_t n = 0;
            for (std::uint8_t c : v.counters[k])
                n += c;
            bins[v.base + k] += n;
        }
        std::memset(v.counters, 0, sizeof v.counters);
        v.blocks = 0;
    }

    static void finish(const VectorState& v, Tally& t) { foldLanes(v, kBlock, t); }

    template <int Window>
    static int countRow(const unsigned short* row, int blockEnd, int sample, VectorState& v,
                        Tally& t, std::uint32_t* samples) {
        const auto base = std::uint8_t(v.base);
        std::uint16_t lowest[kHalf], highest[kHalf];
        std::memcpy(lowest, v.lowest, sizeof lowest);
        std::memcpy(highest, v.highest, sizeof highest);
        std::uint32_t byteSum = 0;
        int misses = 0;
        for (int x = 0; x < blockEnd; x += kBlock) {
            const unsigned short* p = row + x;
            ++samples[p[sample] / ImageStats::kSampleBinWidth];
            std::uint8_t bins[kBlock], offset[kBlock];
            std::uint8_t outside = 0;
            for (int j = 0; j < kBlock; ++j) {
                bins[j] = std::uint8_t(p[j] >> 8);
                offset[j] = std::uint8_t(bins[j] - base);
                outside |= std::uint8_t(offset[j] >= Window);
                byteSum += (p[j] & 0xFFu) + bins[j];
            }
            for (int j = 0; j < kHalf; ++j) {
                lowest[j] = lowerOf(lowest[j], lowerOf(p[j], p[j + kHalf]));
                highest[j] = higherOf(highest[j], higherOf(p[j], p[j + kHalf]));
            }
            if (outside)
                misses += countOutside(bins, outsideMask<Window>(offset), t.bins);
            for (int k = 0; k < Window; ++k) {
                const auto bin = std::uint8_t(k);
                for (int j = 0; j < kBlock; ++j)
                    v.counters[k][j] += std::uint8_t(offset[j] == bin);
            }
            if (++v.blocks == kStepsPerFlush)
                flush(v, Window, t.bins);
        }
        std::memcpy(v.lowest, lowest, sizeof lowest);
        std::memcpy(v.highest, highest, sizeof highest);
        std::uint64_t total;
        std::memcpy(&total, v.byteSums, sizeof total);
        total += byteSum;
        std::memcpy(v.byteSums, &total, sizeof total);
        return misses;
    }
};

#ifdef ZERMIC_X86

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

#endif

// The row loop every unit shares: the window placed on each row's sky, the
// whole steps counted by the unit, the row's last pixels one by one.
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

void scanArea(const Area& a, Tally& t, std::uint32_t* samples, StatsCode code) {
#ifdef ZERMIC_X86
    if (runsAvx2(code)) {
        scanRows<Avx2>(a, t, samples);
        return;
    }
#else
    (void)code;
#endif
    scanRows<Plain>(a, t, samples);
}

} // namespace

static_assert(std::endian::native == std::endian::little);

void ImageBuffer::computeStats(StatsCode code) {
    Tally t;
    std::memset(stats.samples, 0, sizeof stats.samples);
    Area a{pixels, width, 0, 0, 0, 0};
    measuredSpan(width, a.left, a.right);
    measuredSpan(height, a.top, a.bottom);
    // Only an image without pixels has nothing to measure; its mean is shown
    // as 0 rather than divided by a zero count.
    const bool empty = !pixels || a.right <= a.left || a.bottom <= a.top;
    if (!empty)
        scanArea(a, t, stats.samples, code);
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
