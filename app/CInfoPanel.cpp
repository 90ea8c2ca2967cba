#include "CInfoPanel.h"

namespace {
enum Control { Size = 1009, Exposure = 1011, Sequence = 1012, Spare1 = 1013, Stack = 1014 };
}

CInfoPanel::CInfoPanel(QWidget* parent)
    : CPanel(parent, QStringLiteral("CInfoPanel"), QStringLiteral("Caméra"), 61, 122) {}

bool CInfoPanel::create() {
    return CPanel::create(512, 0, true);
}

void CInfoPanel::createControls(ControlBuilder& b) {
    const Qt::Alignment centred = Qt::AlignHCenter;
    b.group(QStringLiteral("Acquisition"), 4, 3, 53, 42);
    b.edit(Size, 9, 14, 43, 12, centred, true);
    b.edit(Exposure, 9, 28, 43, 12, centred, true);
    b.group(QStringLiteral("Séquence"), 4, 48, 53, 42);
    b.edit(Sequence, 9, 59, 43, 12, centred, true);
    b.edit(Spare1, 9, 73, 43, 12, centred, true);
    b.group(QStringLiteral("Info"), 4, 93, 53, 26);
    b.edit(Stack, 9, 104, 43, 12, centred, true);
}

void CInfoPanel::doDataExchange(DataExchange& dx) {
    dx.text(Size, size);
    dx.text(Exposure, exposure);
    dx.text(Sequence, sequence);
    dx.text(Spare1, spare1);
    dx.text(Stack, stack);
}

void CInfoPanel::showSize(int width, int height, float exposureSeconds) {
    size = QString::asprintf("%4dx%4d", width, height);
    exposure = QString::asprintf("%.2f", double(exposureSeconds));
    refill();
}

void CInfoPanel::showCount(int n) {
    sequence = QString::asprintf("%04d", n);
    refill();
}

void CInfoPanel::showProgress(int n, int total) {
    sequence = QString::asprintf("%d/%d", n, total);
    refill();
}

void CInfoPanel::showStack(int images) {
    stack = images > 0 ? QStringLiteral("Cumul : %1").arg(images) : QString();
    refill();
}

void CInfoPanel::refill() {
    // The texts are kept while the window does not exist yet and shown when it does.
    if (window())
        updateData(false);
}
