#include "CCamera.h"
#include "CSeqPrmDialog.h"
#include "CSequenceEngine.h"
#include "ImageBuffer.h"
#include "ImageOpen.h"
#include "ImageSave.h"
#include "SequenceHost.h"
#include "SettingsStore.h"

#include "../camera/ScriptedPort.h"
#include "SerialLink.h"
#include "common/ModalWatcher.h"
#include "common/TempDir.h"

#include <QApplication>
#include <QFileInfo>
#include <QTest>
#include <QTimer>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

// The view's side of the engine: a real camera (its record defaults apply
// without a port), a real image and real files; timer, panel and stop calls are
// recorded in the order they happen.
class TestView : public SequenceHost {
public:
    TestView() : engine(this) {
        owner.setObjectName(QStringLiteral("CMainFrame"));
        image.resize(16, 8);
    }

    void setSequenceTimer(int ms) override { log("set " + std::to_string(ms)); }
    void killSequenceTimer() override { log("kill"); }
    bool guidingActive() const override { return guiding; }
    double guidingCadenceSeconds() override { return cadence; }
    CSeqPrmDialog& sequenceDialog() override { return dialog; }
    ImageBuffer* documentImage() override { return &image; }
    CCamera& camera() override { return *cam; }
    void showSize(int w, int h, float exposure) override {
        log(QString::asprintf("size %dx%d %.2f", w, h, exposure).toStdString());
    }
    void showCount(int n) override { log(QString::asprintf("count %04d", n).toStdString()); }
    void showProgress(int n, int total) override {
        log(QString::asprintf("progress %d/%d", n, total).toStdString());
    }
    SaveResult saveDocument(const QString& path, std::optional<AcqExposure> exposure) override {
        saved.push_back(path);
        const int r = saveFits(path, image, 0, exposure, SafeFileWriter::Existing::Keep);
        if (r == saveNameTaken)
            return SaveResult::NameTaken;
        return r == 0 ? SaveResult::Saved : SaveResult::Failed;
    }
    void stopLoop() override {
        log("stop");
        running = false;
        engine.stopSequence();
    }
    QWidget* messageOwner() override { return &owner; }
    void showStatus(const QString& text) override { status = text; }

    // The view's start: 0 and the loop running, or the engine's failure.
    int start() {
        running = true;
        return engine.startSequence();
    }
    // One loop step; the camera's image is a ramp that changes from step to step.
    void step(bool imageRead = true) {
        engine.beforeAcquisition();
        for (int i = 0; i < image.width * image.height; ++i)
            image.pixels[i] = static_cast<unsigned short>(1000 * engine.count() + i);
        image.invalidateStats();
        engine.afterAcquisition(imageRead);
    }
    // Steps until the engine stops the loop; the number of images taken.
    int runToEnd(int limit = 20000) {
        int n = 0;
        while (running && n < limit) {
            step();
            ++n;
        }
        return n;
    }
    std::vector<std::string> takeLog() { return std::exchange(events, {}); }

    bool guiding = false;
    double cadence = 0.5;
    bool running = false;
    CSeqPrmDialog dialog;
    ImageBuffer image;
    std::unique_ptr<CCamera> cam = std::make_unique<CCamera>();
    QWidget owner;
    std::vector<QString> saved;
    QString status;
    CSequenceEngine engine;

private:
    void log(std::string s) { events.push_back(std::move(s)); }
    std::vector<std::string> events;
};

QString writeSeq(const TempDir& dir, const std::string& name, const std::string& text) {
    std::ofstream(dir.file(name)) << text;
    return QString::fromStdString(dir.file(name));
}

// The ACQ-ps and ACQ-pc cards of a saved file.
std::pair<long, long> exposureCards(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::string header(2880, ' ');
    in.read(header.data(), std::streamsize(header.size()));
    auto card = [&](const char* key) {
        const std::size_t at = header.find(key);
        return at == std::string::npos ? -1L : std::stol(header.substr(at + 14, 16));
    };
    return {card("COMMENT ACQ-ps"), card("COMMENT ACQ-pc")};
}

