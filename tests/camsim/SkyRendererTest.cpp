#include "SkyRenderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

ImageRequest window(int x0, int y0, int w, int h, int b = 1, double exposure = 1.0) {
    ImageRequest r;
    r.sensorX0 = x0, r.sensorY0 = y0, r.binning = b, r.width = w, r.lines = h;
    r.lineBytes = w * b;
    r.exposure = exposure;
    return r;
}

SkySettings quiet(Scene scene = Scene::Stars) {
    SkySettings s;
    s.scene = scene;
    s.seeingFwhm = 4.0;
    s.noise = false;
    s.dark = false;
    return s;
}

constexpr double kTestFlux = 3500; // peak well inside 0..255 at the default gain

struct Centroid {
    double x = NAN, y = NAN;
};

// Intensity-weighted centroid above the background level, around the brightest
// pixel: what a careful measurement of a noise-free star gives.
Centroid measure(const std::vector<std::uint8_t>& img, const ImageRequest& r) {
    const int w = r.lineBytes, h = r.lines;
    const auto peak = std::max_element(img.begin(), img.end()) - img.begin();
    const int px = static_cast<int>(peak % w), py = static_cast<int>(peak / w);
    const int background = img[0]; // the corner is far from the star
    double s = 0, sx = 0, sy = 0;
    for (int y = std::max(0, py - 12); y <= std::min(h - 1, py + 12); ++y)
        for (int x = std::max(0, px - 12); x <= std::min(w - 1, px + 12); ++x) {
            const int v = img[static_cast<std::size_t>(y) * w + x] - background;
            if (v > 0)
                s += v, sx += double(v) * x, sy += double(v) * y;
        }
    return s > 0 ? Centroid{sx / s, sy / s} : Centroid{};
}

Centroid starAt(double x, double y, const ImageRequest& r, Offset sky = {}) {
    SkyRenderer renderer(quiet(), {Star{x, y, kTestFlux}});
    std::vector<std::uint8_t> img;
    renderer.render(r, ReadoutSettings{}, sky, 1, img);
    return measure(img, r);
}

} // namespace

TEST(SkyRenderer, StarsLandAtTheirSubPixelPositions) {
    struct Case {
        double x, y;
        int x0, y0;
    };
    const Case cases[] = {
        {100.3, 50.0, 0, 0},   {100.0, 50.0, 0, 0},    {100.5, 50.5, 0, 0},
        {100.75, 49.25, 0, 0}, {137.77, 61.2, 20, 10}, {300.1, 200.9, 250, 150},
    };
    for (const auto& c : cases) {
        const ImageRequest r = window(c.x0, c.y0, 200, 100);
        const Centroid m = starAt(c.x, c.y, r);
        // Image column 0 is sensor column x0.
        EXPECT_NEAR(m.x, c.x - c.x0, 0.05) << c.x << ", " << c.y;
        EXPECT_NEAR(m.y, c.y - c.y0, 0.05) << c.x << ", " << c.y;
    }
}

TEST(SkyRenderer, DefocusAddsAPixelOfWidthPerHundredStepsInQuadrature) {
    const struct {
        double seeing;
        long long position, best;
        double fwhm;
    } cases[] = {{3, 0, 0, 3},       {3, 400, 0, 5},     {3, -400, 0, 5},
                 {3, 1100, 1500, 5}, {2, 1500, 1500, 2}, {4, 2300, -700, std::hypot(4, 30)}};
    for (const auto& c : cases)
        EXPECT_NEAR(defocusedFwhm(c.seeing, c.position, c.best), c.fwhm, 1e-12)
            << c.position << " from " << c.best;
}

