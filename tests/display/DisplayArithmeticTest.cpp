#include "ColourTables.h"
#include "DisplayBitmap.h"
#include "HistogramPlot.h"
#include "LevelWindow.h"

#include <gtest/gtest.h>

#include <climits>

TEST(LevelWindow, HalfWidthFollowsTheContrastCurve) {
    const struct {
        int contrast;
        int half;
    } cases[] = {{1, 32567},  {2, 32366}, {16, 29557}, {64, 20234}, {128, 9606},
                 {192, 2501}, {240, 160}, {255, 0},    {256, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(levelHalfWidth(c.contrast), c.half) << "C = " << c.contrast;
}

TEST(LevelWindow, CentreMovesBy256PerBrightnessStep) {
    const struct {
        int brightness, contrast, lo, hi;
    } cases[] = {
        {128, 128, 23162, 42374}, // initial slider positions
        {0, 128, -9606, 9606},    // lo below the pixel scale
        {256, 1, 32969, 98103},   // hi above it
        {0, 1, -32567, 32567},    // widest window
        {100, 256, 25600, 25600}, // zero width: a threshold
        {256, 256, 65536, 65536},
    };
    for (const auto& c : cases) {
        int lo = 0, hi = 0;
        levelWindow(c.brightness, c.contrast, lo, hi);
        EXPECT_EQ(lo, c.lo) << "B = " << c.brightness << ", C = " << c.contrast;
        EXPECT_EQ(hi, c.hi) << "B = " << c.brightness << ", C = " << c.contrast;
    }
}

TEST(ColourTables, GreyAndNegativeAreRamps) {
    const ColourTable& normal = *colourTable(DisplayMode::Normal);
    const ColourTable& negative = *colourTable(DisplayMode::Negative);
    for (int i = 0; i < 256; ++i) {
        const auto g = std::uint8_t(i), n = std::uint8_t(255 - i);
        EXPECT_EQ(normal[i], (PaletteEntry{g, g, g, 0})) << i;
        EXPECT_EQ(negative[i], (PaletteEntry{n, n, n, 0})) << i;
    }
    EXPECT_EQ(colourTable(DisplayMode::Colour), nullptr);
}

TEST(ColourTables, FalseColourTellingRows) {
    const ColourTable& t = *colourTable(DisplayMode::FalseColour);
    const struct {
        int index;
        PaletteEntry entry; // blue, green, red
    } rows[] = {
        {0, {0, 0, 248, 0}},       {62, {244, 0, 0, 0}},    {63, {248, 0, 0, 0}},
        {64, {252, 0, 0, 0}},      {96, {255, 128, 0, 0}},  {128, {255, 255, 4, 0}},
        {160, {128, 255, 132, 0}}, {191, {4, 255, 255, 0}}, {192, {0, 252, 255, 0}},
        {224, {0, 124, 255, 0}},   {255, {0, 0, 252, 0}},
    };
    for (const auto& r : rows)
        EXPECT_EQ(t[r.index], r.entry) << "index " << r.index;
}

TEST(ColourTables, ArgbFormPutsRedHigh) {
    EXPECT_EQ(paletteArgb(PaletteEntry{1, 2, 3, 0}), 0xFF030201u);
}

TEST(DisplayBitmap, RowsInMemoryAreTheImageWidthRoundedUpToFourPixels) {
    const struct {
        int image, row;
    } cases[] = {{1, 4},       {3, 4},         {4, 4},         {5, 8},         {320, 320},
                 {321, 324},   {768, 768},     {770, 772},     {771, 772},     {772, 772},
                 {1280, 1280}, {32767, 32768}, {32768, 32768}, {40001, 40004}, {0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(displayBitmapRowPixels(c.image), c.row) << c.image;
        EXPECT_EQ(displayBitmapRowBytes(DisplayMode::Negative, c.image), c.row);
        EXPECT_EQ(displayBitmapRowBytes(DisplayMode::Colour, c.image), 3 * c.row);
    }
    // Too wide for any row: the view sees a row shorter than the image.
    EXPECT_LT(displayBitmapRowPixels(INT_MAX), INT_MAX);
    EXPECT_EQ(bitsPerPixel(DisplayMode::FalseColour), 8);
    EXPECT_EQ(bitsPerPixel(DisplayMode::Colour), 24);
}

TEST(HistogramPlot, ColumnsSpreadTheBinsOverTheFrame) {
    const struct {
        int x, width, bin;
    } cases[] = {{0, 190, 0},     {95, 190, 127}, {189, 190, 253}, {190, 190, 255},
                 {255, 255, 255}, {1, 255, 1},    {128, 256, 127}, {0, 0, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(histogramColumnBin(c.x, c.width), c.bin) << c.x << " of " << c.width;
}

TEST(HistogramPlot, FullestBinReachesTheTopEmptyBinDrawsNothing) {
    const struct {
        float bin;
        int height, top;
    } cases[] = {{1.0f, 40, 0}, {0.0f, 40, 40}, {0.5f, 40, 20}, {0.25f, 40, 30}, {0.99f, 80, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(histogramBarTop(c.bin, c.height), c.top) << c.bin << " in " << c.height;
}
