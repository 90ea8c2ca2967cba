#include "BmpWriter.h"

#include "SafeFileWriter.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;
constexpr int kPixelOffset = kFileHeaderSize + kInfoHeaderSize;
constexpr int kColourTableEntries = 256;
constexpr int kColourEntrySize = 4;

void put16(unsigned char* p, unsigned v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char* p, std::uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

} // namespace

int writeBmp(const QString& path, const unsigned char* bits, int width, int height,
             int bitsPerPixel, const unsigned char* colourTable, long long sourceRowBytes) {
    if (!bits || width <= 0 || height <= 0)
        return 1;
    if (bitsPerPixel != 24 && !(bitsPerPixel == 8 && colourTable))
        return 1;
    const long long fileRow = bmpRowBytes(width, 24);
    const long long sourceRow =
        sourceRowBytes > 0 ? sourceRowBytes : bmpRowBytes(width, bitsPerPixel);
    if (sourceRow < static_cast<long long>(width) * (bitsPerPixel / 8))
        return 1; // rows that overlap
    // The size field is 32 bits (checked before multiplying, which could overflow).
    if (fileRow > (0xFFFFFFFFll - kPixelOffset) / height)
        return 1;
    const long long fileSize = kPixelOffset + fileRow * height;

    unsigned char header[kPixelOffset] = {};
    header[0] = 'B';
    header[1] = 'M';
    put32(header + 2, std::uint32_t(fileSize));
    put32(header + 10, kPixelOffset);
    put32(header + 14, kInfoHeaderSize);
    put32(header + 18, std::uint32_t(width));
    put32(header + 22, std::uint32_t(height));
    put16(header + 26, 1);
    put16(header + 28, 24);

    SafeFileWriter out(path);
    std::FILE* file = out.file();
    if (!file)
        return 1;
    bool ok = std::fwrite(header, 1, sizeof header, file) == sizeof header;
    if (bitsPerPixel == 24 && sourceRow == fileRow) {
        // Rows are already in file order and padding.
        const std::size_t bytes = std::size_t(fileRow * height);
        ok = ok && std::fwrite(bits, 1, bytes, file) == bytes;
    } else {
        // One row at a time; the row's padding stays zero.
        std::vector<unsigned char> row(std::size_t(fileRow), 0);
        for (int y = 0; y < height && ok; ++y) {
            const unsigned char* in = bits + sourceRow * y;
            if (bitsPerPixel == 24) {
                std::memcpy(row.data(), in, 3 * std::size_t(width));
            } else {
                unsigned char* px = row.data();
                for (int x = 0; x < width; ++x, px += 3)
                    std::memcpy(px, colourTable + in[x] * kColourEntrySize, 3);
            }
            ok = std::fwrite(row.data(), 1, row.size(), file) == row.size();
        }
    }
    static_assert(kColourTableEntries == 256, "an 8-bit index covers the whole table");
    return ok && out.commit() ? 0 : out.failure();
}
