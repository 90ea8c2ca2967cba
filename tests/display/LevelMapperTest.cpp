#include "LevelMapper.h"
#include "DisplayBitmap.h"
#include "GreyRamp.h"
#include "ImageBuffer.h"
#include "LevelWindow.h"
#include "LiteralMapping.h"
#include "MosaicVector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint8_t kUntouched = 0xA5;

// The hand-written vector loops where the CPU has them, and the plain loops
// every CPU runs: both must give the literal bytes.
constexpr KernelCode kCodes[] = {KernelCode::Fastest, KernelCode::Portable};

struct Window {
    int lo, hi;
};

// Windows from the sliders' corners and middle, plus hand-made ones around
// the threshold and ramp boundaries.
const Window kWindows[] = {
    {23162, 42374},  // B 128, C 128
    {-9606, 9606},   // B 0, C 128: lo negative
    {32969, 98103},  // B 256, C 1: hi beyond 65535
    {-32567, 32567}, // B 0, C 1
    {0, 0},          // B 0, C 256: threshold at 0
    {65536, 65536},  // B 256, C 256: nothing above the threshold
    {25600, 25600},  // lo = hi inside the scale
    {65535, 65535},  // threshold at the top value
    {-1, -1},        // threshold below the scale
    {1000, 1001},    // narrowest ramp
    {1000, 1002},    // ramp of one interior value
    {30000, 30100},  // ramp narrower than 255 levels
    {65400, 65535},  // ramp ending on the top value
    {-70000, 140000},
};

// The hand-made windows, then every contrast at mid brightness, every brightness
// at the lowest contrast, and every contrast at the given brightness.
std::vector<Window> sliderSweep(int brightness) {
    std::vector<Window> windows(std::begin(kWindows), std::end(kWindows));
    for (int c = 1; c <= 256; ++c) {
        int lo, hi;
        levelWindow(128, c, lo, hi);
        windows.push_back({lo, hi});
        levelWindow(c - 1, 1, lo, hi);
        windows.push_back({lo, hi});
        levelWindow(c, brightness, lo, hi);
        windows.push_back({lo, hi});
    }
    return windows;
}

std::vector<unsigned short> randomImage(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<unsigned short> px(std::size_t(w) * h);
    for (auto& v : px)
        v = static_cast<unsigned short>(rng());
    return px;
}

} // namespace

TEST(LevelMapper, TableEqualsBothRulesForEveryValue) {
    LevelMapper mapper;
    for (const Window& win : kWindows) {
        mapper.setWindow(win.lo, win.hi);
        int mismatches = 0;
        for (int v = 0; v < 65536 && mismatches < 5; ++v) {
            const auto fromTable = mapper.level(unsigned(v));
            if (fromTable != literal::greyLevel(v, win.lo, win.hi) ||
                fromTable != literal::mapLevel(v, win.lo, win.hi)) {
                ++mismatches;
                ADD_FAILURE() << "window " << win.lo << ".." << win.hi << " value " << v
                              << ": table " << int(fromTable) << ", grey "
                              << int(literal::greyLevel(v, win.lo, win.hi)) << ", colour "
                              << int(literal::mapLevel(v, win.lo, win.hi));
            }
        }
        // Sums of two pixels wrap around 65536 before the lookup.
        for (int s : {65536, 65537, 80000, 131070})
            EXPECT_EQ(mapper.level(unsigned(s)), literal::mapLevel(s, win.lo, win.hi)) << s;
    }
}

TEST(LevelMapper, GreyEdgeCasesOfTheSliders) {
    const struct {
        int brightness, contrast;
        unsigned value;
        int level;
    } cases[] = {
        {0, 128, 0, 127},       {0, 128, 9605, 254},    {0, 128, 9606, 255},
        {0, 128, 65535, 255},   {256, 1, 65535, 127},   {256, 1, 32969, 0},
        {100, 256, 25600, 0},   {100, 256, 25601, 255}, {128, 128, 23162, 0},
        {128, 128, 42374, 255}, {128, 128, 32768, 127},
    };
    LevelMapper mapper;
    for (const auto& c : cases) {
        int lo = 0, hi = 0;
        levelWindow(c.brightness, c.contrast, lo, hi);
        mapper.setWindow(lo, hi);
        EXPECT_EQ(mapper.level(c.value), c.level)
            << "B " << c.brightness << " C " << c.contrast << " v " << c.value;
    }
}

