#pragma once

#include <string>
#include <vector>

// The camera's end of the line: the master side of a pseudo-terminal, raw and
// non-blocking, with its slave linked as COM<n> in the ports folder. The
// simulator keeps a slave descriptor of its own open, so the master never sees
// a hang-up (and never reads EIO) while the driver has the port closed.
// The master runs in packet mode: every read starts with a status byte, 0 for
// data, else the TIOCPKT_* flags, which tell when the driver purges its input.
class PseudoLine {
public:
    PseudoLine(std::string portsFolder, std::vector<int> ports);
    ~PseudoLine();
    PseudoLine(const PseudoLine&) = delete;
    PseudoLine& operator=(const PseudoLine&) = delete;

    // Opens a new pseudo-terminal and points every link at it. False with a
    // message in error when it cannot.
    bool open(std::string& error);
    // Closes both sides: whoever has the slave open sees the line hang up.
    // The links stay until removeLinks or the next open re-points them.
    void close();
    void removeLinks();

    int fd() const { return master; }
    // Bytes sent to the slave side that nobody has read yet; 0 when unknown.
    int unreadBySlave() const;
    const std::string& slavePath() const { return slave; }
    std::string linkPath(int port) const;
    const std::vector<int>& ports() const { return portList; }

private:
    std::string folder;
    std::vector<int> portList;
    int master = -1;
    int keepSlave = -1;
    std::string slave;
};
