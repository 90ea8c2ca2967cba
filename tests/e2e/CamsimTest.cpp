// The whole program against the camera simulator on a pseudo-terminal.
#include "../app/ViewFiles.h"
#include "CommandIds.h"
#include "SettingsStore.h"
#include "SimulatorRun.h"

#include "GuideZone.h"
#include "common/TempDir.h"
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace {

// The simulator on COM2 at a twentieth of real time.
SimulatorProcess quickCamsim(const QStringList& extra) {
    return SimulatorProcess(QStringList{"--time-scale", "0.05"} + extra);
}

// Closes our dialogs with OK; message boxes are left to the watcher.
bool pressOk(QWidget* w) {
    if (!findControl(w, 1))
        return false;
    AppFixture::later([w] { AppFixture::press(w, 1); });
    return true;
}

class CamsimFixture : public AppFixture {
protected:
    void SetUp() override {
        // The camera's defaults (1 s exposure, full frame), which the
        // simulator's time scale makes quick.
        SettingsStore::writeInt("AcqPrm", "pause_s", 1);
        SettingsStore::writeInt("AcqPrm", "pause_cs", 0);
        SettingsStore::writeInt("AcqPrm", "img_w", 1280);
        SettingsStore::writeInt("AcqPrm", "img_h", 1024);
        // The port as a user sets it in the dialog.
        SettingsStore::writeInt("AcqPrm", "prm2", 2);
    }

    // A key typed into the main window.
    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        frame().activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&frame()));
        QTest::keyClick(&frame(), k, modifiers);
    }

    // Ctrl+A as the user types it, pressing OK in the camera dialog when it
    // opens. Returns the message boxes shown meanwhile.
    std::vector<QString> acquire(bool expectDialog) {
        QString dialog;
        ModalWatcher watcher([&](QWidget* w) {
            if (w->objectName() != "CAcqPrmDlg")
                return false;
            dialog = w->objectName();
            later([w] { press(w, 1); });
            return true;
        });
        key(Qt::Key_A, Qt::ControlModifier);
        EXPECT_EQ(!dialog.isEmpty(), expectDialog);
        std::vector<QString> boxes;
        for (const ModalWatcher::Seen& s : watcher.seen())
            if (s.className == "QMessageBox")
                boxes.push_back(s.text);
        return boxes;
    }

    // The image is the simulated sky: not one flat value.
    bool looksLikeAnImage() {
        const ImageBuffer& im = doc().image;
        if (!im.pixels)
            return false;
        const auto [lo, hi] = std::minmax_element(im.pixels, im.pixels + im.pixelCount());
        return *hi > *lo;
    }
};

} // namespace

TEST_F(CamsimFixture, CtrlAOpensTheCameraDialogThenTheImageArrives) {
    SimulatorProcess camsim = quickCamsim({});
    ASSERT_TRUE(start());
    EXPECT_TRUE(acquire(true).empty());
    EXPECT_EQ(doc().image.width, 1280);
    EXPECT_EQ(doc().image.height, 1024);
    EXPECT_TRUE(looksLikeAnImage());
    EXPECT_EQ(frame().statusText(), "1280 x 1024, 16 bpp");
    EXPECT_EQ(view().contentsSize(), QSize(1280, 1024));
    EXPECT_EQ(infoText(1009), "1280x1024");
    EXPECT_EQ(infoText(1011), "1.00");
    EXPECT_NE(doc().acquisitionTime, 0);
    EXPECT_FALSE(doc().isModified());
    EXPECT_TRUE(view().state().cameraReady);
    EXPECT_TRUE(action(cmd::LoopStart) != nullptr);

    // The image is painted through the display bitmap.
    const QImage* shown = view().currentDisplayBitmap();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->width(), 1280);

    // A second image needs no dialog.
    EXPECT_TRUE(acquire(false).empty());
    EXPECT_TRUE(looksLikeAnImage());

    // Then a smaller window, chosen in "Param Caméra".
    SettingsStore::writeInt("AcqPrm", "img_w", 768);
    SettingsStore::writeInt("AcqPrm", "img_h", 512);
    {
        ModalWatcher watcher(pressOk);
        action(cmd::CameraParams)->trigger();
    }
    EXPECT_EQ(infoText(1009), " 768x 512");
    EXPECT_TRUE(acquire(false).empty());
    EXPECT_EQ(frame().statusText(), "768 x 512, 16 bpp");
    EXPECT_EQ(view().contentsSize(), QSize(768, 512));
    EXPECT_TRUE(looksLikeAnImage());
    EXPECT_EQ(view().currentDisplayBitmap()->width(), 768);

    if (const char* out = std::getenv("ZERMIC_SCREENSHOT")) {
        // Under a real display server the screen is grabbed as the user sees
        // it, information panel included; offscreen the window draws itself.
        view().horizontalScrollBar()->setValue(0);
        QTest::qWait(300);
        QPixmap shot = QGuiApplication::platformName() == "offscreen"
                           ? frame().grab()
                           : QGuiApplication::primaryScreen()->grabWindow(0);
        EXPECT_TRUE(shot.save(QString::fromLocal8Bit(out)));
    }
}

