#include "GuideCorrection.h"

#include "StarMeasure.h"

#include <cmath>
#include <cstdint>

GuideParams loadGuideParams(const SuiviPrm& prm) {
    GuideParams p;
    p.rotation = static_cast<float>(prm.rot * kRadiansPerDegree);
    p.gain1 = static_cast<float>(prm.gain1);
    p.gain2 = static_cast<float>(prm.gain2);
    p.bias1 = static_cast<float>(prm.biais1);
    p.bias2 = static_cast<float>(prm.biais2);
    p.maxMove = static_cast<float>(prm.mvtmax);
    p.invert1 = prm.inv1;
    p.invert2 = prm.inv2;
    p.exchange = prm.inv12;
    p.capture = prm.capture;
    return p;
}

MountError rotateError(float rotation, float ex, float ey) {
    const double c = std::cos(double(rotation));
    const double s = std::sin(double(rotation));
    return MountError{static_cast<float>(ex * c + ey * s), static_cast<float>(ex * s - ey * c)};
}

namespace {

// Opposite sign to the error, the bias added to the magnitude. Zero error takes
// the second branch, so it moves by + bias.
float axisCorrection(float d, float gain, float bias) {
    return d > 0.0f ? -(d * gain) - bias : bias - d * gain;
}

// The reverse of a move n is 1 - n: a negative value v already means a reverse
// move of 1 - v.
std::int64_t reverseIf(int flag, std::int64_t v) {
    return flag ? 1 - v : v;
}

MountMove arrange(int exchange, std::int64_t m1, std::int64_t m2) {
    return exchange ? MountMove{saturateInt(m2), saturateInt(m1)}
                    : MountMove{saturateInt(m1), saturateInt(m2)};
}

} // namespace

MountMove issueMove(const GuideParams& p, int m1, int m2) {
    return arrange(p.exchange, reverseIf(p.invert1, m1), reverseIf(p.invert2, m2));
}

MountMove computeCorrection(const GuideParams& p, float ex, float ey) {
    const MountError e = rotateError(p.rotation, ex, ey);
    const int m1 = truncToInt(axisCorrection(e.d1, p.gain1, p.bias1));
    const int m2 = truncToInt(axisCorrection(e.d2, p.gain2, p.bias2));
    return issueMove(p, m1, m2);
}

GuideTick evaluateGuideTick(const ImageBuffer& image, const GuideParams& p,
                            const GuideState& state) {
    GuideTick tick;
    float x = 0.0f;
    float y = 0.0f;
    tick.level =
        measureCentroid(image, static_cast<unsigned short>(state.threshold), state.zone, x, y);
    float ex = x - state.refX;
    float ey = y - state.refY;
    tick.measuredEx = ex;
    tick.measuredEy = ey;
    // A NaN error (no centroid) fails both comparisons and is dropped too.
    if (p.maxMove >= std::fabs(ex) && p.maxMove >= std::fabs(ey)) {
        tick.moveSent = true;
        tick.move = computeCorrection(p, ex, ey);
    } else {
        tick.rejection =
            std::isnan(ex) || std::isnan(ey) ? GuideRejection::StarLost : GuideRejection::TooFar;
        x = state.refX;
        y = state.refY;
        ex = 0.0f;
        ey = 0.0f;
    }
    tick.ex = ex;
    tick.ey = ey;
    // A reference without a centroid (a start on a dark field) gives no
    // position to centre on: the zone then stays where it was.
    if (std::isnan(x) || std::isnan(y))
        tick.zone = state.zone;
    else
        tick.zone = zoneAround(truncToInt(x), truncToInt(y), zoneHalfSize(p.capture));
    return tick;
}

MountMove manualMove(ManualDirection direction, const ManualMoveSettings& s) {
    const std::int64_t vertical = std::int64_t(s.gt) * s.gain1;
    const std::int64_t horizontal = std::int64_t(s.gt) * s.gain2;
    switch (direction) {
    case ManualDirection::Haut:
        return arrange(s.inv12, 0, reverseIf(s.inv1, vertical));
    case ManualDirection::Bas:
        return arrange(s.inv12, 0, reverseIf(s.inv1, 1 - vertical));
    case ManualDirection::Gauche:
        return arrange(s.inv12, reverseIf(s.inv2, horizontal), 0);
    case ManualDirection::Droite:
        return arrange(s.inv12, reverseIf(s.inv2, 1 - horizontal), 0);
    }
    return MountMove{};
}
