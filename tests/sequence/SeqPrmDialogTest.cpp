#include "CSeqPrmDialog.h"
#include "SettingsStore.h"

#include "common/ModalWatcher.h"
#include "common/TempDir.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

namespace {

const char* const section = "SeqPrm";
const QString absent = QStringLiteral("<absent>");

void later(std::function<void()> fn) {
    QTimer::singleShot(0, qApp, std::move(fn));
}

QLineEdit* edit(QWidget* w, int id) {
    return findControlAs<QLineEdit>(w, id);
}
QAbstractButton* button(QWidget* w, int id) {
    return findControlAs<QAbstractButton>(w, id);
}
void click(QWidget* w, int id) {
    QTest::mouseClick(button(w, id), Qt::LeftButton);
}
// Types a path into a file dialog's name field, as a user would.
void type(QFileDialog* fd, const QString& path) {
    auto* name = fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(path);
}
QString stored(const char* key) {
    return SettingsStore::getString(section, key, absent);
}

// Every test starts from an empty store of its own.
class SeqPrmDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int n = 0;
        SettingsStore::setRoot(QStringLiteral("VKL_Zermic_seqdlg%1").arg(++n),
                               QStringLiteral("Zermic"));
    }
    void TearDown() override {
        SettingsStore::setRoot(QStringLiteral("VKL_Zermic"), QStringLiteral("Zermic"));
    }

    // Shows the dialog and runs act on its window; file dialogs opened meanwhile
    // go to onFile, message boxes are answered and recorded.
    int show(std::function<void(QWidget*)> act, std::function<void(QFileDialog*)> onFile = {}) {
        ModalWatcher watcher([&](QWidget* w) {
            if (w->objectName() == "CSeqPrmDialog") {
                later([&, w] { act(w); });
                return true;
            }
            if (auto* fd = qobject_cast<QFileDialog*>(w)) {
                later([&, fd] {
                    if (onFile)
                        onFile(fd);
                    else
                        fd->reject();
                });
                return true;
            }
            return false;
        });
        const int result = dlg.doModal();
        messages.clear();
        for (const ModalWatcher::Seen& s : watcher.seen())
            if (s.className == "QMessageBox")
                messages.push_back(s.text);
        return result;
    }

    CSeqPrmDialog dlg;
    std::vector<QString> messages;
};

} // namespace

TEST_F(SeqPrmDialogTest, EmptyStoreGivesTheDefaultsBeforeTheFirstShowing) {
    EXPECT_EQ(dlg.chainingMode, 0);
    EXPECT_EQ(dlg.periodTenths, 1);
    EXPECT_EQ(dlg.readParamFile, 0);
    EXPECT_EQ(dlg.saveEachImage, 0);
    EXPECT_EQ(dlg.postProcess, 0);
    EXPECT_TRUE(dlg.paramFile.isEmpty());
    EXPECT_EQ(dlg.baseName, "cam");
    EXPECT_EQ(dlg.imageDirectory, CSeqPrmDialog::defaultImageDirectory());
}

TEST_F(SeqPrmDialogTest, EmptyStoreShowsTheDefaults) {
    QString title, base, dir, period, file;
    bool delay = false, periodic = true, anyCheck = true;
    EXPECT_EQ(show([&](QWidget* w) {
                  title = w->windowTitle();
                  base = edit(w, 1018)->text();
                  dir = edit(w, 1019)->text();
                  period = edit(w, 1013)->text();
                  file = edit(w, 1015)->text();
                  delay = button(w, 1010)->isChecked();
                  periodic = button(w, 1011)->isChecked();
                  anyCheck = button(w, 1014)->isChecked() || button(w, 1017)->isChecked() ||
                             button(w, 1021)->isChecked();
                  click(w, 2);
              }),
              2);
    EXPECT_EQ(title, QStringLiteral("Paramètres séquence"));
    EXPECT_EQ(base, "cam");
    EXPECT_EQ(dir, CSeqPrmDialog::defaultImageDirectory());
    EXPECT_TRUE(dir.endsWith('/'));
    EXPECT_TRUE(dir.startsWith(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation)));
    EXPECT_EQ(period, "1");
    EXPECT_TRUE(file.isEmpty());
    EXPECT_TRUE(delay);
    EXPECT_FALSE(periodic);
    EXPECT_FALSE(anyCheck);
    EXPECT_EQ(stored("basename"), absent) << "Cancel stores nothing";
    EXPECT_EQ(dlg.chainingMode, 0) << "the loaded values are now in force";
}

