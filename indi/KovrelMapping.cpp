#include "KovrelMapping.h"

#include <algorithm>
#include <cmath>

namespace kovrel_indi {

const char* applyWindow(const SensorWindow& window, AcqPrm& prm) {
    const int b = window.binning;
    if (b < 1 || b > 4 || window.x < 0 || window.y < 0)
        return "Origine non valide";
    AcqPrm next = prm;
    next.binning = b;
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

Move guideMove(GuideDirection direction, std::uint32_t ms, double unitsPerMs) {
    const double units = std::round(static_cast<double>(ms) * std::max(unitsPerMs, 0.0));
    const int m = static_cast<int>(std::min(units, static_cast<double>(largestMove)));
    Move move;
    if (m == 0)
        return move;
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
