#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// build/bin/camsim as a child process of the test, with the test's own
// XDG_CONFIG_HOME, so that its COM links land in the test's ports folder.
class CamsimProcess {
public:
    explicit CamsimProcess(std::vector<std::string> args);
    ~CamsimProcess();
    CamsimProcess(const CamsimProcess&) = delete;
    CamsimProcess& operator=(const CamsimProcess&) = delete;

    // One line of standard output, without its newline; empty after timeoutMs.
    std::string readLine(int timeoutMs = 3000);
    // SIGTERM, then the exit status.
    int stop();
    int waitExit();

    static std::string executable();

private:
    pid_t pid = -1;
    int out = -1;
};
