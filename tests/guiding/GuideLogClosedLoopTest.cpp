// A guiding run against the camera simulator leaves a session in the night's
// guide log that a guide-log viewer reads back: every image the panel showed,
// the moves sent, the dropped measurement, and the same RMS as the graph.
#include "CCamera.h"
#include "Clock.h"
#include "GuideGraphPanel.h"
#include "SettingsStore.h"
#include "StarMeasure.h"
#include "SuiviController.h"
#include "SuiviPanel.h"
#include "SuiviPrmDialog.h"

#include "common/CamsimProcess.h"
#include "common/ModalWatcher.h"
#include "common/TempDir.h"

#include "GuideLogReader.h"

#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr int kPort = 8;
constexpr int kWidth = 160;
constexpr int kHeight = 128;
constexpr int kImages = 40;
constexpr int kBlankImage = 12; // this image loses the star

ModalWatcher answerOk() {
    return ModalWatcher([](QWidget* w) {
        QTimer::singleShot(
            0, qApp, [w] { QTest::mouseClick(findControlAs<QPushButton>(w, 1), Qt::LeftButton); });
        return true;
    });
}

std::time_t localTime(int year, int month, int day, int hour) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

// What the mount receives for one axis, as the log must name it.
std::pair<std::string, std::string> pulseText(int v, const char* forward, const char* backward) {
    if (v > 0)
        return {std::to_string(v), forward};
    if (v < 0)
        return {std::to_string(1 - v), backward};
    return {"0", ""};
}

class GuideLogClosedLoop : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::remove(SettingsStore::filePath());
        const std::pair<const char*, int> acq[] = {
            {"prm2", kPort}, {"img_w", kWidth}, {"img_h", kHeight}, {"img_x0", 560},
            {"img_y0", 448}, {"pause_s", 1},    {"pause_cs", 0},    {"binning", 1},
            {"option4", 1},  {"prm1", 0}};
        for (const auto& [key, value] : acq)
            SettingsStore::writeInt("AcqPrm", key, value);
        SettingsStore::writeInt("SuiviPrm", "capture", 16);
        SettingsStore::writeString("JournalSuivi", "dossier", QString::fromStdString(logs.path()));
        sim = std::make_unique<CamsimProcess>(
            std::vector<std::string>{"--port", std::to_string(kPort), "--drift", "0.08,-0.05",
                                     "--time-scale", "0.05", "--seed", "3"});
        ASSERT_EQ(sim->readLine(5000).rfind("camsim: COM", 0), 0u);
        camera = std::make_unique<CCamera>();
        {
            ModalWatcher ok = answerOk();
            ASSERT_EQ(camera->getAcqPrm(nullptr), 1);
        }
        camera->reglage();
        controller.createPanels(&view, camera.get(), [](int) {});
        {
            ModalWatcher ok = answerOk();
            controller.editParams();
        }
        controller.guideLog().setClock(&clock);
        image.resize(kWidth, kHeight);
    }

    QString shown(int id) {
        return findControlAs<QLineEdit>(controller.panel()->window(), id)->text();
    }
    QString graphText(int id) {
        return findControlAs<QLabel>(controller.graphPanel()->window(), id)->text();
    }
    // The figure after the colon of a graph label.
    double graphFigure(int id) { return graphText(id).section(':', 1).trimmed().toDouble(); }

    struct Shown {
        std::string dx, dy;
        MountMove move; // per axis, inversions applied
        bool sent = false;
    };

    // One run of n images; image `blank` (if any) is emptied before it is
    // measured. Returns what the panel showed and the moves of each image.
    std::vector<Shown> run(int n, int blank = -1) {
        std::vector<Shown> out;
        EXPECT_EQ(camera->acquerir(image.pixels), 0);
        ImageBuffer firstImage(image);
        const StarLock lock = lockStar(firstImage, StarMarker{}, guidingLock(16));
        controller.startGuiding(image, 0, 0, false);
        const GuideParams p = loadGuideParams(controller.dialog()->prm);
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(camera->acquerir(image.pixels), 0);
            if (i == blank)
                std::fill_n(image.pixels, image.pixelCount(), 0);
            // What this tick sends, from the same image, zone and reference.
            const GuideTick expected = evaluateGuideTick(
                image, p, GuideState{lock.refX, lock.refY, controller.zone(), lock.threshold});
            controller.guideTick(image);
            Shown s;
            s.dx = shown(CSuiviPanel::Error1Edit).toStdString();
            s.dy = shown(CSuiviPanel::Error2Edit).toStdString();
            s.sent = expected.moveSent;
            s.move = axisMoves(p, expected.move);
            out.push_back(s);
        }
        controller.stopGuiding();
        return out;
    }

    TempDir logs;
    ManualClock clock{localTime(2026, 12, 7, 22)};
    std::unique_ptr<CamsimProcess> sim;
    std::unique_ptr<CCamera> camera;
    QWidget view;
    CSuiviController controller;
    ImageBuffer image;
};

} // namespace

