#include "DriverMessage.h"

#include "Toolkit.h"

#include <QApplication>
#include <QString>

#include <cstdio>

namespace {

const char* const caption = "Kovrel";

void show(QWidget* owner, MessageIcon icon, const QString& text) {
    // A process without a widget application (a tool, a benchmark) cannot show
    // a box; the text still reaches the user on the error stream.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        std::fprintf(stderr, "%s: %s\n", caption, text.toLocal8Bit().constData());
        return;
    }
    messageBox(owner, text, QString::fromLatin1(caption), icon);
}

} // namespace

void showDriverError(const QString& text) {
    if (const kovrel::MessageSink& sink = hostMessageSink()) {
        sink(text);
        return;
    }
    show(mainWindow(), MessageIcon::Stop, text);
}

void reportProgress(const kovrel::Progress& progress) {
    if (const kovrel::ProgressCallback& callback = hostProgressCallback())
        callback(progress);
}
