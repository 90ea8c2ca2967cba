#include "ImageBuffer.h"

#include <algorithm>
#include <new>

ImageBuffer::ImageBuffer(const ImageBuffer& other) {
    stats.valid = false;
    if (other.pixels && resize(other.width, other.height))
        copyPixels(other);
}

ImageBuffer::~ImageBuffer() {
    delete[] pixels;
}

std::int64_t ImageBuffer::pixelCount() const {
    if (!pixels || width <= 0 || height <= 0)
        return 0;
    return std::int64_t(width) * height;
}

int ImageBuffer::allocatePixels() {
    delete[] pixels;
    pixels = nullptr;
    if (width < 0 || height < 0)
        return 0;
    const std::int64_t n = std::int64_t(width) * height;
    // new[] of zero elements still gives a valid array: an image with no rows.
    pixels = new (std::nothrow) unsigned short[static_cast<std::size_t>(n)];
    return pixels ? 1 : 0;
}

int ImageBuffer::resize(int newWidth, int newHeight) {
    width = newWidth;
    height = newHeight;
    return allocatePixels();
}

void ImageBuffer::copyPixels(const ImageBuffer& other) {
    const std::int64_t n = pixelCount();
    if (n > 0 && other.pixels)
        std::copy_n(other.pixels, n, pixels);
}
