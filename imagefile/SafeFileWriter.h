#pragma once

#include <QString>

#include <cstdio>
#include <string>

// Writes a file beside its target and moves it over the target only once every
// byte is on disk, so a failed save never leaves a half-written file or
// destroys the previous one. A writer that is not committed removes its
// temporary file.
//
// The target's permissions hold: a file the user may not write (or that has no
// write permission at all) is refused. A writable file in a folder where no
// temporary file can be made is rewritten in place, the only way to save it;
// a failure there may leave the previous file damaged.
class SafeFileWriter {
public:
    explicit SafeFileWriter(const QString& target);
    ~SafeFileWriter();
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    // The open file, or null when the save is refused (missing folder,
    // write-protected target, new name in an unwritable folder).
    std::FILE* file() const { return stream; }

    // Whether the target itself is being written rather than a file beside it.
    bool inPlace() const { return writingInPlace; }
    // What a writer returns when the save fails: 1 while the target is as it
    // was, 2 once it has been written into.
    int failure() const { return writingInPlace ? 2 : 1; }

    // Flushes, syncs and closes the file, then renames it over the target (or
    // cuts the target to what was written). False when any step failed; the
    // target is then untouched unless the file was written in place.
    bool commit();

private:
    void discard();
    void openInPlace();

    std::string targetPath;
    std::string tempPath;
    std::FILE* stream = nullptr;
    bool writingInPlace = false;
};
