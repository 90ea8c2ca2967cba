#include "AutoLevels.h"

#include "LevelWindow.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace {

// The sky's median at a fifth of the 255 levels: dark grey, not black.
constexpr int kSkyLevel = 51;
constexpr double kSkyFraction = kSkyLevel / 255.0;
// Three standard deviations of noise between black and the sky, so the
// background's grain shows and only its darkest pixels reach black.
constexpr double kNoiseBelowSky = 3.0;
// The brightest pixel (star core, saturation) at least this level.
constexpr int kBrightestLevel = 230;
// A window no narrower than one brightness step, for images without noise.
constexpr double kNarrowestWindow = 256.0;
// One octave away from the wanted window width weighs as much as this many
// grey levels of sky away from its place.
constexpr double kLevelsPerOctave = 8.0;
// The fraction of a normal distribution below one standard deviation under
// its mean.
constexpr double kBelowOneSigma = 0.158655;

// The value below which a fraction of the samples lie: the centre of the
// sample bin where the count reaches it.
int sampleQuantile(const ImageStats& s, double fraction) {
    const std::uint64_t wanted =
        std::max<std::uint64_t>(1, std::uint64_t(std::ceil(fraction * s.sampleCount)));
    std::uint64_t seen = 0;
    for (int k = 0; k < ImageStats::kSampleBins; ++k) {
        seen += s.samples[k];
        if (seen >= wanted)
            return k * ImageStats::kSampleBinWidth + ImageStats::kSampleBinWidth / 2;
    }
    return 65535;
}

} // namespace

SkyLevels skyLevels(const ImageStats& stats) {
    if (stats.sampleCount == 0)
        return {};
    // The bin centres are moved inside what the image holds: a flat image's
    // median is its value.
    auto inImage = [&](int v) { return std::clamp(v, stats.minimum, stats.maximum); };
    const int median = inImage(sampleQuantile(stats, 0.5));
    const int low = inImage(sampleQuantile(stats, kBelowOneSigma));
    return {median, median - low};
}

SliderPositions autoLevelPositions(const ImageStats& stats, int summed) {
    if (stats.sampleCount == 0 || stats.maximum < stats.minimum)
        return {kSliderStart, kSliderStart};
    SkyLevels sky = skyLevels(stats);
    sky.median *= summed;
    sky.noise *= summed;
    const int brightest = std::min(stats.maximum * summed, 65535);
    // The window width the noise asks for, narrowed where the brightest pixel
    // would otherwise stay below its level with the sky in place.
    double width = kNoiseBelowSky * sky.noise / kSkyFraction;
    if (brightest > sky.median)
        width =
            std::min(width, (brightest - sky.median) / (kBrightestLevel / 255.0 - kSkyFraction));
    width = std::max(width, kNarrowestWindow);

    std::array<double, kContrastMax + 1> widthCost{};
    for (int c = kContrastMin; c <= kContrastMax; ++c) {
        const double w = std::max(1, 2 * levelHalfWidth(c));
        widthCost[c] = kLevelsPerOctave * std::abs(std::log2(w / width));
    }
    SliderPositions best{kSliderStart, kSliderStart};
    double bestCost = std::numeric_limits<double>::infinity();
    for (int c = kContrastMin; c <= kContrastMax; ++c) {
        for (int b = kBrightnessMin; b <= kBrightnessMax; ++b) {
            int lo = 0, hi = 0;
            levelWindow(b, c, lo, hi);
            double cost = std::abs(greyLevel(sky.median, lo, hi) - kSkyLevel) + widthCost[c];
            if (brightest > sky.median)
                cost += std::max(0, kBrightestLevel - greyLevel(brightest, lo, hi));
            if (cost < bestCost) {
                bestCost = cost;
                best = {b, c};
            }
        }
    }
    return best;
}
