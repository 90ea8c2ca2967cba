#include "StarMeasure.h"

#include "GuidingTestImages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

// Straightforward in-place smoothing of the rectangle [x0, x1] x [y0, y1] (already
// clipped, both ends included), nine reads per pixel, as a reference for the
// optimised pass.
void naiveSmooth(ImageBuffer& img, int x0, int x1, int y0, int y1) {
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            unsigned sum = 0;
            for (int j = -1; j <= 1; ++j)
                for (int i = -1; i <= 1; ++i)
                    sum += px(img, x + i, y + j);
            px(img, x, y) = static_cast<unsigned short>(sum / 9);
        }
}

} // namespace

TEST(SmoothBox3, ConstantImageIsUnchanged) {
    for (unsigned short v : {0, 1, 1234, 65535}) {
        ImageBuffer img;
        makeImage(img, 9, 7, v);
        smoothBox3(img, 0, 9, 0, 7);
        EXPECT_EQ(pixelsOf(img), std::vector<unsigned short>(63, v)) << v;
    }
}

TEST(SmoothBox3, ReadsAlreadySmoothedLeftAndUpperNeighbours) {
    ImageBuffer img;
    makeImage(img, 11, 11);
    px(img, 5, 5) = 900;
    smoothBox3(img, 0, 11, 0, 11);
    EXPECT_EQ(px(img, 4, 4), 100);
    // (900 + the left neighbour's 100) / 9: the left neighbour is read smoothed.
    EXPECT_EQ(px(img, 5, 4), 111);
}

TEST(SmoothBox3, ClipsEachAxisAndExcludesFarEnds) {
    constexpr int W = 12, H = 9;
    struct Case {
        int left, right, top, bottom;
        int x0, x1, y0, y1; // pixels expected to change, both ends included; x0 > x1: none
    };
    const Case cases[] = {
        {0, W, 0, H, 1, W - 3, 1, H - 3},         // whole image: from 1, stop before W - 2
        {-50, 500, -50, 500, 1, W - 3, 1, H - 3}, // far outside on every side
        {-3, 5, 2, 100, 1, 4, 2, H - 3},          // left clipped only on x, bottom only on y
        {3, 8, -7, 4, 3, 7, 1, 3},                // top clipped only on y
        {2, 9, 3, 6, 2, 8, 3, 5},                 // inside: right and bottom excluded
        {4, 4, 1, 7, 1, 0, 1, 0},                 // left == right: nothing
        {2, 8, 5, 5, 1, 0, 1, 0},                 // top == bottom: nothing
        {8, 2, 1, 7, 1, 0, 1, 0},                 // reversed: nothing
    };
    for (const Case& c : cases) {
        ImageBuffer img, expected;
        makeImage(img, W, H);
        fillRandom(img, 7, 0, 65535);
        makeImage(expected, W, H);
        expected.copyPixels(img);
        if (c.x0 <= c.x1)
            naiveSmooth(expected, c.x0, c.x1, c.y0, c.y1);
        smoothBox3(img, c.left, c.right, c.top, c.bottom);
        EXPECT_EQ(pixelsOf(img), pixelsOf(expected))
            << c.left << ' ' << c.right << ' ' << c.top << ' ' << c.bottom;
    }
}

TEST(SmoothBox3, MatchesNineReadPassOnRandomRectangles) {
    std::mt19937 gen(11);
    std::uniform_int_distribution<int> coord(-4, 40);
    for (int k = 0; k < 200; ++k) {
        ImageBuffer img, expected;
        makeImage(img, 37, 29);
        fillRandom(img, 100 + k, 0, 65535);
        makeImage(expected, 37, 29);
        expected.copyPixels(img);
        const int l = coord(gen), r = coord(gen), t = coord(gen), b = coord(gen);
        const int x0 = std::max(l, 1), x1 = std::min(r, 35) - 1;
        const int y0 = std::max(t, 1), y1 = std::min(b, 27) - 1;
        if (x0 <= x1 && y0 <= y1)
            naiveSmooth(expected, x0, x1, y0, y1);
        smoothBox3(img, l, r, t, b);
        ASSERT_EQ(pixelsOf(img), pixelsOf(expected)) << l << ' ' << r << ' ' << t << ' ' << b;
    }
}

