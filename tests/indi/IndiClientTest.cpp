// indi_kovrel_ccd as KStars/Ekos drives it: a client on libindi's client
// library, the real indiserver, the driver and the simulator.
#include "IndiClient.h"
#include "IndiFiles.h"
#include "IndiRig.h"

#include "common/CamsimProcess.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <limits>
#include <map>
#include <regex>
#include <sstream>
#include <sys/stat.h>

namespace {

using Clock = IndiClient::Clock;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Seconds since the epoch: of a FITS date (UTC, with its fraction), and of a
// moment the client saw.
double utcSeconds(const std::string& iso) {
    std::tm t{};
    double fraction = 0;
    std::istringstream in(iso);
    in >> std::get_time(&t, "%Y-%m-%dT%H:%M:%S") >> fraction;
    return double(::timegm(&t)) + fraction;
}
double utcSeconds(Clock::time_point t) {
    const auto wall = std::chrono::system_clock::now() - (Clock::now() - t);
    return std::chrono::duration<double>(wall.time_since_epoch()).count();
}

// The simulator, indiserver with the driver, and a client, each test its own.
class Session {
public:
    explicit Session(std::vector<std::string> simArgs = {}, bool traceMessages = false)
        : sim(withLog(simArgs)), rig(traceMessages), client(rig) {
        EXPECT_TRUE(client.isReady());
        const std::string line = sim.readLine();
        pts = line.substr(line.find("-> ") + 3);
    }

    // What Ekos does: the port, then CONNECT; false unless Ok within timeoutMs.
    bool connect(const std::string& port, int timeoutMs = 10000) {
        if (!client.waitDefined("DEVICE_PORT", 5000))
            return false;
        client.setText("DEVICE_PORT", "PORT", port);
        const std::size_t from = client.updates("CONNECTION").size();
        client.setSwitch("CONNECTION", "CONNECT");
        const long i = client.waitUpdate(
            "CONNECTION", [](const auto& u) { return u.state == IPS_OK || u.state == IPS_ALERT; },
            timeoutMs, from);
        // The driver's own properties are defined last.
        return i >= 0 && client.updates("CONNECTION")[std::size_t(i)].state == IPS_OK &&
               client.waitDefined("KOVREL_HIGH_GAIN", 5000);
    }
    bool connect() { return connect(pts); }

    // Exposes and returns the image's FITS; empty after timeoutMs.
    std::string expose(double seconds, int timeoutMs = 30000) {
        const std::size_t before = client.images();
        client.setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", seconds);
        return client.waitImages(before + 1, timeoutMs) ? client.lastImage() : std::string();
    }

    // Simulator log lines from `from` on containing `text`.
    std::vector<std::string> simLines(const std::string& text, std::size_t from = 0) {
        std::vector<std::string> out;
        const auto lines = logLines(simLog);
        for (std::size_t i = from; i < lines.size(); ++i)
            if (lines[i].find(text) != std::string::npos)
                out.push_back(lines[i]);
        return out;
    }
    std::size_t simLogSize() { return logLines(simLog).size(); }

    TempDir dir;
    std::string simLog = dir.file("camsim.log");
    CamsimProcess sim;
    IndiRig rig;
    IndiClient client;
    std::string pts;

private:
    std::vector<std::string> withLog(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", "9", "--log", simLog});
        return args;
    }
};

// Seconds of each exposure the simulator made, from line `from` of its log on.
std::vector<double> exposures(Session& s, std::size_t from) {
    std::vector<double> out;
    static const std::regex exposing(R"(exposing ([0-9.]+) s)");
    for (const std::string& l : s.simLines("exposing", from)) {
        std::smatch m;
        if (std::regex_search(l, m, exposing))
            out.push_back(std::stod(m[1].str()));
    }
    return out;
}

} // namespace

