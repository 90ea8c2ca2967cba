#include "StatsPanel.h"

#include "HistogramPlot.h"
#include "ImageBuffer.h"

#include <QFrame>
#include <QPainter>

namespace {
const QColor kBarColour(255, 0, 0);
}

CStatsPanel::CStatsPanel(QWidget* view, ImageBuffer* img)
    : CPanel(view, "CStatsPanel", QStringLiteral("Statistiques"), 129, 55), image(img) {}

bool CStatsPanel::create() {
    return CPanel::create(350, 100, true);
}

void CStatsPanel::createControls(ControlBuilder& b) {
    // A sunken frame with a black border; it fills nothing, so the bars the
    // panel paints underneath show through it.
    auto* frame = new QFrame(window());
    frame->setObjectName(controlName(HistogramFrame));
    frame->setGeometry(b.place(0, 0, 128, 40));
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    QPalette palette = frame->palette();
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Dark, QPalette::Shadow})
        palette.setColor(role, Qt::black);
    frame->setPalette(palette);
    frame->setLineWidth(1);

    b.numberEdit(MinimumField, 0, 42, 40, 12, Qt::AlignLeft, true);
    b.numberEdit(MeanField, 44, 42, 40, 12, Qt::AlignLeft, true);
    b.numberEdit(MaximumField, 88, 42, 40, 12, Qt::AlignLeft, true);
}

void CStatsPanel::refreshStats() {
    if (!isVisible())
        return;
    auto setField = [this](int id, const QString& text) {
        if (auto* e = findControlAs<QLineEdit>(window(), id))
            e->setText(text);
    };
    if (image && image->pixels) {
        image->getStats(minimum, maximum, mean);
        setField(MinimumField, QString::number(minimum));
        setField(MeanField, QString::number(mean));
        setField(MaximumField, QString::number(maximum));
    } else {
        for (int id : {MinimumField, MeanField, MaximumField})
            setField(id, QString());
    }
    invalidate();
}

void CStatsPanel::onPaint(QPainter& painter) {
    if (!image || !image->pixels)
        return;
    const auto* frame = findControlAs<QFrame>(window(), HistogramFrame);
    if (!frame)
        return;
    // The frame's client area, drawn from the panel's top-left corner where
    // the frame sits.
    const int w = frame->contentsRect().width();
    const int h = frame->contentsRect().height();
    const float* histogram = image->getHistogram();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(kBarColour, 1));
    for (int x = 0; x <= w; ++x) {
        const int top = histogramBarTop(histogram[histogramColumnBin(x, w)], h);
        // From the bottom row up to, but not including, the bar's top: an
        // empty bin draws nothing and a full one fills the frame's height.
        if (top < h)
            painter.drawLine(x, h, x, top + 1);
    }
}
