#pragma once

#include "GreyRamp.h"

#include <cstddef>
#include <cstdint>

// The vector units the conversion can use: none (the caller's plain loops do
// it all) or AVX2.
enum class VectorUnit { None, Avx2 };

// The one this CPU has.
VectorUnit bestVectorUnit();

// The colour-mosaic conversion of consecutive image rows on a vector unit,
// through the ramp, into out (blue, green, red per pixel): the same formulas
// as LevelMapper's, a register of pixels at a time. first is the first row's
// pixels, firstOdd its parity; each next row's bytes lie outStep bytes after
// the row before's (negative for a bottom-up bitmap). Every neighbour of the
// rows must lie in the buffer (image rows 2 to h - 3 have them). Converts
// columns [0, n) of every row and returns n, the column after the last even
// one LevelMapper converts, so the caller only has the last odd column left;
// 0 when the unit is None or missing, the ramp is not usable or the rows are
// narrower than two registers.
int demosaicRowsVector(const GreyRamp& ramp, const unsigned short* first, int width, int rows,
                       bool firstOdd, std::uint8_t* out, std::ptrdiff_t outStep, VectorUnit unit);
