#include "ColourTables.h"

namespace {

// False-colour ramp: dark, rising, saturated, falling over one 256-level turn.
constexpr int falseColourRamp(int x) {
    if (x < 0)
        x += 256;
    else if (x > 255)
        x -= 256;
    if (x < 64)
        return 0;
    if (x < 128)
        return 4 * (x - 64);
    if (x < 192)
        return 255;
    return 4 * (255 - x);
}

constexpr std::uint8_t byte(int v) {
    return static_cast<std::uint8_t>(v);
}

constexpr ColourTable makeGrey(bool inverted) {
    ColourTable t{};
    for (int i = 0; i < 256; ++i) {
        const auto g = byte(inverted ? 255 - i : i);
        t[i] = {g, g, g, 0};
    }
    return t;
}

// Blue leads green by 63 levels and red trails it by 63, so the three ramps
// sweep black-blue-cyan-yellow-red... around the wheel as the level rises.
constexpr ColourTable makeFalseColour() {
    ColourTable t{};
    for (int i = 0; i < 256; ++i)
        t[i] = {byte(falseColourRamp(i + 63)), byte(falseColourRamp(i)),
                byte(falseColourRamp(i - 63)), 0};
    return t;
}

constexpr ColourTable kNormal = makeGrey(false);
constexpr ColourTable kNegative = makeGrey(true);
constexpr ColourTable kFalseColour = makeFalseColour();

} // namespace

const ColourTable* colourTable(DisplayMode mode) {
    switch (mode) {
    case DisplayMode::Normal:
        return &kNormal;
    case DisplayMode::Negative:
        return &kNegative;
    case DisplayMode::FalseColour:
        return &kFalseColour;
    case DisplayMode::Colour:
        break;
    }
    return nullptr;
}