TEST_F(CamsimFixture, CameraFaultIsReportedAndTheProgramStaysUsable) {
    // The line is pulled during the first image; the simulator then serves on.
    SimulatorProcess camsim = quickCamsim({"--fault", "unplug-after=5000"});
    ASSERT_TRUE(start());
    const std::vector<QString> messages = acquire(true);
    EXPECT_NE(std::find(messages.begin(), messages.end(), "Erreur lecture image"), messages.end());
    EXPECT_EQ(frame().statusText(), "1280 x 1024, 16 bpp");
    EXPECT_TRUE(action(cmd::AcquireOne)->isEnabled());

    // Once the simulator serves its new line, taking images works again: the
    // driver reopens the port after each failed readout, so a retry or two
    // while the line comes back is all it takes.
    bool recovered = false;
    for (int attempt = 0; attempt < 3 && !recovered; ++attempt) {
        recovered = acquire(false).empty();
    }
    EXPECT_TRUE(recovered);
    EXPECT_TRUE(looksLikeAnImage());
}

namespace {

struct Expect {
    int id;
    bool enabled;
};

void expectEnabled(CommandTable& table, std::initializer_list<Expect> rows, const char* state) {
    table.updateUI();
    for (const Expect& e : rows)
        EXPECT_EQ(table.action(e.id)->isEnabled(), e.enabled) << state << ", command " << e.id;
}

} // namespace

TEST_F(CamsimFixture, LoopRunsPausesContinuesAndStopsWithItsCommandsEnabledAccordingly) {
    TempDir images;
    SettingsStore::writeString("SeqPrm", "imgpath", QString::fromStdString(images.path()) + "/");
    SettingsStore::writeString("SeqPrm", "basename", "t");
    SettingsStore::writeInt("SeqPrm", "saveImg", 1);
    SettingsStore::writeInt("SeqPrm", "mode_delai", 1);
    SettingsStore::writeInt("SeqPrm", "periode_ds", 2);
    SimulatorProcess camsim = quickCamsim({});
    ASSERT_TRUE(start());
    CommandTable& t = frame().commands();
    expectEnabled(t,
                  {{cmd::LoopStart, false},
                   {cmd::CameraParams, true},
                   {cmd::AcquireOne, true},
                   {cmd::LoopPause, false},
                   {cmd::LoopStop, false},
                   {cmd::StartCumul, true}},
                  "before camera parameters");
    {
        ModalWatcher ok(pressOk);
        key(Qt::Key_B, Qt::ControlModifier);
        // The sequence settings come into force through their dialog.
        key(Qt::Key_Q, Qt::ControlModifier);
    }
    expectEnabled(t, {{cmd::LoopStart, true}}, "idle");

    key(Qt::Key_F10);
    EXPECT_TRUE(view().state().loopRunning);
    EXPECT_EQ(view().sequenceEngine().count(), 1); // the first image is taken at once
    expectEnabled(t,
                  {{cmd::CameraParams, false},
                   {cmd::SequenceParams, false},
                   {cmd::AcquireOne, false},
                   {cmd::LoopStart, false},
                   {cmd::LoopPause, true},
                   {cmd::LoopStop, true},
                   {cmd::StartCumul, false},
                   {cmd::InitCamera, true}},
                  "running");
    EXPECT_TRUE(QTest::qWaitFor([this] { return view().sequenceEngine().count() >= 3; }, 10000));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(images.file("t0000.fit"))));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(images.file("t0001.fit"))));

    key(Qt::Key_F11);
    EXPECT_TRUE(view().state().loopPaused);
    expectEnabled(t,
                  {{cmd::CameraParams, false},
                   {cmd::AcquireOne, false},
                   {cmd::LoopStart, true},
                   {cmd::LoopPause, false},
                   {cmd::LoopStop, true},
                   {cmd::StartCumul, false}},
                  "paused");
    const int paused = view().sequenceEngine().count();
    QTest::qWait(600);
    EXPECT_EQ(view().sequenceEngine().count(), paused);
    EXPECT_EQ(infoText(1012), QString::asprintf("%04d", paused - 1));

    // Continuing keeps counting where the sequence was.
    key(Qt::Key_F10);
    EXPECT_FALSE(view().state().loopPaused);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return view().sequenceEngine().count() >= paused + 2; }, 10000));

    key(Qt::Key_F12);
    EXPECT_FALSE(view().state().loopRunning);
    const int stopped = view().sequenceEngine().count();
    QTest::qWait(600);
    EXPECT_EQ(view().sequenceEngine().count(), stopped);
    expectEnabled(t,
                  {{cmd::CameraParams, true},
                   {cmd::AcquireOne, true},
                   {cmd::LoopStart, true},
                   {cmd::LoopPause, false},
                   {cmd::LoopStop, false},
                   {cmd::StartCumul, true}},
                  "stopped");
    EXPECT_EQ(frame().statusText(), "1280 x 1024, 16 bpp");
}

