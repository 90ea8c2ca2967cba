#include "SerialDeviceCheck.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

std::string serialDeviceProblem(const std::string& path) {
    const std::string notSerial = path + " n'est pas un port série : connexion refusée";
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return "Port série introuvable : " + path + " (" + std::strerror(errno) + ")";
    // Regular files, FIFOs, sockets and directories are refused before any open:
    // a FIFO's open could wait for a writer, a file would take camera frames.
    if (!S_ISCHR(st.st_mode))
        return notSerial;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return "Ouverture impossible du port série " + path + " (" + std::strerror(errno) + ")";
    termios t{};
    unsigned int ptyNumber = 0;
    // /dev/null and /dev/zero take no line settings; a pseudo-terminal master
    // (/dev/ptmx) does, but no camera answers behind it.
    const bool serial = ::tcgetattr(fd, &t) == 0 && ::ioctl(fd, TIOCGPTN, &ptyNumber) != 0;
    ::close(fd);
    return serial ? std::string() : notSerial;
}
