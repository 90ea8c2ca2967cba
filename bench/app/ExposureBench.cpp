#include "CCamera.h"
#include "ImageProgress.h"
#include "OwnSettingsFolder.h"
#include "SettingsStore.h"
#include "common/CamsimProcess.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <QTimer>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

namespace {

const int benchPort = 12;
const std::size_t fullFrame = 1280 * 1024;
const float exposureSeconds = 2.0f;

double processCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The simulator at full transfer rate on the bench's port, a camera set to a
// full frame of exposureSeconds, and a window whose status bar shows the
// progress as the program's does.
struct Bench {
    CamsimProcess camsim{{"--port", std::to_string(benchPort)}};
    CCamera camera;
    QMainWindow window;
    QLabel* pane = new QLabel(&window);
    std::vector<unsigned short> pixels = std::vector<unsigned short>(fullFrame);
    bool ready = false;

    Bench() {
        ready = camsim.readLine(10000).find("camsim: COM") == 0;
        window.statusBar()->addWidget(pane, 1);
        window.resize(800, 600);
        window.show();
        SettingsStore::writeInt("AcqPrm", "prm2", benchPort);
        camera.setPause(exposureSeconds);
        camera.init();
        camera.reglage();
    }
    void show(const QString& text) {
        pane->setText(text);
        pane->repaint();
    }
};

// A full frame with the event loop turned by the progress reports: the longest
// gap between two ticks of a 5 ms timer over the whole call (exposure and
// readout).
void BM_LongestEventLoopPauseDuringFullFrame(benchmark::State& state) {
    Bench b;
    if (!b.ready) {
        state.SkipWithError("camsim did not start");
        return;
    }
    ImageProgress progress([&b](const QString& t) { b.show(t); });
    qint64 longest = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        qint64 last = 0;
        QTimer probe;
        probe.setInterval(5);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            longest = std::max(longest, clock.elapsed() - last);
            last = clock.elapsed();
        });
        probe.start();
        clock.start();
        if (progress.run([&b] { return b.camera.acquerir(b.pixels.data()); }) != 0)
            state.SkipWithError("acquisition failed");
        longest = std::max(longest, clock.elapsed() - last);
    }
    state.counters["longest_pause_ms"] = double(longest);
}
BENCHMARK(BM_LongestEventLoopPauseDuringFullFrame)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The process's CPU from the exposure's start to the first readout report,
// with nothing but the progress reports turning the loop.
void BM_CpuWhileTheCameraExposes(benchmark::State& state) {
    Bench b;
    if (!b.ready) {
        state.SkipWithError("camsim did not start");
        return;
    }
    double cpu0 = 0, cpu = 0, wall = 0;
    QElapsedTimer clock;
    bool exposing = false;
    ImageProgress progress([&](const QString& t) {
        b.show(t);
        if (t.startsWith(QStringLiteral("Pose")) && !exposing) {
            exposing = true;
            cpu0 = processCpuSeconds();
            clock.start();
        } else if (t.startsWith(QStringLiteral("Lecture")) && exposing) {
            exposing = false;
            cpu += processCpuSeconds() - cpu0;
            wall += double(clock.elapsed()) / 1000.0;
        }
    });
    for (auto _ : state)
        if (progress.run([&b] { return b.camera.acquerir(b.pixels.data()); }) != 0)
            state.SkipWithError("acquisition failed");
    state.counters["cpu_percent_of_core"] = wall > 0 ? 100.0 * cpu / wall : -1;
}
BENCHMARK(BM_CpuWhileTheCameraExposes)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    const OwnSettingsFolder settings("bench_app");
    if (!settings.ok())
        return 1;
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
