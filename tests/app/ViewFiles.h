#pragma once

// Images for the view tests, written as FITS by the program's own writer and
// opened through the document, so the view shows exactly what a user's file
// gives it.
#include "ImageBuffer.h"
#include "ImageSave.h"

#include "common/TempDir.h"

#include <QImage>
#include <QString>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

namespace viewfiles {

using PixelRule = std::function<unsigned short(int x, int y)>;

// Left to right from 0 to 65535, the same on every row.
inline unsigned short ramp(int x, int width) {
    return static_cast<unsigned short>(width > 1 ? std::int64_t(x) * 65535 / (width - 1) : 0);
}

// Writes a width x height FITS file whose pixels follow the rule; the path.
inline QString writeFits(const TempDir& dir, const std::string& name, int width, int height,
                         const PixelRule& rule) {
    ImageBuffer image;
    EXPECT_EQ(image.resize(width, height), 1);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.pixels[std::size_t(y) * width + x] = rule(x, y);
    const QString path = QString::fromStdString(dir.file(name));
    EXPECT_EQ(saveFits(path, image, 0), 0) << name;
    return path;
}

// The serial number of an image's pixel memory: it changes when the image is
// made anew, not when its pixels are rewritten in place.
inline qint64 bitmapSerial(const QImage& image) {
    return image.cacheKey() >> 32;
}

} // namespace viewfiles