void later(std::function<void()> fn) {
    QTimer::singleShot(0, qApp, std::move(fn));
}

} // namespace

TEST(SequenceArithmetic, IntervalIsThePeriodTimesAThousandTruncated) {
    struct Case {
        int tenths;
        int ms;
    };
    // The period is a float of tenths x 0.1: some land just below their value.
    const Case cases[] = {{7, 699},   {3, 300}, {1, 100},         {10, 1000}, {13, 1299},
                          {25, 2500}, {0, 0},   {10000, 1000000}, {6, 600},   {9, 899}};
    for (const Case& c : cases)
        EXPECT_EQ(sequenceIntervalMs(float(c.tenths * 0.1)), c.ms) << c.tenths;
    EXPECT_EQ(sequenceIntervalMs(-0.5f), 0);
    EXPECT_EQ(sequenceIntervalMs(1e10f), INT_MAX);
}

TEST(SequenceArithmetic, ImageNamesNumberFromZeroWithAtLeastFourDigits) {
    EXPECT_EQ(sequenceImageName("/data/img/", "cam", 0), "/data/img/cam0000.fit");
    EXPECT_EQ(sequenceImageName("/data/img/", "cam", 123), "/data/img/cam0123.fit");
    EXPECT_EQ(sequenceImageName("/data/img/", "cam", 9999), "/data/img/cam9999.fit");
    EXPECT_EQ(sequenceImageName("/data/img/", "cam", 10000), "/data/img/cam10000.fit");
    EXPECT_EQ(sequenceImageName("", "m31_", 7), "m31_0007.fit")
        << "the directory is used as stored";
}

TEST(SequenceEngine, ArmingOrderInDelayAndFixedRateModes) {
    struct Case {
        int mode;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        // Delay: the timer stops for the acquisition and runs one period from its end.
        {0,
         {"set 100", "kill", "count 0000", "set 699", "kill", "count 0001", "set 699", "kill",
          "count 0002", "set 699"}},
        // Fixed rate: the period replaces the first short tick at the first image only.
        {1, {"set 100", "set 699", "count 0000", "count 0001", "count 0002"}},
        {-1, {"set 100", "set 699", "count 0000", "count 0001", "count 0002"}},
    };
    for (const Case& c : cases) {
        TestView view;
        view.dialog.chainingMode = c.mode;
        view.dialog.periodTenths = 7;
        ASSERT_EQ(view.start(), 0);
        for (int i = 0; i < 3; ++i)
            view.step();
        EXPECT_EQ(view.takeLog(), c.log) << "mode " << c.mode;
        EXPECT_EQ(view.engine.isDelayMode(), c.mode == 0);
        EXPECT_EQ(view.engine.count(), 3);
        EXPECT_EQ(view.engine.total(), 10000);
    }
}

TEST(SequenceEngine, PauseAndContinueReArmWithTheFullPeriodAndKeepCounting) {
    for (int mode : {0, 1}) {
        TestView view;
        view.dialog.chainingMode = mode;
        view.dialog.periodTenths = 30;
        ASSERT_EQ(view.start(), 0);
        view.step();
        view.step();
        view.takeLog();
        view.engine.suspendTimer();
        EXPECT_EQ(view.engine.resumeTimer(), 0);
        EXPECT_THAT(view.takeLog(), ElementsAre("kill", "set 3000")) << mode;
        view.step();
        EXPECT_EQ(view.engine.count(), 3) << mode;
        const std::vector<std::string> third = view.takeLog();
        EXPECT_EQ(std::count(third.begin(), third.end(), "count 0002"), 1) << mode;
        EXPECT_EQ(std::count(third.begin(), third.end(), "set 3000"), mode == 0 ? 1 : 0)
            << "fixed rate does not re-arm after the first image";
    }
}

