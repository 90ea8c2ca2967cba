#pragma once

#include <QPoint>
#include <QPointF>
#include <QSize>
#include <QString>

// The view's magnification: each image pixel is shown "zoom" device pixels
// wide. The keys and the wheel walk powers of two from 1/8 to 8; fitting the
// window may give any factor in between.
constexpr double kZoomMin = 0.125;
constexpr double kZoomMax = 8;

// The factor steps powers of two above (positive) or below the given one,
// within the limits.
double zoomStep(double zoom, int steps);
// The largest factor within the limits that shows the whole image in the area.
double fitZoom(QSize image, QSize area);
// The image's size on the screen at that factor, device pixels.
QSize zoomedSize(QSize image, double zoom);
// The scroll position after the factor changes from "from" to "to" that keeps
// the image point under anchor (device pixels from the viewport's corner)
// under it.
QPointF anchoredScroll(QPointF scroll, QPointF anchor, double from, double to);

// Status bar texts: the factor, and a pixel's position and value.
QString zoomText(double zoom);
QString pixelText(QPoint at, int value);
