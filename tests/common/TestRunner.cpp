// Every test gets its own settings folder (XDG_CONFIG_HOME) and the process an
// offscreen Qt application, so tests never see the user's settings or screen,
// nor what an earlier test of the same process left in the store. A modal
// window that no test expects fails that test instead of hanging the run.
#include "common/TestRunner.h"

#include "common/ModalWatcher.h"
#include "common/TempDir.h"

#include <QApplication>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

void useConfigFolder(const TempDir& dir) {
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
}

// Suite set-ups (simulators started once per suite) use the process's folder;
// each test runs in a fresh one, as it does when ctest runs it alone.
class FreshSettingsPerTest : public ::testing::EmptyTestEventListener {
public:
    explicit FreshSettingsPerTest(const TempDir& processFolder) : process(processFolder) {}
    void OnTestStart(const ::testing::TestInfo&) override {
        folder = std::make_unique<TempDir>();
        useConfigFolder(*folder);
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        useConfigFolder(process);
        folder.reset();
    }

private:
    const TempDir& process;
    std::unique_ptr<TempDir> folder;
};

} // namespace

int runZermicTests(int argc, char** argv) {
    TempDir config;
    useConfigFolder(config);
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleMock(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshSettingsPerTest(config));
    QApplication app(argc, argv);
    UnexpectedModalGuard guard;
    return RUN_ALL_TESTS();
}
