#pragma once

#include <QString>

#include <cstdio>
#include <string>

// Writes a file beside its target and moves it over the target only once every
// byte is on disk, so a failed save never leaves a half-written file or
// destroys the previous one. A writer that is not committed removes its
// temporary file; those a dead process left behind are removed by the next
// save into their folder.
//
// The target's permissions hold: a file the user may not write (or that has no
// write permission at all) is refused. A writable file in a folder where no
// temporary file can be made is rewritten in place, the only way to save it;
// a failure there may leave the previous file damaged.
class SafeFileWriter {
public:
    // What the save does with anything already at the target's name.
    enum class Existing { Replace, Keep };

    explicit SafeFileWriter(const QString& target, Existing existing = Existing::Replace);
    ~SafeFileWriter();
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    // The open file, or null when the save is refused (missing folder,
    // write-protected target, new name in an unwritable folder, name taken).
    std::FILE* file() const { return stream; }

    // Whether the target itself is being written rather than a file beside it.
    bool inPlace() const { return writingInPlace; }
    // What a writer returns when the save fails: 1 while the target is as it
    // was, 2 once it has been written into.
    int failure() const { return writingInPlace ? 2 : 1; }
    // With Existing::Keep: something had that name, at the start or by the
    // time the file was to take it, and was left alone.
    bool nameTaken() const { return taken; }

    // Flushes, syncs and closes the file, then moves it to the target's name:
    // over the target, or with Existing::Keep only where nothing has that name
    // (created without replacing, in one step). With a file written in place,
    // cuts the target to what was written. False when any step failed; the
    // target is then untouched unless the file was written in place.
    bool commit();

private:
    void discard();
    void openInPlace();
    bool publish();

    std::string targetPath;
    std::string tempPath;
    std::FILE* stream = nullptr;
    Existing existing;
    bool writingInPlace = false;
    bool taken = false;
};
