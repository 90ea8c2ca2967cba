#include "DriverMessage.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <cstdio>

namespace {

const char* const caption = "Kovrel";

QWidget* mainWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("CMainFrame"))
            return w;
    return nullptr;
}

void show(QWidget* owner, QMessageBox::Icon icon, const QString& text) {
    // A process without a widget application (a tool, a benchmark) cannot show
    // a box; the text still reaches the user on the error stream.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        std::fprintf(stderr, "%s: %s\n", caption, text.toLocal8Bit().constData());
        return;
    }
    QMessageBox box(icon, QString::fromLatin1(caption), text, QMessageBox::Ok, owner);
    box.exec();
}

} // namespace

void showDriverError(const QString& text) {
    show(mainWindow(), QMessageBox::Critical, text);
}

void showDriverNotice(QWidget* owner, const QString& text) {
    show(owner, QMessageBox::NoIcon, text);
}
