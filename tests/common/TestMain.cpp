// Every test process gets its own settings and data folders (XDG_CONFIG_HOME,
// XDG_DATA_HOME) and an offscreen Qt application, so tests never see the
// user's settings, files or screen.
#include "common/TempDir.h"

#include <QApplication>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    TempDir config;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    // Guide logs and other user data stay out of the user's folders too.
    TempDir data;
    ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleMock(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
