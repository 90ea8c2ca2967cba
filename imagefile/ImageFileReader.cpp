#include "ImageFileReader.h"

#include "ImageBuffer.h"
#include "RegularFile.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace {

constexpr int kEipHeaderSize = 70;
constexpr int kEipTableSize = 768;
constexpr int kEipCountedEntrySize = 8;
constexpr int kImgHeaderSize = 8;
constexpr int kImgBitsPerPixel = 16;
constexpr unsigned short kSignFlip = 0x8000;

bool readExact(std::FILE* file, void* out, std::size_t size) {
    return std::fread(out, 1, size, file) == size;
}

// Skips by reading, so that pipes and memory streams behave like files and a
// skip past the end simply leaves the stream at its end.
void skipBytes(std::FILE* file, std::int64_t count) {
    char scratch[4096];
    while (count > 0) {
        const std::size_t chunk = std::size_t(std::min<std::int64_t>(count, sizeof scratch));
        const std::size_t got = std::fread(scratch, 1, chunk, file);
        if (got != chunk)
            return;
        count -= std::int64_t(got);
    }
}

unsigned le16(const unsigned char* p) {
    return unsigned(p[0]) | unsigned(p[1]) << 8;
}
unsigned be16(const unsigned char* p) {
    return unsigned(p[0]) << 8 | unsigned(p[1]);
}

// The new image replaces the caller's only once it is complete; the old array
// goes away with the temporary.
void adopt(ImageBuffer& image, ImageBuffer& fresh) {
    std::swap(image.pixels, fresh.pixels);
    std::swap(image.width, fresh.width);
    std::swap(image.height, fresh.height);
    image.invalidateStats();
}

ImageLoadResult checkSize(std::int64_t width, std::int64_t height) {
    if (width > kMaxImageSide || height > kMaxImageSide || width * height * 2 > kMaxImageBytes)
        return ImageLoadResult::TooLarge;
    return ImageLoadResult::Ok;
}

// Reads count 16-bit values in the given byte order; values past the end of
// the file become 0. Returns the number read.
std::int64_t readValues(std::FILE* file, unsigned short* pixels, std::int64_t count,
                        std::endian order, unsigned short flip) {
    if (count <= 0)
        return 0;
    const std::size_t got = std::fread(pixels, sizeof(unsigned short), std::size_t(count), file);
    std::fill(pixels + got, pixels + count, static_cast<unsigned short>(0));
    if (order != std::endian::native) {
        for (std::size_t i = 0; i < got; ++i)
            pixels[i] = static_cast<unsigned short>(((pixels[i] >> 8) | (pixels[i] << 8)) ^ flip);
    } else if (flip) {
        for (std::size_t i = 0; i < got; ++i)
            pixels[i] ^= flip;
    }
    return std::int64_t(got);
}

// ---- FITS cards ----

bool keywordIs(const char* card, const char* keyword) {
    char padded[8];
    std::memset(padded, ' ', sizeof padded);
    std::memcpy(padded, keyword, std::strlen(keyword));
    return std::memcmp(card, padded, sizeof padded) == 0;
}

// The value field of a card (columns 11 to 80) as a terminated string.
struct CardValue {
    char text[kFitsCardSize - 10 + 1];
    explicit CardValue(const char* card) {
        std::memcpy(text, card + 10, kFitsCardSize - 10);
        text[kFitsCardSize - 10] = '\0';
    }
};

// An integer the way "%d" reads it (blanks, sign, digits, rest ignored), with
// out-of-range values clamped instead of undefined. Without digits the field
// keeps its value.
void parseInt(const char* card, int& field) {
    const CardValue v(card);
    const char* p = v.text;
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (!std::isdigit(static_cast<unsigned char>(*p)))
        return;
    long long value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p)
        value = std::min<long long>(value * 10 + (*p - '0'), 1ll << 40);
    value = negative ? -value : value;
    field = int(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// A real value; FITS allows 'D' as exponent letter.
bool parseReal(const char* card, double& out) {
    CardValue v(card);
    for (char& c : v.text) {
        if (c == '/')
            c = '\0';
        if (c == 'D' || c == 'd')
            c = 'E';
    }
    char* end = nullptr;
    const double value = std::strtod(v.text, &end);
    if (end == v.text)
        return false;
    out = value;
    return true;
}

} // namespace

