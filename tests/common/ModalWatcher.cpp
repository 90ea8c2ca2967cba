#include "common/ModalWatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

int liveWatchers = 0;

// A property marks the windows already handled: a new box may be built at the
// address of one just destroyed.
QWidget* newModalWindow() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || w->property("modalWatcherSeen").toBool())
        return nullptr;
    w->setProperty("modalWatcherSeen", true);
    return w;
}

ModalWatcher::Seen describe(QWidget* w) {
    ModalWatcher::Seen s;
    s.title = w->windowTitle();
    s.owner = w->parentWidget();
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
        s.className = QStringLiteral("QMessageBox");
        s.text = box->text();
        s.icon = box->icon();
    } else {
        s.className = w->objectName();
    }
    return s;
}

// A message box gets its default button; any other window is cancelled.
void answer(QWidget* w) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
        QAbstractButton* b = box->defaultButton();
        if (!b && !box->buttons().isEmpty())
            b = box->buttons().first();
        if (b)
            b->click();
        else
            box->close();
    } else if (auto* dialog = qobject_cast<QDialog*>(w)) {
        dialog->reject();
    } else {
        w->close();
    }
}

std::string quoted(const ModalWatcher::Seen& s) {
    return (s.className + QStringLiteral(" \"") + s.title + QStringLiteral("\": ") + s.text)
        .toStdString();
}

} // namespace

ModalWatcher::ModalWatcher(std::function<bool(QWidget*)> action) : onModal(std::move(action)) {
    ++liveWatchers;
    connect(&timer, &QTimer::timeout, this, &ModalWatcher::poll);
    timer.start(10);
}

ModalWatcher::~ModalWatcher() {
    --liveWatchers;
}

int ModalWatcher::active() {
    return liveWatchers;
}

std::vector<QString> ModalWatcher::messages() const {
    std::vector<QString> out;
    for (const auto& s : windows)
        out.push_back(s.text);
    return out;
}

void ModalWatcher::poll() {
    QWidget* w = newModalWindow();
    if (!w)
        return;
    windows.push_back(describe(w));
    if (onModal && onModal(w))
        return;
    if (!qobject_cast<QMessageBox*>(w))
        ADD_FAILURE() << "modal window left unanswered: " << quoted(windows.back());
    answer(w);
}

UnexpectedModalGuard::UnexpectedModalGuard() {
    connect(&timer, &QTimer::timeout, this, &UnexpectedModalGuard::poll);
    timer.start(10);
}

void UnexpectedModalGuard::poll() {
    if (ModalWatcher::active() > 0)
        return;
    QWidget* w = newModalWindow();
    if (!w)
        return;
    ADD_FAILURE() << "unexpected modal window: " << quoted(describe(w));
    answer(w);
}
