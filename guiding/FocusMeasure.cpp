#include "FocusMeasure.h"

#include <algorithm>
#include <cmath>
#include <numbers>

// How the widths are measured.
//
// Background: the mean of the box's pixels outside the annulus's inner radius,
// recomputed without the pixels beyond kClipSigmas standard deviations (other
// stars, hot pixels) until it settles. A mean rather than a median: camera
// levels come in steps of 128, and a median would sit on one of them.
//
// FWHM: a circular Gaussian fitted to the core, as a straight line in
// log(value) over (1, x, y, x^2 + y^2) weighted by value^2 (so that faint
// pixels, whose logarithm noise swamps, count little). It also gives the
// centre, to a small fraction of a pixel.
//
// HFD: the pixels are read as a surface that is linear between pixel centres
// (bilinear interpolation). The light of that surface within a circle is
// integrated exactly along each row and numerically across rows, and the
// radius holding half of the light within the aperture is found by bisection
// with false position. Counting whole pixels in or out would make the result
// jump with the star's position on the grid by tens of percent at 2 px.
//
// Both surfaces are wider than the star: a pixel's value is the star's light
// over its square (a 1-pixel box, variance 1/12 along each axis), and linear
// interpolation adds a tent (variance 1/6). For a Gaussian, widths add in
// quadrature, so the star's own widths are sqrt(measured^2 - k^2 v) with
// k = 2 sqrt(2 ln 2) and v the added variance. For the sharp stars where it
// matters the profile is close to a Gaussian; for wide ones it hardly matters.

