// The camera through indi_kovrel_ccd against the program's own acquisition:
// full-frame exposure to BLOB at the simulator's full rate, and the CPU the
// driver process uses while the camera exposes.
#include "CCamera.h"
#include "OwnSettingsFolder.h"
#include "SettingsStore.h"
#include "common/CamsimProcess.h"
#include "indi/IndiRig.h"

#include <baseclient.h>
#include <basedevice.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char* const device = "Kovrel CCD";

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// An INDI client that counts the images it receives.
class BlobClient : public INDI::BaseClient {
public:
    void updateProperty(INDI::Property p) override {
        if (p.getType() != INDI_BLOB || std::string(p.getName()) != "CCD1")
            return;
        std::lock_guard<std::mutex> lock(mutex);
        ++images;
        bytes = p.getBLOB()->at(0)->getSize();
        changed.notify_all();
    }
    bool waitImages(int count, int timeoutMs) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return images >= count; });
    }
    bool waitProperty(const char* name, int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!getDevice(device).getProperty(name).isValid()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    int count() {
        std::lock_guard<std::mutex> lock(mutex);
        return images;
    }
    int bytes = 0;

private:
    std::mutex mutex;
    std::condition_variable changed;
    int images = 0;
};

// indiserver + driver + simulator, with a client receiving the images.
struct DriverSetup {
    CamsimProcess sim{{"--port", "12"}};
    std::unique_ptr<IndiRig> rig;
    BlobClient client;
    bool ok = false;

    // local: through indiserver's local socket, images handed over without
    // encoding, as KStars does on the same machine; otherwise over TCP.
    explicit DriverSetup(bool local) {
        const std::string line = sim.readLine();
        if (line.find("-> ") == std::string::npos)
            return;
        rig = std::make_unique<IndiRig>();
        if (local) {
            client.setServer(("localhost:" + rig->socketPath()).c_str(), 0);
            client.enableDirectBlobAccess(device, "CCD1");
        } else {
            client.setServer("localhost", unsigned(rig->port()));
        }
        client.watchDevice(device);
        if (!client.connectServer() || !client.waitProperty("DEVICE_PORT", 5000))
            return;
        client.setBLOBMode(B_ALSO, device, nullptr);
        client.sendNewText(device, "DEVICE_PORT", "PORT",
                           line.substr(line.find("-> ") + 3).c_str());
        client.sendNewSwitch(device, "CONNECTION", "CONNECT");
        ok = client.waitProperty("CCD_EXPOSURE", 5000);
    }
    ~DriverSetup() { client.disconnectServer(); }
    bool expose(double seconds, int timeoutMs) {
        const int before = client.count();
        client.sendNewNumber(device, "CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", seconds);
        return client.waitImages(before + 1, timeoutMs);
    }
};

// The program's way: CCamera on COM<n> through the stored port number.
struct ProgramSetup {
    CamsimProcess sim{{"--port", "13"}};
    std::unique_ptr<CCamera> camera = std::make_unique<CCamera>();
    std::vector<unsigned short> pixels = std::vector<unsigned short>(1280 * 1024);

    explicit ProgramSetup(int hundredths) {
        sim.readLine();
        SettingsStore::writeInt("AcqPrm", "prm2", 13);
        SettingsStore::writeInt("AcqPrm", "option4", 1);
        camera->init();
        camera->setPause(float(hundredths) / 100.0f);
        camera->reglage();
    }
    bool acquire() { return camera->acquerir(pixels.data()) == 0; }
};

// Each iteration takes one full frame both ways, alternately, under the same
// load. Arguments: exposure in hundredths; 1 for the local socket, 0 for TCP.
void BM_FullFrameDriverAgainstProgram(benchmark::State& state) {
    const int hundredths = int(state.range(0));
    const double seconds = hundredths / 100.0;
    ProgramSetup program(hundredths);
    DriverSetup driver(state.range(1) != 0);
    if (!driver.ok) {
        state.SkipWithError("driver not connected");
        return;
    }
    driver.expose(seconds, 30000); // the first upload happens here, as the program's did above
    double byProgram = 0, byDriver = 0;
    for (auto _ : state) {
        double t0 = wallSeconds();
        if (!program.acquire())
            state.SkipWithError("program acquisition failed");
        byProgram += wallSeconds() - t0;
        t0 = wallSeconds();
        if (!driver.expose(seconds, 30000))
            state.SkipWithError("no image from the driver");
        byDriver += wallSeconds() - t0;
    }
    const double n = double(state.iterations());
    state.counters["program_ms"] = 1000 * byProgram / n;
    state.counters["driver_ms"] = 1000 * byDriver / n;
    state.counters["blob_bytes"] = driver.client.bytes;
    // Images per second through the driver over images per second in the program.
    state.counters["driver_to_program"] = byProgram / byDriver;
}
BENCHMARK(BM_FullFrameDriverAgainstProgram)
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({100, 0})
    ->Args({100, 1})
    ->Iterations(5)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

double processCpuSeconds(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    // Fields after the command name, which ends with the last ')'.
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

// A 12 s exposure: the driver's CPU from 1 s to 11 s, while the camera exposes
// and the driver answers the countdown.
void BM_DriverCpuWhileCameraExposes(benchmark::State& state) {
    DriverSetup driver(true);
    if (!driver.ok) {
        state.SkipWithError("driver not connected");
        return;
    }
    const pid_t pid = driver.rig->driverPid();
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const int before = driver.client.count();
        driver.client.sendNewNumber(device, "CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 12.0);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double c0 = processCpuSeconds(pid), w0 = wallSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        cpu += processCpuSeconds(pid) - c0;
        wall += wallSeconds() - w0;
        if (!driver.client.waitImages(before + 1, 30000))
            state.SkipWithError("no image from the driver");
    }
    state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
}
BENCHMARK(BM_DriverCpuWhileCameraExposes)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return runBenchmarksInOwnSettingsFolder("bench_indi", argc, argv);
}
