#pragma once

#include <ctime>

// Wall-clock seconds, behind an interface so that tests can set the time by hand.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::time_t now() = 0;
};

class SystemClock : public Clock {
public:
    std::time_t now() override { return std::time(nullptr); }
};

// A clock that only moves when told to; optionally advances by a step at each reading.
class ManualClock : public Clock {
public:
    explicit ManualClock(std::time_t start = 1000000000, std::time_t stepPerRead = 0)
        : current(start), step(stepPerRead) {}
    std::time_t now() override {
        const std::time_t t = current;
        current += step;
        return t;
    }
    void set(std::time_t t) { current = t; }
    void advance(std::time_t seconds) { current += seconds; }
    void setStep(std::time_t s) { step = s; }

private:
    std::time_t current;
    std::time_t step;
};