namespace {

constexpr double kFwhmPerSigma = 2.3548200450309493; // 2 sqrt(2 ln 2)
constexpr double kPixelVariance = 1.0 / 12.0;
constexpr double kTentVariance = 1.0 / 6.0;

// Radii as shares of the box's half-size: light within the aperture, sky
// beyond the annulus's inner radius (the box's corners included).
constexpr double kApertureShare = 0.625;
constexpr double kAnnulusShare = 0.75;
// A box is grown while the HFD exceeds this share of its half-size.
constexpr double kHfdShareOfBox = 0.25;
// A box the image's edge keeps from growing holds a star up to this share:
// its annulus then starts 1.25 HFD out, where a Gaussian star is down to 1 %
// of its peak.
constexpr double kHfdShareOfCutBox = 0.6;
// The smallest box's half-size: 9 x 9 pixels, most of them sky.
constexpr int kLeastBoxHalf = 4;

// The half-size, at most h, of the box about (x, y) that lies in the image;
// negative when (x, y) is outside.
int roomWithin(const ImageBuffer& image, int x, int y, int h) {
    return std::min({h, x, image.width - 1 - x, y, image.height - 1 - y});
}

constexpr int kClipPasses = 4;
constexpr double kClipSigmas = 3.0;
constexpr double kLeastSpread = 0.5; // levels: a quantised sky may show no spread at all
constexpr int kLeastSkyPixels = 8;

// A star's peak stands this many sky deviations above the sky.
constexpr double kLeastPeakSignal = 5.0;
// Pixels in the fit: above the noise and above this share of the peak.
constexpr double kFitNoiseSigmas = 3.0;
constexpr double kFitPeakShare = 0.1;
constexpr int kLeastFitPixels = 6;
constexpr int kRefits = 2;
constexpr double kLeastLight = 1.0; // levels: the logarithm needs light

// The star's core: this close to the place measured, on each axis. Its first
// centre is that of the light above this share of its peak.
constexpr int kCoreReach = 6;
constexpr double kCentroidShare = 0.5;
// The fitted aperture's radius in half-light radii (1.5 HFD: 99.8 % of a
// Gaussian's light), and never smaller than this.
constexpr double kApertureHalfRadii = 3.0;
constexpr double kLeastAperture = 3.0;
// The core reaches at least this far.
constexpr double kLeastCoreRadius = 1.5;
// A fit centred farther than this from the light's centre has gone astray.
constexpr double kLargestCentreShift = 1.5;

constexpr int kRootIterations = 60;
constexpr double kRootTolerance = 1e-4;  // pixels
constexpr double kRoughTolerance = 1e-2; // for the radius that only sizes the aperture

// Places closer than this on both axes are taken for the same star.
constexpr int kSameStar = FocusMeter::kFirstBoxHalf;

// Solves the 4 x 4 system m x = m[.][4] in place (Gauss-Jordan with partial
// pivoting); false when it is singular.
bool solve4(double m[4][5]) {
    for (int i = 0; i < 4; ++i) {
        int p = i;
        for (int r = i + 1; r < 4; ++r)
            if (std::fabs(m[r][i]) > std::fabs(m[p][i]))
                p = r;
        if (!(std::fabs(m[p][i]) > 0.0))
            return false;
        std::swap(m[i], m[p]);
        for (int r = 0; r < 4; ++r) {
            if (r == i)
                continue;
            const double f = m[r][i] / m[i][i];
            for (int c = i; c < 5; ++c)
                m[r][c] -= f * m[i][c];
        }
    }
    for (int i = 0; i < 4; ++i)
        m[i][4] /= m[i][i];
    return true;
}

struct Sky {
    double level = 0.0;
    double spread = 0.0;
    bool known = false;
};

double distance2(double dx, double dy) {
    return dx * dx + dy * dy;
}

// Mean of the box's pixels farther than sqrt(annulus2) from (x, y), clipped.
Sky measureSky(const ImageBuffer& image, const GuideZone& box, int x, int y, double annulus2) {
    const std::size_t w = std::size_t(image.width);
    Sky sky;
    for (int pass = 0; pass < kClipPasses; ++pass) {
        const double reach = kClipSigmas * std::max(sky.spread, kLeastSpread);
        const unsigned lo = pass ? unsigned(std::max(std::ceil(sky.level - reach), 0.0)) : 0;
        const unsigned hi =
            pass ? unsigned(std::min(std::floor(sky.level + reach), 65535.0)) : 65535;
        std::uint64_t n = 0, sum = 0, squares = 0;
        auto add = [&](const unsigned short* p, int from, int to) {
            // Without branches: most pixels are kept, the rest unpredictably.
            for (int c = from; c <= to; ++c) {
                const std::uint64_t v = p[c];
                const std::uint64_t kept = v - lo <= hi - lo;
                n += kept;
                sum += kept * v;
                squares += kept * v * v;
            }
        };
        for (int r = box.top; r <= box.bottom; ++r) {
            const unsigned short* p = image.pixels + std::size_t(r) * w;
            // The columns inside the annulus's inner circle on this row.
            const double inside2 = annulus2 - double(r - y) * double(r - y);
            if (inside2 < 0.0) {
                add(p, box.left, box.right);
                continue;
            }
            const int k = int(std::sqrt(inside2));
            add(p, box.left, std::min(x - k - 1, box.right));
            add(p, std::max(x + k + 1, box.left), box.right);
        }
        if (n < kLeastSkyPixels)
            return Sky{};
        const double mean = double(sum) / double(n);
        const double spread = std::sqrt(std::max(double(squares) / double(n) - mean * mean, 0.0));
        const bool settled = sky.known && mean == sky.level && spread == sky.spread;
        sky = Sky{mean, spread, true};
        if (settled)
            break;
    }
    return sky;
}

// The brightest pixel and the centroid of the light above `floor`, both over
// the pixels of the box within kCoreReach of (x, y) on each axis: the star's
// core, which a hot pixel or another star farther away leaves alone.
template <class Visit>
void visitCore(const ImageBuffer& image, const GuideZone& box, int x, int y, Visit visit) {
    const std::size_t w = std::size_t(image.width);
    for (int r = std::max(box.top, y - kCoreReach); r <= std::min(box.bottom, y + kCoreReach);
         ++r) {
        const unsigned short* p = image.pixels + std::size_t(r) * w;
        for (int c = std::max(box.left, x - kCoreReach); c <= std::min(box.right, x + kCoreReach);
             ++c)
            visit(p[c], c, r);
    }
}

unsigned short corePeak(const ImageBuffer& image, const GuideZone& box, int x, int y) {
    unsigned short peak = 0;
    visitCore(image, box, x, y, [&](unsigned short v, int, int) { peak = std::max(peak, v); });
    return peak;
}

// False when no pixel is above the floor.
bool coreCentroid(const ImageBuffer& image, const GuideZone& box, int x, int y, double floor,
                  double& cx, double& cy) {
    double s = 0.0, sx = 0.0, sy = 0.0;
    visitCore(image, box, x, y, [&](unsigned short p, int c, int r) {
        const double v = p - floor;
        if (v <= 0.0)
            return;
        s += v;
        sx += v * c;
        sy += v * r;
    });
    if (!(s > 0.0))
        return false;
    cx = sx / s;
    cy = sy / s;
    return true;
}

struct Fit {
    bool ok = false;
    double x = 0.0;
    double y = 0.0;
    double variance = 0.0; // of the Gaussian along each axis, pixels squared
};

// The circular Gaussian through the pixels within `reach` of (cx, cy): a
// straight line in log(value) over (1, x, y, x^2 + y^2), least squares
// weighted by value^2, which stands for the squares on the values themselves.
// The first pass takes the pixels above `floor`, weighted by their own
// values; the next ones weight every lit pixel by the value the previous fit
// gives it, so that noise lifting a faint pixel neither lets it in nor adds
// to its weight (either would widen the star).
Fit fitGaussian(const ImageBuffer& image, const GuideZone& box, double cx, double cy, double reach,
                double sky, double floor) {
    const std::size_t w = std::size_t(image.width);
    const int x0 = int(std::lround(cx));
    const int y0 = int(std::lround(cy));
    // Pixels beyond the box are never read, so the span stays within two of
    // its largest half-sizes.
    constexpr int kLargestSpan = 2 * FocusMeter::kLargestBoxHalf;
    const int span = std::min(int(std::ceil(reach)) + 1, kLargestSpan);
    // The previous fit's values, exp(a + b dx + c dy + e (dx^2 + dy^2)), as a
    // row factor times a column factor: one exponential per row and column.
    std::array<double, 2 * kLargestSpan + 1> columnFactor;
    Fit fit;
    double coef[4] = {};
    for (int pass = 0; pass <= kRefits; ++pass) {
        if (pass > 0)
            for (int dx = -span; dx <= span; ++dx)
                columnFactor[std::size_t(dx + span)] = std::exp(coef[1] * dx + coef[3] * dx * dx);
        double m[4][5] = {};
        int used = 0;
        for (int r = std::max(box.top, y0 - span); r <= std::min(box.bottom, y0 + span); ++r) {
            const unsigned short* p = image.pixels + std::size_t(r) * w;
            const double dy = r - y0;
            const double rowFactor = std::exp(coef[0] + coef[2] * dy + coef[3] * dy * dy);
            for (int c = std::max(box.left, x0 - span); c <= std::min(box.right, x0 + span); ++c) {
                const double v = p[c] - sky;
                if (v < (pass == 0 ? floor : kLeastLight) ||
                    distance2(c - cx, r - cy) > reach * reach)
                    continue;
                // Coordinates from the nearest pixel keep the sums well scaled.
                const double dx = c - x0;
                const double basis[4] = {1.0, dx, dy, dx * dx + dy * dy};
                const double expected =
                    pass == 0 ? v : rowFactor * columnFactor[std::size_t(c - x0 + span)];
                const double weight = expected * expected;
                const double logv = std::log(v);
                for (int i = 0; i < 4; ++i) {
                    const double wb = weight * basis[i];
                    for (int j = i; j < 4; ++j)
                        m[i][j] += wb * basis[j];
                    m[i][4] += wb * logv;
                }
                ++used;
            }
        }
        if (used < kLeastFitPixels)
            return Fit{};
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < i; ++j)
                m[i][j] = m[j][i];
        if (!solve4(m) || !(m[3][4] < 0.0))
            return Fit{};
        for (int i = 0; i < 4; ++i)
            coef[i] = m[i][4];
    }
    fit.variance = -1.0 / (2.0 * coef[3]);
    fit.x = x0 + coef[1] * fit.variance;
    fit.y = y0 + coef[2] * fit.variance;
    fit.ok = true;
    return fit;
}

} // namespace

