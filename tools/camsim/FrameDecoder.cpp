#include "FrameDecoder.h"

#include <cstdio>

namespace {

bool startsFrame(std::uint8_t b) {
    switch (b) {
    case 0x66:
    case 0x60:
    case 0x61:
    case 0x62:
    case 0x11:
    case 0x10:
    case 0xFF:
    case 0x31:
    case 0x30:
        return true;
    default:
        return false;
    }
}

bool hasTail(const std::array<std::uint8_t, 5>& w) {
    return w[3] == 0x00 && w[4] == 0xFF;
}

bool isMoveDirection(std::uint8_t d) {
    return d == 0x41 || d == 0x42 || d == 0x44 || d == 0x48;
}

// The frame the five bytes form, if they form one.
bool classify(const std::array<std::uint8_t, 5>& w, FrameKind& kind) {
    switch (w[0]) {
    case 0x66:
        kind = FrameKind::Register;
        return hasTail(w);
    case 0x60:
    case 0x61:
    case 0x62:
        kind = FrameKind::Word;
        return hasTail(w);
    case 0x11:
        kind = FrameKind::TimedStep;
        return hasTail(w);
    case 0x10:
        kind = FrameKind::ImageStart;
        return w[1] == 0 && w[2] == 0 && hasTail(w);
    case 0xFF:
        kind = FrameKind::Opening;
        return w[1] == 0x00 && w[2] == 0xFF && hasTail(w);
    case 0x31:
        kind = FrameKind::Geometry;
        return true;
    case 0x30:
        kind = FrameKind::Move;
        return w[1] == 0x00 && isMoveDirection(w[2]);
    default:
        return false;
    }
}

} // namespace

void FrameDecoder::feed(const std::uint8_t* data, std::size_t n, FrameSink& sink) {
    for (std::size_t i = 0; i < n; ++i) {
        window[held++] = data[i];
        while (held > 0) {
            FrameKind kind{};
            if (startsFrame(window[0])) {
                if (held < window.size())
                    break;
                if (classify(window, kind)) {
                    flushSkipped(sink);
                    sink.frame(Frame{kind, window});
                    held = 0;
                    break;
                }
            }
            if (skipCount == skipRun.size())
                flushSkipped(sink);
            skipRun[skipCount++] = window[0];
            for (std::size_t k = 1; k < held; ++k)
                window[k - 1] = window[k];
            --held;
        }
    }
    flushSkipped(sink);
}

void FrameDecoder::flushSkipped(FrameSink& sink) {
    if (skipCount == 0)
        return;
    sink.skipped(skipRun.data(), skipCount);
    skipCount = 0;
}

std::string hexBytes(const std::uint8_t* bytes, std::size_t n) {
    std::string s;
    char b[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
        s += b;
    }
    return s;
}

std::string describeFrame(const Frame& f) {
    const auto& b = f.bytes;
    char m[96];
    switch (f.kind) {
    case FrameKind::Register:
        std::snprintf(m, sizeof m, "register 0x%02X = 0x%02X", b[1], b[2]);
        break;
    case FrameKind::Word:
        std::snprintf(m, sizeof m, "word 0x%02X = %d", b[0], f.word1());
        break;
    case FrameKind::TimedStep:
        std::snprintf(m, sizeof m, "timed step %d", f.word1());
        break;
    case FrameKind::ImageStart:
        std::snprintf(m, sizeof m, "image start");
        break;
    case FrameKind::Opening:
        std::snprintf(m, sizeof m, "opening");
        break;
    case FrameKind::Geometry:
        std::snprintf(m, sizeof m, "geometry: lines of %d bytes, %d lines", f.word1(), f.word2());
        break;
    case FrameKind::Move: {
        const char* axis = (b[2] & 0x03) ? "first" : "second";
        const char* sense = (b[2] & 0x05) ? "+" : "-";
        std::snprintf(m, sizeof m, "move %s axis %s%d", axis, sense, f.word2());
        break;
    }
    }
    return hexBytes(b.data(), b.size()) + "  " + m;
}
