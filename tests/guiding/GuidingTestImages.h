#pragma once

#include "ImageBuffer.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

// Small image builders for the guiding tests.

inline void makeImage(ImageBuffer& image, int width, int height, unsigned short fill = 0) {
    image.resize(width, height);
    std::fill_n(image.pixels, std::size_t(width) * std::size_t(height), fill);
}

inline unsigned short& px(ImageBuffer& image, int x, int y) {
    return image.pixels[std::size_t(y) * std::size_t(image.width) + std::size_t(x)];
}
inline unsigned short px(const ImageBuffer& image, int x, int y) {
    return image.pixels[std::size_t(y) * std::size_t(image.width) + std::size_t(x)];
}

inline std::vector<unsigned short> pixelsOf(const ImageBuffer& image) {
    return std::vector<unsigned short>(image.pixels,
                                       image.pixels + std::size_t(image.width) * image.height);
}

inline void fillRandom(ImageBuffer& image, std::uint32_t seed, unsigned short lo,
                       unsigned short hi) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> dist(lo, hi);
    for (std::size_t i = 0; i < std::size_t(image.width) * image.height; ++i)
        image.pixels[i] = static_cast<unsigned short>(dist(gen));
}

// Adds a Gaussian star centred at (cx, cy), integrated over each pixel's area
// (pixel x covering [x - 0.5, x + 0.5]), so that the light sits where a real
// sensor would put it. amplitude is the total light of the star.
inline void addGaussianStar(ImageBuffer& image, double cx, double cy, double fwhm,
                            double amplitude) {
    const double sigma = fwhm / (2.0 * std::sqrt(2.0 * std::log(2.0)));
    const double k = 1.0 / (sigma * std::sqrt(2.0));
    auto share = [k](double lo, double hi, double c) {
        return 0.5 * (std::erf((hi - c) * k) - std::erf((lo - c) * k));
    };
    const int r = static_cast<int>(std::ceil(6 * sigma));
    for (int y = int(cy) - r; y <= int(cy) + r; ++y) {
        if (y < 0 || y >= image.height)
            continue;
        const double fy = share(y - 0.5, y + 0.5, cy);
        for (int x = int(cx) - r; x <= int(cx) + r; ++x) {
            if (x < 0 || x >= image.width)
                continue;
            const double v = px(image, x, y) + amplitude * fy * share(x - 0.5, x + 0.5, cx);
            px(image, x, y) = static_cast<unsigned short>(std::lround(std::min(v, 65535.0)));
        }
    }
}
