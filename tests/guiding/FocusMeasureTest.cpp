#include "FocusMeasure.h"

#include "GuidingTestImages.h"
#include "SkyRenderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr unsigned short kClipped = 255 << 7; // the camera's 8-bit samples times 128

// A window of the simulator's sky as the program receives it, with the sky,
// shot and read noise and the dark current's hot pixels.
void renderSky(ImageBuffer& image, int width, int height, std::vector<Star> stars, double fwhm,
               double exposure = 1.0, std::uint64_t seed = 1) {
    SkySettings s;
    s.seed = seed;
    s.seeingFwhm = fwhm;
    SkyRenderer renderer(s, std::move(stars));
    ImageRequest r;
    r.width = r.lineBytes = width;
    r.lines = height;
    r.exposure = exposure;
    std::vector<std::uint8_t> samples;
    renderer.render(r, ReadoutSettings{}, Offset{}, seed, samples);
    makeImage(image, width, height);
    for (std::size_t i = 0; i < samples.size(); ++i)
        image.pixels[i] = static_cast<unsigned short>(samples[i] << 7);
}

// Light of a star whose brightest pixel gets about `peak` when centred on it.
double fluxForPeak(double fwhm, double peak) {
    const double sigma = fwhm / 2.3548200450309493;
    const double share = std::erf(0.5 / (sigma * std::sqrt(2.0)));
    return peak / (share * share);
}

// A star as a 16-bit camera records it: a sky of 1000 levels with 20 levels of
// noise, the star's light at one level per electron with its shot noise.
// (The simulated camera's 8-bit samples hold a 2-pixel star to about a
// thousand electrons, whose own shot noise moves its widths by 4 %: its
// images check what the program shows, not the measurement's accuracy.)
void renderStar(ImageBuffer& image, double x, double y, double fwhm, std::uint32_t seed,
                int width = 160, int height = 140) {
    makeImage(image, width, height);
    addGaussianStar(image, x, y, fwhm, fluxForPeak(fwhm, 20000));
    std::mt19937 gen(seed);
    std::normal_distribution<double> unit;
    for (std::int64_t i = 0; i < image.pixelCount(); ++i) {
        const double star = image.pixels[i];
        const double v = 1000 + star + unit(gen) * std::sqrt(400 + star);
        image.pixels[i] = static_cast<unsigned short>(std::clamp(std::lround(v), 0L, 65535L));
    }
}

} // namespace

TEST(FocusMeasure, WidthsWithinFivePercentAtSubPixelPositions) {
    const double offsets[][2] = {{0.0, 0.0}, {0.5, 0.5}, {0.27, 0.71}, {0.9, 0.38}};
    std::uint32_t seed = 0;
    for (double fwhm : {2.0, 2.5, 3.0, 4.5, 6.0, 8.0}) {
        for (const auto& o : offsets) {
            const double x = 80 + o[0], y = 70 + o[1];
            SCOPED_TRACE(testing::Message() << "FWHM " << fwhm << " at " << x << ", " << y);
            ImageBuffer image;
            renderStar(image, x, y, fwhm, ++seed);
            FocusMeter meter;
            const FocusStar s = meter.brightestStar(image, 65535);
            ASSERT_TRUE(s.found);
            EXPECT_FALSE(s.saturated);
            // For a Gaussian the half-flux diameter is the FWHM.
            EXPECT_NEAR(s.hfd / fwhm, 1.0, 0.05);
            EXPECT_NEAR(s.fwhm / fwhm, 1.0, 0.05);
            EXPECT_NEAR(s.x, x, 0.05);
            EXPECT_NEAR(s.y, y, 0.05);
            EXPECT_NEAR(s.background, 1000, 2);
        }
    }
}

