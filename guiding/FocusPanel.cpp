#include "FocusPanel.h"

#include "CameraProtocol.h"
#include "ImageBuffer.h"
#include "NightVision.h"

#include <QEvent>
#include <QFrame>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

const QColor kBackground(0, 0, 0);
const QColor kGrid(60, 60, 60);
const QColor kScaleText(150, 150, 150);
const QColor kCurve(80, 160, 255);
const QColor kSaturatedPoint(255, 140, 0);
const QColor kBest(0, 220, 0);
// Night vision lets only red through: there the best image's mark is the
// brightest red, above the dimmer curve.
const QColor kNightBest(255, 0, 0);
const QColor kWarning(200, 0, 0);

// The plot's top stands this far above the widest HFD held.
constexpr double kHeadroom = 1.15;
constexpr double kLeastScale = 1.0; // pixels of HFD
constexpr int kLeastSlots = 20;     // images the plot's width holds at the least

QString twoDecimals(double v) {
    return QString::asprintf("%.2f", v);
}

// Calls back whenever the watched window comes up, however it is shown.
class ShowWatcher : public QObject {
public:
    ShowWatcher(QObject* window, std::function<void()> shown)
        : QObject(window), onShow(std::move(shown)) {}
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Show)
            onShow();
        return false;
    }

private:
    std::function<void()> onShow;
};

} // namespace

CFocusPanel::CFocusPanel(QWidget* view, ImageBuffer* img)
    : CPanel(view, "CFocusPanel", QStringLiteral("Mise au point"), 200, 156), image(img) {}

bool CFocusPanel::create() {
    if (!CPanel::create(512, 310, false))
        return false;
    // A panel coming up shows the current image's figures at once.
    window()->installEventFilter(new ShowWatcher(window(), [this] { measure(); }));
    return true;
}

void CFocusPanel::createControls(ControlBuilder& b) {
    b.label(QStringLiteral("HFD (px)"), 4, 6, 34, 9);
    b.edit(HfdField, 40, 4, 40, 12, Qt::AlignRight, true);
    b.label(QStringLiteral("FWHM (px)"), 88, 6, 42, 9);
    b.edit(FwhmField, 132, 4, 40, 12, Qt::AlignRight, true);
    b.label(QStringLiteral("Pic"), 4, 22, 34, 9);
    b.edit(PeakField, 40, 20, 40, 12, Qt::AlignRight, true);
    QLabel* warning =
        b.label(QString(), 4, 35, 192, 10, Qt::AlignLeft | Qt::AlignVCenter, SaturationLabel);
    warning->setStyleSheet(QStringLiteral("color: %1; font-weight: bold").arg(kWarning.name()));
    b.label(QString(), 4, 48, 136, 9, Qt::AlignLeft | Qt::AlignVCenter, StarLabel);
    b.button(BrightestButton, QStringLiteral("Plus brillante"), 142, 46, 54, 12);

    auto* frame = new QFrame(window());
    frame->setObjectName(controlName(PlotFrame));
    frame->setGeometry(b.place(4, 62, 192, 76));
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    frame->setLineWidth(1);

    b.label(QString(), 4, 143, 136, 9, Qt::AlignLeft | Qt::AlignVCenter, BestLabel);
    b.button(ClearButton, QStringLiteral("Effacer"), 142, 141, 54, 12);
}

void CFocusPanel::imageChanged() {
    imageCounted = false;
    if (isVisible())
        measure();
}

void CFocusPanel::followStar(int x, int y) {
    following = true;
    target = QPoint(x, y);
    restartCurve();
}

void CFocusPanel::restartCurve() {
    points.clear();
    imageCounted = false;
    if (isVisible())
        measure();
}

void CFocusPanel::onCommand(int id) {
    if (id == ClearButton) {
        points.clear();
        showFigures();
    } else if (id == BrightestButton) {
        following = false;
        restartCurve();
    }
}

unsigned short CFocusPanel::saturationLevel() {
    // The camera's pixels stop at its ceiling; an image with brighter pixels
    // came from elsewhere and is clipped only at the top of 16 bits.
    int lowest = 0, highest = 0, mean = 0;
    image->getStats(lowest, highest, mean);
    return highest > kPixelCeiling ? 65535 : kPixelCeiling;
}

void CFocusPanel::measure() {
    if (!window())
        return;
    if (!image || !image->pixels) {
        current = FocusStar{};
        showFigures();
        return;
    }
    // Another size is another window on the sky: a followed star's place, and
    // the curve, mean nothing there.
    if (image->width != imageWidth || image->height != imageHeight) {
        imageWidth = image->width;
        imageHeight = image->height;
        following = false;
        points.clear();
    }
    const unsigned short level = saturationLevel();
    current = following ? meter.starNear(*image, target.x(), target.y(), level)
                        : meter.brightestStar(*image, level);
    if (following && current.found)
        target = QPoint(int(std::lround(current.x)), int(std::lround(current.y)));
    // Showing the panel again measures the same image again; it stays one point.
    if (!imageCounted)
        points.add(FocusPoint{float(current.hfd), current.found, current.saturated});
    imageCounted = true;
    showFigures();
}

