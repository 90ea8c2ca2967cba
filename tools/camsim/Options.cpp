#include "Options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

bool toDouble(const std::string& s, double& v) {
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    v = std::strtod(s.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(v);
}

bool toLong(const std::string& s, long long& v) {
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    v = std::strtoll(s.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

bool toPair(const std::string& s, double& a, double& b) {
    const auto comma = s.find(',');
    return comma != std::string::npos && toDouble(s.substr(0, comma), a) &&
           toDouble(s.substr(comma + 1), b);
}

bool parseFault(const std::string& s, Options& o) {
    const auto eq = s.find('=');
    const std::string kind = s.substr(0, eq);
    long long n = 0;
    const bool hasBytes = eq != std::string::npos;
    if (hasBytes && (!toLong(s.substr(eq + 1), n) || n < 0))
        return false;
    if (kind == "stall" && !hasBytes)
        o.fault = FaultKind::Stall;
    else if (kind == "unplug-after" && hasBytes)
        o.fault = FaultKind::UnplugAfter;
    else if (kind == "surplus" && hasBytes)
        o.fault = FaultKind::Surplus;
    else if (kind == "garbage" && hasBytes)
        o.fault = FaultKind::Garbage;
    else
        return false;
    o.faultBytes = static_cast<std::size_t>(n);
    return true;
}

} // namespace

bool parseOptions(const std::vector<std::string>& args, Options& o, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            o.help = true;
            continue;
        }
        if (name == "--mount-flip") {
            o.mount.flip = true;
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                error = name + ": value missing";
                return false;
            }
            value = args[++i];
        }
        double d = 0, d2 = 0;
        long long n = 0;
        bool ok = true;
        if (name == "--port") {
            ok = toLong(value, n) && n >= 1 && n <= 255;
            if (ok)
                o.ports.push_back(static_cast<int>(n));
        } else if (name == "--seed") {
            ok = toLong(value, n) && n >= 0;
            o.sky.seed = static_cast<std::uint64_t>(n);
        } else if (name == "--seeing") {
            ok = toDouble(value, d) && d > 0 && d <= 100;
            o.sky.seeingFwhm = d;
        } else if (name == "--time-base") {
            ok = toLong(value, n) && n >= 1 && n <= 100000;
            o.timeBase = static_cast<int>(n);
        } else if (name == "--time-scale") {
            ok = toDouble(value, d) && d > 0;
            o.timeScale = d;
        } else if (name == "--rate") {
            ok = toDouble(value, d) && d >= 0;
            o.rate = d;
        } else if (name == "--scene") {
            if (value == "stars")
                o.sky.scene = Scene::Stars;
            else if (value == "flat")
                o.sky.scene = Scene::Flat;
            else if (value == "ramp")
                o.sky.scene = Scene::Ramp;
            else if (value == "mosaic")
                o.sky.scene = Scene::Mosaic;
            else
                ok = false;
        } else if (name == "--move-scale") {
            ok = toDouble(value, d);
            o.mount.moveScale = d;
        } else if (name == "--mount-angle") {
            ok = toDouble(value, d);
            o.mount.angleDeg = d;
        } else if (name == "--drift") {
            ok = toPair(value, d, d2);
            o.mount.driftX = d, o.mount.driftY = d2;
        } else if (name == "--drift-per-image") {
            ok = toPair(value, d, d2);
            o.mount.driftPerImageX = d, o.mount.driftPerImageY = d2;
        } else if (name == "--periodic") {
            ok = toPair(value, d, d2) && d2 > 0;
            o.mount.periodicAmplitude = d, o.mount.periodicPeriod = d2;
        } else if (name == "--fault") {
            ok = parseFault(value, o);
        } else if (name == "--log") {
            ok = !value.empty();
            o.logPath = value;
        } else if (name == "--focus-file") {
            ok = !value.empty();
            o.focusPath = value;
        } else if (name == "--focus-best") {
            ok = toLong(value, n);
            o.focusBest = n;
        } else {
            error = "unknown option " + name;
            return false;
        }
        if (!ok) {
            error = name + ": bad value '" + value + "'";
            return false;
        }
    }
    if (o.ports.empty())
        o.ports.push_back(2);
    return true;
}

bool parseFocusPosition(const std::string& text, long long& position) {
    const char* blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return false;
    const auto last = text.find_last_not_of(blanks);
    long long v = 0;
    if (!toLong(text.substr(first, last - first + 1), v))
        return false;
    position = v;
    return true;
}

const char* usageText() {
    return "usage: camsim [options]\n"
           "The camera on a pseudo-terminal, linked as COM<N> in the ports folder.\n"
           "  --port N               COM number to link (default 2; may be repeated)\n"
           "  --seed N               star field and noise seed (default 1)\n"
           "  --seeing FWHM          star width in pixels (default 3)\n"
           "  --scene KIND           stars (default), flat, ramp or mosaic\n"
           "  --time-base T          time base of the exposure arithmetic (default 90)\n"
           "  --time-scale F         multiply every wait by F (default 1)\n"
           "  --rate BYTES_PER_S     image transfer speed (default: as fast as possible)\n"
           "  --move-scale PX        pixels per move unit (default 0.01)\n"
           "  --mount-angle DEG      mount axes rotated on the image (default 0)\n"
           "  --mount-flip           second mount axis reversed\n"
           "  --drift X,Y            sky drift in pixels per second\n"
           "  --drift-per-image X,Y  sky drift in pixels per image, whatever the clock\n"
           "  --periodic A,P         periodic error on the first axis: pixels, seconds\n"
           "  --fault KIND[=BYTES]   unplug-after=N, stall, surplus=N or garbage=N\n"
           "  --log FILE             one line per frame, image and move\n"
           "  --focus-file FILE      focuser position (an integer) read at every image\n"
           "  --focus-best N         position of best focus (default 0)\n"
           "  --help                 this text\n";
}
