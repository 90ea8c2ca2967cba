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

// The display bitmap is 1 to 4 pixels wider than the image and a multiple of 4
// wide, so 8-bit and 24-bit rows need no padding. The classic rule masks the
// width with 0x7FFC, which for images 32768 pixels wide or more gives a bitmap
// narrower than the image and makes the mapping write past it; clearing only
// the two low bits gives the same width below 32768 and stays safe above.
inline int displayBitmapWidth(int imageWidth) {
    return (imageWidth & ~3) + 4;
}

// Bytes in one bitmap row (the stride the mapping functions use).
inline std::ptrdiff_t displayBitmapRowBytes(DisplayMode mode, int imageWidth) {
    return std::ptrdiff_t(displayBitmapWidth(imageWidth)) * (bitsPerPixel(mode) / 8);
}
