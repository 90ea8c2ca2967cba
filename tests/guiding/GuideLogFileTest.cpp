// The guide log as a file: only a regular file is written and nothing waits
// on its path; a full disk never leaves half a line; a run's end puts the log
// on disk.
#include "Clock.h"
#include "GuideLog.h"
#include "SettingsStore.h"

#include "common/CallProbe.h"
#include "common/FileSizeLimit.h"
#include "common/InChild.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The evening of 5 January 2026, local time.
std::time_t evening() {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mday = 5;
    t.tm_hour = 22;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

struct Log {
    Log() {
        SettingsStore::writeString(kGuideLogSection, "dossier", QString::fromStdString(dir.path()));
        log.setClock(&clock);
        log.setFailureSink([this](const QString& text) { said.push_back(text); });
    }
    std::string path() const { return dir.file("Zermic_GuideLog_2026-01-05.txt"); }
    void run() {
        log.runStarted(GuideRunInfo{});
        log.guideTicked(GuideTick{}, GuideParams{});
        log.runEnded();
    }
    bool saidOnce() const {
        return said == std::vector<QString>{"Journal de suivi impossible à écrire : " +
                                            QString::fromStdString(path())};
    }

    TempDir dir;
    ManualClock clock{evening()};
    CGuideLog log;
    std::vector<QString> said;
};

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(GuideLogFile, OnlyARegularFileIsWrittenAndNothingWaitsOnThePath) {
    const struct {
        const char* name;
        int (*make)(const char* path);
    } cases[] = {
        {"pipe nobody reads", [](const char* p) { return ::mkfifo(p, 0600); }},
        {"link to a device", [](const char* p) { return ::symlink("/dev/null", p); }},
        {"folder", [](const char* p) { return ::mkdir(p, 0755); }},
    };
    for (const auto& c : cases) {
        // In a child: an open that waits for ever fails the case, not the run.
        const std::optional<int> result = runInChild([&] {
            Log t;
            if (c.make(t.path().c_str()) != 0)
                return 2;
            t.run();
            return t.saidOnce() ? 0 : 1;
        });
        EXPECT_EQ(result, 0) << c.name;
    }
}

TEST(GuideLogFile, FullDiskLeavesOnlyWholeLinesAndARunEndsOnDisk) {
    Log t;
    std::vector<std::string> synced;
    call_probe::onFsync([&](int fd) { synced.push_back(call_probe::pathOf(fd)); });
    t.run();
    EXPECT_EQ(std::count(synced.begin(), synced.end(), t.path()), 1);
    const std::string logged = contents(t.path());
    ASSERT_FALSE(logged.empty());
    ASSERT_EQ(logged.back(), '\n');
    {
        // The disk fills up a few bytes into the next run's first lines.
        FileSizeLimit limit(logged.size() + 10);
        t.run();
    }
    call_probe::onFsync(nullptr);
    EXPECT_EQ(contents(t.path()), logged);
    EXPECT_TRUE(t.saidOnce());
}