TEST(LevelMapper, GreyRowsAreBottomUpAndPaddingIsLeftAlone) {
    const int w = 5, h = 3, bw = displayBitmapRowPixels(w);
    ASSERT_EQ(bw, 8);
    // Row y holds levels 10y + x on an identity-like window.
    std::vector<unsigned short> px(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px[y * w + x] = static_cast<unsigned short>(10 * y + x);
    LevelMapper mapper;
    mapper.setWindow(0, 255);
    std::vector<std::uint8_t> bits(bw * h, kUntouched);
    mapper.mapGrey(px.data(), w, h, bw, bits.data());
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = bits.data() + (h - 1 - y) * bw;
        for (int x = 0; x < w; ++x)
            EXPECT_EQ(row[x], 10 * y + x) << x << "," << y;
        for (int x = w; x < bw; ++x)
            EXPECT_EQ(row[x], kUntouched) << "padding " << x << "," << y;
    }
}

TEST(LevelMapper, GreyMatchesTheLiteralMapping) {
    LevelMapper mapper;
    for (const Window& win : {kWindows[0], kWindows[1], kWindows[6]}) {
        for (auto [w, h] : {std::pair{1, 1}, {7, 5}, {64, 3}, {131, 17}}) {
            const auto px = randomImage(w, h, unsigned(w * h));
            const int bw = displayBitmapRowPixels(w);
            std::vector<std::uint8_t> fast(bw * h, kUntouched), slow(bw * h, kUntouched);
            mapper.setWindow(win.lo, win.hi);
            mapper.mapGrey(px.data(), w, h, bw, fast.data());
            literal::mapGrey(px.data(), w, h, bw, slow.data(), win.lo, win.hi);
            EXPECT_EQ(fast, slow) << w << "x" << h << " window " << win.lo;
        }
    }
}

// The fixed-point ramp must truncate exactly like the division for every span
// a window can have and every offset into it: one wrong level is a visible
// band in a smooth sky.
TEST(GreyRamp, FixedPointEqualsTheDivisionForEverySpan) {
    long long mismatches = 0;
    for (int span = 1; span <= 0xFFFF; ++span) {
        const GreyRamp ramp = GreyRamp::forWindow(0, span);
        ASSERT_TRUE(ramp.usable) << span;
        for (int t = 0; t <= span; ++t) {
            // level = floor(255 t / span) exactly when level * span <= 255 t < (level + 1) * span.
            const int level = ramp.level(unsigned(t));
            if ((level * span > t * 255 || (level + 1) * span <= t * 255) && ++mismatches <= 5)
                ADD_FAILURE() << "span " << span << " offset " << t << ": " << level << " for "
                              << (t * 255) / span;
        }
        // Past the window, up to the largest offset a value can have.
        for (int t : {span + 1, 0xFFFF})
            if (ramp.level(unsigned(t)) != 255 && ++mismatches <= 5)
                ADD_FAILURE() << "span " << span << " offset " << t << " past the window";
    }
    EXPECT_EQ(mismatches, 0);
}

// The vector loops take every slider position, thresholds and windows off
// the scale included, and give the table's level there for every value.
TEST(GreyRamp, ForLevelsEqualsTheTableAtEverySliderPosition) {
    LevelMapper mapper;
    for (int b = 0; b <= 256; ++b)
        for (int c = 1; c <= 256; ++c) {
            int lo, hi;
            levelWindow(b, c, lo, hi);
            const GreyRamp ramp = GreyRamp::forLevels(lo, hi);
            ASSERT_TRUE(ramp.usable) << "B " << b << " C " << c;
            if (c % 51 != 1 && c < 255)
                continue;
            mapper.setWindow(lo, hi);
            for (int v = 0; v < 65536; ++v)
                ASSERT_EQ(ramp.level(unsigned(v)), mapper.level(unsigned(v)))
                    << "B " << b << " C " << c << " value " << v;
        }
    for (const Window& win : kWindows) {
        const GreyRamp ramp = GreyRamp::forLevels(win.lo, win.hi);
        if (!ramp.usable)
            continue;
        mapper.setWindow(win.lo, win.hi);
        for (int v = 0; v < 65536; ++v)
            ASSERT_EQ(ramp.level(unsigned(v)), mapper.level(unsigned(v)))
                << win.lo << ".." << win.hi << " value " << v;
    }
    EXPECT_FALSE(GreyRamp::forLevels(-70000, 140000).usable);
}

