#include "BmpWriter.h"
#include "ImageBuffer.h"
#include "ImageSave.h"
#include "TestFiles.h"
#include "common/CallProbe.h"
#include "common/FileSizeLimit.h"
#include "common/InChild.h"
#include "common/TempDir.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::uint32_t le32(const Bytes& b, std::size_t at) {
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}
unsigned le16(const Bytes& b, std::size_t at) {
    return unsigned(b[at]) | unsigned(b[at + 1]) << 8;
}

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// Files left in a folder: a failed save must not leave its temporary behind.
std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Bytes bitmap24(int width, int height) {
    Bytes bits(std::size_t(bmpRowBytes(width, 24)) * height);
    for (std::size_t i = 0; i < bits.size(); ++i)
        bits[i] = static_cast<unsigned char>(i * 31 + i / 977);
    return bits;
}

} // namespace

TEST(SaveDispatch, BmpOnlyForExactCaseBmpAnywhereInThePath) {
    struct Case {
        const char* path;
        bool bmp;
    };
    char sequenceName[64];
    std::snprintf(sequenceName, sizeof sequenceName, "/obs/m31_%04d.fit", 12);
    const Case cases[] = {
        {"/tmp/a.bmp", true},  {"/tmp/A.BMP", true},  {"/tmp/a.bmp.d/x.fit", true},
        {"/tmp/x.bmpx", true}, {"/tmp/a.Bmp", false}, {"/tmp/a.bMP", false},
        {"/tmp/abmp", false},  {sequenceName, false}, {"/tmp/a.fit", false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isBmpName(QString::fromUtf8(c.path)), c.bmp) << c.path;
}

TEST(BmpWriter, ColourBitmapOfA768WideImage) {
    TempDir dir;
    const int w = (768 & 0x7FFC) + 4, h = 512;
    const Bytes bits = bitmap24(w, h);
    const std::string path = dir.file("m31.bmp");
    ASSERT_EQ(writeBmp(q(path), bits.data(), w, h, 24), 0);
    const Bytes file = readBytes(path);
    ASSERT_EQ(file.size(), 1185846u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    const std::pair<std::size_t, std::uint32_t> fields32[] = {
        {2, 1185846}, {6, 0},  {10, 54}, {14, 40}, {18, 772}, {22, 512},
        {30, 0},      {34, 0}, {38, 0},  {42, 0},  {46, 0},   {50, 0}};
    for (auto [at, v] : fields32)
        EXPECT_EQ(le32(file, at), v) << "offset " << at;
    EXPECT_EQ(le16(file, 26), 1u);
    EXPECT_EQ(le16(file, 28), 24u);
    EXPECT_EQ(Bytes(file.begin() + 54, file.end()), bits);
}

TEST(BmpWriter, EightBitBitmapsAreExpandedThroughTheirColourTable) {
    TempDir dir;
    unsigned char table[256 * 4];
    for (int i = 0; i < 256; ++i) {
        table[4 * i] = static_cast<unsigned char>(i);           // blue
        table[4 * i + 1] = static_cast<unsigned char>(255 - i); // green
        table[4 * i + 2] = static_cast<unsigned char>(i * 7);   // red
        table[4 * i + 3] = 0;
    }
    for (int w : {8, 5, 1}) {
        SCOPED_TRACE(w);
        const int h = 3;
        const int inRow = int(bmpRowBytes(w, 8));
        Bytes bits(std::size_t(inRow) * h, 0xEE);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                bits[std::size_t(y * inRow + x)] = static_cast<unsigned char>(y * 100 + x * 13);
        const std::string path = dir.file("g.bmp");
        ASSERT_EQ(writeBmp(q(path), bits.data(), w, h, 8, table), 0);
        const Bytes file = readBytes(path);
        const int outRow = int(bmpRowBytes(w, 24));
        ASSERT_EQ(file.size(), std::size_t(54 + outRow * h));
        EXPECT_EQ(le32(file, 2), file.size());
        EXPECT_EQ(le16(file, 28), 24u);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int index = (y * 100 + x * 13) & 0xFF;
                const std::size_t at = std::size_t(54 + y * outRow + 3 * x);
                EXPECT_EQ(file[at], table[4 * index]);
                EXPECT_EQ(file[at + 1], table[4 * index + 1]);
                EXPECT_EQ(file[at + 2], table[4 * index + 2]);
            }
            for (int pad = 3 * w; pad < outRow; ++pad)
                EXPECT_EQ(file[std::size_t(54 + y * outRow + pad)], 0);
        }
    }
}