TEST(SkyRenderer, MovesShiftTheStarByMagnitudeTimesScale) {
    struct Case {
        const char* name;
        MountSettings mount;
        std::uint8_t direction;
        int units;
        double dx, dy; // expected shift, pixels
    };
    MountSettings plain;
    MountSettings coarse;
    coarse.moveScale = 0.05;
    MountSettings turned;
    turned.angleDeg = 90;
    MountSettings thirty;
    thirty.angleDeg = 30;
    MountSettings flipped;
    flipped.flip = true;
    const Case cases[] = {
        {"first axis + moves right", plain, 0x41, 30, 0.30, 0},
        {"first axis - moves left", plain, 0x42, 30, -0.30, 0},
        {"second axis + moves up", plain, 0x44, 33, 0, -0.33},
        {"second axis - moves down", plain, 0x48, 150, 0, 1.5},
        {"a third of a pixel", coarse, 0x41, 7, 0.35, 0},
        {"axes turned 90 degrees", turned, 0x41, 50, 0, 0.5},
        {"axes turned 30 degrees", thirty, 0x44, 100, 0.5, -std::sqrt(3.0) / 2},
        {"second axis flipped", flipped, 0x44, 60, 0, 0.6},
    };
    const ImageRequest r = window(0, 0, 200, 100);
    const Centroid before = starAt(100.3, 50.0, r);
    for (const auto& c : cases) {
        MountModel mount(c.mount);
        ASSERT_TRUE(mount.applyMove(c.direction, c.units));
        const Centroid after = starAt(100.3, 50.0, r, mount.offsetAt(0));
        EXPECT_NEAR(after.x - before.x, c.dx, 0.05) << c.name;
        EXPECT_NEAR(after.y - before.y, c.dy, 0.05) << c.name;
    }
}

TEST(MountModel, DriftPeriodicErrorAndUnknownDirections) {
    MountSettings s;
    s.driftX = 2, s.driftY = -1;
    s.periodicAmplitude = 1.5, s.periodicPeriod = 8;
    MountModel m(s);
    const struct {
        double t, x, y;
    } times[] = {{0, 0, 0}, {2, 4 + 1.5, -2}, {4, 8, -4}, {6, 12 - 1.5, -6}};
    for (const auto& t : times) {
        EXPECT_NEAR(m.offsetAt(t.t).x, t.x, 1e-9) << t.t;
        EXPECT_NEAR(m.offsetAt(t.t).y, t.y, 1e-9) << t.t;
    }
    EXPECT_FALSE(m.applyMove(0x43, 100));
    EXPECT_EQ(m.moved().x, 0);
    EXPECT_EQ(m.moved().y, 0);

    // The drift per image counts images, not seconds: the first image has
    // none of it, the fourth three steps, however late it comes.
    MountSettings perImage;
    perImage.driftPerImageX = 1.5, perImage.driftPerImageY = -0.5;
    const MountModel p(perImage);
    for (double t : {0.0, 1.0, 500.0}) {
        EXPECT_EQ(p.offsetAt(t, 1).x, 0) << t;
        EXPECT_NEAR(p.offsetAt(t, 4).x, 4.5, 1e-9) << t;
        EXPECT_NEAR(p.offsetAt(t, 4).y, -1.5, 1e-9) << t;
    }
}

// The guiding loop closed on the mount model: a star drifting on the image is
// measured, the correction computed the way the program's controller does
// (gains in move units per pixel, the correction opposite to the error, a
// negative amount sent with the magnitude 1 - amount) and applied as frames.
TEST(MountModel, GuidingWithMatchingSettingsHoldsADriftingStar) {
    struct Case {
        const char* name;
        double angleDeg;
        bool flip;
        double rotDeg; // the guiding's rotation setting
        bool invert2;
        bool holds;
    };
    const Case cases[] = {
        {"defaults", 0, false, 0, false, true},
        {"rotated mount, matching rotation", 30, false, 30, false, true},
        {"flipped mount, second axis inverted", 0, true, 0, true, true},
        {"flipped mount, guiding not told", 0, true, 0, false, false},
    };
    for (const auto& c : cases) {
        MountSettings s;
        s.angleDeg = c.angleDeg, s.flip = c.flip;
        s.driftX = 0.3, s.driftY = -0.2;
        MountModel mount(s);
        const double theta = c.rotDeg / 57.3, gain = 100;
        double worst = 0;
        for (int tick = 1; tick <= 60; ++tick) {
            const Offset o = mount.offsetAt(tick);
            const auto ex = static_cast<float>(o.x), ey = static_cast<float>(o.y);
            const float d1 = ex * std::cos(theta) + ey * std::sin(theta);
            const float d2 = ex * std::sin(theta) - ey * std::cos(theta);
            // A move frame carries at most 16 bits; the diverging case would
            // otherwise overflow the conversion.
            auto m1 = static_cast<int>(std::clamp(-(d1 * gain), -32767.0, 32767.0));
            auto m2 = static_cast<int>(std::clamp(-(d2 * gain), -32767.0, 32767.0));
            if (c.invert2)
                m2 = 1 - m2;
            if (m1 > 0)
                mount.applyMove(0x41, m1);
            else if (m1 < 0)
                mount.applyMove(0x42, 1 - m1);
            if (m2 > 0)
                mount.applyMove(0x44, m2);
            else if (m2 < 0)
                mount.applyMove(0x48, 1 - m2);
            const Offset after = mount.offsetAt(tick);
            worst = std::max(worst, std::hypot(after.x, after.y));
        }
        if (c.holds)
            EXPECT_LT(worst, 0.1) << c.name;
        else
            EXPECT_GT(worst, 5.0) << c.name;
    }
}

