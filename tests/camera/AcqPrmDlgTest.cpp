#include "AcqPrmDlg.h"
#include "CameraFixture.h"

#include "SettingsStore.h"
#include "Toolkit.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <map>

namespace {

using Script = std::function<void(QWidget*)>;

QLineEdit* edit(QWidget* w, int id) {
    auto* e = findControlAs<QLineEdit>(w, id);
    EXPECT_NE(e, nullptr) << id;
    return e;
}
QString text(QWidget* w, int id) {
    return edit(w, id)->text();
}
void type(QWidget* w, int id, const QString& t) {
    edit(w, id)->setText(t);
}
void type(QWidget* w, int id, int v) {
    type(w, id, QString::number(v));
}
void click(QWidget* w, int id) {
    auto* b = findControlAs<QAbstractButton>(w, id);
    ASSERT_NE(b, nullptr) << id;
    b->click();
}
bool checked(QWidget* w, int id) {
    return findControlAs<QCheckBox>(w, id)->isChecked();
}

// Shows the dialog for `record` and runs the script on its window once it is up;
// the script ends by pressing OK or Cancel. The watcher records every box.
struct DialogRun {
    std::vector<ModalWatcher::Seen> seen;
    int result = 0;
};
DialogRun runDialog(AcqPrm& record, const Script& script, QWidget* parent = nullptr) {
    DialogRun run;
    ModalWatcher watcher([&](QWidget* w) {
        if (w->objectName() != QLatin1String("CAcqPrmDlg"))
            return false;
        // Run after the watcher's tick so that boxes the script opens are seen too.
        QTimer::singleShot(0, w, [w, &script] { script(w); });
        return true;
    });
    CAcqPrmDlg dlg(parent, record, 1280, 1024);
    run.result = dlg.doModal();
    run.seen = watcher.seen();
    return run;
}

// Texts of the message boxes among the windows seen.
std::vector<QString> boxTexts(const DialogRun& r) {
    std::vector<QString> out;
    for (const auto& s : r.seen)
        if (s.className == QLatin1String("QMessageBox"))
            out.push_back(s.text);
    return out;
}

const char* const section = "AcqPrm";

class AcqPrmDlgTest : public ::testing::Test {
protected:
    void SetUp() override { QFile::remove(SettingsStore::filePath()); }
    AcqPrm record;
};

} // namespace

TEST_F(AcqPrmDlgTest, EmptyStoreShowsTheDefaultsAndCancelWritesNothing) {
    std::map<int, QString> texts;
    std::map<int, bool> checks;
    QString title;
    bool mixText = false;
    const auto r = runDialog(record, [&](QWidget* w) {
        title = w->windowTitle();
        for (int id : {1003, 1005, 1007, 1009, 1011, 1013, 1015, 1037, 1039, 1041, 1042, 1043, 1044,
                       1045, 1046})
            texts[id] = text(w, id);
        for (int id : {1016, 1017, 1024, 1025})
            checks[id] = checked(w, id);
        for (QLabel* l : w->findChildren<QLabel*>())
            mixText |= l->text() == QStringLiteral("Cyan + Yellow = Vert           Cyan + "
                                                   "Magenta = Bleu Magenta + Yellow = Rouge");
        click(w, 2);
    });
    EXPECT_EQ(r.result, 2);
    EXPECT_EQ(title, QStringLiteral("Paramètres d'acquisition Version 3.1.07 USB"));
    EXPECT_TRUE(mixText);
    const std::map<int, QString> expected = {
        {1003, "1"},  {1005, "1"},  {1007, "0"},  {1009, "1280"}, {1011, "1024"},
        {1013, "0"},  {1015, "0"},  {1037, "0"},  {1039, "2"},    {1041, "10"},
        {1042, "90"}, {1043, "14"}, {1044, "14"}, {1045, "14"},   {1046, "14"},
    };
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(checks,
              (std::map<int, bool>{{1016, false}, {1017, false}, {1024, false}, {1025, true}}));
    EXPECT_FALSE(QFile::exists(SettingsStore::filePath()));
    EXPECT_EQ(record.prm2, 2);
    EXPECT_EQ(record.vitv, 5);
    EXPECT_EQ(record.vitp, 2);
}

