// The simulator as a process, talked to through its COM link like a driver would.
#include "SerialPort.h"

#include "DriverUpload.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Ms = std::chrono::milliseconds;

class Camsim {
public:
    explicit Camsim(std::vector<std::string> args) {
        int fds[2];
        if (::pipe(fds) != 0)
            throw std::runtime_error("pipe");
        pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], 1);
            ::close(fds[0]);
            ::close(fds[1]);
            std::vector<char*> argv;
            static std::string path = CAMSIM_PATH;
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
    ~Camsim() {
        if (pid > 0)
            stop();
        ::close(out);
    }

    // One line of standard output, without its newline; empty after timeoutMs.
    std::string readLine(int timeoutMs = 3000) {
        std::string line;
        const auto end = std::chrono::steady_clock::now() + Ms(timeoutMs);
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

    // SIGTERM and the exit status.
    int stop() {
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    int waitExit() {
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid = -1;
    int out = -1;
};

std::string readLinkTarget(const std::string& link) {
    char buf[256];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

struct Received {
    std::vector<std::uint8_t> bytes;
    bool hangup = false;
};

// Reads until `expected` bytes have come (or 5 s passed), then goes on until
// the line stays quiet for quietMs, so that surplus bytes are seen too. A slow
// machine makes the test wait longer, never fail.
Received collect(PosixSerialPort& port, std::size_t expected, int quietMs = 150) {
    Received r;
    std::uint8_t buf[4096];
    const auto deadline = std::chrono::steady_clock::now() + Ms(5000);
    for (;;) {
        int wait = quietMs;
        if (r.bytes.size() < expected) {
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left <= Ms(0))
                return r;
            wait = static_cast<int>(std::chrono::duration_cast<Ms>(left).count()) + 1;
        }
        const auto w = port.waitReadable(wait);
        if (w == SerialPort::Wait::Timeout)
            return r;
        const long n = w == SerialPort::Wait::Ready ? port.read(buf, sizeof buf) : -1;
        if (n <= 0) {
            // Hung up, failed, or readable with nothing there: the other end is gone.
            r.hangup = true;
            return r;
        }
        r.bytes.insert(r.bytes.end(), buf, buf + n);
    }
}

bool openPort(PosixSerialPort& port, int n) {
    return port.open(serialPortPath(n)) && port.apply(LineSettings{});
}

void send(PosixSerialPort& port, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const long w = port.write(bytes.data() + done, bytes.size() - done);
        ASSERT_GE(w, 0);
        if (w == 0)
            port.waitWritable(100);
        done += static_cast<std::size_t>(w);
    }
}

Upload smallWindow(int w, int h, int b) {
    Upload u;
    u.w = w, u.h = h, u.b = b, u.x0 = 10, u.y0 = 20;
    return u;
}

} // namespace

TEST(CamsimProcess, ServesImagesSurvivesReopeningAndCleansUp) {
    TempDir dir;
    const std::string log = dir.file("frames.log");
    Camsim sim({"--port", "4", "--port", "6", "--time-scale", "0.001", "--log", log});
    const std::string first = sim.readLine();
    const std::string link = serialPortsFolder() + "/COM4";
    const std::string target = readLinkTarget(link);
    ASSERT_FALSE(target.empty());
    EXPECT_EQ(first, "camsim: COM4 -> " + target);
    // Every port named links the same camera.
    EXPECT_EQ(sim.readLine(), "camsim: COM6 -> " + target);
    const std::string second = serialPortsFolder() + "/COM6";
    EXPECT_EQ(readLinkTarget(second), target);

    const std::size_t expected = 64 * 48 * 2;
    {
        PosixSerialPort port;
        ASSERT_TRUE(openPort(port, 4));
        send(port, Batch().start().settings(smallWindow(64, 48, 2), 90).imageRequest().bytes);
        const Received r = collect(port, expected);
        EXPECT_EQ(r.bytes.size(), expected);
        EXPECT_FALSE(r.hangup);
    }
    {
        // The driver closed the port and opens it again: the camera still answers.
        PosixSerialPort port;
        ASSERT_TRUE(openPort(port, 4));
        send(port, Batch().move(0x41, 5).imageRequest().bytes);
        EXPECT_EQ(collect(port, expected).bytes.size(), expected);
    }
    EXPECT_EQ(sim.stop(), 0);
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "link left behind";
    EXPECT_NE(::lstat(second.c_str(), &st), 0) << "link left behind";

    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("31 00 80 00 30  geometry"), std::string::npos);
    EXPECT_NE(text.str().find("image start"), std::string::npos);
    EXPECT_NE(text.str().find("sent 6144 bytes"), std::string::npos);
    EXPECT_NE(text.str().find("30 00 41 00 05  move first axis +5"), std::string::npos);
    EXPECT_NE(text.str().find("move applied: sky shifted by moves to (0.050, 0.000) px"),
              std::string::npos);
}

