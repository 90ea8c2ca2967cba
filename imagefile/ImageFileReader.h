#pragma once

#include "FitsHeader.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

class ImageBuffer;

// Outcome of reading an image file. Every value but Ok leaves the caller's
// buffer exactly as it was.
enum class ImageLoadResult {
    Ok = 0,
    CannotOpen,       // the file cannot be opened for reading
    UnknownExtension, // not .fit*, .eip or .img
    NotFits,          // no FITS header (SIMPLE = F, no END card, truncated header)
    UnsupportedFits,  // FITS, but not a 1- or 2-axis 16-bit integer image
    BadEip,           // EIP signature, version or block structure wrong
    BadImg,           // IMG header wrong (bits other than 16, zero size)
    TooLarge,         // a side above 65535 or more data than the reader accepts
    OutOfMemory,      // the pixel array could not be allocated
};

enum class ImageFileFormat { Unknown, Fits, Eip, Img };

// The format chosen by the extension of the file name (the text after its
// last "."): .fit* (any case) is FITS, .eip and .img (any case) their formats.
ImageFileFormat imageFileFormatForPath(std::string_view path);

// Largest pixel array the readers accept, in bytes. Fuzzing builds lower it so
// that huge but valid headers do not slow every run down.
#ifndef ZERMIC_MAX_IMAGE_BYTES
#define ZERMIC_MAX_IMAGE_BYTES (256ll * 1024 * 1024)
#endif
inline constexpr std::int64_t kMaxImageBytes = ZERMIC_MAX_IMAGE_BYTES;
inline constexpr int kMaxImageSide = 65535;

// What the FITS header says beyond the eleven integers: the standard offset
// that stores unsigned 16-bit values in signed BITPIX 16 data.
struct FitsInput {
    FitsHeader header{0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0};
    bool unsignedOffset = false; // BZERO = 32768 with BSCALE 1 or absent
};

// Most header records searched for END: 36,000 cards, far beyond any real
// header (ours is one record, those of the field's tools a few dozen).
inline constexpr int kMaxFitsHeaderBlocks = 1000;

// Reads the header records up to and including the one holding END.
// 0: acceptable (NAXIS 1 or 2, BITPIX 16); 1: not FITS (SIMPLE = F, or no END
// card before the end of the file or within kMaxFitsHeaderBlocks records);
// 2: FITS of an unsupported kind.
int readFitsHeader(std::FILE* file, FitsInput& input);

// Reads naxis1 x naxis2 big-endian values into pixels (which holds that many),
// converting to machine order and applying the unsigned offset when the header
// carries it. Values the file does not hold are set to 0. Returns the number of
// values read from the file.
std::int64_t readFitsData(std::FILE* file, const FitsInput& input, unsigned short* pixels);

// Whole-file readers from the current position of an open binary stream. On
// Ok the buffer holds the new image (statistics invalid); otherwise it is
// untouched. A file shorter than its header announces loads what it holds and
// the rest of the image is 0.
ImageLoadResult readFitsImage(std::FILE* file, ImageBuffer& image);
ImageLoadResult readEipImage(std::FILE* file, ImageBuffer& image);
ImageLoadResult readImgImage(std::FILE* file, ImageBuffer& image);

// Opens the file, picks the reader by extension and reads it. Anything but a
// regular file (folder, pipe, device) cannot be opened.
ImageLoadResult loadImageFile(ImageBuffer& image, const char* path);
