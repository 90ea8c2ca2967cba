#pragma once

#include <cstdint>

// Statistics of an image without its 16-pixel border, computed on demand.
struct ImageStats {
    bool valid = false;
    int minimum = 65535;
    int maximum = 0;
    int mean = 0;
    float histogram[256] = {};
};

// Width x height unsigned 16-bit pixels, row after row, row 0 at the top.
// Width and height mean something only while pixels is not null.
class ImageBuffer {
public:
    unsigned short* pixels = nullptr;
    int width = 0;
    int height = 0;
    ImageStats stats;

    ImageBuffer() = default;
    // A full copy of the other image (size and pixels); statistics start invalid.
    ImageBuffer(const ImageBuffer& other);
    ImageBuffer& operator=(const ImageBuffer&) = delete;
    ~ImageBuffer();

    // Frees the current array and allocates width x height uninitialised values.
    // Returns 1 when an array was obtained, 0 otherwise (pixels is then null).
    int allocatePixels();
    // Stores both sizes and reallocates, also when the size does not change.
    int resize(int newWidth, int newHeight);
    // Copies this buffer's width x height values from the other buffer.
    void copyPixels(const ImageBuffer& other);
    // Number of pixels, 0 without an array or with a non-positive size.
    std::int64_t pixelCount() const;

    void invalidateStats() { stats.valid = false; }
    void computeStats();
    void getStats(int& minimum, int& maximum, int& mean);
    const float* getHistogram();
};