ImageFileFormat imageFileFormatForPath(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return ImageFileFormat::Unknown;
    const std::string_view ext = name.substr(dot + 1);
    auto sameText = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) == y;
               });
    };
    if (ext.size() >= 3 && sameText(ext.substr(0, 3), "fit"))
        return ImageFileFormat::Fits;
    if (sameText(ext, "eip"))
        return ImageFileFormat::Eip;
    if (sameText(ext, "img"))
        return ImageFileFormat::Img;
    return ImageFileFormat::Unknown;
}

int readFitsHeader(std::FILE* file, FitsInput& input) {
    input = FitsInput{};
    FitsHeader& h = input.header;
    double bzero = 0.0;
    double bscale = 1.0;
    bool haveBzero = false;
    char block[kFitsBlockSize];
    bool ended = false;
    for (int blocks = 0; !ended; ++blocks) {
        // A header that stops before its END card, or never finds one, is not
        // a FITS header.
        if (blocks == kMaxFitsHeaderBlocks || !readExact(file, block, sizeof block))
            return 1;
        for (int c = 0; c < kFitsCardsPerBlock && !ended; ++c) {
            const char* card = block + c * kFitsCardSize;
            if (keywordIs(card, "SIMPLE")) {
                if (card[29] != 'T')
                    return 1;
            } else if (keywordIs(card, "BITPIX")) {
                parseInt(card, h.bitpix);
            } else if (keywordIs(card, "NAXIS")) {
                parseInt(card, h.naxis);
            } else if (keywordIs(card, "NAXIS1")) {
                parseInt(card, h.naxis1);
            } else if (keywordIs(card, "NAXIS2")) {
                parseInt(card, h.naxis2);
            } else if (keywordIs(card, "NAXIS3")) {
                parseInt(card, h.naxis3);
            } else if (keywordIs(card, "BZERO")) {
                haveBzero = parseReal(card, bzero);
            } else if (keywordIs(card, "BSCALE")) {
                parseReal(card, bscale);
            } else if (keywordIs(card, "END")) {
                // The whole keyword, so that ENDTIME and the like do not end the header.
                ended = true;
            }
        }
    }
    if ((h.naxis != 1 && h.naxis != 2) || h.bitpix != 16)
        return 2;
    input.unsignedOffset = haveBzero && bzero == 32768.0 && bscale == 1.0;
    return 0;
}

std::int64_t readFitsData(std::FILE* file, const FitsInput& input, unsigned short* pixels) {
    const std::int64_t count = std::int64_t(input.header.naxis1) * input.header.naxis2;
    return readValues(file, pixels, count, std::endian::big,
                      input.unsignedOffset ? kSignFlip : static_cast<unsigned short>(0));
}

ImageLoadResult readFitsImage(std::FILE* file, ImageBuffer& image) {
    FitsInput input;
    const int header = readFitsHeader(file, input);
    if (header == 1)
        return ImageLoadResult::NotFits;
    if (header != 0)
        return ImageLoadResult::UnsupportedFits;
    const FitsHeader& h = input.header;
    // A one-axis file is one image row wide and has no rows unless it also
    // names NAXIS2; a two-axis file needs both sides.
    if (h.naxis1 <= 0 || h.naxis2 < 0 || (h.naxis == 2 && h.naxis2 == 0))
        return ImageLoadResult::UnsupportedFits;
    if (const ImageLoadResult size = checkSize(h.naxis1, h.naxis2); size != ImageLoadResult::Ok)
        return size;
    ImageBuffer fresh;
    if (!fresh.resize(h.naxis1, h.naxis2))
        return ImageLoadResult::OutOfMemory;
    readFitsData(file, input, fresh.pixels);
    adopt(image, fresh);
    return ImageLoadResult::Ok;
}

