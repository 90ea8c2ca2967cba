#include "IndiRig.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

int freeTcpPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("no free port");
    ::close(s);
    return ntohs(a.sin_port);
}

pid_t spawn(const std::vector<std::string>& args, int outFd, const std::string& home) {
    const std::string config = home + "/config";
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (outFd >= 0) {
            ::dup2(outFd, 1);
            ::dup2(outFd, 2);
        }
        // The driver gets a settings folder of its own, where nothing may appear.
        // No display either: the driver must not need one.
        if (!home.empty()) {
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
            for (const char* v : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
                ::unsetenv(v);
        }
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

} // namespace

int runProgram(const std::vector<std::string>& argv, std::string* out) {
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t pid = spawn(argv, fds[1], {});
    ::close(fds[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
        text.append(buf, std::size_t(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (out)
        *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

IndiRig::IndiRig(bool traceMessages) : tcpPort(freeTcpPort()) {
    const std::string logs = dir.file("logs");
    ::mkdir(logs.c_str(), 0755);
    std::ofstream(dir.file("server.out")).flush();
    const int out = ::open(dir.file("server.out").c_str(), O_WRONLY);
    std::vector<std::string> args{
        "indiserver", "-p", std::to_string(tcpPort), "-u", dir.file("socket"),
        "-l",         logs, INDI_DRIVER_PATH};
    if (traceMessages)
        args.insert(args.begin() + 1, "-vv");
    server = spawn(args, out, dir.path());
    ::close(out);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (get("CONNECTION.CONNECT").empty()) {
        if (std::chrono::steady_clock::now() > end)
            throw std::runtime_error("indiserver did not answer");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

IndiRig::~IndiRig() {
    const pid_t driver = driverPid();
    ::kill(server, SIGTERM);
    int status = 0;
    ::waitpid(server, &status, 0);
    if (driver > 0) {
        // Without its server the driver reads end of file and leaves; make sure of it.
        for (int i = 0; i < 50 && ::kill(driver, 0) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ::kill(driver, SIGKILL);
    }
}

std::string IndiRig::get(const std::string& item) const {
    std::string out;
    if (runProgram({"indi_getprop", "-1", "-p", std::to_string(tcpPort), "-t", "2",
                    std::string(device()) + "." + item},
                   &out) != 0)
        return {};
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

bool IndiRig::set(const std::string& assignment) const {
    return runProgram({"indi_setprop", "-p", std::to_string(tcpPort), "-t", "3",
                       std::string(device()) + "." + assignment}) == 0;
}

bool IndiRig::waitFor(const std::string& item, const std::string& value, int timeoutMs) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (get(item) == value)
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

std::string IndiRig::log() const {
    std::string all;
    const std::string logs = dir.file("logs");
    if (DIR* d = ::opendir(logs.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::ifstream f(logs + "/" + e->d_name);
            std::stringstream s;
            s << f.rdbuf();
            all += s.str();
        }
        ::closedir(d);
    }
    return all;
}

std::string IndiRig::serverLog() const {
    std::ifstream f(dir.file("server.out"));
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

pid_t IndiRig::driverPid() const {
    std::ifstream f("/proc/" + std::to_string(server) + "/task/" + std::to_string(server) +
                    "/children");
    pid_t pid = -1;
    f >> pid;
    return pid;
}
