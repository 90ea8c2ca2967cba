#include "AutoLevels.h"
#include "CameraState.h"
#include "LevelWindow.h"
#include "SkyRenderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// The camera's image of the simulated sky: each 8-bit sample times 128, as
// the driver converts them at binning 1.
void simulatedSky(ImageBuffer& image, double exposure, int gain, std::uint64_t seed) {
    ImageRequest r;
    r.width = r.lineBytes = kSensorWidth;
    r.lines = kSensorHeight;
    r.exposure = exposure;
    ReadoutSettings readout;
    readout.gain = gain;
    SkySettings settings;
    settings.seed = seed;
    SkyRenderer sky(settings);
    std::vector<std::uint8_t> samples;
    sky.render(r, readout, Offset{}, 1, samples);
    ASSERT_EQ(image.resize(kSensorWidth, kSensorHeight), 1);
    for (std::size_t i = 0; i < samples.size(); ++i)
        image.pixels[i] = static_cast<unsigned short>(samples[i] * 128);
    image.invalidateStats();
}

// The measured area's median, by sorting it.
int trueMedian(const ImageBuffer& image) {
    std::vector<unsigned short> values;
    for (int y = 16; y < image.height - 16; ++y)
        for (int x = 16; x < image.width - 16; ++x)
            values.push_back(image.pixels[y * image.width + x]);
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

int levelAt(int value, int brightness, int contrast) {
    int lo = 0, hi = 0;
    levelWindow(brightness, contrast, lo, hi);
    return greyLevel(value, lo, hi);
}

void expectInRange(const SliderPositions& p) {
    EXPECT_GE(p.brightness, kBrightnessMin);
    EXPECT_LE(p.brightness, kBrightnessMax);
    EXPECT_GE(p.contrast, kContrastMin);
    EXPECT_LE(p.contrast, kContrastMax);
}

} // namespace

TEST(AutoLevels, SimulatedSkyMedianAtAFifthAndBrightestStarNearWhite) {
    // Short and long exposures, low and high gain: skies from about 2,000 to
    // 8,000 levels with noise from a few hundred to over a thousand.
    const struct {
        double exposure;
        int gain;
        std::uint64_t seed;
    } skies[] = {{0.2, 0, 1}, {1.0, 0, 2}, {3.0, 0, 3}, {1.0, 32, 4}};
    for (const auto& s : skies) {
        SCOPED_TRACE(testing::Message() << s.exposure << " s, gain " << s.gain);
        ImageBuffer image;
        simulatedSky(image, s.exposure, s.gain, s.seed);
        // At the starting positions the whole sky is black.
        const int median = trueMedian(image);
        EXPECT_EQ(levelAt(median, kSliderStart, kSliderStart), 0);

        image.computeStats();
        const SkyLevels sky = skyLevels(image.stats);
        // The colour mode maps sums of two values through the window.
        for (int summed : {1, 2}) {
            SCOPED_TRACE(summed);
            const SliderPositions p = autoLevelPositions(image.stats, summed);
            expectInRange(p);
            // The sky can sit no closer to its place than one contrast step
            // moves it; the samples' median may stand a level beside the true one.
            const int at = levelAt(summed * median, p.brightness, p.contrast);
            int step = 0;
            for (int c : {p.contrast - 1, p.contrast + 1})
                if (c >= kContrastMin && c <= kContrastMax)
                    step = std::max(step, std::abs(levelAt(summed * median, p.brightness, c) - at));
            EXPECT_LE(std::abs(at - 51), step + 2) << "median " << median << " at " << at;
            EXPECT_GT(at, 0);
            EXPECT_GT(levelAt(summed * image.stats.maximum, p.brightness, p.contrast), 200);
            // The background's noise spans several grey levels.
            EXPECT_GE(levelAt(summed * (median + sky.noise), p.brightness, p.contrast) - at, 4);
        }
    }
}

TEST(AutoLevels, FlatZeroAndEmptyImagesGiveSanePositions) {
    const struct {
        int size;
        unsigned short value;
        bool measured;
    } cases[] = {{200, 0, true},     {200, 3000, true}, {200, 32640, true},
                 {200, 65535, true}, {20, 3000, true}, // small images are measured whole
                 {0, 3000, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " px of " << c.value);
        ImageBuffer image;
        ASSERT_EQ(image.resize(c.size, c.size), 1);
        std::fill_n(image.pixels, c.size * c.size, c.value);
        image.computeStats();
        const SliderPositions p = autoLevelPositions(image.stats);
        expectInRange(p);
        if (!c.measured) {
            EXPECT_EQ(p.brightness, kSliderStart);
            EXPECT_EQ(p.contrast, kSliderStart);
            continue;
        }
        // Neither black nor white: the image's one value shows as a dark grey.
        const int level = levelAt(c.value, p.brightness, p.contrast);
        EXPECT_GT(level, 20);
        EXPECT_LT(level, 120);
    }
}
