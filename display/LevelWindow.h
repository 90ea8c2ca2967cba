#pragma once

// The level window on the 16-bit pixel scale from the panel's sliders:
// brightness B (0..256) puts the centre at 256 * B, contrast C (1..256)
// narrows the width. lo may be negative and hi may exceed 65535.
void levelWindow(int brightness, int contrast, int& lo, int& hi);

// Half the window width for contrast C: 32567 at C = 1 down to 0 at C = 255.
int levelHalfWidth(int contrast);
