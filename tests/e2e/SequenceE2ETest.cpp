// Timed sequences of the whole program against the camera simulator: the
// sequence dialog, F10, the loop's timer, the exposures of a ".seq" file, the
// negation before saving, the numbered FITS files and the information panel.
#include "../app/AppFixture.h"
#include "CommandIds.h"
#include "ImageBuffer.h"
#include "ImageFileReader.h"
#include "SettingsStore.h"
#include "WindowTimers.h"

#include "common/CallProbe.h"
#include "common/CamsimProcess.h"
#include "common/TempDir.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <gmock/gmock.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using ::testing::DoubleNear;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

// Readable texts in failure messages.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

constexpr int kPort = 3;
constexpr int kWidth = 160;
constexpr int kHeight = 120;
// The camera's largest sample: 255 scaled by 128.
constexpr int kSampleMax = 32640;

class SequenceE2E : public AppFixture {
protected:
    void SetUp() override {
        // A small window so that each image is quick; the simulator's ramp
        // scene gives the same image at every exposure.
        SettingsStore::writeInt("AcqPrm", "pause_s", 1);
        SettingsStore::writeInt("AcqPrm", "pause_cs", 0);
        SettingsStore::writeInt("AcqPrm", "img_x0", 0);
        SettingsStore::writeInt("AcqPrm", "img_y0", 0);
        SettingsStore::writeInt("AcqPrm", "img_w", kWidth);
        SettingsStore::writeInt("AcqPrm", "img_h", kHeight);
        SettingsStore::writeInt("AcqPrm", "binning", 1);
        SettingsStore::writeInt("AcqPrm", "prm2", kPort);
        ASSERT_TRUE(sim) << "camsim did not start";
        // Each test has its own ports folder: the suite's camera is plugged in there.
        linkPort(kPort, terminal);
    }

    // One simulator for the whole suite, as a camera stays plugged in while
    // the program is restarted.
    static void SetUpTestSuite() {
        logDir = std::make_unique<TempDir>();
        sim = std::make_unique<CamsimProcess>(
            std::vector<std::string>{"--port", std::to_string(kPort), "--time-scale", "0.05",
                                     "--scene", "ramp", "--log", logDir->file("camsim.log")});
        // Serving once it has linked the port and said so.
        const std::string said = "camsim: COM" + std::to_string(kPort) + " -> ";
        for (std::string line = sim->readLine(10000); !line.empty(); line = sim->readLine(10000))
            if (line.find(said) != std::string::npos) {
                terminal = line.substr(line.find(said) + said.size());
                return;
            }
        sim.reset();
    }
    static void TearDownTestSuite() {
        sim.reset();
        logDir.reset();
    }

    // The exposures the simulator has started since the log held `from` bytes.
    static std::vector<double> exposuresLogged(std::streamoff from) {
        std::ifstream log(logDir->file("camsim.log"));
        log.seekg(from);
        std::vector<double> seconds;
        for (std::string line; std::getline(log, line);)
            if (const std::size_t at = line.find("exposing "); at != std::string::npos)
                seconds.push_back(std::stod(line.substr(at + 9)));
        return seconds;
    }
    static std::streamoff logSize() {
        std::ifstream log(logDir->file("camsim.log"), std::ios::ate);
        return log ? std::streamoff(log.tellg()) : 0;
    }

    QString path(const std::string& name) const { return QString::fromStdString(tmp.file(name)); }

    void writeSequenceFile(const std::string& text) {
        std::ofstream(tmp.file("exposures.seq")) << text;
    }

    // What a user enters in "Paramètres séquence": a delay of a tenth of a
    // second, the exposures read from the file, every image negated and saved.
    void storeSequenceSettings(const QString& directory) {
        SettingsStore::writeString("SeqPrm", "prmFile", path("exposures.seq"));
        SettingsStore::writeString("SeqPrm", "basename", "cam");
        SettingsStore::writeString("SeqPrm", "imgpath", directory);
        SettingsStore::writeInt("SeqPrm", "periode_ds", 1);
        SettingsStore::writeInt("SeqPrm", "mode_delai", 0);
        SettingsStore::writeInt("SeqPrm", "readPrmFile", 1);
        SettingsStore::writeInt("SeqPrm", "saveImg", 1);
        SettingsStore::writeInt("SeqPrm", "postTrt", 1);
    }

    // The sequence dialog opened by its command and closed with OK: the
    // stored settings come into force.
    void confirmSequenceDialog() {
        bool opened = false;
        ModalWatcher watcher([&](QWidget* w) {
            if (w->objectName() != "CSeqPrmDialog")
                return false;
            opened = true;
            later([w] { press(w, 1); });
            return true;
        });
        ASSERT_TRUE(action(cmd::SequenceParams)->isEnabled());
        action(cmd::SequenceParams)->trigger();
        ASSERT_TRUE(opened);
    }

