#include "RecentFileList.h"

#include "SettingsStore.h"

#include <QFileInfo>

namespace {
const char* const kSection = "Recent File List";

QByteArray keyName(int i) {
    return QByteArray("File") + QByteArray::number(i + 1);
}
} // namespace

RecentFileList::RecentFileList(int size) : maxSize(size) {}

void RecentFileList::load() {
    paths.clear();
    for (int i = 0; i < maxSize; ++i) {
        const QString p = SettingsStore::getString(kSection, keyName(i).constData(), QString());
        if (!p.isEmpty())
            paths.append(p);
    }
}

void RecentFileList::add(const QString& path) {
    const QString full = QFileInfo(path).absoluteFilePath();
    paths.removeAll(full);
    paths.prepend(full);
    while (paths.size() > maxSize)
        paths.removeLast();
    store();
}

void RecentFileList::remove(int index) {
    if (index < 0 || index >= paths.size())
        return;
    paths.removeAt(index);
    store();
}

void RecentFileList::store() const {
    // Every slot is written, so an entry that moved or went away leaves no
    // stale copy behind.
    for (int i = 0; i < maxSize; ++i)
        SettingsStore::writeString(kSection, keyName(i).constData(),
                                   i < paths.size() ? paths[i] : QString());
}
