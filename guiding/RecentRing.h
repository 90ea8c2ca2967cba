#pragma once

#include <array>

// The last N values added, oldest first; older ones are overwritten. Adding
// costs a copy, nothing more.
template <class T, int N> class RecentRing {
public:
    static constexpr int kCapacity = N;

    void clear() { count = 0; }
    void add(const T& v) {
        if (count == 0)
            next = 0;
        ring[next] = v;
        next = (next + 1) % N;
        if (count < N)
            ++count;
    }
    int size() const { return count; }
    // 0 is the oldest value held.
    const T& at(int i) const { return ring[(first() + i) % N]; }

private:
    int first() const { return count < N ? 0 : next; }
    std::array<T, N> ring{};
    int next = 0;
    int count = 0;
};
