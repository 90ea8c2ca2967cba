#pragma once

#include <string>

// Whether a path names a serial terminal the camera may be opened on: a
// character device that takes line settings, and not the master side of a
// pseudo-terminal. Nothing is written to it. Empty when it is one; otherwise
// the message for the user.
std::string serialDeviceProblem(const std::string& path);
