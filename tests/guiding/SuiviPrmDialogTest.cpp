#include "SuiviPrmDialog.h"

#include "SettingsStore.h"
#include "common/ModalWatcher.h"

#include <QFile>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <map>

namespace {

void later(std::function<void()> fn) {
    QTimer::singleShot(0, qApp, std::move(fn));
}

QLineEdit* editOf(QWidget* w, int id) {
    return findControlAs<QLineEdit>(w, id);
}
QCheckBox* checkOf(QWidget* w, int id) {
    return findControlAs<QCheckBox>(w, id);
}

// The edits in reading order of their keys, with the key they hold.
struct EditKey {
    int id;
    const char* key;
};
constexpr EditKey kEdits[] = {{1046, "gain1"},   {1047, "gain2"},   {1049, "biais1"},
                              {1050, "biais2"},  {1051, "cadence"}, {1048, "rot"},
                              {1052, "capture"}, {1053, "mvtmax"},  {1061, "gt"}};
constexpr EditKey kChecks[] = {{1002, "Inv1"}, {1060, "Inv2"}, {1062, "Inv12"}};

// The SuiviPrm section as the file holds it.
std::map<QString, int> storedSuiviPrm() {
    QSettings file(SettingsStore::filePath(), QSettings::IniFormat);
    file.beginGroup("SuiviPrm");
    std::map<QString, int> out;
    for (const QString& key : file.childKeys())
        out[key] = file.value(key).toInt();
    return out;
}

QByteArray storeBytes() {
    QFile f(SettingsStore::filePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

class SuiviPrmDialogTest : public ::testing::Test {
protected:
    void SetUp() override { QFile::remove(SettingsStore::filePath()); }
    void TearDown() override { QFile::remove(SettingsStore::filePath()); }
};

} // namespace

TEST_F(SuiviPrmDialogTest, EmptyStoreShowsTheDefaultsAndOkWritesExactlyTheTwelve) {
    CSuiviPrmDialog dlg(nullptr);
    std::map<int, QString> shown;
    std::map<int, bool> checked;
    QString title;
    ModalWatcher watcher([&](QWidget* w) {
        later([&, w] {
            title = w->windowTitle();
            for (const EditKey& e : kEdits) {
                QLineEdit* edit = editOf(w, e.id);
                ASSERT_NE(edit, nullptr) << e.id;
                shown[e.id] = edit->text();
                EXPECT_TRUE(edit->alignment() & Qt::AlignRight) << e.id;
            }
            for (const EditKey& c : kChecks)
                checked[c.id] = checkOf(w, c.id)->isChecked();
            QTest::mouseClick(findControlAs<QPushButton>(w, 1), Qt::LeftButton);
        });
        return true;
    });
    EXPECT_EQ(dlg.doModal(), 1);
    EXPECT_EQ(title, QStringLiteral("Paramètres suivi"));
    const std::map<int, QString> defaults = {{1046, "100"}, {1047, "100"},  {1049, "0"},
                                             {1050, "0"},   {1051, "1000"}, {1048, "0"},
                                             {1052, "10"},  {1053, "20"},   {1061, "50"}};
    EXPECT_EQ(shown, defaults);
    for (const EditKey& c : kChecks)
        EXPECT_FALSE(checked[c.id]) << c.key;
    const std::map<QString, int> written = {{"gain1", 100},  {"gain2", 100},    {"Inv1", 0},
                                            {"Inv2", 0},     {"Inv12", 0},      {"biais1", 0},
                                            {"biais2", 0},   {"cadence", 1000}, {"rot", 0},
                                            {"capture", 10}, {"mvtmax", 20},    {"gt", 50}};
    EXPECT_EQ(storedSuiviPrm(), written);
}

TEST_F(SuiviPrmDialogTest, EveryControlReachesItsOwnKey) {
    // Distinct values in every control: a swapped control or key shows.
    CSuiviPrmDialog dlg(nullptr);
    {
        ModalWatcher watcher([&](QWidget* w) {
            later([w] {
                int v = 11;
                for (const EditKey& e : kEdits)
                    editOf(w, e.id)->setText(QString::number(v++));
                checkOf(w, 1060)->setChecked(true); // Inv2 only
                QTest::mouseClick(findControlAs<QPushButton>(w, 1), Qt::LeftButton);
            });
            return true;
        });
        ASSERT_EQ(dlg.doModal(), 1);
    }
    const std::map<QString, int> expected = {{"gain1", 11},   {"gain2", 12},   {"biais1", 13},
                                             {"biais2", 14},  {"cadence", 15}, {"rot", 16},
                                             {"capture", 17}, {"mvtmax", 18},  {"gt", 19},
                                             {"Inv1", 0},     {"Inv2", 1},     {"Inv12", 0}};
    EXPECT_EQ(storedSuiviPrm(), expected);
    const SuiviPrm& p = dlg.prm;
    EXPECT_EQ((std::vector<int>{p.gain1, p.gain2, p.biais1, p.biais2, p.cadence, p.rot, p.capture,
                                p.mvtmax, p.gt, p.inv1, p.inv2, p.inv12}),
              (std::vector<int>{11, 12, 13, 14, 15, 16, 17, 18, 19, 0, 1, 0}));

    // The next showing reads them back.
    std::map<int, QString> shown;
    ModalWatcher again([&](QWidget* w) {
        later([&, w] {
            for (const EditKey& e : kEdits)
                shown[e.id] = editOf(w, e.id)->text();
            EXPECT_TRUE(checkOf(w, 1060)->isChecked());
            EXPECT_FALSE(checkOf(w, 1002)->isChecked());
            QTest::keyClick(w, Qt::Key_Escape);
        });
        return true;
    });
    EXPECT_EQ(dlg.doModal(), 2);
    EXPECT_EQ(shown[1046], "11");
    EXPECT_EQ(shown[1061], "19");
}

TEST_F(SuiviPrmDialogTest, CancelWritesNothingAndKeepsWhatTheOpeningRead) {
    SettingsStore::writeInt("SuiviPrm", "gain1", 300);
    SettingsStore::writeInt("SuiviPrm", "cadence", 250);
    const QByteArray before = storeBytes();
    CSuiviPrmDialog dlg(nullptr);
    ModalWatcher watcher([&](QWidget* w) {
        later([w] {
            editOf(w, 1046)->setText("7");
            editOf(w, 1051)->setText("9");
            checkOf(w, 1062)->setChecked(true);
            QTest::mouseClick(findControlAs<QPushButton>(w, 2), Qt::LeftButton);
        });
        return true;
    });
    EXPECT_EQ(dlg.doModal(), 2);
    EXPECT_EQ(storeBytes(), before);
    EXPECT_EQ(dlg.prm.gain1, 300);
    EXPECT_EQ(dlg.prm.cadence, 250);
    EXPECT_EQ(dlg.prm.inv12, 0);
    EXPECT_EQ(dlg.prm.gt, 50);
}

TEST_F(SuiviPrmDialogTest, RefusedValueStopsAtTheFirstControlInExchangeOrder) {
    // Two emptied edits: the exchange stops at the one it reaches first, which
    // is not always the first in reading order (gain2 is exchanged late).
    const struct {
        int first, second;
    } pairs[] = {{1046, 1049}, {1050, 1047}, {1051, 1047}, {1048, 1052},
                 {1053, 1061}, {1049, 1050}, {1047, 1061}};
    for (const auto& p : pairs) {
        CSuiviPrmDialog dlg(nullptr);
        QString focused;
        bool stillOpen = false;
        ModalWatcher watcher([&](QWidget* w) {
            if (w->objectName() != "CSuiviPrmDialog")
                return false; // the watcher answers the message box
            later([&, w] {
                editOf(w, 1046)->setText("123");
                editOf(w, p.first)->clear();
                editOf(w, p.second)->clear();
                QTest::mouseClick(findControlAs<QPushButton>(w, 1), Qt::LeftButton);
                stillOpen = w->isVisible();
                focused = w->focusWidget() ? w->focusWidget()->objectName() : QString();
                QTest::mouseClick(findControlAs<QPushButton>(w, 2), Qt::LeftButton);
            });
            return true;
        });
        EXPECT_EQ(dlg.doModal(), 2);
        EXPECT_TRUE(stillOpen) << p.first;
        EXPECT_EQ(focused, controlName(p.first)) << p.first << " before " << p.second;
        ASSERT_EQ(watcher.seen().size(), 2u) << "the dialog and one message";
        EXPECT_EQ(watcher.seen()[1].text, QStringLiteral("Entrez un entier."));
        EXPECT_FALSE(QFile::exists(SettingsStore::filePath())) << "nothing written";
        EXPECT_EQ(dlg.prm.gain1, 100) << "a refused OK then Cancel keeps the opening values";
    }
}

TEST_F(SuiviPrmDialogTest, EditsTakeDigitsOnly) {
    CSuiviPrmDialog dlg(nullptr);
    ModalWatcher watcher([&](QWidget* w) {
        later([w] {
            for (const EditKey& e : kEdits) {
                QLineEdit* edit = editOf(w, e.id);
                edit->clear();
                QTest::keyClicks(edit, "-4x2 .5");
            }
            QTest::mouseClick(findControlAs<QPushButton>(w, 1), Qt::LeftButton);
        });
        return true;
    });
    ASSERT_EQ(dlg.doModal(), 1);
    for (const EditKey& e : kEdits)
        EXPECT_EQ(storedSuiviPrm()[e.key], 425) << e.key;
}
