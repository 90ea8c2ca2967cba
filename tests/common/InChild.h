#pragma once

#include <csignal>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

// Runs fn in a child process killed after `seconds`: a call that would block
// for ever fails the test instead of hanging it. The child's result (0 to
// 255), or nothing when it was killed or could not be started.
template <class Fn> std::optional<int> runInChild(Fn fn, unsigned seconds = 20) {
    const pid_t pid = ::fork();
    if (pid < 0)
        return std::nullopt;
    if (pid == 0) {
        ::alarm(seconds);
        ::_exit(fn());
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    if (!WIFEXITED(status))
        return std::nullopt;
    return WEXITSTATUS(status);
}
