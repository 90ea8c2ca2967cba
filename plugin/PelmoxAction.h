#pragma once

// Post-processing applied to each sequence image when post-processing is on:
// turns the image into its negative in place (every pixel p becomes 65535 - p).
// A width or height of 0, or a non-positive pixel count, leaves the buffer untouched.
#ifdef __cplusplus
extern "C" {
#endif

void PelmoxAction(unsigned short* pixels, int width, int height);

#ifdef __cplusplus
}
#endif
