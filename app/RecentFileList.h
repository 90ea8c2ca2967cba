#pragma once

#include <QString>
#include <QStringList>

// The most recently opened or saved documents, newest first, kept in the
// settings section "Recent File List" as File1, File2, ...
class RecentFileList {
public:
    explicit RecentFileList(int size);

    void load();
    // Puts the path first (moving it up when already listed, names compared as
    // absolute paths) and drops what falls off the end; stored at once so that
    // a crash does not lose it.
    void add(const QString& path);
    // Removes an entry that could no longer be opened.
    void remove(int index);

    const QStringList& entries() const { return paths; }
    int capacity() const { return maxSize; }

private:
    void store() const;
    int maxSize;
    QStringList paths;
};
