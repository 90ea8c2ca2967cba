#include "FocusMeasure.h"
#include "SkyRenderer.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

// The focus figures of every new image: the star search over a full frame,
// and the measurement of one star in its box.
namespace {

constexpr unsigned short kClipped = 255 << 7;

// The simulator's sky as the program receives it: 8-bit samples times 128,
// hundreds of stars, hot pixels and noise.
void renderField(ImageBuffer& image, int width, int height, double fwhm) {
    SkySettings s;
    s.seeingFwhm = fwhm;
    SkyRenderer renderer(s);
    ImageRequest r;
    r.width = r.lineBytes = width;
    r.lines = height;
    r.exposure = 1.0;
    std::vector<std::uint8_t> samples;
    renderer.render(r, ReadoutSettings{}, Offset{}, 1, samples);
    image.resize(width, height);
    for (std::size_t i = 0; i < samples.size(); ++i)
        image.pixels[i] = static_cast<unsigned short>(samples[i] << 7);
}

void BM_FocusBrightestStarFullFrame(benchmark::State& state) {
    ImageBuffer image;
    renderField(image, 1280, 1024, double(state.range(0)));
    FocusMeter meter;
    for (auto _ : state)
        benchmark::DoNotOptimize(meter.brightestStar(image, kClipped));
    state.SetItemsProcessed(state.iterations() * image.pixelCount());
}
BENCHMARK(BM_FocusBrightestStarFullFrame)->Arg(3)->Arg(8)->Unit(benchmark::kMillisecond);

// One star in a 64 x 64 box (half-size 32 around it).
void BM_FocusMeasureBox64(benchmark::State& state) {
    ImageBuffer image;
    renderField(image, 1280, 1024, double(state.range(0)));
    FocusMeter meter;
    const FocusStar star = meter.brightestStar(image, kClipped);
    const int x = int(star.x), y = int(star.y);
    for (auto _ : state)
        benchmark::DoNotOptimize(meter.measureInBox(image, x, y, 32, kClipped));
}
BENCHMARK(BM_FocusMeasureBox64)->Arg(3)->Arg(8)->Unit(benchmark::kMicrosecond);

} // namespace