TEST(BmpWriter, NothingIsWrittenWithoutAUsableBitmap) {
    TempDir dir;
    const Bytes bits(64, 1);
    const unsigned char table[1024] = {};
    struct Case {
        const char* name;
        const unsigned char* bits;
        int w, h, bpp;
        const unsigned char* table;
    };
    const Case cases[] = {
        {"no bitmap", nullptr, 4, 4, 24, nullptr},
        {"zero width", bits.data(), 0, 4, 24, nullptr},
        {"negative height", bits.data(), 4, -1, 24, nullptr},
        {"16 bits", bits.data(), 4, 4, 16, nullptr},
        {"8 bits without table", bits.data(), 4, 4, 8, nullptr},
        {"file over 4 GiB", bits.data(), 65536, 65536, 8, table},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(writeBmp(q(dir.file("n.bmp")), c.bits, c.w, c.h, c.bpp, c.table), 1) << c.name;
        EXPECT_TRUE(namesIn(dir.path()).empty()) << c.name;
    }
}

TEST(SafeSave, FailedSavesLeaveThePreviousFileIntact) {
    TempDir dir;
    ImageBuffer image;
    fillImage(image, 300, 200, randomPixels(300 * 200, 4));
    const Bytes bits = bitmap24(300, 200);
    const std::string fitsPath = dir.file("old.fit");
    const std::string bmpPath = dir.file("old.bmp");
    const Bytes oldFits(5760, 'F');
    const Bytes oldBmp(100, 'B');
    writeBytes(fitsPath, oldFits);
    writeBytes(bmpPath, oldBmp);
    ASSERT_EQ(::mkdir(dir.file("folder.fit").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir.file("folder.bmp").c_str(), 0755), 0);
    const auto before = namesIn(dir.path());
    {
        // A disk that fills up half way through the file.
        FileSizeLimit limit(20000);
        EXPECT_EQ(saveFits(q(fitsPath), image, 1), 1);
        EXPECT_EQ(writeBmp(q(bmpPath), bits.data(), 300, 200, 24), 1);
    }
    EXPECT_EQ(readBytes(fitsPath), oldFits);
    EXPECT_EQ(readBytes(bmpPath), oldBmp);

    // Targets that cannot be written at all.
    const std::string targets[] = {dir.file("no/such/folder/x.fit"), dir.file("folder.fit"),
                                   dir.file("folder.bmp"), dir.path() + "/"};
    for (const std::string& t : targets) {
        EXPECT_EQ(saveFits(q(t), image, 1), 1) << t;
        EXPECT_EQ(writeBmp(q(t), bits.data(), 300, 200, 24), 1) << t;
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder.fit")));
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("folder.fit")));
    EXPECT_EQ(namesIn(dir.path()), before);

    ImageBuffer empty;
    EXPECT_EQ(saveFits(q(dir.file("empty.fit")), empty, 1), 1);
    EXPECT_EQ(namesIn(dir.path()), before);
    EXPECT_EQ(pixelsOf(image), randomPixels(300 * 200, 4));
}

namespace {

// A folder under /tmp that everyone can enter, holding a copy of this test
// program and of the libraries it loads from the build tree, and a temporary
// folder everyone can write: what a run as another user needs, wherever the
// checkout sits (a private home or temporary folder nobody else can enter).
class RunnableByAnyone {
public:
    RunnableByAnyone() {
        namespace fs = std::filesystem;
        char pattern[] = "/tmp/zermic-run-XXXXXX";
        if (!::mkdtemp(pattern))
            return;
        root_ = pattern;
        const fs::path exe = fs::read_symlink("/proc/self/exe");
        const std::string buildTree = exe.parent_path().parent_path().string() + "/";
        std::error_code ec;
        fs::create_directory(root_ / "lib", ec);
        fs::create_directory(root_ / "tmp", ec);
        fs::copy_file(exe, program(), ec);
        std::ifstream maps("/proc/self/maps");
        for (std::string line; std::getline(maps, line);) {
            const auto slash = line.find('/');
            if (slash == std::string::npos)
                continue;
            const fs::path mapped = line.substr(slash);
            if (mapped.string().rfind(buildTree, 0) == 0 && mapped != exe)
                fs::copy_file(mapped, root_ / "lib" / mapped.filename(),
                              fs::copy_options::skip_existing, ec);
        }
        // A sanitizer build names a leak suppressions file in the checkout:
        // the copy's run reads its own.
        if (const char* lsan = std::getenv("LSAN_OPTIONS")) {
            lsanOptions_ = lsan;
            const std::string key = "suppressions=";
            if (const auto at = lsanOptions_.find(key); at != std::string::npos) {
                const auto from = at + key.size();
                const auto to = std::min(lsanOptions_.find(':', from), lsanOptions_.size());
                const fs::path copy = root_ / "lsan-suppressions";
                fs::copy_file(lsanOptions_.substr(from, to - from), copy, ec);
                lsanOptions_.replace(from, to - from, copy.string());
            }
        }
        for (const auto& e : fs::recursive_directory_iterator(root_, ec))
            fs::permissions(e.path(),
                            fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec,
                            ec);
        fs::permissions(root_,
                        fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec,
                        ec);
        fs::permissions(root_ / "tmp", fs::perms::all | fs::perms::sticky_bit, ec);
        ready_ = fs::exists(program()) && fs::exists(root_ / "tmp");
    }
    ~RunnableByAnyone() {
        std::error_code ec;
        if (!root_.empty())
            std::filesystem::remove_all(root_, ec);
    }
    bool ready() const { return ready_; }
    std::filesystem::path program() const { return root_ / "test"; }
    // env arguments that run the copy with its libraries and temporary folder.
    QStringList command() const {
        return {QStringLiteral("env"), QString::fromStdString("LSAN_OPTIONS=" + lsanOptions_),
                QString::fromStdString("LD_LIBRARY_PATH=" + (root_ / "lib").string()),
                QString::fromStdString("TMPDIR=" + (root_ / "tmp").string()),
                QString::fromStdString(program().string())};
    }

private:
    std::filesystem::path root_;
    std::string lsanOptions_;
    bool ready_ = false;
};

} // namespace