TEST(CamsimProcess, InjectedFaults) {
    const std::size_t image = 32 * 16;
    struct Case {
        std::string fault;
        std::size_t bytes; // what the driver receives
        bool hangup;
    };
    const Case cases[] = {
        {"surplus=100", image + 100, false},
        {"garbage=50", 50 + image, false},
        {"stall", 0, false},
        {"unplug-after=100", 100, true},
    };
    for (const auto& c : cases) {
        Camsim sim({"--time-scale", "0.001", "--fault", c.fault});
        ASSERT_FALSE(sim.readLine().empty()) << c.fault;
        const std::string before = readLinkTarget(serialPortsFolder() + "/COM2");
        PosixSerialPort port;
        ASSERT_TRUE(openPort(port, 2)) << c.fault;
        send(port, Batch().start().settings(smallWindow(32, 16, 1), 90).imageRequest().bytes);
        const Received r = collect(port, c.bytes, 300);
        EXPECT_EQ(r.bytes.size(), c.bytes) << c.fault;
        EXPECT_EQ(r.hangup, c.hangup) << c.fault;
        if (c.hangup) {
            // Plugged back in: a new terminal under the same name, serving again.
            const std::string again = sim.readLine();
            const std::string after = readLinkTarget(serialPortsFolder() + "/COM2");
            EXPECT_EQ(again, "camsim: COM2 -> " + after);
            EXPECT_NE(after, before);
            port.close();
            ASSERT_TRUE(openPort(port, 2));
            send(port, Batch().start().settings(smallWindow(32, 16, 1), 90).imageRequest().bytes);
            EXPECT_EQ(collect(port, image).bytes.size(), image);
        }
        EXPECT_EQ(sim.stop(), 0) << c.fault;
    }
}

TEST(CamsimProcess, StartsOverCleanlyAfterAnAbandonedOrImpossibleRequest) {
    Camsim sim({"--rate", "4000"});
    ASSERT_FALSE(sim.readLine().empty());
    Upload big = smallWindow(100, 40, 1), small = smallWindow(32, 4, 1);
    big.exposure = small.exposure = 0;
    {
        // The driver gives up on a slow image part-way, purges its input and
        // closes the port.
        PosixSerialPort port;
        ASSERT_TRUE(openPort(port, 2));
        send(port, Batch().start().settings(big, 90).imageRequest().bytes);
        ASSERT_EQ(port.waitReadable(2000), SerialPort::Wait::Ready);
        port.purge(true, true);
    }
    ::usleep(100000); // more of the old image reaches the line meanwhile
    PosixSerialPort port;
    ASSERT_TRUE(openPort(port, 2));
    send(port, Batch().start().settings(small, 90).imageRequest().bytes);
    EXPECT_EQ(collect(port, 32 * 4, 300).bytes.size(), 32u * 4u) << "old image bytes leaked in";

    // A window no sensor has is not answered, and the camera carries on.
    send(port, Batch().raw({0x31, 0xFF, 0xFF, 0xFF, 0xFF}).imageRequest().bytes);
    EXPECT_TRUE(collect(port, 0, 300).bytes.empty());
    send(port, Batch().settings(small, 90).imageRequest().bytes);
    EXPECT_EQ(collect(port, 32 * 4).bytes.size(), 32u * 4u);
    EXPECT_EQ(sim.stop(), 0);
}

TEST(CamsimProcess, PacesTheTransfer) {
    // 4000 bytes at 20000 bytes per second take at least 0.15 s after the first line.
    Camsim sim({"--time-scale", "1", "--rate", "20000"});
    ASSERT_FALSE(sim.readLine().empty());
    PosixSerialPort port;
    ASSERT_TRUE(openPort(port, 2));
    Upload u = smallWindow(100, 40, 1);
    u.exposure = 0;
    const auto t0 = std::chrono::steady_clock::now();
    send(port, Batch().settings(u, 90).imageRequest().bytes);
    EXPECT_EQ(collect(port, 4000).bytes.size(), 4000u);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, Ms(150));
}

TEST(CamsimProcess, HelpAndBadOptions) {
    Camsim help({"--help"});
    EXPECT_EQ(help.readLine(), "usage: camsim [options]");
    EXPECT_EQ(help.waitExit(), 0);
    Camsim bad({"--scene", "nebula"});
    EXPECT_EQ(bad.waitExit(), 2);
}
