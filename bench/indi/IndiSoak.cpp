// Soak run of indi_kovrel_ccd as a client sees it through indiserver:
// EXPOSURES exposures of mixed lengths on a small window, with aborts, guide
// pulses and two disconnections at random moments, against the simulator at
// full line speed. Checks that every exposure ends in exactly one image or in
// its abort, that no property is left Busy, and that the driver's resident
// size and open descriptors stay flat. Prints the figures; exit status 0 when
// all hold.
//
//   build/bin/soak_indi [EXPOSURES] [SEED]      (defaults: 300 1)
#include "OwnSettingsFolder.h"
#include "common/CamsimProcess.h"
#include "indi/IndiClient.h"
#include "indi/IndiRig.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Resident size (kB) and open descriptors of a process.
struct Footprint {
    long rssKb = 0;
    int fds = 0;
};

Footprint footprint(pid_t pid) {
    Footprint f;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string key; status >> key;) {
        if (key == "VmRSS:") {
            status >> f.rssKb;
            break;
        }
    }
    if (DIR* d = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (dirent* e = ::readdir(d))
            f.fds += e->d_name[0] != '.';
        ::closedir(d);
    }
    return f;
}

const double lengths[] = {0, 0.01, 0.05, 0.1, 0.2, 0.5, 1.0, 1.5};
// An abort comes at least this long before the camera's end of exposure, so
// that it always finds the exposure under way.
const double abortMargin = 0.3;
const int imageTimeoutMs = 30000;

struct Soak {
    IndiRig& rig;
    IndiClient& client;
    std::string port;
    std::mt19937 random;
    int images = 0, aborts = 0, pulses = 0, failures = 0;

    void fail(const std::string& what) {
        ++failures;
        std::fprintf(stderr, "soak: %s\n", what.c_str());
    }

    bool connect() {
        const std::size_t from = client.updates("CONNECTION").size();
        if (!client.waitDefined("DEVICE_PORT", 5000))
            return false;
        client.setText("DEVICE_PORT", "PORT", port);
        client.setSwitch("CONNECTION", "CONNECT");
        if (client.waitState("CONNECTION", IPS_OK, imageTimeoutMs, from) < 0 ||
            !client.waitDefined("CCD_FRAME", 5000))
            return false;
        // What a capture module sends before its jobs: binning, then the window.
        client.setNumbers("CCD_BINNING", {{"HOR_BIN", 2}, {"VER_BIN", 2}});
        client.setNumbers("CCD_FRAME", {{"X", 320}, {"Y", 256}, {"WIDTH", 320}, {"HEIGHT", 256}});
        return client.waitUpdate(
                   "CCD_FRAME", [](const auto& u) { return u.values[2] == 320; }, 5000) >= 0;
    }

    void pulse() {
        static const char* const axes[][2] = {{"TELESCOPE_TIMED_GUIDE_NS", "TIMED_GUIDE_N"},
                                              {"TELESCOPE_TIMED_GUIDE_NS", "TIMED_GUIDE_S"},
                                              {"TELESCOPE_TIMED_GUIDE_WE", "TIMED_GUIDE_E"},
                                              {"TELESCOPE_TIMED_GUIDE_WE", "TIMED_GUIDE_W"}};
        const auto& a = axes[random() % 4];
        client.setNumber(a[0], a[1], double(10 + random() % 190));
        ++pulses;
    }

    // One exposure, maybe a pulse during it, maybe its abort or a disconnection.
    void expose(bool disconnect) {
        const double length = disconnect ? 1.5 : lengths[random() % std::size(lengths)];
        const bool abort = length > abortMargin && random() % 5 == 0;
        const std::size_t before = client.images();
        const std::size_t from = client.updates("CCD_EXPOSURE").size();
        client.setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", length);
        if (random() % 4 == 0)
            pulse();
        if (abort || disconnect) {
            std::uniform_real_distribution<double> when(0, length - abortMargin);
            std::this_thread::sleep_for(std::chrono::duration<double>(when(random)));
            if (disconnect) {
                client.setSwitch("CONNECTION", "DISCONNECT");
                if (client.waitState("CONNECTION", IPS_IDLE, 5000) < 0)
                    fail("disconnection not answered");
                if (!connect())
                    fail("no reconnection");
            } else {
                client.setSwitch("CCD_ABORT_EXPOSURE", "ABORT");
                if (client.waitState("CCD_EXPOSURE", IPS_IDLE, 5000, from) < 0)
                    fail("abort not answered");
            }
            ++aborts;
            return;
        }
        if (!client.waitImages(before + 1, imageTimeoutMs))
            return fail("no image for a " + std::to_string(length) + " s exposure");
        ++images;
    }
};

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 300;
    const unsigned seed = argc > 2 ? unsigned(std::atoi(argv[2])) : 1;
    const OwnSettingsFolder settings("soak_indi");
    CamsimProcess sim({"--port", "14", "--drift", "0.3,0.1"});
    const std::string line = sim.readLine();
    if (line.find("-> ") == std::string::npos) {
        std::fprintf(stderr, "soak: camsim did not start\n");
        return 1;
    }
    IndiRig rig;
    IndiClient client(rig);
    Soak soak{rig, client, line.substr(line.find("-> ") + 3), std::mt19937(seed)};
    if (!client.isReady() || !soak.connect()) {
        std::fprintf(stderr, "soak: the driver did not connect\n%s", rig.log().c_str());
        return 1;
    }
    const pid_t driver = rig.driverPid();
    const auto started = Clock::now();
    Footprint first, peak, last;
    std::vector<int> disconnectAt = {count / 3, 2 * count / 3};
    for (int i = 0; i < count; ++i) {
        const bool disconnect =
            std::find(disconnectAt.begin(), disconnectAt.end(), i) != disconnectAt.end();
        soak.expose(disconnect);
        const Footprint f = footprint(driver);
        if (i == count / 10)
            first = f; // after the first allocations and the upload thread's start
        peak.rssKb = std::max(peak.rssKb, f.rssKb);
        peak.fds = std::max(peak.fds, f.fds);
    }
    // The aborted exposures' images are still made and sent by the camera: give
    // them the time to arrive, so that one the driver let through is counted.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    last = footprint(driver);
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    const std::size_t received = client.images();
    const auto busy = client.busyProperties();

    std::printf("exposures            %d in %.1f s (%d images, %d aborted, 2 of them by a "
                "disconnection)\n",
                count, seconds, soak.images, soak.aborts);
    std::printf("images received      %zu (one per exposure that was not aborted: %s)\n", received,
                int(received) == soak.images ? "yes" : "NO");
    std::printf("guide pulses         %d\n", soak.pulses);
    std::printf("busy at the end      %zu%s%s\n", busy.size(), busy.empty() ? "" : ": ",
                busy.empty() ? "" : busy.front().c_str());
    std::printf("driver resident kB   %ld after %d exposures, %ld at the end, peak %ld\n",
                first.rssKb, count / 10, last.rssKb, peak.rssKb);
    std::printf("driver descriptors   %d after %d exposures, %d at the end, peak %d\n", first.fds,
                count / 10, last.fds, peak.fds);
    const bool flat = last.rssKb - first.rssKb < 2048 && last.fds == first.fds;
    const bool ok = soak.failures == 0 && int(received) == soak.images && busy.empty() && flat;
    std::printf("%s\n", ok ? "soak: all held" : "soak: FAILED");
    return ok ? 0 : 1;
}
