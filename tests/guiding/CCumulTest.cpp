#include "CCumul.h"

#include "GuidingTestImages.h"
#include "StarMeasure.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

TEST(AddShifted, RangesStripsAndSourceOffset) {
    constexpr int W = 13, H = 9;
    struct Shift {
        int dx, dy;
    };
    for (Shift s : {Shift{0, 0}, Shift{3, -2}, Shift{-4, 1}, Shift{0, 5}, Shift{-12, -8},
                    Shift{W, 0}, Shift{0, -H}, Shift{-W - 3, 2}, Shift{INT_MIN, INT_MAX}}) {
        ImageBuffer acc, src;
        makeImage(acc, W, H);
        makeImage(src, W, H);
        fillRandom(acc, 1, 0, 16000);
        fillRandom(src, 2, 0, 16000); // every sum stays below the limit
        const ImageBuffer before(acc);
        ASSERT_TRUE(addShifted(acc, src, s.dx, s.dy));
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const long long sx = (long long)x + s.dx, sy = (long long)y + s.dy;
                const bool inside = sx >= 0 && sx < W && sy >= 0 && sy < H;
                const int expected = px(before, x, y) + (inside ? px(src, int(sx), int(sy)) : 0);
                ASSERT_EQ(px(acc, x, y), expected)
                    << "dx " << s.dx << " dy " << s.dy << " at " << x << ", " << y;
            }
    }
}

TEST(AddShifted, ThreeColumnsRightTwoRowsUp) {
    constexpr int W = 10, H = 7;
    ImageBuffer acc, src;
    makeImage(acc, W, H, 1);
    makeImage(src, W, H, 10);
    ASSERT_TRUE(addShifted(acc, src, 3, -2));
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const bool changes = x <= W - 4 && y >= 2;
            EXPECT_EQ(px(acc, x, y), changes ? 11 : 1) << x << ", " << y;
        }
}

TEST(AddShifted, SumReachingTheLimitLeavesThePixel) {
    struct Case {
        unsigned short acc, src, result;
    };
    const Case cases[] = {
        {20000, 12767, 20000}, // 32767: kept, not clamped
        {20000, 12766, 32766}, {32767, 0, 32767},
        {40000, 1, 40000}, // a pixel already past the limit never changes
        {40000, 0, 40000},     {65535, 65535, 65535}, // would wrap in 16 bits
        {30000, 5000, 30000},  {0, 0, 0},
    };
    ImageBuffer acc, src;
    const int n = int(std::size(cases));
    makeImage(acc, n, 1);
    makeImage(src, n, 1);
    for (int i = 0; i < n; ++i) {
        px(acc, i, 0) = cases[i].acc;
        px(src, i, 0) = cases[i].src;
    }
    ASSERT_TRUE(addShifted(acc, src, 0, 0));
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(px(acc, i, 0), cases[i].result) << cases[i].acc << " + " << cases[i].src;

    // A later smaller addition can still raise a pixel that was held back.
    makeImage(acc, 1, 1, 30000);
    makeImage(src, 1, 1, 5000);
    addShifted(acc, src, 0, 0);
    px(src, 0, 0) = 2000;
    addShifted(acc, src, 0, 0);
    EXPECT_EQ(px(acc, 0, 0), 32000);
}

TEST(AddShifted, RefusesImagesOfAnotherSize) {
    ImageBuffer acc, src, none;
    makeImage(acc, 8, 6, 5);
    for (auto [w, h] : {std::pair{8, 5}, std::pair{6, 8}, std::pair{48, 1}}) {
        makeImage(src, w, h, 7);
        EXPECT_FALSE(addShifted(acc, src, 0, 0));
        EXPECT_EQ(pixelsOf(acc), std::vector<unsigned short>(48, 5));
    }
    EXPECT_FALSE(addShifted(acc, none, 0, 0));
    EXPECT_FALSE(addShifted(none, acc, 0, 0));
}

namespace {

// A "star" of two pixels on one row whose centroid is exactly x0 + share.
void twoPixelStar(ImageBuffer& img, int x0, int y, unsigned short left, unsigned short right) {
    px(img, x0, y) = left;
    px(img, x0 + 1, y) = right;
}

} // namespace