ImageLoadResult readEipImage(std::FILE* file, ImageBuffer& image) {
    unsigned char header[kEipHeaderSize];
    if (!readExact(file, header, sizeof header))
        return ImageLoadResult::BadEip;
    if (std::memcmp(header, "EIP", 3) != 0 || header[3] != 2 || le16(header + 10) != 2)
        return ImageLoadResult::BadEip;
    const int width = int(le16(header + 6));
    const int height = int(le16(header + 8));
    const bool hasTable = header[20] != 0;
    const bool hasTagged = header[21] != 0;
    const bool hasCounted = header[22] != 0;

    // Tagged blocks: "AQ" entries of key + 4-byte value, then "IU" entries of
    // key + length + that many bytes; a bare key of 0 ends each list. The
    // lists end only at that key, so a file ending inside one is broken.
    if (hasTagged) {
        unsigned char tag[2];
        unsigned char word[4];
        if (!readExact(file, tag, 2))
            return ImageLoadResult::BadEip;
        if (std::memcmp(tag, "AQ", 2) == 0) {
            for (;;) {
                if (!readExact(file, word, 2))
                    return ImageLoadResult::BadEip;
                if (le16(word) == 0)
                    break;
                if (!readExact(file, word, 4))
                    return ImageLoadResult::BadEip;
            }
        }
        if (!readExact(file, tag, 2))
            return ImageLoadResult::BadEip;
        if (std::memcmp(tag, "IU", 2) == 0) {
            for (;;) {
                if (!readExact(file, word, 2))
                    return ImageLoadResult::BadEip;
                if (le16(word) == 0)
                    break;
                if (!readExact(file, word, 2))
                    return ImageLoadResult::BadEip;
                skipBytes(file, le16(word));
            }
        }
    }
    if (hasCounted) {
        unsigned char word[2];
        if (!readExact(file, word, 2))
            return ImageLoadResult::BadEip;
        const int count = int(static_cast<std::int16_t>(le16(word)));
        if (count < 0)
            return ImageLoadResult::BadEip;
        skipBytes(file, std::int64_t(count) * kEipCountedEntrySize);
    }
    if (hasTable)
        skipBytes(file, kEipTableSize);

    if (width == 0 || height == 0)
        return ImageLoadResult::BadEip;
    if (const ImageLoadResult size = checkSize(width, height); size != ImageLoadResult::Ok)
        return size;
    ImageBuffer fresh;
    if (!fresh.resize(width, height))
        return ImageLoadResult::OutOfMemory;
    // Signed values on file: inverting the top bit makes them unsigned.
    readValues(file, fresh.pixels, fresh.pixelCount(), std::endian::little, kSignFlip);
    adopt(image, fresh);
    return ImageLoadResult::Ok;
}

ImageLoadResult readImgImage(std::FILE* file, ImageBuffer& image) {
    unsigned char header[kImgHeaderSize];
    if (!readExact(file, header, sizeof header))
        return ImageLoadResult::BadImg;
    const int width = int(be16(header));
    const int height = int(be16(header + 2));
    if (be16(header + 4) != kImgBitsPerPixel || width == 0 || height == 0)
        return ImageLoadResult::BadImg;
    if (const ImageLoadResult size = checkSize(width, height); size != ImageLoadResult::Ok)
        return size;
    ImageBuffer fresh;
    if (!fresh.resize(width, height))
        return ImageLoadResult::OutOfMemory;
    readValues(file, fresh.pixels, fresh.pixelCount(), std::endian::big, 0);
    adopt(image, fresh);
    return ImageLoadResult::Ok;
}

ImageLoadResult loadImageFile(ImageBuffer& image, const char* path) {
    // A pipe or a device would block the open or never end: only regular files.
    const int fd = openRegularFile(path);
    if (fd < 0)
        return ImageLoadResult::CannotOpen;
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        ::close(fd);
        return ImageLoadResult::CannotOpen;
    }
    ImageLoadResult result = ImageLoadResult::UnknownExtension;
    switch (imageFileFormatForPath(path)) {
    case ImageFileFormat::Fits:
        result = readFitsImage(file, image);
        break;
    case ImageFileFormat::Eip:
        result = readEipImage(file, image);
        break;
    case ImageFileFormat::Img:
        result = readImgImage(file, image);
        break;
    case ImageFileFormat::Unknown:
        break;
    }
    std::fclose(file);
    return result;
}
