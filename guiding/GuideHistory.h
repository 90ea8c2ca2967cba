#pragma once

#include "RecentRing.h"

// The last images of a guiding run as the graph draws them, and their
// statistics.

struct GraphPoint {
    float e1 = 0.0f; // errors shown on both axes, pixels
    float e2 = 0.0f;
    int move1 = 0; // pulse of each axis, signed move units (0: no move)
    int move2 = 0;
    bool rejected = false; // dropped measurement: a gap, out of the statistics
};

struct GuideStats {
    int ticks = 0;    // images held
    int measured = 0; // of which not rejected
    double rms1 = 0.0;
    double rms2 = 0.0;
    double total = 0.0;
};

class GuideHistory : public RecentRing<GraphPoint, 100> {
public:
    // RMS of each axis about its mean (the standard deviation), as guiding
    // graphs and guide-log viewers give it, over the measured images; the
    // total is the RMS of the distance, sqrt(rms1^2 + rms2^2).
    GuideStats stats() const;
};
