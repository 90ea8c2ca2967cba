// indi_kovrel_ccd: the mapping of INDI's requests onto the camera record, then
// the real indiserver with the driver against the simulator, driven by
// indi_setprop and indi_getprop.
#include "IndiFiles.h"
#include "IndiRig.h"
#include "KovrelMapping.h"

#include "CCamera.h"
#include "SerialLink.h"
#include "SerialPort.h"
#include "SettingsStore.h"
#include "camera/ScriptedPort.h"
#include "common/CamsimProcess.h"
#include "common/ModalWatcher.h"
#include "common/TempDir.h"

#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <memory>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <thread>

using namespace kovrel_indi;

TEST(KovrelMapping, WindowsExposuresAndPulses) {
    struct WindowCase {
        SensorWindow in;
        const char* message;
        int w, h, x0, y0;
    };
    const WindowCase windows[] = {
        {{320, 256, 640, 512, 2}, nullptr, 320, 256, 160, 128},
        {{0, 0, 1280, 1024, 3}, nullptr, 426, 341, 0, 0},
        {{1279, 1023, 1, 1, 1}, nullptr, 1, 1, 1279, 1023},
        {{640, 512, 640, 512, 4}, nullptr, 160, 128, 160, 128},
        {{1000, 0, 640, 512, 1}, "Origine non valide", 0, 0, 0, 0},
        {{0, 0, 1281, 1024, 1}, "Taille non valide", 0, 0, 0, 0},
        {{0, 0, 3, 3, 4}, "Taille non valide", 0, 0, 0, 0},
        {{0, 0, 1280, 1024, 5}, "Taille non valide", 0, 0, 0, 0},
        {{0, 0, 1280, 1024, 0}, "Taille non valide", 0, 0, 0, 0},
        {{-1, 0, 640, 512, 1}, "Origine non valide", 0, 0, 0, 0},
    };
    for (const WindowCase& c : windows) {
        AcqPrm p;
        const char* m = applyWindow(c.in, p);
        SCOPED_TRACE(std::to_string(c.in.x) + "," + std::to_string(c.in.y) + " " +
                     std::to_string(c.in.width) + "x" + std::to_string(c.in.height) + " bin " +
                     std::to_string(c.in.binning));
        if (c.message) {
            ASSERT_NE(m, nullptr);
            EXPECT_STREQ(m, c.message);
            EXPECT_EQ(p, AcqPrm()) << "a refused window leaves the record as it was";
            continue;
        }
        ASSERT_EQ(m, nullptr);
        EXPECT_EQ(p.binning, c.in.binning);
        EXPECT_EQ(p.img_w, c.w);
        EXPECT_EQ(p.img_h, c.h);
        EXPECT_EQ(p.img_x0, c.x0);
        EXPECT_EQ(p.img_y0, c.y0);
    }

    // To the nearest hundredth (2.35 stays 2.35), within what the record can hold.
    const struct {
        double seconds;
        int s, cs;
    } exposures[] = {{2.35, 2, 35}, {0.004, 0, 0}, {0.005, 0, 1}, {1e6, 3600, 99}, {-1, 0, 0}};
    for (const auto& e : exposures) {
        AcqPrm p;
        applyExposure(e.seconds, p);
        EXPECT_EQ(p.pause_s, e.s) << e.seconds;
        EXPECT_EQ(p.pause_cs, e.cs) << e.seconds;
    }

    // What the camera exposes: a hundredth on 270 ticks a second below one long
    // period (20/3 s on a full line, half that on half a line), whole periods
    // and a half above.
    const struct {
        int width, binning, s, cs;
        double exposed;
    } made[] = {{1280, 1, 1, 0, 1.0},
                {640, 2, 8, 0, 10.0},
                {640, 1, 4, 0, 5.0},
                {1280, 1, 2, 35, 634 / 270.0}};
    for (const auto& e : made) {
        AcqPrm p;
        p.img_w = e.width;
        p.binning = e.binning;
        p.pause_s = e.s;
        p.pause_cs = e.cs;
        EXPECT_DOUBLE_EQ(cameraExposure(p), e.exposed) << e.s << "." << e.cs << " s";
    }

    const double nan = std::nan("");
    const struct {
        GuideDirection d;
        double ms;
        double unitsPerMs;
        int x, y;
    } pulses[] = {
        {GuideDirection::East, 300, 1.0, 300, 0},
        {GuideDirection::West, 200, 1.0, -199, 0},
        {GuideDirection::North, 150, 1.0, 0, 150},
        {GuideDirection::South, 100, 1.0, 0, -99},
        {GuideDirection::North, 7, 0.5, 0, 4},
        {GuideDirection::West, 0, 1.0, 0, 0},
        {GuideDirection::West, 1000, 0.0004, 0, 0},
        {GuideDirection::West, 60000, 2.0, 1 - 65535, 0},
        {GuideDirection::West, 0.4, 1.0, 0, 0},
        {GuideDirection::East, 100, nan, 0, 0},
        {GuideDirection::East, nan, 1.0, 0, 0},
    };
    for (const auto& p : pulses) {
        const Move m = guideMove(p.d, p.ms, p.unitsPerMs);
        EXPECT_EQ(m.x, p.x) << p.ms << " ms";
        EXPECT_EQ(m.y, p.y) << p.ms << " ms";
    }
}

