#pragma once

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

// A settings folder of the bench's own for the whole run (the simulator's port
// links live there too), so a bench never touches the user's; removed at exit.
class OwnSettingsFolder {
public:
    explicit OwnSettingsFolder(const char* name) : folder(std::string("/tmp/") + name + ".XXXXXX") {
        made = ::mkdtemp(folder.data()) != nullptr;
        if (made)
            ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    }
    ~OwnSettingsFolder() {
        std::error_code ignored;
        if (made)
            std::filesystem::remove_all(folder, ignored);
    }
    OwnSettingsFolder(const OwnSettingsFolder&) = delete;
    OwnSettingsFolder& operator=(const OwnSettingsFolder&) = delete;

    bool ok() const { return made; }
    const std::string& path() const { return folder; }

private:
    std::string folder;
    bool made = false;
};

// A bench's whole main: its benchmarks in a settings folder of their own.
inline int runBenchmarksInOwnSettingsFolder(const char* name, int argc, char** argv) {
    const OwnSettingsFolder settings(name);
    if (!settings.ok())
        return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
