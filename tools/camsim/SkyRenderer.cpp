#include "SkyRenderer.h"

#include "Random.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kFwhmPerSigma = 2.3548200450309493; // 2 sqrt(2 ln 2)
constexpr double kStarReach = 5.0;                   // profile drawn out to this many sigma
constexpr float kSkyRate = 15.0f;   // sky background, electrons per second and pixel
constexpr float kFlatRate = 120.0f; // evenly lit field of the flat scene
constexpr float kDarkRate = 0.3f;   // ordinary pixels' dark current
constexpr double kHotFraction = 0.0005;
constexpr double kReadNoise = 3.0;  // electrons
constexpr double kOffsetStep = 2.0; // levels per step of the offset register
constexpr double kGainSteps = 16.0; // gain register steps that double the gain
constexpr double kHighGain = 4.0;
constexpr double kUnityColourGain = 14.0; // colour gain register value that leaves a class as it is
constexpr double kFieldMargin = 64;       // stars are placed this far past the sensor edges
constexpr int kFieldStars = 400;
constexpr double kGuideStarFlux = 1500;
constexpr double kFaintFlux = 100, kBrightFlux = 2000;
constexpr double kStepsPerPixelOfBlur = 100; // focuser steps
constexpr std::uint64_t kFieldStream = 1, kDarkStream = 2, kNoiseStream = 3;

double wrap(double v, double period) {
    v = std::fmod(v, period);
    return v < 0 ? v + period : v;
}

double normalCdf(double z) {
    return 0.5 * std::erfc(-z * M_SQRT1_2);
}

double electronGain(const ReadoutSettings& r) {
    return (1.0 + r.gain / kGainSteps) * (r.highGain ? kHighGain : 1.0);
}

// Light a pixel of each class passes for a source of the given colour, white
// passing 1, times the class's colour gain (14 is unity); indexed by the
// parities of the sensor row and column.
struct ClassTable {
    double at[2][2];
};

ClassTable classTable(double red, double green, double blue, const ReadoutSettings& r) {
    ClassTable t{};
    for (int row = 0; row < 2; ++row)
        for (int col = 0; col < 2; ++col) {
            double v = 1;
            switch (mosaicClass(row, col)) {
            case MosaicClass::Yellow:
                v = (red + green) / 2 * (row == 0 ? r.colour[2] : r.colour[1]) / kUnityColourGain;
                break;
            case MosaicClass::Cyan:
                v = (green + blue) / 2 * r.colour[0] / kUnityColourGain;
                break;
            case MosaicClass::Magenta:
                v = (red + blue) / 2 * r.colour[3] / kUnityColourGain;
                break;
            }
            t.at[row][col] = v;
        }
    return t;
}

const Star kPalette[] = {
    {0, 0, 0, 1.0, 0.15, 0.05},  // red
    {0, 0, 0, 1.0, 0.55, 0.20},  // orange
    {0, 0, 0, 1.0, 1.00, 0.65},  // yellow
    {0, 0, 0, 1.0, 1.00, 1.00},  // white
    {0, 0, 0, 0.35, 0.60, 1.00}, // blue
};

std::vector<Star> drawField(std::uint64_t seed) {
    Random rnd(seed, kFieldStream);
    std::vector<Star> stars;
    stars.reserve(kFieldStars + 1);
    const auto colour = [&](Star& s) {
        const Star& p = kPalette[rnd.next() % (sizeof kPalette / sizeof kPalette[0])];
        s.red = p.red, s.green = p.green, s.blue = p.blue;
    };
    // One bright star near the centre, inside every centred window, for guiding.
    Star guide;
    guide.x = kSensorWidth / 2.0 + (rnd.uniform() - 0.5) * 40;
    guide.y = kSensorHeight / 2.0 + (rnd.uniform() - 0.5) * 40;
    guide.flux = kGuideStarFlux;
    colour(guide);
    stars.push_back(guide);
    const double spanX = kSensorWidth + 2 * kFieldMargin;
    const double spanY = kSensorHeight + 2 * kFieldMargin;
    for (int i = 0; i < kFieldStars; ++i) {
        Star s;
        s.x = rnd.uniform() * spanX - kFieldMargin;
        s.y = rnd.uniform() * spanY - kFieldMargin;
        // Faint stars outnumber bright ones: flux uniform in its logarithm.
        s.flux = kFaintFlux * std::pow(kBrightFlux / kFaintFlux, rnd.uniform());
        colour(s);
        stars.push_back(s);
    }
    return stars;
}

} // namespace

