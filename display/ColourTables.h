#pragma once

#include "DisplayBitmap.h"

#include <array>
#include <cstdint>

// One colour-table entry as stored after a bitmap header: blue, green, red, 0.
struct PaletteEntry {
    std::uint8_t blue = 0;
    std::uint8_t green = 0;
    std::uint8_t red = 0;
    std::uint8_t reserved = 0;

    friend bool operator==(const PaletteEntry&, const PaletteEntry&) = default;
};

using ColourTable = std::array<PaletteEntry, 256>;

// The 256-entry table of an 8-bit mode, or nullptr for DisplayMode::Colour.
const ColourTable* colourTable(DisplayMode mode);

// The entry as 0xAARRGGBB with opaque alpha, the form toolkit colour tables take.
inline std::uint32_t paletteArgb(const PaletteEntry& e) {
    return 0xFF000000u | (std::uint32_t(e.red) << 16) | (std::uint32_t(e.green) << 8) | e.blue;
}
