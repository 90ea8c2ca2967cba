#pragma once

#include "SensorWindow.h"

#include <functional>

// The acquisition parameters, kept in section AcqPrm of the settings store
// under the field names. Defaults are those of an empty store.
struct AcqPrm {
    int binning = 1;
    int pause_s = 1;
    int pause_cs = 0;
    int option1 = 0; // "Non Int": kept and shown only
    int option2 = 0; // "EPP": kept and shown only
    int option3 = 0; // high gain
    int option4 = 1; // raw image kept as the dark frame
    int img_w = kSensorWidth;
    int img_h = kSensorHeight;
    int img_y0 = 0;
    int img_x0 = 0;
    int prm1 = 0;  // gain
    int prm2 = 2;  // serial port number, the one "Init Camera" opens on an empty store
    int prm3 = 10; // offset
    int bdt = 90;  // time base
    int vitv = 5;
    int vitp = 2;
    int C = 14;
    int Y2 = 14;
    int Y1 = 14;
    int M = 14;

    bool operator==(const AcqPrm&) const = default;

    using Reader = std::function<int(const char* key, int defaultValue)>;
    using Writer = std::function<void(const char* key, int value)>;

    // Reads every key from the store, the window size defaulting to the sensor
    // size. Values the dialog would refuse (a hand-edited store) are brought
    // into its ranges, the time base made usable, so that they never reach the
    // camera as they are; the window is left to the camera's own check.
    void load(int sensorWidth, int sensorHeight);
    void load(int sensorWidth, int sensorHeight, const Reader& get);
    // Writes every key to the store.
    void save() const;
    void save(const Writer& put) const;
};
