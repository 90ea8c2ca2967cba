#pragma once

// Slider ranges of the Visu panel and where both start.
constexpr int kBrightnessMin = 0;
constexpr int kBrightnessMax = 256;
constexpr int kContrastMin = 1;
constexpr int kContrastMax = 256;
constexpr int kSliderStart = 128;

// The level window on the 16-bit pixel scale from the panel's sliders:
// brightness B (0..256) puts the centre at 256 * B, contrast C (1..256)
// narrows the width. lo may be negative and hi may exceed 65535.
void levelWindow(int brightness, int contrast, int& lo, int& hi);

// Half the window width for contrast C: 32567 at C = 1 down to 0 at C = 255.
int levelHalfWidth(int contrast);

// The grey modes' display level of a pixel value: 0 at or below lo, 255 at or
// above hi, the truncated ramp (v - lo) * 255 / (hi - lo) between.
int greyLevel(int value, int lo, int hi);
