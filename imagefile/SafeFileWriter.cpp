#include "SafeFileWriter.h"

#include <QFile>

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A link is replaced through what it points at, not turned into a plain file.
std::string resolvedTarget(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        char real[PATH_MAX];
        if (::realpath(path.c_str(), real))
            return real;
    }
    return path;
}

// The new file keeps the old one's permissions; a new name gets the usual ones.
mode_t modeFor(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        return info.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

SafeFileWriter::SafeFileWriter(const QString& target)
    : targetPath(resolvedTarget(QFile::encodeName(target).toStdString())) {
    const std::size_t slash = targetPath.rfind('/');
    const std::string name = slash == std::string::npos ? targetPath : targetPath.substr(slash + 1);
    if (name.empty())
        return;
    // Shortened so that a name near the length limit still leaves room.
    constexpr std::size_t kMaxStem = 200;
    std::string pattern = folderOf(targetPath) + "/." + name.substr(0, kMaxStem) + ".XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return;
    tempPath = pattern;
    ::fchmod(fd, modeFor(targetPath));
    stream = ::fdopen(fd, "wb");
    if (!stream) {
        ::close(fd);
        discard();
    }
}

SafeFileWriter::~SafeFileWriter() {
    if (stream)
        std::fclose(stream);
    stream = nullptr;
    discard();
}

void SafeFileWriter::discard() {
    if (!tempPath.empty())
        ::unlink(tempPath.c_str());
    tempPath.clear();
}

bool SafeFileWriter::commit() {
    if (!stream)
        return false;
    bool ok = std::fflush(stream) == 0;
    ok = ::fsync(::fileno(stream)) == 0 && ok;
    ok = std::fclose(stream) == 0 && ok;
    stream = nullptr;
    if (ok && ::rename(tempPath.c_str(), targetPath.c_str()) == 0) {
        tempPath.clear();
        syncFolder(folderOf(targetPath));
        return true;
    }
    discard();
    return false;
}