TEST(SmoothBox3, TinyOrEmptyImagesAreLeftAlone) {
    for (auto [w, h] : {std::pair{2, 10}, std::pair{10, 2}, std::pair{3, 3}}) {
        ImageBuffer img;
        makeImage(img, w, h);
        fillRandom(img, 3, 0, 65535);
        const auto before = pixelsOf(img);
        // On 3 x 3 the only inner pixel is also a far end.
        smoothBox3(img, 0, w, 0, h);
        EXPECT_EQ(pixelsOf(img), before) << w << " x " << h;
    }
    ImageBuffer none;
    smoothBox3(none, 0, 10, 0, 10);
    EXPECT_EQ(none.pixels, nullptr);
}

TEST(FindPeak, ScanOrderTiesAndUntouchedOutputs) {
    struct Pixel {
        int x, y;
        unsigned short v;
    };
    struct Case {
        const char* what;
        std::vector<Pixel> pixels;
        int left, right, top, bottom;
        unsigned short peak;
        int col, row; // -7: output left untouched
    };
    const Case cases[] = {
        {"tie in one row keeps the left", {{9, 4, 500}, {3, 4, 500}}, 0, 19, 0, 14, 500, 3, 4},
        {"tie across rows keeps the upper", {{2, 8, 500}, {15, 3, 500}}, 0, 19, 0, 14, 500, 15, 3},
        {"strictly greater wins", {{2, 3, 499}, {15, 9, 500}}, 0, 19, 0, 14, 500, 15, 9},
        {"full 16-bit range", {{2, 3, 32767}, {5, 5, 65535}}, 0, 19, 0, 14, 65535, 5, 5},
        {"both ends included", {{17, 11, 40}}, 2, 17, 1, 11, 40, 17, 11},
        {"outside the rectangle ignored", {{18, 11, 900}, {4, 4, 10}}, 2, 17, 1, 11, 10, 4, 4},
        {"clipped to the image", {{19, 14, 7}}, -5, 100, -5, 100, 7, 19, 14},
        {"all zero: outputs untouched", {}, 0, 19, 0, 14, 0, -7, -7},
        {"empty rectangle", {{5, 5, 100}}, 30, 40, 0, 14, 0, -7, -7},
        {"reversed rectangle", {{5, 5, 100}}, 8, 2, 0, 14, 0, -7, -7},
    };
    for (const Case& c : cases) {
        ImageBuffer img;
        makeImage(img, 20, 15);
        for (const Pixel& p : c.pixels)
            px(img, p.x, p.y) = p.v;
        int col = -7, row = -7;
        EXPECT_EQ(findPeak(img, c.left, c.right, c.top, c.bottom, col, row), c.peak) << c.what;
        EXPECT_EQ(col, c.col) << c.what;
        EXPECT_EQ(row, c.row) << c.what;
    }
}

TEST(MeasureCentroid, WeightsThresholdAndLevel) {
    struct Pixel {
        int x, y;
        unsigned short v;
    };
    struct Case {
        const char* what;
        std::vector<Pixel> pixels;
        unsigned short threshold;
        GuideZone zone;
        float x, y;
        unsigned short level;
    };
    const Case cases[] = {
        {"one pixel above threshold",
         {{12, 7, 800}, {13, 7, 699}, {11, 8, 650}},
         700,
         {0, 39, 0, 29},
         12.0f,
         7.0f,
         800},
        {"value equal to threshold counts",
         {{10, 5, 700}, {14, 5, 700}},
         700,
         {0, 39, 0, 29},
         12.0f,
         5.0f,
         0},
        // Raw values weigh, the threshold is not subtracted: (100*10 + 300*14) / 400.
        // The level is read at the centroid even from a pixel below threshold.
        {"raw weights",
         {{10, 6, 100}, {14, 6, 300}, {13, 6, 50}},
         100,
         {0, 39, 0, 29},
         13.0f,
         6.0f,
         50},
        {"level at truncated position",
         {{20, 10, 1000}, {21, 10, 3000}, {20, 11, 3000}, {21, 11, 1000}},
         1,
         {0, 39, 0, 29},
         20.5f,
         10.5f,
         1000},
        // Bottom clipped to the last row; the zone's own columns still bound it.
        {"zone past the bottom edge",
         {{10, 29, 400}, {10, 27, 200}, {16, 28, 5000}, {10, 24, 5000}},
         100,
         {5, 15, 25, 35},
         10.0f,
         (29 * 400 + 27 * 200) / 600.0f,
         0},
    };
    for (const Case& c : cases) {
        ImageBuffer img;
        makeImage(img, 40, 30);
        for (const Pixel& p : c.pixels)
            px(img, p.x, p.y) = p.v;
        float x = -1, y = -1;
        const unsigned short level = measureCentroid(img, c.threshold, c.zone, x, y);
        EXPECT_FLOAT_EQ(x, c.x) << c.what;
        EXPECT_FLOAT_EQ(y, c.y) << c.what;
        EXPECT_EQ(level, c.level) << c.what;
    }
}

