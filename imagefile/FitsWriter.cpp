#include "FitsHeader.h"

#include "SettingsStore.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

namespace {

constexpr const char* kAcqSection = "AcqPrm";
constexpr int kCardsAfterN = 12; // the ACQ group and END
// The camera as the INDI driver names it to clients.
constexpr const char* kInstrument = "Kovrel CCD";
// Every camera image is taken open to the sky: raw, or with the stored dark
// frame subtracted.
constexpr const char* kImageType = "Light Frame";

// Builds the header block card by card; a card never spills into the next.
class CardBlock {
public:
    CardBlock() { std::memset(bytes, ' ', sizeof bytes); }

    // Formats one card; text beyond column 80 (only ever trailing blanks for
    // the values this writer gets) is cut so that the card stays 80 bytes.
    void add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (cards >= kFitsCardsPerBlock)
            return;
        char line[2 * kFitsCardSize + 64];
        va_list args;
        va_start(args, format);
        const int n = std::vsnprintf(line, sizeof line, format, args);
        va_end(args);
        char* card = bytes + cards * kFitsCardSize;
        std::memset(card, ' ', kFitsCardSize);
        if (n > 0)
            std::memcpy(card, line, std::min<std::size_t>(std::size_t(n), kFitsCardSize));
        ++cards;
    }
    int count() const { return cards; }
    const char* data() const { return bytes; }

private:
    char bytes[kFitsBlockSize];
    int cards = 0;
};

long acq(const char* key, int defaultValue) {
    return long(SettingsStore::getInt(kAcqSection, key, defaultValue));
}

// The standard cards, in the fixed format: values end in column 30, strings
// start in column 11; the comments are plain ASCII as FITS requires.
void addObservationCards(CardBlock& block, const FitsObservation& o) {
    std::tm utc{};
    if (o.start != 0 && ::gmtime_r(&o.start, &utc))
        block.add("%-8s= '%04d-%02d-%02dT%02d:%02d:%02d' / %s", "DATE-OBS", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  "Debut de pose, UTC");
    block.add("%-8s= %17d.%02d / %s", "EXPTIME", o.exposureSeconds, o.exposureHundredths,
              "Duree de pose en secondes");
    block.add("%-8s= %20d / %s", "XBINNING", o.binning, "Binning X");
    block.add("%-8s= %20d / %s", "YBINNING", o.binning, "Binning Y");
    block.add("%-8s= %20d / %s", "XORGSUBF", o.originX, "Origine X de la zone, pixels binnes");
    block.add("%-8s= %20d / %s", "YORGSUBF", o.originY, "Origine Y de la zone, pixels binnes");
    const std::string instrument = "'" + std::string(kInstrument) + "'";
    const std::string imageType = "'" + std::string(kImageType) + "'";
    block.add("%-8s= %-20s / %s", "INSTRUME", instrument.c_str(), "Camera");
    block.add("%-8s= %-20s / %s", "IMAGETYP", imageType.c_str(), "Type d'image");
}

} // namespace

void FitsHeader::setDateTime(int year_, int month_, int day_, int hour_, int minute_, int second_) {
    year = year_;
    month = month_;
    day = day_;
    hour = hour_;
    minute = minute_;
    second = second_;
}

int FitsHeader::writeFits(std::FILE* file, unsigned short* pixels,
                          std::optional<AcqExposure> exposure,
                          const FitsObservation* observation) const {
    CardBlock block;
    block.add("%-8s%-2s%20s%50s", "SIMPLE", "=", "T", " ");
    block.add("%-8s%-2s%20d%50s", "BITPIX", "=", bitpix, " ");
    block.add("%-8s%-2s%20d%50s", "NAXIS", "=", naxis, " ");
    block.add("%-8s%-2s%20d%50s", "NAXIS1", "=", naxis1, " ");
    block.add("%-8s%-2s%20d%50s", "NAXIS2", "=", naxis2, " ");
    if (naxis == 3)
        block.add("%-8s%-2s%20d%50s", "NAXIS3", "=", naxis3, " ");
    if (day != 0) {
        block.add("%-8s%-2s'%04d-%02d-%02d'%58s", "DATE", "=", year, month, day, " ");
        block.add("%-8s%-2s'%02d:%02d:%02d'%60s", "TIME", "=", hour, minute, second, " ");
    }
    const int n = block.count();
    // Settings in force now, read afresh: a reopened image saved again gets them.
    const long binning = acq("binning", 1);
    block.add("COMMENT ACQ-CHAMPS-AQ / %-56s", "Debut Champs Acquisition");
    block.add("COMMENT ACQ-nx%16ld / %-47s", acq("img_w", 1), "Largeur");
    block.add("COMMENT ACQ-ny%16ld / %-47s", acq("img_h", 1), "Hauteur");
    block.add("COMMENT ACQ-bx%16ld / %-47s", binning, "Binning X");
    block.add("COMMENT ACQ-by%16ld / %-47s", binning, "Binning Y");
    block.add("COMMENT ACQ-x0%16ld / %-47s", acq("img_x0", 0), "Zone X0");
    block.add("COMMENT ACQ-y0%16ld / %-47s", acq("img_y0", 0), "Zone Y0");
    const long seconds = exposure ? long(exposure->seconds) : acq("pause_s", 1);
    const long hundredths = exposure ? long(exposure->hundredths) : acq("pause_cs", 0);
    block.add("COMMENT ACQ-ps%16ld / %-47s", seconds, "Pause sec");
    block.add("COMMENT ACQ-pc%16ld / %-47s", hundredths, "Pause cs");
    block.add("COMMENT ACQ-it%16ld / %-47s", acq("intervalle", 0), "intervalle");
    block.add("COMMENT ACQ-FIN       / %-56s", "Fin Champs Acquisition");
    const int beforeStandard = block.count();
    if (observation)
        addObservationCards(block, *observation);
    const int standard = block.count() - beforeStandard;
    block.add("%-80s", "END");
    const int blanks = kFitsCardsPerBlock - (n + kCardsAfterN + standard) % kFitsCardsPerBlock;
    for (int i = 0; i < blanks; ++i)
        block.add("%80s", " ");

    bool ok = std::fwrite(block.data(), 1, kFitsBlockSize, file) == std::size_t(kFitsBlockSize);

    const std::int64_t count = std::int64_t(naxis1) * naxis2;
    if (count > 0 && !pixels)
        ok = false; // a header announcing data that is not there is no FITS file
    if (count > 0 && pixels) {
        // Big-endian on file: swap in place for the one write, then back.
        swapBytes16(pixels, std::size_t(count));
        ok = std::fwrite(pixels, sizeof(unsigned short), std::size_t(count), file) ==
                 std::size_t(count) &&
             ok;
        swapBytes16(pixels, std::size_t(count));
        const std::int64_t tail = (2 * count) % kFitsBlockSize;
        if (tail != 0) {
            static const char zeros[kFitsBlockSize] = {};
            const std::size_t padding = std::size_t(kFitsBlockSize - tail);
            ok = std::fwrite(zeros, 1, padding, file) == padding && ok;
        }
    }
    const bool flushed = std::fflush(file) == 0;
    return ok && flushed ? 0 : 1;
}
