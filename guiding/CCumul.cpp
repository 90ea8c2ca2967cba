#include "CCumul.h"

#include "StarMeasure.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <new>

namespace {

std::optional<GuideZone> frameAround(float x, float y, int half) {
    if (std::isnan(x) || std::isnan(y))
        return std::nullopt;
    const float h = static_cast<float>(half);
    return GuideZone{truncToInt(x - h), truncToInt(x + h), truncToInt(y - h), truncToInt(y + h)};
}

} // namespace

bool StackSum::start(const ImageBuffer& first) {
    sums.reset();
    counts.reset();
    width = first.width;
    height = first.height;
    if (!first.pixels || width < 0 || height < 0)
        return false;
    const std::size_t n = std::size_t(std::int64_t(width) * height);
    std::unique_ptr<std::uint32_t[]> s(new (std::nothrow) std::uint32_t[n]);
    std::unique_ptr<std::uint16_t[]> c(new (std::nothrow) std::uint16_t[n]);
    if (!s || !c)
        return false;
    std::copy_n(first.pixels, n, s.get());
    std::fill_n(c.get(), n, std::uint16_t(1));
    sums = std::move(s);
    counts = std::move(c);
    return true;
}

bool StackSum::sameSize(const ImageBuffer& image) const {
    return holdsImages() && image.pixels && image.width == width && image.height == height;
}

void StackSum::writeMean(ImageBuffer& out) const {
    if (!sameSize(out))
        return;
    const std::size_t n = std::size_t(std::int64_t(width) * height);
    for (std::size_t i = 0; i < n; ++i) {
        // Every pixel has at least the first image. At most 65535 images of
        // 65535 plus half a count stays within 32 bits, and the mean of 16-bit
        // values within 16.
        const std::uint32_t c = counts[i];
        out.pixels[i] = static_cast<unsigned short>((sums[i] + c / 2) / c);
    }
}

bool addShifted(StackSum& stack, const ImageBuffer& src, int dx, int dy) {
    if (!stack.sameSize(src))
        return false;
    const std::int64_t w = stack.width;
    const std::int64_t h = stack.height;
    const std::int64_t x0 = std::max<std::int64_t>(0, -std::int64_t(dx));
    const std::int64_t x1 = w - std::max<std::int64_t>(0, dx) - 1;
    const std::int64_t y0 = std::max<std::int64_t>(0, -std::int64_t(dy));
    const std::int64_t y1 = h - std::max<std::int64_t>(0, dy) - 1;
    if (x0 > x1 || y0 > y1)
        return true;
    for (std::int64_t y = y0; y <= y1; ++y) {
        std::uint32_t* sum = stack.sums.get() + y * w;
        std::uint16_t* count = stack.counts.get() + y * w;
        const unsigned short* s = src.pixels + (y + dy) * w + dx;
        for (std::int64_t x = x0; x <= x1; ++x) {
            const bool room = count[x] < StackSum::kMaxImages;
            sum[x] += room ? s[x] : 0u;
            count[x] = static_cast<std::uint16_t>(count[x] + (room ? 1 : 0));
        }
    }
    return true;
}

CCumul::CCumul(ImageBuffer& document) : documentImage(document), margin(document.width / 4) {
    if (stack.start(document))
        imageCount = 1;
}

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

bool CCumul::storeMean() {
    if (!stack.sameSize(documentImage))
        return false;
    stack.writeMean(documentImage);
    documentImage.invalidateStats();
    return true;
}

CCumul::Step CCumul::addImage() {
    if (!stack.sameSize(documentImage))
        return Step::SizeMismatch;
    float x = 0.0f;
    float y = 0.0f;
    measureCentroid(documentImage, static_cast<unsigned short>(threshold), zone, x, y);
    const float driftX = x - refX;
    const float driftY = y - refY;
    // Without a centroid the shift is unknown: adding the image anywhere would
    // smear the stack, so it is left out and the document shows the stack so far.
    if (std::isnan(driftX) || std::isnan(driftY)) {
        storeMean();
        return Step::NotAdded;
    }
    curX = x;
    curY = y;
    addShifted(stack, documentImage, truncToInt(driftX), truncToInt(driftY));
    ++imageCount;
    storeMean();
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