TEST(MeasureCentroid, NoLightGivesNaNAndLevelZero) {
    ImageBuffer img;
    makeImage(img, 40, 30, 50);
    struct Case {
        unsigned short threshold;
        GuideZone zone;
    };
    for (const Case& c : {Case{51, {0, 39, 0, 29}}, Case{0, {50, 60, 0, 29}},
                          Case{0, {0, 39, -20, -1}}, Case{0, {10, 5, 0, 29}}}) {
        float x = 1, y = 1;
        EXPECT_EQ(measureCentroid(img, c.threshold, c.zone, x, y), 0);
        EXPECT_TRUE(std::isnan(x));
        EXPECT_TRUE(std::isnan(y));
    }
    // Threshold 0 on a dark field: every pixel counts but weighs nothing.
    makeImage(img, 40, 30, 0);
    float x = 1, y = 1;
    EXPECT_EQ(measureCentroid(img, 0, GuideZone{0, 39, 0, 29}, x, y), 0);
    EXPECT_TRUE(std::isnan(x));
}

TEST(MeasureCentroid, SymmetricStarIsExactlyOnItsPixel) {
    ImageBuffer img;
    makeImage(img, 200, 100, 10);
    const unsigned short ring[3] = {9000, 4000, 1500};
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            px(img, 100 + dx, 50 + dy) = ring[std::max(std::abs(dx), std::abs(dy))];
    float x = 0, y = 0;
    EXPECT_EQ(measureCentroid(img, 11, 90, 110, 40, 60, x, y), 9000);
    EXPECT_EQ(x, 100.0f);
    EXPECT_EQ(y, 50.0f);
}

TEST(MeasureCentroid, SubPixelPositionsOfAGaussianStar) {
    struct Case {
        double x, y;
    };
    for (Case c : {Case{100.3, 50.7}, Case{37.55, 80.2}, Case{64.05, 20.95}, Case{150.5, 90.45},
                   Case{12.82, 11.13}}) {
        ImageBuffer img;
        makeImage(img, 200, 120);
        addGaussianStar(img, c.x, c.y, 2.5, 150000.0);
        const int cx = static_cast<int>(std::lround(c.x));
        const int cy = static_cast<int>(std::lround(c.y));
        float x = 0, y = 0;
        measureCentroid(img, 1, zoneAround(cx, cy, 8), x, y);
        EXPECT_NEAR(x, c.x, 0.05) << c.x << ", " << c.y;
        EXPECT_NEAR(y, c.y, 0.05) << c.x << ", " << c.y;
    }
}

TEST(MeasureCentroid, ColumnsPast32767DoNotOverflow) {
    ImageBuffer img;
    makeImage(img, 40001, 2);
    px(img, 40000, 1) = 65535;
    px(img, 39998, 1) = 65535;
    float x = 0, y = 0;
    EXPECT_EQ(measureCentroid(img, 1, 39990, 40010, 0, 1, x, y), 0);
    EXPECT_EQ(x, 39999.0f);
    EXPECT_EQ(y, 1.0f);
}

TEST(LockStar, ThresholdIsNinetyPercentOfPeakTruncated) {
    struct Case {
        unsigned short peak;
        int threshold;
    };
    for (Case c : {Case{10, 9}, Case{65535, 58981}, Case{1, 0}, Case{1000, 900}, Case{7, 6}}) {
        ImageBuffer img;
        makeImage(img, 64, 48);
        px(img, 30, 20) = c.peak;
        const StarLock lock = lockStar(img, StarMarker{30, 20, true}, accumulationLock(64));
        EXPECT_EQ(lock.peak, c.peak);
        EXPECT_EQ(lock.threshold, c.threshold) << c.peak;
        EXPECT_EQ(lock.refX, 30.0f);
        EXPECT_EQ(lock.level, c.peak);
    }
}

