#pragma once

// Geometry of the statistics panel's bar graph: a frame whose client
// rectangle ends at (W, H) gets one bar per column x = 0..W inclusive.

// The histogram bin shown by column x of a frame W pixels wide.
int histogramColumnBin(int x, int frameWidth);

// The y where the bar of a bin scaled to 0..1 starts; it runs down to H.
int histogramBarTop(float bin, int frameHeight);
