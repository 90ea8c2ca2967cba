#include "LevelMapper.h"

#include "ImageBuffer.h"

#include <algorithm>
#include <cstddef>

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
    std::fill(table_.begin(), table_.begin() + rampBegin, kBlack);
    std::fill(table_.begin() + rampEnd, table_.end(), kWhite);
    if (rampBegin == rampEnd)
        return;
    // (v - lo) * 255 / (hi - lo) stepped by 255 / (hi - lo) without a
    // division per entry: quotient and remainder carried from one v to the next.
    const long long span = hi - lo;
    long long numerator = (rampBegin - lo) * 255;
    int quotient = int(numerator / span);
    long long remainder = numerator % span;
    for (int v = rampBegin; v < rampEnd; ++v) {
        table_[v] = static_cast<std::uint8_t>(quotient);
        remainder += 255;
        while (remainder >= span) {
            remainder -= span;
            ++quotient;
        }
    }
}

void LevelMapper::mapGrey(const unsigned short* pixels, int width, int height, int bitmapWidth,
                          std::uint8_t* bits) const {
    const std::uint8_t* table = table_.data();
    for (int y = 0; y < height; ++y) {
        const unsigned short* src = pixels + std::ptrdiff_t(y) * width;
        std::uint8_t* dst = bits + std::ptrdiff_t(height - 1 - y) * bitmapWidth;
        for (int x = 0; x < width; ++x)
            dst[x] = table[src[x]];
    }
}

namespace {

// One row of the colour conversion. Checked rows may address neighbours
// outside the buffer; those read the centre pixel instead.
template <bool Checked, bool OddRow> struct MosaicRow {
    const unsigned short* pixels;
    std::ptrdiff_t count; // pixels in the buffer
    std::ptrdiff_t width;
    const std::uint8_t* table;

    unsigned at(std::ptrdiff_t i, unsigned centre) const {
        if constexpr (Checked) {
            if (i < 0 || i >= count)
                return centre;
        }
        return pixels[i];
    }

    template <bool OddColumn> void convert(std::ptrdiff_t i, std::uint8_t* out) const {
        const unsigned p = pixels[i];
        const unsigned up = at(i - width, p);
        const unsigned down = at(i + width, p);
        const unsigned left = at(i - 1, p);
        const unsigned right = at(i + 1, p);
        unsigned x1, x2, x3;
        if constexpr (OddRow == OddColumn) {
            // Both odd: vertical pair, centre, horizontal pair.
            // Both even: horizontal pair, centre, vertical pair.
            const unsigned vert2 = (up + down) / 2;
            const unsigned horiz2 = (left + right) / 2;
            x1 = OddRow ? vert2 : horiz2;
            x2 = p;
            x3 = OddRow ? horiz2 : vert2;
        } else {
            const unsigned cross4 = (up + down + left + right) / 4;
            const unsigned diag4 = (at(i - width - 1, p) + at(i - width + 1, p) +
                                    at(i + width - 1, p) + at(i + width + 1, p)) /
                                   4;
            x1 = OddRow ? diag4 : p;
            x2 = cross4;
            x3 = OddRow ? p : diag4;
        }
        out[0] = table[(x1 + x3) & 0xFFFFu]; // blue
        out[1] = table[(x1 + x2) & 0xFFFFu]; // green
        out[2] = table[(x2 + x3) & 0xFFFFu]; // red
    }

    // Converts the odd columns below w and the even columns up to
    // 2 * floor((w - 1) / 2) - 2; the last even column is left as it was.
    void run(std::ptrdiff_t rowStart, std::uint8_t* out) const {
        const std::ptrdiff_t lastEven = 2 * ((width - 1) / 2) - 2;
        const std::ptrdiff_t lastOdd = 2 * (width / 2) - 1;
        std::ptrdiff_t c = 0;
        for (; c <= lastEven; c += 2) {
            convert<false>(rowStart + c, out + 3 * c);
            convert<true>(rowStart + c + 1, out + 3 * c + 3);
        }
        for (c += 1; c <= lastOdd; c += 2)
            convert<true>(rowStart + c, out + 3 * c);
    }
};

template <bool OddRow>
void convertRow(const unsigned short* pixels, int width, int height, int r,
                const std::uint8_t* table, std::uint8_t* out) {
    const std::ptrdiff_t count = std::ptrdiff_t(width) * height;
    const std::ptrdiff_t rowStart = std::ptrdiff_t(r) * width;
    // Rows 2..h-3 have every neighbour inside the buffer.
    if (r >= 2 && r <= height - 3)
        MosaicRow<false, OddRow>{pixels, count, width, table}.run(rowStart, out);
    else
        MosaicRow<true, OddRow>{pixels, count, width, table}.run(rowStart, out);
}

} // namespace

void LevelMapper::demosaicColour(const unsigned short* pixels, int width, int height,
                                 int bitmapWidth, std::uint8_t* bits) const {
    const std::ptrdiff_t stride = 3 * std::ptrdiff_t(bitmapWidth);
    // Image row r lands on display row r - 1 from the top, i.e. memory row h - r.
    for (int r = 1; r < height; r += 2)
        convertRow<true>(pixels, width, height, r, table_.data(), bits + (height - r) * stride);
    for (int r = 2; r < height; r += 2)
        convertRow<false>(pixels, width, height, r, table_.data(), bits + (height - r) * stride);
}

void LevelMapper::render(DisplayMode mode, const ImageBuffer& image, std::uint8_t* bits) const {
    if (!bits || image.pixelCount() == 0)
        return;
    const int bitmapWidth = displayBitmapWidth(image.width);
    if (mode == DisplayMode::Colour)
        demosaicColour(image.pixels, image.width, image.height, bitmapWidth, bits);
    else
        mapGrey(image.pixels, image.width, image.height, bitmapWidth, bits);
}
