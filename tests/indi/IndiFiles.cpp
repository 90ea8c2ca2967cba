#include "IndiFiles.h"

#include <fitsio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>

std::string readFile(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> logLines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(readFile(path));
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

long find(const std::vector<std::string>& lines, const std::string& text, long from) {
    for (long i = std::max(0L, from); i < long(lines.size()); ++i)
        if (lines[std::size_t(i)].find(text) != std::string::npos)
            return i;
    return -1;
}

bool waitForLog(const std::string& path, const std::string& text, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (readFile(path).find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

namespace {

Fits readOpen(fitsfile* fp, int status, const std::string& what) {
    Fits f;
    char text[FLEN_VALUE] = {};
    fits_read_key(fp, TLONG, "NAXIS1", &f.width, nullptr, &status);
    fits_read_key(fp, TLONG, "NAXIS2", &f.height, nullptr, &status);
    fits_read_key(fp, TDOUBLE, "EXPTIME", &f.exptime, nullptr, &status);
    fits_read_key(fp, TINT, "XBINNING", &f.xbinning, nullptr, &status);
    fits_read_key(fp, TINT, "XORGSUBF", &f.xorg, nullptr, &status);
    fits_read_key(fp, TINT, "YORGSUBF", &f.yorg, nullptr, &status);
    fits_read_key(fp, TINT, "GAIN", &f.gain, nullptr, &status);
    fits_read_key(fp, TINT, "OFFSET", &f.offset, nullptr, &status);
    fits_read_key(fp, TSTRING, "DATE-OBS", text, nullptr, &status);
    f.dateObs = text;
    fits_read_key(fp, TSTRING, "FRAME", text, nullptr, &status);
    f.frame = text;
    f.pixels.resize(std::size_t(f.width * f.height));
    int anynul = 0;
    fits_read_img(fp, TUSHORT, 1, long(f.pixels.size()), nullptr, f.pixels.data(), &anynul,
                  &status);
    fits_close_file(fp, &status);
    EXPECT_EQ(status, 0) << what;
    return f;
}

} // namespace

Fits readFits(const std::string& path) {
    fitsfile* fp = nullptr;
    int status = 0;
    if (fits_open_file(&fp, path.c_str(), READONLY, &status)) {
        ADD_FAILURE() << "cannot open " << path;
        return {};
    }
    return readOpen(fp, status, path);
}

Fits readFitsBytes(std::string bytes) {
    fitsfile* fp = nullptr;
    int status = 0;
    void* data = bytes.data();
    std::size_t size = bytes.size();
    if (fits_open_memfile(&fp, "blob", READONLY, &data, &size, 0, nullptr, &status)) {
        ADD_FAILURE() << "not a FITS image (" << bytes.size() << " bytes)";
        return {};
    }
    return readOpen(fp, status, "BLOB");
}
