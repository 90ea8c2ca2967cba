#include "common/PtyPair.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        throw std::runtime_error("cannot open a pseudo-terminal");
    slave = ::ptsname(master);
    // Raw on the master side too, so that bytes pass unchanged both ways.
    termios t{};
    ::tcgetattr(master, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master, TCSANOW, &t);
}

PtyPair::~PtyPair() {
    if (master >= 0)
        ::close(master);
}

void PtyPair::send(const void* data, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (n > 0) {
        const ssize_t w = ::write(master, p, n);
        if (w < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                pollfd pf{master, POLLOUT, 0};
                ::poll(&pf, 1, 100);
                continue;
            }
            throw std::runtime_error("pty write failed");
        }
        p += w;
        n -= std::size_t(w);
    }
}

std::vector<unsigned char> PtyPair::receive(std::size_t atMost, int timeoutMs) {
    std::vector<unsigned char> out(atMost);
    pollfd pf{master, POLLIN, 0};
    if (::poll(&pf, 1, timeoutMs) <= 0 || !(pf.revents & POLLIN))
        return {};
    const ssize_t r = ::read(master, out.data(), atMost);
    out.resize(r > 0 ? std::size_t(r) : 0);
    return out;
}

std::vector<unsigned char> PtyPair::receiveExactly(std::size_t n, int timeoutMs) {
    std::vector<unsigned char> out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            break;
        auto chunk = receive(n - out.size(), int(left));
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}