TEST(GreyRamp, WindowsItCannotTakeAreLeftToTheTable) {
    for (const Window& win : {Window{0, 0}, Window{25600, 25600}, Window{-70000, 140000},
                              Window{65536, 65536}, Window{-65536, 0}, Window{65536, 70000}})
        EXPECT_FALSE(GreyRamp::forWindow(win.lo, win.hi).usable) << win.lo << ".." << win.hi;
}

// Every slider position along both axes, the corners and random windows, over
// an image that holds every 16-bit value once. The width is not a multiple of
// the vector block, so each row ends through the table.
TEST(LevelMapper, GreyMappingOfEveryValueEqualsTheLiteralFormula) {
    const int w = 301, h = 218;
    std::vector<unsigned short> px(std::size_t(w) * h);
    std::iota(px.begin(), px.begin() + 65536, 0);
    std::shuffle(px.begin(), px.end(), std::mt19937(7));
    std::vector<Window> windows = sliderSweep(200);
    std::mt19937 rng(11);
    for (int i = 0; i < 200; ++i) {
        const int lo = int(rng() % 140000) - 70000;
        windows.push_back({lo, lo + 1 + int(rng() % (i < 100 ? 300 : 70000))});
    }
    const int bw = displayBitmapRowPixels(w);
    std::vector<std::uint8_t> fast(std::size_t(bw) * h), slow(std::size_t(bw) * h);
    LevelMapper mapper;
    int failures = 0;
    for (const Window& win : windows)
        for (KernelCode code : kCodes) {
            std::fill(fast.begin(), fast.end(), kUntouched);
            std::fill(slow.begin(), slow.end(), kUntouched);
            mapper.setWindow(win.lo, win.hi);
            mapper.mapGrey(px.data(), w, h, bw, fast.data(), code);
            literal::mapGrey(px.data(), w, h, bw, slow.data(), win.lo, win.hi);
            if (fast != slow && ++failures <= 5)
                ADD_FAILURE() << "window " << win.lo << ".." << win.hi << " code " << int(code);
        }
    EXPECT_EQ(failures, 0);
}

TEST(GreyRamp, TheVectorUnitTakesWholeBlocksWhereTheCpuHasOne) {
    const GreyRamp ramp = GreyRamp::forWindow(23162, 42374);
    std::vector<unsigned short> px(100 * 2, 30000);
    std::vector<std::uint8_t> bits(displayBitmapRowPixels(100) * 2, kUntouched);
    const int done =
        mapGreyRampVector(ramp, px.data(), 100, 2, displayBitmapRowPixels(100), bits.data());
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2")) {
        ASSERT_EQ(done, 96);
        EXPECT_EQ(bits[0], (30000 - 23162) * 255 / (42374 - 23162));
        EXPECT_EQ(bits[96], kUntouched); // the caller's part of the row
    }
#endif
    EXPECT_EQ(mapGreyRampVector(GreyRamp::forWindow(5, 5), px.data(), 100, 2,
                                displayBitmapRowPixels(100), bits.data()),
              0);
}