namespace {

// Bytes of the frames the simulator received, up to and including the first image request.
Bytes receivedUntilFirstImage(const std::vector<std::string>& lines) {
    static const std::regex frame(R"(^\[\s*[0-9.]+\] ((?:[0-9A-F]{2} ){4}[0-9A-F]{2})  )");
    Bytes out;
    for (const std::string& l : lines) {
        std::smatch m;
        if (!std::regex_search(l, m, frame))
            continue;
        std::istringstream hex(m[1].str());
        for (unsigned v; hex >> std::hex >> v;)
            out.push_back(static_cast<unsigned char>(v));
        if (l.find("image start") != std::string::npos)
            break;
    }
    return out;
}

// What the program itself sends for a window: its settings through the
// acquisition dialog, "Init Camera" with OK, the upload and one image.
Bytes programBytes(const std::vector<std::pair<const char*, int>>& settings, int w, int h, int b) {
    ScriptedPort port;
    SerialLink::setPort(&port);
    for (const auto& [key, value] : settings)
        SettingsStore::writeInt("AcqPrm", key, value);
    auto camera = std::make_unique<CCamera>();
    ModalWatcher watcher([](QWidget* dlg) {
        if (dlg->objectName() != "CAcqPrmDlg")
            return false;
        QTimer::singleShot(0, dlg, [dlg] { dlg->findChild<QPushButton*>("id1")->click(); });
        return true;
    });
    EXPECT_EQ(camera->getAcqPrm(nullptr), 1);
    camera->reglage();
    port.reply.push_back(Bytes(std::size_t(w) * h * b, 20));
    std::vector<unsigned short> pixels(std::size_t(w) * h);
    EXPECT_EQ(camera->acquerir(pixels.data()), 0);
    Bytes sent = port.written;
    camera.reset();
    SerialLink::setPort(nullptr);
    return sent;
}

std::time_t utcSeconds(const std::string& iso) {
    std::tm t{};
    std::istringstream in(iso);
    in >> std::get_time(&t, "%Y-%m-%dT%H:%M:%S");
    return in.fail() ? 0 : ::timegm(&t);
}

// Connects the rig's driver to a device path and sends images to `dir` as local files.
void connect(const IndiRig& rig, const std::string& path, const std::string& dir) {
    ASSERT_TRUE(rig.set("DEVICE_PORT.PORT=" + path));
    ASSERT_TRUE(rig.set("CONNECTION.CONNECT=On"));
    ASSERT_TRUE(rig.waitFor("CONNECTION._STATE", "Ok", 5000)) << rig.log();
    ASSERT_TRUE(rig.set("UPLOAD_MODE.UPLOAD_LOCAL=On"));
    ASSERT_TRUE(rig.set("UPLOAD_SETTINGS.UPLOAD_DIR;UPLOAD_PREFIX=" + dir + ";img_XXX"));
}

std::string imagePath(const std::string& dir, int n) {
    char name[32];
    std::snprintf(name, sizeof name, "/img_%03d.fits", n);
    return dir + name;
}

const int imageTimeoutMs = 20000;

} // namespace

