#include "CameraProtocol.h"

#include "DriverMessage.h"

#include <cmath>
#include <limits>

namespace {

// First bytes of the frames.
enum : std::uint8_t {
    frameRegister = 0x66,
    frameVitv = 0x60,
    frameVitp = 0x61,
    frameLongPeriods = 0x62,
    frameTimedStep = 0x11,
    frameStartImage = 0x10,
    frameOpening = 0xFF,
    frameGeometry = 0x31,
    frameMove = 0x30,
};

// Camera registers.
enum : std::uint8_t {
    regC = 0x00,
    regY2 = 0x01,
    regY1 = 0x02,
    regM = 0x03,
    regClear0A = 0x0A,
    regClear0B = 0x0B,
    regPulse = 0x0E,
    regGain = 0x10,
    regHighGainA = 0x20,
    regClear21 = 0x21,
    regHighGainB = 0x22,
    regOffset = 0x23,
    regMode40 = 0x40,
    regBinning = 0x41,
    regArm = 0x42,
    regStartYHi = 0x45,
    regStartYLo = 0x46,
    regLinesHi = 0x47,
    regLinesLo = 0x48,
    regStartXHi = 0x49,
    regStartXLo = 0x4A,
    regLengthHi = 0x4B,
    regLengthLo = 0x4C,
    regResidualHi = 0x4E,
    regResidualLo = 0x4F,
    regTotalLinesHi = 0x50,
    regTotalLinesLo = 0x51,
    regTotalLengthHi = 0x52,
    regTotalLengthLo = 0x53,
    regClear56 = 0x56,
};

const std::uint8_t timedStepArgument = 100;
const std::uint8_t mode40Value = 0x6A;
const std::uint8_t binningMode1 = 0x10;
const std::uint8_t binningMode2 = 0x20;
const std::uint8_t binningMode4 = 0x24;
const std::uint8_t highGainAOn = 0x1F;
const std::uint8_t highGainBOn = 0x02;
const std::uint8_t residualHiFlag = 0x40;
// Sensor margins around the window, in sensor pixels and lines.
const int startXMargin = 8;
const int startYMargin = 16;
const int totalLengthMargin = 20;
const int totalLinesMargin = 44;
// Line length the exposure unit is counted on.
const int referenceLineLength = kSensorWidth;
const int ticksPerLongPeriod = 20;
const double transferLimitSeconds = 60.0;
const std::uint8_t moveForwardX = 0x41, moveBackwardX = 0x42;
const std::uint8_t moveForwardY = 0x44, moveBackwardY = 0x48;

std::uint8_t hi(long long v) {
    return std::uint8_t(v >> 8);
}
std::uint8_t lo(long long v) {
    return std::uint8_t(v);
}

std::int32_t truncToInt32(long double v) {
    if (std::isnan(v))
        return 0;
    if (v >= 2147483647.0L)
        return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483648.0L)
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

int currentTimeBase = camera_protocol::defaultTimeBase;

SerialLink& link() {
    return SerialLink::instance();
}

void reg(std::uint8_t r, long long value) {
    link().queueFrame(frameRegister, r, lo(value));
}

void clearingPrelude() {
    reg(regClear56, 0);
    reg(regClear21, 0);
    reg(regHighGainB, 0);
    reg(regHighGainA, 0);
    reg(regClear0A, 0);
    reg(regClear0B, 0);
}

void timedStep() {
    link().queueFrame(frameTimedStep, 0x00, timedStepArgument);
}

void queueMove(std::int32_t amount, std::uint8_t forward, std::uint8_t backward) {
    if (amount == 0)
        return;
    // Backward moves go out as 1 - amount; only the low 16 bits travel.
    const long long m = amount > 0 ? amount : 1LL - amount;
    link().queueGeometry(frameMove, 0x00, amount > 0 ? forward : backward, hi(m), lo(m));
}

} // namespace

ExposureSplit splitExposure(long long lineLength, float seconds, int timeBase) {
    const long long k = lineLength > 0 ? referenceLineLength / lineLength : 0;
    // Extended precision, as the camera's exposure table was computed.
    const long double product = static_cast<long double>(timeBase) * seconds * 3.0L * k;
    std::int32_t u = truncToInt32(product);
    if (u == 0)
        u = 1;
    const long long r = static_cast<long long>(ticksPerLongPeriod) * timeBase;
    // A time base of 0 or less has no long period: everything goes in the residual.
    if (r <= 0 || u <= r)
        return {0, u};
    return {static_cast<std::int32_t>(u / r), static_cast<std::int32_t>(r)};
}

PixelConverter::PixelConverter(unsigned short* o, int binning)
    : first(o), out(o), group(binning > 1 ? binning : 1) {}

namespace {

const unsigned sampleScale = 7; // x 128
const unsigned sampleMax = 255;
static_assert(kPixelCeiling == sampleMax << sampleScale);

template <int G>
unsigned short* convertGroups(const unsigned char* p, std::size_t groups, unsigned short* out) {
    for (std::size_t i = 0; i < groups; ++i, p += G) {
        unsigned s = 0;
        for (int j = 0; j < G; ++j)
            s += p[j];
        out[i] = static_cast<unsigned short>((s < sampleMax ? s : sampleMax) << sampleScale);
    }
    return out + groups;
}

} // namespace

