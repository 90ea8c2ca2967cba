// Every test gets its own settings and data folders (XDG_CONFIG_HOME,
// XDG_DATA_HOME) and the process an offscreen Qt application, so tests never
// see the user's settings, files or screen, nor what an earlier test of the
// same process left there. A modal
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

// Settings, and user data such as guide logs.
struct UserFolders {
    TempDir config;
    TempDir data;
};

void useFolders(const UserFolders& f) {
    ::setenv("XDG_CONFIG_HOME", f.config.path().c_str(), 1);
    ::setenv("XDG_DATA_HOME", f.data.path().c_str(), 1);
}

// Suite set-ups (simulators started once per suite) use the process's folder;
// each test runs in a fresh one, as it does when ctest runs it alone.
class FreshSettingsPerTest : public ::testing::EmptyTestEventListener {
public:
    explicit FreshSettingsPerTest(const UserFolders& processFolders) : process(processFolders) {}
    void OnTestStart(const ::testing::TestInfo&) override {
        folders = std::make_unique<UserFolders>();
        useFolders(*folders);
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        useFolders(process);
        folders.reset();
    }

private:
    const UserFolders& process;
    std::unique_ptr<UserFolders> folders;
};

} // namespace

int runZermicTests(int argc, char** argv) {
    UserFolders folders;
    useFolders(folders);
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleMock(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshSettingsPerTest(folders));
    QApplication app(argc, argv);
    UnexpectedModalGuard guard;
    return RUN_ALL_TESTS();
}