void CFocusPanel::showFigures() {
    if (!window())
        return;
    auto setEdit = [this](int id, const QString& text) {
        if (auto* e = findControlAs<QLineEdit>(window(), id))
            e->setText(text);
    };
    auto setLabel = [this](int id, const QString& text) {
        if (auto* l = findControlAs<QLabel>(window(), id))
            l->setText(text);
    };
    const bool found = current.found;
    setEdit(HfdField, found ? twoDecimals(current.hfd) : QString());
    setEdit(FwhmField, found ? twoDecimals(current.fwhm) : QString());
    setEdit(PeakField, found ? QString::number(current.peak) : QString());
    if (auto* e = findControlAs<QLineEdit>(window(), PeakField))
        e->setStyleSheet(found && current.saturated
                             ? QStringLiteral("color: %1; font-weight: bold").arg(kWarning.name())
                             : QString());
    setLabel(SaturationLabel, found && current.saturated
                                  ? QStringLiteral("Étoile saturée : réduire la pose")
                                  : QString());

    const QString place = QStringLiteral("(%1, %2)");
    QString which;
    if (!image || !image->pixels)
        which = QStringLiteral("Pas d'image");
    else if (following && found)
        which = QStringLiteral("Étoile marquée ") +
                place.arg(current.x, 0, 'f', 1).arg(current.y, 0, 'f', 1);
    else if (following)
        which = QStringLiteral("Pas d'étoile au repère ") + place.arg(target.x()).arg(target.y());
    else if (found)
        which = QStringLiteral("Étoile la plus brillante ") +
                place.arg(current.x, 0, 'f', 1).arg(current.y, 0, 'f', 1);
    else
        which = QStringLiteral("Aucune étoile mesurable");
    setLabel(StarLabel, which);

    const int best = points.best();
    QString bestText;
    if (best >= 0) {
        const int age = points.size() - 1 - best;
        bestText = QStringLiteral("Meilleure HFD : %1 px").arg(twoDecimals(points.at(best).hfd));
        bestText += age == 0
                        ? QStringLiteral(" (dernière image)")
                        : QStringLiteral(" (il y a %1 image%2)").arg(age).arg(age > 1 ? "s" : "");
    }
    setLabel(BestLabel, bestText);
    invalidate();
}

void CFocusPanel::onPaint(QPainter& painter) {
    const auto* frame = findControlAs<QFrame>(window(), PlotFrame);
    if (!frame)
        return;
    const QRectF area = QRectF(frame->geometry().adjusted(1, 1, -1, -1));
    painter.fillRect(area, kBackground);
    painter.setClipRect(area);

    double widest = 0;
    for (int i = 0; i < points.size(); ++i)
        if (points.at(i).measured)
            widest = std::max(widest, double(points.at(i).hfd));
    const double top = std::max(widest * kHeadroom, kLeastScale);
    // A short walk through focus spreads over the plot; a long one fills it.
    const double slot = area.width() / std::max(points.size(), kLeastSlots);
    auto xOf = [&](int i) { return area.left() + (i + 0.5) * slot; };
    auto yOf = [&](double hfd) { return area.bottom() - hfd / top * area.height(); };

    painter.setPen(QPen(kGrid, 1, Qt::DotLine));
    for (double f : {0.25, 0.5, 0.75})
        painter.drawLine(QPointF(area.left(), yOf(f * top)), QPointF(area.right(), yOf(f * top)));
    const int text = painter.fontMetrics().height();
    painter.setPen(kScaleText);
    painter.drawText(QPointF(area.left() + 4, area.top() + text), twoDecimals(top) + " px");

    // The best image first, under the curve: a line at its HFD and a ring.
    const int best = points.best();
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (best >= 0) {
        const double y = yOf(points.at(best).hfd);
        const QColor mark = nightVision() ? kNightBest : kBest;
        painter.setPen(QPen(mark, 1, Qt::DashLine));
        painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
        painter.setPen(QPen(mark, 2));
        painter.drawEllipse(QPointF(xOf(best), y), 5, 5);
        painter.drawText(QPointF(area.right() - 60, std::max(y - 4, area.top() + text)),
                         twoDecimals(points.at(best).hfd));
    }

    // The curve, broken where no star was measured.
    painter.setPen(QPen(kCurve, 1.5));
    QPolygonF run;
    auto flush = [&] {
        if (run.size() > 1)
            painter.drawPolyline(run);
        run.clear();
    };
    for (int i = 0; i < points.size(); ++i) {
        const FocusPoint& p = points.at(i);
        if (!p.measured) {
            flush();
            continue;
        }
        run << QPointF(xOf(i), yOf(p.hfd));
    }
    flush();
    for (int i = 0; i < points.size(); ++i) {
        const FocusPoint& p = points.at(i);
        if (!p.measured)
            continue;
        const QColor c = p.saturated ? kSaturatedPoint : kCurve;
        painter.setPen(Qt::NoPen);
        painter.setBrush(c);
        painter.drawEllipse(QPointF(xOf(i), yOf(p.hfd)), 2.5, 2.5);
    }
    painter.setBrush(Qt::NoBrush);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setClipping(false);
}
