#pragma once

#include "GuideZone.h"
#include "ImageBuffer.h"

// The guiding controller's arithmetic, with no window and no camera: the
// controller feeds it the parameters, the run state and each new image, then
// sends the move and shows the measure it returns.

// The twelve guiding parameters of section "SuiviPrm", in reading order, with
// their defaults. Every value is a non-negative integer as typed.
struct SuiviPrm {
    int gain1 = 100;    // move units per pixel of error, axis 1
    int gain2 = 100;    // same, axis 2
    int inv1 = 0;       // reverse axis 1 (a move n becomes 1 - n)
    int inv2 = 0;       // reverse axis 2
    int inv12 = 0;      // exchange the two axes in the move call
    int biais1 = 0;     // move units added in the direction of an axis-1 correction
    int biais2 = 0;     // same, axis 2
    int cadence = 1000; // milliseconds between images while guiding
    int rot = 0;        // degrees between image and mount axes
    int capture = 10;   // measurement zone size, pixels
    int mvtmax = 20;    // largest star displacement still corrected, pixels
    int gt = 50;        // multiplier of the panel's manual moves
};

// Settings keys of the twelve values, in the same order as the fields above.
inline constexpr const char* kSuiviPrmSection = "SuiviPrm";
inline constexpr const char* kSuiviPrmKeys[12] = {"gain1", "gain2",   "Inv1",   "Inv2",
                                                  "Inv12", "biais1",  "biais2", "cadence",
                                                  "rot",   "capture", "mvtmax", "gt"};

// Degrees to radians for the rotation setting: 1 / 57.3, a little more than
// pi / 180, on purpose: a rotation the user has tuned is tuned against it.
inline constexpr double kRadiansPerDegree = 0.017452006980802792;

// The controller's working copy of the parameters.
struct GuideParams {
    float maxMove = 0.0f;  // pixels
    float rotation = 0.0f; // radians
    float gain1 = 0.0f;
    float gain2 = 0.0f;
    float bias1 = 0.0f;
    float bias2 = 0.0f;
    int invert1 = 0;
    int invert2 = 0;
    int exchange = 0;
    int capture = 0;
};

GuideParams loadGuideParams(const SuiviPrm& prm);

// Timer period of the acquisition loop while guiding.
inline double cadenceSeconds(const SuiviPrm& prm) {
    return prm.cadence * 0.001;
}

// The two arguments of one CCamera::deplacement(axis1, axis2) call.
struct MountMove {
    int axis1 = 0;
    int axis2 = 0;

    friend bool operator==(const MountMove&, const MountMove&) = default;
};

// Image error turned to the mount axes, in single precision.
struct MountError {
    float d1 = 0.0f;
    float d2 = 0.0f;
};
MountError rotateError(float rotation, float ex, float ey);

// Inversions (n becomes 1 - n) then the exchange of the axes.
MountMove issueMove(const GuideParams& p, int m1, int m2);

// The values of axis 1 and axis 2 (after their inversions) in a move as sent,
// that is with the exchange undone.
inline MountMove axisMoves(const GuideParams& p, const MountMove& sent) {
    return p.exchange ? MountMove{sent.axis2, sent.axis1} : sent;
}

// Move that drives the star back by (ex, ey) pixels: rotation, gains, biases in
// the direction of the correction, truncation toward zero, then issueMove.
MountMove computeCorrection(const GuideParams& p, float ex, float ey);

// What a guiding run keeps between images.
struct GuideState {
    float refX = 0.0f;
    float refY = 0.0f;
    GuideZone zone;
    int threshold = 0;
};

// Why a measurement was dropped.
enum class GuideRejection {
    None,
    StarLost, // no pixel of the zone reached the threshold
    TooFar,   // farther than the maximum move on an axis
};

// Outcome of one image: what to send, what to show, where to measure next.
struct GuideTick {
    bool moveSent = false; // false: measurement dropped, nothing to send
    MountMove move;        // meaningful when moveSent
    float ex = 0.0f;       // errors to show; 0 when the measurement was dropped
    float ey = 0.0f;
    unsigned short level = 0; // level measured, also when dropped
    GuideZone zone;           // next measurement zone
    GuideRejection rejection = GuideRejection::None;
    float measuredEx = 0.0f; // errors as measured, before a drop zeroes them (NaN: no star)
    float measuredEy = 0.0f;
};

// Measures the star in the current zone; corrects when it moved no more than
// the maximum move on both axes, otherwise (a jump, or no centroid) sends
// nothing and puts the zone back around the reference.
GuideTick evaluateGuideTick(const ImageBuffer& image, const GuideParams& p,
                            const GuideState& state);

// The guiding panel's hand moves. The panel reads these six values from the
// store at every click ("gt" defaulting to 100 there).
struct ManualMoveSettings {
    int gt = 100;
    int gain1 = 100;
    int gain2 = 100;
    int inv1 = 0;
    int inv2 = 0;
    int inv12 = 0;
};

enum class ManualDirection { Haut, Bas, Gauche, Droite };

// Vertical buttons drive the second argument with gain 1 and "Inv1", horizontal
// ones the first with gain 2 and "Inv2" (the opposite pairing of the automatic
// correction); "Inv12" swaps the arguments.
MountMove manualMove(ManualDirection direction, const ManualMoveSettings& s);
