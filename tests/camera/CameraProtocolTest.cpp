#include "LinkFixture.h"

#include "CameraProtocol.h"

#include <climits>
#include <numeric>

namespace cp = camera_protocol;

namespace {

// A 5-byte frame with the 0x00, 0xFF tail, or a raw one.
Bytes F(unsigned a, unsigned b, unsigned c) {
    return {Bytes::value_type(a), Bytes::value_type(b), Bytes::value_type(c), 0x00, 0xFF};
}
Bytes raw(unsigned a, unsigned b, unsigned c, unsigned d, unsigned e) {
    return {Bytes::value_type(a), Bytes::value_type(b), Bytes::value_type(c), Bytes::value_type(d),
            Bytes::value_type(e)};
}
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes pulse =
    cat({F(0x66, 0x0E, 0x02), F(0x11, 0x00, 0x64), F(0x66, 0x0E, 0x00), F(0x11, 0x00, 0x64)});
const Bytes prelude = cat({F(0x66, 0x56, 0), F(0x66, 0x21, 0), F(0x66, 0x22, 0), F(0x66, 0x20, 0),
                           F(0x66, 0x0A, 0), F(0x66, 0x0B, 0)});

// Third bytes of every 0x66 frame writing register r, in order.
std::vector<int> registerWrites(const ScriptedPort& p, int r) {
    std::vector<int> out;
    for (const Bytes& f : p.frames())
        if (f[0] == 0x66 && f[1] == r)
            out.push_back(f[2]);
    return out;
}

// Frames with the given first byte.
std::vector<Bytes> framesOf(const ScriptedPort& p, int first) {
    std::vector<Bytes> out;
    for (const Bytes& f : p.frames())
        if (f[0] == first)
            out.push_back(f);
    return out;
}

} // namespace

class CameraProtocolTest : public LinkFixture {
protected:
    void SetUp() override {
        LinkFixture::SetUp();
        cp::cameraStart(3, 90);
        link().flushQueue();
        port.written.clear();
    }
};

TEST_F(CameraProtocolTest, StartUpQueuesFortyBytesForTheNextWrite) {
    port.written.clear();
    SerialLink::setPort(&port); // forget the fixture's open port
    cp::cameraStart(6, 120);
    EXPECT_EQ(port.openedPaths.back(), serialPortPath(6));
    EXPECT_TRUE(port.written.empty()) << "nothing leaves before the next batch";
    EXPECT_EQ(cp::timeBase(), 120);
    link().flushQueue();
    const Bytes expected = cat({F(0xFF, 0x00, 0xFF), pulse, F(0x66, 0x40, 0x6A),
                                F(0x66, 0x42, 0x01), F(0x11, 0x00, 0x64)});
    EXPECT_EQ(port.written.size(), 40u);
    EXPECT_EQ(port.written, expected);
}

TEST_F(CameraProtocolTest, FullFrameOneSecondSettingsBatch) {
    CameraSettings s; // 1280 x 1024, binning 1, 1 s, gains 14, offset 10
    EXPECT_EQ(cp::uploadSettings(s), 0);
    const Bytes expected = cat({
        prelude,
        F(0x60, 0x00, 0x05),
        F(0x61, 0x00, 0x02),
        F(0x62, 0x00, 0x00),
        F(0x62, 0x00, 0x00), // no long period
        prelude,
        pulse,
        F(0x66, 0x40, 0x6A),
        F(0x66, 0x56, 0x00),
        F(0x66, 0x41, 0x10),
        F(0x66, 0x50, 0x04),
        F(0x66, 0x51, 0x2C),
        F(0x66, 0x52, 0x05),
        F(0x66, 0x53, 0x14),
        F(0x66, 0x49, 0x00),
        F(0x66, 0x4A, 0x08),
        F(0x66, 0x4B, 0x05),
        F(0x66, 0x4C, 0x00),
        F(0x66, 0x45, 0x00),
        F(0x66, 0x46, 0x10),
        F(0x66, 0x47, 0x04),
        F(0x66, 0x48, 0x00),
        raw(0x31, 0x05, 0x00, 0x04, 0x00),
        F(0x66, 0x22, 0x00),
        F(0x66, 0x20, 0x00),
        F(0x66, 0x4F, 0x0E),
        F(0x66, 0x4E, 0x01),
        F(0x66, 0x4E, 0x41), // residual 270
        F(0x66, 0x10, 0x00),
        F(0x66, 0x23, 0x0A),
        F(0x66, 0x00, 0x0E),
        F(0x66, 0x01, 0x0E),
        F(0x66, 0x02, 0x0E),
        F(0x66, 0x03, 0x0E),
    });
    EXPECT_EQ(port.written.size(), 235u);
    EXPECT_EQ(port.written, expected);
}

