#include "SequenceFile.h"

#include "RegularFile.h"

#include <QFile>

#include <cerrno>
#include <cmath>
#include <locale>
#include <unistd.h>

SequenceFile::DescriptorBuffer::int_type SequenceFile::DescriptorBuffer::underflow() {
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    if (fd < 0)
        return traits_type::eof();
    ssize_t n;
    do
        n = ::read(fd, data, sizeof data);
    while (n < 0 && errno == EINTR);
    if (n <= 0)
        return traits_type::eof();
    setg(data, data, data + n);
    return traits_type::to_int_type(*gptr());
}

SequenceFile::SequenceFile() {
    // Numbers in the file use a decimal point whatever the user's locale.
    in.imbue(std::locale::classic());
}

SequenceFile::~SequenceFile() {
    close();
}

bool SequenceFile::open(const QString& path) {
    close();
    // A pipe would freeze the window at the start; a folder yields nothing.
    buffer.fd = openRegularFile(QFile::encodeName(path).constData());
    return isOpen();
}

void SequenceFile::close() {
    if (buffer.fd >= 0)
        ::close(buffer.fd);
    buffer.fd = -1;
    buffer.drop();
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
