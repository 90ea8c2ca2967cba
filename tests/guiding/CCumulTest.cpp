#include "CCumul.h"

#include "GuidingTestImages.h"
#include "StarMeasure.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace {

std::uint32_t sumAt(const StackSum& s, int x, int y) {
    return s.sums[std::size_t(y) * std::size_t(s.width) + std::size_t(x)];
}
int countAt(const StackSum& s, int x, int y) {
    return s.counts[std::size_t(y) * std::size_t(s.width) + std::size_t(x)];
}
std::vector<unsigned short> meanOf(const StackSum& s) {
    ImageBuffer mean;
    makeImage(mean, s.width, s.height);
    s.writeMean(mean);
    return pixelsOf(mean);
}

} // namespace

TEST(AddShifted, RangesStripsAndSourceOffset) {
    constexpr int W = 13, H = 9;
    struct Shift {
        int dx, dy;
    };
    for (Shift s : {Shift{0, 0}, Shift{3, -2}, Shift{-4, 1}, Shift{0, 5}, Shift{-12, -8},
                    Shift{W, 0}, Shift{0, -H}, Shift{-W - 3, 2}, Shift{INT_MIN, INT_MAX}}) {
        ImageBuffer first, src;
        makeImage(first, W, H);
        makeImage(src, W, H);
        fillRandom(first, 1, 0, 65535);
        fillRandom(src, 2, 0, 65535);
        StackSum stack;
        ASSERT_TRUE(stack.start(first));
        ASSERT_TRUE(addShifted(stack, src, s.dx, s.dy));
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const long long sx = (long long)x + s.dx, sy = (long long)y + s.dy;
                const bool inside = sx >= 0 && sx < W && sy >= 0 && sy < H;
                const std::uint32_t added = inside ? px(src, int(sx), int(sy)) : 0;
                ASSERT_EQ(sumAt(stack, x, y), px(first, x, y) + added)
                    << "dx " << s.dx << " dy " << s.dy << " at " << x << ", " << y;
                ASSERT_EQ(countAt(stack, x, y), inside ? 2 : 1);
            }
    }
}

TEST(AddShifted, ThreeColumnsRightTwoRowsUpAndTheStripsMeanOfFewerImages) {
    constexpr int W = 10, H = 7;
    ImageBuffer first, src;
    makeImage(first, W, H, 1);
    makeImage(src, W, H, 10);
    StackSum stack;
    ASSERT_TRUE(stack.start(first));
    ASSERT_TRUE(addShifted(stack, src, 3, -2));
    ASSERT_TRUE(addShifted(stack, src, 3, -2));
    const std::vector<unsigned short> mean = meanOf(stack);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const bool changes = x <= W - 4 && y >= 2;
            EXPECT_EQ(sumAt(stack, x, y), changes ? 21u : 1u) << x << ", " << y;
            // (1 + 10 + 10) / 3 = 7; a strip keeps the first image's 1.
            EXPECT_EQ(mean[y * W + x], changes ? 7 : 1) << x << ", " << y;
        }
}

TEST(AddShifted, SumsPastSixteenBitsAndMeansRoundedToNearest) {
    struct Case {
        unsigned short first, second;
        std::uint32_t sum;
        unsigned short mean;
    };
    const Case cases[] = {
        {20000, 12767, 32767, 16384}, // the old 16-bit sum's limit: 16383.5 rounds up
        {32767, 1, 32768, 16384},
        {40000, 1, 40001, 20001},
        {65535, 65535, 131070, 65535},
        {0, 1, 1, 1},
        {0, 0, 0, 0},
        {2, 5, 7, 4},
    };
    ImageBuffer first, src;
    const int n = int(std::size(cases));
    makeImage(first, n, 1);
    makeImage(src, n, 1);
    for (int i = 0; i < n; ++i) {
        px(first, i, 0) = cases[i].first;
        px(src, i, 0) = cases[i].second;
    }
    StackSum stack;
    ASSERT_TRUE(stack.start(first));
    ASSERT_TRUE(addShifted(stack, src, 0, 0));
    const std::vector<unsigned short> mean = meanOf(stack);
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(sumAt(stack, i, 0), cases[i].sum) << cases[i].first << " + " << cases[i].second;
        EXPECT_EQ(mean[i], cases[i].mean) << cases[i].first << " + " << cases[i].second;
    }

    // A pixel that has had the most images a 32-bit sum can hold takes no more.
    makeImage(first, 1, 1, 65535);
    ASSERT_TRUE(stack.start(first));
    for (std::uint32_t k = 1; k < StackSum::kMaxImages; ++k)
        addShifted(stack, first, 0, 0);
    ASSERT_EQ(countAt(stack, 0, 0), 65535);
    makeImage(src, 1, 1, 0);
    addShifted(stack, src, 0, 0);
    EXPECT_EQ(countAt(stack, 0, 0), 65535);
    EXPECT_EQ(sumAt(stack, 0, 0), 65535u * 65535u);
    EXPECT_EQ(meanOf(stack)[0], 65535);
}

