#pragma once

#include "SensorWindow.h"
#include "SerialLink.h"

#include <cstdint>
#include <ctime>

// The camera's command batches over the serial link, and the arithmetic and
// pixel conversion behind them. Pure parts (exposure split, conversion) take
// and return plain values.

// What the settings upload sends, taken from the acquisition parameters.
struct CameraSettings {
    int width = kSensorWidth;   // binned pixels
    int height = kSensorHeight; // lines
    int binning = 1;
    int originX = 0; // binned pixels
    int originY = 0;
    float exposure = 1.0f; // seconds
    int highGain = 0;      // option3
    int gain = 0;          // prm1
    int offset = 10;       // prm3
    int C = 14, Y2 = 14, Y1 = 14, M = 14;
    int vitv = 5;
    int vitp = 2;
};

// The exposure as the camera counts it: `count` long periods of R = 20 x time
// base ticks, then `residual` ticks.
struct ExposureSplit {
    std::int32_t count;
    std::int32_t residual;
};
// lineLength: window width x binning, in sensor pixels.
ExposureSplit splitExposure(long long lineLength, float seconds, int timeBase);

// The brightest pixel the conversion gives: a full sample, or a full binned
// sum, times 128. Light may have been lost in a pixel at this level.
constexpr unsigned short kPixelCeiling = 255 << 7;

// Turns the 8-bit samples of one transfer into 16-bit pixels as they arrive.
// With binning b > 1 every b consecutive samples of the transfer (counted from
// its start, across chunks) make one pixel min(sum, 255) x 128.
class PixelConverter : public ChunkSink {
public:
    PixelConverter(unsigned short* out, int binning);
    void consume(const unsigned char* bytes, std::size_t count) override;
    std::size_t pixelsWritten() const { return std::size_t(out - first); }

private:
    unsigned short* first;
    unsigned short* out;
    int group;
    int pendingCount = 0;
    unsigned pendingSum = 0;
};

namespace camera_protocol {

// Time base used by uploads until the first cameraStart sets it.
constexpr int defaultTimeBase = 90;
// Largest time base whose long period (20 ticks) still fits the residual
// register below its latch flag (0x40 in the high byte): 20 x 819 < 0x4000.
constexpr int maxTimeBase = 819;
// A time base the exposure arithmetic can use: the default when not positive,
// at most maxTimeBase.
int usableTimeBase(int timeBase);

// Remembers the port and the usable time base, opens the port if none is open and queues
// the 40 start-up bytes (sent with the next batch).
void cameraStart(int portNumber, int timeBase);
int timeBase();
void pulseSequence();
// Queues the settings frames after any already queued and writes the batch. Always 0.
int uploadSettings(const CameraSettings& s);
// Requests one image and converts it into `pixels` (width x height). Result as
// SerialLink::receive. requestTime receives the clock reading when the request
// was written.
int readImage(int width, int height, int binning, unsigned short* pixels, float exposure,
              std::time_t* requestTime = nullptr);
void sendMove(std::int32_t x, std::int32_t y);

} // namespace camera_protocol
