// Guiding against the camera simulator: the controller measures real images
// from the driver and its moves reach the simulated mount, which shifts the sky.
// The simulator's log tells which move frames the mount actually received.
#include "CCamera.h"
#include "SettingsStore.h"
#include "StarMeasure.h"
#include "SuiviController.h"
#include "SuiviPrmDialog.h"

#include "common/CamsimProcess.h"
#include "common/ModalWatcher.h"
#include "common/TempDir.h"

#include "MountLine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kPort = 7;
constexpr int kWidth = 160;
constexpr int kHeight = 128;
constexpr int kImages = 60;

void pressOk(QWidget* w) {
    QTimer::singleShot(
        0, qApp, [w] { QTest::mouseClick(findControlAs<QPushButton>(w, 1), Qt::LeftButton); });
}

struct LoopRun {
    double driftX = 0.0; // star position at the end, from the reference
    double driftY = 0.0;
    double rmsLast30 = 0.0;
    int lost = 0;                  // images where the star was not measured
    std::vector<MountMove> issued; // what each tick computed to send, in order
    std::vector<Bytes> received;   // move frames in the simulator's log, in order
    int applied = 0;               // moves the simulated mount applied
};

// The simulator logs each frame it decodes as "[time] hex bytes  meaning".
struct LoggedMoves {
    std::vector<Bytes> frames;
    int applied = 0;
};

LoggedMoves readLoggedMoves(const std::string& path) {
    LoggedMoves out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find("move applied") != std::string::npos) {
            ++out.applied;
            continue;
        }
        const std::size_t meaning = line.find("  move ");
        const std::size_t stamp = line.find("] ");
        if (meaning == std::string::npos || stamp == std::string::npos || stamp > meaning)
            continue;
        std::istringstream hex(line.substr(stamp + 2, meaning - stamp - 2));
        Bytes frame;
        unsigned v = 0;
        while (hex >> std::hex >> v)
            frame.push_back(static_cast<unsigned char>(v));
        out.frames.push_back(frame);
    }
    return out;
}

// A frame as hex, so that a mismatch reads as the log does.
std::string hexOf(const Bytes& frame) {
    std::string s;
    char b[4];
    for (unsigned char c : frame) {
        std::snprintf(b, sizeof b, s.empty() ? "%02X" : " %02X", c);
        s += b;
    }
    return s;
}

std::vector<std::string> hexOf(const std::vector<Bytes>& frames) {
    std::vector<std::string> out;
    for (const Bytes& f : frames)
        out.push_back(hexOf(f));
    return out;
}

// The frames of every move, one 5-byte frame per moving axis.
std::vector<Bytes> framesOf(const std::vector<MountMove>& moves) {
    std::vector<Bytes> out;
    for (const MountMove& m : moves) {
        const Bytes all = moveFrames(m.axis1, m.axis2);
        for (std::size_t i = 0; i + 5 <= all.size(); i += 5)
            out.emplace_back(all.begin() + std::ptrdiff_t(i), all.begin() + std::ptrdiff_t(i + 5));
    }
    return out;
}

