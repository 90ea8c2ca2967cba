#include "CAboutDialog.h"

#include "ToolbarIcons.h"

CAboutDialog::CAboutDialog(QWidget* parent)
    : CDialog(parent, QStringLiteral("CAboutDialog"), QStringLiteral("A propos de Zermic"), 217,
              55) {}

void CAboutDialog::createControls(ControlBuilder& b) {
    QLabel* icon = b.label(QString(), 11, 17, 20, 20, Qt::AlignCenter);
    icon->setPixmap(mainIcon().pixmap(icon->size()));
    b.label(QStringLiteral("Zermic version 3.1.75"), 40, 10, 119, 8);
    b.button(1, QStringLiteral("OK"), 178, 7, 32, 14)->setDefault(true);
}
