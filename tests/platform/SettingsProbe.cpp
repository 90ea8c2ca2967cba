// Reads or writes one value of the settings store from a separate process.
//   settings_probe get-int SECTION KEY DEFAULT
//   settings_probe get-string SECTION KEY DEFAULT
//   settings_probe write-int SECTION KEY VALUE
//   settings_probe write-string SECTION KEY VALUE
#include "SettingsStore.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 5)
        return 2;
    const char* op = argv[1];
    if (!std::strcmp(op, "get-int"))
        std::printf("%d\n", SettingsStore::getInt(argv[2], argv[3], std::atoi(argv[4])));
    else if (!std::strcmp(op, "get-string"))
        std::printf("%s\n", SettingsStore::getString(argv[2], argv[3], QString::fromUtf8(argv[4]))
                                .toUtf8()
                                .constData());
    else if (!std::strcmp(op, "write-int"))
        return SettingsStore::writeInt(argv[2], argv[3], std::atoi(argv[4])) ? 0 : 1;
    else if (!std::strcmp(op, "write-string"))
        return SettingsStore::writeString(argv[2], argv[3], QString::fromUtf8(argv[4])) ? 0 : 1;
    else
        return 2;
    return 0;
}