FocusMeter::FocusMeter() {
    for (int i = 0; i < kThetaSteps; ++i) {
        const double theta = -std::numbers::pi / 2 + (i + 0.5) * std::numbers::pi / kThetaSteps;
        sinTheta[std::size_t(i)] = std::sin(theta);
        cosTheta[std::size_t(i)] = std::cos(theta);
    }
}

FocusStar FocusMeter::measureInBox(const ImageBuffer& image, int x, int y, int h,
                                   unsigned short saturation) {
    FocusStar star;
    if (!image.pixels)
        return star;
    // A box cut by the image's edge would take the sky from one side only and
    // lose the light beyond the edge: it shrinks about the star instead, as a
    // window of a few pixels around the star needs.
    h = roomWithin(image, x, y, h);
    if (h < kLeastBoxHalf)
        return star;
    const GuideZone box{x - h, x + h, y - h, y + h};
    const double aperture = kApertureShare * h;
    const double annulus = kAnnulusShare * h;

    const Sky sky = measureSky(image, box, x, y, annulus * annulus);
    if (!sky.known)
        return star;
    const unsigned short peak = corePeak(image, box, x, y);
    const double height = peak - sky.level;
    const double noise = std::max(sky.spread, kLeastSpread);
    if (height < kLeastPeakSignal * noise)
        return star;

    // A first centre and half-light radius within the whole aperture, then
    // the radius again within an aperture fitted to the star: the sky's noise
    // over a wide aperture would otherwise swamp a small star's light.
    double cx = 0.0, cy = 0.0;
    if (!coreCentroid(image, box, x, y, sky.level + kCentroidShare * height, cx, cy))
        return star;
    // Only what circles around the centre reach, the fit's shift included.
    const int reach = int(std::ceil(aperture + kLargestCentreShift)) + 1;
    const int ix = int(std::lround(cx)), iy = int(std::lround(cy));
    prepareLight(image,
                 GuideZone{std::max(box.left, ix - reach), std::min(box.right, ix + reach),
                           std::max(box.top, iy - reach), std::min(box.bottom, iy + reach)},
                 sky.level);
    const double wide = halfLightRadius(cx, cy, aperture, kRoughTolerance);
    if (!(wide > 0.0))
        return star;
    const double fitted = std::clamp(kApertureHalfRadii * wide, kLeastAperture, aperture);

    // The core: pixels within the star's half-light diameter, above the noise.
    const Fit fit =
        fitGaussian(image, box, cx, cy, 2.0 * std::max(wide, kLeastCoreRadius), sky.level,
                    std::max(kFitNoiseSigmas * noise, kFitPeakShare * height));
    if (!fit.ok || std::hypot(fit.x - cx, fit.y - cy) > kLargestCentreShift)
        return star;
    const double radius = halfLightRadius(fit.x, fit.y, fitted, kRootTolerance);
    if (!(radius > 0.0))
        return star;

    const double k2 = kFwhmPerSigma * kFwhmPerSigma;
    star.found = true;
    star.x = fit.x;
    star.y = fit.y;
    star.hfd =
        std::sqrt(std::max(4.0 * radius * radius - k2 * (kPixelVariance + kTentVariance), 0.0));
    star.fwhm = kFwhmPerSigma * std::sqrt(std::max(fit.variance - kPixelVariance, 0.0));
    star.background = sky.level;
    star.peak = peak;
    star.saturated = peak >= saturation;
    return star;
}