double defocusedFwhm(double seeingFwhm, long long position, long long best) {
    const double blur = (double(position) - double(best)) / kStepsPerPixelOfBlur;
    return std::hypot(seeingFwhm, blur);
}

MosaicClass mosaicClass(int row, int column) {
    if (((row + column) & 1) == 0)
        return MosaicClass::Yellow;
    return (row & 1) == 0 ? MosaicClass::Cyan : MosaicClass::Magenta;
}

SkyRenderer::SkyRenderer(const SkySettings& s) : SkyRenderer(s, drawField(s.seed)) {}

SkyRenderer::SkyRenderer(const SkySettings& s, std::vector<Star> stars)
    : settings(s), field(std::move(stars)) {
    makeDarkPattern();
}

void SkyRenderer::makeDarkPattern() {
    darkPattern.resize(static_cast<std::size_t>(kSensorWidth) * kSensorHeight);
    Random rnd(settings.seed, kDarkStream);
    for (float& d : darkPattern) {
        d = kDarkRate * static_cast<float>(0.5 + rnd.uniform());
        // A few hot pixels, 20 to 400 electrons per second: what a dark frame removes.
        if (rnd.uniform() < kHotFraction)
            d = static_cast<float>(20.0 * std::pow(20.0, rnd.uniform()));
    }
}

void SkyRenderer::render(const ImageRequest& r, const ReadoutSettings& readout, Offset sky,
                         std::uint64_t imageNumber, std::vector<std::uint8_t>& out) {
    out.resize(r.byteCount());
    if (r.byteCount() == 0)
        return;
    if (settings.scene == Scene::Ramp) {
        renderRamp(r, out);
        return;
    }
    exposeLight(r, readout, sky);

    const double gain = electronGain(readout);
    const double bias = readout.offset * kOffsetStep;
    Random rnd(settings.seed ^ (imageNumber * 0x9E3779B97F4A7C15ULL), kNoiseStream);
    const int b = r.binning;
    const std::size_t w = static_cast<std::size_t>(planeWidth);
    std::uint8_t* o = out.data();
    for (int line = 0; line < r.lines; ++line) {
        const float* rows = plane.data() + static_cast<std::size_t>(line) * b * w;
        for (int c = 0; c < r.lineBytes; ++c) {
            double e = 0;
            for (int i = 0; i < b; ++i)
                e += rows[static_cast<std::size_t>(i) * w + static_cast<std::size_t>(c)];
            double level = bias;
            if (settings.noise) {
                e += std::sqrt(std::max(e, 0.0)) * rnd.normal();
                level += kReadNoise * gain * rnd.normal();
            }
            level += e * gain;
            *o++ = static_cast<std::uint8_t>(std::clamp(std::lround(level), 0L, 255L));
        }
    }
}

