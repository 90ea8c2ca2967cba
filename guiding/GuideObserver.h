#pragma once

#include "GuideCorrection.h"

// What a guiding run tells those who watch it (the graph, the guide log):
// nothing they do reaches the measure, the decision or the move.

struct GuideRunInfo {
    SuiviPrm prm;      // the parameters in force
    float refX = 0.0f; // reference (lock) position, image pixels
    float refY = 0.0f;
    double exposureSeconds = 0.0; // camera exposure, 0 when unknown
};

class GuideObserver {
public:
    virtual ~GuideObserver() = default;
    // The star of a new run is locked; a start while a run is on comes
    // after the end of that run.
    virtual void runStarted(const GuideRunInfo& run) = 0;
    // One image measured, with the parameters it was judged by.
    virtual void guideTicked(const GuideTick& tick, const GuideParams& params) = 0;
    virtual void runEnded() = 0;
};