TEST(LevelMapper, ColourMatchesTheLiteralConversion) {
    // Odd and even sizes, tiny widths where the column sets are nearly empty,
    // heights where the first and last converted rows meet, and images of
    // several strips of rows, the last one short.
    const std::pair<int, int> sizes[] = {{1, 1},  {1, 4},   {2, 2},   {3, 3}, {4, 2},
                                         {4, 5},  {5, 4},   {6, 6},   {7, 9}, {33, 8},
                                         {64, 7}, {70, 23}, {131, 30}};
    LevelMapper mapper;
    for (const Window& win : {kWindows[0], kWindows[3], kWindows[6], kWindows[13]}) {
        mapper.setWindow(win.lo, win.hi);
        for (auto [w, h] : sizes)
            for (KernelCode code : kCodes) {
                const auto px = randomImage(w, h, unsigned(31 * w + h));
                const int bw = displayBitmapRowPixels(w);
                std::vector<std::uint8_t> fast(3 * bw * h, kUntouched),
                    slow(3 * bw * h, kUntouched);
                mapper.demosaicColour(px.data(), w, h, bw, fast.data(), code);
                literal::demosaicColour(px.data(), w, h, bw, slow.data(), win.lo, win.hi);
                EXPECT_EQ(fast, slow) << w << "x" << h << " window " << win.lo << ".." << win.hi
                                      << " code " << int(code);
            }
    }
}

// Slider sweeps as for the grey mapping, over widths whose last vector block
// overlaps the one before (even and odd), and random pixels whose sums wrap.
TEST(LevelMapper, ColourOfEverySliderWindowEqualsTheLiteralConversion) {
    std::vector<Window> windows = sliderSweep(256);
    LevelMapper mapper;
    int failures = 0;
    for (auto [w, h] : {std::pair{100, 7}, {75, 6}}) {
        const auto px = randomImage(w, h, unsigned(w));
        const int bw = displayBitmapRowPixels(w);
        std::vector<std::uint8_t> fast(3 * bw * h), slow(3 * bw * h);
        for (const Window& win : windows)
            for (KernelCode code : kCodes) {
                std::fill(fast.begin(), fast.end(), kUntouched);
                std::fill(slow.begin(), slow.end(), kUntouched);
                mapper.setWindow(win.lo, win.hi);
                mapper.demosaicColour(px.data(), w, h, bw, fast.data(), code);
                literal::demosaicColour(px.data(), w, h, bw, slow.data(), win.lo, win.hi);
                if (fast != slow && ++failures <= 5)
                    ADD_FAILURE() << w << "x" << h << " window " << win.lo << ".." << win.hi
                                  << " code " << int(code);
            }
    }
    EXPECT_EQ(failures, 0);
}

// The AVX2 rows on their own. Row widths where a block overlaps the one
// before; strips of one row and of several, starting on either parity.
TEST(MosaicVector, EveryVectorUnitConvertsAsTheLiteralFormulas) {
    const Window windows[] = {kWindows[0], kWindows[1], kWindows[2],  kWindows[4],
                              kWindows[7], kWindows[9], kWindows[11], {-30000, 2000}};
    for (VectorUnit unit : {VectorUnit::Avx2}) {
        if (unit > bestVectorUnit())
            continue;
        for (int w : {40, 70, 101, 160}) {
            const int h = 9, bw = displayBitmapRowPixels(w);
            const std::ptrdiff_t stride = 3 * bw;
            const auto px = randomImage(w, h, unsigned(w) + 3);
            for (const Window& win : windows) {
                std::vector<std::uint8_t> expected(3 * bw * h, kUntouched);
                literal::demosaicColour(px.data(), w, h, bw, expected.data(), win.lo, win.hi);
                for (auto [first, rows] : {std::pair{2, 1}, {3, 1}, {2, 5}, {3, 4}}) {
                    std::vector<std::uint8_t> bits(3 * bw * h, kUntouched);
                    const int done = demosaicRowsVector(
                        GreyRamp::forLevels(win.lo, win.hi), px.data() + first * w, w, rows,
                        first % 2 == 1, bits.data() + (h - first) * stride, -stride, unit);
                    ASSERT_EQ(done, 2 * ((w - 1) / 2)) << int(unit) << " width " << w;
                    for (int r = first; r < first + rows; ++r) {
                        const std::ptrdiff_t at = (h - r) * stride;
                        EXPECT_TRUE(std::equal(bits.begin() + at, bits.begin() + at + 3 * done,
                                               expected.begin() + at))
                            << int(unit) << " width " << w << " row " << r << " of " << first << "+"
                            << rows << " window " << win.lo << ".." << win.hi;
                        EXPECT_EQ(bits[at + 3 * done], kUntouched);
                    }
                }
            }
        }
    }
    std::vector<std::uint8_t> row(3 * 100);
    const auto px = randomImage(100, 3, 1);
    EXPECT_EQ(demosaicRowsVector(GreyRamp::forLevels(0, 100), px.data() + 100, 100, 1, true,
                                 row.data(), 0, VectorUnit::None),
              0);
    EXPECT_EQ(demosaicRowsVector(GreyRamp::forLevels(-70000, 140000), px.data() + 100, 100, 1, true,
                                 row.data(), 0, bestVectorUnit()),
              0);
}

