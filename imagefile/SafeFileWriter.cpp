#include "SafeFileWriter.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Marks the temporary files of a save, so that those a dead process left can
// be told from the user's own files: "." + name + mark + random characters.
constexpr char kTempMark[] = "~zermic-";
constexpr std::size_t kTempMarkLength = sizeof kTempMark - 1;
constexpr std::size_t kRandomChars = 6;
// Shortened so that a name near the length limit still leaves room.
constexpr std::size_t kMaxStem = 200;
// A temporary file nobody locks and nobody has written for this long was left
// by a save that will never end.
constexpr std::time_t kStaleSeconds = 60;

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

std::string randomChars() {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    std::string s(kRandomChars, ' ');
    for (char& c : s)
        c = alphabet[pick(generator)];
    return s;
}

bool isTempName(const std::string& name) {
    const std::size_t mark = name.rfind(kTempMark);
    return name.size() > 1 && name[0] == '.' && mark != std::string::npos && mark > 1 &&
           name.size() == mark + kTempMarkLength + kRandomChars;
}

// Removes what the saves of dead processes left in the folder. Once per folder
// and process is enough: this process's own saves remove their files.
void sweepFolder(const std::string& folder) {
    static std::mutex mutex;
    static std::set<std::string> swept;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (!swept.insert(folder).second)
            return;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir);
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        if (!isTempName(entry->d_name))
            continue;
        const int fd =
            ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        // A live writer holds its file's lock until the file has its name.
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
            now - info.st_mtime > kStaleSeconds && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(dirFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

// A new file beside the target, locked while it is written. Created with the
// old file's permissions, or for a new name with those the user's umask
// leaves; the path is set when it was made.
int createTemp(const std::string& folder, const std::string& name, bool oldMode, mode_t mode,
               std::string& path) {
    const std::string stem = folder + "/." + name.substr(0, kMaxStem) + kTempMark;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = stem + randomChars();
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            ::flock(fd, LOCK_EX);
            // The umask must not take away what the old file allowed.
            if (oldMode)
                ::fchmod(fd, mode);
            path = candidate;
            return fd;
        }
        if (errno != EEXIST)
            break;
    }
    return -1;
}

} // namespace

SafeFileWriter::SafeFileWriter(const QString& target, Existing existingName)
    : existing(existingName) {
    const std::string path = QFile::encodeName(target).toStdString();
    struct stat info {};
    if (existing == Existing::Keep) {
        // Anything of that name, a dangling link included, stays as it is.
        if (::lstat(path.c_str(), &info) == 0) {
            taken = true;
            return;
        }
        targetPath = path;
    } else {
        targetPath = resolvedTarget(path);
    }
    const std::size_t slash = targetPath.rfind('/');
    const std::string name = slash == std::string::npos ? targetPath : targetPath.substr(slash + 1);
    if (name.empty())
        return;
    const bool existingFile = existing == Existing::Replace &&
                              ::stat(targetPath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    if (existingFile && !mayWrite(targetPath, info))
        return;
    const std::string folder = folderOf(targetPath);
    sweepFolder(folder);
    const int fd = createTemp(folder, name, existingFile,
                              existingFile ? info.st_mode & 07777 : 0666, tempPath);
    if (fd < 0) {
        if (existingFile && ::faccessat(AT_FDCWD, folder.c_str(), W_OK, AT_EACCESS) != 0)
            openInPlace();
        return;
    }
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

bool SafeFileWriter::publish() {
    if (existing == Existing::Replace)
        return ::rename(tempPath.c_str(), targetPath.c_str()) == 0;
    int r = ::renameat2(AT_FDCWD, tempPath.c_str(), AT_FDCWD, targetPath.c_str(), RENAME_NOREPLACE);
    if (r != 0 && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
        // File systems without that rename (NFS) still give a name without
        // replacing anything through a link.
        r = ::link(tempPath.c_str(), targetPath.c_str());
        if (r == 0)
            ::unlink(tempPath.c_str());
    }
    taken = r != 0 && errno == EEXIST;
    return r == 0;
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
    // The lock goes with the file's last descriptor: a copy holds it until
    // the file has its name, so that another process's sweep, which takes an
    // unlocked file for a dead save's, never removes it on the way.
    const int lockHolder = writingInPlace ? -1 : ::fcntl(::fileno(stream), F_DUPFD_CLOEXEC, 0);
    ok = std::fclose(stream) == 0 && ok;
    stream = nullptr;
    if (writingInPlace)
        return ok;
    const bool published = ok && publish();
    if (lockHolder >= 0)
        ::close(lockHolder);
    if (published) {
        tempPath.clear();
        syncFolder(folderOf(targetPath));
        return true;
    }
    discard();
    return false;
}
