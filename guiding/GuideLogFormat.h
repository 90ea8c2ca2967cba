#pragma once

#include "GuideObserver.h"

#include <ctime>
#include <string>

// The guide log in PHD2's text format, which guide-log viewers (phdlogview)
// open: one session per guiding run ("Guiding Begins at ...", header lines,
// the column heading, one CSV line per image, "Guiding Ends at ..."), several
// sessions one after the other in a file.
//
// Axis 1 is written as RA and axis 2 as DEC. The raw distances are the errors
// the guiding panel shows (image columns and rows); the guide distances are
// the same errors turned by the rotation, which the gains act on. A move unit
// is written as one millisecond of guide pulse, positive values as E on axis 1
// and N on axis 2 (the panel's "Gauche" and "Haut"), negative ones as W and S.

// Error codes of a dropped image, as the viewers know them.
inline constexpr int kLogErrorStarLost = 3; // no star mass in the zone
inline constexpr int kLogErrorTooFar = 6;   // any other measurement fault

inline constexpr const char* kGuideLogHeading =
    "Frame,Time,mount,dx,dy,RARawDistance,DECRawDistance,RAGuideDistance,DECGuideDistance,"
    "RADuration,RADirection,DECDuration,DECDirection,XStep,YStep,StarMass,SNR,ErrorCode,"
    "ErrorDescription";

struct CalendarDate {
    int year = 0;
    int month = 0;
    int day = 0;
    friend bool operator==(const CalendarDate&, const CalendarDate&) = default;
};

// The night a local time belongs to: the date of its evening. The date
// changes at noon, so that a whole night goes to one file.
CalendarDate nightOf(const std::tm& local);
// "Zermic_GuideLog_YYYY-MM-DD.txt".
std::string guideLogFileName(const CalendarDate& night);

// "YYYY-MM-DD HH:MM:SS".
std::string logTimestamp(const std::tm& local);

// A move value as the mount receives it: the duration in units (1 - v for a
// negative v, the low 16 bits the frame carries) and the sign of the direction.
struct Pulse {
    int duration = 0;
    int sign = 0; // +1 forward, -1 backward, 0 no move
};
Pulse pulseOf(int value);

// First line of a new file.
std::string guideLogFileHeader(const std::string& program, const std::tm& local);

// "Guiding Begins at", the parameters, the column heading; one per line.
std::string guideSessionHeader(const GuideRunInfo& run, const std::tm& local);
// One image: frame from 1, seconds since the start of the run.
std::string guideLogEntry(int frame, double seconds, const GuideTick& tick, const GuideParams& p);
std::string guideSessionEnd(const std::tm& local);
