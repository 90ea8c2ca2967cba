#include "CameraState.h"

namespace {

// The 0x4E register's final write carries the residual's high byte plus this
// flag; the camera latches the exposure on it.
constexpr int kResidualLatch = 0x40;
constexpr int kFullFrameResidual = 270; // 1 s at time base 90

} // namespace

double exposureSeconds(std::uint32_t count, std::uint32_t residual, int lineLength, int timeBase) {
    if (lineLength <= 0 || timeBase <= 0)
        return 0;
    const int k = kSensorWidth / lineLength;
    if (k == 0)
        return 0;
    const double period = 20.0 * timeBase;
    double units = residual;
    if (count > 0) {
        // Above one period the uploader sends the number of whole periods and a
        // full period as residual, dropping the remainder: take the middle of
        // the range it stands for. A true remainder (below a period) is exact.
        units = count * period + (residual >= period ? period / 2 : residual);
    }
    return units / (3.0 * timeBase * k);
}

CameraState::CameraState() {
    const auto set = [this](int r, int v) {
        regs[static_cast<std::size_t>(r)] = static_cast<std::uint8_t>(v);
    };
    set(0x00, 14), set(0x01, 14), set(0x02, 14), set(0x03, 14);
    set(0x10, 0), set(0x23, 10), set(0x40, 0x6A), set(0x41, 0x10);
    set(0x45, kRowMargin >> 8), set(0x46, kRowMargin & 0xFF);
    set(0x47, kSensorHeight >> 8), set(0x48, kSensorHeight & 0xFF);
    set(0x49, kColumnMargin >> 8), set(0x4A, kColumnMargin & 0xFF);
    set(0x4B, kSensorWidth >> 8), set(0x4C, kSensorWidth & 0xFF);
    set(0x4E, (kFullFrameResidual >> 8) + kResidualLatch), set(0x4F, kFullFrameResidual & 0xFF);
    words = {5, 2, 0};
}

std::uint32_t CameraState::word(int cmd) const {
    return cmd >= 0x60 && cmd <= 0x62 ? words[static_cast<std::size_t>(cmd - 0x60)] : 0;
}

std::uint32_t CameraState::residual() const {
    const int hi = (reg(0x4E) - kResidualLatch) & 0xFF;
    return static_cast<std::uint32_t>(hi << 8 | reg(0x4F));
}

void CameraState::apply(const Frame& f) {
    const auto& b = f.bytes;
    bool lowWord = false;
    switch (f.kind) {
    case FrameKind::Register:
        regs[b[1]] = b[2];
        break;
    case FrameKind::Word: {
        std::uint32_t& w = words[static_cast<std::size_t>(b[0] - 0x60)];
        // A word with a non-zero top byte comes as a second frame of the same
        // kind right after the first. Two frames in a row also occur when a
        // zero is followed by a new value; a zero low half has no top half.
        if (lastWasLowWord && lastWordCmd == b[0] && (w & 0xFFFF) != 0 && b[1] != 0) {
            w = (w & 0xFFFF) | static_cast<std::uint32_t>(b[1]) << 24 |
                static_cast<std::uint32_t>(b[2]) << 16;
        } else {
            w = static_cast<std::uint32_t>(f.word1());
            lowWord = true;
        }
        lastWordCmd = b[0];
        break;
    }
    case FrameKind::Geometry:
        geomLine = f.word1();
        geomLines = f.word2();
        break;
    case FrameKind::TimedStep:
    case FrameKind::ImageStart:
    case FrameKind::Opening:
    case FrameKind::Move:
        break;
    }
    lastWasLowWord = lowWord;
}

int CameraState::binning() const {
    // The window height register holds lines x binning and the geometry the
    // lines, which tells every binning apart (3 included, which shares mode
    // 0x20 with 2). The mode register decides only when they disagree.
    const int sensorRows = regPair(0x47);
    if (geomLines > 0 && sensorRows % geomLines == 0) {
        const int b = sensorRows / geomLines;
        if (b >= 1 && b <= 4 && geomLine % b == 0)
            return b;
    }
    switch (reg(0x41)) {
    case 0x10:
        return 1;
    case 0x24:
        return 4;
    default:
        return geomLine % 2 == 0 ? 2 : 1;
    }
}

ImageRequest CameraState::request(int timeBase) const {
    ImageRequest r;
    r.binning = binning();
    r.lineBytes = geomLine;
    r.lines = geomLines;
    r.width = geomLine / r.binning;
    r.sensorX0 = regPair(0x49) - kColumnMargin;
    r.sensorY0 = regPair(0x45) - kRowMargin;
    r.exposure = exposureSeconds(word(0x62), residual(), geomLine, timeBase);
    return r;
}

ReadoutSettings CameraState::readout() const {
    ReadoutSettings s;
    s.gain = reg(0x10) & 0x3F;
    s.offset = reg(0x23) & 0x1F;
    s.highGain = reg(0x22) == 0x02 && reg(0x20) == 0x1F;
    s.colour = {reg(0x00) & 0x1F, reg(0x01) & 0x1F, reg(0x02) & 0x1F, reg(0x03) & 0x1F};
    return s;
}