void FocusMeter::prepareLight(const ImageBuffer& image, const GuideZone& box, double sky) {
    boxLeft = box.left;
    boxTop = box.top;
    boxWidth = box.right - box.left + 1;
    boxHeight = box.bottom - box.top + 1;
    boxStride = std::size_t(image.width);
    boxPixels = image.pixels + std::size_t(box.top) * boxStride + std::size_t(box.left);
    boxSky = sky;
    rowIntegral.resize(std::size_t(boxWidth) * std::size_t(boxHeight));
    for (int r = 0; r < boxHeight; ++r) {
        const unsigned short* p = boxPixels + std::size_t(r) * boxStride;
        double* a = rowIntegral.data() + std::size_t(r) * std::size_t(boxWidth);
        a[0] = 0.0;
        for (int c = 1; c < boxWidth; ++c)
            a[c] = a[c - 1] + (double(p[c - 1]) + double(p[c])) / 2.0 - sky;
    }
}

double FocusMeter::halfLightRadius(double cx, double cy, double aperture, double tolerance) const {
    const double total = lightWithin(cx, cy, aperture);
    if (!(total > 0.0))
        return -1.0;
    // False position with the Illinois step on F(r) - total / 2, which is
    // -total / 2 at 0 and total / 2 at the aperture.
    const double half = total / 2.0;
    double a = 0.0, fa = -half, b = aperture, fb = half;
    double radius = aperture / 2;
    int side = 0;
    for (int i = 0; i < kRootIterations && b - a > tolerance; ++i) {
        radius = (a * fb - b * fa) / (fb - fa);
        const double f = lightWithin(cx, cy, radius) - half;
        if (f == 0.0)
            break;
        if ((f > 0.0) == (fb > 0.0)) {
            b = radius;
            fb = f;
            if (side < 0)
                fa /= 2;
            side = -1;
        } else {
            a = radius;
            fa = f;
            if (side > 0)
                fb /= 2;
            side = +1;
        }
    }
    return radius;
}