TEST_F(CamsimFixture, FailedImageInALoopIsCountedOnceAndStopsItWhileTicksWait) {
    SettingsStore::writeInt("SeqPrm", "mode_delai", 1);
    SettingsStore::writeInt("SeqPrm", "periode_ds", 1);
    SimulatorProcess camsim = quickCamsim({"--fault", "unplug-after=5000"});
    ASSERT_TRUE(start());
    {
        ModalWatcher ok(pressOk);
        action(cmd::CameraParams)->trigger();
    }
    // Each message stays up for several timer periods; no step may start
    // inside it.
    std::vector<QString> boxes;
    ModalWatcher slow([&](QWidget* w) {
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            boxes.push_back(box->text());
            QTimer::singleShot(400, box, [box] { box->accept(); });
            return true;
        }
        return false;
    });
    action(cmd::LoopStart)->trigger();
    EXPECT_FALSE(view().state().loopRunning);
    EXPECT_EQ(view().sequenceEngine().count(), 1);
    EXPECT_NE(std::find(boxes.begin(), boxes.end(), "Erreur lecture image"), boxes.end());
    QTest::qWait(400);
    EXPECT_EQ(view().sequenceEngine().count(), 1);
    EXPECT_TRUE(action(cmd::AcquireOne)->isEnabled());
}

TEST_F(CamsimFixture, WhileGuidingOnlyTheGuidingPanelStopsTheLoop) {
    SettingsStore::writeInt("SuiviPrm", "periode_ds", 5);
    SimulatorProcess camsim = quickCamsim({});
    ASSERT_TRUE(start());
    {
        // The camera dialog, then the guiding parameters on the first start.
        ModalWatcher ok(pressOk);
        action(cmd::CameraParams)->trigger();
        frame().commands().send(cmd::GuidingStart);
    }
    EXPECT_TRUE(view().state().loopRunning);
    EXPECT_TRUE(view().guidingActive());
    expectEnabled(frame().commands(), {{cmd::LoopStop, false}, {cmd::LoopPause, true}}, "guiding");
    EXPECT_FALSE(frame().commands().send(cmd::LoopStop));
    EXPECT_TRUE(view().state().loopRunning);

    // The red zone frame is drawn around the guide star.
    const GuideZone z = view().guiding().zone();
    const QImage shot = view().viewport()->grab().toImage();
    const QPoint corner = QPoint(z.left, z.top) - view().scrollPosition();
    if (shot.rect().contains(corner)) {
        EXPECT_EQ(shot.pixelColor(corner), QColor(255, 0, 0));
    }

    frame().commands().post(cmd::GuidingStop);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !view().state().loopRunning; }, 5000));
    EXPECT_FALSE(view().guidingActive());
}

