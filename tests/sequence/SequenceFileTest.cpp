#include "SequenceFile.h"

#include "common/InChild.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <fstream>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

QString writeFile(const TempDir& dir, const std::string& name, const std::string& text) {
    std::ofstream(dir.file(name), std::ios::binary) << text;
    return QString::fromStdString(dir.file(name));
}

// Up to `reads` exposures, nullopt for each read that gave none.
std::vector<std::optional<float>> exposures(SequenceFile& f, int reads) {
    std::vector<std::optional<float>> out;
    for (int i = 0; i < reads; ++i) {
        float s = -1;
        out.push_back(f.nextExposure(s) ? std::optional<float>(s) : std::nullopt);
    }
    return out;
}

} // namespace

TEST(SequenceFile, ReadsTheCountThenOneExposurePerImage) {
    using E = std::vector<std::optional<float>>;
    struct Case {
        const char* name;
        std::string text;
        std::optional<int> count;
        E exposures;
    };
    const auto none = std::nullopt;
    const Case cases[] = {
        {"spaces", "3 0.5 1 2.25", 3, {0.5f, 1.0f, 2.25f, none}},
        {"tabs and line ends", "2\r\n\t0.1\n\n3e0 ", 2, {0.1f, 3.0f, none}},
        {"text after the exposures is not read", "1 0.5 pas lu", 1, {0.5f, none}},
        {"runs out early", "4 1.5", 4, {1.5f, none, none}},
        {"not a number stops the reading", "3 1 abc 2", 3, {1.0f, none, none}},
        {"negative exposure", "3 1 -2 3", 3, {1.0f, none, none}},
        {"exposure above the camera's longest", "2 3601 1", 2, {none, none}},
        {"longest exposure", "1 3600.99", 1, {3600.99f}},
        {"zero and negative counts are read as they are", "0 1", 0, {1.0f}},
        {"negative count", "-5", -5, {none}},
        {"count not a number", "x 1 2", none, {none}},
        {"empty file", "", none, {none}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SequenceFile f;
        ASSERT_TRUE(f.open(writeFile(dir, "a.seq", c.text))) << c.name;
        int n = 12345;
        const bool gotCount = f.readCount(n);
        EXPECT_EQ(gotCount, c.count.has_value()) << c.name;
        if (c.count)
            EXPECT_EQ(n, *c.count) << c.name;
        else
            EXPECT_EQ(n, 12345) << c.name << ": the count is left alone";
        EXPECT_EQ(exposures(f, int(c.exposures.size())), c.exposures) << c.name;
    }
}

TEST(SequenceFile, OpenFailsOnMissingFoldersAndUnreadableFiles) {
    TempDir dir;
    SequenceFile f;
    EXPECT_FALSE(f.open(QString::fromStdString(dir.file("absent.seq"))));
    EXPECT_FALSE(f.open(QString::fromStdString(dir.path()))) << "a folder is not a sequence file";
    EXPECT_FALSE(f.open(QString()));
    EXPECT_FALSE(f.isOpen());
}

TEST(SequenceFile, ReopeningStartsAgainAndAFailedOpenClosesTheOldFile) {
    TempDir dir;
    const QString path = writeFile(dir, "b.seq", "2 4 5");
    SequenceFile f;
    int n = 0;
    float s = 0;
    ASSERT_TRUE(f.open(path));
    ASSERT_TRUE(f.readCount(n));
    ASSERT_TRUE(f.nextExposure(s));
    ASSERT_TRUE(f.nextExposure(s));
    EXPECT_FALSE(f.nextExposure(s));
    ASSERT_TRUE(f.open(path)) << "an exhausted stream opens again";
    ASSERT_TRUE(f.readCount(n));
    EXPECT_EQ(n, 2);
    ASSERT_TRUE(f.nextExposure(s));
    EXPECT_EQ(s, 4.0f);
    EXPECT_FALSE(f.open(QString::fromStdString(dir.file("gone.seq"))));
    EXPECT_FALSE(f.isOpen());
}

TEST(SequenceFile, DecimalPointWhateverTheLocale) {
    TempDir dir;
    const QString path = writeFile(dir, "c.seq", "1 2.5");
    const std::locale previous = std::locale::global(std::locale::classic());
    // A comma-decimal global locale, when the system has one, must not change the reading.
    try {
        std::locale::global(std::locale("fr_FR.UTF-8"));
    } catch (const std::runtime_error&) {
    }
    SequenceFile f;
    int n = 0;
    float s = 0;
    ASSERT_TRUE(f.open(path));
    EXPECT_TRUE(f.readCount(n));
    EXPECT_TRUE(f.nextExposure(s));
    EXPECT_EQ(s, 2.5f);
    std::locale::global(previous);
}

TEST(SequenceFile, PipesAndDevicesCannotBeOpenedAndNothingHangs) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("pipe.seq").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", dir.file("zero.seq").c_str()), 0);
    for (const char* name : {"pipe.seq", "zero.seq"}) {
        const QString path = QString::fromStdString(dir.file(name));
        const std::optional<int> r = runInChild([&] {
            SequenceFile f;
            return f.open(path) ? 1 : 0;
        });
        ASSERT_TRUE(r.has_value()) << name << ": the open hung";
        EXPECT_EQ(*r, 0) << name;
    }
}

TEST(SequenceFile, LongFilesReadAcrossTheBuffer) {
    TempDir dir;
    std::string text = "3000";
    for (int i = 0; i < 3000; ++i)
        text += i % 2 ? " 0.25" : "\n1.5";
    SequenceFile f;
    ASSERT_TRUE(f.open(writeFile(dir, "long.seq", text)));
    int n = 0;
    ASSERT_TRUE(f.readCount(n));
    int read = 0;
    float s = 0;
    for (; f.nextExposure(s); ++read)
        ASSERT_EQ(s, read % 2 ? 0.25f : 1.5f) << read;
    EXPECT_EQ(read, 3000);
}