    // Ctrl+A, OK in the camera dialog: the camera's image, untouched.
    std::vector<unsigned short> referenceImage() {
        ModalWatcher watcher([](QWidget* w) {
            if (w->objectName() != "CAcqPrmDlg")
                return false;
            later([w] { press(w, 1); });
            return true;
        });
        frame().activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&frame()));
        QTest::keyClick(&frame(), Qt::Key_A, Qt::ControlModifier);
        EXPECT_THAT(boxes(watcher), IsEmpty());
        const ImageBuffer& im = doc().image;
        EXPECT_EQ(im.width, kWidth);
        EXPECT_EQ(im.height, kHeight);
        if (!im.pixels)
            return {};
        return {im.pixels, im.pixels + im.pixelCount()};
    }

    // Texts of the message boxes a watcher saw; dialogs are not counted.
    static std::vector<QString> boxes(const ModalWatcher& w) {
        std::vector<QString> texts;
        for (const ModalWatcher::Seen& s : w.seen())
            if (s.className == "QMessageBox")
                texts.push_back(s.text);
        return texts;
    }

    struct Run {
        // Sequence field of the information panel at each change, with the
        // exposure field at that moment.
        std::vector<std::pair<QString, QString>> progress;
        std::vector<QString> messages;
        bool stopped = false;
    };

    // F10, then what the user does meanwhile, then the event loop runs until
    // the loop has stopped.
    Run runSequence(const std::function<void()>& meanwhile = {}) {
        Run run;
        QWidget* panel = view().infoPanel() ? view().infoPanel()->window() : nullptr;
        EXPECT_NE(panel, nullptr);
        if (!panel)
            return run;
        QLineEdit* sequenceField = findControlAs<QLineEdit>(panel, 1012);
        QLineEdit* exposureField = findControlAs<QLineEdit>(panel, 1011);
        const QMetaObject::Connection c =
            QObject::connect(sequenceField, &QLineEdit::textChanged, [&](const QString& t) {
                run.progress.emplace_back(t, exposureField->text());
            });
        ModalWatcher watcher;
        frame().activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&frame()));
        QTest::keyClick(&frame(), Qt::Key_F10);
        if (meanwhile)
            meanwhile();
        run.stopped = QTest::qWaitFor([&] { return !view().state().loopRunning; }, 30000);
        QObject::disconnect(c);
        run.messages = boxes(watcher);
        return run;
    }

    int filesIn(const QString& dir) { return int(QDir(dir).entryList(QDir::Files).size()); }

    bool sequenceTimerArmed() {
        const auto* timers = view().findChild<WindowTimers*>();
        return timers && timers->isActive(CSequenceEngine::sequenceTimer);
    }

    TempDir tmp;
    static std::unique_ptr<CamsimProcess> sim;
    static std::string terminal; // the pseudo-terminal it serves
    static std::unique_ptr<TempDir> logDir;
};

std::unique_ptr<CamsimProcess> SequenceE2E::sim;
std::string SequenceE2E::terminal;
std::unique_ptr<TempDir> SequenceE2E::logDir;