void PixelConverter::consume(const unsigned char* p, std::size_t n) {
    if (group == 1) {
        for (std::size_t i = 0; i < n; ++i)
            out[i] = static_cast<unsigned short>(p[i] << sampleScale);
        out += n;
        return;
    }
    // Finish the group the previous chunk left open.
    while (pendingCount > 0 && n > 0) {
        pendingSum += *p++;
        --n;
        if (++pendingCount == group) {
            *out++ = static_cast<unsigned short>(std::min(pendingSum, sampleMax) << sampleScale);
            pendingCount = 0;
            pendingSum = 0;
        }
    }
    const std::size_t groups = n / std::size_t(group);
    switch (group) {
    case 2:
        out = convertGroups<2>(p, groups, out);
        break;
    case 3:
        out = convertGroups<3>(p, groups, out);
        break;
    case 4:
        out = convertGroups<4>(p, groups, out);
        break;
    default:
        for (std::size_t i = 0; i < groups; ++i) {
            unsigned s = 0;
            for (int j = 0; j < group; ++j)
                s += p[i * std::size_t(group) + std::size_t(j)];
            *out++ = static_cast<unsigned short>(std::min(s, sampleMax) << sampleScale);
        }
    }
    p += groups * std::size_t(group);
    n -= groups * std::size_t(group);
    for (; n > 0; --n, ++pendingCount)
        pendingSum += *p++;
}

namespace camera_protocol {

int timeBase() {
    return currentTimeBase;
}

int usableTimeBase(int tb) {
    if (tb <= 0)
        return defaultTimeBase;
    return tb > maxTimeBase ? maxTimeBase : tb;
}

void pulseSequence() {
    reg(regPulse, 0x02);
    timedStep();
    reg(regPulse, 0x00);
    timedStep();
}

void cameraStart(int portNumber, int tb) {
    link().setPortNumber(portNumber);
    // A hand-edited store may hold any integer; the camera never gets the
    // exposures such a time base would give.
    currentTimeBase = usableTimeBase(tb);
    link().portOpen();
    link().queueFrame(frameOpening, 0x00, 0xFF);
    pulseSequence();
    reg(regMode40, mode40Value);
    reg(regArm, 0x01);
    timedStep();
}

int uploadSettings(const CameraSettings& s) {
    const long long b = s.binning;
    const long long h = s.height;
    const long long t = static_cast<long long>(s.width) * b;

    clearingPrelude();
    link().queueWord(frameVitv, s.vitv);
    link().queueWord(frameVitp, s.vitp);
    link().queueWord(frameLongPeriods, 0);

    const ExposureSplit e = splitExposure(t, s.exposure, currentTimeBase);
    link().queueWord(frameLongPeriods, e.count);

    clearingPrelude();
    pulseSequence();
    reg(regMode40, mode40Value);
    reg(regClear56, 0);

    if (b == 1)
        reg(regBinning, binningMode1);
    if (b >= 2)
        reg(regBinning, binningMode2);
    if (b == 4)
        reg(regBinning, binningMode4);

    reg(regTotalLinesHi, hi(h + totalLinesMargin));
    reg(regTotalLinesLo, lo(h + totalLinesMargin));
    reg(regTotalLengthHi, hi(t + totalLengthMargin));
    reg(regTotalLengthLo, lo(t + totalLengthMargin));

    const long long x = b * s.originX + startXMargin;
    reg(regStartXHi, hi(x));
    reg(regStartXLo, lo(x));
    reg(regLengthHi, hi(t));
    reg(regLengthLo, lo(t));

    const long long y = b * s.originY + startYMargin;
    reg(regStartYHi, hi(y));
    reg(regStartYLo, lo(y));
    reg(regLinesHi, hi(h * b));
    reg(regLinesLo, lo(h * b));

    link().queueGeometry(frameGeometry, hi(t), lo(t), hi(h), lo(h));

    reg(regHighGainB, s.highGain ? highGainBOn : 0);
    reg(regHighGainA, s.highGain ? highGainAOn : 0);

    reg(regResidualLo, lo(e.residual));
    reg(regResidualHi, hi(e.residual));
    reg(regResidualHi, hi(e.residual) + residualHiFlag);

    reg(regGain, s.gain);
    reg(regOffset, s.offset);
    reg(regC, s.C);
    reg(regY2, s.Y2);
    reg(regY1, s.Y1);
    reg(regM, s.M);

    link().flushQueue();
    return 0;
}

int readImage(int width, int height, int binning, unsigned short* pixels, float exposure,
              std::time_t* requestTime) {
    // Whatever an aborted transfer left behind would shift this image.
    link().purgeInput();
    pulseSequence();
    reg(regArm, 0x01);
    reg(regArm, 0x00);
    link().queueFrame(frameStartImage, 0x00, 0x00);
    link().flushQueue();
    if (requestTime)
        *requestTime = link().now();

    long long expected = static_cast<long long>(width) * height;
    if (binning > 1)
        expected *= binning;
    if (expected > static_cast<long long>(SerialLink::receiveCapacity))
        return SerialLink::ReadFailed;
    kovrel::Progress started;
    started.stage = kovrel::Progress::Stage::ExposureStarted;
    started.exposureSeconds = static_cast<double>(exposure);
    started.expected = static_cast<long>(expected);
    reportProgress(started);
    PixelConverter convert(pixels, binning);
    return link().receive(static_cast<long>(expected),
                          static_cast<double>(exposure) + transferLimitSeconds, convert);
}

void sendMove(std::int32_t x, std::int32_t y) {
    queueMove(x, moveForwardX, moveBackwardX);
    queueMove(y, moveForwardY, moveBackwardY);
    link().flushQueue();
}

} // namespace camera_protocol