TEST_F(AcqPrmDlgTest, PortShownIsTheOneInitOpensAndOkKeepsIt) {
    // Stored port (-1: none), shown text, stored after OK.
    const struct {
        int stored;
        const char* shown;
        int kept;
    } cases[] = {{-1, "2", 2}, {0, "0", 0}, {7, "7", 7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        QFile::remove(SettingsStore::filePath());
        if (c.stored >= 0)
            SettingsStore::writeInt(section, "prm2", c.stored);
        AcqPrm record;
        QString shown;
        const auto r = runDialog(record, [&](QWidget* w) {
            shown = text(w, 1039);
            click(w, 1);
        });
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(SettingsStore::getInt(section, "prm2", -1), c.kept);
    }
}

TEST_F(AcqPrmDlgTest, PresetsFillTheControls) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> typed; // before the click
        int button;
        // binning, pause_s, pause_cs, width, height, x0, y0
        std::array<int, 7> shown;
    };
    const Case cases[] = {
        {"centre at binning 1", {}, 1032, {1, 1, 0, 640, 512, 320, 256}},
        {"centre at binning 2", {{1003, 2}}, 1032, {2, 1, 0, 320, 256, 160, 128}},
        {"centre at binning 4", {{1003, 4}}, 1032, {4, 1, 0, 160, 128, 80, 64}},
        {"lower right", {}, 1038, {1, 1, 0, 640, 512, 640, 512}},
        {"upper right", {}, 1040, {1, 1, 0, 640, 512, 640, 0}},
        {"lower left at binning 2", {{1003, 2}}, 1036, {2, 1, 0, 320, 256, 0, 256}},
        {"upper left", {{1013, 9}}, 1034, {1, 1, 0, 640, 512, 0, 0}},
        {"2x2", {{1009, 20}}, 1029, {2, 1, 0, 640, 512, 0, 0}},
        {"1/4", {}, 1031, {4, 1, 0, 320, 256, 0, 0}},
        {"1/1 keeps a typed exposure", {{1003, 4}, {1005, 7}}, 1028, {1, 7, 0, 1280, 1024, 0, 0}},
        {"FULL at typed binning 3", {{1003, 3}, {1013, 5}}, 1030, {3, 1, 0, 426, 341, 0, 0}},
        {"0.1s reverts unconfirmed edits",
         {{1009, 100}, {1005, 7}},
         1019,
         {1, 0, 10, 1280, 1024, 0, 0}},
        {"1s", {}, 1020, {1, 1, 0, 1280, 1024, 0, 0}},
        {"10s", {}, 1021, {1, 10, 0, 1280, 1024, 0, 0}},
        {"1mn", {{1007, 50}}, 1022, {1, 60, 0, 1280, 1024, 0, 0}},
        {"2mn", {}, 1023, {1, 120, 0, 1280, 1024, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::array<int, 7> shown{};
        const auto r = runDialog(record, [&](QWidget* w) {
            for (auto [id, v] : c.typed)
                type(w, id, v);
            click(w, c.button);
            int i = 0;
            for (int id : {1003, 1005, 1007, 1009, 1011, 1013, 1015})
                shown[i++] = text(w, id).toInt();
            click(w, 2);
        });
        EXPECT_EQ(shown, c.shown);
        EXPECT_TRUE(boxTexts(r).empty());
        EXPECT_EQ(record.img_w, 1280) << "Cancel leaves the loaded values";
    }
}

TEST_F(AcqPrmDlgTest, OutOfRangeEntriesKeepTheDialogOpen) {
    struct Case {
        int id;
        int value;
        const char* message;
    };
    const Case cases[] = {
        {1003, 5, "Entrez un entier compris entre 1 et 4."},
        {1003, 0, "Entrez un entier compris entre 1 et 4."},
        {1005, 3601, "Entrez un entier compris entre 0 et 3600."},
        {1007, 100, "Entrez un entier compris entre 0 et 99."},
        {1009, 0, "Entrez un entier compris entre 1 et 4096."},
        {1011, 4097, "Entrez un entier compris entre 1 et 4096."},
        {1013, 4097, "Entrez un entier compris entre 0 et 4096."},
        {1015, 4097, "Entrez un entier compris entre 0 et 4096."},
        {1037, 64, "Entrez un entier compris entre 0 et 63."},
        {1041, 32, "Entrez un entier compris entre 0 et 31."},
        {1043, 32, "Entrez un entier compris entre 0 et 31."},
        {1044, 32, "Entrez un entier compris entre 0 et 31."},
        {1045, 32, "Entrez un entier compris entre 0 et 31."},
        {1046, 32, "Entrez un entier compris entre 0 et 31."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        bool stayedOpen = false;
        const auto r = runDialog(record, [&](QWidget* w) {
            type(w, 1005, 42); // a valid change that must not be written
            type(w, c.id, c.value);
            click(w, 1);
            stayedOpen = w->isVisible();
            click(w, 2);
        });
        EXPECT_TRUE(stayedOpen);
        EXPECT_EQ(r.result, 2);
        EXPECT_EQ(boxTexts(r), std::vector<QString>{QString::fromUtf8(c.message)});
        ASSERT_GE(r.seen.size(), 2u);
        EXPECT_EQ(r.seen[1].title, QStringLiteral("Kovrel"));
        EXPECT_FALSE(QFile::exists(SettingsStore::filePath()));
        EXPECT_EQ(record.pause_s, 1);
    }
}

TEST_F(AcqPrmDlgTest, WindowMustFitTheBinnedSensor) {
    struct Case {
        std::vector<std::pair<int, int>> typed;
        const char* message; // null: accepted
    };
    const Case cases[] = {
        {{{1003, 2}, {1009, 700}}, "Taille non valide"},
        {{{1003, 2}, {1009, 640}, {1011, 513}}, "Taille non valide"},
        {{{1009, 1000}, {1013, 300}}, "Origine non valide"},
        {{{1011, 24}, {1015, 1001}}, "Origine non valide"},
        {{{1009, 1000}, {1013, 280}}, nullptr},
        {{{1003, 3}, {1009, 426}, {1011, 341}}, nullptr},
    };
    for (const Case& c : cases) {
        QFile::remove(SettingsStore::filePath());
        bool stayedOpen = false;
        QWidget* window = nullptr;
        const auto r = runDialog(record, [&](QWidget* w) {
            window = w;
            for (auto [id, v] : c.typed)
                type(w, id, v);
            click(w, 1);
            stayedOpen = w->isVisible();
            if (stayedOpen)
                click(w, 2);
        });
        if (c.message) {
            EXPECT_TRUE(stayedOpen);
            EXPECT_EQ(r.result, 2);
            ASSERT_EQ(boxTexts(r), std::vector<QString>{QString::fromUtf8(c.message)});
            EXPECT_EQ(r.seen[1].title, QStringLiteral("Kovrel"));
            EXPECT_EQ(r.seen[1].icon, int(QMessageBox::NoIcon));
            EXPECT_EQ(r.seen[1].owner, window);
            EXPECT_FALSE(QFile::exists(SettingsStore::filePath()));
        } else {
            EXPECT_EQ(r.result, 1);
            EXPECT_TRUE(boxTexts(r).empty());
            EXPECT_TRUE(QFile::exists(SettingsStore::filePath()));
        }
    }
    EXPECT_EQ(record.binning, 3);
    EXPECT_EQ(SettingsStore::getInt(section, "binning", 0), 3);
    EXPECT_EQ(SettingsStore::getInt(section, "img_w", 0), 426);
}

TEST_F(AcqPrmDlgTest, OkStoresEveryControlAndTheHiddenSpeeds) {
    SettingsStore::writeInt(section, "vitv", 300);
    SettingsStore::writeInt(section, "vitp", 7);
    const std::vector<std::pair<int, int>> typed = {
        {1003, 2},   {1005, 12}, {1007, 34}, {1009, 300}, {1011, 200},
        {1013, 10},  {1015, 20}, {1037, 63}, {1039, 4},   {1041, 31},
        {1042, 120}, {1043, 1},  {1044, 2},  {1045, 3},   {1046, 4},
    };
    const auto r = runDialog(record, [&](QWidget* w) {
        for (auto [id, v] : typed)
            type(w, id, v);
        click(w, 1016);
        click(w, 1024);
        click(w, 1025);
        click(w, 1);
    });
    ASSERT_EQ(r.result, 1);
    const std::map<std::string, int> expected = {
        {"binning", 2}, {"pause_s", 12}, {"pause_cs", 34}, {"img_w", 300}, {"img_h", 200},
        {"img_x0", 10}, {"img_y0", 20},  {"option1", 1},   {"option2", 0}, {"option3", 1},
        {"option4", 0}, {"prm1", 63},    {"prm2", 4},      {"prm3", 31},   {"bdt", 120},
        {"vitv", 300},  {"vitp", 7},     {"C", 1},         {"Y2", 2},      {"Y1", 3},
        {"M", 4},
    };
    std::map<std::string, int> stored, held;
    record.save([&](const char* key, int v) { held[key] = v; });
    for (const auto& [key, v] : expected)
        stored[key] = SettingsStore::getInt(section, key.c_str(), -12345);
    EXPECT_EQ(stored, expected);
    EXPECT_EQ(held, expected);
}

TEST_F(AcqPrmDlgTest, SpinArrowsStepAndWrap) {
    struct Case {
        int edit, spin;
        int start;
        bool up;
        int after;
    };
    const Case cases[] = {
        {1003, 1004, 4, true, 1},     {1003, 1004, 1, false, 4}, {1005, 1006, 3600, true, 0},
        {1007, 1008, 0, false, 99},   {1007, 1008, 5, true, 6},  {1009, 1010, 4096, true, 1},
        {1013, 1014, 0, false, 4096}, {1015, 1018, 7, true, 8},  {1011, 1012, 2, false, 1},
    };
    std::vector<int> after;
    runDialog(record, [&](QWidget* w) {
        for (const Case& c : cases) {
            type(w, c.edit, c.start);
            auto* spin = findControlAs<SpinButton>(w, c.spin);
            ASSERT_NE(spin, nullptr);
            if (c.up)
                spin->stepUp();
            else
                spin->stepDown();
            after.push_back(text(w, c.edit).toInt());
        }
        click(w, 2);
    });
    ASSERT_EQ(after.size(), std::size(cases));
    for (std::size_t i = 0; i < after.size(); ++i)
        EXPECT_EQ(after[i], cases[i].after) << cases[i].edit;
}

TEST(AcqPrm, StoreOrderOfReadsAndWrites) {
    std::vector<std::string> reads, writes;
    AcqPrm p;
    p.load(1280, 1024, [&](const char* key, int def) {
        reads.push_back(key);
        return def;
    });
    p.save([&](const char* key, int) { writes.push_back(key); });
    const std::vector<std::string> readOrder = {
        "pause_s", "pause_cs", "option1", "option2", "option3", "option4", "img_w",
        "img_h",   "img_x0",   "img_y0",  "prm1",    "prm2",    "prm3",    "bdt",
        "binning", "vitv",     "vitp",    "Y1",      "M",       "C",       "Y2"};
    const std::vector<std::string> writeOrder = {
        "img_w",   "img_h",   "img_x0",  "img_y0",  "binning", "pause_s", "pause_cs",
        "option1", "option2", "option3", "option4", "prm1",    "prm2",    "prm3",
        "bdt",     "vitv",    "vitp",    "Y1",      "M",       "C",       "Y2"};
    EXPECT_EQ(reads, readOrder);
    EXPECT_EQ(writes, writeOrder);
}

class CameraDialogTest : public LinkFixture {};

TEST_F(CameraDialogTest, CancelKeepsTheStoredValuesForTheNextUpload) {
    SettingsStore::writeInt(section, "pause_s", 10);
    SettingsStore::writeInt(section, "pause_cs", 0);
    auto camera = std::make_unique<CCamera>();
    camera->setPause(0.5f);
    EXPECT_EQ(showParameters(*camera, "id2"), 2);
    EXPECT_EQ(camera->getPauseEnSecondes(), 10.0f) << "the show reloads the store";
    port.written.clear();
    camera->reglage();
    // 10 s at time base 90: one long period.
    bool found = false;
    const auto frames = port.frames();
    for (std::size_t i = 0; i + 1 < frames.size(); ++i)
        found |=
            frames[i] == Bytes{0x62, 0, 0, 0, 0xFF} && frames[i + 1] == Bytes{0x62, 0, 1, 0, 0xFF};
    EXPECT_TRUE(found);
}

TEST_F(CameraDialogTest, TheDialogKeepsItsFirstOwner) {
    QWidget first, second;
    std::vector<QWidget*> owners;
    auto camera = std::make_unique<CCamera>();
    for (QWidget* parent : {&first, &second}) {
        ModalWatcher watcher([&](QWidget* w) {
            owners.push_back(w->parentWidget());
            click(w, 1);
            return true;
        });
        EXPECT_EQ(camera->getAcqPrm(parent), 1);
    }
    EXPECT_EQ(owners, (std::vector<QWidget*>{&first, &first}));
    EXPECT_EQ(port.openedPaths.size(), 1u) << "the port opens once";
}