TEST(SkyRenderer, SameSeedSameImageAndNoiseChangesPerImage) {
    SkySettings s;
    s.seed = 7;
    SkyRenderer a(s), b(s);
    s.seed = 8;
    SkyRenderer c(s);
    const ImageRequest r = window(560, 440, 160, 128);
    std::vector<std::uint8_t> ia, ib, ic, next;
    a.render(r, ReadoutSettings{}, {}, 1, ia);
    b.render(r, ReadoutSettings{}, {}, 1, ib);
    c.render(r, ReadoutSettings{}, {}, 1, ic);
    a.render(r, ReadoutSettings{}, {}, 2, next);
    EXPECT_EQ(ia, ib);
    EXPECT_NE(ia, ic);
    EXPECT_NE(ia, next);
    // The field holds a bright star near the centre for guiding, and stars on
    // fractional positions.
    ASSERT_FALSE(a.stars().empty());
    EXPECT_NEAR(a.stars()[0].x, 640, 20);
    EXPECT_NEAR(a.stars()[0].y, 512, 20);
    EXPECT_GT(*std::max_element(ia.begin(), ia.end()), 100);
    const auto whole = std::count_if(a.stars().begin(), a.stars().end(), [](const Star& st) {
        return st.x == std::floor(st.x) || st.y == std::floor(st.y);
    });
    EXPECT_EQ(whole, 0);
}

TEST(SkyRenderer, DarkCurrentIsFixedScalesWithExposureAndSubtractsAway) {
    SkySettings s = quiet();
    s.dark = true;
    SkyRenderer sky(s, {});
    const ImageRequest shortExp = window(0, 0, 400, 300, 1, 0.5);
    const ImageRequest longExp = window(0, 0, 400, 300, 1, 1.0);
    const ImageRequest none = window(0, 0, 400, 300, 1, 0.0);
    std::vector<std::uint8_t> a, b, z;
    sky.render(shortExp, ReadoutSettings{}, {}, 1, a);
    sky.render(longExp, ReadoutSettings{}, {}, 2, b);
    sky.render(none, ReadoutSettings{}, {}, 3, z);
    int hot = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const int bias = z[i];
        if (b[i] < 255) {
            ASSERT_NEAR(b[i] - bias, 2 * (a[i] - bias), 1.5) << i;
        }
        if (b[i] - b[0] > 20)
            ++hot;
    }
    EXPECT_GT(hot, 0);
    EXPECT_LT(hot, static_cast<int>(a.size() / 100));

    // With noise, two frames of the same exposure differ by noise only: the
    // hot pixels of one cancel in the other, but for their own shot noise.
    s.noise = true;
    SkyRenderer noisy(s, {});
    std::vector<std::uint8_t> f1, f2;
    noisy.render(longExp, ReadoutSettings{}, {}, 11, f1);
    noisy.render(longExp, ReadoutSettings{}, {}, 12, f2);
    int rawOutliers = 0, cleanedOutliers = 0;
    for (std::size_t i = 0; i < f1.size(); ++i) {
        rawOutliers += f1[i] - f1[0] > 40;
        if (f1[i] < 255 && f2[i] < 255)
            cleanedOutliers += std::abs(f1[i] - f2[i]) > 40;
    }
    EXPECT_GT(rawOutliers, 10);
    EXPECT_LT(cleanedOutliers, rawOutliers / 5) << rawOutliers;
}

