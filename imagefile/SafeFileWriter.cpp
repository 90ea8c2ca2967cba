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

// The effective user's right to write, and at least one write permission
// bit: a file someone made read-only is kept even from root.
bool mayWrite(const std::string& path, const struct stat& info) {
    return (info.st_mode & 0222) != 0 && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
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
    struct stat info {};
    const bool existingFile = ::stat(targetPath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    if (existingFile && !mayWrite(targetPath, info))
        return;
    // Shortened so that a name near the length limit still leaves room.
    constexpr std::size_t kMaxStem = 200;
    const std::string folder = folderOf(targetPath);
    std::string pattern = folder + "/." + name.substr(0, kMaxStem) + ".XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        if (existingFile && ::faccessat(AT_FDCWD, folder.c_str(), W_OK, AT_EACCESS) != 0)
            openInPlace();
        return;
    }
    tempPath = pattern;
    ::fchmod(fd, modeFor(targetPath));
    stream = ::fdopen(fd, "wb");
    if (!stream) {
        ::close(fd);
        discard();
    }
}

void SafeFileWriter::openInPlace() {
    // Not truncated here: the length is set at commit, once everything is written.
    const int fd = ::open(targetPath.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    stream = ::fdopen(fd, "wb");
    if (!stream) {
        ::close(fd);
        return;
    }
    writingInPlace = true;
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
    if (writingInPlace && ok) {
        const long written = std::ftell(stream);
        ok = written >= 0 && ::ftruncate(::fileno(stream), written) == 0 && ok;
    }
    ok = ::fsync(::fileno(stream)) == 0 && ok;
    ok = std::fclose(stream) == 0 && ok;
    stream = nullptr;
    if (writingInPlace)
        return ok;
    if (ok && ::rename(tempPath.c_str(), targetPath.c_str()) == 0) {
        tempPath.clear();
        syncFolder(folderOf(targetPath));
        return true;
    }
    discard();
    return false;
}
