#include "GreyRamp.h"

#include <algorithm>
#include <bit>
#include <cstddef>

#include "KernelCode.h"

#if defined(__x86_64__) || defined(__i386__)
#include "VectorLanes.h"
#define ZERMIC_X86 1
#endif

GreyRamp GreyRamp::forWindow(int lo, int hi) {
    GreyRamp ramp;
    const long long span = static_cast<long long>(hi) - lo;
    if (span < 1 || span > 0xFFFF || lo < -0xFFFF || lo > 0xFFFF)
        return ramp;
    ramp.usable = true;
    ramp.subtract = static_cast<std::uint16_t>(lo >= 0 ? lo : 0);
    ramp.add = static_cast<std::uint16_t>(lo < 0 ? std::min<long long>(-lo, span) : 0);
    ramp.span = static_cast<std::uint16_t>(span);
    ramp.clampLow = static_cast<std::uint16_t>(std::max(lo, 0));
    ramp.clampHigh = static_cast<std::uint16_t>(std::clamp(hi, 0, 0xFFFF));
    ramp.shift = static_cast<std::uint16_t>(std::countl_zero(ramp.span));
    ramp.scale = static_cast<std::uint16_t>(1u << ramp.shift);
    const std::uint64_t normalised = std::uint64_t(span) << ramp.shift;
    const std::uint64_t factor = ((std::uint64_t(255) << 32) + normalised - 1) / normalised;
    ramp.factorHigh = static_cast<std::uint16_t>(factor >> 16);
    ramp.factorLow = static_cast<std::uint16_t>(factor & 0xFFFF);
    ramp.averageCarry = span <= 0x8000;
    ramp.direct = span >= 512 && span <= 0x8000;
    if (ramp.direct) {
        const std::uint64_t direct = ((std::uint64_t(255) << 32) + span - 1) / span;
        ramp.directHigh = static_cast<std::uint16_t>(direct >> 16);
        ramp.directLow = static_cast<std::uint16_t>(direct & 0xFFFF);
    }
    return ramp;
}

GreyRamp GreyRamp::forLevels(int lo, int hi) {
    long long first = lo;
    long long last = std::max<long long>(hi, first + 1);
    if (first >= 0xFFFF) {
        first = 0xFFFF;
        last = 0x10000;
    } else if (last <= 0) {
        first = -1;
        last = 0;
    }
    return forWindow(int(first), int(last));
}

void mapGreyRampPlain(const GreyRamp& ramp, const unsigned short* pixels, int width, int height,
                      int bitmapWidth, std::uint8_t* bits, int firstColumn) {
    // A copy the byte stores cannot alias, so that its fields stay in registers.
    const GreyRamp r = ramp;
    for (int y = 0; y < height; ++y) {
        const unsigned short* src = pixels + std::ptrdiff_t(y) * width;
        std::uint8_t* dst = bits + std::ptrdiff_t(height - 1 - y) * bitmapWidth;
        for (int x = firstColumn; x < width; ++x)
            dst[x] = r.clampedLevel(src[x]);
    }
}

#ifdef ZERMIC_X86

namespace {

template <bool NegativeLo, RampForm Form>
ZERMIC_AVX2 __attribute__((flatten)) int mapAvx2(const GreyRamp& ramp, const unsigned short* pixels,
                                                 int width, int height, int bitmapWidth,
                                                 std::uint8_t* bits) {
    const RampLanes<Lanes256> vector(ramp);
    const int done = width & ~31;
    for (int y = 0; y < height; ++y) {
        const unsigned short* src = pixels + std::ptrdiff_t(y) * width;
        std::uint8_t* dst = bits + std::ptrdiff_t(height - 1 - y) * bitmapWidth;
        for (int x = 0; x < done; x += 32) {
            const __m256i first = vector.template levels<NegativeLo, Form>(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + x)));
            const __m256i second = vector.template levels<NegativeLo, Form>(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + x + 16)));
            // The pack interleaves the 128-bit halves; the permute puts the
            // 32 bytes back in pixel order.
            const __m256i packed =
                _mm256_permute4x64_epi64(_mm256_packus_epi16(first, second), 0xD8);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x), packed);
        }
    }
    return done;
}

} // namespace

int mapGreyRampVector(const GreyRamp& ramp, const unsigned short* pixels, int width, int height,
                      int bitmapWidth, std::uint8_t* bits) {
    if (!ramp.usable || !runsAvx2(KernelCode::Fastest) || width < 32)
        return 0;
    return withRampVariant(ramp, [&]<bool NegativeLo, RampForm Form>() {
        return mapAvx2<NegativeLo, Form>(ramp, pixels, width, height, bitmapWidth, bits);
    });
}

#else

int mapGreyRampVector(const GreyRamp&, const unsigned short*, int, int, int, std::uint8_t*) {
    return 0;
}

#endif
