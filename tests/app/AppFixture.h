#pragma once

// Starts and ends the whole program in the test process, through the same
// application object that main uses.
#include "CInfoPanel.h"
#include "CMainFrame.h"
#include "CZermicApp.h"
#include "CZermicDoc.h"
#include "CZermicView.h"
#include "SerialPort.h"

#include "common/ModalWatcher.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

class AppFixture : public ::testing::Test {
protected:
    void TearDown() override {
        theApp.exitInstance();
        // Each test is one run of the program: the next starts with a camera
        // as constructed, no port open and no dark frame from this one.
        theApp.camera = CCamera();
    }

    bool start(const QStringList& args = {}) { return theApp.initInstance(args); }
    void restart() {
        theApp.exitInstance();
        ASSERT_TRUE(start());
    }

    CMainFrame& frame() { return *theApp.mainFrame(); }
    CZermicView& view() { return *theApp.view(); }
    CZermicDoc& doc() { return *theApp.document(); }
    QAction* action(int id) { return frame().commands().action(id); }

    QString infoText(int id) {
        return findControlAs<QLineEdit>(view().infoPanel()->window(), id)->text();
    }

    // Links COM<n> of the ports folder to a device path.
    static void linkPort(int n, const std::string& target) {
        const QString folder = QString::fromStdString(serialPortsFolder());
        QDir().mkpath(folder);
        const QString link = folder + QStringLiteral("/COM%1").arg(n);
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(QString::fromStdString(target), link));
    }

    // Runs fn once the current event handler has returned.
public:
    static void later(std::function<void()> fn) { QTimer::singleShot(0, qApp, std::move(fn)); }

    // Presses a dialog's button (OK is 1, Cancel 2).
    static void press(QWidget* dialog, int id) {
        QTest::mouseClick(findControlAs<QPushButton>(dialog, id), Qt::LeftButton);
    }
};
