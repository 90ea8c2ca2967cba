#pragma once

#include <QString>

#include <istream>
#include <streambuf>

// The ".seq" file: an image count, then one exposure in seconds per image,
// separated by any whitespace. Values are read one at a time as the sequence
// needs them, so the position survives a pause.
class SequenceFile {
public:
    // Longest exposure the camera accepts: 3600 s and 99 hundredths.
    static constexpr double maxExposureSeconds = 3600.99;

    SequenceFile();
    ~SequenceFile();
    SequenceFile(const SequenceFile&) = delete;
    SequenceFile& operator=(const SequenceFile&) = delete;

    // Opens from the start, closing any file already open; false when it is
    // not a regular file that can be read (a folder, a pipe, a device).
    bool open(const QString& path);
    void close();
    bool isOpen() const { return buffer.fd >= 0; }

    // The image count; false when the file does not start with an integer.
    bool readCount(int& count);
    // The next exposure; false once the file has run out, holds something that
    // is not a number, or a value no exposure can have (negative, not finite,
    // above the camera's longest). Nothing is read after the first failure.
    bool nextExposure(float& seconds);

private:
    // Reads the open descriptor through a small buffer.
    struct DescriptorBuffer : std::streambuf {
        int fd = -1;
        char data[4096];
        int_type underflow() override;
        void drop() { setg(data, data, data); }
    };

    DescriptorBuffer buffer;
    std::istream in{&buffer};
};
