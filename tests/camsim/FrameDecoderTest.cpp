#include "FrameDecoder.h"

#include "DriverUpload.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Writes what the decoder reports as a compact trace: one letter per frame
// kind, "-N" for a run of N skipped bytes.
struct Trace : FrameSink {
    std::string text;
    std::string kinds; // the frame letters alone
    std::vector<Frame> frames;
    std::size_t skippedBytes = 0;

    void frame(const Frame& f) override {
        static const char letters[] = "RWTIOGM";
        text += letters[static_cast<int>(f.kind)];
        kinds += letters[static_cast<int>(f.kind)];
        frames.push_back(f);
    }
    void skipped(const std::uint8_t*, std::size_t n) override {
        text += "-" + std::to_string(n);
        skippedBytes += n;
    }
};

Trace decode(const std::vector<std::uint8_t>& bytes, std::size_t chunk = 0) {
    FrameDecoder d;
    Trace t;
    if (chunk == 0)
        chunk = bytes.size();
    for (std::size_t i = 0; i < bytes.size(); i += chunk)
        d.feed(bytes.data() + i, std::min(chunk, bytes.size() - i), t);
    return t;
}

} // namespace

TEST(FrameDecoder, ReadsEveryFrameKindAndResynchronises) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::string trace;
    };
    const std::vector<Case> cases = {
        {"register", {0x66, 0x41, 0x20, 0x00, 0xFF}, "R"},
        {"words", Batch().word(0x60, 5).word(0x61, 2).word(0x62, 0x01020304).bytes, "WWWW"},
        {"timed step, image start, opening",
         Batch().frame(0x11, 0, 0x64).frame(0x10, 0, 0).raw({0xFF, 0, 0xFF, 0, 0xFF}).bytes, "TIO"},
        {"geometry and moves carry no tail",
         {0x31, 0x05, 0x00, 0x04, 0x00, 0x30, 0x00, 0x41, 0x00, 0x05, 0x30, 0x00, 0x48, 0x00, 0x06},
         "GMM"},
        {"unknown bytes before a frame", {0x01, 0x02, 0x03, 0x66, 0x10, 0x00, 0x00, 0xFF}, "-3R"},
        {"a frame that lost a byte costs that frame only",
         {0x66, 0x41, 0x00, 0xFF, 0x66, 0x10, 0x05, 0x00, 0xFF},
         "-4R"},
        {"an extra byte inside a frame",
         {0x66, 0x41, 0x20, 0x77, 0x00, 0xFF, 0x66, 0x23, 0x0A, 0x00, 0xFF},
         "-6R"},
        {"a frame byte that starts nothing valid", {0x66, 0x66, 0x10, 0x05, 0x00, 0xFF}, "-1R"},
        {"image start with a payload is no image start",
         {0x10, 0x01, 0x00, 0x00, 0xFF, 0x10, 0x00, 0x00, 0x00, 0xFF},
         "-5I"},
        {"move with an unknown direction",
         {0x30, 0x00, 0x43, 0x00, 0x05, 0x66, 1, 2, 0, 0xFF},
         "-5R"},
        {"trailing partial frame is held", {0x66, 0x41, 0x20}, ""},
        {"a whole start and settings batch",
         Batch().start().settings(Upload{}, 90).imageRequest().bytes,
         "OR"
         "T"
         "R"
         "T"
         "RRT"
         "RRRRRRWWWW"
         "RRRRRR"
         "RTRT"
         "RR"
         "R"
         "RRRR"
         "RRRR"
         "RRRR"
         "G"
         "RR"
         "RRR"
         "RRRRRR"
         "RTRTRRI"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decode(c.bytes).text, c.trace) << c.name;
        // Bytes arriving one at a time give the same frames and skip as many
        // bytes (skipped runs are reported at the end of each read).
        const Trace whole = decode(c.bytes);
        const Trace single = decode(c.bytes, 1);
        EXPECT_EQ(single.kinds, whole.kinds) << c.name;
        EXPECT_EQ(single.skippedBytes, whole.skippedBytes) << c.name;
    }
}

TEST(FrameDecoder, KeepsFrameBytesAndHoldsPartialFrames) {
    FrameDecoder d;
    Trace t;
    const std::uint8_t first[] = {0x31, 0x02, 0x80};
    d.feed(first, sizeof first, t);
    EXPECT_TRUE(t.frames.empty());
    EXPECT_EQ(d.pending(), 3u);
    const std::uint8_t rest[] = {0x01, 0xF4};
    d.feed(rest, sizeof rest, t);
    ASSERT_EQ(t.frames.size(), 1u);
    EXPECT_EQ(t.frames[0].kind, FrameKind::Geometry);
    EXPECT_EQ(t.frames[0].word1(), 640);
    EXPECT_EQ(t.frames[0].word2(), 500);
    EXPECT_EQ(d.pending(), 0u);
}

TEST(FrameDecoder, DescribesFramesForTheLog) {
    const struct {
        std::vector<std::uint8_t> bytes;
        std::string text;
    } cases[] = {
        {{0x66, 0x41, 0x24, 0x00, 0xFF}, "66 41 24 00 FF  register 0x41 = 0x24"},
        {{0x62, 0x07, 0x08, 0x00, 0xFF}, "62 07 08 00 FF  word 0x62 = 1800"},
        {{0x31, 0x05, 0x00, 0x04, 0x00},
         "31 05 00 04 00  geometry: lines of 1280 bytes, 1024 lines"},
        {{0x30, 0x00, 0x42, 0x00, 0x06}, "30 00 42 00 06  move first axis -6"},
        {{0x30, 0x00, 0x44, 0x01, 0x00}, "30 00 44 01 00  move second axis +256"},
    };
    for (const auto& c : cases) {
        const Trace t = decode(c.bytes);
        ASSERT_EQ(t.frames.size(), 1u);
        EXPECT_EQ(describeFrame(t.frames[0]), c.text);
    }
}