TEST_F(SeqPrmDialogTest, StoredValuesFillTheControlsAtEveryShowing) {
    SettingsStore::writeString(section, "prmFile", "/data/nuit.seq");
    SettingsStore::writeString(section, "basename", "m31_");
    SettingsStore::writeString(section, "imgpath", "/data/img/");
    SettingsStore::writeInt(section, "periode_ds", 25);
    SettingsStore::writeInt(section, "readPrmFile", 1);
    SettingsStore::writeInt(section, "saveImg", 1);
    SettingsStore::writeInt(section, "mode_delai", 1);
    SettingsStore::writeInt(section, "postTrt", 1);
    QStringList texts;
    std::vector<bool> checks;
    show([&](QWidget* w) {
        for (int id : {1015, 1018, 1019, 1013})
            texts << edit(w, id)->text();
        for (int id : {1010, 1011, 1014, 1017, 1021})
            checks.push_back(button(w, id)->isChecked());
        click(w, 2);
    });
    EXPECT_EQ(texts, (QStringList{"/data/nuit.seq", "m31_", "/data/img/", "25"}));
    EXPECT_EQ(checks, (std::vector<bool>{false, true, true, true, true}));

    // A value changed in the store between two showings is what the next one shows.
    SettingsStore::writeInt(section, "periode_ds", 40);
    QString period;
    show([&](QWidget* w) {
        period = edit(w, 1013)->text();
        click(w, 2);
    });
    EXPECT_EQ(period, "40");
    EXPECT_EQ(dlg.periodTenths, 40);
}

TEST_F(SeqPrmDialogTest, OkStoresEveryKeyAndAddsTheSeparatorOnlyWhenSaving) {
    struct Case {
        bool save;
        QString dir, storedDir;
    };
    const Case cases[] = {
        {false, "/data/img", "/data/img"},
        {true, "/data/img", "/data/img/"},
        {true, "/data/img/", "/data/img/"},
        {false, "", ""},
    };
    for (const Case& c : cases) {
        SetUp();
        EXPECT_EQ(show([&](QWidget* w) {
                      edit(w, 1015)->setText("/data/a.seq");
                      edit(w, 1018)->setText(QStringLiteral("étoile"));
                      edit(w, 1019)->setText(c.dir);
                      edit(w, 1013)->setText("7");
                      QTest::mouseClick(findControlAs<QRadioButton>(w, 1011), Qt::LeftButton);
                      qobject_cast<QCheckBox*>(button(w, 1014))->setChecked(true);
                      qobject_cast<QCheckBox*>(button(w, 1017))->setChecked(c.save);
                      qobject_cast<QCheckBox*>(button(w, 1021))->setChecked(true);
                      click(w, 1);
                  }),
                  1)
            << c.dir.toStdString();
        EXPECT_EQ(stored("imgpath"), c.storedDir);
        EXPECT_EQ(dlg.imageDirectory, c.storedDir) << "the member in force matches the store";
        EXPECT_EQ(stored("prmFile"), "/data/a.seq");
        EXPECT_EQ(stored("basename"), QStringLiteral("étoile"));
        EXPECT_EQ(stored("periode_ds"), "7");
        EXPECT_EQ(stored("readPrmFile"), "1");
        EXPECT_EQ(stored("saveImg"), c.save ? "1" : "0");
        EXPECT_EQ(stored("mode_delai"), "1");
        EXPECT_EQ(stored("postTrt"), "1");
        EXPECT_EQ(dlg.chainingMode, 1);
        EXPECT_EQ(dlg.periodTenths, 7);
        EXPECT_TRUE(messages.empty());
    }
}