TEST_F(GuideLogClosedLoop, ViewerReadsTheRunAsThePanelsShowedIt) {
    controller.graphPanel()->show();
    const std::vector<Shown> first = run(kImages, kBlankImage);
    const double graphRms1 = graphFigure(CGuideGraphPanel::Rms1Label);
    const double graphRms2 = graphFigure(CGuideGraphPanel::Rms2Label);
    const double graphTotal = graphFigure(CGuideGraphPanel::TotalLabel);
    // Later the same night (after midnight): the same file.
    clock.set(localTime(2026, 12, 8, 3));
    const std::vector<Shown> second = run(3);

    const std::string path = logs.file("Zermic_GuideLog_2026-12-07.txt");
    EXPECT_EQ(controller.guideLog().path().toStdString(), path);
    const std::vector<LogSession> sessions = readGuideLog(path);
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(sessions[0].begin, "2026-12-07 22:00:00");
    EXPECT_EQ(sessions[1].begin, "2026-12-08 03:00:00");
    for (const LogSession& s : sessions) {
        EXPECT_TRUE(s.ended);
        EXPECT_EQ(s.heading.rfind("Frame,Time,mount,dx,dy,RARawDistance,DECRawDistance", 0), 0u);
    }
    ASSERT_EQ(sessions[0].entries.size(), first.size());
    ASSERT_EQ(sessions[1].entries.size(), second.size());

    int moved = 0;
    double lastTime = -1;
    for (std::size_t i = 0; i < first.size(); ++i) {
        SCOPED_TRACE(i);
        const std::vector<std::string>& e = sessions[0].entries[i];
        ASSERT_GE(e.size(), std::size_t(kErrorCode + 1));
        EXPECT_EQ(e[kFrame], std::to_string(i + 1));
        EXPECT_GT(std::stod(e[kTime]), lastTime);
        lastTime = std::stod(e[kTime]);
        if (int(i) == kBlankImage) {
            EXPECT_EQ(e[kMount], "\"DROP\"");
            EXPECT_EQ(e[kDx], "");
            EXPECT_EQ(e[kErrorCode], "3");
            ASSERT_GT(e.size(), std::size_t(kErrorDescription));
            EXPECT_EQ(e[kErrorDescription], "\"Etoile perdue\"");
            EXPECT_EQ(first[i].dx, "0.000");
            continue;
        }
        EXPECT_EQ(e[kMount], "\"Mount\"");
        EXPECT_EQ(e[kDx], first[i].dx);
        EXPECT_EQ(e[kDy], first[i].dy);
        // The mount's axes at rotation 0: the first along the rows, the second against the columns.
        EXPECT_EQ(e[kRaRaw], first[i].dx);
        EXPECT_DOUBLE_EQ(std::stod(e[kDecRaw]), -std::stod(first[i].dy));
        EXPECT_EQ(e[kErrorCode], "0");
        ASSERT_TRUE(first[i].sent);
        const auto ra = pulseText(first[i].move.axis1, "E", "W");
        const auto dec = pulseText(first[i].move.axis2, "N", "S");
        EXPECT_EQ(std::make_pair(e[kRaDuration], e[kRaDirection]), ra);
        EXPECT_EQ(std::make_pair(e[kDecDuration], e[kDecDirection]), dec);
        if (ra.first != "0")
            ++moved;
    }
    EXPECT_GT(moved, kImages / 2) << "a drift is corrected on most images";

    // The viewer's RMS over what the graph holds equals the graph's.
    const LogRms rms = rmsOf(sessions[0].entries);
    EXPECT_EQ(rms.n, kImages - 1);
    EXPECT_NEAR(rms.ra, graphRms1, 0.001);
    EXPECT_NEAR(rms.dec, graphRms2, 0.001);
    EXPECT_NEAR(rms.total, graphTotal, 0.001);
    EXPECT_GT(rms.total, 0.0);
}
