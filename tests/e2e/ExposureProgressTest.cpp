// The window through a real-time exposure from the simulator: the event loop
// turns, the status bar counts the exposure down then shows the readout, the
// image commands wait, the Visu panel still redraws the image shown.
#include "SimulatorRun.h"

#include "CameraEvents.h"
#include "Clock.h"
#include "ImageProgress.h"
#include "SerialLink.h"
#include "VisuPanel.h"

#include <gmock/gmock.h>

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

#include <QSlider>
#include <cstdlib>

#include <vector>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

class ExposureFixture : public SimulatorFixture {
protected:
    void SetUp() override {
        // The link is process-wide: a port left open on an earlier test's
        // simulator would fail this test's first write.
        kovrel::closePort();
        SimulatorFixture::SetUp();
        SettingsStore::writeInt("AcqPrm", "img_w", kWidth);
        SettingsStore::writeInt("AcqPrm", "img_h", kHeight);
    }

    // The camera dialog confirmed with an exposure of s seconds and c hundredths.
    void setExposure(int s, int c) {
        SettingsStore::writeInt("AcqPrm", "pause_s", s);
        SettingsStore::writeInt("AcqPrm", "pause_cs", c);
        EXPECT_THAT(runCommand(cmd::CameraParams), ::testing::IsEmpty());
    }

    QSlider* brightness() {
        return findControlAs<QSlider>(view().visuPanel()->window(), CVisuPanel::BrightnessSlider);
    }
    // The screen as the user sees it, kept in ZERMIC_SCREENSHOT_DIR when set.
    static bool saveScreenshot(const QString& name) {
        const char* folder = std::getenv("ZERMIC_SCREENSHOT_DIR");
        if (!folder)
            return true;
        const QPixmap shot = QGuiApplication::platformName() == "offscreen"
                                 ? theApp.mainFrame()->grab()
                                 : QGuiApplication::primaryScreen()->grabWindow(0);
        return shot.save(QString::fromLocal8Bit(folder) + "/" + name);
    }
    QImage picture() {
        return view().viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
};

const int kImageCommands[] = {cmd::AcquireOne,     cmd::CameraParams, cmd::InitCamera,
                              cmd::FileNew,        cmd::FileOpen,     cmd::LoopStart,
                              cmd::StartCumul,     cmd::GuidingStart, cmd::SerialPortDialog,
                              cmd::SequenceParams, cmd::FileSaveAs};

} // namespace

TEST(ExposureProgressText, CountsDownWithinTheExposureThenGivesTheReadout) {
    const struct {
        double exposure, elapsed;
        long received;
        const char* text;
    } rows[] = {
        {3, 0.5, 0, "Pose : 3 s restantes sur 3 s"},
        {3, 2.05, 0, "Pose : 1 s restantes sur 3 s"},
        {3, 2.55, 0, "Pose : 0.50 s restantes sur 3 s"},
        // Short and broken exposures never show more than themselves.
        {0.1, 0.05, 0, "Pose : 0.10 s restantes sur 0.10 s"},
        {0.25, 0.1, 0, "Pose : 0.20 s restantes sur 0.25 s"},
        {1.5, 0, 0, "Pose : 1.50 s restantes sur 1.50 s"},
        {0.1, 0.2, 0, "Lecture : 0 %"},
        {3, 1, 50, "Lecture : 25 %"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(exposureProgressText(r.exposure, r.elapsed, r.received, 200), r.text)
            << r.exposure << " " << r.elapsed;
    EXPECT_EQ(withUnsavedImages(QString(), 2), QString()) << "the standing line comes back";
}

TEST_F(ExposureFixture, ThreeSecondExposureKeepsTheWindowAliveAndShowsItsProgress) {
    // A noiseless pattern, sent at 100 kB/s so that the readout lasts a while.
    SimulatorProcess camsim({"--scene", "ramp", "--rate", "100000"});
    ASSERT_TRUE(start());
    setExposure(0, 10);
    ASSERT_THAT(runCommand(cmd::AcquireOne), ::testing::IsEmpty());
    const std::vector<unsigned short> previous(doc().image.pixels,
                                               doc().image.pixels + doc().image.pixelCount());
    brightness()->setFocus();
    const QImage before = picture();
    setExposure(3, 0);

    QElapsedTimer clock;
    qint64 last = -1, longestGap = 0;
    std::vector<QString> texts;
    bool disabledThroughout = true, refused = true, keptPrevious = true;
    QImage brighter, back;
    bool shotTaken = false;
    QTimer probe;
    probe.setInterval(20);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        // Measured from the end of the previous tick: the test's own work in
        // a tick (grabs, keys) is not the program's pause.
        const qint64 now = clock.elapsed();
        if (last >= 0)
            longestGap = std::max(longestGap, now - last);
        const QString text = frame().promptText();
        if (texts.empty() || texts.back() != text)
            texts.push_back(text);
        for (int id : kImageCommands)
            disabledThroughout &= !frame().commands().isEnabled(id);
        if (now > 1000 && brighter.isNull()) {
            refused &= !frame().commands().send(cmd::AcquireOne);
            QTest::keyClick(brightness(), Qt::Key_PageUp);
            brighter = picture();
            QTest::keyClick(brightness(), Qt::Key_PageDown);
            back = picture();
            keptPrevious = std::equal(previous.begin(), previous.end(), doc().image.pixels);
        }
        if (now > 1800 && !shotTaken)
            shotTaken = saveScreenshot("exposure.png");
        last = clock.elapsed();
    });
    clock.start();
    probe.start();
    const std::vector<QString> messages = runCommand(cmd::AcquireOne);
    probe.stop();
    const qint64 took = clock.elapsed();

    EXPECT_THAT(messages, ::testing::IsEmpty());
    EXPECT_TRUE(shotTaken);
    EXPECT_GE(took, 2900);
    EXPECT_LE(longestGap, 150) << "event loop held";
    EXPECT_TRUE(disabledThroughout);
    EXPECT_TRUE(refused);
    // The shown image stayed the previous one and followed the slider.
    ASSERT_FALSE(brighter.isNull());
    EXPECT_TRUE(keptPrevious);
    EXPECT_NE(brighter, before);
    EXPECT_EQ(back, before);

    // Counted down, then the readout in per cent, then idle.
    auto seen = [&](const QString& t) {
        return std::find(texts.begin(), texts.end(), t) - texts.begin();
    };
    const auto three = seen("Pose : 3 s restantes sur 3 s");
    const auto two = seen("Pose : 2 s restantes sur 3 s");
    const auto one = seen("Pose : 1 s restantes sur 3 s");
    ASSERT_LT(one, std::ssize(texts)) << texts.size();
    EXPECT_LT(three, two);
    EXPECT_LT(two, one);
    const auto reading = std::find_if(texts.begin() + one, texts.end(), [](const QString& t) {
        return t.startsWith("Lecture : ") && t != "Lecture : 0 %";
    });
    EXPECT_NE(reading, texts.end());
    EXPECT_EQ(frame().promptText(), "Prêt");
    for (int id : kImageCommands)
        EXPECT_TRUE(frame().commands().isEnabled(id)) << id;

    // The same image as the camera gives with nobody listening to its progress.
    ASSERT_EQ(doc().image.width, kWidth);
    std::vector<unsigned short> plain(std::size_t(kWidth) * kHeight);
    ASSERT_EQ(theApp.camera.acquerir(plain.data()), 0);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), doc().image.pixels));

    // A standing line (a sequence's failed-save notice) comes back after the progress.
    const QString notice = QStringLiteral("Erreur camera : image test0003 non enregistree");
    frame().showPrompt(notice);
    EXPECT_THAT(runCommand(cmd::AcquireOne), ::testing::IsEmpty());
    EXPECT_EQ(frame().promptText(), notice);
}

