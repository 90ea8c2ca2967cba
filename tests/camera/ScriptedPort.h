#pragma once

#include "Clock.h"
#include "SerialPort.h"

#include <deque>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// A serial port whose input and write behaviour a test scripts, recording
// everything the link does to it.
class ScriptedPort : public SerialPort {
public:
    // Input: each read takes from the first entry (at most what was asked); an
    // empty entry stands for one read that finds nothing waiting.
    std::deque<Bytes> incoming;
    // Input that becomes readable at the next write (a camera answering a request).
    std::deque<Bytes> reply;
    // Per write call, how many bytes it accepts (0: none; -1: the call fails);
    // once used up every write takes everything.
    std::deque<long> writeAccepts;
    Wait writableWait = Wait::Ready;
    bool hangupWhenDry = false;
    bool readFails = false;
    bool openFails = false;
    // Time that passes at every read call, on the given clock.
    ManualClock* clock = nullptr;
    std::time_t secondsPerRead = 0;

    // What the link did.
    Bytes written;
    std::vector<std::string> openedPaths;
    std::vector<LineSettings> applied;
    std::vector<std::size_t> readSizes;
    int closes = 0;
    int inputPurges = 0;
    int outputPurges = 0;
    int readableWaits = 0;
    int writableWaits = 0;

    bool open(const std::string& path) override;
    bool isOpen() const override { return opened; }
    bool apply(const LineSettings& s) override;
    long bytesWaiting() override;
    long read(void* buffer, std::size_t n) override;
    long write(const void* data, std::size_t n) override;
    Wait waitReadable(int timeoutMs) override;
    Wait waitWritable(int timeoutMs) override;
    void purge(bool input, bool output) override;
    void close() override;

    // Frames of 5 bytes as written, for readable failure output.
    std::vector<Bytes> frames() const;

private:
    bool opened = false;
};
