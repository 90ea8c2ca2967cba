#include "PseudoLine.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool makeFolders(const std::string& path) {
    for (std::size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/')
            continue;
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

void makeRaw(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return;
    ::cfmakeraw(&t);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &t);
}

} // namespace

PseudoLine::PseudoLine(std::string portsFolder, std::vector<int> ports)
    : folder(std::move(portsFolder)), portList(std::move(ports)) {}

PseudoLine::~PseudoLine() {
    close();
}

std::string PseudoLine::linkPath(int port) const {
    return folder + "/COM" + std::to_string(port);
}

bool PseudoLine::open(std::string& error) {
    close();
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        close();
        return false;
    }
    slave = ::ptsname(master);
    keepSlave = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (keepSlave < 0) {
        error = "cannot open " + slave + ": " + std::strerror(errno);
        close();
        return false;
    }
    // Raw on both sides: every byte value passes unchanged, nothing echoes.
    makeRaw(keepSlave);
    makeRaw(master);
    int packet = 1;
    if (::ioctl(master, TIOCPKT, &packet) != 0) {
        error = std::string("cannot set packet mode: ") + std::strerror(errno);
        close();
        return false;
    }
    if (!makeFolders(folder)) {
        error = "cannot create " + folder + ": " + std::strerror(errno);
        close();
        return false;
    }
    for (int port : portList) {
        // A new link under a private name, renamed over the old one: the
        // driver never finds the name missing or pointing half-way.
        const std::string link = linkPath(port);
        const std::string fresh = link + ".camsim" + std::to_string(::getpid());
        ::unlink(fresh.c_str());
        if (::symlink(slave.c_str(), fresh.c_str()) != 0 ||
            ::rename(fresh.c_str(), link.c_str()) != 0) {
            error = "cannot link " + link + ": " + std::strerror(errno);
            ::unlink(fresh.c_str());
            close();
            return false;
        }
    }
    return true;
}

void PseudoLine::close() {
    if (keepSlave >= 0)
        ::close(keepSlave);
    if (master >= 0)
        ::close(master);
    keepSlave = master = -1;
}

int PseudoLine::unreadBySlave() const {
    int n = 0;
    if (keepSlave < 0 || ::ioctl(keepSlave, FIONREAD, &n) != 0)
        return 0;
    return n;
}

void PseudoLine::removeLinks() {
    for (int port : portList) {
        // Only a link that still names our terminal: another simulator may
        // have taken the name over since.
        const std::string link = linkPath(port);
        char target[256];
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == slave)
            ::unlink(link.c_str());
    }
}