// The permission cases need an ordinary user: root writes everywhere. Under
// root the test runs itself again as nobody, from a copy that user can reach.
TEST(SafeSave, PermissionsOfFileAndFolderAsAnOrdinaryUser) {
    const char* self = "SafeSave.PermissionsOfFileAndFolderAsAnOrdinaryUser";
    if (::geteuid() == 0) {
        const RunnableByAnyone copy;
        ASSERT_TRUE(copy.ready());
        QString output;
        QStringList args;
        args << QStringLiteral("--reuid=nobody") << QStringLiteral("--regid=nogroup")
             << QStringLiteral("--clear-groups") << copy.command()
             << QStringLiteral("--gtest_filter=") + QString::fromLatin1(self);
        const int code = runProgram(QStringLiteral("setpriv"), args, &output);
        EXPECT_EQ(code, 0) << output.toStdString();
        EXPECT_TRUE(output.contains(QStringLiteral("[       OK ] ") + QString::fromLatin1(self)))
            << output.toStdString();
        return;
    }
    ImageBuffer image;
    fillImage(image, 2, 2, {1, 2, 3, 4});
    Bytes saved;
    {
        TempDir ref;
        ASSERT_EQ(saveFits(q(ref.file("a.fit")), image, 1), 0);
        saved = readBytes(ref.file("a.fit"));
    }
    // Folder and file modes (0 for no file), saveFits' result, and whether the
    // file then holds the new image (otherwise it is untouched).
    const struct {
        mode_t folder;
        mode_t file;
        int result;
        bool written;
    } cases[] = {
        {0755, 0644, 0, true},                       // replaced through a temporary file
        {0755, 0444, 1, false},                      // write-protected: refused, not replaced
        {0755, 0, 0, true},                          // a new file
        {0555, 0644, 0, true},                       // no temporary possible: rewritten in place
        {0555, 0444, 1, false}, {0555, 0, 1, false}, // no new name in a read-only folder
    };
    // Longer than the new file, so an in-place write must cut it.
    const Bytes old(8000, 'x');
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << c.folder << " " << c.file);
        TempDir dir;
        const std::string folder = dir.file("d");
        const std::string target = folder + "/a.fit";
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        if (c.file) {
            writeBytes(target, old);
            ASSERT_EQ(::chmod(target.c_str(), c.file), 0);
        }
        ASSERT_EQ(::chmod(folder.c_str(), c.folder), 0);
        const std::vector<std::string> before = namesIn(folder);
        EXPECT_EQ(saveFits(q(target), image, 1), c.result);
        if (c.written) {
            EXPECT_EQ(readBytes(target), saved);
        } else if (c.file) {
            EXPECT_EQ(readBytes(target), old);
        }
        if (c.file) {
            struct stat info {};
            ASSERT_EQ(::stat(target.c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, c.file);
        }
        if (c.folder == 0555) {
            EXPECT_EQ(namesIn(folder), before);
        }
    }
    // An in-place rewrite that fails midway says the old file is gone.
    TempDir dir;
    const std::string folder = dir.file("d");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    writeBytes(folder + "/a.fit", old);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    FileSizeLimit limit(2880);
    EXPECT_EQ(saveFits(q(folder + "/a.fit"), image, 1), 2);
}