// Ekos connects and loads the saved configuration at every connection: no
// property may then be deleted or defined twice (KStars reads a deleted one
// and crashes), every vector has members, and the saved window and binning
// come back.
TEST(IndiClient, ConnectionWithConfigurationLoadKeepsEveryProperty) {
    Session s({}, true);
    ASSERT_TRUE(s.connect());
    s.client.setNumbers("CCD_BINNING", {{"HOR_BIN", 2}, {"VER_BIN", 2}});
    s.client.setNumbers("CCD_FRAME", {{"X", 320}, {"Y", 256}, {"WIDTH", 640}, {"HEIGHT", 512}});
    ASSERT_GE(s.client.waitState("CCD_FRAME", IPS_OK, 5000, 1), 0);
    s.client.setSwitch("CONFIG_PROCESS", "CONFIG_SAVE");
    ASSERT_GE(s.client.waitState("CONFIG_PROCESS", IPS_OK, 5000, 1), 0);
    s.client.setSwitch("CCD_FRAME_RESET", "RESET"); // not saved
    s.client.setSwitch("CONNECTION", "DISCONNECT");
    ASSERT_GE(s.client.waitState("CONNECTION", IPS_IDLE, 5000, 1), 0);

    const std::size_t mark = s.rig.serverLog().size();
    const std::size_t frames = s.client.updates("CCD_FRAME").size();
    ASSERT_TRUE(s.connect());
    const auto saved = [](std::vector<double> v) {
        return [v](const IndiClient::Update& u) { return u.values == v; };
    };
    EXPECT_GE(s.client.waitUpdate("CCD_FRAME", saved({320, 256, 640, 512}), 5000, frames), 0);
    EXPECT_EQ(s.client.updates("CCD_BINNING").back().values, (std::vector<double>{2, 2}));
    const std::size_t loads = s.client.updates("CONFIG_PROCESS").size();
    s.client.setSwitch("CONFIG_PROCESS", "CONFIG_LOAD");
    ASSERT_GE(s.client.waitState("CONFIG_PROCESS", IPS_OK, 5000, loads), 0) << s.rig.log();

    // What indiserver passed to the client since the reconnection.
    std::map<std::string, int> defined;
    static const std::regex queued(
        R"(queuing <(def\w+Vector|delProperty) device='Kovrel CCD' name='(\w+)')");
    const std::string log = s.rig.serverLog().substr(mark);
    for (std::sregex_iterator m(log.begin(), log.end(), queued), end; m != end; ++m) {
        EXPECT_NE((*m)[1], "delProperty") << (*m)[2] << " deleted";
        EXPECT_EQ(++defined[(*m)[2]], 1) << (*m)[2] << " defined again";
    }
    EXPECT_GT(defined.size(), 20u);
    for (const auto& [name, count] : defined)
        EXPECT_GT(s.client.members(name), 0) << name << " has no members";
    EXPECT_EQ(s.rig.log().find("no valid members"), std::string::npos) << s.rig.log();

    // The earlier driver kept gain and offset among the camera's settings.
    const std::string config = s.rig.home() + "/.indi/Kovrel CCD_config.xml";
    ASSERT_TRUE(exists(config));
    std::ofstream(config) << "<INDIDriver>\n"
                             "<newNumberVector device='Kovrel CCD' name='KOVREL_SETTINGS'>\n"
                             "  <oneNumber name='GAIN'>17</oneNumber>\n"
                             "  <oneNumber name='OFFSET'>7</oneNumber>\n"
                             "  <oneNumber name='TIME_BASE'>60</oneNumber>\n"
                             "</newNumberVector>\n"
                             "</INDIDriver>\n";
    const std::size_t connection = s.client.updates("CONNECTION").size();
    s.client.setSwitch("CONNECTION", "DISCONNECT");
    ASSERT_GE(s.client.waitState("CONNECTION", IPS_IDLE, 5000, connection), 0);
    const std::size_t settings = s.client.updates("KOVREL_SETTINGS").size();
    ASSERT_TRUE(s.connect());
    EXPECT_GE(s.client.waitUpdate("CCD_GAIN", saved({17}), 5000), 0);
    EXPECT_GE(s.client.waitUpdate("CCD_OFFSET", saved({7}), 5000), 0);
    EXPECT_GE(s.client.waitUpdate("KOVREL_SETTINGS", saved({60}), 5000, settings), 0);
    const auto kept = s.client.updates("KOVREL_SETTINGS");
    for (std::size_t i = settings; i < kept.size(); ++i)
        EXPECT_NE(kept[i].state, IPS_ALERT);
}