void SkyRenderer::exposeLight(const ImageRequest& r, const ReadoutSettings& readout, Offset sky) {
    planeWidth = r.lineBytes;
    planeHeight = r.lines * r.binning;
    plane.resize(static_cast<std::size_t>(planeWidth) * static_cast<std::size_t>(planeHeight));
    const float t = static_cast<float>(r.exposure);
    const float rate = settings.scene == Scene::Flat ? kFlatRate : kSkyRate;
    const bool mosaic = settings.scene == Scene::Mosaic;
    const ClassTable white = classTable(1, 1, 1, readout);
    float* p = plane.data();
    for (int y = 0; y < planeHeight; ++y) {
        const int sy = r.sensorY0 + y;
        const float even = rate * t * static_cast<float>(mosaic ? white.at[sy & 1][0] : 1);
        const float odd = rate * t * static_cast<float>(mosaic ? white.at[sy & 1][1] : 1);
        // The dark pattern repeats past the sensor edges, for windows beyond it.
        const float* dark =
            &darkPattern[static_cast<std::size_t>(((sy % kSensorHeight) + kSensorHeight) %
                                                  kSensorHeight) *
                         kSensorWidth];
        int dx = ((r.sensorX0 % kSensorWidth) + kSensorWidth) % kSensorWidth;
        for (int x = 0; x < planeWidth; ++x) {
            float e = ((r.sensorX0 + x) & 1) ? odd : even;
            if (settings.dark)
                e += dark[dx] * t;
            if (++dx == kSensorWidth)
                dx = 0;
            *p++ = e;
        }
    }
    if (settings.scene == Scene::Flat)
        return;
    const double spanX = kSensorWidth + 2 * kFieldMargin;
    const double spanY = kSensorHeight + 2 * kFieldMargin;
    for (const Star& s : field) {
        // The field repeats beyond its margins, so a sky that keeps drifting
        // never runs out of stars.
        const double cx = wrap(s.x + sky.x + kFieldMargin, spanX) - kFieldMargin;
        const double cy = wrap(s.y + sky.y + kFieldMargin, spanY) - kFieldMargin;
        addStar(s, cx, cy, r, readout);
    }
}

void SkyRenderer::addStar(const Star& star, double cx, double cy, const ImageRequest& r,
                          const ReadoutSettings& readout) {
    const double sigma = std::max(settings.seeingFwhm, 0.1) / kFwhmPerSigma;
    const double reach = kStarReach * sigma + 1;
    const int x0 = std::max(r.sensorX0, static_cast<int>(std::floor(cx - reach)));
    const int x1 = std::min(r.sensorX0 + planeWidth - 1, static_cast<int>(std::ceil(cx + reach)));
    const int y0 = std::max(r.sensorY0, static_cast<int>(std::floor(cy - reach)));
    const int y1 = std::min(r.sensorY0 + planeHeight - 1, static_cast<int>(std::ceil(cy + reach)));
    if (x0 > x1 || y0 > y1)
        return;
    // Each pixel collects the profile over its own area: the difference of the
    // cumulative normal at its two edges, so sub-pixel positions come out exact.
    weightX.resize(static_cast<std::size_t>(x1 - x0 + 1));
    weightY.resize(static_cast<std::size_t>(y1 - y0 + 1));
    for (int x = x0; x <= x1; ++x)
        weightX[static_cast<std::size_t>(x - x0)] =
            normalCdf((x + 0.5 - cx) / sigma) - normalCdf((x - 0.5 - cx) / sigma);
    for (int y = y0; y <= y1; ++y)
        weightY[static_cast<std::size_t>(y - y0)] =
            normalCdf((y + 0.5 - cy) / sigma) - normalCdf((y - 0.5 - cy) / sigma);
    const double electrons = star.flux * r.exposure;
    const bool mosaic = settings.scene == Scene::Mosaic;
    const ClassTable colour = classTable(star.red, star.green, star.blue, readout);
    for (int y = y0; y <= y1; ++y) {
        float* row = plane.data() + static_cast<std::size_t>(y - r.sensorY0) * planeWidth;
        const double ey = electrons * weightY[static_cast<std::size_t>(y - y0)];
        for (int x = x0; x <= x1; ++x) {
            double e = ey * weightX[static_cast<std::size_t>(x - x0)];
            if (mosaic)
                e *= colour.at[y & 1][x & 1];
            row[x - r.sensorX0] += static_cast<float>(e);
        }
    }
}

void SkyRenderer::renderRamp(const ImageRequest& r, std::vector<std::uint8_t>& out) const {
    // A pattern a test can predict: each sample is the sum of its sensor column
    // and the first sensor row of its line, modulo 256.
    std::uint8_t* o = out.data();
    for (int line = 0; line < r.lines; ++line) {
        const int row = r.sensorY0 + line * r.binning;
        for (int c = 0; c < r.lineBytes; ++c)
            *o++ = static_cast<std::uint8_t>((r.sensorX0 + c + row) & 0xFF);
    }
}
