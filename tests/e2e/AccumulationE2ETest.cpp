// Shift-and-add accumulation run by the whole program against the camera
// simulator: the stack left in the document whatever ends the run, the saved
// raw images and the frames drawn meanwhile.
#include "SimulatorRun.h"

#include "AutoLevels.h"
#include "CCumul.h"
#include "ImageOpen.h"
#include "ImageSave.h"
#include "VisuPanel.h"

#include "common/TempDir.h"

#include <QFile>
#include <QTextStream>

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

class AccumulationRun : public SimulatorFixture {
protected:
    // A ".seq" of `count` one-second images, every image saved as cum####.fit.
    void setSequence(int count, const char* exposure = "1", int periodTenths = 1) {
        useSequenceFile(qs(dir.path()), "cum", count, exposure, periodTenths);
    }

    QString savedName(int n) const {
        return qs(dir.file("cum")) + QString::asprintf("%04d.fit", n);
    }

    // A saved sequence image; a file holding more than one plane fails.
    Plane savedImage(int n) {
        QFile f(savedName(n));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << n;
        const QByteArray header = f.read(2880);
        EXPECT_TRUE(header.contains("NAXIS   =                    2")) << n;
        EXPECT_FALSE(header.contains("NAXIS3")) << n;
        ImageBuffer im;
        EXPECT_EQ(loadImageFile(im, savedName(n)), ImageLoadResult::Ok) << n;
        return Plane::of(im);
    }

    // Starts the accumulation and waits for the loop to end, recording the
    // reference and looking for the frames while it runs.
    void runAccumulation(const std::function<void()>& duringRun = {}) {
        EXPECT_TRUE(runCommand(cmd::StartCumul).empty());
        messages = runUntil([this] { return !view().state().loopRunning; }, 60000,
                            [this, &duringRun] {
                                if (const CCumul* c = view().accumulator()) {
                                    refX = c->refX;
                                    refY = c->refY;
                                    bringIntoView(refX, refY);
                                    const OverlayColours o = grabOverlays();
                                    sawRed |= o.red;
                                    sawGreen |= o.green;
                                }
                                if (duringRun)
                                    duringRun();
                            });
    }

    TempDir dir;
    std::vector<QString> messages;
    double refX = NAN;
    double refY = NAN;
    bool sawRed = false;
    bool sawGreen = false;
};

} // namespace

TEST_F(AccumulationRun, RunEndedByItsCountLeavesTheStackOfAllImages) {
    SimulatorProcess camsim({"--time-scale", "0.05", "--drift", "0.5,0.3"});
    ASSERT_TRUE(start());
    setSequence(5);
    runAccumulation();

    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(view().state().accumulating);
    EXPECT_EQ(view().accumulator(), nullptr);
    EXPECT_EQ(view().sequenceEngine().count(), 5);
    EXPECT_TRUE(sawRed);
    EXPECT_TRUE(sawGreen);
    EXPECT_TRUE(frame().commands().isEnabled(cmd::StartCumul));
    ASSERT_FALSE(std::isnan(refX));

    // The raw images as saved: single images, each at one image's sky level.
    std::vector<Plane> raw;
    for (int n = 0; n < 5; ++n)
        raw.push_back(savedImage(n));
    EXPECT_FALSE(QFile::exists(savedName(5)));
    ASSERT_EQ(raw[0].width, 1280);
    const double sky1 = raw[0].innerMean();
    ASSERT_GT(sky1, 0);
    for (const Plane& p : raw)
        EXPECT_NEAR(p.innerMean() / sky1, 1.0, 0.1);

    // The document: the mean of all five, the last one included, at the
    // scale of one image.
    const Plane mean = Plane::of(doc().image);
    ASSERT_EQ(mean.width, raw[0].width);
    ASSERT_EQ(mean.height, raw[0].height);
    EXPECT_NEAR(mean.innerMean() / sky1, 1.0, 0.05);
    EXPECT_EQ(view().infoPanel()->stack, "Cumul : 5");
}

TEST_F(AccumulationRun, RunEndedInItsFirstStepCreatesNoAccumulator) {
    // A ".seq" of one image: the loop stops inside the first step.
    SimulatorProcess camsim({"--time-scale", "0.05"});
    ASSERT_TRUE(start());
    setSequence(1);
    EXPECT_TRUE(runCommand(cmd::StartCumul).empty());
    EXPECT_FALSE(view().state().loopRunning);
    EXPECT_FALSE(view().state().accumulating);
    EXPECT_EQ(view().accumulator(), nullptr);
    EXPECT_TRUE(frame().commands().isEnabled(cmd::StartCumul));
    // The one image taken is in the document, as saved.
    const Plane saved = savedImage(0);
    EXPECT_EQ(Plane::of(doc().image).v, saved.v);
}

TEST_F(AccumulationRun, FailedFirstReadoutCreatesNoAccumulator) {
    SimulatorProcess camsim({"--time-scale", "0.05", "--fault", "unplug-after=5000"});
    ASSERT_TRUE(start());
    setSequence(5);
    const std::vector<QString> boxes = runCommand(cmd::StartCumul);
    EXPECT_NE(std::find(boxes.begin(), boxes.end(), "Erreur lecture image"), boxes.end());
    EXPECT_FALSE(view().state().loopRunning);
    EXPECT_FALSE(view().state().accumulating);
    EXPECT_EQ(view().accumulator(), nullptr);
    EXPECT_TRUE(frame().commands().isEnabled(cmd::StartCumul));
    // What the failed transfer left is no image: not written, and the bar names it.
    EXPECT_FALSE(QFile::exists(savedName(0)));
    EXPECT_EQ(frame().promptText(),
              QStringLiteral("Erreur caméra : image %1 non enregistrée").arg(savedName(0)));
}

