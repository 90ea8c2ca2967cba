#include "SerialPort.h"

#include <QStandardPaths>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

speed_t speedOf(int baud) {
    switch (baud) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return B115200;
    }
}

SerialPort::Wait waitFor(int fd, short events, int timeoutMs) {
    if (fd < 0)
        return SerialPort::Wait::Error;
    pollfd p{fd, events, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r < 0)
        return SerialPort::Wait::Error;
    if (r == 0)
        return SerialPort::Wait::Timeout;
    if (p.revents & POLLHUP) {
        // Bytes that arrived before the line hung up are still delivered.
        int waiting = 0;
        if ((events & POLLIN) && ::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0)
            return SerialPort::Wait::Ready;
        return SerialPort::Wait::Hangup;
    }
    if (p.revents & events)
        return SerialPort::Wait::Ready;
    return SerialPort::Wait::Error;
}

} // namespace

PosixSerialPort::~PosixSerialPort() {
    close();
}

bool PosixSerialPort::fail(int f) {
    lastOpenError = errno;
    if (f >= 0)
        ::close(f);
    return false;
}

bool PosixSerialPort::open(const std::string& path) {
    if (fd >= 0)
        return false;
    if (path.empty()) {
        lastOpenError = ENOENT;
        return false;
    }
    const int f = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (f < 0)
        return fail(f);
    // Exclusive: a second open of the same device by anyone but root fails, and
    // the flock keeps a second process of ours (root included) away.
    if (::ioctl(f, TIOCEXCL) != 0 && errno != ENOTTY)
        return fail(f);
    if (::flock(f, LOCK_EX | LOCK_NB) != 0)
        return fail(f);
    fd = f;
    lastOpenError = 0;
    return true;
}

bool PosixSerialPort::apply(const LineSettings& s) {
    if (fd < 0)
        return false;
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return false;
    ::cfmakeraw(&t); // binary: no character translation, no echo, no signals
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | PARMRK | IGNPAR);
    if (s.softwareFlow)
        t.c_iflag |= IXON | IXOFF;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CREAD | CLOCAL;
    switch (s.dataBits) {
    case 5:
        t.c_cflag |= CS5;
        break;
    case 6:
        t.c_cflag |= CS6;
        break;
    case 7:
        t.c_cflag |= CS7;
        break;
    default:
        t.c_cflag |= CS8;
        break;
    }
    if (s.parity)
        t.c_cflag |= PARENB;
    if (s.stopBits == 2)
        t.c_cflag |= CSTOPB;
    if (s.hardwareFlow)
        t.c_cflag |= CRTSCTS;
    // Reads never block inside read(): waiting is done with poll.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, speedOf(s.baud));
    ::cfsetospeed(&t, speedOf(s.baud));
    if (::tcsetattr(fd, TCSANOW, &t) != 0)
        return false;
    int lines = 0;
    if (::ioctl(fd, TIOCMGET, &lines) == 0) {
        lines = s.dtr ? (lines | TIOCM_DTR) : (lines & ~TIOCM_DTR);
        lines = s.rts ? (lines | TIOCM_RTS) : (lines & ~TIOCM_RTS);
        ::ioctl(fd, TIOCMSET, &lines); // pseudo-terminals have no modem lines
    }
    return true;
}

long PosixSerialPort::bytesWaiting() {
    if (fd < 0)
        return -1;
    int n = 0;
    if (::ioctl(fd, FIONREAD, &n) != 0)
        return -1;
    return n;
}

long PosixSerialPort::read(void* buffer, std::size_t n) {
    if (fd < 0)
        return -1;
    for (;;) {
        const ssize_t r = ::read(fd, buffer, n);
        if (r >= 0)
            return r;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return -1;
    }
}

long PosixSerialPort::write(const void* data, std::size_t n) {
    if (fd < 0)
        return -1;
    for (;;) {
        const ssize_t r = ::write(fd, data, n);
        if (r >= 0)
            return r;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return -1;
    }
}

SerialPort::Wait PosixSerialPort::waitReadable(int timeoutMs) {
    return waitFor(fd, POLLIN, timeoutMs);
}

SerialPort::Wait PosixSerialPort::waitWritable(int timeoutMs) {
    return waitFor(fd, POLLOUT, timeoutMs);
}

void PosixSerialPort::purge(bool input, bool output) {
    if (fd < 0)
        return;
    if (input && output)
        ::tcflush(fd, TCIOFLUSH);
    else if (input)
        ::tcflush(fd, TCIFLUSH);
    else if (output)
        ::tcflush(fd, TCOFLUSH);
}

void PosixSerialPort::close() {
    if (fd < 0)
        return;
    ::ioctl(fd, TIOCNXCL); // leave the device openable by the next user
    ::flock(fd, LOCK_UN);
    ::close(fd);
    fd = -1;
}

std::string serialPortsFolder() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return (base + QStringLiteral("/VKL_Zermic/ports")).toStdString();
}

std::string serialPortPath(int n) {
    const std::string link = serialPortsFolder() + "/COM" + std::to_string(n);
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0)
        return link;
    if (n >= 1)
        return "/dev/ttyS" + std::to_string(n - 1);
    return {};
}
