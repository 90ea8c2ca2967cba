#pragma once

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <optional>

// The exposure an image was taken with when it is not the stored one (a
// sequence file's): the ACQ-ps and ACQ-pc cards then show it.
struct AcqExposure {
    int seconds = 0;
    int hundredths = 0;
};

// What is known of how a camera image was taken, for the standard cards other
// astronomy software reads (DATE-OBS, EXPTIME, binning, subframe origin,
// instrument, image type). An image read from a file carries none of it.
struct FitsObservation {
    std::time_t start = 0; // start of the exposure, seconds since 1970 UTC; 0: unknown
    int exposureSeconds = 0;
    int exposureHundredths = 0;
    int binning = 1;
    int originX = 0; // window origin on the sensor, binned pixels
    int originY = 0;
};

// The integer header of a 16-bit FITS image, shared by the writer, the reader
// and the document's save. day 0 means "no date": DATE and TIME are left out.
struct FitsHeader {
    int naxis1 = 0;
    int naxis2 = 0;
    int naxis3 = 0;
    int naxis = 2;
    int bitpix = 16;
    int day = 0;
    int month = 0;
    int year = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;

    void setDateTime(int year, int month, int day, int hour, int minute, int second);

    // Writes the header block (with the ACQ comment group taken from the
    // AcqPrm settings at this moment, the exposure cards from `exposure` when
    // given, and after that group the standard cards of `observation` when
    // given), naxis1 x naxis2 big-endian values and
    // the zero padding, from the current position of an open binary stream.
    // The pixels are byte-swapped in place for the write and swapped back, so
    // the caller's buffer is unchanged on return. Returns 0 when every write
    // and the final flush succeeded, non-zero otherwise.
    int writeFits(std::FILE* file, unsigned short* pixels,
                  std::optional<AcqExposure> exposure = std::nullopt,
                  const FitsObservation* observation = nullptr) const;
};

// FITS files are made of 2880-byte records of 36 cards of 80 characters.
inline constexpr int kFitsCardSize = 80;
inline constexpr int kFitsCardsPerBlock = 36;
inline constexpr int kFitsBlockSize = kFitsCardSize * kFitsCardsPerBlock;

// Exchanges the two bytes of every value (a loop the compiler vectorises).
inline void swapBytes16(unsigned short* values, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        values[i] = static_cast<unsigned short>((values[i] >> 8) | (values[i] << 8));
}

static_assert(sizeof(FitsHeader) == 11 * sizeof(int), "eleven integers, nothing else");
