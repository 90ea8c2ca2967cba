#include "SerialLink.h"

#include "DriverMessage.h"

#include "Clock.h"
#include "SerialPort.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

PosixSerialPort& ownPort() {
    static PosixSerialPort p;
    return p;
}

SystemClock& ownClock() {
    static SystemClock c;
    return c;
}

const std::uint8_t frameTail0 = 0x00;
const std::uint8_t frameTail1 = 0xFF;
// Lets the last bytes leave the adapter before the port is torn down.
const auto closeDelay = std::chrono::milliseconds(100);

} // namespace

SerialLink::SerialLink() : port(&ownPort()), clock(&ownClock()) {}

SerialLink& SerialLink::instance() {
    static SerialLink link;
    return link;
}

void SerialLink::setPort(SerialPort* p) {
    SerialLink& link = instance();
    link.dropPort();
    link.fill = 0;
    link.port = p ? p : &ownPort();
}

void SerialLink::setClock(Clock* c) {
    instance().clock = c ? c : &ownClock();
}

bool SerialLink::isOpen() const {
    return port->isOpen();
}

std::time_t SerialLink::now() {
    return clock->now();
}

int SerialLink::portOpen() {
    if (port->isOpen())
        return 0;
    const std::string path = devicePath.empty() ? serialPortPath(number) : devicePath;
    if (!port->open(path)) {
        openFailPath = path;
        openFailError = port->openError();
        return -1;
    }
    openFailPath.clear();
    openFailError = 0;
    port->apply(LineSettings{});
    return 0;
}

int SerialLink::portClose() {
    if (!port->isOpen())
        return 0;
    std::this_thread::sleep_for(closeDelay);
    dropPort();
    return 0;
}

void SerialLink::dropPort() {
    if (!port->isOpen())
        return;
    port->purge(true, true);
    port->close();
}

void SerialLink::append(const std::uint8_t* frame, std::size_t n) {
    // A batch never grows past the queue: what is queued goes out first.
    if (fill + n > queueCapacity)
        flushQueue();
    std::copy(frame, frame + n, commandBuffer + fill);
    fill += n;
}

void SerialLink::queueFrame(std::uint8_t cmd, std::uint8_t a, std::uint8_t b) {
    const std::uint8_t frame[5] = {cmd, a, b, frameTail0, frameTail1};
    append(frame, sizeof frame);
}

void SerialLink::queueWord(std::uint8_t cmd, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    queueFrame(cmd, std::uint8_t(u >> 8), std::uint8_t(u));
    if (u >> 24)
        queueFrame(cmd, std::uint8_t(u >> 24), std::uint8_t(u >> 16));
}

void SerialLink::queueGeometry(std::uint8_t cmd, std::uint8_t p1, std::uint8_t p2, std::uint8_t p3,
                               std::uint8_t p4) {
    const std::uint8_t frame[5] = {cmd, p1, p2, p3, p4};
    append(frame, sizeof frame);
}

void SerialLink::fail(const char* message) {
    showDriverError(QString::fromUtf8(message));
    portClose();
}

int SerialLink::flushQueue() {
    const unsigned char* p = commandBuffer;
    std::size_t n = fill;
    fill = 0; // empty afterwards, whatever the outcome
    const std::time_t t0 = clock->now();
    while (n > 0 && port->isOpen()) {
        if (std::difftime(clock->now(), t0) > writeLimitSeconds) {
            fail("Erreur USB param, enlever la prise USB et OK");
            return 1;
        }
        const long w = port->write(p, n);
        if (w > 0) {
            p += w;
            n -= std::size_t(w);
            continue;
        }
        // The device takes nothing now: wait for room, briefly, then check the limit again.
        const SerialPort::Wait r = port->waitWritable(waitSliceMs);
        if (r == SerialPort::Wait::Hangup || r == SerialPort::Wait::Error) {
            // A line that is gone will not take the bytes in five seconds either.
            fail("Erreur USB param, enlever la prise USB et OK");
            return 1;
        }
    }
    return 0;
}

void SerialLink::purgeInput() {
    if (port->isOpen())
        port->purge(true, false);
}

int SerialLink::receive(long expected, double limitSeconds, ChunkSink& sink) {
    const std::time_t t0 = clock->now();
    if (expected <= 0)
        return Received;
    if (std::size_t(expected) > receiveCapacity)
        return ReadFailed;
    std::size_t got = 0;
    std::size_t remaining = std::size_t(expected);
    kovrel::Progress progress;
    progress.expected = expected;
    while (port->isOpen()) {
        const long r = port->read(receiveBuffer + got, remaining);
        if (r < 0) {
            portClose();
            return ReadFailed;
        }
        if (r > 0) {
            sink.consume(receiveBuffer + got, std::size_t(r));
            got += std::size_t(r);
            remaining -= std::size_t(r);
            progress.received = long(got);
            reportProgress(progress);
            if (remaining == 0)
                return Received;
            continue;
        }
        reportProgress(progress);
        // Nothing waits: the limit bounds the whole transfer, from its start.
        if (std::difftime(clock->now(), t0) > limitSeconds) {
            fail("Erreur USB image, enlever la prise USB et l'alimentation et faire OK");
            return TimedOut;
        }
        const SerialPort::Wait w = port->waitReadable(waitSliceMs);
        if (w == SerialPort::Wait::Hangup || w == SerialPort::Wait::Error) {
            portClose();
            return ReadFailed;
        }
    }
    // No port, or it was closed by a failed write just before: nothing was received.
    return ReadFailed;
}
