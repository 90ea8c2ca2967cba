#include "StarMeasure.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

bool hasPixels(const ImageBuffer& image) {
    return image.pixels && image.width > 0 && image.height > 0;
}

// Clips a rectangle to the image; false when nothing is left.
bool clipToImage(const ImageBuffer& image, int& left, int& right, int& top, int& bottom) {
    if (!hasPixels(image))
        return false;
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, image.width - 1);
    bottom = std::min(bottom, image.height - 1);
    return left <= right && top <= bottom;
}

} // namespace

void smoothBox3(ImageBuffer& image, int left, int right, int top, int bottom) {
    if (!hasPixels(image))
        return;
    left = std::max(left, 1);
    top = std::max(top, 1);
    right = std::min(right, image.width - 2);
    bottom = std::min(bottom, image.height - 2);
    if (top >= bottom || left >= right)
        return;

    const std::size_t w = static_cast<std::size_t>(image.width);
    for (int y = top; y < bottom; ++y) {
        unsigned short* mid = image.pixels + static_cast<std::size_t>(y) * w;
        const unsigned short* up = mid - w;
        const unsigned short* down = mid + w;
        // Sliding column sums: three reads per pixel instead of nine. The left
        // column is patched with the value just written, so the result is the
        // same as re-reading the block from the buffer.
        std::uint32_t colLeft = std::uint32_t(up[left - 1]) + mid[left - 1] + down[left - 1];
        std::uint32_t colMid = std::uint32_t(up[left]) + mid[left] + down[left];
        for (int x = left; x < right; ++x) {
            const std::uint32_t colRight = std::uint32_t(up[x + 1]) + mid[x + 1] + down[x + 1];
            const std::uint32_t old = mid[x];
            const std::uint32_t smoothed = (colLeft + colMid + colRight) / 9;
            mid[x] = static_cast<unsigned short>(smoothed);
            colLeft = colMid - old + smoothed;
            colMid = colRight;
        }
    }
}

unsigned short findPeak(const ImageBuffer& image, int left, int right, int top, int bottom,
                        int& col, int& row) {
    if (!clipToImage(image, left, right, top, bottom))
        return 0;
    unsigned short best = 0;
    const std::size_t w = static_cast<std::size_t>(image.width);
    for (int y = top; y <= bottom; ++y) {
        const unsigned short* line = image.pixels + static_cast<std::size_t>(y) * w;
        for (int x = left; x <= right; ++x) {
            if (line[x] > best) {
                best = line[x];
                col = x;
                row = y;
            }
        }
    }
    return best;
}

unsigned short measureCentroid(const ImageBuffer& image, unsigned short threshold, int left,
                               int right, int top, int bottom, float& x, float& y) {
    // Integer sums are exact; every product v * x is below 2^32 and a zone would
    // need millions of pixels before the totals came near 2^53, so converting
    // once at the end gives what summing the products in double gives, also for
    // columns past 32767 where a 32-bit product would overflow.
    std::uint64_t s = 0;
    std::uint64_t sx = 0;
    std::uint64_t sy = 0;
    if (clipToImage(image, left, right, top, bottom)) {
        const std::size_t w = static_cast<std::size_t>(image.width);
        for (int row = top; row <= bottom; ++row) {
            const unsigned short* line = image.pixels + static_cast<std::size_t>(row) * w;
            std::uint64_t rowSum = 0;
            std::uint64_t rowMoment = 0;
            for (int col = left; col <= right; ++col) {
                const std::uint32_t v = line[col] >= threshold ? line[col] : 0u;
                rowSum += v;
                rowMoment += std::uint64_t(v) * std::uint32_t(col);
            }
            s += rowSum;
            sx += rowMoment;
            sy += rowSum * std::uint32_t(row);
        }
    }
    if (s == 0) {
        x = std::numeric_limits<float>::quiet_NaN();
        y = std::numeric_limits<float>::quiet_NaN();
        return 0;
    }
    x = static_cast<float>(double(sx) / double(s));
    y = static_cast<float>(double(sy) / double(s));
    // The centroid lies inside the clipped rectangle, so this pixel exists.
    const std::size_t col = static_cast<std::size_t>(x);
    const std::size_t row = static_cast<std::size_t>(y);
    return image.pixels[row * static_cast<std::size_t>(image.width) + col];
}

StarLock lockStar(ImageBuffer& image, const StarMarker& marker, const LockConstants& constants) {
    StarLock lock;
    const int h = zoneHalfSize(constants.zoneSize);
    if (marker.set) {
        lock.search = zoneAround(marker.x, marker.y, h);
    } else {
        const std::int64_t m = constants.margin;
        lock.search = GuideZone{saturateInt(m), saturateInt(std::int64_t(image.width) - m),
                                saturateInt(m), saturateInt(std::int64_t(image.height) - m)};
        if (constants.smoothWithoutMarker)
            smoothBox3(image, lock.search);
    }

    // Without any light the peak position stays here: the search centre.
    lock.peakX = saturateInt((std::int64_t(lock.search.left) + lock.search.right) / 2);
    lock.peakY = saturateInt((std::int64_t(lock.search.top) + lock.search.bottom) / 2);
    lock.peak = findPeak(image, lock.search, lock.peakX, lock.peakY);

    lock.threshold = static_cast<int>(double(lock.peak) * 0.9);
    lock.zone = zoneAround(lock.peakX, lock.peakY, h);
    lock.level = measureCentroid(image, static_cast<unsigned short>(lock.threshold), lock.zone,
                                 lock.refX, lock.refY);
    return lock;
}
