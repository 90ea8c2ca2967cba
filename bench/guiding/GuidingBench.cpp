#include "CCumul.h"
#include "StarMeasure.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

// Full-sensor frames, the size every guiding and accumulation step meets.
namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;

void fill(ImageBuffer& img, std::uint32_t seed, int hi) {
    img.resize(kWidth, kHeight);
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> dist(0, hi);
    for (std::int64_t i = 0; i < img.pixelCount(); ++i)
        img.pixels[i] = static_cast<unsigned short>(dist(gen));
}

// The same in-place pass reading all nine pixels, to show what the sliding
// column sums save.
void smoothNineReads(ImageBuffer& img, int left, int right, int top, int bottom) {
    const int w = img.width;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) {
            unsigned sum = 0;
            for (int j = -1; j <= 1; ++j)
                for (int i = -1; i <= 1; ++i)
                    sum += img.pixels[(y + j) * w + x + i];
            img.pixels[y * w + x] = static_cast<unsigned short>(sum / 9);
        }
}

void BM_SmoothBox3FullFrame(benchmark::State& state) {
    ImageBuffer img;
    fill(img, 1, 65535);
    for (auto _ : state) {
        smoothBox3(img, 32, kWidth - 32, 32, kHeight - 32);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * (kWidth - 65) * (kHeight - 65));
}
BENCHMARK(BM_SmoothBox3FullFrame);

void BM_SmoothNineReadsFullFrame(benchmark::State& state) {
    ImageBuffer img;
    fill(img, 1, 65535);
    for (auto _ : state) {
        smoothNineReads(img, 32, kWidth - 32, 32, kHeight - 32);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * (kWidth - 65) * (kHeight - 65));
}
BENCHMARK(BM_SmoothNineReadsFullFrame);

void BM_FindPeakFullFrame(benchmark::State& state) {
    ImageBuffer img;
    fill(img, 2, 65535);
    int col = 0, row = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(findPeak(img, 32, kWidth - 32, 32, kHeight - 32, col, row));
    state.SetItemsProcessed(state.iterations() * (kWidth - 63) * (kHeight - 63));
}
BENCHMARK(BM_FindPeakFullFrame);

void BM_MeasureCentroidZone(benchmark::State& state) {
    ImageBuffer img;
    fill(img, 3, 65535);
    const int h = static_cast<int>(state.range(0)) / 2;
    float x = 0, y = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(measureCentroid(img, 30000, zoneAround(640, 512, h), x, y));
    state.SetItemsProcessed(state.iterations() * (2 * h + 1) * (2 * h + 1));
}
BENCHMARK(BM_MeasureCentroidZone)->Arg(10)->Arg(32)->Arg(256);

// A full-frame stack started on one random image, and another image.
void startStack(StackSum& stack, ImageBuffer& next) {
    ImageBuffer first;
    fill(first, 4, 8000);
    fill(next, 5, 8000);
    stack.start(first);
}

void BM_AddShiftedFullFrame(benchmark::State& state) {
    StackSum stack;
    ImageBuffer src;
    startStack(stack, src);
    for (auto _ : state) {
        addShifted(stack, src, 3, -2);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * (kWidth - 3) * (kHeight - 2));
}
BENCHMARK(BM_AddShiftedFullFrame);

// The document's picture of the stack after every image.
void BM_StackMeanFullFrame(benchmark::State& state) {
    StackSum stack;
    ImageBuffer out;
    startStack(stack, out);
    for (int i = 0; i < 7; ++i)
        addShifted(stack, out, 3, -2);
    for (auto _ : state) {
        stack.writeMean(out);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_StackMeanFullFrame);

} // namespace
