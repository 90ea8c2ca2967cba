#pragma once

#include "FrameDecoder.h"
#include "SensorWindow.h"

#include <array>
#include <cstddef>
#include <cstdint>

// Sensor the driver addresses: a full frame is kSensorWidth x kSensorHeight.
// Register windows start 8 columns and 16 rows into the chip (its masked
// border).
constexpr int kColumnMargin = 8;
constexpr int kRowMargin = 16;

// One image as the camera will read it out.
struct ImageRequest {
    int sensorX0 = 0;    // first sensor column of the window
    int sensorY0 = 0;    // first sensor row of the window
    int binning = 1;     // sensor rows summed into a line, samples sent per pixel
    int width = 0;       // pixels per line
    int lines = 0;       // lines sent
    int lineBytes = 0;   // samples per line: width x binning
    double exposure = 0; // seconds

    std::size_t byteCount() const {
        return static_cast<std::size_t>(lineBytes) * static_cast<std::size_t>(lines);
    }
};

// Seconds of exposure that the residual and the number of long periods stand for.
// lineLength is the geometry's line length in sensor pixels, timeBase the T of
// the uploading arithmetic. 0 when the line is too long for the arithmetic to
// express any time.
double exposureSeconds(std::uint32_t count, std::uint32_t residual, int lineLength, int timeBase);

// The gain, offset and colour registers as the readout uses them.
struct ReadoutSettings {
    int gain = 0;                              // register 0x10, 0..63
    int offset = 10;                           // register 0x23, 0..31
    bool highGain = false;                     // registers 0x22 = 2 and 0x20 = 0x1F
    std::array<int, 4> colour{14, 14, 14, 14}; // registers 0x00 C, 0x01 Y2, 0x02 Y1, 0x03 M
};

// Everything the driver uploads: the registers, the word values and the
// geometry. Starts as the camera powers up: a full frame at binning 1 with a
// one-second exposure at the default time base.
class CameraState {
public:
    CameraState();

    void apply(const Frame& f);

    std::uint8_t reg(int r) const { return regs[static_cast<std::size_t>(r) & 0xFF]; }
    // Value of word frame 0x60, 0x61 or 0x62 (the number of long periods).
    std::uint32_t word(int cmd) const;
    int lineLength() const { return geomLine; }
    int lineCount() const { return geomLines; }
    std::uint32_t residual() const;
    int binning() const;

    ImageRequest request(int timeBase) const;
    ReadoutSettings readout() const;

private:
    int regPair(int hi) const { return reg(hi) << 8 | reg(hi + 1); }

    std::array<std::uint8_t, 256> regs{};
    std::array<std::uint32_t, 3> words{};
    int geomLine = kSensorWidth;
    int geomLines = kSensorHeight;
    // The last frame applied, to recognise the second frame of a word whose
    // top byte is not zero.
    bool lastWasLowWord = false;
    std::uint8_t lastWordCmd = 0;
};