TEST(LockStar, SearchRectangleAndSmoothingPerRunKind) {
    struct Case {
        const char* what;
        int width, height;
        StarMarker marker;
        LockConstants constants;
        GuideZone search;
        bool smoothed;
    };
    const Case cases[] = {
        {"accumulation without marker",
         768,
         512,
         {},
         accumulationLock(768),
         {192, 576, 192, 320},
         false},
        {"accumulation with marker",
         768,
         512,
         {300, 200, true},
         accumulationLock(768),
         {284, 316, 184, 216},
         false},
        {"guiding without marker", 200, 150, {}, guidingLock(10), {32, 168, 32, 118}, true},
        {"guiding with marker", 200, 150, {60, 70, true}, guidingLock(11), {55, 65, 65, 75}, false},
    };
    for (const Case& c : cases) {
        ImageBuffer img;
        makeImage(img, c.width, c.height);
        fillRandom(img, 5, 0, 200);
        // Bright decoys just outside the search rectangle on each side, and a
        // dimmer star on its inclusive corner.
        px(img, c.search.left - 1, c.search.top + 2) = 60000;
        px(img, c.search.right + 1, c.search.top + 2) = 60000;
        px(img, c.search.left + 2, c.search.top - 1) = 60000;
        px(img, c.search.left + 2, c.search.bottom + 1) = 60000;
        px(img, c.search.right, c.search.bottom) = 30000;
        ImageBuffer before(img);
        const StarLock lock = lockStar(img, c.marker, c.constants);
        EXPECT_EQ(lock.search, c.search) << c.what;
        EXPECT_EQ(lock.peakX, c.search.right) << c.what;
        EXPECT_EQ(lock.peakY, c.search.bottom) << c.what;
        EXPECT_EQ(pixelsOf(img) != pixelsOf(before), c.smoothed) << c.what;
        const int h = c.constants.zoneSize / 2;
        EXPECT_EQ(lock.zone, zoneAround(lock.peakX, lock.peakY, h)) << c.what;
    }
}

TEST(LockStar, ZoneSideIsTwiceTheTruncatedHalfPlusOne) {
    for (auto [capture, side] : {std::pair{10, 11}, std::pair{11, 11}, std::pair{0, 1},
                                 std::pair{1, 1}, std::pair{32, 33}}) {
        ImageBuffer img;
        makeImage(img, 100, 100);
        px(img, 50, 40) = 1000;
        const StarLock lock = lockStar(img, StarMarker{50, 40, true}, guidingLock(capture));
        EXPECT_EQ(lock.zone.right - lock.zone.left + 1, side) << capture;
        EXPECT_EQ(lock.zone.bottom - lock.zone.top + 1, side) << capture;
        EXPECT_EQ(lock.refX, 50.0f);
        EXPECT_EQ(lock.refY, 40.0f);
    }
}

TEST(LockStar, DarkFieldCentresZoneOnSearchRectangle) {
    struct Case {
        StarMarker marker;
        int px, py;
    };
    for (Case c : {Case{{}, 384, 256}, Case{{100, 70, true}, 100, 70}}) {
        ImageBuffer img;
        makeImage(img, 768, 512);
        const StarLock lock = lockStar(img, c.marker, accumulationLock(768));
        EXPECT_EQ(lock.peak, 0);
        EXPECT_EQ(lock.threshold, 0);
        EXPECT_EQ(lock.peakX, c.px);
        EXPECT_EQ(lock.peakY, c.py);
        EXPECT_EQ(lock.zone, zoneAround(c.px, c.py, 16));
        EXPECT_TRUE(std::isnan(lock.refX));
        EXPECT_EQ(lock.level, 0);
    }
}

TEST(LockStar, StarOnTheBottomEdgeKeepsItsColumns) {
    ImageBuffer img;
    makeImage(img, 80, 60);
    px(img, 40, 59) = 1000;
    px(img, 41, 59) = 950;
    px(img, 40, 58) = 920;
    px(img, 52, 58) = 990; // outside the zone's columns
    const StarLock lock = lockStar(img, StarMarker{40, 57, true}, guidingLock(10));
    EXPECT_EQ(lock.zone, (GuideZone{35, 45, 54, 64}));
    EXPECT_FLOAT_EQ(lock.refX, (40 * 1000 + 41 * 950 + 40 * 920) / 2870.0f);
    EXPECT_FLOAT_EQ(lock.refY, (59 * 1950 + 58 * 920) / 2870.0f);
}
