#pragma once

// Reference versions of the display arithmetic written the plain way, one
// pixel at a time with a division each: the fast mapping is checked and
// timed against these.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace literal {

inline std::uint8_t greyLevel(int v, int lo, int hi) {
    if (v <= lo)
        return 0;
    if (v >= hi)
        return 255;
    return std::uint8_t(((v - lo) * 255) / (hi - lo));
}

inline std::uint8_t mapLevel(int s, int lo, int hi) {
    s %= 65536;
    if (lo == hi)
        hi = lo + 1;
    if (s < lo)
        return 0;
    if (s > hi)
        return 255;
    return std::uint8_t(((s - lo) * 255) / (hi - lo));
}

inline void mapGrey(const unsigned short* px, int w, int h, int bitmapWidth, std::uint8_t* bits,
                    int lo, int hi) {
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            bits[std::ptrdiff_t(h - 1 - y) * bitmapWidth + x] =
                greyLevel(px[std::ptrdiff_t(y) * w + x], lo, hi);
}

// Neighbours outside the buffer read the centre pixel.
inline void demosaicColour(const unsigned short* px, int w, int h, int bitmapWidth,
                           std::uint8_t* bits, int lo, int hi) {
    const std::ptrdiff_t n = std::ptrdiff_t(w) * h;
    auto convert = [&](int r, int c) {
        const std::ptrdiff_t i = std::ptrdiff_t(r) * w + c;
        const int p = px[i];
        auto at = [&](std::ptrdiff_t k) { return k < 0 || k >= n ? p : int(px[k]); };
        const int up = at(i - w), down = at(i + w), left = at(i - 1), right = at(i + 1);
        const int cross4 = (up + down + left + right) / 4;
        const int diag4 = (at(i - w - 1) + at(i - w + 1) + at(i + w - 1) + at(i + w + 1)) / 4;
        const int horiz2 = (left + right) / 2;
        const int vert2 = (up + down) / 2;
        int x1, x2, x3;
        if (r % 2 == 1 && c % 2 == 1) {
            x1 = vert2, x2 = p, x3 = horiz2;
        } else if (r % 2 == 1) {
            x1 = diag4, x2 = cross4, x3 = p;
        } else if (c % 2 == 1) {
            x1 = p, x2 = cross4, x3 = diag4;
        } else {
            x1 = horiz2, x2 = p, x3 = vert2;
        }
        // Display row r - 1 from the top of a bottom-up bitmap.
        const std::ptrdiff_t memoryRow = std::ptrdiff_t(h - 1) - (r - 1);
        std::uint8_t* out = bits + memoryRow * 3 * bitmapWidth + 3 * c;
        out[0] = mapLevel(x1 + x3, lo, hi);
        out[1] = mapLevel(x1 + x2, lo, hi);
        out[2] = mapLevel(x2 + x3, lo, hi);
    };
    auto convertRow = [&](int r) {
        for (int c = 1; c <= 2 * (w / 2) - 1; c += 2)
            convert(r, c);
        for (int c = 0; c <= 2 * ((w - 1) / 2) - 2; c += 2)
            convert(r, c);
    };
    for (int r = 1; r < h; r += 2)
        convertRow(r);
    for (int r = 2; r < h; r += 2)
        convertRow(r);
}

struct Stats {
    int minimum = 65535;
    int maximum = 0;
    int mean = 0;
    float histogram[256] = {};
    std::uint32_t samples[4096] = {};
};

inline void computeStats(const unsigned short* px, int w, int h, Stats& s) {
    s = Stats{};
    double sum = 0;
    for (int y = 16; y < h - 16; ++y)
        for (int x = 16; x < w - 16; ++x) {
            const int v = px[std::ptrdiff_t(y) * w + x];
            if (v < s.minimum)
                s.minimum = v;
            if (v > s.maximum)
                s.maximum = v;
            sum += v;
            s.histogram[v / 256] += 1;
            // One pixel in 64, from column 16 + (y / 2) % 64 on.
            if ((x - 16) % 64 == (y / 2) % 64)
                s.samples[v / 16] += 1;
        }
    const double area = double(w - 32) * (h - 32);
    s.mean = area > 0 ? int(sum / area) : 0;
    float fullest = 0;
    for (float b : s.histogram)
        if (b > fullest)
            fullest = b;
    if (fullest != 0)
        for (float& b : s.histogram)
            b /= fullest;
}

} // namespace literal