TEST(SkyRenderer, GainOffsetBinningAndClipping) {
    SkyRenderer flat(quiet(Scene::Flat), {});
    const auto level = [&](ReadoutSettings ro, double exposure, int binning = 1) {
        std::vector<std::uint8_t> img;
        flat.render(window(10, 10, 8, 4, binning, exposure), ro, {}, 1, img);
        EXPECT_TRUE(std::all_of(img.begin(), img.end(), [&](auto v) { return v == img[0]; }));
        return int(img[0]);
    };
    ReadoutSettings base;
    const int bias = level(base, 0);
    const int signal = level(base, 0.5) - bias;
    ASSERT_GT(signal, 20);
    ASSERT_LT(signal, 100);
    // The offset moves every level by the same amount, whatever the exposure.
    ReadoutSettings raised = base;
    raised.offset = base.offset + 5;
    EXPECT_GT(level(raised, 0), bias);
    EXPECT_EQ(level(raised, 0.5) - level(raised, 0), signal);
    raised.offset = 0;
    EXPECT_EQ(level(raised, 0), 0);
    // Gain scales the signal above the offset level.
    ReadoutSettings doubled = base;
    doubled.gain = 16;
    EXPECT_NEAR(level(doubled, 0.5) - bias, 2 * signal, 1);
    // Binning sums the rows on the chip: twice the charge per sample.
    EXPECT_NEAR(level(base, 0.5, 2) - bias, 2 * signal, 1);
    // High gain saturates at 255.
    ReadoutSettings high = base;
    high.highGain = true;
    EXPECT_EQ(level(high, 1.0), 255);
}

TEST(SkyRenderer, RampIsAPredictablePattern) {
    SkyRenderer ramp(quiet(Scene::Ramp), {});
    const ImageRequest r = window(100, 40, 150, 6, 2);
    std::vector<std::uint8_t> img;
    ramp.render(r, ReadoutSettings{}, {}, 1, img);
    ASSERT_EQ(img.size(), 300u * 6u);
    for (int line = 0; line < 6; ++line)
        for (int c = 0; c < 300; ++c)
            ASSERT_EQ(img[static_cast<std::size_t>(line) * 300 + c],
                      (100 + c + 40 + 2 * line) & 0xFF);
}

TEST(SkyRenderer, MosaicPutsEachColourInItsClass) {
    // Class layout as the colour display decodes it.
    EXPECT_EQ(mosaicClass(0, 0), MosaicClass::Yellow);
    EXPECT_EQ(mosaicClass(1, 1), MosaicClass::Yellow);
    EXPECT_EQ(mosaicClass(0, 1), MosaicClass::Cyan);
    EXPECT_EQ(mosaicClass(1, 0), MosaicClass::Magenta);

    // A star's light summed per class and recombined the way the display does
    // (red = yellow + magenta, green = cyan + yellow, blue = cyan + magenta).
    struct Case {
        const char* name;
        double r, g, b;
        int strongest; // 0 red, 1 green, 2 blue
    };
    const Case cases[] = {{"red", 1, 0, 0, 0}, {"green", 0, 1, 0, 1}, {"blue", 0, 0, 1, 2}};
    for (const auto& c : cases) {
        Star star{100.5, 50.5, 2 * kTestFlux, c.r, c.g, c.b};
        SkyRenderer sky(quiet(Scene::Mosaic), {star});
        const ImageRequest r = window(0, 0, 200, 100);
        std::vector<std::uint8_t> img;
        sky.render(r, ReadoutSettings{}, {}, 1, img);
        double sum[3] = {}, count[3] = {};
        for (int y = 40; y < 62; ++y)
            for (int x = 90; x < 112; ++x) {
                const int k = static_cast<int>(mosaicClass(y, x));
                sum[k] += img[static_cast<std::size_t>(y) * 200 + x] - img[0];
                ++count[k];
            }
        const double yel = sum[0] / count[0], cyan = sum[1] / count[1], mag = sum[2] / count[2];
        const double rgb[3] = {yel + mag, cyan + yel, cyan + mag};
        const int strongest = static_cast<int>(std::max_element(rgb, rgb + 3) - rgb);
        EXPECT_EQ(strongest, c.strongest) << c.name;
    }

    // The colour gain registers act on their own class only (14 is unity).
    SkyRenderer flat(quiet(Scene::Mosaic), {});
    ReadoutSettings ro;
    ro.colour = {28, 14, 14, 7}; // cyan doubled, magenta halved
    std::vector<std::uint8_t> img, zero;
    flat.render(window(0, 0, 4, 4), ro, {}, 1, img);
    flat.render(window(0, 0, 4, 4, 1, 0), ro, {}, 1, zero);
    const auto at = [&](int y, int x) { return img[y * 4 + x] - zero[y * 4 + x]; };
    EXPECT_NEAR(at(0, 1), 2 * at(0, 0), 1);   // cyan
    EXPECT_NEAR(at(1, 0), at(0, 0) / 2.0, 1); // magenta
    EXPECT_EQ(at(1, 1), at(0, 0));            // both yellows
}