TEST_F(SequenceE2E, ThreeExposuresFromTheFileAreNegatedSavedAndTheLoopStops) {
    writeSequenceFile("3\n0.1\n0.2\n0.3\n");
    storeSequenceSettings(path("out"));
    ASSERT_TRUE(QDir().mkpath(path("out")));
    ASSERT_TRUE(start());
    const std::vector<unsigned short> reference = referenceImage();
    ASSERT_EQ(reference.size(), std::size_t(kWidth * kHeight));
    confirmSequenceDialog();
    // Saving on: the directory gained its separator when OK stored it.
    EXPECT_EQ(view().sequenceDialog().imageDirectory, path("out") + "/");
    // The camera's image is the ramp, full range, the same at every exposure.
    EXPECT_EQ(*std::max_element(reference.begin(), reference.end()), kSampleMax);
    EXPECT_EQ(*std::min_element(reference.begin(), reference.end()), 0);

    const std::streamoff logStart = logSize();
    const Run run = runSequence();
    ASSERT_TRUE(run.stopped);
    EXPECT_THAT(run.messages, IsEmpty());
    EXPECT_THAT(run.progress,
                ElementsAre(Pair("0/3", "0.10"), Pair("1/3", "0.20"), Pair("2/3", "0.30")));
    // The camera itself exposed what the file says.
    EXPECT_THAT(
        exposuresLogged(logStart),
        ElementsAre(DoubleNear(0.1, 0.002), DoubleNear(0.2, 0.002), DoubleNear(0.3, 0.002)));
    EXPECT_EQ(view().sequenceEngine().count(), 3);
    EXPECT_EQ(view().sequenceEngine().failedSaves(), 0);
    EXPECT_FALSE(sequenceTimerArmed());
    EXPECT_FALSE(view().state().loopPaused);
    EXPECT_TRUE(QTest::qWaitFor([&] { return action(cmd::LoopStart)->isEnabled(); }, 2000));
    EXPECT_FALSE(action(cmd::LoopStop)->isEnabled());
    EXPECT_FALSE(action(cmd::LoopPause)->isEnabled());
    EXPECT_TRUE(action(cmd::SequenceParams)->isEnabled());
    // The last exposure of the file stays in force.
    EXPECT_EQ(infoText(1011), "0.30");
    EXPECT_EQ(infoText(1012), "2/3");

    // Exactly the three numbered files, each the negated camera image.
    EXPECT_THAT(QDir(path("out")).entryList(QDir::Files, QDir::Name),
                ElementsAre("cam0000.fit", "cam0001.fit", "cam0002.fit"));
    for (const char* name : {"cam0000.fit", "cam0001.fit", "cam0002.fit"}) {
        SCOPED_TRACE(name);
        ImageBuffer saved;
        ASSERT_EQ(loadImageFile(saved, (path("out") + "/" + name).toLocal8Bit().constData()),
                  ImageLoadResult::Ok);
        ASSERT_EQ(saved.width, kWidth);
        ASSERT_EQ(saved.height, kHeight);
        int wrong = 0;
        int below = 0;
        for (int i = 0; i < kWidth * kHeight; ++i) {
            wrong += saved.pixels[i] != static_cast<unsigned short>(65535 - reference[i]);
            below += saved.pixels[i] < 65535 - kSampleMax;
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(below, 0);
    }
}

TEST_F(SequenceE2E, StoredSettingsRunFromStartUpIntoAFolderMadeForThemReplacingNothing) {
    writeSequenceFile("3\n0.1\n0.1\n0.1\n");
    // Saving stored on, into a folder that does not exist yet; the sequence
    // dialog is never opened in this run.
    const QString folder = path("nuit/m31");
    storeSequenceSettings(folder + "/");
    ASSERT_TRUE(start());
    ASSERT_EQ(referenceImage().size(), std::size_t(kWidth * kHeight));
    // Another program takes the second image's name while it is written.
    call_probe::onFsync([&](int fd) {
        if (call_probe::pathOf(fd).find("/.cam0001.fit") != std::string::npos)
            std::ofstream((folder + "/cam0001.fit").toStdString()) << "theirs";
    });
    const Run run = runSequence();
    call_probe::onFsync(nullptr);
    ASSERT_TRUE(run.stopped);
    EXPECT_THAT(run.messages, IsEmpty());
    EXPECT_EQ(view().sequenceEngine().count(), 3);
    EXPECT_EQ(view().sequenceEngine().failedSaves(), 0);
    EXPECT_THAT(QDir(folder).entryList(QDir::Files, QDir::Name),
                ElementsAre("cam0000.fit", "cam0001.fit", "cam0002.fit", "cam0003.fit"));
    std::ifstream theirs((folder + "/cam0001.fit").toStdString());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(theirs), {}), "theirs");
    ImageBuffer last;
    EXPECT_EQ(loadImageFile(last, (folder + "/cam0003.fit").toLocal8Bit().constData()),
              ImageLoadResult::Ok);
}