TEST_F(CamsimFixture, FileOpenedDuringALoopIsNeverNamedByTheCameraImage) {
    TempDir dir;
    SettingsStore::writeInt("SeqPrm", "saveImg", 0);
    SettingsStore::writeInt("SeqPrm", "mode_delai", 1);
    SettingsStore::writeInt("SeqPrm", "periode_ds", 1);
    SimulatorProcess camsim = quickCamsim({});
    ASSERT_TRUE(start());
    {
        ModalWatcher ok(pressOk);
        action(cmd::CameraParams)->trigger();
        action(cmd::SequenceParams)->trigger();
    }
    action(cmd::LoopStart)->trigger();
    ASSERT_TRUE(view().state().loopRunning);
    // A file of the camera's size (its array is reused) and one of another.
    const struct {
        const char* name;
        int width;
        int height;
    } cases[] = {{"same.fit", 1280, 1024}, {"small.fit", 64, 48}};
    std::vector<std::pair<QString, QByteArray>> files;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString p =
            viewfiles::writeFits(dir, c.name, c.width, c.height, [](int, int) { return 7; });
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        files.emplace_back(p, f.readAll());
        ASSERT_TRUE(theApp.openDocumentFile(p));
        EXPECT_EQ(frame().windowTitle(), QString::fromUtf8(c.name) + " - Zermic");
        const int n = view().sequenceEngine().count();
        EXPECT_TRUE(QTest::qWaitFor([&] { return view().sequenceEngine().count() > n; }, 10000));
        EXPECT_TRUE(view().state().loopRunning);
        EXPECT_TRUE(doc().pathName().isEmpty());
        EXPECT_EQ(frame().windowTitle(), "Sans titre - Zermic");
        EXPECT_TRUE(looksLikeAnImage());
    }
    action(cmd::LoopStop)->trigger();
    for (const auto& [p, bytes] : files) {
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), bytes);
    }
}

TEST_F(CamsimFixture, FullFitsHeadersCarryTheCamerasRecordOfTheImageOnRequest) {
    TempDir dir;
    // A binned window off the sensor's corner and half a second.
    for (auto [key, value] :
         {std::pair{"binning", 2}, std::pair{"img_w", 160}, std::pair{"img_h", 120},
          std::pair{"img_x0", 16}, std::pair{"img_y0", 8}, std::pair{"pause_s", 0},
          std::pair{"pause_cs", 50}})
        SettingsStore::writeInt("AcqPrm", key, value);
    SimulatorProcess camsim = quickCamsim({});
    ASSERT_TRUE(start());
    EXPECT_TRUE(acquire(true).empty());
    // The store changes after the image: the ACQ cards follow it, the
    // standard cards stay the image's own.
    SettingsStore::writeInt("AcqPrm", "img_x0", 0);

    auto header = [&](const char* name) {
        QFile f(QString::fromStdString(dir.file(name)));
        return f.open(QIODevice::ReadOnly) ? f.read(2880) : QByteArray();
    };
    auto save = [&](const char* name) {
        return doc().onSaveDocument(QString::fromStdString(dir.file(name)));
    };
    QAction* option = action(cmd::FullFitsHeaders);
    frame().commands().updateUI();
    EXPECT_FALSE(option->isChecked());
    ASSERT_TRUE(save("plain.fit"));
    EXPECT_FALSE(header("plain.fit").contains("EXPTIME"));

    option->trigger();
    frame().commands().updateUI();
    EXPECT_TRUE(option->isChecked());
    EXPECT_EQ(SettingsStore::getInt("FitsPrm", "entetes_complets", 0), 1);
    ASSERT_TRUE(save("full.fit"));
    const QByteArray full = header("full.fit");
    std::tm utc{};
    const std::time_t start = theApp.camera.acqTime;
    ASSERT_TRUE(::gmtime_r(&start, &utc));
    char date[32];
    std::strftime(date, sizeof date, "'%Y-%m-%dT%H:%M:%S'", &utc);
    for (const QByteArray& card :
         {QByteArray("DATE-OBS= ") + date, QByteArray("EXPTIME =                 0.50"),
          QByteArray("XBINNING=                    2"),
          QByteArray("YBINNING=                    2"),
          QByteArray("XORGSUBF=                   16"),
          QByteArray("YORGSUBF=                    8"),
          QByteArray("COMMENT ACQ-x0               0")})
        EXPECT_EQ(full.indexOf(card) % 80, 0) << card.toStdString();
    EXPECT_GT(full.indexOf("EXPTIME"), full.indexOf("COMMENT ACQ-FIN"));

    // A file read back carries no record of the camera: saved again, it
    // gets none of those cards.
    ASSERT_TRUE(theApp.openDocumentFile(QString::fromStdString(dir.file("full.fit"))));
    ASSERT_TRUE(save("again.fit"));
    EXPECT_FALSE(header("again.fit").contains("EXPTIME"));

    option->trigger();
    EXPECT_EQ(SettingsStore::getInt("FitsPrm", "entetes_complets", 1), 0);
}