TEST(AddShifted, RefusesImagesOfAnotherSize) {
    ImageBuffer first, src, none;
    makeImage(first, 8, 6, 5);
    StackSum stack, empty;
    ASSERT_TRUE(stack.start(first));
    EXPECT_FALSE(empty.start(none));
    for (auto [w, h] : {std::pair{8, 5}, std::pair{6, 8}, std::pair{48, 1}}) {
        makeImage(src, w, h, 7);
        EXPECT_FALSE(addShifted(stack, src, 0, 0));
        EXPECT_EQ(meanOf(stack), std::vector<unsigned short>(48, 5));
        EXPECT_EQ(countAt(stack, 0, 0), 1);
    }
    EXPECT_FALSE(addShifted(stack, none, 0, 0));
    EXPECT_FALSE(addShifted(empty, first, 0, 0));
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
    EXPECT_EQ(meanOf(cumul.stack), pixelsOf(doc));
    EXPECT_EQ(cumul.imageCount, 1);
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
        EXPECT_EQ(sumAt(cumul.stack, 300 - c.dx, 60 - c.dy), 100u + 777u) << c.what;
        EXPECT_EQ(px(doc, 300 - c.dx, 60 - c.dy), 439) << c.what; // 877 / 2 rounded
        EXPECT_EQ(pixelsOf(doc), meanOf(cumul.stack)) << c.what;
        EXPECT_EQ(cumul.imageCount, 2);
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
    const auto first = pixelsOf(doc);

    makeImage(doc, 120, 100, 300); // clouds: nothing reaches 1800
    doc.stats.valid = true;
    EXPECT_EQ(cumul.addImage(), CCumul::Step::NotAdded);
    EXPECT_EQ(cumul.imageCount, 1);
    EXPECT_EQ(countAt(cumul.stack, 0, 0), 1);
    EXPECT_EQ(pixelsOf(doc), first); // the document shows the stack so far
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
    EXPECT_EQ(sumAt(cumul.stack, 60, 50), 0u);
}

TEST(CCumul, DocumentOfAnotherSizeIsLeftAlone) {
    ImageBuffer doc;
    makeImage(doc, 64, 48, 5);
    px(doc, 30, 20) = 4000;
    CCumul cumul(doc);
    cumul.beginCumul(30, 20, true);
    const auto first = pixelsOf(doc);
    for (auto [w, h] : {std::pair{48, 64}, std::pair{64, 47}, std::pair{100, 100}}) {
        makeImage(doc, w, h, 9);
        px(doc, 30, 20) = 4000;
        EXPECT_EQ(cumul.addImage(), CCumul::Step::SizeMismatch);
        EXPECT_FALSE(cumul.storeMean());
        EXPECT_EQ(meanOf(cumul.stack), first);
        EXPECT_EQ(cumul.imageCount, 1);
        EXPECT_EQ(pixelsOf(doc), [&] {
            ImageBuffer expected;
            makeImage(expected, w, h, 9);
            px(expected, 30, 20) = 4000;
            return pixelsOf(expected);
        }());
    }
}

TEST(CCumul, StoreMeanPutsTheStackBackAfterAFailedImage) {
    ImageBuffer doc;
    makeImage(doc, 64, 48, 5);
    px(doc, 30, 20) = 4000;
    CCumul cumul(doc);
    cumul.beginCumul(30, 20, true);
    makeImage(doc, 64, 48, 15);
    px(doc, 30, 20) = 6000;
    ASSERT_EQ(cumul.addImage(), CCumul::Step::Added);
    std::fill_n(doc.pixels, 64 * 48, 12345); // a failed readout
    doc.stats.valid = true;
    ASSERT_TRUE(cumul.storeMean());
    EXPECT_FALSE(doc.stats.valid);
    EXPECT_EQ(px(doc, 30, 20), 5000);
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
    // image: the stack keeps the star compact, and as high as in one image,
    // where it was on the first image, while a plain mean of the same images
    // smears it.
    auto render = [](ImageBuffer& img, int i) {
        makeImage(img, 160, 120);
        addGaussianStar(img, 70.2 + 1.3 * i, 50.4 + 0.8 * i, 2.5, 20000.0);
    };
    ImageBuffer doc, plainMean;
    render(doc, 0);
    StackSum plain;
    ASSERT_TRUE(plain.start(doc));
    int col = 0, row = 0;
    const unsigned short firstPeak = findPeak(doc, 0, 159, 0, 119, col, row);
    CCumul cumul(doc);
    cumul.beginCumul(70, 50, true);
    for (int i = 1; i < 5; ++i) {
        render(doc, i);
        addShifted(plain, doc, 0, 0);
        ASSERT_EQ(cumul.addImage(), CCumul::Step::Added) << i;
    }
    EXPECT_EQ(cumul.imageCount, 5);
    const unsigned short stacked = findPeak(doc, 0, 159, 0, 119, col, row);
    EXPECT_NEAR(col, 70, 1);
    EXPECT_NEAR(row, 50, 1);
    EXPECT_GT(stacked, 0.9 * firstPeak);
    makeImage(plainMean, 160, 120);
    plain.writeMean(plainMean);
    EXPECT_LT(findPeak(plainMean, 0, 159, 0, 119, col, row), 0.5 * firstPeak);
}
