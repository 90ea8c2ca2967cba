#pragma once

#include <QString>

#include <cstdio>
#include <string>

// Writes a file beside its target and moves it over the target only once every
// byte is on disk, so a failed save never leaves a half-written file or
// destroys the previous one. A writer that is not committed removes its
// temporary file.
class SafeFileWriter {
public:
    explicit SafeFileWriter(const QString& target);
    ~SafeFileWriter();
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    // The open temporary file, or null when it could not be created (missing
    // or unwritable folder).
    std::FILE* file() const { return stream; }

    // Flushes, syncs and closes the temporary file and renames it over the
    // target. False when any step failed; the target is then untouched.
    bool commit();

private:
    void discard();

    std::string targetPath;
    std::string tempPath;
    std::FILE* stream = nullptr;
};
