#include "ToolbarIcons.h"

#include "CommandIds.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

const QColor kInk(0, 0, 0);
const QColor kPaper(255, 255, 255);
const QColor kFolder(230, 190, 60);
const QColor kBody(90, 90, 110);
const QColor kLens(60, 120, 200);

void page(QPainter& p, int x, int y, int w, int h) {
    p.setPen(kInk);
    p.setBrush(kPaper);
    QPolygon outline;
    outline << QPoint(x, y) << QPoint(x + w - 4, y) << QPoint(x + w, y + 4) << QPoint(x + w, y + h)
            << QPoint(x, y + h);
    p.drawPolygon(outline);
    p.drawLine(x + w - 4, y, x + w - 4, y + 4);
    p.drawLine(x + w - 4, y + 4, x + w, y + 4);
}

void camera(QPainter& p) {
    p.setPen(kInk);
    p.setBrush(kBody);
    p.drawRect(1, 4, 13, 9);
    p.drawRect(4, 2, 4, 2);
    p.setBrush(kLens);
    p.drawEllipse(QPoint(8, 8), 3, 3);
}

void drawButton(QPainter& p, int id) {
    switch (id) {
    case cmd::FileNew:
        page(p, 3, 1, 10, 13);
        break;
    case cmd::FileOpen:
        p.setPen(kInk);
        p.setBrush(kFolder);
        p.drawRect(1, 4, 12, 9);
        p.drawRect(1, 2, 5, 2);
        p.setBrush(kFolder.lighter(120));
        p.drawPolygon(QPolygon({QPoint(3, 7), QPoint(15, 7), QPoint(13, 13), QPoint(1, 13)}));
        break;
    case cmd::FileSave:
        p.setPen(kInk);
        p.setBrush(QColor(40, 60, 140));
        p.drawRect(1, 1, 13, 13);
        p.setBrush(kPaper);
        p.drawRect(4, 1, 7, 5);
        p.setBrush(QColor(180, 180, 180));
        p.drawRect(4, 9, 7, 5);
        break;
    case cmd::EditCut:
        p.setPen(kInk);
        p.setBrush(Qt::NoBrush);
        p.drawLine(4, 1, 10, 9);
        p.drawLine(11, 1, 5, 9);
        p.drawEllipse(QPoint(4, 11), 2, 2);
        p.drawEllipse(QPoint(11, 11), 2, 2);
        break;
    case cmd::EditCopy:
        page(p, 1, 1, 8, 9);
        page(p, 6, 5, 8, 9);
        break;
    case cmd::EditPaste:
        p.setPen(kInk);
        p.setBrush(QColor(160, 110, 60));
        p.drawRect(1, 2, 10, 12);
        p.setBrush(QColor(200, 200, 200));
        p.drawRect(4, 1, 4, 2);
        page(p, 6, 5, 8, 9);
        break;
    case cmd::CameraParams:
        camera(p);
        p.setPen(QPen(QColor(200, 30, 30), 2));
        p.drawLine(11, 14, 15, 10);
        break;
    case cmd::AcquireOne:
        camera(p);
        break;
    case cmd::SequenceParams:
        p.setPen(kInk);
        for (int i = 0; i < 3; ++i) {
            const int y = 3 + 4 * i;
            p.drawLine(1, y, 14, y);
            p.setBrush(kLens);
            p.drawRect(3 + 4 * i, y - 2, 3, 4);
        }
        break;
    case cmd::LoopStart:
        p.setPen(kInk);
        p.setBrush(QColor(30, 170, 60));
        p.drawPolygon(QPolygon({QPoint(4, 1), QPoint(13, 7), QPoint(4, 13)}));
        break;
    case cmd::LoopPause:
        p.setPen(kInk);
        p.setBrush(QColor(230, 160, 30));
        p.drawRect(3, 2, 3, 11);
        p.drawRect(9, 2, 3, 11);
        break;
    case cmd::LoopStop:
        p.setPen(kInk);
        p.setBrush(QColor(210, 40, 40));
        p.drawRect(3, 2, 10, 10);
        break;
    case cmd::ShowGuiding:
    case cmd::GuidingParamsButton:
        p.setPen(QColor(200, 30, 30));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPoint(7, 7), 5, 5);
        p.drawLine(7, 0, 7, 14);
        p.drawLine(0, 7, 14, 7);
        if (id == cmd::GuidingParamsButton) {
            p.setPen(kInk);
            p.setBrush(kBody);
            p.drawRect(10, 10, 5, 4);
        }
        break;
    case cmd::FilePrint:
        p.setPen(kInk);
        p.setBrush(kPaper);
        p.drawRect(4, 1, 8, 5);
        p.setBrush(QColor(170, 170, 170));
        p.drawRect(1, 6, 14, 6);
        p.setBrush(kPaper);
        p.drawRect(4, 10, 8, 4);
        break;
    case cmd::AppAbout: {
        p.setPen(kInk);
        p.setBrush(QColor(255, 255, 180));
        p.drawEllipse(1, 0, 13, 13);
        QFont f = p.font();
        f.setPixelSize(11);
        f.setBold(true);
        p.setFont(f);
        p.drawText(QRect(1, 0, 14, 14), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    default:
        break;
    }
}

} // namespace

QIcon toolbarIcon(int commandId) {
    QPixmap pm(kToolbarButtonWidth, kToolbarButtonHeight);
    pm.fill(Qt::transparent);
    {
        QPainter p(&pm);
        drawButton(p, commandId);
    }
    return QIcon(pm);
}

QIcon mainIcon() {
    // A telescope tube aimed at a star.
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 32.0, size / 32.0);
        p.setPen(QPen(kInk, 1.5));
        p.setBrush(QColor(20, 30, 70));
        p.drawRoundedRect(0, 0, 32, 32, 5, 5);
        p.setBrush(QColor(220, 220, 230));
        p.save();
        p.translate(14, 20);
        p.rotate(-35);
        p.drawRect(-12, -4, 22, 8);
        p.restore();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 230, 120));
        QPainterPath star;
        star.addEllipse(QPointF(25, 7), 3, 3);
        p.drawPath(star);
        icon.addPixmap(pm);
    }
    return icon;
}
