#pragma once

#include "ImageBuffer.h"

// The sky of an image as its statistics' level samples show it, in levels.
struct SkyLevels {
    int median = 0;
    // One standard deviation of the background, from the samples below the
    // median, where no star lies.
    int noise = 0;
};

SkyLevels skyLevels(const ImageStats& stats);

struct SliderPositions {
    int brightness = 0;
    int contrast = 0;
};

// The Visu slider positions whose level window shows the image well: the sky
// median at about a fifth of full scale, the background noise a few grey
// levels wide, the brightest pixel near white. Every position the sliders can
// take is tried through levelWindow and greyLevel, so what is chosen is
// exactly what the picture shows. The statistics must be valid; an image with
// nothing measured keeps the starting positions. The colour mode maps sums of
// two values through the window: it asks for summed = 2.
SliderPositions autoLevelPositions(const ImageStats& stats, int summed = 1);
