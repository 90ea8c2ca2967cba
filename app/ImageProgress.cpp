#include "ImageProgress.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

QString secondsText(double s) {
    // Whole seconds as they are typed in the camera dialog; hundredths otherwise.
    if (std::abs(s - std::round(s)) < 0.005)
        return QString::number(std::lround(s));
    return QString::number(s, 'f', 2);
}

} // namespace

QString exposureProgressText(double exposureSeconds, double elapsedSeconds, long received,
                             long expected) {
    if (received <= 0 && elapsedSeconds < exposureSeconds) {
        // Whole seconds down to the last one, then tenths; never more than
        // the exposure itself, however short.
        const double left = exposureSeconds - elapsedSeconds;
        const double step = left > 1 ? 1.0 : 0.1;
        const double shown = std::min(exposureSeconds, std::ceil(left / step - 1e-9) * step);
        return QStringLiteral("Pose : %1 s restantes sur %2 s")
            .arg(secondsText(shown), secondsText(exposureSeconds));
    }
    const long long percent =
        expected > 0 ? std::min<long long>(100, 100LL * received / expected) : 0;
    return QStringLiteral("Lecture : %1 %").arg(percent);
}

QString withUnsavedImages(const QString& progress, int unsaved) {
    if (progress.isEmpty() || unsaved <= 0)
        return progress;
    return QStringLiteral("%1 (%2 image(s) non enregistrée(s))")
        .arg(progress, QString::number(unsaved));
}

ImageProgress::ImageProgress(std::function<void(const QString&)> showText)
    : show(std::move(showText)) {}

int ImageProgress::run(const std::function<int()>& cameraCall) {
    running = true;
    exposureSeconds = 0;
    exposure.start();
    lastTurn.start();
    shown.clear();
    kovrel::setProgressCallback([this](const kovrel::Progress& p) { report(p); });
    const int r = cameraCall();
    kovrel::setProgressCallback(nullptr);
    running = false;
    show(QString());
    return r;
}

void ImageProgress::report(const kovrel::Progress& p) {
    const bool started = p.stage == kovrel::Progress::Stage::ExposureStarted;
    if (started) {
        exposureSeconds = p.exposureSeconds;
        exposure.start();
    } else if (!lastTurn.hasExpired(turnIntervalMs)) {
        return;
    }
    const QString text = exposureProgressText(exposureSeconds, double(exposure.elapsed()) / 1000.0,
                                              p.received, p.expected);
    if (text != shown) {
        shown = text;
        show(text);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    lastTurn.start();
}
