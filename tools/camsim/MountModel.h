#pragma once

#include <cstdint>

struct Offset {
    double x = 0;
    double y = 0;
};

struct MountSettings {
    double moveScale = 0.01; // image pixels per move unit
    double angleDeg = 0;     // rotation of the mount's axes on the image
    bool flip = false;       // second axis reversed
    double driftX = 0;       // pixels per second
    double driftY = 0;
    // Drift that follows the images rather than the clock, so that a slow
    // machine sees the same sky: pixels per image after the first.
    double driftPerImageX = 0;
    double driftPerImageY = 0;
    double periodicAmplitude = 0; // pixels, along the first axis
    double periodicPeriod = 0;    // seconds
};

// Where the sky sits on the sensor: the sum of the moves received, a steady
// drift and a periodic error, in image pixels. With no rotation a positive move
// of the first axis shifts the stars towards +x and one of the second axis
// towards -y (up the image).
class MountModel {
public:
    explicit MountModel(const MountSettings& s);

    // Applies one move frame's direction byte (0x41, 0x42, 0x44, 0x48) and
    // magnitude. False for any other direction (nothing moves).
    bool applyMove(std::uint8_t direction, int magnitude);
    // The shift of the sky at the given time (seconds since the start) for
    // the image of that number (1 for the first).
    Offset offsetAt(double seconds, std::uint64_t image = 1) const;
    Offset moved() const { return sum; }

private:
    MountSettings settings;
    Offset axis1, axis2; // image shift of one unit along each axis
    Offset sum;
};
