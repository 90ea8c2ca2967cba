// Windows as the desktop shows them, read back from the X server: the toolkit
// may change a title on its way there, and a window manager frames windows.
#include "AppFixture.h"
#include "CommandIds.h"
#include "GuideGraphPanel.h"
#include "StatsPanel.h"
#include "SuiviPanel.h"
#include "VisuPanel.h"

#include "common/PtyPair.h"
#include "common/TestRunner.h"
#include "common/VirtualDisplay.h"

#include <QMessageBox>
#include <QProcess>

#include <cstring>
#include <map>

namespace {

// The name the window manager reads from the window.
std::string desktopTitle(QWidget* w) {
    EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
    QProcess p;
    p.start(QStringLiteral("xdotool"), {"getwindowname", QString::number(w->winId())});
    EXPECT_TRUE(p.waitForFinished(10000));
    return p.readAllStandardOutput().trimmed().toStdString();
}

} // namespace

TEST_F(AppFixture, EveryWindowShowsExactlyItsOwnTitle) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    PtyPair pty;
    linkPort(2, pty.slavePath());
    ASSERT_TRUE(start());
    frame().commands().send(cmd::ShowGuiding);
    frame().commands().send(cmd::ShowGuideGraph);

    std::map<std::string, std::string> shown;
    const std::pair<QWidget*, std::string> windows[] = {
        {&frame(), "CMainFrame"},
        {view().visuPanel()->window(), "CVisuPanel"},
        {view().infoPanel()->window(), "CInfoPanel"},
        {view().statsPanel()->window(), "CStatsPanel"},
        {view().guiding().panel()->window(), "CSuiviPanel"},
        {view().guiding().graphPanel()->window(), "CGuideGraphPanel"},
    };
    for (const auto& [w, name] : windows)
        shown[name] = desktopTitle(w);

    // The dialogs, and a box of the camera library: the size check of the
    // camera dialog refuses a width larger than the sensor.
    ModalWatcher watcher([&](QWidget* w) {
        later([&, w] {
            auto* box = qobject_cast<QMessageBox*>(w);
            shown[box ? "QMessageBox" : w->objectName().toStdString()] = desktopTitle(w);
            if (box) {
                box->defaultButton()->click();
                return;
            }
            if (w->objectName() == "CAcqPrmDlg") {
                findControlAs<QLineEdit>(w, 1009)->setText("5000");
                press(w, 1);
            }
            press(w, findControl(w, 2) ? 2 : 1);
        });
        return true;
    });
    for (int id : {cmd::CameraParams, cmd::SequenceParams, cmd::GuidingParams, cmd::AppAbout,
                   cmd::SerialPortDialog})
        action(id)->trigger();

    const std::map<std::string, std::string> expected = {
        {"CMainFrame", "Sans titre - Zermic"},
        {"CVisuPanel", "Visu"},
        {"CInfoPanel", "Caméra"},
        {"CStatsPanel", "Statistiques"},
        {"CSuiviPanel", "Suivi"},
        {"CGuideGraphPanel", "Graphe suivi"},
        {"CAcqPrmDlg", "Paramètres d'acquisition Version 3.1.07 USB"},
        {"QMessageBox", "Kovrel"},
        {"CSeqPrmDialog", "Paramètres séquence"},
        {"CSuiviPrmDialog", "Paramètres suivi"},
        {"CAboutDialog", "A propos de Zermic"},
        {"CSerialPortDlg", "Port série"},
    };
    EXPECT_EQ(shown, expected);
}

// Framed by the window manager, the main window and a panel come back exactly
// where the user left them, start after start.
TEST_F(AppFixture, WindowsComeBackWhereLeftOnTheDesktop) {
    auto panel = [this] { return view().visuPanel()->window(); };
    auto placed = [&](QPoint main, QPoint side) {
        return QTest::qWaitFor([&] { return frame().pos() == main && panel()->pos() == side; },
                               10000);
    };
    ASSERT_TRUE(start());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame()));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel()));
    frame().move(120, 90);
    panel()->move(700, 200);
    ASSERT_TRUE(placed(QPoint(120, 90), QPoint(700, 200)));
    const QRect main = frame().geometry(), side = panel()->geometry();
    ASSERT_NE(main.topLeft(), frame().pos()) << "no frame around the window";
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        restart();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame()));
        EXPECT_TRUE(placed(QPoint(120, 90), QPoint(700, 200)));
        EXPECT_EQ(frame().geometry(), main);
        EXPECT_EQ(panel()->geometry(), side);
    }
}

int main(int argc, char** argv) {
    // Listing the tests needs no display.
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing |= std::strcmp(argv[i], "--gtest_list_tests") == 0;
    if (listing)
        return runZermicTests(argc, argv);
    VirtualDisplay display;
    if (display.name().empty() || !display.managed()) {
        std::fprintf(stderr, "no virtual desktop: Xvfb or openbox did not start\n");
        return 1;
    }
    return runZermicTests(argc, argv);
}
