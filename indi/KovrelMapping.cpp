#include "KovrelMapping.h"

#include "CameraProtocol.h"

#include <algorithm>
#include <cmath>

namespace kovrel_indi {

const char* applyWindow(const SensorWindow& window, AcqPrm& prm) {
    // The binning and the size are judged by windowProblem, as everywhere.
    const int b = std::max(window.binning, 1);
    if (window.x < 0 || window.y < 0)
        return "Origine non valide";
    AcqPrm next = prm;
    next.binning = window.binning;
    next.img_w = window.width / b;
    next.img_h = window.height / b;
    next.img_x0 = window.x / b;
    next.img_y0 = window.y / b;
    if (const char* problem = windowProblem(next))
        return problem;
    prm = next;
    return nullptr;
}

void applyExposure(double seconds, AcqPrm& prm) {
    const double limited = std::clamp(seconds, 0.0, longestExposure);
    const long long hundredths = std::llround(limited * 100.0);
    prm.pause_s = static_cast<int>(hundredths / 100);
    prm.pause_cs = static_cast<int>(hundredths % 100);
}

double cameraExposure(const AcqPrm& prm) {
    const long long lineLength = static_cast<long long>(prm.img_w) * prm.binning;
    const long long k = lineLength > 0 ? sensorWidth / lineLength : 0;
    const int timeBase = camera_protocol::usableTimeBase(prm.bdt);
    if (k == 0)
        return 0;
    // The single-precision seconds CCamera hands to the upload.
    const float seconds = static_cast<float>(static_cast<long double>(prm.pause_s) +
                                             static_cast<long double>(prm.pause_cs) * 0.01L);
    const ExposureSplit split = splitExposure(lineLength, seconds, timeBase);
    const double period = 20.0 * timeBase;
    const double ticks =
        split.count > 0 ? split.count * period + period / 2 : static_cast<double>(split.residual);
    return ticks / (3.0 * timeBase * static_cast<double>(k));
}

Move guideMove(GuideDirection direction, double ms, double unitsPerMs) {
    Move move;
    const double units = std::round(ms * unitsPerMs);
    if (!std::isfinite(units) || units < 1)
        return move;
    const int m = static_cast<int>(std::min(units, static_cast<double>(largestMove)));
    switch (direction) {
    case GuideDirection::East:
        move.x = m;
        break;
    case GuideDirection::West:
        move.x = 1 - m;
        break;
    case GuideDirection::North:
        move.y = m;
        break;
    case GuideDirection::South:
        move.y = 1 - m;
        break;
    }
    return move;
}

} // namespace kovrel_indi

namespace kovrel_indi {

NumberProblem checkNumber(double value, double min, double max, bool whole) {
    if (!std::isfinite(value))
        return NumberProblem::NotANumber;
    if (min < max && (value < min || value > max))
        return NumberProblem::OutOfRange;
    if (whole && value != std::floor(value))
        return NumberProblem::NotWhole;
    return NumberProblem::None;
}

} // namespace kovrel_indi
