#pragma once

#include <QObject>

#include <functional>
#include <map>
#include <set>

class QTimer;

// Timers of one window, by identifier. Setting a timer again replaces its
// interval and restarts it; killing stops it. A tick that falls due while the
// thread is busy is delivered once when it is free again: missed periods are
// not made up, and a tick is never delivered inside the handling of another.
class WindowTimers : public QObject {
    Q_OBJECT
public:
    explicit WindowTimers(std::function<void(int id)> onTick, QObject* parent = nullptr);
    ~WindowTimers() override;
    void setTimer(int id, int milliseconds);
    void killTimer(int id);
    bool isActive(int id) const;
    int interval(int id) const; // -1 when not armed

private:
    void deliver(int id);
    void deliverLate();
    std::function<void(int)> tick;
    std::set<int> late;
    // Changes whenever a timer is set or killed.
    std::map<int, unsigned> generation;
    std::map<int, QTimer*> timers;
    int depth = 0;
};
