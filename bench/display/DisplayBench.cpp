#include "DisplayBitmap.h"
#include "ImageBuffer.h"
#include "LevelMapper.h"
#include "LevelWindow.h"
#include "LiteralMapping.h"
#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;
constexpr std::size_t kPixels = std::size_t(kWidth) * kHeight;
constexpr int kBitmapWidth = (kWidth & ~3) + 4;

// A full sensor frame of sky: noisy background with a few hundred stars, so
// most pixels share a handful of histogram bins as real frames do.
const ImageBuffer& skyFrame() {
    static ImageBuffer image = [] {
        ImageBuffer im;
        im.resize(kWidth, kHeight);
        std::mt19937 rng(42);
        std::normal_distribution<double> noise(1800.0, 60.0);
        for (std::size_t i = 0; i < kPixels; ++i)
            im.pixels[i] = static_cast<unsigned short>(std::clamp(noise(rng), 0.0, 65535.0));
        std::uniform_real_distribution<double> pos(0.0, 1.0);
        for (int s = 0; s < 300; ++s) {
            const double cx = pos(rng) * kWidth, cy = pos(rng) * kHeight;
            const double peak = 2000.0 + pos(rng) * 60000.0;
            for (int y = int(cy) - 6; y <= int(cy) + 6; ++y)
                for (int x = int(cx) - 6; x <= int(cx) + 6; ++x) {
                    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight)
                        continue;
                    const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                    unsigned short& p = im.pixels[std::size_t(y) * kWidth + x];
                    p = static_cast<unsigned short>(
                        std::min(65535.0, p + peak * std::exp(-r2 / 4.0)));
                }
        }
        return im;
    }();
    return image;
}

// Two windows used in turn so that every timed recomputation rebuilds the table.
void window(int i, int& lo, int& hi) {
    levelWindow(8 + (i & 1), 128, lo, hi);
}

