#pragma once

#include "GuideZone.h"
#include "ImageBuffer.h"

#include <cstdint>
#include <memory>
#include <optional>

// A stack of registered images: per pixel, the 32-bit sum of the values it
// received and how many images they came from (the strips a shifted image
// does not cover get fewer). A pixel that has 65535 images takes no more, so
// its sum never passes 32 bits.
class StackSum {
public:
    static constexpr std::uint32_t kMaxImages = 65535;

    int width = 0;
    int height = 0;
    std::unique_ptr<std::uint32_t[]> sums;
    std::unique_ptr<std::uint16_t[]> counts;

    // The first image, once in every pixel. False, holding nothing, without
    // pixels or memory.
    bool start(const ImageBuffer& first);
    bool holdsImages() const { return sums != nullptr; }
    bool sameSize(const ImageBuffer& image) const;
    // Each pixel's mean, rounded to the nearest value, into an image of the
    // stack's size.
    void writeMean(ImageBuffer& out) const;
};

// Adds src, shifted by (dx, dy), into the stack: pixel (x, y) receives
// src(x + dx, y + dy) over the columns max(0, -dx) .. W - max(0, dx) - 1 and
// the rows max(0, -dy) .. H - max(0, dy) - 1; the strips outside are left
// alone. Returns false, touching nothing, when the image is not of the
// stack's size or one of them has no pixels.
bool addShifted(StackSum& stack, const ImageBuffer& src, int dx, int dy);

// Running shift-and-add of the images arriving in the document: each new image
// is registered on the star by a whole-pixel shift and added to the stack, and
// the stack's mean is copied back, so the document always shows it at the
// scale of one image.
class CCumul {
public:
    enum class Step {
        Added,        // registered, added; the document holds the new mean
        NotAdded,     // no centroid: the image was dropped, the document holds the stack so far
        SizeMismatch, // the document image no longer has the stack's size: nothing was touched
    };

    StackSum stack;             // started with the first image
    ImageBuffer& documentImage; // where new images arrive and the mean is copied back
    int margin;                 // star search border without a marker: width / 4
    int zoneSize = kZoneSize;
    float refX = 0.0f; // star centroid on the first image
    float refY = 0.0f;
    float curX = 0.0f; // star centroid on the last image added
    float curY = 0.0f;
    GuideZone zone;     // current measurement zone
    int threshold = 0;  // 0.9 x the star's peak on the first image
    int imageCount = 0; // images in the stack

    static constexpr int kZoneSize = 32;

    explicit CCumul(ImageBuffer& document);
    virtual ~CCumul() = default;
    CCumul(const CCumul&) = delete;
    CCumul& operator=(const CCumul&) = delete;

    // Finds the star on the first image, around the marker when it is set.
    void beginCumul(int markerX, int markerY, bool markerSet);

    // One step per new image in the document.
    Step addImage();

    // Puts the stack's mean back into the document, for a run that stops on
    // an image that was not added (a failed acquisition). False, touching
    // nothing, when the document no longer has the stack's size.
    bool storeMean();

    // Frames the view draws: red around the reference (half-side zoneSize / 2),
    // green around the last centroid (half-side zoneSize / 5). Empty while the
    // position is unknown (no star found at the start).
    std::optional<GuideZone> referenceFrame() const;
    std::optional<GuideZone> currentFrame() const;
};
