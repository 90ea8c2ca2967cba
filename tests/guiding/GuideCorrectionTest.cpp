#include "GuideCorrection.h"

#include "GuidingTestImages.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace {

GuideParams params(SuiviPrm prm) {
    return loadGuideParams(prm);
}

SuiviPrm gains100() {
    return SuiviPrm{};
}

} // namespace

TEST(GuideParams, DefaultsAndConversion) {
    const SuiviPrm d;
    EXPECT_EQ((std::vector<int>{d.gain1, d.gain2, d.inv1, d.inv2, d.inv12, d.biais1, d.biais2,
                                d.cadence, d.rot, d.capture, d.mvtmax, d.gt}),
              (std::vector<int>{100, 100, 0, 0, 0, 0, 0, 1000, 0, 10, 20, 50}));

    SuiviPrm prm;
    prm.gain1 = 7;
    prm.gain2 = 9;
    prm.biais1 = 3;
    prm.biais2 = 4;
    prm.mvtmax = 15;
    prm.inv1 = 1;
    prm.inv12 = 1;
    prm.capture = 11;
    prm.rot = 90;
    const GuideParams p = loadGuideParams(prm);
    EXPECT_EQ(p.gain1, 7.0f);
    EXPECT_EQ(p.gain2, 9.0f);
    EXPECT_EQ(p.bias1, 3.0f);
    EXPECT_EQ(p.bias2, 4.0f);
    EXPECT_EQ(p.maxMove, 15.0f);
    EXPECT_EQ(p.invert1, 1);
    EXPECT_EQ(p.invert2, 0);
    EXPECT_EQ(p.exchange, 1);
    EXPECT_EQ(p.capture, 11);
    // 90 / 57.3, a little short of a right angle.
    EXPECT_EQ(p.rotation, 1.5706806f);
    EXPECT_NE(p.rotation, static_cast<float>(M_PI / 2));

    prm.cadence = 250;
    EXPECT_DOUBLE_EQ(cadenceSeconds(prm), 0.25);
}