TEST_F(CameraProtocolTest, SettingsBatchVariants) {
    struct Case {
        const char* name;
        CameraSettings s;
        std::size_t size;
        int reg; // a register whose writes are checked
        std::vector<int> values;
    };
    auto with = [](auto change) {
        CameraSettings s;
        change(s);
        return s;
    };
    const Case cases[] = {
        {"10 s: one long period, residual R",
         with([](auto& s) { s.exposure = 10; }),
         235,
         0x4E,
         {0x07, 0x47}},
        {"10 s residual low byte", with([](auto& s) { s.exposure = 10; }), 235, 0x4F, {0x08}},
        {"640 wide doubles the ticks", with([](auto& s) { s.width = 640; }), 235, 0x4F, {0x1C}},
        {"640 wide line length", with([](auto& s) { s.width = 640; }), 235, 0x4C, {0x80}},
        {"0 s still counts one tick",
         with([](auto& s) { s.exposure = 0; }),
         235,
         0x4E,
         {0x00, 0x40}},
        {"0 s residual low", with([](auto& s) { s.exposure = 0; }), 235, 0x4F, {0x01}},
        {"binning 2 full frame keeps k = 1",
         with([](auto& s) {
             s.binning = 2;
             s.width = 640;
             s.height = 512;
         }),
         235,
         0x4F,
         {0x0E}},
        {"binning 2 mode",
         with([](auto& s) {
             s.binning = 2;
             s.width = 640;
             s.height = 512;
         }),
         235,
         0x41,
         {0x20}},
        {"binning 2 sensor lines",
         with([](auto& s) {
             s.binning = 2;
             s.width = 640;
             s.height = 512;
         }),
         235,
         0x48,
         {0x00}},
        {"binning 2 total lines",
         with([](auto& s) {
             s.binning = 2;
             s.width = 640;
             s.height = 512;
         }),
         235,
         0x51,
         {0x2C}},
        {"binning 3 sends mode 2",
         with([](auto& s) {
             s.binning = 3;
             s.width = 426;
             s.height = 341;
         }),
         235,
         0x41,
         {0x20}},
        {"binning 4 sends both modes",
         with([](auto& s) {
             s.binning = 4;
             s.width = 320;
             s.height = 256;
         }),
         240,
         0x41,
         {0x20, 0x24}},
        {"origin x scaled by binning",
         with([](auto& s) {
             s.binning = 2;
             s.originX = 100;
         }),
         235,
         0x4A,
         {208}},
        {"origin y scaled by binning",
         with([](auto& s) {
             s.binning = 2;
             s.originY = 50;
         }),
         235,
         0x46,
         {116}},
        {"high gain", with([](auto& s) { s.highGain = 1; }), 235, 0x22, {0, 0, 0x02}},
        {"high gain A", with([](auto& s) { s.highGain = 1; }), 235, 0x20, {0, 0, 0x1F}},
        {"gains and offset",
         with([](auto& s) {
             s.gain = 63;
             s.offset = 31;
             s.C = 1;
             s.M = 2;
         }),
         235,
         0x10,
         {63}},
        {"vitv top byte adds a frame", with([](auto& s) { s.vitv = 0x01000005; }), 240, 0x60, {}},
        {"vitv and vitp top bytes",
         with([](auto& s) {
             s.vitv = 0x01000005;
             s.vitp = -1;
         }),
         245,
         0x61,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        port.written.clear();
        cp::uploadSettings(c.s);
        EXPECT_EQ(port.written.size(), c.size);
        if (!c.values.empty()) {
            EXPECT_EQ(registerWrites(port, c.reg), c.values);
        }
    }
    // The extra word frames follow their first frame.
    port.written.clear();
    cp::uploadSettings(with([](auto& s) {
        s.vitv = 0x01020005;
        s.vitp = 0x7F000002;
    }));
    EXPECT_EQ(framesOf(port, 0x60), (std::vector<Bytes>{F(0x60, 0x00, 0x05), F(0x60, 0x01, 0x02)}));
    EXPECT_EQ(framesOf(port, 0x61), (std::vector<Bytes>{F(0x61, 0x00, 0x02), F(0x61, 0x7F, 0x00)}));
    // 10 s: count 1 goes in the second 0x62 frame; the geometry follows the window.
    port.written.clear();
    cp::uploadSettings(with([](auto& s) {
        s.exposure = 10;
        s.width = 640;
        s.height = 512;
        s.binning = 2;
    }));
    EXPECT_EQ(framesOf(port, 0x62), (std::vector<Bytes>{F(0x62, 0, 0), F(0x62, 0, 0x01)}));
    EXPECT_EQ(framesOf(port, 0x31), (std::vector<Bytes>{raw(0x31, 0x05, 0x00, 0x02, 0x00)}));
}

TEST_F(CameraProtocolTest, StartUpFramesLeaveWithTheSettings) {
    cp::cameraStart(3, 90); // port already open: queues only
    EXPECT_EQ(port.openedPaths.size(), 1u);
    cp::uploadSettings(CameraSettings{});
    ASSERT_EQ(port.written.size(), 275u);
    EXPECT_EQ(Bytes(port.written.begin(), port.written.begin() + 5), F(0xFF, 0x00, 0xFF));
}

TEST(ExposureSplit, TicksAndLongPeriods) {
    struct Case {
        long long lineLength;
        float seconds;
        int timeBase;
        std::int32_t count, residual;
    };
    const Case cases[] = {
        {1280, 1.0f, 90, 0, 270},
        {1280, 10.0f, 90, 1, 1800},
        {1280, 100.0f, 90, 15, 1800}, // 27000 ticks: the residual is R, not the remainder
        {640, 1.0f, 90, 0, 540},
        {1280, 6.66f, 90, 0, 1798},
        {1280, 6.67f, 90, 0, 1800}, // 1800.9 ticks: exactly R stays residual
        {1280, 6.68f, 90, 1, 1800},
        {1280, 0.0f, 90, 0, 1},
        {1281, 5.0f, 90, 0, 1},   // wider than the reference line: k = 0
        {0, 5.0f, 90, 0, 1},      // no line at all
        {1280, 0.7f, 90, 0, 188}, // single-precision 0.7 is just below: 188.99999..
        {1280, 1.0f, 0, 0, 1},    // a zero time base has no long period
        {1280, 3600.0f, 2000000000, 0, INT32_MAX},
    };
    for (const Case& c : cases) {
        const ExposureSplit e = splitExposure(c.lineLength, c.seconds, c.timeBase);
        EXPECT_EQ(e.count, c.count) << c.lineLength << " " << c.seconds << " " << c.timeBase;
        EXPECT_EQ(e.residual, c.residual) << c.lineLength << " " << c.seconds << " " << c.timeBase;
    }
}

TEST_F(CameraProtocolTest, ImageRequestThenTransferIntoPixels) {
    port.incoming = {{0xAA, 0xBB, 0xCC}}; // left over from an aborted transfer
    const Bytes image = {1, 2, 3, 4, 5, 6, 255, 0, 10, 20, 200, 100};
    port.reply = {
        Bytes(image.begin(), image.begin() + 5), Bytes(image.begin() + 5, image.end()), {7, 7}};
    clock.set(123456);
    std::vector<unsigned short> pixels(3 * 2 + 1, 0xBEEF);
    std::time_t requested = 0;
    EXPECT_EQ(cp::readImage(3, 2, 2, pixels.data(), 1.0f, &requested), 0);
    const Bytes request =
        cat({pulse, F(0x66, 0x42, 0x01), F(0x66, 0x42, 0x00), F(0x10, 0x00, 0x00)});
    EXPECT_EQ(port.written.size(), 35u);
    EXPECT_EQ(port.written, request);
    EXPECT_EQ(requested, 123456);
    const std::vector<unsigned short> expected = {3 * 128,  7 * 128,   11 * 128, 255 * 128,
                                                  30 * 128, 255 * 128, 0xBEEF};
    EXPECT_EQ(pixels, expected);
    EXPECT_EQ(port.bytesWaiting(), 2) << "surplus bytes are not read";
}

TEST_F(CameraProtocolTest, ImageTransferLimitIsExposurePlusSixtySeconds) {
    struct Case {
        float exposure;
        std::time_t dryAfter; // seconds of silence after the request
        int result;
    };
    const Case cases[] = {{0.0f, 60, 0},  {0.0f, 61, 2}, {10.0f, 70, 0},
                          {10.0f, 71, 2}, {2.5f, 62, 0}, {2.5f, 63, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exposure);
        ScriptedPort p;
        ManualClock clk{1000};
        SerialLink::setPort(&p);
        SerialLink::setClock(&clk);
        link().portOpen();
        p.clock = &clk;
        // First read: nothing; the clock jumps; then one byte arrives.
        p.reply = {{}, {42}};
        p.secondsPerRead = c.dryAfter;
        ModalWatcher watcher;
        unsigned short px = 0;
        EXPECT_EQ(cp::readImage(1, 1, 1, &px, c.exposure), c.result);
        EXPECT_EQ(watcher.seen().size(), c.result == 2 ? 1u : 0u);
        SerialLink::setPort(&port);
        SerialLink::setClock(&clock);
    }
}

TEST_F(CameraProtocolTest, MoveFrames) {
    struct Case {
        int x, y;
        std::vector<Bytes> frames;
    };
    const Case cases[] = {
        {5, 0, {raw(0x30, 0, 0x41, 0, 5)}},
        {0, -5, {raw(0x30, 0, 0x48, 0, 6)}},
        {-1, 7, {raw(0x30, 0, 0x42, 0, 2), raw(0x30, 0, 0x44, 0, 7)}},
        {0, 0, {}},
        {0x12345, 0, {raw(0x30, 0, 0x41, 0x23, 0x45)}},
        {INT_MIN, INT_MAX, {raw(0x30, 0, 0x42, 0, 1), raw(0x30, 0, 0x44, 0xFF, 0xFF)}},
    };
    for (const Case& c : cases) {
        port.written.clear();
        cp::sendMove(c.x, c.y);
        EXPECT_EQ(port.frames(), c.frames) << c.x << ", " << c.y;
    }
    // Still and with frames already queued: those go out.
    port.written.clear();
    cp::pulseSequence();
    cp::sendMove(0, 0);
    EXPECT_EQ(port.written, pulse);
}

TEST(PixelConverter, KnownSamples) {
    struct Case {
        int binning;
        Bytes samples;
        std::vector<unsigned short> pixels;
    };
    const Case cases[] = {
        {1, {0, 1, 255}, {0, 128, 32640}},
        {2, {200, 100, 10, 20}, {32640, 3840}},
        {3, {100, 100, 100, 1, 2, 3}, {32640, 768}},
        {4, {1, 2, 3, 4, 255, 0, 0, 0, 64, 64, 64, 63}, {1280, 32640, 32640}},
        {0, {3}, {384}}, // no binning behaves like binning 1
    };
    for (const Case& c : cases) {
        std::vector<unsigned short> out(c.pixels.size() + 1, 0xBEEF);
        PixelConverter conv(out.data(), c.binning);
        conv.consume(c.samples.data(), c.samples.size());
        EXPECT_EQ(conv.pixelsWritten(), c.pixels.size()) << c.binning;
        EXPECT_EQ(std::vector<unsigned short>(out.begin(), out.end() - 1), c.pixels) << c.binning;
        EXPECT_EQ(out.back(), 0xBEEF) << c.binning;
    }
}

TEST(PixelConverter, GroupsSpanChunkBoundaries) {
    // 24 samples: a multiple of every group size; values chosen so that sums
    // sometimes saturate.
    Bytes samples(24);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<unsigned char>((i * 53 + 11) % 256);
    for (int b = 1; b <= 4; ++b) {
        const std::size_t n = samples.size() / std::size_t(b);
        std::vector<unsigned short> whole(n);
        PixelConverter(whole.data(), b).consume(samples.data(), samples.size());
        for (std::size_t i = 0; i < n; ++i) {
            unsigned s = 0;
            for (int j = 0; j < b; ++j)
                s += samples[i * std::size_t(b) + std::size_t(j)];
            ASSERT_EQ(whole[i], std::min(s, 255u) * 128) << "binning " << b << " pixel " << i;
        }
        // Every pair of cut points, giving up to three chunks, gives the same pixels.
        for (std::size_t i = 0; i <= samples.size(); ++i) {
            for (std::size_t j = i; j <= samples.size(); ++j) {
                std::vector<unsigned short> split(n + 1, 0xBEEF);
                PixelConverter conv(split.data(), b);
                conv.consume(samples.data(), i);
                conv.consume(samples.data() + i, j - i);
                conv.consume(samples.data() + j, samples.size() - j);
                ASSERT_EQ(std::vector<unsigned short>(split.begin(), split.end() - 1), whole)
                    << "binning " << b << " cuts " << i << ", " << j;
                ASSERT_EQ(split.back(), 0xBEEF);
            }
        }
    }
}
