#include "CameraState.h"

#include "DriverUpload.h"

#include <gtest/gtest.h>

namespace {

struct Apply : FrameSink {
    CameraState state;
    void frame(const Frame& f) override { state.apply(f); }
    void skipped(const std::uint8_t*, std::size_t) override {}
};

CameraState afterBytes(const std::vector<std::uint8_t>& bytes) {
    FrameDecoder d;
    Apply a;
    d.feed(bytes.data(), bytes.size(), a);
    return a.state;
}

CameraState afterUpload(const Upload& u, int timeBase = 90) {
    return afterBytes(Batch().start().settings(u, timeBase).imageRequest().bytes);
}

} // namespace

TEST(ExposureInversion, UploadedExposuresDecodeBack) {
    struct Case {
        float exposure;
        int w, b, timeBase;
        double tolerance; // seconds the upload arithmetic itself loses
    };
    // Up to one period the residual is exact to one unit; above it the
    // uploader drops the remainder, up to half a period either way.
    const Case cases[] = {
        {1.0f, 1280, 1, 90, 1e-9},
        {10.0f, 1280, 1, 90, 1e-9},
        {0.0f, 1280, 1, 90, 1 / 270.0},
        {0.1f, 1280, 1, 90, 1 / 270.0},
        {2.35f, 1280, 1, 90, 1 / 270.0},
        {1.0f, 640, 1, 90, 1e-9},
        {1.0f, 640, 2, 90, 1e-9},
        {1.0f, 320, 4, 90, 1e-9},
        {0.5f, 160, 1, 90, 1 / 2160.0},
        {60.0f, 1280, 1, 90, 10 / 3.0 + 1e-6},
        {3600.0f, 1280, 1, 90, 10 / 3.0 + 1e-6},
        {7.0f, 640, 1, 50, 10 / 6.0},
        {1.0f, 426, 3, 90, 1 / 270.0},
    };
    for (const auto& c : cases) {
        Upload u;
        u.w = c.w, u.h = 100, u.b = c.b, u.exposure = c.exposure;
        const CameraState s = afterUpload(u, c.timeBase);
        EXPECT_NEAR(s.request(c.timeBase).exposure, c.exposure, c.tolerance)
            << c.exposure << " s, width " << c.w << ", binning " << c.b;
    }
}

TEST(ExposureInversion, KnownWireValuesAndLimits) {
    // 1 s full frame at time base 90: residual 270 in 0x4F and 0x4E (+0x40).
    const CameraState one = afterUpload(Upload{});
    EXPECT_EQ(one.reg(0x4F), 0x0E);
    EXPECT_EQ(one.reg(0x4E), 0x41);
    EXPECT_EQ(one.residual(), 270u);
    EXPECT_EQ(one.word(0x62), 0u);
    // 10 s: one long period, residual a full period.
    Upload ten;
    ten.exposure = 10;
    const CameraState s10 = afterUpload(ten);
    EXPECT_EQ(s10.word(0x62), 1u);
    EXPECT_EQ(s10.residual(), 1800u);

    // A true remainder below one period is taken as it is.
    EXPECT_DOUBLE_EQ(exposureSeconds(2, 500, 1280, 90), (3600 + 500) / 270.0);
    // A line longer than the sensor leaves the arithmetic nothing to express.
    EXPECT_EQ(exposureSeconds(0, 1, 2560, 90), 0.0);
    EXPECT_EQ(exposureSeconds(0, 270, 0, 90), 0.0);
    EXPECT_EQ(exposureSeconds(0, 270, 1280, 0), 0.0);
}

