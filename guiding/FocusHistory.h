#pragma once

#include "RecentRing.h"

// The half-flux diameters of the last images, as the focus graph draws them,
// and the best of them.
struct FocusPoint {
    float hfd = 0.0f;       // pixels; meaningful only when a star was measured
    bool measured = false;  // a star was found in the image
    bool saturated = false; // its core was clipped: shown, never the best
};

class FocusHistory : public RecentRing<FocusPoint, 100> {
public:
    // Index of the smallest HFD of a measured, unsaturated star; the latest
    // when several tie; -1 when there is none.
    int best() const;
};
