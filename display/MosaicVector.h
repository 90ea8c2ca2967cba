#pragma once

#include "GreyRamp.h"

#include <cstdint>

// The colour-mosaic conversion of one image row on the CPU's vector unit,
// through the ramp, into out (blue, green, red per pixel): the same formulas
// as LevelMapper's, sixteen pixels at a time. The row's neighbours must all
// lie in the buffer: the rows above and below and the pixel before the row.
// Converts columns [0, n) and returns n, the column after the last even one
// LevelMapper converts, so the caller only has the last odd column left; 0
// when the CPU cannot, the ramp is not usable or the row is too narrow.
int demosaicRowVector(const GreyRamp& ramp, const unsigned short* row, int width, bool oddRow,
                      std::uint8_t* out);
