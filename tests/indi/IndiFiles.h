#pragma once

#include <string>
#include <vector>

// What the INDI tests read back: the simulator's frame log and the driver's FITS images.

std::string readFile(const std::string& path);
bool exists(const std::string& path);

// The simulator's log, line by line.
std::vector<std::string> logLines(const std::string& path);
// Index of the first line at or after `from` containing `text`; -1 when none.
long find(const std::vector<std::string>& lines, const std::string& text, long from = 0);
// Waits until the simulator has logged `text`.
bool waitForLog(const std::string& path, const std::string& text, int timeoutMs);

struct Fits {
    long width = 0, height = 0;
    double exptime = 0;
    int xbinning = 0, xorg = -1, yorg = -1, gain = -1, offset = -1;
    std::string dateObs, frame;
    std::vector<unsigned short> pixels;
};

// A FITS file, or the bytes of a FITS BLOB; a failed read is a test failure.
Fits readFits(const std::string& path);
Fits readFitsBytes(std::string bytes);
