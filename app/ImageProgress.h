#pragma once

#include "CameraEvents.h"

#include <QElapsedTimer>
#include <QString>

#include <functional>

// What the status bar says while an image is taken: the exposure counting
// down in whole seconds, then the share of the image's bytes received.
QString exposureProgressText(double exposureSeconds, double elapsedSeconds, long received,
                             long expected);
// The progress text with the count of a sequence's images that could not be
// saved, so that a failure stays in view while the next images are taken.
QString withUnsavedImages(const QString& progress, int unsaved);

// Runs one camera call with the window kept alive: it takes the driver's
// progress reports, shows their text and turns the event loop at least every
// turnIntervalMs while the call waits on the camera. Single thread: whatever
// runs from the event loop meanwhile must leave the camera and the image being
// read alone (the view's enabling rules see to it).
class ImageProgress {
public:
    static constexpr int turnIntervalMs = 20;

    explicit ImageProgress(std::function<void(const QString&)> showText);

    // The call's result; the text is cleared (empty) once it returns.
    int run(const std::function<int()>& cameraCall);
    bool active() const { return running; }

private:
    void report(const kovrel::Progress& p);

    std::function<void(const QString&)> show;
    bool running = false;
    QElapsedTimer exposure;
    QElapsedTimer lastTurn;
    double exposureSeconds = 0;
    QString shown;
};
