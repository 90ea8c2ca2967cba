// The guide log as a file: nothing but a regular file is written and nothing
// waits on its path; a full disk never leaves half a line; a run's end puts
// the log on disk.
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
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One run in a log folder of its own, on the evening of 5 January 2026.
struct Log {
    Log() {
        SettingsStore::writeString(kGuideLogSection, "dossier", QString::fromStdString(dir.path()));
        std::tm evening{};
        evening.tm_year = 2026 - 1900;
        evening.tm_mday = 5;
        evening.tm_hour = 22;
        evening.tm_isdst = -1;
        clock.set(std::mktime(&evening));
        log.setClock(&clock);
        log.setFailureSink([this](const QString& text) { said.push_back(text); });
    }
    std::string path() const { return dir.file("Zermic_GuideLog_2026-01-05.txt"); }
    std::string contents() const {
        std::ifstream in(path(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool runReportsFailure() {
        log.runStarted(GuideRunInfo{});
        log.guideTicked(GuideTick{}, GuideParams{});
        log.runEnded();
        return said == std::vector<QString>{"Journal de suivi impossible à écrire : " +
                                            QString::fromStdString(path())};
    }

    TempDir dir;
    ManualClock clock;
    CGuideLog log;
    std::vector<QString> said;
};

} // namespace

TEST(GuideLogFile, OnlyARegularFileIsWrittenAndNothingWaitsOnThePath) {
    using Make = int (*)(const char* path);
    const Make pipeNobodyReads = [](const char* p) { return ::mkfifo(p, 0600); };
    const Make device = [](const char* p) { return ::symlink("/dev/null", p); };
    for (Make make : {pipeNobodyReads, device})
        // In a child: an open that waits for ever fails the case, not the run.
        EXPECT_EQ(runInChild([&] {
                      Log t;
                      return make(t.path().c_str()) == 0 && t.runReportsFailure() ? 0 : 1;
                  }),
                  0);
}

TEST(GuideLogFile, FullDiskLeavesOnlyWholeLinesAndARunEndsOnDisk) {
    Log t;
    std::vector<std::string> synced;
    call_probe::onFsync([&](int fd) { synced.push_back(call_probe::pathOf(fd)); });
    EXPECT_FALSE(t.runReportsFailure());
    EXPECT_EQ(std::count(synced.begin(), synced.end(), t.path()), 1);
    const std::string logged = t.contents();
    ASSERT_EQ(logged.back(), '\n');
    {
        // The disk fills up a few bytes into the next run's first lines.
        FileSizeLimit limit(logged.size() + 10);
        EXPECT_TRUE(t.runReportsFailure());
    }
    call_probe::onFsync(nullptr);
    EXPECT_EQ(t.contents(), logged);
}
