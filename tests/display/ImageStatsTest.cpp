#include "ImageBuffer.h"
#include "LiteralMapping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

void fill(ImageBuffer& image, int w, int h, unsigned short value) {
    ASSERT_EQ(image.resize(w, h), 1);
    std::fill_n(image.pixels, std::size_t(w) * h, value);
    image.invalidateStats();
}

int nonZeroBins(const float* histogram) {
    return int(std::count_if(histogram, histogram + 256, [](float b) { return b != 0.0f; }));
}

} // namespace

TEST(ImageStats, HighByteChoosesTheBin) {
    // A 33 x 33 image measures exactly its centre pixel.
    const struct {
        unsigned short value;
        int bin;
    } cases[] = {{0, 0}, {255, 0}, {256, 1}, {32767, 127}, {32768, 128}, {65535, 255}};
    for (const auto& c : cases) {
        ImageBuffer image;
        fill(image, 33, 33, 7);
        image.pixels[16 * 33 + 16] = c.value;
        int mn = 0, mx = 0, mean = 0;
        image.getStats(mn, mx, mean);
        EXPECT_EQ(mn, c.value);
        EXPECT_EQ(mx, c.value);
        EXPECT_EQ(mean, c.value);
        const float* hist = image.getHistogram();
        EXPECT_EQ(hist[c.bin], 1.0f) << c.value;
        EXPECT_EQ(nonZeroBins(hist), 1) << c.value;
    }
}

TEST(ImageStats, BorderOfSixteenIsNeverMeasured) {
    // A 100 x 100 image is measured over rows and columns 16..83. Extreme
    // values planted just outside that square must change nothing; planted on
    // its edge they must show.
    const struct {
        int x, y;
        bool inside;
    } spots[] = {{15, 50, false}, {84, 50, false}, {50, 15, false}, {50, 84, false},
                 {0, 0, false},   {99, 99, false}, {16, 16, true},  {83, 83, true},
                 {16, 83, true},  {83, 16, true}};
    for (const auto& s : spots) {
        for (unsigned short planted : {0, 65535}) {
            ImageBuffer image;
            fill(image, 100, 100, 3000);
            image.pixels[s.y * 100 + s.x] = planted;
            int mn = 0, mx = 0, mean = 0;
            image.getStats(mn, mx, mean);
            const float* hist = image.getHistogram();
            if (!s.inside) {
                EXPECT_EQ(mn, 3000) << s.x << "," << s.y;
                EXPECT_EQ(mx, 3000) << s.x << "," << s.y;
                EXPECT_EQ(mean, 3000) << s.x << "," << s.y;
                EXPECT_EQ(nonZeroBins(hist), 1) << s.x << "," << s.y;
            } else {
                EXPECT_EQ(planted ? mx : mn, planted) << s.x << "," << s.y;
                EXPECT_EQ(nonZeroBins(hist), 2) << s.x << "," << s.y;
                EXPECT_EQ(hist[planted >> 8], 1.0f / (68 * 68 - 1)) << s.x << "," << s.y;
            }
        }
    }
}

