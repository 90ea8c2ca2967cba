#include "ImageBuffer.h"

#include <algorithm>
#include <iterator>

namespace {
constexpr int kBorder = 16;
}

void ImageBuffer::computeStats() {
    std::fill(std::begin(stats.histogram), std::end(stats.histogram), 0.0f);
    int minimum = 65535;
    int maximum = 0;
    double sum = 0.0;
    unsigned counts[256] = {};
    if (pixels) {
        for (int y = kBorder; y < height - kBorder; ++y) {
            const unsigned short* row = pixels + std::int64_t(y) * width;
            std::uint64_t rowSum = 0;
            for (int x = kBorder; x < width - kBorder; ++x) {
                const unsigned v = row[x];
                minimum = std::min<int>(minimum, v);
                maximum = std::max<int>(maximum, v);
                rowSum += v;
                ++counts[v >> 8];
            }
            sum += double(rowSum);
        }
    }
    // An image of 32 pixels or fewer on a side has nothing to measure: mean 0.
    const std::int64_t area =
        pixels ? std::int64_t(std::max(width - 2 * kBorder, 0)) * std::max(height - 2 * kBorder, 0)
               : 0;
    stats.mean = area > 0 ? int(sum / double(area)) : 0;
    stats.minimum = minimum;
    stats.maximum = maximum;
    const unsigned fullest = *std::max_element(std::begin(counts), std::end(counts));
    for (int k = 0; k < 256; ++k)
        stats.histogram[k] = fullest ? float(counts[k]) / float(fullest) : 0.0f;
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
