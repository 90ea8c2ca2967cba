#include "PelmoxAction.h"

#include <cstdint>

extern "C" void PelmoxAction(unsigned short* pixels, int width, int height) {
    // The count is the 32-bit product the callers have always passed; computed
    // wide so that an overflowing product cannot wrap into a bogus positive count.
    const std::int64_t wide = std::int64_t(width) * height;
    if (wide <= 0 || wide > INT32_MAX || !pixels)
        return;
    const int n = int(wide);
    for (int i = 0; i < n; ++i)
        pixels[i] = static_cast<unsigned short>(~pixels[i]);
}