TEST(CameraState, ImageSizeBinningAndWindowFollowTheUpload) {
    struct Case {
        int w, h, b, x0, y0;
    };
    const Case cases[] = {
        {1280, 1024, 1, 0, 0},   {640, 512, 1, 320, 256}, {640, 512, 2, 0, 0},
        {320, 256, 2, 160, 128}, {426, 341, 3, 0, 0},     {100, 50, 3, 7, 9},
        {320, 256, 4, 0, 0},     {160, 128, 4, 80, 64},   {1, 1, 1, 0, 0},
        {33, 17, 2, 5, 3},
    };
    for (const auto& c : cases) {
        Upload u;
        u.w = c.w, u.h = c.h, u.b = c.b, u.x0 = c.x0, u.y0 = c.y0;
        const ImageRequest r = afterUpload(u).request(90);
        const std::size_t driverExpects =
            c.b > 1 ? std::size_t(c.w) * c.h * c.b : std::size_t(c.w) * c.h;
        EXPECT_EQ(r.byteCount(), driverExpects) << c.w << "x" << c.h << " bin " << c.b;
        EXPECT_EQ(r.binning, c.b);
        EXPECT_EQ(r.width, c.w);
        EXPECT_EQ(r.lines, c.h);
        EXPECT_EQ(r.lineBytes, c.w * c.b);
        EXPECT_EQ(r.sensorX0, c.b * c.x0);
        EXPECT_EQ(r.sensorY0, c.b * c.y0);
    }
}

TEST(CameraState, BinningFallsBackOnTheModeRegister) {
    // Window height register not matching the geometry: the mode register decides.
    struct Case {
        std::vector<int> modes;
        int line;
        int binning;
    };
    const Case cases[] = {{{0x10}, 640, 1}, {{0x20}, 640, 2}, {{0x20, 0x24}, 640, 4}};
    for (const auto& c : cases) {
        Batch batch;
        for (int m : c.modes)
            batch.reg(0x41, m);
        batch.reg(0x47, 0).reg(0x48, 7).raw({0x31, c.line >> 8, c.line & 0xFF, 0, 100});
        EXPECT_EQ(afterBytes(batch.bytes).binning(), c.binning);
    }
}

TEST(CameraState, WordFramesWithTheirTopHalf) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        int cmd;
        std::uint32_t value;
    };
    const Case cases[] = {
        {"two frames for a top byte", Batch().word(0x60, 0x01020304).bytes, 0x60, 0x01020304},
        {"bits 16-23 alone are not sent", Batch().word(0x61, 0x00010000).bytes, 0x61, 0},
        {"zero then a count is a new value", Batch().word(0x62, 0).word(0x62, 0x0203).bytes, 0x62,
         0x0203},
        {"a later frame replaces the value",
         Batch().word(0x62, 0x01020304).reg(0x10, 1).word(0x62, 7).bytes, 0x62, 7},
        {"a word of another kind in between",
         Batch().word(0x60, 9).word(0x61, 3).word(0x60, 4).bytes, 0x60, 4},
    };
    for (const auto& c : cases)
        EXPECT_EQ(afterBytes(c.bytes).word(c.cmd), c.value) << c.name;
}

TEST(CameraState, PowersUpWithAOneSecondFullFrame) {
    const ImageRequest r = CameraState().request(90);
    EXPECT_EQ(r.byteCount(), 1280u * 1024u);
    EXPECT_EQ(r.binning, 1);
    EXPECT_EQ(r.sensorX0, 0);
    EXPECT_EQ(r.sensorY0, 0);
    EXPECT_DOUBLE_EQ(r.exposure, 1.0);
}

TEST(CameraState, ReadoutRegisters) {
    Upload u;
    u.gain = 40, u.offset = 31, u.highGain = true, u.C = 1, u.Y2 = 2, u.Y1 = 3, u.M = 4;
    const ReadoutSettings r = afterUpload(u).readout();
    EXPECT_EQ(r.gain, 40);
    EXPECT_EQ(r.offset, 31);
    EXPECT_TRUE(r.highGain);
    EXPECT_EQ(r.colour, (std::array<int, 4>{1, 2, 3, 4}));
    u.highGain = false;
    EXPECT_FALSE(afterUpload(u).readout().highGain);
}
