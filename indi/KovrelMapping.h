#pragma once

#include "AcqPrm.h"
#include "SensorWindow.h"

#include <cstdint>

// What INDI clients ask for, in the terms of the acquisition parameters record
// and of CCamera::deplacement. Plain values in and out.
namespace kovrel_indi {

constexpr int sensorWidth = kSensorWidth;
constexpr int sensorHeight = kSensorHeight;
// The record counts whole seconds and hundredths, and the program's dialog
// accepts up to 3600 s and 99 hundredths.
constexpr double longestExposure = 3600.99;

// A window as INDI gives it: origin and size in sensor pixels, and the binning.
struct SensorWindow {
    int x = 0, y = 0, width = sensorWidth, height = sensorHeight;
    int binning = 1;
};

// Puts the window into the record as binned pixels, with the checks of the
// program's dialog. Null when it fits; otherwise the dialog's message
// ("Taille non valide" or "Origine non valide") and the record is untouched.
const char* applyWindow(const SensorWindow& window, AcqPrm& prm);

// Seconds into pause_s and pause_cs, to the nearest hundredth.
void applyExposure(double seconds, AcqPrm& prm);

// Seconds the camera exposes for the record: its exposure as the camera's
// time base counts it for the window's line length. Above one long period the
// upload keeps whole periods and sends a full period as residual; the camera
// then exposes the middle of the range those values stand for.
double cameraExposure(const AcqPrm& prm);

enum class GuideDirection { North, South, East, West };

struct Move {
    int x = 0; // first axis: east forward, west backward
    int y = 0; // second axis: north forward, south backward
};

// Largest magnitude a move frame carries (16 bits).
constexpr int largestMove = 0xFFFF;

// The CCamera::deplacement arguments of one timed pulse: ms x unitsPerMs move
// units, rounded, at most largestMove; a backward move of m goes as 1 - m.
// Both zero when the pulse rounds to no move or a value is not a number.
Move guideMove(GuideDirection direction, double ms, double unitsPerMs);

// Why a number a client sent cannot be used; None when it can.
enum class NumberProblem { None, NotANumber, OutOfRange, NotWhole };
// A range with min >= max is no range (INDI's convention).
NumberProblem checkNumber(double value, double min, double max, bool whole);

} // namespace kovrel_indi