TEST(CCumul, StartsAsACopyAndLocksWithoutMarker) {
    ImageBuffer doc;
    makeImage(doc, 768, 512, 20);
    px(doc, 150, 250) = 9000; // brighter, but left of column 192
    px(doc, 576, 320) = 1000; // far corner of the search rectangle, included
    CCumul cumul(doc);
    EXPECT_NE(cumul.accumulator.pixels, doc.pixels);
    EXPECT_EQ(pixelsOf(cumul.accumulator), pixelsOf(doc));
    EXPECT_FALSE(cumul.accumulator.stats.valid);
    EXPECT_EQ(cumul.margin, 192);
    EXPECT_EQ(cumul.zoneSize, 32);

    const auto before = pixelsOf(doc);
    cumul.beginCumul(0, 0, false);
    EXPECT_EQ(pixelsOf(doc), before); // never smoothed
    EXPECT_EQ(cumul.refX, 576.0f);
    EXPECT_EQ(cumul.refY, 320.0f);
    EXPECT_EQ(cumul.threshold, 900);
    EXPECT_EQ(cumul.zone, (GuideZone{560, 592, 304, 336}));
}

TEST(CCumul, LocksAroundTheMarker) {
    ImageBuffer doc;
    makeImage(doc, 400, 300);
    px(doc, 110, 100) = 9000; // outside [mx - 16, mx + 16]
    px(doc, 140, 90) = 3000;
    CCumul cumul(doc);
    cumul.beginCumul(127, 95, true);
    EXPECT_EQ(cumul.refX, 140.0f);
    EXPECT_EQ(cumul.refY, 90.0f);
    EXPECT_EQ(cumul.threshold, 2700);
}

TEST(CCumul, DriftIsTruncatedTowardZero) {
    struct Case {
        const char* what;
        int x0, y0;
        unsigned short left, right; // second image's star: centroid x0 + right / (left + right)
        int dx, dy;
        GuideZone zone;
    };
    const Case cases[] = {
        {"+0.9", 200, 150, 1000, 9000, 0, 0, {184, 216, 134, 166}},
        {"-1.7", 198, 150, 7000, 3000, -1, 0, {182, 214, 134, 166}},
        {"+2.5 and one row down", 202, 151, 5000, 5000, 2, 1, {186, 218, 135, 167}},
        {"-0.5 and three rows up", 199, 147, 5000, 5000, 0, -3, {183, 215, 131, 163}},
    };
    for (const Case& c : cases) {
        ImageBuffer doc;
        makeImage(doc, 400, 300, 100);
        px(doc, 200, 150) = 1000; // the reference star, exactly on (200, 150)
        CCumul cumul(doc);
        cumul.beginCumul(200, 150, true);
        ASSERT_EQ(cumul.refX, 200.0f);

        makeImage(doc, 400, 300, 10);
        twoPixelStar(doc, c.x0, c.y0, c.left, c.right);
        px(doc, 300, 60) = 777; // a tag far from the star shows where the image landed
        ASSERT_EQ(cumul.addImage(), CCumul::Step::Added) << c.what;
        EXPECT_EQ(px(cumul.accumulator, 300 - c.dx, 60 - c.dy), 100 + 777) << c.what;
        EXPECT_EQ(pixelsOf(doc), pixelsOf(cumul.accumulator)) << c.what;
        EXPECT_FALSE(doc.stats.valid);
        EXPECT_EQ(cumul.zone, c.zone) << c.what;
        EXPECT_FLOAT_EQ(cumul.curX, c.x0 + float(c.right) / (c.left + c.right)) << c.what;
    }
}

TEST(CCumul, ImageWithoutCentroidIsNotAdded) {
    ImageBuffer doc;
    makeImage(doc, 120, 100, 50);
    px(doc, 60, 40) = 2000;
    CCumul cumul(doc);
    cumul.beginCumul(60, 40, true);
    const GuideZone zone = cumul.zone;
    const auto sum = pixelsOf(cumul.accumulator);

    makeImage(doc, 120, 100, 300); // clouds: nothing reaches 1800
    doc.stats.valid = true;
    EXPECT_EQ(cumul.addImage(), CCumul::Step::NotAdded);
    EXPECT_EQ(pixelsOf(cumul.accumulator), sum);
    EXPECT_EQ(pixelsOf(doc), sum); // the document shows the sum so far
    EXPECT_FALSE(doc.stats.valid);
    EXPECT_EQ(cumul.zone, zone);
    EXPECT_EQ(cumul.curX, 60.0f);
}

