#include "ScriptedPort.h"

#include <algorithm>
#include <cstring>

bool ScriptedPort::open(const std::string& path) {
    openedPaths.push_back(path);
    if (openFails || opened)
        return false;
    opened = true;
    return true;
}

bool ScriptedPort::apply(const LineSettings& s) {
    applied.push_back(s);
    return true;
}

long ScriptedPort::bytesWaiting() {
    long n = 0;
    for (const auto& b : incoming)
        n += long(b.size());
    return n;
}

long ScriptedPort::read(void* buffer, std::size_t n) {
    readSizes.push_back(n);
    if (clock)
        clock->advance(secondsPerRead);
    if (!opened || readFails)
        return -1;
    if (incoming.empty())
        return 0;
    Bytes& front = incoming.front();
    if (front.empty()) {
        incoming.pop_front();
        return 0;
    }
    const std::size_t k = std::min(n, front.size());
    std::memcpy(buffer, front.data(), k);
    front.erase(front.begin(), front.begin() + long(k));
    if (front.empty())
        incoming.pop_front();
    return long(k);
}

long ScriptedPort::write(const void* data, std::size_t n) {
    if (!opened)
        return -1;
    long accept = long(n);
    if (!writeAccepts.empty()) {
        accept = writeAccepts.front();
        writeAccepts.pop_front();
        if (accept < 0)
            return -1;
        accept = std::min(accept, long(n));
    }
    const auto* p = static_cast<const unsigned char*>(data);
    written.insert(written.end(), p, p + accept);
    while (!reply.empty()) {
        incoming.push_back(std::move(reply.front()));
        reply.pop_front();
    }
    return accept;
}

SerialPort::Wait ScriptedPort::waitReadable(int) {
    ++readableWaits;
    if (!incoming.empty() && !incoming.front().empty())
        return Wait::Ready;
    return hangupWhenDry ? Wait::Hangup : Wait::Timeout;
}

SerialPort::Wait ScriptedPort::waitWritable(int) {
    ++writableWaits;
    return writableWait;
}

void ScriptedPort::purge(bool input, bool output) {
    if (input) {
        ++inputPurges;
        incoming.clear();
    }
    if (output)
        ++outputPurges;
}

void ScriptedPort::close() {
    if (opened)
        ++closes;
    opened = false;
}

std::vector<Bytes> ScriptedPort::frames() const {
    std::vector<Bytes> out;
    for (std::size_t i = 0; i + 5 <= written.size(); i += 5)
        out.emplace_back(written.begin() + long(i), written.begin() + long(i) + 5);
    return out;
}
