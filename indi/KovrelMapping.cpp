#include "KovrelMapping.h"

#include <algorithm>
#include <cmath>

namespace kovrel_indi {

const char* applyWindow(const SensorWindow& window, AcqPrm& prm) {
    const int b = window.binning;
    if (b < 1 || b > 4 || window.x < 0 || window.y < 0)
        return "Origine non valide";
    const int w = window.width / b;
    const int h = window.height / b;
    const int x0 = window.x / b;
    const int y0 = window.y / b;
    const int fullW = sensorWidth / b;
    const int fullH = sensorHeight / b;
    if (w < 1 || h < 1 || w > fullW || h > fullH)
        return "Taille non valide";
    if (x0 + w > fullW || y0 + h > fullH)
        return "Origine non valide";
    prm.binning = b;
    prm.img_w = w;
    prm.img_h = h;
    prm.img_x0 = x0;
    prm.img_y0 = y0;
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
