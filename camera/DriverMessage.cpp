#include "DriverMessage.h"

#include "Toolkit.h"

#include <QApplication>
#include <QString>

#include <cstdio>
#include <utility>

namespace {

const char* const caption = "Kovrel";

kovrel::MessageSink& messageSink() {
    static kovrel::MessageSink sink;
    return sink;
}

kovrel::ProgressCallback& progressCallback() {
    static kovrel::ProgressCallback callback;
    return callback;
}

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
    if (const kovrel::MessageSink& sink = messageSink()) {
        sink(text);
        return;
    }
    show(mainWindow(), MessageIcon::Stop, text);
}

void reportProgress(const kovrel::Progress& progress) {
    if (const kovrel::ProgressCallback& callback = progressCallback())
        callback(progress);
}

namespace kovrel {

void setMessageSink(MessageSink sink) {
    messageSink() = std::move(sink);
}

void setProgressCallback(ProgressCallback callback) {
    progressCallback() = std::move(callback);
}

} // namespace kovrel