TEST(SequenceEngine, NumberOfImagesComesFromTheFileOrIsTenThousand) {
    struct Case {
        const char* name;
        const char* file; // null: no sequence file
        int images;
    };
    const Case cases[] = {
        {"no file", nullptr, 10000},
        {"three", "3 0.1 0.1 0.1", 3},
        {"zero takes one image", "0", 1},
        {"negative takes one image", "-4 1", 1},
        {"count not a number", "abc", 10000},
        {"empty file", "", 10000},
        {"fewer exposures than images", "5 0.2", 5},
    };
    TempDir dir;
    for (const Case& c : cases) {
        TestView view;
        if (c.file) {
            view.dialog.readParamFile = 1;
            view.dialog.paramFile = writeSeq(dir, "n.seq", c.file);
        }
        ASSERT_EQ(view.start(), 0) << c.name;
        EXPECT_EQ(view.runToEnd(), c.images) << c.name;
        EXPECT_FALSE(view.running) << c.name;
        EXPECT_EQ(view.takeLog().back(), "kill") << c.name << ": the stop kills the timer";
    }
}

TEST(SequenceEngine, MissingSequenceFileIsReportedAndNothingIsArmed) {
    TestView view;
    TempDir dir;
    view.dialog.readParamFile = 1;
    view.dialog.paramFile = QString::fromStdString(dir.file("absent.seq"));
    view.dialog.saveEachImage = 1;
    ModalWatcher watcher;
    EXPECT_EQ(view.start(), 1);
    ASSERT_EQ(watcher.seen().size(), 1u);
    EXPECT_EQ(watcher.seen()[0].text,
              QStringLiteral("Erreur d'ouverture du fichier de paramètres"));
    EXPECT_EQ(watcher.seen()[0].title, applicationTitle());
    EXPECT_EQ(watcher.seen()[0].owner, &view.owner);
    EXPECT_TRUE(view.takeLog().empty()) << "no timer, no panel";
    EXPECT_TRUE(view.saved.empty());
}

TEST(SequenceEngine, ExposuresAreReadBeforeEachImageAcrossPausesAndAgainFromTheStart) {
    TempDir dir;
    TestView view;
    view.dialog.readParamFile = 1;
    view.dialog.chainingMode = 1;
    // 2.35 lands on 2 s and 34 hundredths in the camera's record; a value that
    // is not a number keeps the exposure in force.
    view.dialog.paramFile = writeSeq(dir, "e.seq", "4\n0.5\n2.35\nnuit 7\n");
    ASSERT_EQ(view.start(), 0);
    view.step();
    view.engine.suspendTimer();
    view.engine.resumeTimer();
    view.step();
    view.step();
    view.step();
    EXPECT_THAT(view.takeLog(),
                ElementsAre("set 100", "set 100", "size 1280x1024 0.50", "progress 0/4", "kill",
                            "set 100", "size 1280x1024 2.34", "progress 1/4", "size 1280x1024 2.34",
                            "progress 2/4", "size 1280x1024 2.34", "progress 3/4", "stop", "kill"));

    // Every start reads the file again from its beginning, as it is now.
    writeSeq(dir, "e.seq", "2 1.25 3");
    ASSERT_EQ(view.start(), 0);
    EXPECT_EQ(view.runToEnd(), 2);
    EXPECT_THAT(view.takeLog(),
                ElementsAre("set 100", "set 100", "size 1280x1024 1.25", "progress 0/2",
                            "size 1280x1024 3.00", "progress 1/2", "stop", "kill"));
    EXPECT_FLOAT_EQ(view.cam->getPauseEnSecondes(), 3.0f);
}