TEST(ImageStats, MeanIsTruncatedAndHistogramScaledToTheFullestBin) {
    ImageBuffer image;
    fill(image, 36, 34, 0); // 4 x 2 measured pixels
    const unsigned short measured[2][4] = {{1, 2, 2, 600}, {2, 513, 512, 1}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            image.pixels[(16 + y) * 36 + 16 + x] = measured[y][x];
    int mn = 0, mx = 0, mean = 0;
    image.getStats(mn, mx, mean);
    EXPECT_EQ(mn, 1);
    EXPECT_EQ(mx, 600);
    EXPECT_EQ(mean, 1633 / 8);
    const float* hist = image.getHistogram();
    EXPECT_EQ(hist[0], 1.0f);        // five values
    EXPECT_EQ(hist[2], 3.0f / 5.0f); // 513, 512, 600
    EXPECT_EQ(nonZeroBins(hist), 2);
}

TEST(ImageStats, EmptyMeasuredAreaGivesMeanZero) {
    for (auto [w, h] : {std::pair{0, 0}, {0, 40}, {40, 0}}) {
        ImageBuffer image;
        fill(image, w, h, 40000);
        int mn = 0, mx = 0, mean = -1;
        image.getStats(mn, mx, mean);
        EXPECT_EQ(mn, 65535) << w << "x" << h;
        EXPECT_EQ(mx, 0) << w << "x" << h;
        EXPECT_EQ(mean, 0) << w << "x" << h;
        EXPECT_EQ(nonZeroBins(image.getHistogram()), 0) << w << "x" << h;
    }
    ImageBuffer noPixels;
    int mn = 0, mx = 0, mean = -1;
    noPixels.getStats(mn, mx, mean);
    EXPECT_EQ(mean, 0);
}

// A side of 32 pixels or fewer would leave nothing inside the border: it is
// measured whole, while a longer side keeps its border.
TEST(ImageStats, ShortSidesAreMeasuredWhole) {
    const struct {
        int w, h;
        int x, y;      // a planted pixel
        bool measured; // whether it counts
        int samples;   // level samples taken
    } cases[] = {
        {32, 32, 0, 0, true, 32},   {32, 32, 31, 31, true, 32},  {10, 10, 9, 0, true, 10},
        {1, 1, 0, 0, true, 1},      {32, 100, 0, 50, true, 48},  {32, 100, 5, 15, false, 48},
        {100, 32, 50, 0, true, 40}, {100, 32, 15, 5, false, 40}, {33, 33, 0, 16, false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " at " << c.x << "," << c.y);
        ImageBuffer image;
        fill(image, c.w, c.h, 1000);
        image.pixels[c.y * c.w + c.x] = 60000;
        int mn = 0, mx = 0, mean = 0;
        image.getStats(mn, mx, mean);
        EXPECT_EQ(mn, c.measured && c.w * c.h == 1 ? 60000 : 1000);
        EXPECT_EQ(mx, c.measured ? 60000 : 1000);
        EXPECT_EQ(int(image.stats.sampleCount), c.samples);
        EXPECT_EQ(image.getHistogram()[60000 >> 8] != 0, c.measured);
    }
}

TEST(ImageStats, FullFrameMatchesTheLiteralScan) {
    // Widths whose measured rows leave a tail after vector blocks; saturated
    // frames check that neither a full sensor's sum nor a 65568-pixel row's
    // sum overflows. The sky frames put most pixels in a few bins with stars
    // and a gradient beside them, so that pixels fall both inside and outside
    // the window the vector code counts fast. Both codes of the pass must give
    // the literal figures.
    enum Fill { Uniform, Saturated, Sky, Gradient };
    const struct {
        int w, h;
        Fill fill;
    } cases[] = {{1280, 1024, Uniform},  {1280, 1024, Saturated}, {1280, 1024, Sky},
                 {1280, 1024, Gradient}, {77, 41, Uniform},       {37, 41, Sky},
                 {35, 90, Uniform},      {200, 300, Gradient},    {65600, 33, Saturated}};
    std::mt19937 rng(11);
    std::normal_distribution<double> noise(2600.0, 600.0);
    for (const auto& c : cases) {
        ImageBuffer image;
        ASSERT_EQ(image.resize(c.w, c.h), 1);
        for (std::int64_t i = 0; i < image.pixelCount(); ++i) {
            const int y = int(i / c.w);
            double v = 0;
            switch (c.fill) {
            case Uniform:
                v = double(rng() % 4096 + 900);
                break;
            case Saturated:
                v = 65535;
                break;
            case Sky:
                v = rng() % 500 == 0 ? double(rng() % 65536) : noise(rng);
                break;
            case Gradient:
                v = noise(rng) + 50.0 * y;
                break;
            }
            image.pixels[i] = static_cast<unsigned short>(std::clamp(v, 0.0, 65535.0));
        }
        literal::Stats expected;
        literal::computeStats(image.pixels, c.w, c.h, expected);
        for (StatsCode code : {StatsCode::Fastest, StatsCode::Vector256, StatsCode::Portable}) {
            SCOPED_TRACE(testing::Message()
                         << c.w << "x" << c.h << " fill " << c.fill << " code " << int(code));
            image.computeStats(code);
            EXPECT_EQ(image.stats.minimum, expected.minimum);
            EXPECT_EQ(image.stats.maximum, expected.maximum);
            EXPECT_EQ(image.stats.mean, expected.mean);
            for (int k = 0; k < 256; ++k)
                ASSERT_EQ(image.stats.histogram[k], expected.histogram[k]) << "bin " << k;
            std::uint32_t count = 0;
            for (int k = 0; k < ImageStats::kSampleBins; ++k) {
                ASSERT_EQ(image.stats.samples[k], expected.samples[k]) << "sample bin " << k;
                count += expected.samples[k];
            }
            EXPECT_EQ(image.stats.sampleCount, count);
        }
    }
}

TEST(ImageStats, RecomputedOnlyAfterInvalidation) {
    ImageBuffer image;
    fill(image, 40, 40, 100);
    int mn = 0, mx = 0, mean = 0;
    image.getStats(mn, mx, mean);
    image.pixels[20 * 40 + 20] = 9000; // changed without telling the cache
    image.getStats(mn, mx, mean);
    EXPECT_EQ(mx, 100);
    image.invalidateStats();
    image.getStats(mn, mx, mean);
    EXPECT_EQ(mx, 9000);
    const ImageBuffer copy(image);
    EXPECT_FALSE(copy.stats.valid);
}
