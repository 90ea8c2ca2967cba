#include "GuideGraphPanel.h"

#include "GuideLogFormat.h"
#include "SettingsStore.h"

#include <QFrame>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace {

constexpr const char* kSection = "GrapheSuivi";
constexpr int kUnplaced = -100000;

const QColor kBackground(0, 0, 0);
const QColor kGrid(60, 60, 60);
const QColor kZero(150, 150, 150);
const QColor kAxis1(80, 160, 255);
const QColor kAxis2(255, 80, 80);
const QColor kAxis1Move(40, 75, 135);
const QColor kAxis2Move(135, 45, 45);
const QColor kRejected(255, 220, 0);

// Moves fill at most this share of the half-height, the largest held reaching it.
constexpr double kMoveShare = 0.3;

int signedPulse(int value) {
    const Pulse p = pulseOf(value);
    return p.sign * p.duration;
}

} // namespace

CGuideGraphPanel::CGuideGraphPanel(QWidget* view)
    : CPanel(view, "CGuideGraphPanel", QStringLiteral("Graphe suivi"), 230, 140) {
    scaleIndex = std::clamp(SettingsStore::getInt(kSection, "echelle", 1), 0, kScaleCount - 1);
}

bool CGuideGraphPanel::create() {
    if (!CPanel::create(4, 250, false))
        return false;
    // The place an earlier version kept, until the panel has one of its own.
    const QPoint at(SettingsStore::getInt(kSection, "x", kUnplaced),
                    SettingsStore::getInt(kSection, "y", kUnplaced));
    if (!placeRestored() && at.x() != kUnplaced && QGuiApplication::screenAt(at))
        window()->move(at);
    return true;
}

void CGuideGraphPanel::show() {
    refresh();
    CPanel::show();
}

void CGuideGraphPanel::createControls(ControlBuilder& b) {
    auto* frame = new QFrame(window());
    frame->setObjectName(controlName(PlotFrame));
    frame->setGeometry(b.place(4, 4, 222, 100));
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    frame->setLineWidth(1);

    for (int i = 0; i < kScaleCount; ++i)
        b.radio(FirstScale + i, FirstScale, QStringLiteral("±%1").arg(kScales[i]), 4 + i * 22, 108,
                20, 11, true);
    b.label(QStringLiteral("px"), 4 + kScaleCount * 22, 109, 14, 9);
    b.label(QString(), 130, 109, 96, 9, Qt::AlignRight | Qt::AlignVCenter, TicksLabel);
    b.label(QStringLiteral("RMS (px)"), 4, 125, 34, 9, Qt::AlignLeft | Qt::AlignVCenter);
    b.label(QString(), 40, 125, 60, 9, Qt::AlignLeft | Qt::AlignVCenter, Rms1Label);
    b.label(QString(), 102, 125, 60, 9, Qt::AlignLeft | Qt::AlignVCenter, Rms2Label);
    b.label(QString(), 164, 125, 62, 9, Qt::AlignLeft | Qt::AlignVCenter, TotalLabel);
    auto colour = [this](int id, const QColor& c) {
        if (auto* l = findControlAs<QLabel>(window(), id))
            l->setStyleSheet(QStringLiteral("color: %1").arg(c.name()));
    };
    colour(Rms1Label, kAxis1.darker(130));
    colour(Rms2Label, kAxis2.darker(130));
    if (QButtonGroup* g = ControlBuilder::radioGroup(window(), FirstScale))
        if (QAbstractButton* r = g->button(scaleIndex))
            r->setChecked(true);
}

void CGuideGraphPanel::onCommand(int id) {
    const int i = id - FirstScale;
    if (i < 0 || i >= kScaleCount || i == scaleIndex)
        return;
    scaleIndex = i;
    SettingsStore::writeInt(kSection, "echelle", scaleIndex);
    invalidate();
}

void CGuideGraphPanel::runStarted(const GuideRunInfo&) {
    points.clear();
    if (isVisible())
        refresh();
}

void CGuideGraphPanel::guideTicked(const GuideTick& tick, const GuideParams& params) {
    GraphPoint p;
    p.rejected = tick.rejection != GuideRejection::None;
    // The mount's axes, as the moves drawn beside them.
    const MountError d = rotateError(params.rotation, tick.ex, tick.ey);
    p.e1 = d.d1;
    p.e2 = d.d2;
    if (tick.moveSent) {
        const MountMove m = axisMoves(params, tick.move);
        p.move1 = signedPulse(m.axis1);
        p.move2 = signedPulse(m.axis2);
    }
    points.add(p);
    if (isVisible())
        refresh();
}

