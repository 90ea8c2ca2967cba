#include "MountModel.h"

#include <cmath>

MountModel::MountModel(const MountSettings& s) : settings(s) {
    const double a = s.angleDeg * M_PI / 180.0;
    axis1 = {std::cos(a), std::sin(a)};
    axis2 = {std::sin(a), -std::cos(a)};
    if (s.flip)
        axis2 = {-axis2.x, -axis2.y};
}

bool MountModel::applyMove(std::uint8_t direction, int magnitude) {
    Offset axis;
    double sense = 1;
    switch (direction) {
    case 0x41:
        axis = axis1;
        break;
    case 0x42:
        axis = axis1, sense = -1;
        break;
    case 0x44:
        axis = axis2;
        break;
    case 0x48:
        axis = axis2, sense = -1;
        break;
    default:
        return false;
    }
    const double d = sense * magnitude * settings.moveScale;
    sum.x += d * axis.x;
    sum.y += d * axis.y;
    return true;
}

Offset MountModel::offsetAt(double seconds, std::uint64_t image) const {
    Offset o = sum;
    o.x += settings.driftX * seconds;
    o.y += settings.driftY * seconds;
    const double imagesBefore = image > 0 ? double(image - 1) : 0.0;
    o.x += settings.driftPerImageX * imagesBefore;
    o.y += settings.driftPerImageY * imagesBefore;
    if (settings.periodicAmplitude != 0 && settings.periodicPeriod > 0) {
        const double p =
            settings.periodicAmplitude * std::sin(2.0 * M_PI * seconds / settings.periodicPeriod);
        o.x += p * axis1.x;
        o.y += p * axis1.y;
    }
    return o;
}