TEST(CCumul, DarkStartNeverAdds) {
    ImageBuffer doc;
    makeImage(doc, 120, 100);
    CCumul cumul(doc);
    cumul.beginCumul(0, 0, false);
    EXPECT_TRUE(std::isnan(cumul.refX));
    EXPECT_FALSE(cumul.referenceFrame());
    EXPECT_FALSE(cumul.currentFrame());
    px(doc, 60, 50) = 500;
    EXPECT_EQ(cumul.addImage(), CCumul::Step::NotAdded);
    EXPECT_EQ(px(cumul.accumulator, 60, 50), 0);
}

TEST(CCumul, DocumentOfAnotherSizeIsLeftAlone) {
    ImageBuffer doc;
    makeImage(doc, 64, 48, 5);
    px(doc, 30, 20) = 4000;
    CCumul cumul(doc);
    cumul.beginCumul(30, 20, true);
    const auto sum = pixelsOf(cumul.accumulator);
    for (auto [w, h] : {std::pair{48, 64}, std::pair{64, 47}, std::pair{100, 100}}) {
        makeImage(doc, w, h, 9);
        px(doc, 30, 20) = 4000;
        EXPECT_EQ(cumul.addImage(), CCumul::Step::SizeMismatch);
        EXPECT_FALSE(cumul.storeSum());
        EXPECT_EQ(pixelsOf(cumul.accumulator), sum);
        EXPECT_EQ(pixelsOf(doc), [&] {
            ImageBuffer expected;
            makeImage(expected, w, h, 9);
            px(expected, 30, 20) = 4000;
            return pixelsOf(expected);
        }());
    }
}

TEST(CCumul, StoreSumPutsTheSumBackAfterAFailedImage) {
    ImageBuffer doc;
    makeImage(doc, 64, 48, 5);
    px(doc, 30, 20) = 4000;
    CCumul cumul(doc);
    cumul.beginCumul(30, 20, true);
    ASSERT_EQ(cumul.addImage(), CCumul::Step::Added);
    std::fill_n(doc.pixels, 64 * 48, 12345); // a failed readout
    ASSERT_TRUE(cumul.storeSum());
    EXPECT_EQ(px(doc, 30, 20), 8000);
    EXPECT_EQ(px(doc, 0, 0), 10);
}

TEST(CCumul, FramesAroundReferenceAndLastCentroid) {
    ImageBuffer doc;
    makeImage(doc, 200, 150);
    twoPixelStar(doc, 100, 60, 5000, 5000); // centroid 100.5
    CCumul cumul(doc);
    cumul.beginCumul(100, 60, true);
    EXPECT_EQ(cumul.referenceFrame(), (GuideZone{84, 116, 44, 76}));

    makeImage(doc, 200, 150);
    twoPixelStar(doc, 103, 58, 5000, 5000); // 103.5, 58
    ASSERT_EQ(cumul.addImage(), CCumul::Step::Added);
    EXPECT_EQ(cumul.referenceFrame(), (GuideZone{84, 116, 44, 76}));
    EXPECT_EQ(cumul.currentFrame(), (GuideZone{97, 109, 52, 64}));
}

TEST(CCumul, DriftingStarStacksOnTheReference) {
    // Five images of the same star drifting 1.3 px right and 0.8 px down per
    // image: the sum keeps the star compact where it was on the first image,
    // while a plain sum of the same images smears it.
    auto render = [](ImageBuffer& img, int i) {
        makeImage(img, 160, 120);
        addGaussianStar(img, 70.2 + 1.3 * i, 50.4 + 0.8 * i, 2.5, 20000.0);
    };
    ImageBuffer doc, plain;
    render(doc, 0);
    render(plain, 0);
    int col = 0, row = 0;
    const unsigned short firstPeak = findPeak(doc, 0, 159, 0, 119, col, row);
    CCumul cumul(doc);
    cumul.beginCumul(70, 50, true);
    for (int i = 1; i < 5; ++i) {
        render(doc, i);
        addShifted(plain, doc, 0, 0);
        ASSERT_EQ(cumul.addImage(), CCumul::Step::Added) << i;
    }
    const unsigned short stacked = findPeak(cumul.accumulator, 0, 159, 0, 119, col, row);
    EXPECT_NEAR(col, 70, 1);
    EXPECT_NEAR(row, 50, 1);
    EXPECT_GT(stacked, 4.5 * firstPeak);
    EXPECT_LT(findPeak(plain, 0, 159, 0, 119, col, row), 2.5 * firstPeak);
}