TEST(ComputeCorrection, GainsBiasesInversionsAndExchange) {
    struct Case {
        const char* what;
        SuiviPrm prm;
        float ex, ey;
        MountMove move;
    };
    auto with = [](auto change) {
        SuiviPrm p = gains100();
        change(p);
        return p;
    };
    const Case cases[] = {
        {"gains 100", gains100(), 0.5f, -0.25f, {-50, -25}},
        {"Inv1", with([](SuiviPrm& p) { p.inv1 = 1; }), 0.5f, -0.25f, {51, -25}},
        {"Inv1 and Inv12",
         with([](SuiviPrm& p) { p.inv1 = p.inv12 = 1; }),
         0.5f,
         -0.25f,
         {-25, 51}},
        {"Inv2", with([](SuiviPrm& p) { p.inv2 = 1; }), 0.5f, -0.25f, {-50, 26}},
        {"Inv12 alone", with([](SuiviPrm& p) { p.inv12 = 1; }), 0.5f, -0.25f, {-25, -50}},
        {"negative errors move forward", gains100(), -0.5f, 0.25f, {50, 25}},
        {"zero error", gains100(), 0.0f, 0.0f, {0, 0}},
        {"zero error, Inv1", with([](SuiviPrm& p) { p.inv1 = 1; }), 0.0f, 0.0f, {1, 0}},
        {"zero error takes the bias", with([](SuiviPrm& p) { p.biais1 = 5; }), 0.0f, 0.0f, {5, 0}},
        {"bias adds to the magnitude, positive error",
         with([](SuiviPrm& p) { p.biais1 = 5; }),
         0.5f,
         0.0f,
         {-55, 0}},
        {"bias adds to the magnitude, negative error",
         with([](SuiviPrm& p) { p.biais1 = 5; }),
         -0.5f,
         0.0f,
         {55, 0}},
        {"bias on axis 2", with([](SuiviPrm& p) { p.biais2 = 3; }), 0.0f, 0.5f, {0, 53}},
        {"truncation toward zero", gains100(), 0.559f, -0.559f, {-55, -55}},
        {"truncation toward zero, other sign", gains100(), -0.559f, 0.559f, {55, 55}},
        {"separate gains",
         with([](SuiviPrm& p) { p.gain1 = 10, p.gain2 = 1000; }),
         1.25f,
         0.01f,
         {-12, 10}},
        // 90 / 57.3 rad: d1 = 0.24988 (not 0.25) and d2 = -1.000029.
        {"rot 90", with([](SuiviPrm& p) { p.rot = 90; }), -1.0f, 0.25f, {-24, 100}},
        {"rot 90, large gain",
         with([](SuiviPrm& p) { p.rot = 90, p.gain1 = 100000; }),
         2.0f,
         0.0f,
         {-23, -200}},
        {"huge gain saturates",
         with([](SuiviPrm& p) { p.gain1 = INT_MAX; }),
         20.0f,
         0.0f,
         {INT_MIN, 0}},
        {"huge gain saturates after inversion",
         with([](SuiviPrm& p) { p.gain1 = INT_MAX, p.inv1 = 1; }),
         20.0f,
         0.0f,
         {INT_MAX, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(computeCorrection(params(c.prm), c.ex, c.ey), c.move)
            << c.what << ": got " << computeCorrection(params(c.prm), c.ex, c.ey).axis1 << ", "
            << computeCorrection(params(c.prm), c.ex, c.ey).axis2;
}

TEST(ComputeCorrection, Rotation90IsNotQuiteARightAngle) {
    SuiviPrm prm;
    prm.rot = 90;
    const float theta = loadGuideParams(prm).rotation;
    for (float ex : {1.0f, 7.5f, -3.0f, 100.0f}) {
        const MountError e = rotateError(theta, ex, 0.0f);
        EXPECT_NEAR(e.d1 / ex, 0.000116, 5e-7) << ex;
        EXPECT_NEAR(e.d2, ex, 1e-5) << ex;
    }
    for (auto [ex, ey] : {std::pair{1.0f, 0.5f}, std::pair{-4.0f, 2.0f}, std::pair{3.0f, -1.0f}}) {
        const MountError e = rotateError(theta, ex, ey);
        EXPECT_NEAR(e.d1, 0.0001157085 * ex + ey, 1e-6) << ex << ", " << ey;
    }
    // No rotation: d1 is the column error, d2 the opposite of the row error.
    const MountError e = rotateError(0.0f, 0.75f, 0.5f);
    EXPECT_EQ(e.d1, 0.75f);
    EXPECT_EQ(e.d2, -0.5f);
}

namespace {

struct TickImage {
    ImageBuffer image;
    explicit TickImage(int w = 200, int h = 120) { makeImage(image, w, h); }
};

GuideState stateAt(float rx, float ry, int capture = 10, int threshold = 900) {
    GuideState s;
    s.refX = rx;
    s.refY = ry;
    s.zone = zoneAround(static_cast<int>(rx), static_cast<int>(ry), capture / 2);
    s.threshold = threshold;
    return s;
}

} // namespace

TEST(GuideTick, AcceptsCorrectsAndRecentres) {
    TickImage t;
    // Two equal pixels: centroid (100.5, 50.0).
    px(t.image, 100, 50) = 1000;
    px(t.image, 101, 50) = 1000;
    const GuideTick tick = evaluateGuideTick(t.image, params(gains100()), stateAt(100.0f, 50.25f));
    EXPECT_TRUE(tick.moveSent);
    EXPECT_EQ(tick.move, (MountMove{-50, -25}));
    EXPECT_EQ(tick.ex, 0.5f);
    EXPECT_EQ(tick.ey, -0.25f);
    EXPECT_EQ(tick.level, 1000);
    EXPECT_EQ(tick.zone, (GuideZone{95, 105, 45, 55}));
}

TEST(GuideTick, MaximumMoveBoundsBothAxes) {
    struct Case {
        const char* what;
        int starX, starY;
        float refX, refY;
        bool accepted;
    };
    const Case cases[] = {
        {"exactly the maximum on x", 120, 50, 100.0f, 50.0f, true},
        {"exactly the maximum on y, negative", 100, 30, 100.0f, 50.0f, true},
        {"just past on x", 120, 50, 99.99f, 50.0f, false},
        {"just past on y, negative", 100, 30, 100.0f, 50.01f, false},
    };
    for (const Case& c : cases) {
        TickImage t;
        px(t.image, c.starX, c.starY) = 2000;
        GuideState s = stateAt(c.refX, c.refY);
        s.zone = zoneAround(c.starX, c.starY, 5); // the star was followed there
        const GuideTick tick = evaluateGuideTick(t.image, params(gains100()), s);
        EXPECT_EQ(tick.moveSent, c.accepted) << c.what;
        EXPECT_EQ(tick.level, 2000) << c.what; // measured level shown either way
        if (c.accepted) {
            EXPECT_EQ(tick.ex, c.starX - c.refX) << c.what;
            EXPECT_EQ(tick.zone, zoneAround(c.starX, c.starY, 5)) << c.what;
        } else {
            EXPECT_EQ(tick.ex, 0.0f) << c.what;
            EXPECT_EQ(tick.ey, 0.0f) << c.what;
            EXPECT_EQ(tick.zone, zoneAround(static_cast<int>(c.refX), static_cast<int>(c.refY), 5))
                << c.what;
        }
    }
}

TEST(GuideTick, VanishedStarIsDroppedWithLevelZero) {
    TickImage t;
    px(t.image, 101, 51) = 899; // below the threshold of 900
    GuideState s = stateAt(100.4f, 50.6f);
    s.zone = GuideZone{96, 106, 46, 56};
    const GuideTick tick = evaluateGuideTick(t.image, params(gains100()), s);
    EXPECT_FALSE(tick.moveSent);
    EXPECT_EQ(tick.ex, 0.0f);
    EXPECT_EQ(tick.ey, 0.0f);
    EXPECT_EQ(tick.level, 0);
    EXPECT_EQ(tick.zone, (GuideZone{95, 105, 45, 55}));
}

TEST(GuideTick, CaptureTenAndElevenBothGiveElevenPixelZones) {
    for (int capture : {10, 11}) {
        TickImage t;
        px(t.image, 60, 40) = 5000;
        SuiviPrm prm;
        prm.capture = capture;
        const GuideTick tick =
            evaluateGuideTick(t.image, params(prm), stateAt(60.0f, 40.0f, capture));
        EXPECT_EQ(tick.zone, (GuideZone{55, 65, 35, 45})) << capture;
    }
}

TEST(GuideTick, DarkStartKeepsTheZone) {
    TickImage t;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    GuideState s;
    s.refX = nan;
    s.refY = nan;
    s.zone = GuideZone{40, 50, 30, 40};
    px(t.image, 45, 35) = 100; // a star appears later: still no reference to correct to
    const GuideTick tick = evaluateGuideTick(t.image, params(gains100()), s);
    EXPECT_FALSE(tick.moveSent);
    EXPECT_EQ(tick.zone, s.zone);
    EXPECT_EQ(tick.ex, 0.0f);
}

TEST(ManualMove, ButtonTable) {
    struct Case {
        const char* what;
        ManualMoveSettings s;
        MountMove haut, bas, gauche, droite;
    };
    const Case cases[] = {
        {"store empty", {}, {0, 10000}, {0, -9999}, {10000, 0}, {-9999, 0}},
        {"gt 50", {50, 100, 100, 0, 0, 0}, {0, 5000}, {0, -4999}, {5000, 0}, {-4999, 0}},
        {"gt 50, Inv1", {50, 100, 100, 1, 0, 0}, {0, -4999}, {0, 5000}, {5000, 0}, {-4999, 0}},
        {"gt 50, Inv1, Inv12",
         {50, 100, 100, 1, 0, 1},
         {-4999, 0},
         {5000, 0},
         {0, 5000},
         {0, -4999}},
        {"gains apart", {2, 3, 7, 0, 0, 0}, {0, 6}, {0, -5}, {14, 0}, {-13, 0}},
        {"gt 0", {0, 100, 100, 0, 0, 0}, {0, 0}, {0, 1}, {0, 0}, {1, 0}},
        {"gt 0, Inv1", {0, 100, 100, 1, 0, 0}, {0, 1}, {0, 0}, {0, 0}, {1, 0}},
        {"gt 0, Inv2", {0, 100, 100, 0, 1, 0}, {0, 0}, {0, 1}, {1, 0}, {0, 0}},
        {"product past 32 bits saturates",
         {100000, 100000, 1, 0, 0, 0},
         {0, INT_MAX},
         {0, INT_MIN},
         {100000, 0},
         {-99999, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(manualMove(ManualDirection::Haut, c.s), c.haut) << c.what;
        EXPECT_EQ(manualMove(ManualDirection::Bas, c.s), c.bas) << c.what;
        EXPECT_EQ(manualMove(ManualDirection::Gauche, c.s), c.gauche) << c.what;
        EXPECT_EQ(manualMove(ManualDirection::Droite, c.s), c.droite) << c.what;
    }
}
