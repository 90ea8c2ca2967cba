// A program holding its camera in a static, as the application does: it opens
// port COM<argv[1]> and returns from main. Its own tcflush and close stand in
// front of the C library's (an executable's symbols come first) to report, on
// standard output, what reaches the serial device once the program is
// exiting: "purge <ms since exit began>" and "close".
#include "CCamera.h"
#include "SerialLink.h"

#include <dlfcn.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Flush = int (*)(int, int);
using Close = int (*)(int);
const Flush realFlush = reinterpret_cast<Flush>(::dlsym(RTLD_NEXT, "tcflush"));
const Close realClose = reinterpret_cast<Close>(::dlsym(RTLD_NEXT, "close"));

bool exiting = false;
std::chrono::steady_clock::time_point exitStart;

void say(const char* text) {
    if (::write(STDOUT_FILENO, text, std::strlen(text)) < 0)
        std::abort();
}

} // namespace

extern "C" int tcflush(int fd, int queue) {
    if (exiting && ::isatty(fd)) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - exitStart);
        char line[64];
        std::snprintf(line, sizeof line, "purge %lld\n", static_cast<long long>(ms.count()));
        say(line);
    }
    return realFlush(fd, queue);
}

extern "C" int close(int fd) {
    if (exiting && ::isatty(fd))
        say("close\n");
    return realClose(fd);
}

CCamera camera;

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    SerialLink& link = SerialLink::instance();
    link.setPortNumber(std::atoi(argv[1]));
    if (link.portOpen() != 0)
        return 3;
    // Runs before the statics are destroyed: registered after they were made.
    std::atexit([] {
        exitStart = std::chrono::steady_clock::now();
        exiting = true;
    });
    say("open\n");
    return 0;
}
