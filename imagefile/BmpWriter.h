#pragma once

#include <QString>

// Writes a bottom-up device-independent bitmap as an uncompressed 24-bit BMP
// file. bits holds height rows of width pixels, bottom row first, rows
// sourceRowBytes apart (0: each row padded to a multiple of 4 bytes, as in the
// file); the file's rows are padded to 4 bytes with zeros. At 24 bits per pixel a pixel is blue,
// green, red; at 8 bits it is an index into colourTable, 256 entries of blue,
// green, red, 0, and is written as that entry's colour, so the file looks like
// the screen in every display mode. The file is replaced only when complete.
// Returns 0 on success, 1 when nothing was written (no bitmap, bad size or
// depth, or the file could not be written), 2 when a file that could only be
// rewritten in place failed midway.
int writeBmp(const QString& path, const unsigned char* bits, int width, int height,
             int bitsPerPixel, const unsigned char* colourTable = nullptr,
             long long sourceRowBytes = 0);

// Bytes in one row of a bitmap of that width and depth (padded to 4 bytes).
inline long long bmpRowBytes(int width, int bitsPerPixel) {
    return (static_cast<long long>(width) * bitsPerPixel + 31) / 32 * 4;
}
