#include "HistogramPlot.h"

int histogramColumnBin(int x, int frameWidth) {
    // A collapsed frame (minimised panel) has a single column: show bin 0
    // rather than divide by zero.
    if (frameWidth <= 0)
        return 0;
    return x * 255 / frameWidth;
}

int histogramBarTop(float bin, int frameHeight) {
    return static_cast<int>((1.0f - bin) * static_cast<float>(frameHeight));
}
