#pragma once

#include "GreyRamp.h"

#include <cstdint>

// The vector units the conversions can use, narrowest first.
enum class VectorUnit { None, Avx2, Avx512 };

// The widest this CPU has (AVX-512 with the byte permutes).
VectorUnit bestVectorUnit();

// The colour-mosaic conversion of one image row on a vector unit, through the
// ramp, into out (blue, green, red per pixel): the same formulas as
// LevelMapper's, a register of pixels at a time. The row's neighbours must
// all lie in the buffer: the rows above and below and the pixel before the
// row. Converts columns [0, n) and returns n, the column after the last even
// one LevelMapper converts, so the caller only has the last odd column left;
// 0 when the unit is None or missing, the ramp is not usable or the row is
// narrower than two registers. A row too narrow for AVX-512 goes to AVX2.
int demosaicRowVector(const GreyRamp& ramp, const unsigned short* row, int width, bool oddRow,
                      std::uint8_t* out, VectorUnit unit);
