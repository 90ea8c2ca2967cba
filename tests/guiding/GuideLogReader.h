#pragma once

// Reads a guide log the way guide-log viewers do: a session opens at
// "Guiding Begins at ", its header runs to the line that starts "Frame,",
// every later line that starts with a digit is an entry split on its commas,
// and "Guiding Ends at " closes it.
#include <cctype>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

struct LogSession {
    std::string begin;               // date and time after "Guiding Begins at "
    std::vector<std::string> header; // lines before the heading
    std::string heading;
    std::vector<std::vector<std::string>> entries;
    bool ended = false;
};

inline std::vector<std::string> splitCommas(const std::string& line) {
    std::vector<std::string> out(1);
    for (char c : line) {
        if (c == ',')
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

inline std::vector<LogSession> readGuideLog(const std::string& path) {
    std::vector<LogSession> sessions;
    std::ifstream in(path);
    std::string line;
    LogSession* open = nullptr;
    const std::string beginTag = "Guiding Begins at ";
    const std::string endTag = "Guiding Ends at ";
    while (std::getline(in, line)) {
        if (line.rfind(beginTag, 0) == 0) {
            sessions.push_back(LogSession{line.substr(beginTag.size()), {}, {}, {}, false});
            open = &sessions.back();
        } else if (!open) {
            continue;
        } else if (open->heading.empty()) {
            if (line.rfind("Frame,", 0) == 0)
                open->heading = line;
            else
                open->header.push_back(line);
        } else if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
            open->entries.push_back(splitCommas(line));
        } else if (line.rfind(endTag, 0) == 0) {
            open->ended = true;
            open = nullptr;
        }
    }
    return sessions;
}

// Column numbers of the heading.
enum LogColumn {
    kFrame = 0,
    kTime = 1,
    kMount = 2,
    kDx = 3,
    kDy = 4,
    kRaRaw = 5,
    kDecRaw = 6,
    kRaDuration = 9,
    kRaDirection = 10,
    kDecDuration = 11,
    kDecDirection = 12,
    kStarMass = 15,
    kErrorCode = 17,
    kErrorDescription = 18,
};

// The viewers' RMS: the standard deviation of each axis's raw distance over
// the entries that are not dropped; the total from both.
struct LogRms {
    double ra = 0, dec = 0, total = 0;
    int n = 0;
};
inline LogRms rmsOf(const std::vector<std::vector<std::string>>& entries) {
    double s1 = 0, s2 = 0, q1 = 0, q2 = 0;
    LogRms r;
    for (const auto& e : entries) {
        if (e[kMount] != "\"Mount\"")
            continue;
        const double a = std::stod(e[kRaRaw]);
        const double b = std::stod(e[kDecRaw]);
        s1 += a;
        s2 += b;
        q1 += a * a;
        q2 += b * b;
        ++r.n;
    }
    if (r.n == 0)
        return r;
    const double v1 = q1 / r.n - (s1 / r.n) * (s1 / r.n);
    const double v2 = q2 / r.n - (s2 / r.n) * (s2 / r.n);
    r.ra = std::sqrt(std::max(0.0, v1));
    r.dec = std::sqrt(std::max(0.0, v2));
    r.total = std::sqrt(std::max(0.0, v1 + v2));
    return r;
}