double FocusMeter::lightWithin(double cx, double cy, double r) const {
    // Integral along row j (box coordinates) from the box's left edge to u:
    // the trapezoids before the pixel u falls in, then the part of that one.
    auto along = [this](int j, double u) {
        u = std::clamp(u, 0.0, double(boxWidth - 1));
        const int k = std::min(int(u), boxWidth - 2);
        const double t = u - k;
        const unsigned short* p = boxPixels + std::size_t(j) * boxStride;
        const double v0 = p[k] - boxSky;
        const double v1 = p[k + 1] - boxSky;
        return rowIntegral[std::size_t(j) * std::size_t(boxWidth) + std::size_t(k)] + v0 * t +
               (v1 - v0) * t * t / 2.0;
    };
    // Across rows: y = cy + r sin(theta), dy = r cos(theta) dtheta, midpoint
    // rule in theta; the chord at each y is exact along its two rows.
    double sum = 0.0;
    const double x0 = cx - boxLeft;
    for (int i = 0; i < kThetaSteps; ++i) {
        const double v = cy + r * sinTheta[std::size_t(i)] - boxTop;
        if (v < 0.0 || v > boxHeight - 1)
            continue; // beyond the image: no light counted
        const int j = std::min(int(v), boxHeight - 2);
        const double s = v - j;
        const double half = r * cosTheta[std::size_t(i)];
        const double chord = (1.0 - s) * (along(j, x0 + half) - along(j, x0 - half)) +
                             s * (along(j + 1, x0 + half) - along(j + 1, x0 - half));
        sum += chord * half;
    }
    return sum * std::numbers::pi / kThetaSteps;
}

FocusStar FocusMeter::measure(const ImageBuffer& image, int x, int y, unsigned short saturation) {
    FocusStar best;
    for (int h = kFirstBoxHalf; h <= kLargestBoxHalf; h *= 2) {
        const FocusStar s = measureInBox(image, x, y, h, saturation);
        if (!s.found)
            break;
        // Where the image leaves no room to grow, a star this wide lights
        // the sky's annulus: no figure rather than a wrong one.
        const int room = roomWithin(image, x, y, h);
        if (room < h)
            return s.hfd <= kHfdShareOfCutBox * room ? s : FocusStar{};
        best = s;
        if (s.hfd <= kHfdShareOfBox * h)
            break;
        x = int(std::lround(s.x));
        y = int(std::lround(s.y));
    }
    return best;
}

