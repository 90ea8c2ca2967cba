#include "ImageBuffer.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace {
constexpr int kBorder = 16;
constexpr int kBins = 256;
// Sky images put most pixels in a few neighbouring bins; counting into four
// interleaved histograms keeps consecutive increments of the same bin from
// waiting on each other.
constexpr int kLanes = 4;
} // namespace

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
            const unsigned short* row = pixels + std::int64_t(y) * width;
            std::uint64_t rowSum = 0;
            int x = left;
            for (; x + kLanes <= right; x += kLanes) {
                const unsigned v0 = row[x], v1 = row[x + 1], v2 = row[x + 2], v3 = row[x + 3];
                ++counts[0][v0 >> 8];
                ++counts[1][v1 >> 8];
                ++counts[2][v2 >> 8];
                ++counts[3][v3 >> 8];
                minimum = std::min(minimum, std::min(std::min(v0, v1), std::min(v2, v3)));
                maximum = std::max(maximum, std::max(std::max(v0, v1), std::max(v2, v3)));
                rowSum += v0 + v1 + v2 + v3;
            }
            for (; x < right; ++x) {
                const unsigned v = row[x];
                ++counts[0][v >> 8];
                minimum = std::min(minimum, v);
                maximum = std::max(maximum, v);
                rowSum += v;
            }
            sum += rowSum;
        }
    }
    const std::int64_t area = empty ? 0 : std::int64_t(right - left) * (bottom - top);
    stats.mean = area > 0 ? int(sum / std::uint64_t(area)) : 0;
    stats.minimum = int(minimum);
    stats.maximum = int(maximum);
    std::uint32_t total[kBins];
    for (int k = 0; k < kBins; ++k)
        total[k] = counts[0][k] + counts[1][k] + counts[2][k] + counts[3][k];
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