TEST(LevelMapper, ColourCoversRowsOneUpAndItsColumnSets) {
    // Which display pixels the conversion writes, for a 6 x 4 and a 5 x 3 image.
    const struct {
        int w, h;
        const char* written; // per display row from the top, '#' written
    } cases[] = {
        {6, 4,
         "####.#.."
         "####.#.."
         "####.#.."
         "........"},
        {5, 3,
         "####...."
         "####...."
         "........"},
    };
    LevelMapper mapper;
    mapper.setWindow(0, 0);
    for (const auto& c : cases) {
        const int bw = displayBitmapRowPixels(c.w);
        std::vector<unsigned short> px(c.w * c.h, 1000);
        std::vector<std::uint8_t> bits(3 * bw * c.h, kUntouched);
        mapper.demosaicColour(px.data(), c.w, c.h, bw, bits.data());
        for (int row = 0; row < c.h; ++row)
            for (int x = 0; x < bw; ++x) {
                const std::uint8_t* out = bits.data() + (c.h - 1 - row) * 3 * bw + 3 * x;
                const bool expected = c.written[row * bw + x] == '#';
                for (int k = 0; k < 3; ++k)
                    EXPECT_EQ(out[k], expected ? 255 : kUntouched)
                        << c.w << "x" << c.h << " display row " << row << " x " << x;
            }
    }
}

TEST(LevelMapper, ColourOfUniformImagesAndWrappedSums) {
    const struct {
        unsigned short value;
        int brightness, contrast;
        int level;
    } cases[] = {
        {40000, 56, 128, 129}, // 80000 wraps to 14464: (14464 - 4730) * 255 / 19212
        {40000, 128, 128, 0},  // 14464 is below 23162
        {16384, 128, 128, 127}, {0, 0, 256, 0},
        {65535, 255, 256, 255}, // 131070 wraps to 65534, above the threshold at 65280
        {65535, 256, 256, 0},   // ... and below the one at 65536
    };
    LevelMapper mapper;
    for (const auto& c : cases) {
        int lo = 0, hi = 0;
        levelWindow(c.brightness, c.contrast, lo, hi);
        mapper.setWindow(lo, hi);
        const int w = 9, h = 6, bw = displayBitmapRowPixels(w);
        std::vector<unsigned short> px(w * h, c.value);
        std::vector<std::uint8_t> bits(3 * bw * h, kUntouched);
        mapper.demosaicColour(px.data(), w, h, bw, bits.data());
        const int expected = literal::mapLevel(2 * c.value, lo, hi);
        EXPECT_EQ(expected, c.level) << c.value;
        // Every converted pixel, edges included, is the same grey.
        for (int row = 0; row < h - 1; ++row)
            for (int x = 0; x < w - 1; ++x)
                for (int k = 0; k < 3; ++k)
                    ASSERT_EQ(bits[(h - 1 - row) * 3 * bw + 3 * x + k], expected)
                        << "value " << c.value << " row " << row << " x " << x;
    }
}

TEST(LevelMapper, OneRowImageConvertsNothing) {
    LevelMapper mapper;
    mapper.setWindow(0, 0);
    const int w = 16, bw = displayBitmapRowPixels(w);
    std::vector<unsigned short> px(w, 5000);
    std::vector<std::uint8_t> bits(3 * bw, kUntouched);
    mapper.demosaicColour(px.data(), w, 1, bw, bits.data());
    EXPECT_EQ(bits, std::vector<std::uint8_t>(3 * bw, kUntouched));
}