// After a bias, the countdown of a 3 s exposure ticks a few times a second;
// EXPTIME, the countdown and the log give the exposure the camera makes.
TEST(IndiClient, CountdownAfterBiasAndTheExposureTheCameraMakes) {
    Session s;
    ASSERT_TRUE(s.connect());
    s.client.setNumbers("CCD_BINNING", {{"HOR_BIN", 2}, {"VER_BIN", 2}});
    const std::size_t before = s.client.images();
    s.client.setSwitch("CCD_FRAME_TYPE", "FRAME_BIAS");
    s.client.setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 0);
    s.client.setSwitch("CCD_FRAME_TYPE", "FRAME_LIGHT");
    const std::size_t from = s.client.updates("CCD_EXPOSURE").size();
    s.client.setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 3);
    // The 3 s request replaces the bias, unless the bias was quick enough to arrive first.
    const auto lightArrived = [&](std::size_t n) {
        return s.client.waitImages(n, 30000) && readFitsBytes(s.client.lastImage()).exptime > 1;
    };
    ASSERT_TRUE(lightArrived(before + 1) || lightArrived(before + 2)) << s.rig.log();
    const auto all = s.client.updates("CCD_EXPOSURE");
    std::vector<IndiClient::Update> busy;
    for (std::size_t i = from + 1; i < all.size(); ++i)
        if (all[i].state == IPS_BUSY)
            busy.push_back(all[i]);
    ASSERT_FALSE(busy.empty());
    const auto ticks = std::count_if(busy.begin(), busy.end(), [&](const auto& u) {
        return u.at - busy.front().at > std::chrono::milliseconds(200);
    });
    EXPECT_GE(ticks, 2) << "the countdown moves while the camera exposes";
    const double span = std::chrono::duration<double>(busy.back().at - busy.front().at).count();
    EXPECT_LE(double(busy.size()), 2 + 20 * span) << busy.size() << " updates in " << span << " s";

    // 4 s on a 640-pixel line: one long period and a half, 5 s.
    s.client.setNumbers("CCD_BINNING", {{"HOR_BIN", 1}, {"VER_BIN", 1}});
    s.client.setNumbers("CCD_FRAME", {{"X", 0}, {"Y", 0}, {"WIDTH", 640}, {"HEIGHT", 512}});
    const std::size_t simFrom = s.simLogSize();
    const std::size_t countdownFrom = s.client.updates("CCD_EXPOSURE").size();
    const std::string image = s.expose(4);
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(exposures(s, simFrom), std::vector<double>{5.0});
    EXPECT_NEAR(readFitsBytes(image).exptime, 5.0, 1e-6);
    const long first = s.client.waitState("CCD_EXPOSURE", IPS_BUSY, 0, countdownFrom);
    ASSERT_GE(first, 0);
    EXPECT_GT(s.client.updates("CCD_EXPOSURE")[std::size_t(first)].values[0], 4.5);
    EXPECT_NE(s.client.messages().find("Pose de 5.000 s"), std::string::npos);

    // DATE-OBS: when the camera started, so before its countdown first moved.
    const auto countdown = s.client.updates("CCD_EXPOSURE");
    const auto moved =
        std::find_if(countdown.begin() + long(countdownFrom), countdown.end(),
                     [](const auto& u) { return u.state == IPS_BUSY && u.values[0] < 4.9; });
    ASSERT_NE(moved, countdown.end());
    EXPECT_LE(utcSeconds(readFitsBytes(image).dateObs), utcSeconds(moved->at) + 0.01);
}

