#pragma once

#include <QString>

// The per-user settings store shared by the program and the camera library:
// sections of named 32-bit integers and strings, each read passing its default.
// Every write reaches the disk at once, atomically (the file is replaced whole),
// and is seen by the next read of any caller in this process or the next run.
//
// Backing file: $XDG_CONFIG_HOME/<root>/<application>.ini (~/.config when the
// variable is unset), an INI file with plain [Section] headers and key=value lines.
class SettingsStore {
public:
    // Root folder and application name; "VKL_Zermic" and "Zermic" unless changed.
    static void setRoot(const QString& root, const QString& application);
    static QString filePath();

    static int getInt(const char* section, const char* key, int defaultValue);
    static QString getString(const char* section, const char* key, const QString& defaultValue);
    // Create or replace the value; false when the file could not be written
    // (the previous file then stays as it was).
    static bool writeInt(const char* section, const char* key, int value);
    static bool writeString(const char* section, const char* key, const QString& value);
};