TEST_F(SeqPrmDialogTest, PeriodOutsideItsRangeIsRefusedAndNothingStored) {
    struct Case {
        QString text;
        bool accepted;
        QString message;
    };
    const Case cases[] = {
        {"10000", true, {}},
        {"0", true, {}},
        {"10001", false, QStringLiteral("Entrez un entier compris entre 0 et 10000.")},
        {"-1", false, QStringLiteral("Entrez un entier compris entre 0 et 10000.")},
        {"1.5", false, QStringLiteral("Entrez un entier.")},
        {"", false, QStringLiteral("Entrez un entier.")},
    };
    for (const Case& c : cases) {
        SetUp();
        bool openAfterOk = false;
        QString focused;
        const int result = show([&](QWidget* w) {
            edit(w, 1018)->setText("changed");
            edit(w, 1013)->setText(c.text);
            click(w, 1);
            openAfterOk = w->isVisible();
            focused = w->focusWidget() ? w->focusWidget()->objectName() : QString();
            if (openAfterOk)
                click(w, 2);
        });
        const std::string label = c.text.toStdString();
        if (c.accepted) {
            EXPECT_EQ(result, 1) << label;
            EXPECT_EQ(stored("periode_ds"), c.text) << label;
            EXPECT_TRUE(messages.empty()) << label;
            continue;
        }
        EXPECT_EQ(result, 2) << label;
        EXPECT_TRUE(openAfterOk) << label;
        EXPECT_EQ(focused, "id1013") << label;
        ASSERT_EQ(messages.size(), 1u) << label;
        EXPECT_EQ(messages[0], c.message) << label;
        for (const char* key : {"prmFile", "basename", "imgpath", "periode_ds", "readPrmFile",
                                "saveImg", "mode_delai", "postTrt"})
            EXPECT_EQ(stored(key), absent) << label << " " << key;
        // Cancel after the refusal leaves the values loaded at opening in force,
        // not the half-taken ones.
        EXPECT_EQ(dlg.periodTenths, 1) << label;
        EXPECT_EQ(dlg.baseName, "cam") << label;
    }
}

TEST_F(SeqPrmDialogTest, CancelKeepsTheLoadedValues) {
    SettingsStore::writeInt(section, "periode_ds", 12);
    EXPECT_EQ(show([&](QWidget* w) {
                  edit(w, 1013)->setText("99");
                  edit(w, 1018)->setText("autre");
                  qobject_cast<QCheckBox*>(button(w, 1017))->setChecked(true);
                  QTest::keyClick(w, Qt::Key_Escape);
              }),
              2);
    EXPECT_EQ(dlg.periodTenths, 12);
    EXPECT_EQ(dlg.baseName, "cam");
    EXPECT_EQ(dlg.saveEachImage, 0);
    EXPECT_EQ(stored("periode_ds"), "12");
    EXPECT_EQ(stored("basename"), absent);
}

TEST_F(SeqPrmDialogTest, CancelledBrowseKeepsTheFieldAndRefillsTheOthers) {
    SettingsStore::writeString(section, "prmFile", "/data/nuit.seq");
    SettingsStore::writeString(section, "imgpath", "/data/img/");
    for (int browse : {1016, 1020}) {
        QString file, dir, base, period;
        bool readChecked = true;
        show([&](QWidget* w) {
            edit(w, 1018)->setText("edited");
            edit(w, 1013)->setText("55");
            qobject_cast<QCheckBox*>(button(w, 1014))->setChecked(true);
            click(w, browse); // the file dialog is cancelled
            file = edit(w, 1015)->text();
            dir = edit(w, 1019)->text();
            base = edit(w, 1018)->text();
            period = edit(w, 1013)->text();
            readChecked = button(w, 1014)->isChecked();
            click(w, 2);
        });
        EXPECT_EQ(file, "/data/nuit.seq") << browse;
        EXPECT_EQ(dir, "/data/img/") << browse;
        EXPECT_EQ(base, "cam") << browse << ": edits made since opening are replaced";
        EXPECT_EQ(period, "1") << browse;
        EXPECT_FALSE(readChecked) << browse;
        EXPECT_EQ(dlg.paramFile, "/data/nuit.seq");
        EXPECT_EQ(dlg.imageDirectory, "/data/img/");
    }
}

