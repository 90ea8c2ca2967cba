#include "common/VirtualDisplay.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace {

pid_t spawn(std::vector<std::string> args, int keepFd = -1) {
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    // Its own group, so that a test killed mid-run takes no signal meant for it.
    ::setsid();
    // Ended with the test even when it dies without its destructors: left
    // running, it would hold ctest's output pipe open until ctest's timeout.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent)
        ::_exit(0);
    for (int fd = 3; fd < 256; ++fd)
        if (fd != keepFd)
            ::close(fd);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

void end(pid_t pid) {
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

} // namespace

VirtualDisplay::VirtualDisplay() {
    int fds[2];
    if (::pipe(fds) != 0)
        return;
    // -displayfd: the server picks a free number and writes it once it accepts clients.
    server = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x800x24",
                    "-nolisten", "tcp"},
                   fds[1]);
    ::close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c = 0;
    while (::poll(&p, 1, 20000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(fds[0]);
    if (number.empty())
        return;
    display = ":" + number;
    ::setenv("DISPLAY", display.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    // The window manager must be running before the first window is made: one
    // that starts while windows are being mapped (a slow first start on a fresh
    // machine, building its font caches) leaves them unexposed. Openbox runs its
    // start-up command once it manages the screen.
    char dir[] = "/tmp/zermic-wm-XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        std::perror("VirtualDisplay: no folder for the window manager's signal");
        return;
    }
    const std::string ready = std::string(dir) + "/ready";
    manager = spawn({"openbox", "--sm-disable", "--startup", "touch " + ready});
    for (int i = 0; i < 1200 && !running; ++i) {
        running = ::access(ready.c_str(), F_OK) == 0;
        if (!running && ::waitpid(manager, nullptr, WNOHANG) == manager) {
            manager = -1;
            std::fprintf(stderr, "VirtualDisplay: openbox ended before it managed the screen\n");
            break;
        }
        if (!running)
            ::usleep(50000);
    }
    if (!running && manager > 0)
        std::fprintf(stderr, "VirtualDisplay: openbox did not start within a minute\n");
    ::unlink(ready.c_str());
    ::rmdir(dir);
}

VirtualDisplay::~VirtualDisplay() {
    end(manager);
    end(server);
}
