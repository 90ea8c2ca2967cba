#pragma once

#include "SensorWindow.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <utility>

class Clock;
class SerialPort;

// Receives the bytes of a transfer as they arrive, in order.
class ChunkSink {
public:
    virtual ~ChunkSink() = default;
    virtual void consume(const unsigned char* bytes, std::size_t count) = 0;
};

// The transport to the camera: one serial port and one command queue for the
// whole process. Frames are queued by the protocol and leave together with
// flushQueue; the receive loop hands an image transfer to a ChunkSink.
class SerialLink {
public:
    static constexpr std::size_t queueCapacity = 512;
    static constexpr std::size_t receiveCapacity = std::size_t(kSensorWidth) * kSensorHeight;
    static constexpr double writeLimitSeconds = 5.0;
    // Longest single wait on the port; bounds how late a time limit is noticed
    // and how long a host's window goes without a progress report.
    static constexpr int waitSliceMs = 50;

    enum ReceiveResult { Received = 0, ReadFailed = 1, TimedOut = 2 };

    static SerialLink& instance();

    // Tests put a scripted port or a hand-set clock in place of the real ones;
    // null restores the link's own PosixSerialPort or SystemClock. Changing the
    // port forgets the current one (closed at once) and empties the queue.
    static void setPort(SerialPort* port);
    static void setClock(Clock* clock);

    void setPortNumber(int n) { number = n; }
    int portNumber() const { return number; }
    // A device path opened instead of the one the port number names, for hosts
    // that are given the device itself (/dev/ttyUSB0, /dev/serial/by-id/...);
    // empty (the default) leaves the number in charge.
    void setPortPath(std::string path) { devicePath = std::move(path); }
    const std::string& portPath() const { return devicePath; }
    bool isOpen() const;

    // 0 when a port is open afterwards (already open: untouched), -1 otherwise.
    int portOpen();
    // After a failed portOpen: the device tried and the errno (0 if unknown);
    // both cleared by a successful open.
    const std::string& failedPath() const { return openFailPath; }
    int failedError() const { return openFailError; }
    int portClose();

    void queueFrame(std::uint8_t cmd, std::uint8_t a, std::uint8_t b);
    // Low 16 bits first; bits 16-31 follow in a second frame only when the top byte is set.
    void queueWord(std::uint8_t cmd, std::int32_t v);
    void queueGeometry(std::uint8_t cmd, std::uint8_t p1, std::uint8_t p2, std::uint8_t p3,
                       std::uint8_t p4);
    std::size_t queuedBytes() const { return fill; }

    // Writes the queue; 0, or 1 after the write limit (message shown, port closed).
    // The queue is empty afterwards whatever happens.
    int flushQueue();

    // Drops bytes already waiting in the input, e.g. the rest of an aborted transfer.
    void purgeInput();

    // Receives exactly `expected` bytes within limitSeconds of the start, counted
    // while the line is idle. Result ReceiveResult.
    int receive(long expected, double limitSeconds, ChunkSink& sink);

    std::time_t now();

private:
    SerialLink();
    void append(const std::uint8_t* frame, std::size_t n);
    void dropPort();
    void fail(const char* message);

    SerialPort* port;
    Clock* clock;
    int number = 0;
    std::string openFailPath;
    int openFailError = 0;
    std::string devicePath;
    std::size_t fill = 0;
    unsigned char commandBuffer[queueCapacity];
    unsigned char receiveBuffer[receiveCapacity];
};
