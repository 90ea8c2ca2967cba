#include "RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int keepIfRegular(int fd) {
    if (fd < 0)
        return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

int openRegularFile(const char* path) {
    return keepIfRegular(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
}

int openRegularFileForAppend(const char* path) {
    return keepIfRegular(
        ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666));
}