TEST(SafeSave, WriteProtectedFileIsKeptEvenFromRoot) {
    TempDir dir;
    const std::string target = dir.file("a.fit");
    const Bytes old(10, 'x');
    writeBytes(target, old);
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    ImageBuffer image;
    fillImage(image, 2, 2, {1, 2, 3, 4});
    EXPECT_EQ(saveFits(q(target), image, 1), 1);
    EXPECT_EQ(writeBmp(q(target), bitmap24(2, 2).data(), 2, 2, 24), 1);
    EXPECT_EQ(readBytes(target), old);
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"a.fit"});
}

TEST(SafeSave, ReplacingKeepsPermissionsAndFollowsLinks) {
    TempDir dir;
    ImageBuffer image;
    fillImage(image, 2, 1, {7, 8});
    const std::string real = dir.file("real.fit");
    writeBytes(real, Bytes(3, 'o'));
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(::symlink("real.fit", dir.file("link.fit").c_str()), 0);

    ASSERT_EQ(saveFits(q(dir.file("link.fit")), image, 0), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.fit")));
    EXPECT_EQ(readBytes(real).size(), 5760u);
    struct stat info {};
    ASSERT_EQ(::stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    // A new file gets the permissions the user's umask allows.
    const mode_t mask = ::umask(022);
    ASSERT_EQ(saveFits(q(dir.file("new.fit")), image, 0), 0);
    ::umask(mask);
    ASSERT_EQ(::stat(dir.file("new.fit").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"link.fit", "new.fit", "real.fit"}));

    // A name near the file-system limit still leaves room for the temporary file.
    const std::string longName = std::string(250, 'n') + ".fit";
    EXPECT_EQ(saveFits(q(dir.file(longName)), image, 0), 0);
    EXPECT_EQ(readBytes(dir.file(longName)).size(), 5760u);
}

TEST(SafeSave, TemporaryFilesOfDeadSavesGoWithTheNextSaveInTheirFolder) {
    TempDir dir;
    ImageBuffer image;
    fillImage(image, 2, 2, {1, 2, 3, 4});
    // Two saves killed before their file took its name.
    for (const char* name : {"a.fit", "b.fit"})
        ASSERT_EQ(runInChild([&] {
                      call_probe::onFsync([](int) { ::_exit(7); });
                      return saveFits(q(dir.file(name)), image, 1);
                  }),
                  7);
    const std::vector<std::string> left = namesIn(dir.path());
    ASSERT_EQ(left.size(), 2u);
    // The first and a file of the user's have not been written for two minutes.
    writeBytes(dir.file(".user.fit.kept"), Bytes(1, 'u'));
    const timespec old[2] = {{std::time(nullptr) - 120, 0}, {std::time(nullptr) - 120, 0}};
    for (const std::string& name : {left[0], std::string(".user.fit.kept")})
        ASSERT_EQ(::utimensat(AT_FDCWD, dir.file(name).c_str(), old, 0), 0);

    EXPECT_EQ(saveFits(q(dir.file("c.fit")), image, 1), 0);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{left[1], ".user.fit.kept", "c.fit"}))
        << "a temporary file still being written is left alone";
}

TEST(SafeSave, TemporaryFileIsLockedUntilItHasItsName) {
    // Another process's sweep takes an unlocked temporary file for a dead
    // save's: at the last step of a save, whether it replaces or not, a
    // descriptor of its own must not get the lock.
    TempDir dir;
    ImageBuffer image;
    fillImage(image, 2, 2, {1, 2, 3, 4});
    std::vector<int> lockable; // -1: not opened
    call_probe::onRename([&](const char* from) {
        const int fd = ::open(from, O_RDONLY | O_CLOEXEC);
        lockable.push_back(fd < 0 ? -1 : ::flock(fd, LOCK_EX | LOCK_NB) == 0);
        if (fd >= 0)
            ::close(fd);
    });
    EXPECT_EQ(saveFits(q(dir.file("a.fit")), image, 1), 0);
    EXPECT_EQ(
        saveFits(q(dir.file("b.fit")), image, 1, std::nullopt, SafeFileWriter::Existing::Keep), 0);
    call_probe::onRename(nullptr);
    EXPECT_EQ(lockable, (std::vector<int>{0, 0}));
}

TEST(SaveMessages, NameTheFile) {
    EXPECT_EQ(imageSaveFailedMessage(QStringLiteral("/x/é.fit"), true),
              "Impossible d'enregistrer le fichier /x/é.fit. Le fichier précédent est resté "
              "intact.");
    EXPECT_EQ(imageSaveFailedMessage(QStringLiteral("/x/é.fit"), false),
              "Impossible d'enregistrer le fichier /x/é.fit.");
    EXPECT_FALSE(noImageToSaveMessage().isEmpty());
}