// The camera cannot stop its exposure, but the exposures queued behind it go.
TEST(IndiClient, AbortDropsTheQueuedExposures) {
    Session s;
    ASSERT_TRUE(s.connect());
    s.client.setNumbers("CCD_BINNING", {{"HOR_BIN", 2}, {"VER_BIN", 2}});
    // Full lines: the time base counts 6 s exactly.
    s.client.setNumbers("CCD_FRAME", {{"X", 0}, {"Y", 0}, {"WIDTH", 1280}, {"HEIGHT", 256}});
    ASSERT_FALSE(s.expose(0.1).empty());

    std::size_t simFrom = s.simLogSize();
    const auto start = Clock::now();
    for (int i = 0; i < 2; ++i) {
        s.client.setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 6);
        if (i == 0) { // the camera is in it
            ASSERT_TRUE(waitForLog(s.simLog, "exposing 6.000 s", 10000)) << s.client.messages();
        }
        s.client.setSwitch("CCD_ABORT_EXPOSURE", "ABORT");
    }
    ASSERT_GE(s.client.waitState("CCD_ABORT_EXPOSURE", IPS_OK, 5000), 0);
    const std::size_t countdownFrom = s.client.updates("CCD_EXPOSURE").size();
    ASSERT_FALSE(s.expose(1).empty());
    EXPECT_EQ(exposures(s, simFrom), (std::vector<double>{6.0, 1.0}));
    // A queued 6 s exposure left in would make it 6 + 6 + 1 s at least.
    EXPECT_LT(secondsSince(start), 6 + 6 + 1.0) << "the first exposure, then this one";
    const long first = s.client.waitState("CCD_EXPOSURE", IPS_BUSY, 0, countdownFrom);
    ASSERT_GE(first, 0);
    EXPECT_GT(s.client.updates("CCD_EXPOSURE")[std::size_t(first)].values[0], 3.0)
        << "the wait behind the exposure under way";

    simFrom = s.simLogSize();
    for (int i = 0; i < 20; ++i) {
        s.client.setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 1);
        s.client.setSwitch("CCD_ABORT_EXPOSURE", "ABORT");
    }
    ASSERT_FALSE(s.expose(0.05).empty());
    EXPECT_LE(exposures(s, simFrom).size(), 2u);
}

// Disconnecting and connecting again while the camera exposes: every request
// is answered at once; the connection completes once the camera is free. A
// pulse under way ends with the disconnection.
TEST(IndiClient, ReconnectionDuringAnExposureAnswersAtOnce) {
    Session s;
    ASSERT_TRUE(s.connect());
    s.client.setNumbers("CCD_BINNING", {{"HOR_BIN", 2}, {"VER_BIN", 2}});
    s.client.setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 8);
    ASSERT_TRUE(waitForLog(s.simLog, "exposing", 10000));
    s.client.setNumber("TELESCOPE_TIMED_GUIDE_NS", "TIMED_GUIDE_N", 5000);
    ASSERT_GE(s.client.waitState("TELESCOPE_TIMED_GUIDE_NS", IPS_BUSY, 5000), 0);

    const auto roundTrip = [&](const std::string& property, const std::function<void()>& send) {
        const std::size_t from = s.client.updates(property).size();
        const auto t = Clock::now();
        send();
        EXPECT_GE(s.client.waitUpdate(
                      property, [](const auto&) { return true; }, 10000, from),
                  0);
        return secondsSince(t);
    };
    EXPECT_LT(roundTrip("CONNECTION", [&] { s.client.setSwitch("CONNECTION", "DISCONNECT"); }),
              2.0);
    const std::size_t connecting = s.client.updates("CONNECTION").size();
    EXPECT_LT(roundTrip("CONNECTION", [&] { s.client.setSwitch("CONNECTION", "CONNECT"); }), 2.0);
    EXPECT_EQ(s.client.updates("CONNECTION").back().state, IPS_BUSY);
    // No switch on: answered with the connection as it stands.
    EXPECT_LT(roundTrip("CONNECTION", [&] { s.client.setSwitch("CONNECTION", ""); }), 2.0);
    EXPECT_EQ(s.client.updates("CONNECTION").back().state, IPS_BUSY);
    EXPECT_EQ(s.client.updates("CONNECTION").back().values, (std::vector<double>{1, 0}));
    EXPECT_LT(roundTrip("POLLING_PERIOD",
                        [&] { s.client.setNumber("POLLING_PERIOD", "PERIOD_MS", 900); }),
              2.0);
    ASSERT_GE(s.client.waitState("CONNECTION", IPS_OK, 60000, connecting), 0) << s.rig.log();
    ASSERT_TRUE(s.client.waitDefined("KOVREL_HIGH_GAIN", 5000));

    const auto guide = s.client.updates("TELESCOPE_TIMED_GUIDE_NS");
    EXPECT_NE(guide.back().state, IPS_BUSY) << "defined again as the disconnection left it";
    EXPECT_EQ(s.client.busyProperties(), std::vector<std::string>{}) << "no exposure under way";
    EXPECT_EQ(readFitsBytes(s.expose(0.5)).exptime, 0.5);
}