// Each way a run ends mid-sequence: the camera gone (a failed readout, counted
// but neither saved nor added), the user's stop, a file of another size opened.
enum class RunEnd { CameraGone, UserStop, FileOpened };

class AccumulationEnd : public AccumulationRun, public ::testing::WithParamInterface<RunEnd> {};

TEST_P(AccumulationEnd, LeavesTheStackOfTheImagesAdded) {
    const RunEnd end = GetParam();
    SimulatorProcess camsim({"--time-scale", "0.05"});
    ASSERT_TRUE(start());
    setSequence(50);
    const std::string small = dir.file("small.fit");
    if (end == RunEnd::FileOpened) {
        ImageBuffer im;
        ASSERT_EQ(im.resize(64, 48), 1);
        std::fill_n(im.pixels, im.pixelCount(), 7);
        ASSERT_EQ(saveFits(qs(small), im, 0), 0);
    }
    bool ended = false;
    runAccumulation([&] {
        if (ended || view().sequenceEngine().count() < 2)
            return;
        ended = true;
        if (end == RunEnd::CameraGone)
            camsim.stop();
        else if (end == RunEnd::UserStop)
            action(cmd::LoopStop)->trigger();
        else
            EXPECT_TRUE(theApp.openDocumentFile(qs(small)));
    });
    if (end == RunEnd::CameraGone)
        EXPECT_NE(std::find(messages.begin(), messages.end(), "Erreur lecture image"),
                  messages.end());
    else
        EXPECT_TRUE(messages.empty());
    EXPECT_EQ(view().accumulator(), nullptr);
    EXPECT_FALSE(view().state().accumulating);
    const int taken = view().sequenceEngine().count();
    const int added = end == RunEnd::CameraGone ? taken - 1 : taken;
    EXPECT_GE(added, 2);
    const Plane mean = Plane::of(doc().image);
    ASSERT_EQ(mean.width, 1280);
    ASSERT_EQ(mean.height, 1024);
    const double sky1 = savedImage(0).innerMean();
    EXPECT_NEAR(mean.innerMean() / sky1, 1.0, 0.05) << added;
    EXPECT_EQ(view().infoPanel()->stack, QStringLiteral("Cumul : %1").arg(added));
    if (end == RunEnd::FileOpened) {
        // The opened file is left alone on disk and no longer named by the
        // document that now holds the stack.
        EXPECT_TRUE(doc().pathName().isEmpty());
        ImageBuffer back;
        ASSERT_EQ(loadImageFile(back, qs(small)), ImageLoadResult::Ok);
        EXPECT_EQ(back.width, 64);
    }
}

INSTANTIATE_TEST_SUITE_P(Ends, AccumulationEnd,
                         ::testing::Values(RunEnd::CameraGone, RunEnd::UserStop,
                                           RunEnd::FileOpened),
                         [](const ::testing::TestParamInfo<RunEnd>& info) {
                             switch (info.param) {
                             case RunEnd::CameraGone:
                                 return "CameraGone";
                             case RunEnd::UserStop:
                                 return "UserStop";
                             default:
                                 return "FileOpened";
                             }
                         });

// A stop before the second image, straight away or after a pause: the stack is
// the first image alone.
class AccumulationEarlyStop : public AccumulationRun, public ::testing::WithParamInterface<bool> {};

TEST_P(AccumulationEarlyStop, LeavesTheFirstImageOnce) {
    const bool pauseFirst = GetParam();
    SimulatorProcess camsim({"--time-scale", "0.05"});
    ASSERT_TRUE(start());
    // Ten seconds between images: the stop comes well before the second.
    setSequence(5, "1", 100);
    EXPECT_TRUE(runCommand(cmd::StartCumul).empty());
    ASSERT_NE(view().accumulator(), nullptr);
    if (pauseFirst)
        action(cmd::LoopPause)->trigger();
    action(cmd::LoopStop)->trigger();
    EXPECT_EQ(view().sequenceEngine().count(), 1);
    EXPECT_EQ(view().accumulator(), nullptr);
    EXPECT_EQ(Plane::of(doc().image).v, savedImage(0).v);
    EXPECT_EQ(view().infoPanel()->stack, "Cumul : 1");
}

INSTANTIATE_TEST_SUITE_P(Stops, AccumulationEarlyStop, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "PauseThenStop" : "Stop";
                         });

TEST_F(AccumulationRun, AutoSetsTheLevelsOfTheStack) {
    SimulatorProcess camsim({"--time-scale", "0.05"});
    ASSERT_TRUE(start());
    action(cmd::AutoLevelsOnNewImage)->trigger();
    setSequence(3);
    runAccumulation();
    EXPECT_TRUE(messages.empty());

    // The sliders show the stack left in the document, not a single image.
    int minimum = 0, maximum = 0, mean = 0;
    doc().image.getStats(minimum, maximum, mean);
    const SliderPositions stack = autoLevelPositions(doc().image.stats);
    EXPECT_EQ(view().visuPanel()->brightness(), stack.brightness);
    EXPECT_EQ(view().visuPanel()->contrast(), stack.contrast);
    // The stack's sky is as bright as one image's but less noisy: its window
    // is narrower.
    ImageBuffer single;
    ASSERT_EQ(loadImageFile(single, savedName(2)), ImageLoadResult::Ok);
    single.computeStats();
    const SliderPositions one = autoLevelPositions(single.stats);
    EXPECT_TRUE(one.brightness != stack.brightness || one.contrast != stack.contrast);
}
