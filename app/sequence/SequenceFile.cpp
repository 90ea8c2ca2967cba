#include "SequenceFile.h"

#include <QFile>

#include <cmath>
#include <filesystem>
#include <locale>

bool SequenceFile::open(const QString& path) {
    close();
    in.clear();
    // Numbers in the file use a decimal point whatever the user's locale.
    in.imbue(std::locale::classic());
    const QByteArray name = QFile::encodeName(path);
    // A folder opens like a file here but yields nothing: it is not a sequence file.
    std::error_code error;
    if (std::filesystem::is_directory(name.constData(), error))
        return false;
    in.open(name.constData());
    return in.is_open();
}

void SequenceFile::close() {
    if (in.is_open())
        in.close();
    in.clear();
}

bool SequenceFile::readCount(int& count) {
    int n = 0;
    if (!(in >> n))
        return false;
    count = n;
    return true;
}

bool SequenceFile::nextExposure(float& seconds) {
    double s = 0;
    if (!(in >> s))
        return false;
    if (!std::isfinite(s) || s < 0 || s > maxExposureSeconds) {
        // Later values are not trusted once one is unusable.
        in.setstate(std::ios::failbit);
        return false;
    }
    seconds = float(s);
    return true;
}
