#include "ViewZoom.h"

#include <algorithm>
#include <cmath>

namespace {
// A factor within this of a power of two is that power (fit factors and
// rounding never make a step of nothing).
constexpr double kSameExponent = 1e-6;
} // namespace

double zoomStep(double zoom, int steps) {
    const double exponent = std::log2(zoom);
    const double from =
        steps > 0 ? std::floor(exponent + kSameExponent) : std::ceil(exponent - kSameExponent);
    return std::clamp(std::exp2(from + steps), kZoomMin, kZoomMax);
}

double fitZoom(QSize image, QSize area) {
    if (image.isEmpty() || area.isEmpty())
        return 1;
    const double z =
        std::min(double(area.width()) / image.width(), double(area.height()) / image.height());
    return std::clamp(z, kZoomMin, kZoomMax);
}

QSize zoomedSize(QSize image, double zoom) {
    // A factor that fits the window exactly must not round up past it.
    auto side = [zoom](int n) { return int(std::ceil(n * zoom - kSameExponent)); };
    return QSize(side(image.width()), side(image.height()));
}

QPointF anchoredScroll(QPointF scroll, QPointF anchor, double from, double to) {
    return (scroll + anchor) / from * to - anchor;
}

QString zoomText(double zoom) {
    const double percent = std::round(zoom * 1000) / 10;
    const bool whole = percent == std::floor(percent);
    return QStringLiteral("Zoom %1\u00a0%")
        .arg(QString::number(percent, 'f', whole ? 0 : 1)
                 .replace(QLatin1Char('.'), QLatin1Char(',')));
}

QString pixelText(QPoint at, int value) {
    return QStringLiteral("Pixel (%1, %2) : %3").arg(at.x()).arg(at.y()).arg(value);
}
