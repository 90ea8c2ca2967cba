#include "CCamera.h"
#include "CameraProtocol.h"
#include "OwnSettingsFolder.h"
#include "SerialLink.h"
#include "SerialPort.h"
#include "SettingsStore.h"
#include "common/PtyPair.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QString>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const int benchPort = 11;
const std::size_t fullFrame = 1280 * 1024;
const std::size_t requestBytes = 35;
const std::size_t startUpBytes = 40;
const std::size_t settingsBytes = 235;

// A pseudo-terminal linked as the bench's COM port.
struct PtyCamera {
    PtyPair pty;
    std::string link;
    std::vector<unsigned char> frame;
    PtyCamera() : frame(fullFrame) {
        for (std::size_t i = 0; i < frame.size(); ++i)
            frame[i] = static_cast<unsigned char>(i * 31 + (i >> 11));
        QDir().mkpath(QString::fromStdString(serialPortsFolder()));
        link = serialPortsFolder() + "/COM" + std::to_string(benchPort);
        ::unlink(link.c_str());
        if (::symlink(pty.slavePath().c_str(), link.c_str()) != 0)
            std::abort();
    }
    ~PtyCamera() { ::unlink(link.c_str()); }
    // Waits for `request` bytes, then after `delay` sends a full frame.
    std::thread answer(std::size_t request, std::chrono::milliseconds delay) {
        return std::thread([this, request, delay] {
            if (pty.receiveExactly(request, 10000).size() != request)
                return;
            std::this_thread::sleep_for(delay);
            pty.send(frame.data(), frame.size());
        });
    }
};

double threadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// acquerir of a full frame while the camera takes 2 s before it sends: the
// share of one core the driver's thread uses over the whole call.
void BM_AcquireCpuWhileCameraExposes(benchmark::State& state) {
    PtyCamera cam;
    SettingsStore::writeInt("AcqPrm", "prm2", benchPort);
    auto camera = std::make_unique<CCamera>(); // defaults: full frame, binning 1, 1 s
    camera->init();
    camera->reglage();
    cam.pty.receiveExactly(startUpBytes + settingsBytes, 5000);
    std::vector<unsigned short> pixels(fullFrame);
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        std::thread peer = cam.answer(requestBytes, std::chrono::milliseconds(2000));
        const double c0 = threadCpuSeconds(), w0 = wallSeconds();
        if (camera->acquerir(pixels.data()) != 0)
            state.SkipWithError("acquisition failed");
        cpu += threadCpuSeconds() - c0;
        wall += wallSeconds() - w0;
        peer.join();
    }
    state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
    state.counters["cpu_ms_per_image"] = 1000.0 * cpu / double(state.iterations());
}
BENCHMARK(BM_AcquireCpuWhileCameraExposes)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// One full frame through the pseudo-terminal, alternately by a plain read loop
// (poll, read, nothing else) and by the driver's request, receive and convert.
void BM_FullFrameReceiveAndConvert(benchmark::State& state) {
    PtyCamera cam;
    PosixSerialPort port;
    SerialLink::setPort(&port);
    SerialLink& link = SerialLink::instance();
    link.setPortNumber(benchPort);
    if (link.portOpen() != 0) {
        state.SkipWithError("cannot open the pseudo-terminal");
        return;
    }
    std::vector<unsigned char> raw(fullFrame);
    std::vector<unsigned short> pixels(fullFrame);
    double plain = 0, driver = 0;
    for (auto _ : state) {
        std::thread peer = cam.answer(1, std::chrono::milliseconds(0));
        double t0 = wallSeconds();
        const unsigned char trigger = 0;
        port.write(&trigger, 1);
        std::size_t got = 0;
        while (got < fullFrame) {
            const long r = port.read(raw.data() + got, fullFrame - got);
            if (r > 0)
                got += std::size_t(r);
            else if (r == 0)
                port.waitReadable(100);
            else
                break;
        }
        plain += wallSeconds() - t0;
        peer.join();
        benchmark::DoNotOptimize(raw.data());

        peer = cam.answer(requestBytes, std::chrono::milliseconds(0));
        t0 = wallSeconds();
        if (camera_protocol::readImage(1280, 1024, 1, pixels.data(), 0.0f) != 0)
            state.SkipWithError("transfer failed");
        driver += wallSeconds() - t0;
        peer.join();
        benchmark::DoNotOptimize(pixels.data());
    }
    const double n = double(state.iterations());
    state.counters["plain_MB_per_s"] = double(fullFrame) * n / plain / 1e6;
    state.counters["driver_MB_per_s"] = double(fullFrame) * n / driver / 1e6;
    state.counters["driver_to_plain"] = plain / driver;
    link.portClose();
    SerialLink::setPort(nullptr);
}
BENCHMARK(BM_FullFrameReceiveAndConvert)
    ->Iterations(20)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The conversion alone, in memory, per binning.
void BM_ConvertFullFrame(benchmark::State& state) {
    const int binning = int(state.range(0));
    std::vector<unsigned char> samples(fullFrame);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<unsigned char>(i * 13);
    std::vector<unsigned short> pixels(fullFrame);
    const std::size_t chunk = 4095; // a pseudo-terminal hands over about this much at a time
    for (auto _ : state) {
        PixelConverter conv(pixels.data(), binning);
        for (std::size_t at = 0; at < samples.size(); at += chunk)
            conv.consume(samples.data() + at, std::min(chunk, samples.size() - at));
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(samples.size()));
}
BENCHMARK(BM_ConvertFullFrame)->Arg(1)->Arg(2)->Arg(3)->Arg(4);

} // namespace

int main(int argc, char** argv) {
    return runBenchmarksInOwnSettingsFolder("bench_camera", argc, argv);
}
