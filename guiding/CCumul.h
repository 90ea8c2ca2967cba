#pragma once

#include "GuideZone.h"
#include "ImageBuffer.h"

#include <optional>

// Adds src, shifted by (dx, dy), into acc: acc(x, y) += src(x + dx, y + dy) over
// the columns max(0, -dx) .. W - max(0, dx) - 1 and the rows max(0, -dy) ..
// H - max(0, dy) - 1; the strips outside are left alone. A sum that would reach
// 32767 leaves the pixel as it was. Returns false, touching nothing, when the
// two images differ in size or one has no pixels.
bool addShifted(ImageBuffer& acc, const ImageBuffer& src, int dx, int dy);

// Running shift-and-add of the images arriving in the document: each new image
// is registered on the star by a whole-pixel shift, added to the sum, and the
// sum is copied back so the document always shows it.
class CCumul {
public:
    enum class Step {
        Added,        // registered, added; the document holds the new sum
        NotAdded,     // no centroid: the image was dropped, the document holds the sum so far
        SizeMismatch, // the document image no longer has the sum's size: nothing was touched
    };

    ImageBuffer accumulator;    // the running sum, started as a copy of the first image
    ImageBuffer& documentImage; // where new images arrive and the sum is copied back
    int margin;                 // star search border without a marker: width / 4
    int zoneSize = kZoneSize;
    float refX = 0.0f; // star centroid on the first image
    float refY = 0.0f;
    float curX = 0.0f; // star centroid on the last image added
    float curY = 0.0f;
    GuideZone zone;    // current measurement zone
    int threshold = 0; // 0.9 x the star's peak on the first image

    static constexpr int kZoneSize = 32;

    explicit CCumul(ImageBuffer& document);
    virtual ~CCumul() = default;
    CCumul(const CCumul&) = delete;
    CCumul& operator=(const CCumul&) = delete;

    // Finds the star on the first image, around the marker when it is set.
    void beginCumul(int markerX, int markerY, bool markerSet);

    // One step per new image in the document.
    Step addImage();

    // Puts the sum back into the document, for a run that stops on an image that
    // was not added (a failed acquisition). False, touching nothing, when the
    // document no longer has the sum's size.
    bool storeSum();

    // Frames the view draws: red around the reference (half-side zoneSize / 2),
    // green around the last centroid (half-side zoneSize / 5). Empty while the
    // position is unknown (no star found at the start).
    std::optional<GuideZone> referenceFrame() const;
    std::optional<GuideZone> currentFrame() const;

private:
    bool sameSize() const;
};