TEST(IndiDriver, BinnedWindowCountdownAbortAndGuidePulses) {
    TempDir images;
    const std::string simLog = images.file("camsim.log");
    // 100 kB/s: the 160 kB window takes 1.6 s to arrive, time enough to pulse during it.
    CamsimProcess sim({"--port", "7", "--log", simLog, "--rate", "100000", "--seed", "5"});
    const std::string line = sim.readLine();
    ASSERT_EQ(line.rfind("camsim: COM7 -> /dev/pts/", 0), 0u) << line;
    const std::string pts = line.substr(line.find("-> ") + 3);

    IndiRig rig;
    const std::string dir = images.file("up");
    ::mkdir(dir.c_str(), 0755);
    connect(rig, pts, dir);

    // A 640 x 512 sensor window at (320, 256), binning 2, 1 s.
    ASSERT_TRUE(rig.set("CCD_BINNING.HOR_BIN;VER_BIN=2;2"));
    ASSERT_TRUE(rig.set("CCD_FRAME.X;Y;WIDTH;HEIGHT=320;256;640;512"));
    ASSERT_EQ(rig.get("CCD_FRAME._STATE"), "Ok");
    const std::time_t before = std::time(nullptr);
    ASSERT_TRUE(rig.set("CCD_EXPOSURE.CCD_EXPOSURE_VALUE=1"));
    ASSERT_TRUE(rig.waitFor("CCD_FILE_PATH.FILE_PATH", imagePath(dir, 1), imageTimeoutMs))
        << rig.log();
    EXPECT_EQ(rig.get("CCD_EXPOSURE._STATE"), "Ok");

    const Fits f = readFits(imagePath(dir, 1));
    EXPECT_EQ(f.width, 320);
    EXPECT_EQ(f.height, 256);
    EXPECT_DOUBLE_EQ(f.exptime, 1.0);
    EXPECT_EQ(f.xbinning, 2);
    EXPECT_EQ(f.xorg, 160);
    EXPECT_EQ(f.yorg, 128);
    EXPECT_EQ(f.frame, "Light");
    const std::time_t start = utcSeconds(f.dateObs);
    EXPECT_GE(start, before - 1) << f.dateObs << " is UTC, taken when the exposure started";
    EXPECT_LE(start, before + 5) << f.dateObs;
    std::vector<unsigned short> sorted = f.pixels;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const int sky = sorted[sorted.size() / 2];
    const int peak = *std::max_element(f.pixels.begin(), f.pixels.end());
    EXPECT_GT(peak - sky, 20 * 128) << "stars stand above the sky";

    // On the wire: exactly the program's start-up, settings and image request for this window.
    const Bytes expected = programBytes({{"img_w", 320},
                                         {"img_h", 256},
                                         {"img_x0", 160},
                                         {"img_y0", 128},
                                         {"binning", 2},
                                         {"pause_s", 1},
                                         {"pause_cs", 0},
                                         {"prm2", 7}},
                                        320, 256, 2);
    EXPECT_EQ(receivedUntilFirstImage(logLines(simLog)), expected);

    // The countdown while the camera exposes 3 s, and an east pulse that goes out at once;
    // the guide property is back to idle once the pulse's time is over.
    ASSERT_TRUE(rig.set("CCD_EXPOSURE.CCD_EXPOSURE_VALUE=3"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    const double left = std::stod("0" + rig.get("CCD_EXPOSURE.CCD_EXPOSURE_VALUE"));
    EXPECT_EQ(rig.get("CCD_EXPOSURE._STATE"), "Busy");
    EXPECT_GT(left, 0.3);
    EXPECT_LT(left, 2.7);
    ASSERT_TRUE(rig.set("TELESCOPE_TIMED_GUIDE_WE.TIMED_GUIDE_E=300"));
    ASSERT_TRUE(waitForLog(simLog, "move first axis +300", 5000));
    EXPECT_TRUE(rig.waitFor("TELESCOPE_TIMED_GUIDE_WE._STATE", "Idle", 5000));
    ASSERT_TRUE(rig.waitFor("CCD_FILE_PATH.FILE_PATH", imagePath(dir, 2), imageTimeoutMs));
    {
        const auto lines = logLines(simLog);
        const long move = find(lines, "move first axis +300");
        ASSERT_GE(move, 0);
        EXPECT_LT(move, find(lines, "image 2: sky offset")) << "sent while the camera exposed";
    }

    // Abort: idle at once; what the camera still sends is dropped; the next image is good.
    ASSERT_TRUE(rig.set("CCD_EXPOSURE.CCD_EXPOSURE_VALUE=2"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(rig.set("CCD_ABORT_EXPOSURE.ABORT=On"));
    EXPECT_TRUE(rig.waitFor("CCD_EXPOSURE._STATE", "Idle", 1000));
    const std::time_t afterAbort = std::time(nullptr);
    ASSERT_TRUE(rig.set("CCD_EXPOSURE.CCD_EXPOSURE_VALUE=0.5"));
    ASSERT_TRUE(rig.waitFor("CCD_FILE_PATH.FILE_PATH", imagePath(dir, 3), imageTimeoutMs));
    EXPECT_EQ(rig.get("CCD_EXPOSURE._STATE"), "Ok");
    const Fits good = readFits(imagePath(dir, 3));
    EXPECT_DOUBLE_EQ(good.exptime, 0.5);
    EXPECT_GE(utcSeconds(good.dateObs), afterAbort - 1) << "not the aborted exposure";
    EXPECT_FALSE(exists(imagePath(dir, 4)));

    // A north pulse asked for during the transfer waits for its end.
    ASSERT_TRUE(rig.set("CCD_EXPOSURE.CCD_EXPOSURE_VALUE=0.1"));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    ASSERT_TRUE(rig.set("TELESCOPE_TIMED_GUIDE_NS.TIMED_GUIDE_N=150"));
    ASSERT_TRUE(rig.waitFor("CCD_FILE_PATH.FILE_PATH", imagePath(dir, 4), imageTimeoutMs));
    ASSERT_TRUE(waitForLog(simLog, "move second axis +150", 5000));
    EXPECT_TRUE(rig.waitFor("TELESCOPE_TIMED_GUIDE_NS._STATE", "Idle", 5000));

    // West and south at rest: backward moves on their axes.
    ASSERT_TRUE(rig.set("TELESCOPE_TIMED_GUIDE_WE.TIMED_GUIDE_W=200"));
    ASSERT_TRUE(waitForLog(simLog, "move first axis -200", 5000));
    EXPECT_TRUE(rig.waitFor("TELESCOPE_TIMED_GUIDE_WE._STATE", "Idle", 5000));
    ASSERT_TRUE(rig.set("TELESCOPE_TIMED_GUIDE_NS.TIMED_GUIDE_S=100"));
    ASSERT_TRUE(waitForLog(simLog, "move second axis -100", 5000));
    EXPECT_TRUE(rig.waitFor("TELESCOPE_TIMED_GUIDE_NS._STATE", "Idle", 5000));

    const auto lines = logLines(simLog);
    const long fifth = find(lines, "image 5: sky offset");
    const long sent = find(lines, "image 5: sent", fifth);
    const long north = find(lines, "move second axis +150");
    ASSERT_GE(fifth, 0);
    ASSERT_GE(north, 0);
    EXPECT_GT(north, sent) << "not in the middle of the transfer";
    EXPECT_GT(find(lines, "move first axis -200"), north);
    EXPECT_GT(find(lines, "move second axis -100"), north);

    EXPECT_FALSE(exists(rig.driverConfig() + "/VKL_Zermic/Zermic.ini"))
        << "the driver never writes the program's settings";
}

TEST(IndiDriver, UnplugFailsTheExposureAndTheNextOneWorks) {
    TempDir images;
    CamsimProcess sim({"--port", "8", "--fault", "unplug-after=20000"});
    ASSERT_EQ(sim.readLine().rfind("camsim: COM8 -> ", 0), 0u);
    IndiRig rig;
    const std::string dir = images.file("up");
    ::mkdir(dir.c_str(), 0755);
    // The link, as a /dev/serial/by-id name: it follows the camera when it comes back.
    connect(rig, serialPortsFolder() + "/COM8", dir);

    ASSERT_TRUE(rig.set("CCD_EXPOSURE.CCD_EXPOSURE_VALUE=0.2"));
    ASSERT_TRUE(rig.waitFor("CCD_EXPOSURE._STATE", "Alert", imageTimeoutMs)) << rig.log();
    EXPECT_NE(rig.log().find("Erreur lecture image"), std::string::npos) << rig.log();
    EXPECT_EQ(rig.get("CONNECTION.CONNECT"), "On");

    ASSERT_EQ(sim.readLine(5000).rfind("camsim: COM8 -> ", 0), 0u) << "the line is back";
    ASSERT_TRUE(rig.set("CCD_EXPOSURE.CCD_EXPOSURE_VALUE=0.2"));
    ASSERT_TRUE(rig.waitFor("CCD_FILE_PATH.FILE_PATH", imagePath(dir, 1), imageTimeoutMs))
        << rig.log();
    const Fits f = readFits(imagePath(dir, 1));
    EXPECT_EQ(f.width, 1280);
    EXPECT_EQ(f.height, 1024);

    // The camera's settings go into INDI's configuration and come back at the next connection.
    ASSERT_TRUE(rig.set("CCD_GAIN.GAIN=12"));
    ASSERT_TRUE(rig.set("KOVREL_PIXEL_SIZE.PIXEL_SIZE=5.2"));
    ASSERT_TRUE(rig.set("CONFIG_PROCESS.CONFIG_SAVE=On"));
    ASSERT_TRUE(rig.set("CCD_GAIN.GAIN=3"));
    ASSERT_TRUE(rig.waitFor("CCD_GAIN.GAIN", "3", 3000));
    ASSERT_TRUE(rig.set("CONNECTION.DISCONNECT=On"));
    ASSERT_TRUE(rig.waitFor("CONNECTION.CONNECT", "Off", 5000));
    ASSERT_TRUE(rig.set("CONNECTION.CONNECT=On"));
    ASSERT_TRUE(rig.waitFor("CONNECTION._STATE", "Ok", 5000)) << rig.log();
    EXPECT_TRUE(rig.waitFor("CCD_GAIN.GAIN", "12", 3000));
    EXPECT_NEAR(std::stod("0" + rig.get("CCD_INFO.CCD_PIXEL_SIZE_X")), 5.2, 1e-5);
    EXPECT_FALSE(exists(rig.driverConfig() + "/VKL_Zermic/Zermic.ini"));
}