TEST_F(SeqPrmDialogTest, BrowsedPathsReplaceTheirMemberAndSurviveCancel) {
    TempDir tmp;
    const QString seq = QString::fromStdString(tmp.file("nuit.seq"));
    {
        QFile f(seq);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("2 1.0 2.0\n");
    }
    QDir(QString::fromStdString(tmp.path())).mkdir("images");
    const QString images = QString::fromStdString(tmp.file("images"));

    QString fileShown, dirShown, nameFilter, suffix;
    bool dirMode = false;
    show(
        [&](QWidget* w) {
            click(w, 1016);
            fileShown = edit(w, 1015)->text();
            click(w, 1020);
            dirShown = edit(w, 1019)->text();
            click(w, 2);
        },
        [&](QFileDialog* fd) {
            if (fd->fileMode() == QFileDialog::Directory) {
                dirMode = true;
                type(fd, images);
            } else {
                nameFilter = fd->nameFilters().join(";;");
                suffix = fd->defaultSuffix();
                type(fd, seq);
            }
            static_cast<QDialog*>(fd)->accept(); // as the dialog's own Open button
            if (fd->isVisible()) {
                ADD_FAILURE() << "the file dialog refused the path";
                fd->reject();
            }
        });
    EXPECT_EQ(fileShown, seq);
    EXPECT_EQ(dirShown, images);
    EXPECT_TRUE(dirMode) << "the directory button chooses a folder";
    EXPECT_EQ(nameFilter, "Fichier sequence (*.seq)");
    EXPECT_EQ(suffix, "seq");
    EXPECT_EQ(dlg.paramFile, seq) << "a browsed path stays in force after Cancel";
    EXPECT_EQ(dlg.imageDirectory, images);
    EXPECT_EQ(stored("prmFile"), absent);

    // Saving on: the chosen folder gets its separator when stored.
    show([&](QWidget* w) {
        edit(w, 1019)->setText(images);
        qobject_cast<QCheckBox*>(button(w, 1017))->setChecked(true);
        click(w, 1);
    });
    EXPECT_EQ(stored("imgpath"), images + "/");
}

TEST_F(SeqPrmDialogTest, EmptyImageFolderMeansTheDefaultNeverTheRoot) {
    const QString fallback = CSeqPrmDialog::defaultImageDirectory();
    struct Case {
        const char* name;
        QString storedDir; // in the store before the showing
        QString typed;     // typed over it; null: left as shown
        int button;
        QString inForce;
    };
    const Case cases[] = {
        {"typed empty, OK", "/data/img/", "", 1, fallback},
        {"typed blanks, OK", "/data/img/", "  ", 1, fallback},
        {"stored empty, OK", "", QString(), 1, fallback},
        {"stored empty, Cancel", "", QString(), 2, fallback},
    };
    for (const Case& c : cases) {
        SetUp();
        SettingsStore::writeString(section, "imgpath", c.storedDir);
        SettingsStore::writeInt(section, "saveImg", 1);
        QString shown;
        EXPECT_EQ(show([&](QWidget* w) {
                      shown = edit(w, 1019)->text();
                      if (!c.typed.isNull())
                          edit(w, 1019)->setText(c.typed);
                      click(w, c.button);
                  }),
                  c.button)
            << c.name;
        EXPECT_EQ(dlg.imageDirectory, c.inForce) << c.name;
        if (c.storedDir.isEmpty()) {
            EXPECT_EQ(shown, fallback) << c.name;
        }
        if (c.button == 1) {
            EXPECT_EQ(stored("imgpath"), c.inForce) << c.name;
        }
    }
}