// The pixel size never touches the window; the standard gain and offset reach
// the camera's registers and the FITS header of the image they were taken with.
TEST(IndiClient, PixelSizeKeepsTheWindowAndGainReachesTheCamera) {
    Session s;
    ASSERT_TRUE(s.connect());
    const std::size_t bins = s.client.updates("CCD_BINNING").size();
    s.client.setNumbers("CCD_BINNING", {{"HOR_BIN", 3}, {"VER_BIN", 3}});
    ASSERT_GE(s.client.waitState("CCD_BINNING", IPS_ALERT, 5000, bins), 0);
    EXPECT_EQ(s.client.updates("CCD_BINNING").back().values, (std::vector<double>{1, 1}));
    EXPECT_NE(s.client.messages().find("Binning 3 non disponible"), std::string::npos);

    s.client.setNumbers("CCD_BINNING", {{"HOR_BIN", 2}, {"VER_BIN", 2}});
    s.client.setNumbers("CCD_FRAME", {{"X", 320}, {"Y", 256}, {"WIDTH", 640}, {"HEIGHT", 512}});
    s.client.setNumber("CCD_GAIN", "GAIN", 17);
    s.client.setNumber("CCD_OFFSET", "OFFSET", 7);
    const std::size_t simFrom = s.simLogSize();
    const std::size_t from = s.client.updates("CCD_EXPOSURE").size();
    s.client.setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 2);
    ASSERT_GE(s.client.waitState("CCD_EXPOSURE", IPS_BUSY, 5000, from), 0);
    s.client.setNumber("KOVREL_PIXEL_SIZE", "PIXEL_SIZE", 5.2);
    s.client.setNumber("CCD_GAIN", "GAIN", 30);
    ASSERT_TRUE(s.client.waitImages(1, 30000));
    const Fits f = readFitsBytes(s.client.lastImage());
    EXPECT_EQ(f.width, 320);
    EXPECT_EQ(f.height, 256);
    EXPECT_EQ(f.xbinning, 2);
    EXPECT_EQ(f.xorg, 160);
    EXPECT_EQ(f.gain, 17) << "the gain the image was taken with";
    EXPECT_EQ(f.offset, 7);
    EXPECT_EQ(s.client.updates("CCD_FRAME").back().values,
              (std::vector<double>{320, 256, 640, 512}));
    EXPECT_EQ(s.client.updates("CCD_BINNING").back().values, (std::vector<double>{2, 2}));
    EXPECT_NEAR(s.client.updates("CCD_INFO").back().values[2], 5.2, 1e-9);

    // The settings upload before the image request carries both registers.
    const auto lines = logLines(s.simLog);
    const long request = find(lines, "image start", long(simFrom));
    for (const char* reg : {"register 0x10 = 0x11", "register 0x23 = 0x07"}) {
        const long at = find(lines, reg, long(simFrom));
        EXPECT_TRUE(at >= 0 && at < request) << reg;
    }
    EXPECT_EQ(readFitsBytes(s.expose(0.1)).gain, 30);
    EXPECT_EQ(s.simLines("register 0x10 = 0x1E", std::size_t(request)).size(), 1u);
}

