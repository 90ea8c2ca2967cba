#include "ImageBuffer.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace {
constexpr int kBorder = 16;
constexpr int kBins = 256;
// Sky images put most pixels in a few neighbouring bins; counting into eight
// interleaved histograms keeps consecutive increments of the same bin from
// waiting on each other.
constexpr int kLanes = 8;
constexpr int kSumBlock = 65536;
} // namespace

static_assert(std::endian::native == std::endian::little);

void ImageBuffer::computeStats() {
    std::uint32_t counts[kLanes][kBins] = {};
    unsigned minimum = 65535;
    unsigned maximum = 0;
    std::uint64_t sum = 0;
    const int left = kBorder;
    const int right = width - kBorder;
    const int top = kBorder;
    const int bottom = height - kBorder;
    // An image 32 pixels or fewer on a side has nothing to measure; its mean
    // is shown as 0 rather than divided by a zero or negative count.
    const bool empty = !pixels || right <= left || bottom <= top;
    if (!empty) {
        for (int y = top; y < bottom; ++y) {
            const unsigned short* row = pixels + std::int64_t(y) * width + left;
            const int n = right - left;
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
                minimum = std::min<unsigned>(minimum, lo);
                maximum = std::max<unsigned>(maximum, hi);
                sum += blockSum;
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
    }
    const std::int64_t area = empty ? 0 : std::int64_t(right - left) * (bottom - top);
    stats.mean = area > 0 ? int(sum / std::uint64_t(area)) : 0;
    stats.minimum = int(minimum);
    stats.maximum = int(maximum);
    std::uint32_t total[kBins] = {};
    for (const auto& lane : counts)
        for (int k = 0; k < kBins; ++k)
            total[k] += lane[k];
    const std::uint32_t fullest = *std::max_element(std::begin(total), std::end(total));
    for (int k = 0; k < kBins; ++k)
        stats.histogram[k] = fullest ? float(total[k]) / float(fullest) : 0.0f;
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
