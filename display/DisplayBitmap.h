#pragma once

#include <cstddef>

// How the view turns the 16-bit image into its display bitmap. The value is
// what the brightness/contrast panel stores.
enum class DisplayMode : int {
    Normal = 0,      // 8 bits, grey table
    Negative = 1,    // 8 bits, inverted grey table
    FalseColour = 2, // 8 bits, false-colour table
    Colour = 3,      // 24 bits (blue, green, red), colour-mosaic reconstruction
};

inline int bitsPerPixel(DisplayMode mode) {
    return mode == DisplayMode::Colour ? 24 : 8;
}

// The display bitmap is exactly as wide as the image; in memory its rows are
// padded to a multiple of 4 pixels, so that 8-bit rows and 24-bit rows both
// start on 4-byte boundaries and a 24-bit row is still a whole number of
// pixels (the mapping steps through rows in pixels of the mode). The padding
// is never shown nor written to a file.
inline int displayBitmapRowPixels(int imageWidth) {
    // Unsigned, so that a width too large for any bitmap gives a value below
    // it (which the view refuses) rather than an overflow.
    return imageWidth <= 0 ? 0 : int(((unsigned(imageWidth) - 1u) | 3u) + 1u);
}

// Bytes in one bitmap row (the stride the mapping functions use).
inline std::ptrdiff_t displayBitmapRowBytes(DisplayMode mode, int imageWidth) {
    return std::ptrdiff_t(displayBitmapRowPixels(imageWidth)) * (bitsPerPixel(mode) / 8);
}
