#pragma once

#include "CameraState.h"
#include "MountModel.h"

#include <cstdint>
#include <vector>

enum class Scene { Stars, Flat, Ramp, Mosaic };

struct Star {
    double x = 0; // sensor pixels; pixel (i, j) has its centre at (i, j)
    double y = 0;
    double flux = 0;                     // electrons per second, whole star
    double red = 1, green = 1, blue = 1; // colour, seen only through the mosaic
};

struct SkySettings {
    Scene scene = Scene::Stars;
    std::uint64_t seed = 1;
    double seeingFwhm = 3.0; // pixels
    bool noise = true;       // shot and read noise
    bool dark = true;        // dark current with its hot pixels
};

// Star width at a focuser position: the seeing, blurred by 1 pixel of FWHM per
// 100 steps away from the best position, the two added in quadrature.
double defocusedFwhm(double seeingFwhm, long long position, long long best);

// Colour-mosaic class of a sensor pixel, by the parity of its row and column:
// yellow where row + column is even, cyan on even rows and odd columns,
// magenta on odd rows and even columns.
enum class MosaicClass { Yellow, Cyan, Magenta };
MosaicClass mosaicClass(int row, int column);

// Turns the sky into the 8-bit samples the camera sends. All light and dark
// charge is computed in electrons per sensor pixel, summed over the binned rows
// on the chip, then read once per sample: shot and read noise, gain, offset,
// rounding and clipping to 0..255.
class SkyRenderer {
public:
    // A star field drawn from the seed.
    explicit SkyRenderer(const SkySettings& s);
    // The given stars instead.
    SkyRenderer(const SkySettings& s, std::vector<Star> stars);

    const std::vector<Star>& stars() const { return field; }
    // Star width (FWHM, pixels) of the images rendered from now on.
    void setStarFwhm(double fwhm) { settings.seeingFwhm = fwhm; }

    // Fills out with r.byteCount() samples, line after line, each line
    // r.width groups of r.binning samples. sky shifts every star; imageNumber
    // picks the noise.
    void render(const ImageRequest& r, const ReadoutSettings& readout, Offset sky,
                std::uint64_t imageNumber, std::vector<std::uint8_t>& out);

private:
    void makeDarkPattern();
    void exposeLight(const ImageRequest& r, const ReadoutSettings& readout, Offset sky);
    void addStar(const Star& star, double cx, double cy, const ImageRequest& r,
                 const ReadoutSettings& readout);
    void renderRamp(const ImageRequest& r, std::vector<std::uint8_t>& out) const;

    SkySettings settings;
    std::vector<Star> field;
    std::vector<float> darkPattern; // kSensorWidth x kSensorHeight
    std::vector<float> plane;       // electrons of the window, sensor resolution
    std::vector<double> weightX, weightY;
    int planeWidth = 0;
    int planeHeight = 0;
};