// A pulse too short for one move unit completes at once and sends nothing;
// the pulses after it go the way their property says. A pulse replaced or
// ended while its move waits behind an image transfer never reaches the mount.
TEST(IndiClient, EveryPulseCompletesAndGoesItsOwnWay) {
    Session s({"--rate", "80000"}); // the image below takes 4 s to arrive
    ASSERT_TRUE(s.connect());
    s.client.setNumbers("CCD_BINNING", {{"HOR_BIN", 4}, {"VER_BIN", 4}});
    s.client.setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 0.1);
    ASSERT_TRUE(waitForLog(s.simLog, "sending", 10000));
    const auto pulse = [&](const char* property, const char* element, double ms) {
        const std::size_t from = s.client.updates(property).size();
        s.client.setNumbers(property, {{element, ms}});
        return s.client.waitState(property, ms > 0 ? IPS_BUSY : IPS_IDLE, 5000, from);
    };
    ASSERT_GE(pulse("TELESCOPE_TIMED_GUIDE_WE", "TIMED_GUIDE_W", 100), 0);
    const long east = pulse("TELESCOPE_TIMED_GUIDE_WE", "TIMED_GUIDE_E", 50);
    ASSERT_GE(east, 0);
    ASSERT_GE(pulse("TELESCOPE_TIMED_GUIDE_NS", "TIMED_GUIDE_N", 100), 0);
    EXPECT_GE(pulse("TELESCOPE_TIMED_GUIDE_NS", "TIMED_GUIDE_N", 0), 0);
    ASSERT_TRUE(s.client.waitImages(1, 30000));
    EXPECT_GE(s.client.waitState("TELESCOPE_TIMED_GUIDE_WE", IPS_IDLE, 5000, east + 1), 0);
    ASSERT_TRUE(waitForLog(s.simLog, "move first axis +50", 5000));
    const auto lines = logLines(s.simLog);
    EXPECT_GT(find(lines, "move first axis +50"), find(lines, "image 1: sent"))
        << "the moves waited for the end of the transfer";
    EXPECT_TRUE(s.simLines("move second axis").empty()) << "ended before it went out";

    std::size_t from = s.client.updates("TELESCOPE_TIMED_GUIDE_WE").size();
    s.client.setNumber("TELESCOPE_TIMED_GUIDE_WE", "TIMED_GUIDE_W", 0.4);
    ASSERT_GE(s.client.waitState("TELESCOPE_TIMED_GUIDE_WE", IPS_IDLE, 5000, from), 0);
    EXPECT_NE(s.client.messages().find("rien n'est envoyé"), std::string::npos);
    s.client.setNumber("KOVREL_GUIDE_UNITS", "UNITS_PER_MS", 2.5);
    for (int i = 0; i < 3; ++i) {
        from = s.client.updates("TELESCOPE_TIMED_GUIDE_WE").size();
        s.client.setNumber("TELESCOPE_TIMED_GUIDE_WE", "TIMED_GUIDE_E", 100);
        const long busy = s.client.waitState("TELESCOPE_TIMED_GUIDE_WE", IPS_BUSY, 5000, from);
        ASSERT_GE(busy, 0);
        ASSERT_GE(s.client.waitState("TELESCOPE_TIMED_GUIDE_WE", IPS_IDLE, 5000, busy + 1), 0);
    }
    EXPECT_EQ(s.simLines("move first axis +250").size(), 3u);
    EXPECT_TRUE(s.simLines("move first axis -").empty()) << "the west pulse was replaced";
}

