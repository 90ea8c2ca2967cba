#pragma once

#include "GuideZone.h"
#include "ImageBuffer.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

// Focus figures of one star: its half-flux diameter and its full width at half
// maximum, both in pixels, with the sky level around it taken off first.
//
// Pixel (i, j) covers [i - 0.5, i + 0.5] x [j - 0.5, j + 0.5]: its value is the
// star's light over that square. Both widths are given for the star itself, the
// spread the pixels add being taken off (see FocusMeasure.cpp).
struct FocusStar {
    bool found = false; // the rest means something only when a star was measured
    double x = 0.0;     // centre, image pixels
    double y = 0.0;
    double hfd = 0.0;        // diameter of the circle holding half the star's light
    double fwhm = 0.0;       // of the Gaussian that fits the star's core best
    double background = 0.0; // sky level per pixel around the star
    unsigned short peak = 0; // brightest pixel of the star, as read
    bool saturated = false;  // peak at the saturation level: the core is clipped
};

// Finds and measures stars. Pure computation on the image: no toolkit, no I/O.
// The object only keeps its working rows from one image to the next, so that
// measuring costs no allocation once images keep their size.
class FocusMeter {
public:
    // Half-size of the first measurement box; it doubles, up to the largest,
    // while the star fills more than a quarter of it.
    static constexpr int kFirstBoxHalf = 16;
    static constexpr int kLargestBoxHalf = 128;
    // How far from a marker its star may lie.
    static constexpr int kMarkerReach = 10;
    // Stars closer than this to the image's edge are not searched for (less
    // in images too small to keep a middle).
    static constexpr int kSearchMargin = 16;

    FocusMeter();

    // The star around (x, y): measured in a box centred there, grown as the
    // star needs; nothing when the image's edge leaves too little sky around
    // it. A pixel at `saturation` or above counts as clipped.
    FocusStar measure(const ImageBuffer& image, int x, int y, unsigned short saturation);

    // The star whose core is brightest within kMarkerReach of (x, y),
    // saturated or not.
    FocusStar starNear(const ImageBuffer& image, int x, int y, unsigned short saturation);

    // The brightest star of the image that is not saturated; when every star
    // found is saturated, the brightest of them (flagged so). One pass over the
    // image ranks places by their 3 x 3 sum less its largest pixel, so that a
    // lone hot pixel never outranks a star.
    FocusStar brightestStar(const ImageBuffer& image, unsigned short saturation);

    // Measurement in one box of half-size h around (x, y), without growing it;
    // the box shrinks about (x, y) to lie within the image.
    FocusStar measureInBox(const ImageBuffer& image, int x, int y, int h,
                           unsigned short saturation);

private:
    // A place of the star search and its rank.
    struct Place {
        std::uint32_t rank = 0;
        int x = 0;
        int y = 0;
    };
    static bool within(const Place& a, const Place& b, int reach) {
        return std::abs(a.x - b.x) <= reach && std::abs(a.y - b.y) <= reach;
    }
    static constexpr int kCandidates = 16;
    // Saturated cores the search keeps clear of; more are left to the
    // measurement, which flags them.
    static constexpr std::size_t kClippedPlaces = 256;
    static constexpr std::uint32_t kNothingClipped = 65536;
    static constexpr int kThetaSteps = 64;

    // Fills the candidates (unsaturated places, best first, one per star)
    // and the saturated places from the rectangle, both ends included. A
    // place is saturated when a pixel of its 3 x 3 block reaches saturation.
    void rankPlaces(const ImageBuffer& image, int left, int right, int top, int bottom,
                    std::uint32_t saturation);
    void consider(const Place& place, bool clipped);
    void updateFloor();

    // The rows' integrals of the box, less the sky, for lightWithin.
    void prepareLight(const ImageBuffer& image, const GuideZone& box, double sky);
    // Light of the star within radius r of (cx, cy).
    double lightWithin(double cx, double cy, double r) const;
    // Radius holding half the light within the aperture, to the tolerance
    // (pixels); negative when the aperture holds no light.
    double halfLightRadius(double cx, double cy, double aperture, double tolerance) const;

    // Integrals along each row of the box of the pixels less the background,
    // read as a surface that is linear between pixel centres.
    std::vector<double> rowIntegral;
    const unsigned short* boxPixels = nullptr; // the box's top-left pixel
    std::size_t boxStride = 0;
    double boxSky = 0.0;
    int boxLeft = 0;
    int boxTop = 0;
    int boxWidth = 0;
    int boxHeight = 0;
    std::array<double, kThetaSteps> sinTheta{};
    std::array<double, kThetaSteps> cosTheta{};

    // Working rows of the star search.
    std::vector<std::uint32_t> columnSum;
    std::vector<unsigned short> columnMax;
    std::vector<std::uint32_t> rankRow;
    std::array<Place, kCandidates> candidates{};
    int candidateCount = 0;
    std::uint32_t floorRank = 0; // what a place must beat once the list is full
    std::vector<Place> clippedPlaces;
};
