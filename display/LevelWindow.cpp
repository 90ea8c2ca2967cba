#include "LevelWindow.h"

#include <cmath>

namespace {
// 1.57 / 256: the full contrast range sweeps the angle from ~0 to ~pi/2.
constexpr double kContrastAngleStep = 0.0061328125;
constexpr double kLevels = 65536.0;
} // namespace

int levelHalfWidth(int contrast) {
    const int width = static_cast<int>((1.0 - std::sin(contrast * kContrastAngleStep)) * kLevels);
    return width / 2;
}

void levelWindow(int brightness, int contrast, int& lo, int& hi) {
    const int half = levelHalfWidth(contrast);
    lo = 256 * brightness - half;
    hi = 256 * brightness + half;
}

int greyLevel(int value, int lo, int hi) {
    if (value <= lo)
        return 0;
    if (value >= hi)
        return 255;
    return int((static_cast<long long>(value) - lo) * 255 / (static_cast<long long>(hi) - lo));
}
