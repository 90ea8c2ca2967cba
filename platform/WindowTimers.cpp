#include "WindowTimers.h"

#include <QElapsedTimer>
#include <QTimer>

#include <utility>

WindowTimers::WindowTimers(std::function<void(int)> onTick, QObject* parent)
    : QObject(parent), tick(std::move(onTick)) {}

WindowTimers::~WindowTimers() = default;

void WindowTimers::setTimer(int id, int milliseconds) {
    QTimer*& t = timers[id];
    if (!t) {
        t = new QTimer(this);
        t->setTimerType(Qt::PreciseTimer);
        connect(t, &QTimer::timeout, this, [this, id] { deliver(id); });
    }
    ++generation[id];
    t->start(std::max(0, milliseconds));
}

void WindowTimers::deliver(int id) {
    // A tick falling due inside a handler (a message box's loop, or the event
    // loop a long camera call turns) waits for the handler to end, then comes
    // once, as if the thread had been busy.
    if (depth > 0) {
        late.insert(id);
        return;
    }
    const unsigned armed = generation[id];
    QElapsedTimer took;
    took.start();
    ++depth;
    tick(id);
    --depth;
    // Qt swallows a timer's own timeouts while its handler runs: a period that
    // passed inside the handler, with the timer left as it was, is one late tick.
    if (generation[id] == armed && interval(id) > 0 && took.elapsed() >= interval(id))
        late.insert(id);
    if (depth == 0 && !late.empty())
        QMetaObject::invokeMethod(this, &WindowTimers::deliverLate, Qt::QueuedConnection);
}

void WindowTimers::deliverLate() {
    const std::set<int> due = std::exchange(late, {});
    for (int id : due)
        if (isActive(id))
            deliver(id);
}

void WindowTimers::killTimer(int id) {
    ++generation[id];
    auto it = timers.find(id);
    if (it != timers.end() && it->second)
        it->second->stop();
}

bool WindowTimers::isActive(int id) const {
    auto it = timers.find(id);
    return it != timers.end() && it->second && it->second->isActive();
}

int WindowTimers::interval(int id) const {
    return isActive(id) ? timers.at(id)->interval() : -1;
}
