#pragma once

#include <climits>
#include <cmath>
#include <cstdint>

// A measurement rectangle in image pixels, both ends included. It may reach
// outside the image: every operation that reads pixels clips it itself.
struct GuideZone {
    std::int32_t left = 0;
    std::int32_t right = 0;
    std::int32_t top = 0;
    std::int32_t bottom = 0;

    friend bool operator==(const GuideZone&, const GuideZone&) = default;
};

// Half-size of a zone of the given size: the signed integer division, so a
// size of 10 or 11 both give 5 and an 11 x 11 zone.
constexpr int zoneHalfSize(int zoneSize) {
    return zoneSize / 2;
}

// Clamps a wide intermediate back into the 32-bit range. Coordinates and moves
// are computed from user-typed integers with no range check, so the sums are
// formed wide and saturated instead of being allowed to overflow.
constexpr std::int32_t saturateInt(std::int64_t v) {
    return v > INT_MAX ? INT_MAX : (v < INT_MIN ? INT_MIN : static_cast<std::int32_t>(v));
}

// Truncation toward zero that stays defined for every input: values past the
// 32-bit range saturate and NaN gives 0 (a cast would be undefined for both).
inline std::int32_t truncToInt(double v) {
    if (std::isnan(v))
        return 0;
    if (v >= 2147483647.0)
        return INT_MAX;
    if (v <= -2147483648.0)
        return INT_MIN;
    return static_cast<std::int32_t>(v);
}

// [px - h, px + h] x [py - h, py + h]: 2h + 1 pixels on a side.
constexpr GuideZone zoneAround(std::int64_t px, std::int64_t py, std::int64_t h) {
    return GuideZone{saturateInt(px - h), saturateInt(px + h), saturateInt(py - h),
                     saturateInt(py + h)};
}
