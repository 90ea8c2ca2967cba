#pragma once

// The camera's sensor in unbinned pixels, and the one check every way of
// choosing an image window (the dialog, the camera object, the INDI driver)
// goes through.

struct AcqPrm;

constexpr int kSensorWidth = 1280;
constexpr int kSensorHeight = 1024;

// Why the record's window (size and origin in binned pixels, at its binning)
// does not fit the binned sensor: "Taille non valide" for a binning outside
// 1 to 4 or a size beyond the sensor, "Origine non valide" for an origin that
// puts the window past it. Null when it fits.
const char* windowProblem(const AcqPrm& prm, int sensorWidth = kSensorWidth,
                          int sensorHeight = kSensorHeight);
