// The first-start flag belongs to the program run, so this file is its own
// test program: nothing else may start guiding before it.
#include "SettingsStore.h"
#include "SuiviController.h"
#include "Toolkit.h"
#include "common/ModalWatcher.h"

#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

TEST(FirstStart, OnlyTheFirstStartOfAProgramRunShowsTheDialog) {
    QFile::remove(SettingsStore::filePath());
    QWidget view;
    CSuiviController first;
    first.createPanels(&view, nullptr, [](int) {});
    ModalWatcher watcher([](QWidget* w) {
        QTimer::singleShot(0, qApp, [w] {
            findControlAs<QLineEdit>(w, 1051)->setText("250");
            QTest::mouseClick(findControlAs<QPushButton>(w, 1), Qt::LeftButton);
        });
        return true;
    });
    first.prepareStart();
    ASSERT_EQ(watcher.seen().size(), 1u);
    EXPECT_EQ(watcher.seen()[0].className, "CSuiviPrmDialog");
    EXPECT_DOUBLE_EQ(first.cadenceSeconds(), 0.25);

    // Later starts reload the dialog object's values without showing it and
    // without reading the store again.
    SettingsStore::writeInt("SuiviPrm", "cadence", 400);
    first.prepareStart();
    EXPECT_EQ(watcher.seen().size(), 1u);
    EXPECT_DOUBLE_EQ(first.cadenceSeconds(), 0.25);

    CSuiviController second;
    second.createPanels(&view, nullptr, [](int) {});
    second.prepareStart();
    EXPECT_EQ(watcher.seen().size(), 1u) << "the flag is the program's, not the controller's";
}