// Only a serial terminal is ever opened; every number is checked before it
// goes anywhere: refused with Alert and a message, nothing sent.
TEST(IndiClient, BadPortsAndValuesAreRefused) {
    Session s;
    const std::string file = s.dir.file("notes.txt"), fifo = s.dir.file("fifo");
    std::ofstream(file) << "M42, 30 x 120 s, seeing 2\"\n";
    const std::string kept = readFile(file);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& port : {file, std::string("/dev/zero"), fifo, std::string("/dev/null"),
                                    std::string("/dev/ptmx")}) {
        EXPECT_FALSE(s.connect(port)) << port;
        EXPECT_EQ(s.client.updates("CONNECTION").back().state, IPS_ALERT) << port;
    }
    EXPECT_EQ(readFile(file), kept) << "left byte for byte";
    EXPECT_NE(s.client.messages().find("n'est pas un port série"), std::string::npos);

    ASSERT_TRUE(s.connect());
    ASSERT_FALSE(s.expose(0.1).empty());
    const std::size_t simFrom = s.simLogSize();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* property;
        std::vector<std::pair<std::string, double>> values;
    } bad[] = {
        {"CCD_EXPOSURE", {{"CCD_EXPOSURE_VALUE", nan}}},
        {"CCD_EXPOSURE", {{"CCD_EXPOSURE_VALUE", -1}}},
        {"CCD_EXPOSURE", {{"CCD_EXPOSURE_VALUE", 4000}}},
        {"CCD_FRAME", {{"X", 63.7}}},
        {"CCD_FRAME", {{"WIDTH", nan}}},
        {"CCD_BINNING", {{"HOR_BIN", 2.5}, {"VER_BIN", 2.5}}},
        {"CCD_GAIN", {{"GAIN", 64}}},
        {"CCD_GAIN", {{"GAIN", nan}}},
        {"CCD_OFFSET", {{"OFFSET", -1}}},
        {"KOVREL_SETTINGS", {{"TIME_BASE", 90.5}}},
        {"KOVREL_COLOUR_GAINS", {{"C", nan}}},
        {"KOVREL_PIXEL_SIZE", {{"PIXEL_SIZE", nan}}},
        {"KOVREL_GUIDE_UNITS", {{"UNITS_PER_MS", nan}}},
        {"TELESCOPE_TIMED_GUIDE_WE", {{"TIMED_GUIDE_E", nan}}},
        {"TELESCOPE_TIMED_GUIDE_WE", {{"TIMED_GUIDE_W", -5}}},
        {"TELESCOPE_TIMED_GUIDE_NS", {{"TIMED_GUIDE_N", 1e9}}},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(std::string(b.property) + "." + b.values[0].first + " = " +
                     std::to_string(b.values[0].second));
        const std::size_t from = s.client.updates(b.property).size();
        const std::vector<double> before = s.client.updates(b.property).back().values;
        s.client.setNumbers(b.property, b.values);
        const long i = s.client.waitState(b.property, IPS_ALERT, 5000, from);
        ASSERT_GE(i, 0);
        EXPECT_EQ(s.client.updates(b.property)[std::size_t(i)].values, before);
        EXPECT_EQ(s.client.updates(b.property).size(), std::size_t(i) + 1) << "nothing else";
    }
    EXPECT_NE(s.client.messages().find("Valeur refusée pour CCD_FRAME.X : 63.7"),
              std::string::npos);
    const Fits f = readFitsBytes(s.expose(0.1));
    EXPECT_FALSE(f.dateObs.empty());
    EXPECT_EQ(f.xbinning, 1);
    EXPECT_EQ(s.simLines("image start", simFrom).size(), 1u) << "only this image";
    // A settings upload always carries the geometry and the period words.
    EXPECT_TRUE(s.simLines("geometry", simFrom).empty()) << "no setting reached the camera";
    EXPECT_TRUE(s.simLines("word", simFrom).empty());
    EXPECT_TRUE(s.simLines("move", simFrom).empty());
}
