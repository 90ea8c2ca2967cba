#include "CCumul.h"

#include "StarMeasure.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

// The sum stays in the 16-bit pixels; past this limit a pixel stops growing
// rather than wrapping or saturating.
constexpr std::uint32_t kSumLimit = 32767;

std::optional<GuideZone> frameAround(float x, float y, int half) {
    if (std::isnan(x) || std::isnan(y))
        return std::nullopt;
    const float h = static_cast<float>(half);
    return GuideZone{truncToInt(x - h), truncToInt(x + h), truncToInt(y - h), truncToInt(y + h)};
}

} // namespace

bool addShifted(ImageBuffer& acc, const ImageBuffer& src, int dx, int dy) {
    if (!acc.pixels || !src.pixels || acc.width != src.width || acc.height != src.height)
        return false;
    const std::int64_t w = acc.width;
    const std::int64_t h = acc.height;
    const std::int64_t x0 = std::max<std::int64_t>(0, -std::int64_t(dx));
    const std::int64_t x1 = w - std::max<std::int64_t>(0, dx) - 1;
    const std::int64_t y0 = std::max<std::int64_t>(0, -std::int64_t(dy));
    const std::int64_t y1 = h - std::max<std::int64_t>(0, dy) - 1;
    if (x0 > x1 || y0 > y1)
        return true;
    for (std::int64_t y = y0; y <= y1; ++y) {
        unsigned short* a = acc.pixels + y * w;
        const unsigned short* s = src.pixels + (y + dy) * w + dx;
        for (std::int64_t x = x0; x <= x1; ++x) {
            const std::uint32_t sum = std::uint32_t(a[x]) + s[x];
            a[x] = sum < kSumLimit ? static_cast<unsigned short>(sum) : a[x];
        }
    }
    return true;
}

CCumul::CCumul(ImageBuffer& document)
    : accumulator(document), documentImage(document), margin(document.width / 4) {}

void CCumul::beginCumul(int markerX, int markerY, bool markerSet) {
    const StarLock lock = lockStar(documentImage, StarMarker{markerX, markerY, markerSet},
                                   LockConstants{zoneSize, margin, false});
    threshold = lock.threshold;
    zone = lock.zone;
    refX = lock.refX;
    refY = lock.refY;
    curX = refX;
    curY = refY;
}

bool CCumul::sameSize() const {
    return accumulator.pixels && documentImage.pixels && accumulator.width == documentImage.width &&
           accumulator.height == documentImage.height;
}

bool CCumul::storeSum() {
    if (!sameSize())
        return false;
    documentImage.copyPixels(accumulator);
    documentImage.invalidateStats();
    return true;
}

CCumul::Step CCumul::addImage() {
    if (!sameSize())
        return Step::SizeMismatch;
    float x = 0.0f;
    float y = 0.0f;
    measureCentroid(documentImage, static_cast<unsigned short>(threshold), zone, x, y);
    const float driftX = x - refX;
    const float driftY = y - refY;
    // Without a centroid the shift is unknown: adding the image anywhere would
    // smear the sum, so it is left out and the document shows the sum so far.
    if (std::isnan(driftX) || std::isnan(driftY)) {
        storeSum();
        return Step::NotAdded;
    }
    curX = x;
    curY = y;
    addShifted(accumulator, documentImage, truncToInt(driftX), truncToInt(driftY));
    storeSum();
    const float h = static_cast<float>(zoneHalfSize(zoneSize));
    zone = GuideZone{truncToInt(curX - h), truncToInt(curX + h), truncToInt(curY - h),
                     truncToInt(curY + h)};
    return Step::Added;
}

std::optional<GuideZone> CCumul::referenceFrame() const {
    return frameAround(refX, refY, zoneHalfSize(zoneSize));
}

std::optional<GuideZone> CCumul::currentFrame() const {
    return frameAround(curX, curY, zoneSize / 5);
}
