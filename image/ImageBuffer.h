#pragma once

#include "KernelCode.h"

#include <cstdint>

// Statistics of an image without its 16-pixel border, computed on demand. A
// side of 32 pixels or fewer keeps no border: it is measured whole.
struct ImageStats {
    // The level samples: one measured pixel in kSampleStep, counted by
    // value / kSampleBinWidth; fine enough to find the sky's median and noise
    // where the 256 bins are not, and cheap enough to take in the same pass.
    // Row y gives the measured columns (y / 2) % 64 + 64 j from the first
    // (16 with a border): both parities of row and column, so each class of a
    // colour mosaic is sampled.
    static constexpr int kSampleStep = 64;
    static constexpr int kSampleBinWidth = 16;
    static constexpr int kSampleBins = 65536 / kSampleBinWidth;

    bool valid = false;
    int minimum = 65535;
    int maximum = 0;
    int mean = 0;
    float histogram[256] = {};
    std::uint32_t sampleCount = 0;
    std::uint32_t samples[kSampleBins] = {};
};

// The code the statistics pass runs (KernelCode.h).
using StatsCode = KernelCode;

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
    void computeStats(StatsCode code = StatsCode::Fastest);
    void getStats(int& minimum, int& maximum, int& mean);
    const float* getHistogram();
};
