#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

class QWidget;

// Watches for modal windows (message boxes, dialogs) while a test runs code that
// opens them, records what they showed and lets the test act on each one.
// By default a message box is answered with its default button; any other
// modal window the action leaves alone fails the test and is closed, so that
// a test never waits on a window nobody answers.
class ModalWatcher : public QObject {
    Q_OBJECT
public:
    struct Seen {
        QString className; // object name of the window, or its class for message boxes
        QString title;
        QString text;
        int icon = 0; // QMessageBox::Icon for message boxes
        QWidget* owner = nullptr;
    };

    // action: called once for every new modal window; when it returns false the
    // watcher closes message boxes itself (pressing their default button).
    explicit ModalWatcher(std::function<bool(QWidget*)> action = {});
    ~ModalWatcher() override;

    const std::vector<Seen>& seen() const { return windows; }
    std::vector<QString> messages() const;

    // Watchers alive now.
    static int active();

private:
    void poll();
    QTimer timer;
    std::function<bool(QWidget*)> onModal;
    std::vector<Seen> windows;
};

// Fails the running test at once, naming the window and its text, when a modal
// window opens while no ModalWatcher is alive, then closes it: an unexpected
// box never hangs a test run. One lives for the whole test process.
class UnexpectedModalGuard : public QObject {
    Q_OBJECT
public:
    UnexpectedModalGuard();

private:
    void poll();
    QTimer timer;
};