TEST(SequenceEngine, ImagesArePostProcessedThenSavedUnderNumberedNames) {
    TempDir dir;
    TestView view;
    view.dialog.readParamFile = 1;
    view.dialog.paramFile = writeSeq(dir, "s.seq", "3 0.1 0.1 0.1");
    view.dialog.saveEachImage = 1;
    view.dialog.postProcess = 1;
    view.dialog.baseName = "cam";
    view.dialog.imageDirectory = QString::fromStdString(dir.path()) + "/";
    ASSERT_EQ(view.start(), 0);
    EXPECT_EQ(view.runToEnd(), 3);
    ASSERT_EQ(view.saved.size(), 3u);
    for (int n = 0; n < 3; ++n) {
        const QString name =
            QString::fromStdString(dir.file(QString::asprintf("cam%04d.fit", n).toStdString()));
        EXPECT_EQ(view.saved[n], name);
        ImageBuffer back;
        ASSERT_EQ(loadImageFile(back, name), ImageLoadResult::Ok) << n;
        ASSERT_EQ(back.width, 16);
        ASSERT_EQ(back.height, 8);
        for (int i = 0; i < 16 * 8; i += 37)
            EXPECT_EQ(back.pixels[i], 65535 - (1000 * n + i)) << "file " << n << " pixel " << i;
    }
    EXPECT_EQ(view.image.pixels[5], 65535 - (2000 + 5)) << "the view shows the processed image";
    EXPECT_EQ(view.engine.failedSaves(), 0);
    EXPECT_TRUE(view.status.isEmpty());
}

TEST(SequenceEngine, FailedSavesNeverStopTheSequenceAndStayInTheStatusBar) {
    TempDir dir;
    TestView view;
    view.dialog.readParamFile = 1;
    view.dialog.paramFile = writeSeq(dir, "f.seq", "3 0.1 0.1 0.1");
    view.dialog.saveEachImage = 1;
    view.dialog.baseName = "cam";
    view.dialog.imageDirectory = QString::fromStdString(dir.file("gone")) + "/";
    ModalWatcher watcher;
    ASSERT_EQ(view.start(), 0);
    // The folder is taken away once the run has started.
    QDir(view.dialog.imageDirectory).removeRecursively();
    view.step();
    EXPECT_EQ(view.engine.failedSaves(), 1);
    EXPECT_TRUE(view.status.contains(view.dialog.imageDirectory + "cam0000.fit"));
    // The view's own status text replaces the line at every image: the engine puts it back.
    view.status.clear();
    QDir().mkpath(view.dialog.imageDirectory);
    view.step();
    EXPECT_TRUE(view.status.contains("cam0000.fit")) << view.status.toStdString();
    EXPECT_TRUE(view.status.contains("1 image(s)")) << view.status.toStdString();
    QDir(view.dialog.imageDirectory).removeRecursively();
    view.step();
    EXPECT_FALSE(view.running) << "the sequence went to its last image";
    EXPECT_EQ(view.engine.failedSaves(), 2);
    EXPECT_TRUE(view.status.contains("cam0002.fit")) << view.status.toStdString();
    EXPECT_TRUE(view.status.contains("2 image(s)")) << view.status.toStdString();
    EXPECT_TRUE(watcher.seen().empty()) << "no modal box stalls an unattended run";

    view.dialog.saveEachImage = 0;
    ASSERT_EQ(view.start(), 0);
    EXPECT_EQ(view.engine.failedSaves(), 0) << "the count starts again with each sequence";
}

TEST(SequenceEngine, GuidingRunsAtItsCadenceWithoutFileSavingOrProcessing) {
    TestView view;
    view.guiding = true;
    view.cadence = 0.7;
    view.dialog.chainingMode = 0;
    view.dialog.readParamFile = 1;
    view.dialog.paramFile = "/nonexistent/file.seq";
    view.dialog.saveEachImage = 1;
    view.dialog.postProcess = 1;
    ModalWatcher watcher;
    ASSERT_EQ(view.start(), 0);
    view.step();
    view.step();
    EXPECT_THAT(view.takeLog(), ElementsAre("set 100", "set 699", "count 0000", "count 0001"));
    EXPECT_TRUE(watcher.seen().empty());
    EXPECT_TRUE(view.saved.empty());
    EXPECT_EQ(view.image.pixels[3], 1000 + 3) << "not post-processed";
    EXPECT_FALSE(view.engine.isDelayMode() || view.engine.readsParamFile() ||
                 view.engine.savesEachImage() || view.engine.postProcesses());
}

