#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// What the first byte of a 5-byte frame says it is.
enum class FrameKind : std::uint8_t {
    Register,   // 0x66 register, value, 0x00, 0xFF
    Word,       // 0x60 / 0x61 / 0x62 high, low, 0x00, 0xFF
    TimedStep,  // 0x11 high, low, 0x00, 0xFF
    ImageStart, // 0x10 0x00 0x00 0x00 0xFF
    Opening,    // 0xFF 0x00 0xFF 0x00 0xFF
    Geometry,   // 0x31 hi(L) lo(L) hi(N) lo(N), no tail
    Move,       // 0x30 0x00 direction hi(m) lo(m), no tail
};

struct Frame {
    FrameKind kind;
    std::array<std::uint8_t, 5> bytes;

    int word1() const { return bytes[1] << 8 | bytes[2]; } // bytes 2-3 as a big-endian word
    int word2() const { return bytes[3] << 8 | bytes[4]; } // bytes 4-5 as a big-endian word
};

// Receives what the decoder finds in the byte stream.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual void frame(const Frame& f) = 0;
    // Bytes that start no valid frame, in arrival order; never empty.
    virtual void skipped(const std::uint8_t* bytes, std::size_t n) = 0;
};

// Cuts the incoming byte stream into frames. A byte that cannot start a frame,
// or a frame whose fixed bytes are wrong, costs exactly one skipped byte: the
// search restarts at the next byte, so a lost or extra byte on the line loses
// at most the frame it fell into.
class FrameDecoder {
public:
    void feed(const std::uint8_t* data, std::size_t n, FrameSink& sink);
    // Bytes held back because they may still begin a frame.
    std::size_t pending() const { return held; }

private:
    void flushSkipped(FrameSink& sink);

    std::array<std::uint8_t, 5> window{};
    std::size_t held = 0;
    std::array<std::uint8_t, 64> skipRun{};
    std::size_t skipCount = 0;
};

// One line of text for the log: the hex bytes and what they mean.
std::string describeFrame(const Frame& f);
std::string hexBytes(const std::uint8_t* bytes, std::size_t n);