TEST_F(SequenceE2E, SequenceGoesOnToItsLastImageWhenNoFileCanBeWritten) {
    writeSequenceFile("3\n0.1\n0.1\n0.1\n");
    storeSequenceSettings(path("out"));
    ASSERT_TRUE(start());
    confirmSequenceDialog();
    const QString target = path("out") + "/";
    ASSERT_EQ(view().sequenceDialog().imageDirectory, target);

    // F10 waits for the camera's settings: "Param Caméra", OK.
    EXPECT_FALSE(action(cmd::LoopStart)->isEnabled());
    {
        bool cameraDialog = false;
        ModalWatcher watcher([&](QWidget* w) {
            if (w->objectName() != "CAcqPrmDlg")
                return false;
            cameraDialog = true;
            later([w] { press(w, 1); });
            return true;
        });
        action(cmd::CameraParams)->trigger();
        ASSERT_TRUE(cameraDialog);
        EXPECT_THAT(boxes(watcher), IsEmpty());
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return action(cmd::LoopStart)->isEnabled(); }, 2000));

    // The status bar's texts, exposures included.
    std::vector<QString> shown;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (shown.empty() || shown.back() != frame().promptText())
            shown.push_back(frame().promptText());
    });
    probe.start(0);
    const Run run = runSequence([&] {
        // The first image is in; the folder becomes a file: no one, root
        // included, can create a file under it.
        QDir(path("out")).removeRecursively();
        std::ofstream(tmp.file("out")) << "x";
    });
    probe.stop();
    ASSERT_TRUE(run.stopped);
    // No box stalls the run, every image is taken and counted.
    EXPECT_THAT(run.messages, IsEmpty());
    EXPECT_THAT(run.progress,
                ElementsAre(Pair("0/3", "0.10"), Pair("1/3", "0.10"), Pair("2/3", "0.10")));
    EXPECT_EQ(view().sequenceEngine().count(), 3);
    EXPECT_EQ(view().sequenceEngine().failedSaves(), 2);
    EXPECT_EQ(frame().promptText(),
              QStringLiteral("Impossible d'écrire %1cam0002.fit (2 image(s) non enregistrée(s))")
                  .arg(target));
    // The countdown does not hide the loss.
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](const QString& t) {
        return t.startsWith("Pose : ") && t.endsWith(" (1 image(s) non enregistrée(s))");
    }));
    EXPECT_FALSE(sequenceTimerArmed());
    EXPECT_TRUE(QTest::qWaitFor([&] { return action(cmd::LoopStart)->isEnabled(); }, 2000));
    EXPECT_TRUE(QFileInfo(path("out")).isFile());

    // The failure stays in view until the next sequence starts, which puts
    // the bar back to idle; this one can write and saves every image.
    SettingsStore::writeString("SeqPrm", "imgpath", path("again"));
    confirmSequenceDialog();
    const Run again = runSequence();
    ASSERT_TRUE(again.stopped);
    EXPECT_EQ(view().sequenceEngine().failedSaves(), 0);
    EXPECT_EQ(frame().promptText(), QStringLiteral("Prêt"));
    EXPECT_EQ(QDir(path("again")).entryList(QDir::Files).size(), 3);
}

TEST_F(SequenceE2E, PauseContinueAndStopKeepTheCountAndTheNumbering) {
    writeSequenceFile("6\n0.1\n0.1\n0.1\n0.1\n0.1\n0.1\n");
    storeSequenceSettings(path("out"));
    SettingsStore::writeInt("SeqPrm", "periode_ds", 3);
    ASSERT_TRUE(QDir().mkpath(path("out")));
    ASSERT_TRUE(start());
    ASSERT_EQ(referenceImage().size(), std::size_t(kWidth * kHeight));
    confirmSequenceDialog();

    int atPause = -1;
    int afterPause = -1;
    bool pauseStates = false;
    const Run run = runSequence([&] {
        ASSERT_TRUE(QTest::qWaitFor([&] { return filesIn(path("out")) >= 2; }, 10000));
        QTest::keyClick(&frame(), Qt::Key_F11);
        atPause = view().sequenceEngine().count();
        // Three periods go by: nothing is taken while paused.
        QTest::qWait(1000);
        afterPause = filesIn(path("out"));
        pauseStates = view().state().loopRunning && view().state().loopPaused &&
                      !sequenceTimerArmed() && action(cmd::LoopStart)->isEnabled() &&
                      !action(cmd::LoopPause)->isEnabled();
        // Continue, one more image, then stop before the end of the file.
        QTest::keyClick(&frame(), Qt::Key_F10);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return view().sequenceEngine().count() >= atPause + 1; }, 10000));
        QTest::keyClick(&frame(), Qt::Key_F12);
    });
    ASSERT_TRUE(run.stopped);
    EXPECT_THAT(run.messages, IsEmpty());
    EXPECT_GE(atPause, 2);
    EXPECT_EQ(afterPause, atPause);
    EXPECT_TRUE(pauseStates);

    const int taken = view().sequenceEngine().count();
    EXPECT_EQ(taken, atPause + 1);
    ASSERT_LT(taken, 6) << "stopped before the end of the file";
    // A stopped loop stays stopped.
    QTest::qWait(700);
    EXPECT_EQ(view().sequenceEngine().count(), taken);
    EXPECT_FALSE(sequenceTimerArmed());
    EXPECT_FALSE(view().state().loopPaused);

    // One file per image taken, numbered on across the pause, and the panel
    // counted each image once.
    QStringList names;
    std::vector<std::pair<QString, QString>> progress;
    for (int i = 0; i < taken; ++i) {
        names << QString::asprintf("cam%04d.fit", i);
        progress.emplace_back(QString::asprintf("%d/6", i), "0.10");
    }
    EXPECT_EQ(QDir(path("out")).entryList(QDir::Files, QDir::Name), names);
    EXPECT_EQ(run.progress, progress);
}

} // namespace
