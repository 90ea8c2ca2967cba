#pragma once

#include "GuideZone.h"
#include "ImageBuffer.h"

// Guide-star measurements shared by guiding and accumulation: a star is the
// brightest pixel together with the pixels of its zone that reach 90 % of it,
// located by an intensity-weighted centroid (no background subtraction, no fit).
//
// Rectangles come as left, right, top, bottom. Each operation is one pass over
// its rectangle, clipped to the image, with no allocation.

// 3 x 3 mean in place, in raster order. The left neighbour and the three
// neighbours above are read already smoothed (no second buffer). The bounds are
// clipped to [1, width - 2] x [1, height - 2] axis by axis, and the far ends are
// excluded: rows top .. bottom - 1, columns left .. right - 1.
void smoothBox3(ImageBuffer& image, int left, int right, int top, int bottom);

// Brightest pixel of the rectangle (both ends included). Ties keep the first in
// raster order. When no pixel exceeds 0 the result is 0 and col/row are left
// as they were.
unsigned short findPeak(const ImageBuffer& image, int left, int right, int top, int bottom,
                        int& col, int& row);

// Centroid of the pixels whose value v >= threshold, weighted by the raw value.
// x and y are NaN when no pixel counts. Returns the level: the pixel at
// (trunc x, trunc y), or 0 when there is no centroid.
unsigned short measureCentroid(const ImageBuffer& image, unsigned short threshold, int left,
                               int right, int top, int bottom, float& x, float& y);

inline void smoothBox3(ImageBuffer& image, const GuideZone& z) {
    smoothBox3(image, z.left, z.right, z.top, z.bottom);
}
inline unsigned short findPeak(const ImageBuffer& image, const GuideZone& z, int& col, int& row) {
    return findPeak(image, z.left, z.right, z.top, z.bottom, col, row);
}
inline unsigned short measureCentroid(const ImageBuffer& image, unsigned short threshold,
                                      const GuideZone& z, float& x, float& y) {
    return measureCentroid(image, threshold, z.left, z.right, z.top, z.bottom, x, y);
}

// The view's marker as read when a run was asked for.
struct StarMarker {
    int x = 0;
    int y = 0;
    bool set = false;
};

// What differs between a guiding start and an accumulation start.
struct LockConstants {
    int zoneSize = 0;                 // measurement zone; the marker search uses the same half-size
    int margin = 0;                   // border left out of the search when there is no marker
    bool smoothWithoutMarker = false; // smooth the search rectangle first when there is no marker
};

// Border of the guiding star search without a marker.
inline constexpr int kGuideSearchMargin = 32;
// Measurement zone of the accumulation.
inline constexpr int kCumulZoneSize = 32;

constexpr LockConstants guidingLock(int capture) {
    return LockConstants{capture, kGuideSearchMargin, true};
}
constexpr LockConstants accumulationLock(int imageWidth) {
    return LockConstants{kCumulZoneSize, imageWidth / 4, false};
}

struct StarLock {
    GuideZone search;        // rectangle the peak was searched in
    unsigned short peak = 0; // 0 when nothing in it exceeded 0
    int peakX = 0;           // peak position, or the centre of the search rectangle
    int peakY = 0;
    int threshold = 0; // trunc(peak x 0.9)
    GuideZone zone;    // measurement zone around the peak
    float refX = 0.0f; // reference centroid; NaN when the zone holds no light
    float refY = 0.0f;
    unsigned short level = 0;
};

// Finds a star and fixes its reference when a run starts. With a marker the
// search rectangle is the zone around it, otherwise the image less the margin on
// every side. When nothing is brighter than 0 the zone is centred on the centre
// of the search rectangle and the threshold is 0.
StarLock lockStar(ImageBuffer& image, const StarMarker& marker, const LockConstants& constants);