// Times one full-frame mapping into a bitmap of bytesPerPixel, with the
// window changed at every iteration; map(pixels, bits, lo, hi).
template <typename Map>
void timeMapping(benchmark::State& state, std::size_t bytesPerPixel, Map map) {
    const ImageBuffer& image = skyFrame();
    std::vector<std::uint8_t> bits(bytesPerPixel * kBitmapWidth * kHeight);
    int i = 0;
    for (auto _ : state) {
        int lo, hi;
        window(i++, lo, hi);
        map(image.pixels, bits.data(), lo, hi);
        benchmark::DoNotOptimize(bits.data());
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

void timeGrey(benchmark::State& state, KernelCode code) {
    LevelMapper mapper;
    timeMapping(state, 1, [&](const unsigned short* px, std::uint8_t* bits, int lo, int hi) {
        mapper.setWindow(lo, hi);
        mapper.mapGrey(px, kWidth, kHeight, kBitmapWidth, bits, code);
    });
}

void BM_GreyMapping(benchmark::State& state) {
    timeGrey(state, KernelCode::Fastest);
}

// The plain loops alone, as CPUs without AVX2 (and other architectures) run them.
void BM_GreyMappingPortable(benchmark::State& state) {
    timeGrey(state, KernelCode::Portable);
}

void BM_GreyMappingLiteral(benchmark::State& state) {
    timeMapping(state, 1, [](const unsigned short* px, std::uint8_t* bits, int lo, int hi) {
        literal::mapGrey(px, kWidth, kHeight, kBitmapWidth, bits, lo, hi);
    });
}

void timeColour(benchmark::State& state, KernelCode code) {
    LevelMapper mapper;
    timeMapping(state, 3, [&](const unsigned short* px, std::uint8_t* bits, int lo, int hi) {
        mapper.setWindow(lo, hi);
        mapper.demosaicColour(px, kWidth, kHeight, kBitmapWidth, bits, code);
    });
}

void BM_ColourConversion(benchmark::State& state) {
    timeColour(state, KernelCode::Fastest);
}

void BM_ColourConversionPortable(benchmark::State& state) {
    timeColour(state, KernelCode::Portable);
}

void BM_ColourConversionLiteral(benchmark::State& state) {
    timeMapping(state, 3, [](const unsigned short* px, std::uint8_t* bits, int lo, int hi) {
        literal::demosaicColour(px, kWidth, kHeight, kBitmapWidth, bits, lo, hi);
    });
}

// The camera's own kind of sky for the statistics: whole 8-bit samples times
// 128, background near 4500 with a noise of about 600 levels (several
// histogram bins, where the frame above keeps to two).
const ImageBuffer& cameraSkyFrame() {
    static ImageBuffer image = [] {
        ImageBuffer im(skyFrame());
        std::mt19937 rng(7);
        std::normal_distribution<double> noise(4500.0, 600.0);
        for (std::size_t i = 0; i < kPixels; ++i) {
            const double v = noise(rng) + std::max(0, im.pixels[i] - 2000);
            im.pixels[i] =
                static_cast<unsigned short>(std::clamp(std::lround(v / 128), 0L, 255L) * 128);
        }
        return im;
    }();
    return image;
}

void timeStatistics(benchmark::State& state, const ImageBuffer& frame,
                    StatsCode code = StatsCode::Fastest) {
    ImageBuffer image(frame);
    for (auto _ : state) {
        image.invalidateStats();
        image.computeStats(code);
        benchmark::DoNotOptimize(image.stats.mean);
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_Statistics(benchmark::State& state) {
    timeStatistics(state, skyFrame());
}

void BM_StatisticsCameraSky(benchmark::State& state) {
    timeStatistics(state, cameraSkyFrame());
}

// The plain loops alone, on both skies.
void BM_StatisticsPortable(benchmark::State& state) {
    timeStatistics(state, skyFrame(), StatsCode::Portable);
}

void BM_StatisticsCameraSkyPortable(benchmark::State& state) {
    timeStatistics(state, cameraSkyFrame(), StatsCode::Portable);
}

void BM_StatisticsLiteral(benchmark::State& state) {
    const ImageBuffer& image = skyFrame();
    literal::Stats stats;
    for (auto _ : state) {
        literal::computeStats(image.pixels, kWidth, kHeight, stats);
        benchmark::DoNotOptimize(stats.mean);
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

// memcpy of the frame's 16-bit pixels (what every pass reads) and of the
// 8-bit and 24-bit bitmaps (what the mappings write).
void BM_Memcpy(benchmark::State& state) {
    const std::size_t bytes = std::size_t(state.range(0));
    std::vector<std::uint8_t> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}

} // namespace

BENCHMARK(BM_GreyMapping)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GreyMappingPortable)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GreyMappingLiteral)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ColourConversion)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ColourConversionPortable)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ColourConversionLiteral)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Statistics)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StatisticsCameraSky)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StatisticsPortable)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StatisticsCameraSkyPortable)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StatisticsLiteral)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Memcpy)
    ->Arg(int(kPixels * 2))                             // 16-bit frame
    ->Arg(int(std::size_t(kBitmapWidth) * kHeight))     // 8-bit bitmap
    ->Arg(int(3 * std::size_t(kBitmapWidth) * kHeight)) // 24-bit bitmap
    ->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const std::string frame = "BM_Memcpy/" + std::to_string(kPixels * 2);
    const std::string grey = "BM_Memcpy/" + std::to_string(std::size_t(kBitmapWidth) * kHeight);
    const std::string colour =
        "BM_Memcpy/" + std::to_string(3 * std::size_t(kBitmapWidth) * kHeight);
    // Fastest (AVX2 where the CPU has it) beside the portable loops, each
    // against a memcpy of the frame; on CPU time, which a busy machine
    // disturbs least.
    RatioReporter reporter(
        {
            {"grey mapping: literal / ours", "BM_GreyMappingLiteral", "BM_GreyMapping"},
            {"grey mapping: ours / memcpy of the frame", "BM_GreyMapping", frame},
            {"grey mapping, portable: ours / memcpy", "BM_GreyMappingPortable", frame},
            {"grey mapping: ours / memcpy of the bitmap", "BM_GreyMapping", grey},
            {"colour conversion: literal / ours", "BM_ColourConversionLiteral",
             "BM_ColourConversion"},
            {"colour conversion: ours / memcpy of the frame", "BM_ColourConversion", frame},
            {"colour conversion, portable: ours / memcpy", "BM_ColourConversionPortable", frame},
            {"colour conversion: ours / memcpy of the bitmap", "BM_ColourConversion", colour},
            {"statistics: literal / ours", "BM_StatisticsLiteral", "BM_Statistics"},
            {"statistics: ours / memcpy of the frame", "BM_Statistics", frame},
            {"statistics, portable: ours / memcpy", "BM_StatisticsPortable", frame},
            {"statistics, camera sky: ours / memcpy", "BM_StatisticsCameraSky", frame},
            {"statistics, camera sky, portable: ours / memcpy", "BM_StatisticsCameraSkyPortable",
             frame},
        },
        RatioReporter::Time::Cpu);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