TEST(FocusMeasure, SaturatedStarsReportedAndPassedOverForAnUnsaturatedOne) {
    const double fwhm = 3.0;
    // More saturated stars than the search keeps places, at every degree of
    // saturation, and one faint star among them.
    std::vector<Star> stars;
    for (int i = 0; i < 24; ++i)
        stars.push_back(
            Star{30.3 + 45 * (i % 6), 30.6 + 45 * (i / 6), fluxForPeak(fwhm, 300 + 80 * i)});
    const Star faint{142.6, 165.2, fluxForPeak(fwhm, 120)};
    stars.push_back(faint);
    ImageBuffer image;
    renderSky(image, 290, 210, stars, fwhm);
    FocusMeter meter;

    const FocusStar chosen = meter.brightestStar(image, kClipped);
    ASSERT_TRUE(chosen.found);
    EXPECT_FALSE(chosen.saturated);
    EXPECT_NEAR(chosen.x, faint.x, 0.1);
    EXPECT_NEAR(chosen.y, faint.y, 0.1);

    // Marked, a saturated star is measured and flagged.
    const FocusStar marked = meter.starNear(image, 78, 73, kClipped);
    ASSERT_TRUE(marked.found);
    EXPECT_TRUE(marked.saturated);
    EXPECT_EQ(marked.peak, kClipped);
    EXPECT_NEAR(marked.x, stars[7].x, 0.5);
    EXPECT_NEAR(marked.y, stars[7].y, 0.5);

    // With saturated stars alone, the search gives one, still flagged.
    stars.pop_back();
    renderSky(image, 290, 210, stars, fwhm);
    const FocusStar only = meter.brightestStar(image, kClipped);
    ASSERT_TRUE(only.found);
    EXPECT_TRUE(only.saturated);
}

TEST(FocusMeasure, HotPixelsBrighterThanTheStarDoNotHideIt) {
    ImageBuffer image;
    makeImage(image, 400, 300, 1000);
    fillRandom(image, 5, 950, 1050);
    addGaussianStar(image, 311.4, 207.8, 7.0, 4000 * fluxForPeak(7.0, 1));
    // More hot pixels than the search keeps places, each far above the star.
    for (int i = 0; i < 200; ++i) {
        const int x = 20 + (i * 37) % 360, y = 20 + (i * 53) % 260;
        if (std::hypot(x - 311, y - 208) > 30)
            px(image, x, y) = 20000;
    }
    FocusMeter meter;
    const FocusStar s = meter.brightestStar(image, 65535);
    ASSERT_TRUE(s.found);
    EXPECT_NEAR(s.x, 311.4, 0.1);
    EXPECT_NEAR(s.y, 207.8, 0.1);
    EXPECT_NEAR(s.hfd / 7.0, 1.0, 0.05);

    // One beside the star, within its aperture, does not take its place.
    px(image, 320, 205) = 20000;
    const FocusStar beside = meter.starNear(image, 311, 208, 65535);
    ASSERT_TRUE(beside.found);
    EXPECT_NEAR(beside.x, 311.4, 0.3);
    EXPECT_NEAR(beside.y, 207.8, 0.3);
}

TEST(FocusMeasure, NoStarFoundInSkyAlone) {
    ImageBuffer image;
    renderSky(image, 200, 150, {}, 3.0);
    FocusMeter meter;
    EXPECT_FALSE(meter.brightestStar(image, kClipped).found);
    EXPECT_FALSE(meter.starNear(image, 100, 75, kClipped).found);
    // A wide star in a small image: the box cannot hold its sky.
    makeImage(image, 12, 12, 500);
    addGaussianStar(image, 6, 6, 8.0, 1e6);
    EXPECT_FALSE(meter.measure(image, 6, 6, 65535).found);
}

// Windows of a few pixels around a star, and stars near a large image's edge:
// the box shrinks about the star; a star too wide for the room left has no
// figures rather than wrong ones.
TEST(FocusMeasure, StarsInSmallWindowsAndNearTheEdge) {
    const struct {
        int width, height;
        double x, y, fwhm;
        bool found;
    } cases[] = {
        {12, 12, 5.7, 5.4, 2.5, true},      {16, 16, 7.3, 7.8, 3.0, true},
        {24, 20, 11.6, 9.2, 4.5, true},     {160, 140, 9.4, 70.3, 3.0, true},
        {160, 140, 80.5, 131.2, 4.0, true}, {16, 16, 7.5, 7.5, 8.0, false},
        {160, 140, 5.2, 70.0, 6.0, false},
    };
    std::uint32_t seed = 100;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << ", FWHM " << c.fwhm
                                        << " at " << c.x << ", " << c.y);
        ImageBuffer image;
        renderStar(image, c.x, c.y, c.fwhm, ++seed, c.width, c.height);
        FocusMeter meter;
        const FocusStar s = meter.starNear(image, int(c.x), int(c.y), 65535);
        ASSERT_EQ(s.found, c.found);
        if (c.width < 32) {
            EXPECT_EQ(meter.brightestStar(image, 65535).found, c.found);
        }
        if (!c.found)
            continue;
        EXPECT_NEAR(s.hfd / c.fwhm, 1.0, 0.05);
        EXPECT_NEAR(s.fwhm / c.fwhm, 1.0, 0.05);
        EXPECT_NEAR(s.x, c.x, 0.05);
        EXPECT_NEAR(s.y, c.y, 0.05);
    }
}