void CGuideGraphPanel::refresh() {
    if (!window())
        return;
    const GuideStats s = points.stats();
    auto setText = [this](int id, const QString& text) {
        if (auto* l = findControlAs<QLabel>(window(), id))
            l->setText(text);
    };
    const int rejected = s.ticks - s.measured;
    QString count = QStringLiteral("%1 mesure%2").arg(s.ticks).arg(s.ticks > 1 ? "s" : "");
    if (rejected)
        count += QStringLiteral(", %1 rejetée%2").arg(rejected).arg(rejected > 1 ? "s" : "");
    setText(TicksLabel, count);
    setText(Rms1Label, QString::asprintf("Axe 1 : %.3f", s.rms1));
    setText(Rms2Label, QString::asprintf("Axe 2 : %.3f", s.rms2));
    setText(TotalLabel, QString::asprintf("Total : %.3f", s.total));
    invalidate();
}

void CGuideGraphPanel::onPaint(QPainter& painter) {
    const auto* frame = findControlAs<QFrame>(window(), PlotFrame);
    if (!frame)
        return;
    const QRect area = frame->geometry().adjusted(1, 1, -1, -1);
    painter.fillRect(area, kBackground);
    painter.setClipRect(area);
    const double half = area.height() / 2.0;
    const double zeroY = area.top() + half;
    const double pxPerError = half / scale();
    const double slot = double(area.width()) / GuideHistory::kCapacity;
    auto xOf = [&](int i) { return area.left() + (i + 0.5) * slot; };
    // Errors beyond the range run along the edge, inside the frame's border.
    const double edge = half - 3;
    auto yOf = [&](float e) { return zeroY - std::clamp(double(e) * pxPerError, -edge, edge); };

    painter.setPen(QPen(kGrid, 1, Qt::DotLine));
    for (double f : {-0.5, 0.5})
        painter.drawLine(QPointF(area.left(), zeroY + f * half),
                         QPointF(area.right(), zeroY + f * half));
    painter.setPen(QPen(kZero, 1));
    painter.drawLine(QPointF(area.left(), zeroY), QPointF(area.right(), zeroY));

    // Under the curves, which may run along the edges.
    const int text = painter.fontMetrics().height();
    painter.setPen(kZero);
    painter.drawText(area.left() + 4, area.top() + text, QStringLiteral("+%1 px").arg(scale()));
    painter.drawText(area.left() + 4, area.bottom() - 3, QStringLiteral("-%1 px").arg(scale()));
    painter.setPen(kAxis1);
    painter.drawText(area.right() - 90, area.top() + text, QStringLiteral("Axe 1"));
    painter.setPen(kAxis2);
    painter.drawText(area.right() - 45, area.top() + text, QStringLiteral("Axe 2"));

    // Moves: a bar from the zero line for each axis that moved, side by side
    // within the image's slot.
    int largest = 1;
    for (int i = 0; i < points.size(); ++i)
        largest = std::max({largest, std::abs(points.at(i).move1), std::abs(points.at(i).move2)});
    const double pxPerUnit = kMoveShare * half / largest;
    const double barWidth = std::max(1.0, slot / 2 - 0.5);
    for (int i = 0; i < points.size(); ++i) {
        const GraphPoint& p = points.at(i);
        const double x = xOf(i);
        if (p.move1)
            painter.fillRect(QRectF(x - barWidth, zeroY, barWidth, -p.move1 * pxPerUnit),
                             kAxis1Move);
        if (p.move2)
            painter.fillRect(QRectF(x, zeroY, barWidth, -p.move2 * pxPerUnit), kAxis2Move);
    }

    // The error curves, broken at every dropped measurement, which gets a mark.
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (int axis = 0; axis < 2; ++axis) {
        painter.setPen(QPen(axis == 0 ? kAxis1 : kAxis2, 1.5));
        QPolygonF run;
        auto flush = [&] {
            if (run.size() == 1)
                painter.drawPoint(run.front());
            else if (run.size() > 1)
                painter.drawPolyline(run);
            run.clear();
        };
        for (int i = 0; i < points.size(); ++i) {
            const GraphPoint& p = points.at(i);
            if (p.rejected) {
                flush();
                continue;
            }
            run << QPointF(xOf(i), yOf(axis == 0 ? p.e1 : p.e2));
        }
        flush();
    }
    painter.setPen(QPen(kRejected, 1.5));
    const double m = std::max(2.0, slot);
    for (int i = 0; i < points.size(); ++i) {
        if (!points.at(i).rejected)
            continue;
        const double x = xOf(i);
        painter.drawLine(QPointF(x - m, zeroY - m), QPointF(x + m, zeroY + m));
        painter.drawLine(QPointF(x - m, zeroY + m), QPointF(x + m, zeroY - m));
    }
    painter.setRenderHint(QPainter::Antialiasing, false);

    painter.setClipping(false);
}
