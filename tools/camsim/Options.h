#pragma once

#include "MountModel.h"
#include "SkyRenderer.h"

#include <cstddef>
#include <string>
#include <vector>

enum class FaultKind { None, UnplugAfter, Stall, Surplus, Garbage };

struct Options {
    std::vector<int> ports; // COM numbers linked to the line; 2 when none given
    SkySettings sky;
    MountSettings mount;
    int timeBase = 90;
    double timeScale = 1.0; // every wait is multiplied by it
    double rate = 0;        // bytes per second; 0: as fast as the line takes them
    FaultKind fault = FaultKind::None;
    std::size_t faultBytes = 0;
    std::string logPath;
    std::string focusPath;   // focuser position read from it at every image; empty: in focus
    long long focusBest = 0; // position where stars are as sharp as the seeing
    bool help = false;
};

// Reads the command line ("--name value" or "--name=value"). False with a
// message in error when an option is unknown or its value is malformed.
bool parseOptions(const std::vector<std::string>& args, Options& out, std::string& error);
const char* usageText();
// The focuser position a focus file holds: one integer, blanks around it allowed.
bool parseFocusPosition(const std::string& text, long long& position);