TEST(SequenceEngine, StoredValuesAreInForceFromStartUp) {
    SettingsStore::writeInt("SeqPrm", "mode_delai", 0);
    SettingsStore::writeInt("SeqPrm", "periode_ds", 20);
    SettingsStore::writeInt("SeqPrm", "postTrt", 1);
    TestView view;
    ASSERT_EQ(view.start(), 0);
    view.step();
    EXPECT_THAT(view.takeLog(), ElementsAre("set 100", "kill", "count 0000", "set 2000"))
        << "what the dialog shows, before it is ever opened";
    EXPECT_EQ(view.image.pixels[3], 65535 - 3);

    ModalWatcher watcher([](QWidget* w) {
        if (w->objectName() != "CSeqPrmDialog")
            return false;
        later([w] { QTest::mouseClick(findControlAs<QPushButton>(w, 1), Qt::LeftButton); });
        return true;
    });
    ASSERT_EQ(view.dialog.doModal(), 1);
    ASSERT_EQ(view.start(), 0);
    view.step();
    EXPECT_THAT(view.takeLog(), ElementsAre("set 100", "kill", "count 0000", "set 2000"));
    EXPECT_EQ(view.image.pixels[3], 65535 - 3);
}

TEST(SequenceEngine, SavingRunMakesItsFolderOrDoesNotStart) {
    TempDir dir;
    std::ofstream(dir.file("file")) << "x";
    const QString root = QString::fromStdString(dir.path());
    // The folder and the refusal (none: the run starts).
    const std::pair<QString, QString> cases[] = {
        {root + "/nuit/m31/", {}},
        {root + "/file/m31/", "Impossible de créer le dossier des images " + root + "/file/m31."},
        // Nobody, root included, creates files there.
        {"/proc/", "Impossible d'écrire dans le dossier des images /proc."},
    };
    for (const auto& [folder, refusal] : cases) {
        TestView view;
        view.dialog.saveEachImage = 1;
        view.dialog.imageDirectory = folder;
        ModalWatcher watcher;
        EXPECT_EQ(view.start(), refusal.isEmpty() ? 0 : 1) << folder.toStdString();
        EXPECT_EQ(view.takeLog().empty(), !refusal.isEmpty()) << "nothing armed when refused";
        std::vector<QString> said;
        for (const ModalWatcher::Seen& seen : watcher.seen())
            said.push_back(seen.text);
        EXPECT_EQ(said, refusal.isEmpty() ? std::vector<QString>{} : std::vector{refusal});
    }
    EXPECT_EQ(QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"file", "nuit"}))
        << "the folder made, the trial file gone";
}

TEST(SequenceEngine, FileExposuresReachTheCameraBeforeTheirImageAndTheSavedCards) {
    ScriptedPort port;
    ManualClock clock{1000};
    SerialLink::setPort(&port);
    SerialLink::setClock(&clock);
    {
        TempDir dir;
        TestView view;
        // The view's first upload: the record's 1 s is what the camera last received.
        view.cam->init();
        view.cam->reglage();
        view.dialog.readParamFile = 1;
        // 2.35 is 2 s 34 in the record both times: no second upload.
        view.dialog.paramFile = writeSeq(dir, "x.seq", "5 1 0.5 0.5 2.35 2.35");
        view.dialog.saveEachImage = 1;
        view.dialog.baseName = "cam";
        view.dialog.imageDirectory = QString::fromStdString(dir.path()) + "/";
        SettingsStore::writeInt("AcqPrm", "pause_s", 7);
        SettingsStore::writeInt("AcqPrm", "pause_cs", 3);
        ASSERT_EQ(view.start(), 0);
        const bool uploads[] = {false, true, false, true, false};
        for (bool upload : uploads) {
            const int n = view.engine.count();
            port.written.clear();
            view.step();
            const Bytes sent = port.written;
            // What an upload of this image's record sends, byte for byte.
            port.written.clear();
            view.cam->reglage();
            EXPECT_EQ(sent, upload ? port.written : Bytes{}) << "image " << n;
        }
        using Cards = std::pair<long, long>;
        const Cards cards[] = {{1, 0}, {0, 50}, {0, 50}, {2, 34}, {2, 34}};
        ASSERT_EQ(view.saved.size(), std::size(cards));
        for (std::size_t i = 0; i < view.saved.size(); ++i)
            EXPECT_EQ(exposureCards(view.saved[i]), cards[i]) << i;

        // Without a file the cards still show the stored settings.
        view.dialog.readParamFile = 0;
        ASSERT_EQ(view.start(), 0);
        port.written.clear();
        view.step();
        EXPECT_TRUE(port.written.empty());
        EXPECT_EQ(exposureCards(view.saved.back()), Cards(7, 3));
    }
    SerialLink::setPort(nullptr);
    SerialLink::setClock(nullptr);
}

