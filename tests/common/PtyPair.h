#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A pseudo-terminal: the test holds the master side, the code under test opens
// slavePath() as if it were a serial device.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slavePath() const { return slave; }
    int masterFd() const { return master; }
    // Writes all bytes to the master side (what the "device" sends).
    void send(const void* data, std::size_t n);
    void send(const std::vector<unsigned char>& bytes) { send(bytes.data(), bytes.size()); }
    // Reads what has arrived on the master side within timeoutMs (what the code wrote).
    std::vector<unsigned char> receive(std::size_t atMost, int timeoutMs);
    // Reads until exactly n bytes have arrived or timeoutMs passed.
    std::vector<unsigned char> receiveExactly(std::size_t n, int timeoutMs);

private:
    int master = -1;
    std::string slave;
};
