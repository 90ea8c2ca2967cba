#pragma once

#include "DisplayBitmap.h"
#include "GreyRamp.h"
#include "KernelCode.h"

#include <array>
#include <cstdint>

class ImageBuffer;

// Maps 16-bit pixels into the view's bottom-up display bitmap through a level
// window. The window's 65,536-entry table is rebuilt only when the window
// changes (a few microseconds: one run of equal bytes per level); the caller
// keeps the mapper (it is 64 KiB) for as long as the view. The grey mapping
// and the colour conversion run the ramp's exact fixed-point arithmetic
// (GreyRamp): in plain loops the compiler vectorizes, or in the hand-written
// AVX2 loops where the CPU has AVX2 (GreyRamp, MosaicVector); windows the
// ramp cannot take, and the conversion's edges, come from the table. All give
// the same bytes. Neither allocates.
//
// The same table serves the grey modes and the colour conversion: the grey
// rule (v <= lo -> 0, v >= hi -> 255, else (v - lo) * 255 / (hi - lo)) and the
// colour rule (s < lo -> 0, s > hi -> 255, same ramp, hi taken as lo + 1 when
// they are equal) give the same byte for every value, because the ramp itself
// is 0 at lo and 255 at hi, and at lo = hi both split at "value > lo".
class LevelMapper {
public:
    LevelMapper();

    // Sets the window (lo <= hi, as levelWindow gives) and rebuilds the table
    // when it differs from the current one.
    void setWindow(int lo, int hi);
    int lo() const { return lo_; }
    int hi() const { return hi_; }

    // The display level of a pixel value or of a sum of two values, taken
    // modulo 65536.
    std::uint8_t level(unsigned value) const { return table_[value & 0xFFFFu]; }

    // Grey modes: 8-bit levels, image row y into bitmap memory row h - 1 - y,
    // rows bitmapWidth bytes apart. Bytes past the image width are not written.
    void mapGrey(const unsigned short* pixels, int width, int height, int bitmapWidth,
                 std::uint8_t* bits, KernelCode code = KernelCode::Fastest) const;

    // Colour mode: reconstructs blue, green, red from a colour-mosaic image
    // into a 24-bit bitmap with rows 3 * bitmapWidth bytes apart. Image row r
    // (1..h-1) goes to display row r - 1 from the top; row 0, the bottom
    // display row and the columns outside the converted sets keep whatever
    // the bitmap held. Neighbours are taken linearly in the buffer; one that
    // falls outside it (the upper-left of row 1's first pixel, the pixels
    // below the last rows) is replaced by the centre pixel, so a uniform image
    // stays uniform up to its edges.
    void demosaicColour(const unsigned short* pixels, int width, int height, int bitmapWidth,
                        std::uint8_t* bits, KernelCode code = KernelCode::Fastest) const;

    // The view's recomputation: the mode's mapping of the whole image into its
    // display bitmap, rows displayBitmapRowPixels(image.width) pixels apart.
    // Does nothing without pixels or bits.
    void render(DisplayMode mode, const ImageBuffer& image, std::uint8_t* bits) const;

private:
    void rebuild();

    std::array<std::uint8_t, 65536> table_;
    GreyRamp ramp_;
    int lo_ = 0;
    int hi_ = 0;
};
