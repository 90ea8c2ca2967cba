// Guiding against the camera simulator: the controller measures real images
// from the driver and its moves reach the simulated mount, which shifts the sky.
#include "CCamera.h"
#include "SettingsStore.h"
#include "StarMeasure.h"
#include "SuiviController.h"
#include "SuiviPrmDialog.h"
#include "common/ModalWatcher.h"

#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPort = 7;
constexpr int kWidth = 160;
constexpr int kHeight = 128;
constexpr int kImages = 60;

// camsim as a child process; gone with the object.
class Camsim {
public:
    explicit Camsim(std::vector<std::string> args) {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], 1);
            ::close(fds[0]);
            ::close(fds[1]);
            std::string path = CAMSIM_PATH;
            std::vector<char*> argv{path.data()};
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(path.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out = fds[0];
    }
    ~Camsim() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        if (out >= 0)
            ::close(out);
    }
    // True once it has printed its "camsim: COM<n> -> ..." line.
    bool ready() {
        std::string line;
        char c = 0;
        for (;;) {
            pollfd p{out, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0 || ::read(out, &c, 1) != 1)
                return false;
            if (c == '\n')
                return line.rfind("camsim: COM", 0) == 0;
            line += c;
        }
    }

private:
    pid_t pid = -1;
    int out = -1;
};

void pressOk(QWidget* w) {
    QTimer::singleShot(
        0, qApp, [w] { QTest::mouseClick(findControlAs<QPushButton>(w, 1), Qt::LeftButton); });
}

struct LoopRun {
    double driftX = 0.0; // star position at the end, from the reference
    double driftY = 0.0;
    double rmsLast30 = 0.0;
    int lost = 0; // images where the star was not measured
};

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

    Camsim sim({"--port", std::to_string(kPort), "--drift", "0.05,-0.04", "--time-scale", "0.05",
                "--seed", "3"});
    EXPECT_TRUE(sim.ready());
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
        if (guided)
            controller.guideTick(image);
    }
    double sum = 0;
    const std::size_t n = std::min<std::size_t>(30, distances.size());
    for (std::size_t k = distances.size() - n; k < distances.size(); ++k)
        sum += distances[k] * distances[k];
    run.rmsLast30 = n ? std::sqrt(sum / double(n)) : 1e9;
    return run;
}

} // namespace

TEST(ClosedLoop, GuidingHoldsADriftingStar) {
    const LoopRun unguided = runLoop(false);
    const LoopRun guided = runLoop(true);
    RecordProperty("unguided_drift_px",
                   std::to_string(std::hypot(unguided.driftX, unguided.driftY)));
    RecordProperty("guided_rms_px", std::to_string(guided.rmsLast30));
    std::printf("unguided drift %.2f, %.2f px; guided RMS over the last 30 images %.3f px\n",
                unguided.driftX, unguided.driftY, guided.rmsLast30);
    EXPECT_EQ(unguided.lost, 0);
    EXPECT_EQ(guided.lost, 0);
    EXPECT_GT(std::hypot(unguided.driftX, unguided.driftY), 3.0) << "the sky must drift";
    EXPECT_LT(guided.rmsLast30, 0.5);
}
