#include "WindowTimers.h"

#include <QTimer>

WindowTimers::WindowTimers(std::function<void(int)> onTick, QObject* parent)
    : QObject(parent), tick(std::move(onTick)) {}

WindowTimers::~WindowTimers() = default;

void WindowTimers::setTimer(int id, int milliseconds) {
    QTimer*& t = timers[id];
    if (!t) {
        t = new QTimer(this);
        t->setTimerType(Qt::PreciseTimer);
        connect(t, &QTimer::timeout, this, [this, id] {
            // A tick falling due inside a handler's nested event loop (a message
            // box) is dropped: the next one comes at the next period.
            if (depth > 0)
                return;
            ++depth;
            tick(id);
            --depth;
        });
    }
    t->start(std::max(0, milliseconds));
}

void WindowTimers::killTimer(int id) {
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
