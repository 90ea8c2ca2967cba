// Full-frame 1280 x 1024 16-bit FITS write and read, this program's writer and
// reader against CFITSIO on the same image and the same folder, with the
// ratios printed at the end (below 1: faster than CFITSIO).
#include "FitsHeader.h"
#include "ImageBuffer.h"
#include "ImageFileReader.h"
#include "ImageSave.h"
#include "OwnSettingsFolder.h"
#include "RatioReporter.h"

#include <QCoreApplication>
#include <QDir>
#include <benchmark/benchmark.h>
#include <fitsio.h>

#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;

std::string& folder() {
    static std::string dir;
    return dir;
}

std::string path(const char* name) {
    return folder() + "/" + name;
}

ImageBuffer& frame() {
    static ImageBuffer image;
    if (!image.pixels) {
        image.resize(kWidth, kHeight);
        std::mt19937 rng(1);
        for (std::int64_t i = 0; i < image.pixelCount(); ++i)
            image.pixels[i] = static_cast<unsigned short>(rng());
    }
    return image;
}

void BM_WriteFits_Zermic(benchmark::State& state) {
    ImageBuffer& image = frame();
    const FitsHeader header = fitsHeaderFor(image, 1700000000);
    const std::string file = path("zermic.fit");
    for (auto _ : state) {
        // A new file each time, as CFITSIO's "!" name does, so both pay the same
        // file-system work.
        std::remove(file.c_str());
        std::FILE* f = std::fopen(file.c_str(), "wb");
        if (header.writeFits(f, image.pixels) != 0)
            state.SkipWithError("write failed");
        std::fclose(f);
    }
    state.SetBytesProcessed(state.iterations() * image.pixelCount() * 2);
}

void BM_WriteFits_Cfitsio(benchmark::State& state) {
    ImageBuffer& image = frame();
    std::string file = "!";
    file += path("cfitsio.fit");
    long axes[2] = {kWidth, kHeight};
    for (auto _ : state) {
        fitsfile* f = nullptr;
        int status = 0;
        fits_create_file(&f, file.c_str(), &status);
        fits_create_img(f, USHORT_IMG, 2, axes, &status);
        fits_write_img(f, TUSHORT, 1, image.pixelCount(), image.pixels, &status);
        fits_close_file(f, &status);
        if (status)
            state.SkipWithError("CFITSIO write failed");
    }
    state.SetBytesProcessed(state.iterations() * image.pixelCount() * 2);
}

void BM_ReadFits_Zermic(benchmark::State& state) {
    ImageBuffer image;
    const std::string file = path("zermic.fit");
    for (auto _ : state) {
        if (loadImageFile(image, file.c_str()) != ImageLoadResult::Ok)
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(image.pixels);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(kWidth) * kHeight * 2);
}

void BM_ReadFits_Cfitsio(benchmark::State& state) {
    ImageBuffer image;
    image.resize(kWidth, kHeight);
    const std::string file = path("cfitsio.fit");
    for (auto _ : state) {
        fitsfile* f = nullptr;
        int status = 0;
        int bitpix = 0, naxis = 0, anyNull = 0;
        long axes[2] = {};
        fits_open_file(&f, file.c_str(), READONLY, &status);
        fits_get_img_param(f, 2, &bitpix, &naxis, axes, &status);
        fits_read_img(f, TUSHORT, 1, LONGLONG(axes[0]) * axes[1], nullptr, image.pixels, &anyNull,
                      &status);
        fits_close_file(f, &status);
        if (status)
            state.SkipWithError("CFITSIO read failed");
        benchmark::DoNotOptimize(image.pixels);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(kWidth) * kHeight * 2);
}

// The document's whole save: temporary file, fsync and rename. Shown for
// scale; CFITSIO has no counterpart that syncs.
void BM_SaveFits_Zermic(benchmark::State& state) {
    ImageBuffer& image = frame();
    const QString file = QString::fromStdString(path("saved.fit"));
    for (auto _ : state) {
        if (saveFits(file, image, 1700000000) != 0)
            state.SkipWithError("save failed");
    }
}

// Write benchmarks run first so the read benchmarks find their files.
BENCHMARK(BM_WriteFits_Zermic)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteFits_Cfitsio)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadFits_Zermic)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadFits_Cfitsio)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveFits_Zermic)->Unit(benchmark::kMillisecond)->UseRealTime();

// Prints this program's time over CFITSIO's for each pair after the table.
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The writer reads the AcqPrm settings; keep the user's store out of it.
    const OwnSettingsFolder settings("zermic-bench");
    if (!settings.ok())
        return 1;
    folder() = settings.path();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter({
        {"WriteFits: Zermic / CFITSIO time ratio", "BM_WriteFits_Zermic/real_time",
         "BM_WriteFits_Cfitsio/real_time"},
        {"ReadFits: Zermic / CFITSIO time ratio", "BM_ReadFits_Zermic/real_time",
         "BM_ReadFits_Cfitsio/real_time"},
    });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