// kImages images through the driver; guideTick after each when guided. The
// star is measured independently of the controller, in the zone the controller
// will measure in, against the reference of the first image.
LoopRun runLoop(bool guided) {
    QFile::remove(SettingsStore::filePath());
    const std::pair<const char*, int> acq[] = {
        {"prm2", kPort}, {"img_w", kWidth}, {"img_h", kHeight}, {"img_x0", 560}, {"img_y0", 448},
        {"pause_s", 1},  {"pause_cs", 0},   {"binning", 1},     {"option4", 1},  {"prm1", 0}};
    for (const auto& [key, value] : acq)
        SettingsStore::writeInt("AcqPrm", key, value);
    SettingsStore::writeInt("SuiviPrm", "capture", 16);

    TempDir logDir;
    const std::string logPath = logDir.file("camsim.log");
    CamsimProcess sim({"--port", std::to_string(kPort), "--drift", "0.05,-0.04", "--time-scale",
                       "0.05", "--seed", "3", "--log", logPath});
    EXPECT_EQ(sim.readLine(5000).rfind("camsim: COM", 0), 0u);
    auto camera = std::make_unique<CCamera>();
    {
        ModalWatcher watcher([](QWidget* w) {
            pressOk(w);
            return true;
        });
        EXPECT_EQ(camera->getAcqPrm(nullptr), 1);
    }
    camera->reglage();

    QWidget view;
    CSuiviController controller;
    controller.createPanels(&view, camera.get(), [](int) {});
    {
        ModalWatcher watcher([](QWidget* w) {
            pressOk(w);
            return true;
        });
        controller.editParams();
    }
    ImageBuffer image;
    image.resize(kWidth, kHeight);
    LoopRun run;
    EXPECT_EQ(camera->acquerir(image.pixels), 0);
    ImageBuffer first(image);
    const StarLock lock = lockStar(first, StarMarker{}, guidingLock(16));
    controller.startGuiding(image, 0, 0, false);
    EXPECT_EQ(controller.zone(), lock.zone);
    std::vector<double> distances;
    // Unguided, the measuring zone follows the star by hand.
    float lastX = lock.refX, lastY = lock.refY;
    for (int i = 0; i < kImages; ++i) {
        if (camera->acquerir(image.pixels) != 0) {
            ++run.lost;
            continue;
        }
        const GuideZone zone =
            guided ? controller.zone()
                   : zoneAround(std::int64_t(lastX), std::int64_t(lastY), zoneHalfSize(16));
        float x = 0, y = 0;
        measureCentroid(image, static_cast<unsigned short>(lock.threshold), zone, x, y);
        if (std::isnan(x) || std::isnan(y)) {
            ++run.lost;
            continue;
        }
        lastX = x;
        lastY = y;
        distances.push_back(std::hypot(x - lock.refX, y - lock.refY));
        run.driftX = x - lock.refX;
        run.driftY = y - lock.refY;
        if (guided) {
            // What this tick computes from the controller's state before it runs.
            const GuideTick expected = evaluateGuideTick(
                image, loadGuideParams(controller.dialog()->prm),
                GuideState{lock.refX, lock.refY, controller.zone(), lock.threshold});
            if (expected.moveSent)
                run.issued.push_back(expected.move);
            controller.guideTick(image);
            EXPECT_EQ(controller.zone(), expected.zone) << "image " << i;
        }
    }
    // The last move may still be on its way through the line.
    const std::size_t frames = framesOf(run.issued).size();
    LoggedMoves logged;
    QElapsedTimer waited;
    waited.start();
    do {
        logged = readLoggedMoves(logPath);
        if (logged.frames.size() >= frames && logged.applied >= int(frames))
            break;
        QTest::qWait(20);
    } while (waited.elapsed() < 3000);
    run.received = logged.frames;
    run.applied = logged.applied;
    double sum = 0;
    const std::size_t n = std::min<std::size_t>(30, distances.size());
    for (std::size_t k = distances.size() - n; k < distances.size(); ++k)
        sum += distances[k] * distances[k];
    run.rmsLast30 = n ? std::sqrt(sum / double(n)) : 1e9;
    return run;
}

} // namespace

TEST(ClosedLoop, GuidingHoldsADriftingStarWithTheMovesItComputed) {
    const LoopRun unguided = runLoop(false);
    const LoopRun guided = runLoop(true);
    RecordProperty("unguided_drift_px",
                   std::to_string(std::hypot(unguided.driftX, unguided.driftY)));
    RecordProperty("guided_rms_px", std::to_string(guided.rmsLast30));
    std::printf("unguided drift %.2f, %.2f px (%.2f px); guided RMS over the last 30 images "
                "%.3f px; %zu moves issued, %zu move frames received\n",
                unguided.driftX, unguided.driftY, std::hypot(unguided.driftX, unguided.driftY),
                guided.rmsLast30, guided.issued.size(), guided.received.size());
    EXPECT_EQ(unguided.lost, 0);
    EXPECT_EQ(guided.lost, 0);
    EXPECT_GT(std::hypot(unguided.driftX, unguided.driftY), 3.0) << "the sky must drift";
    EXPECT_LT(guided.rmsLast30, 0.5);

    // Nothing moves the mount of the unguided run.
    EXPECT_TRUE(unguided.received.empty());
    EXPECT_EQ(unguided.applied, 0);
    // Guided, every move frame the mount received is one of the moves the
    // controller computed, in the order it computed them, and none is missing;
    // correcting a steady drift moves the mount on most images.
    EXPECT_GE(guided.issued.size(), std::size_t(kImages / 2));
    const std::vector<Bytes> expected = framesOf(guided.issued);
    EXPECT_EQ(hexOf(guided.received), hexOf(expected));
    EXPECT_EQ(guided.applied, int(expected.size())) << "every frame a move the mount applies";
}
