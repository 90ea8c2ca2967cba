#pragma once

// The byte sequences a driver sends, built here from the wire format so that
// the simulator's decoding is checked against an independent encoder.
#include <cmath>
#include <cstdint>
#include <vector>

struct Upload {
    int w = 1280, h = 1024, b = 1, x0 = 0, y0 = 0;
    float exposure = 1.0f;
    bool highGain = false;
    int gain = 0, offset = 10;
    int C = 14, Y2 = 14, Y1 = 14, M = 14;
    std::uint32_t vitv = 5, vitp = 2;
};

struct ExposureWords {
    std::uint32_t count = 0;
    std::uint32_t residual = 0;
};

inline ExposureWords driverExposure(float e, int lineLength, int timeBase) {
    const int k = 1280 / lineLength;
    auto u = static_cast<std::int32_t>(static_cast<long double>(timeBase) * e * 3.0L * k);
    if (u == 0)
        u = 1;
    const auto r = static_cast<std::uint32_t>(20 * timeBase);
    const auto uu = static_cast<std::uint32_t>(u);
    return uu <= r ? ExposureWords{0, uu} : ExposureWords{uu / r, r};
}

class Batch {
public:
    std::vector<std::uint8_t> bytes;

    Batch& frame(int cmd, int a, int b) {
        for (int v : {cmd, a, b, 0x00, 0xFF})
            bytes.push_back(static_cast<std::uint8_t>(v));
        return *this;
    }
    Batch& reg(int r, int v) { return frame(0x66, r, v & 0xFF); }
    Batch& word(int cmd, std::uint32_t v) {
        frame(cmd, v >> 8 & 0xFF, v & 0xFF);
        if (v >> 24)
            frame(cmd, v >> 24 & 0xFF, v >> 16 & 0xFF);
        return *this;
    }
    Batch& raw(std::initializer_list<int> v) {
        for (int x : v)
            bytes.push_back(static_cast<std::uint8_t>(x));
        return *this;
    }
    Batch& pulse() { return reg(0x0E, 2).frame(0x11, 0, 0x64).reg(0x0E, 0).frame(0x11, 0, 0x64); }
    Batch& start() {
        return raw({0xFF, 0x00, 0xFF, 0x00, 0xFF})
            .pulse()
            .reg(0x40, 0x6A)
            .reg(0x42, 1)
            .frame(0x11, 0, 0x64);
    }
    Batch& imageRequest() { return pulse().reg(0x42, 1).reg(0x42, 0).frame(0x10, 0, 0); }
    Batch& move(int dir, int m) { return raw({0x30, 0x00, dir, m >> 8 & 0xFF, m & 0xFF}); }

    Batch& settings(const Upload& u, int timeBase) {
        const int t = u.w * u.b;
        const auto prelude = [&] {
            reg(0x56, 0).reg(0x21, 0).reg(0x22, 0).reg(0x20, 0).reg(0x0A, 0).reg(0x0B, 0);
        };
        prelude();
        word(0x60, u.vitv).word(0x61, u.vitp).word(0x62, 0);
        const ExposureWords e = driverExposure(u.exposure, t, timeBase);
        word(0x62, e.count);
        prelude();
        pulse().reg(0x40, 0x6A).reg(0x56, 0);
        reg(0x41, u.b == 1 ? 0x10 : 0x20);
        if (u.b == 4)
            reg(0x41, 0x24);
        reg(0x50, (u.h + 44) >> 8).reg(0x51, u.h + 44).reg(0x52, (t + 20) >> 8).reg(0x53, t + 20);
        const int x = u.b * u.x0 + 8, y = u.b * u.y0 + 16;
        reg(0x49, x >> 8).reg(0x4A, x).reg(0x4B, t >> 8).reg(0x4C, t);
        reg(0x45, y >> 8).reg(0x46, y).reg(0x47, (u.h * u.b) >> 8).reg(0x48, u.h * u.b);
        raw({0x31, t >> 8 & 0xFF, t & 0xFF, u.h >> 8 & 0xFF, u.h & 0xFF});
        if (u.highGain)
            reg(0x22, 0x02).reg(0x20, 0x1F);
        else
            reg(0x22, 0).reg(0x20, 0);
        const int r = static_cast<int>(e.residual);
        reg(0x4F, r).reg(0x4E, r >> 8).reg(0x4E, ((r >> 8) + 0x40) & 0xFF);
        reg(0x10, u.gain)
            .reg(0x23, u.offset)
            .reg(0x00, u.C)
            .reg(0x01, u.Y2)
            .reg(0x02, u.Y1)
            .reg(0x03, u.M);
        return *this;
    }
};