TEST_F(ExposureFixture, PauseAndCloseAskedDuringAnExposureWaitForTheImage) {
    SimulatorProcess camsim({"--scene", "ramp"});
    SettingsStore::writeInt("SeqPrm", "mode_delai", 1);
    SettingsStore::writeInt("SeqPrm", "periode_ds", 1);
    ASSERT_TRUE(start());
    confirmSequenceSettings();
    setExposure(1, 0);

    // F11 during the loop's first exposure: the image comes in, then the pause.
    bool pausedEarly = true;
    QTimer::singleShot(400, [&] {
        EXPECT_TRUE(frame().commands().send(cmd::LoopPause));
        pausedEarly = view().state().loopPaused;
    });
    EXPECT_THAT(runCommand(cmd::LoopStart), ::testing::IsEmpty());
    EXPECT_FALSE(pausedEarly);
    EXPECT_EQ(view().sequenceEngine().count(), 1);
    QTest::qWait(100);
    EXPECT_TRUE(view().state().loopPaused);
    EXPECT_TRUE(view().state().loopRunning);
    EXPECT_EQ(view().sequenceEngine().count(), 1);
    ASSERT_TRUE(frame().commands().send(cmd::LoopStop));

    // Closing the window during an exposure: it goes once the image is in.
    SettingsStore::writeInt("AcqPrm", "img_w", kWidth / 2);
    setExposure(1, 0);
    bool openDuring = false;
    QTimer::singleShot(400, [&] {
        frame().close();
        openDuring = frame().isVisible();
    });
    EXPECT_THAT(runCommand(cmd::AcquireOne), ::testing::IsEmpty());
    EXPECT_TRUE(openDuring);
    EXPECT_EQ(doc().image.width, kWidth / 2);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !frame().isVisible(); }, 2000));
}

TEST_F(ExposureFixture, CloseDuringAStalledTransferEndsOnceItGivesUpWithoutBoxes) {
    SimulatorProcess camsim({"--fault", "stall"});
    ASSERT_TRUE(start());
    setExposure(0, 10);
    // The transfer's limit is counted on a clock the test moves: the camera's
    // minute of silence passes at once.
    ManualClock clock(std::time(nullptr));
    SerialLink::setClock(&clock);
    bool openDuring = false;
    QTimer::singleShot(300, [&] {
        frame().close();
        openDuring = frame().isVisible();
        clock.advance(3600);
    });
    EXPECT_THAT(runCommand(cmd::AcquireOne), ::testing::IsEmpty()) << "nobody is there to answer";
    SerialLink::setClock(nullptr);
    EXPECT_TRUE(openDuring);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !frame().isVisible(); }, 5000));
}