TEST(SequenceEngine, ImageTheCameraFailedToReadIsCountedButNeverSaved) {
    TempDir dir;
    TestView view;
    view.dialog.saveEachImage = 1;
    view.dialog.baseName = "cam";
    view.dialog.imageDirectory = QString::fromStdString(dir.path()) + "/";
    ASSERT_EQ(view.start(), 0);
    view.step();
    view.step(false);
    EXPECT_EQ(view.engine.count(), 2);
    EXPECT_EQ(QDir(QString::fromStdString(dir.path())).entryList(QDir::Files),
              QStringList{"cam0000.fit"});
    EXPECT_EQ(view.status, QStringLiteral("Erreur caméra : image %1cam0001.fit non enregistrée")
                               .arg(view.dialog.imageDirectory));
    ASSERT_EQ(view.start(), 0);
    EXPECT_TRUE(view.status.isEmpty()) << "the next sequence puts the bar back";
}

TEST(SequenceEngine, NewSequenceNumbersOnAfterTheImagesAlreadyOnDisk) {
    struct Case {
        const char* name;
        std::vector<std::string> files;
        const char* base;
        int next;
    };
    const Case cases[] = {
        {"empty folder", {}, "cam", 0},
        {"highest, not count", {"cam0000.fit", "cam0041.fit"}, "cam", 42},
        {"five digits", {"cam10000.fit"}, "cam", 10001},
        {"other names are not ours",
         {"cam12.fit", "cam0009.fits", "cam0009.fit.bak", "xcam0008.fit", "m31_0007.fit",
          "cam00a1.fit"},
         "cam",
         0},
        {"base name with a folder part", {"sub/n0004.fit"}, "sub/n", 5},
        {"regular-expression characters in the base", {"c.m0003.fit", "cxm0009.fit"}, "c.m", 4},
    };
    for (const Case& c : cases) {
        TempDir dir;
        QDir().mkpath(QString::fromStdString(dir.file("sub")));
        for (const std::string& f : c.files)
            std::ofstream(dir.file(f)) << "x";
        EXPECT_EQ(nextSequenceNumber(QString::fromStdString(dir.path()) + "/", c.base), c.next)
            << c.name;
    }
    EXPECT_EQ(nextSequenceNumber("/nonexistent/dir/", "cam"), 0);

    // A second run leaves the first run's images as they were.
    TempDir dir;
    TestView view;
    view.dialog.saveEachImage = 1;
    view.dialog.baseName = "cam";
    view.dialog.imageDirectory = QString::fromStdString(dir.path()) + "/";
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(view.start(), 0);
        view.step();
        view.step();
    }
    std::ofstream(dir.file("cam0005.fit")) << "later";
    view.step(); // number 4
    view.step(); // 5 appeared meanwhile: 6
    EXPECT_EQ(QDir(QString::fromStdString(dir.path())).entryList(QDir::Files, QDir::Name),
              QStringList({"cam0000.fit", "cam0001.fit", "cam0002.fit", "cam0003.fit",
                           "cam0004.fit", "cam0005.fit", "cam0006.fit"}));
    ImageBuffer first;
    ASSERT_EQ(loadImageFile(first, QString::fromStdString(dir.file("cam0001.fit"))),
              ImageLoadResult::Ok);
    EXPECT_EQ(first.pixels[0], 1000) << "the first run's second image";
    std::ifstream later(dir.file("cam0005.fit"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(later), {}), "later");
}
