#include "GuideLogFormat.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kNoonHour = 12;

std::string format(const char* fmt, auto... args) {
    char buffer[512];
    const int n = std::snprintf(buffer, sizeof buffer, fmt, args...);
    return std::string(buffer, n < 0 ? 0 : std::size_t(n) < sizeof buffer ? n : sizeof buffer - 1);
}

std::string milli(double v) {
    return format("%.3f", v);
}

std::string join(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i)
            line += ',';
        line += fields[i];
    }
    return line;
}

std::string quoted(const std::string& s) {
    return '"' + s + '"';
}

// Duration and letter of one axis; no letter when the axis stays still.
void addPulse(std::vector<std::string>& fields, int value, char forward, char backward) {
    const Pulse pulse = pulseOf(value);
    fields.push_back(std::to_string(pulse.duration));
    fields.push_back(pulse.sign > 0   ? std::string(1, forward)
                     : pulse.sign < 0 ? std::string(1, backward)
                                      : std::string());
}

std::string rejectionText(const GuideTick& tick, const GuideParams& p) {
    if (tick.rejection == GuideRejection::StarLost)
        return "Etoile perdue";
    // No comma inside: viewers split the line on every comma.
    return format("Deplacement %.3f / %.3f px au-dela du maximum %.0f px", double(tick.measuredEx),
                  double(tick.measuredEy), double(p.maxMove));
}

} // namespace

CalendarDate nightOf(const std::tm& local) {
    std::tm t = local;
    if (t.tm_hour < kNoonHour)
        t.tm_mday -= 1;
    // Normalise through a noon time of day so that no daylight-saving shift
    // can move the date.
    t.tm_hour = kNoonHour;
    t.tm_min = 0;
    t.tm_sec = 0;
    t.tm_isdst = -1;
    std::mktime(&t);
    return CalendarDate{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday};
}

std::string guideLogFileName(const CalendarDate& night) {
    return format("Zermic_GuideLog_%04d-%02d-%02d.txt", night.year, night.month, night.day);
}

std::string logTimestamp(const std::tm& local) {
    return format("%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

Pulse pulseOf(int value) {
    // The move frame carries the low 16 bits of the magnitude: that is the
    // move the mount makes.
    if (value > 0)
        return Pulse{int(value & 0xFFFF), +1};
    if (value < 0)
        return Pulse{int((1 - std::int64_t(value)) & 0xFFFF), -1};
    return Pulse{};
}

std::string guideLogFileHeader(const std::string& program, const std::tm& local) {
    return program + ", Log version 2.5. Log enabled at " + logTimestamp(local) + "\n\n";
}

std::string guideSessionHeader(const GuideRunInfo& run, const std::tm& local) {
    const SuiviPrm& s = run.prm;
    std::string out = "Guiding Begins at " + logTimestamp(local) + "\n";
    out += format("Exposure = %.0f ms, cadence = %d ms, capture = %d px\n",
                  run.exposureSeconds * 1000.0, s.cadence, s.capture);
    out += format("Gains = %d / %d units/px, Biais = %d / %d units, Deplac maxi = %d px\n", s.gain1,
                  s.gain2, s.biais1, s.biais2, s.mvtmax);
    out +=
        format("Rot = %d deg, Inv1 = %d, Inv2 = %d, Inv12 = %d\n", s.rot, s.inv1, s.inv2, s.inv12);
    out += "Move unit = 1 ms, RA = axe 1 (E +, W -), DEC = axe 2 (N +, S -)\n";
    out += format("Lock position = %.3f, %.3f, Star position = %.3f, %.3f\n", double(run.refX),
                  double(run.refY), double(run.refX), double(run.refY));
    out += kGuideLogHeading;
    out += '\n';
    return out;
}

std::string guideLogEntry(int frame, double seconds, const GuideTick& tick, const GuideParams& p) {
    std::vector<std::string> f{std::to_string(frame), milli(seconds)};
    if (tick.rejection != GuideRejection::None) {
        f.push_back(quoted("DROP"));
        // dx to YStep stay empty on a dropped image.
        f.insert(f.end(), 12, std::string());
        f.push_back(std::to_string(tick.level));
        f.push_back(std::string()); // SNR: not measured
        f.push_back(std::to_string(tick.rejection == GuideRejection::StarLost ? kLogErrorStarLost
                                                                              : kLogErrorTooFar));
        f.push_back(quoted(rejectionText(tick, p)));
        return join(f) + '\n';
    }
    const MountError d = rotateError(p.rotation, tick.ex, tick.ey);
    const MountMove m = tick.moveSent ? axisMoves(p, tick.move) : MountMove{};
    f.push_back(quoted("Mount"));
    // dx, dy on the image; the raw and guide distances on the mount's axes.
    for (float v : {tick.ex, tick.ey, d.d1, d.d2, d.d1, d.d2})
        f.push_back(milli(v));
    addPulse(f, m.axis1, 'E', 'W');
    addPulse(f, m.axis2, 'N', 'S');
    f.push_back(std::string()); // XStep, YStep: no adaptive optics
    f.push_back(std::string());
    f.push_back(std::to_string(tick.level));
    f.push_back(std::string());
    f.push_back("0");
    return join(f) + '\n';
}

std::string guideSessionEnd(const std::tm& local) {
    return "Guiding Ends at " + logTimestamp(local) + "\n\n";
}
