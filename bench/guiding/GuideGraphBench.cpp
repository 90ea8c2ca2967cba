// What the guiding graph and the guide log cost per image: the hidden graph
// (history only), the shown graph with its repaint, and one log line.
#include "GuideGraphPanel.h"
#include "GuideLogFormat.h"

#include <QApplication>
#include <QPixmap>
#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

GuideTick tickOf(int i) {
    GuideTick t;
    t.moveSent = true;
    t.move = {-(i % 40), i % 25};
    t.ex = t.measuredEx = 0.01f * float(i % 40);
    t.ey = t.measuredEy = -0.01f * float(i % 25);
    t.level = 20000;
    return t;
}

const GuideParams params = loadGuideParams(SuiviPrm{});

void BM_GraphTickHidden(benchmark::State& state) {
    QWidget view;
    CGuideGraphPanel panel(&view);
    panel.create();
    int i = 0;
    for (auto _ : state)
        panel.guideTicked(tickOf(++i), params);
}
BENCHMARK(BM_GraphTickHidden);

// Shown: the labels, then the repaint the tick asks for, drawn at once.
void BM_GraphTickShownAndPainted(benchmark::State& state) {
    QWidget view;
    CGuideGraphPanel panel(&view);
    panel.create();
    panel.show();
    for (int i = 0; i < GuideHistory::kCapacity; ++i)
        panel.guideTicked(tickOf(i), params);
    QPixmap target(panel.window()->size());
    int i = 0;
    for (auto _ : state) {
        panel.guideTicked(tickOf(++i), params);
        panel.window()->render(&target);
    }
}
BENCHMARK(BM_GraphTickShownAndPainted)->Unit(benchmark::kMicrosecond);

void BM_GuideLogEntry(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        ++i;
        benchmark::DoNotOptimize(guideLogEntry(i, 0.25 * i, tickOf(i), params));
    }
}
BENCHMARK(BM_GuideLogEntry);

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
