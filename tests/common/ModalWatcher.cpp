#include "common/ModalWatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

ModalWatcher::ModalWatcher(std::function<bool(QWidget*)> action) : onModal(std::move(action)) {
    connect(&timer, &QTimer::timeout, this, &ModalWatcher::poll);
    timer.start(10);
}

ModalWatcher::~ModalWatcher() = default;

std::vector<QString> ModalWatcher::messages() const {
    std::vector<QString> out;
    for (const auto& s : windows)
        out.push_back(s.text);
    return out;
}

void ModalWatcher::poll() {
    QWidget* w = QApplication::activeModalWidget();
    // A property marks the windows already handled: a new box may be built at
    // the address of one just destroyed.
    if (!w || w->property("modalWatcherSeen").toBool())
        return;
    w->setProperty("modalWatcherSeen", true);
    Seen s;
    s.title = w->windowTitle();
    s.owner = w->parentWidget();
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
        s.className = QStringLiteral("QMessageBox");
        s.text = box->text();
        s.icon = box->icon();
    } else {
        s.className = w->objectName();
    }
    windows.push_back(s);
    const bool handled = onModal && onModal(w);
    if (!handled) {
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            QAbstractButton* b = box->defaultButton();
            if (!b && !box->buttons().isEmpty())
                b = box->buttons().first();
            if (b)
                b->click();
            else
                box->close();
        }
    }
}
