#include "common/CamsimProcess.h"

#include <chrono>
#include <csignal>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

std::string CamsimProcess::executable() {
    return CAMSIM_PATH;
}

CamsimProcess::CamsimProcess(std::vector<std::string> args) {
    int fds[2];
    if (::pipe(fds) != 0)
        throw std::runtime_error("pipe");
    std::string path = executable();
    pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<char*> argv;
        argv.push_back(path.data());
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(path.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    out = fds[0];
}

CamsimProcess::~CamsimProcess() {
    if (pid > 0)
        stop();
    ::close(out);
}

std::string CamsimProcess::readLine(int timeoutMs) {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{out, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char c;
        if (::read(out, &c, 1) != 1)
            break;
        if (c == '\n')
            return line;
        line += c;
    }
    return {};
}

int CamsimProcess::stop() {
    ::kill(pid, SIGTERM);
    return waitExit();
}

int CamsimProcess::waitExit() {
    int status = 0;
    ::waitpid(pid, &status, 0);
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