void FocusMeter::rankPlaces(const ImageBuffer& image, int left, int right, int top, int bottom,
                            std::uint32_t saturation) {
    candidateCount = 0;
    floorRank = 0;
    clippedPlaces.clear();
    if (!image.pixels)
        return;
    // Every place needs its eight neighbours.
    left = std::max(left, 1);
    top = std::max(top, 1);
    right = std::min(right, image.width - 2);
    bottom = std::min(bottom, image.height - 2);
    if (left > right || top > bottom)
        return;
    const std::size_t w = std::size_t(image.width);
    columnSum.resize(w);
    columnMax.resize(w);
    rankRow.resize(w);
    clippedPlaces.reserve(kClippedPlaces);
    for (int y = top; y <= bottom; ++y) {
        const unsigned short* up = image.pixels + std::size_t(y - 1) * w;
        const unsigned short* mid = up + w;
        const unsigned short* down = mid + w;
        for (int x = left - 1; x <= right + 1; ++x) {
            columnSum[std::size_t(x)] = std::uint32_t(up[x]) + mid[x] + down[x];
            columnMax[std::size_t(x)] = std::max({up[x], mid[x], down[x]});
        }
        std::uint32_t rowBest = 0;
        for (int x = left; x <= right; ++x) {
            const std::size_t i = std::size_t(x);
            const std::uint32_t sum = columnSum[i - 1] + columnSum[i] + columnSum[i + 1];
            const std::uint32_t most = std::max({columnMax[i - 1], columnMax[i], columnMax[i + 1]});
            rankRow[i] = sum - most;
            rowBest = std::max(rowBest, sum - most);
        }
        if (rowBest <= floorRank)
            continue;
        for (int x = left; x <= right; ++x) {
            const std::size_t i = std::size_t(x);
            if (rankRow[i] <= floorRank)
                continue;
            const std::uint32_t most = std::max({columnMax[i - 1], columnMax[i], columnMax[i + 1]});
            consider(Place{rankRow[i], x, y}, most >= saturation);
        }
    }
    const auto higher = [](const Place& a, const Place& b) { return a.rank > b.rank; };
    std::sort(candidates.begin(), candidates.begin() + candidateCount, higher);
    std::sort(clippedPlaces.begin(), clippedPlaces.end(), higher);
}

void FocusMeter::consider(const Place& place, bool clipped) {
    if (clipped) {
        // A saturated core: its wings, as bright as many a star's core, are
        // no candidates either. Several places cover a wide core.
        for (Place& c : clippedPlaces)
            if (within(c, place, kSameStar / 2)) {
                c.rank = std::max(c.rank, place.rank);
                return;
            }
        if (clippedPlaces.size() < kClippedPlaces)
            clippedPlaces.push_back(place);
        int kept = 0;
        for (int i = 0; i < candidateCount; ++i)
            if (!within(candidates[std::size_t(i)], place, kSameStar))
                candidates[std::size_t(kept++)] = candidates[std::size_t(i)];
        candidateCount = kept;
        updateFloor();
        return;
    }
    for (const Place& c : clippedPlaces)
        if (within(c, place, kSameStar))
            return;
    // One place per star: the best of those close together.
    int kept = 0;
    for (int i = 0; i < candidateCount; ++i) {
        const Place& c = candidates[std::size_t(i)];
        const bool near = within(c, place, kSameStar);
        if (near && c.rank >= place.rank)
            return;
        if (!near)
            candidates[std::size_t(kept++)] = c;
    }
    candidateCount = kept;
    if (candidateCount < kCandidates) {
        candidates[std::size_t(candidateCount++)] = place;
    } else {
        *std::min_element(candidates.begin(), candidates.end(),
                          [](const Place& a, const Place& b) { return a.rank < b.rank; }) = place;
    }
    updateFloor();
}

void FocusMeter::updateFloor() {
    floorRank = 0;
    if (candidateCount == kCandidates) {
        floorRank = candidates[0].rank;
        for (const Place& c : candidates)
            floorRank = std::min(floorRank, c.rank);
    }
}

FocusStar FocusMeter::starNear(const ImageBuffer& image, int x, int y, unsigned short saturation) {
    // The marked star, saturated or not.
    rankPlaces(image, x - kMarkerReach, x + kMarkerReach, y - kMarkerReach, y + kMarkerReach,
               kNothingClipped);
    if (candidateCount == 0)
        return FocusStar{};
    return measure(image, candidates[0].x, candidates[0].y, saturation);
}

FocusStar FocusMeter::brightestStar(const ImageBuffer& image, unsigned short saturation) {
    if (!image.pixels)
        return FocusStar{};
    // Small windows keep their middle.
    const int margin = std::min(kSearchMargin, (std::min(image.width, image.height) - 1) / 4);
    rankPlaces(image, margin, image.width - 1 - margin, margin, image.height - 1 - margin,
               saturation);
    for (int i = 0; i < candidateCount; ++i) {
        const Place c = candidates[std::size_t(i)];
        const FocusStar s = measure(image, c.x, c.y, saturation);
        if (s.found && !s.saturated)
            return s;
    }
    // Only saturated stars: the brightest, flagged.
    for (const Place& c : clippedPlaces) {
        const FocusStar s = measure(image, c.x, c.y, saturation);
        if (s.found)
            return s;
    }
    return FocusStar{};
}