namespace {

// Pixels placed flush against an inaccessible page, so that reading one
// value before or after the buffer faults.
class GuardedPixels {
public:
    GuardedPixels(std::size_t count, bool guardAfter) {
        page_ = std::size_t(sysconf(_SC_PAGESIZE));
        dataBytes_ = (count * sizeof(unsigned short) + page_ - 1) / page_ * page_;
        size_ = dataBytes_ + page_;
        void* m = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base_ = m == MAP_FAILED ? nullptr : static_cast<char*>(m);
        if (!base_)
            return;
        char* data = guardAfter ? base_ : base_ + page_;
        char* guard = guardAfter ? base_ + dataBytes_ : base_;
        mprotect(guard, page_, PROT_NONE);
        pixels_ = reinterpret_cast<unsigned short*>(
            guardAfter ? data + dataBytes_ - count * sizeof(unsigned short) : data);
    }
    ~GuardedPixels() {
        if (base_)
            munmap(base_, size_);
    }
    unsigned short* pixels() const { return pixels_; }

private:
    std::size_t page_ = 0, dataBytes_ = 0, size_ = 0;
    char* base_ = nullptr;
    unsigned short* pixels_ = nullptr;
};

} // namespace

TEST(LevelMapper, ColourNeverReadsOutsideThePixels) {
    LevelMapper mapper;
    mapper.setWindow(0, 65535);
    for (bool guardAfter : {false, true})
        for (auto [w, h] :
             {std::pair{8, 6}, {7, 5}, {2, 2}, {1280, 3}, {65, 5}, {130, 6}, {129, 7}}) {
            GuardedPixels guarded(std::size_t(w) * h, guardAfter);
            ASSERT_NE(guarded.pixels(), nullptr);
            const auto src = randomImage(w, h, 7u);
            std::copy(src.begin(), src.end(), guarded.pixels());
            const int bw = displayBitmapRowPixels(w);
            std::vector<std::uint8_t> slow(3 * bw * h, kUntouched);
            literal::demosaicColour(src.data(), w, h, bw, slow.data(), 0, 65535);
            for (KernelCode code : kCodes) {
                std::vector<std::uint8_t> fast(3 * bw * h, kUntouched);
                mapper.demosaicColour(guarded.pixels(), w, h, bw, fast.data(), code);
                EXPECT_EQ(fast, slow) << w << "x" << h << " code " << int(code);
            }
        }
}

TEST(LevelMapper, RenderPicksTheModesMapping) {
    ImageBuffer image;
    ASSERT_EQ(image.resize(6, 4), 1);
    for (int i = 0; i < 24; ++i)
        image.pixels[i] = static_cast<unsigned short>(1000 * i);
    const int bw = displayBitmapRowPixels(6);
    LevelMapper mapper;
    mapper.setWindow(0, 30000);
    for (DisplayMode mode : {DisplayMode::Normal, DisplayMode::FalseColour, DisplayMode::Colour}) {
        const std::size_t bytes = std::size_t(bitsPerPixel(mode) / 8) * bw * 4;
        std::vector<std::uint8_t> rendered(bytes, kUntouched), expected(bytes, kUntouched);
        mapper.render(mode, image, rendered.data());
        if (mode == DisplayMode::Colour)
            literal::demosaicColour(image.pixels, 6, 4, bw, expected.data(), 0, 30000);
        else
            literal::mapGrey(image.pixels, 6, 4, bw, expected.data(), 0, 30000);
        EXPECT_EQ(rendered, expected) << int(mode);
    }
    // No pixels or no bitmap: nothing to do, nothing written.
    ImageBuffer empty;
    std::vector<std::uint8_t> bits(16, kUntouched);
    mapper.render(DisplayMode::Normal, empty, bits.data());
    EXPECT_EQ(bits, std::vector<std::uint8_t>(16, kUntouched));
    mapper.render(DisplayMode::Colour, image, nullptr);
}
