#pragma once

#include "common/TempDir.h"

#include <string>
#include <sys/types.h>
#include <vector>

// indiserver with indi_kovrel_ccd on a free TCP port of its own, its own
// local socket, driver log and INDI configuration folder (HOME), driven with
// indi_setprop and indi_getprop as any INDI user would.
class IndiRig {
public:
    // traceMessages: indiserver logs every message it passes (-vv), see serverLog.
    explicit IndiRig(bool traceMessages = false);
    ~IndiRig();
    IndiRig(const IndiRig&) = delete;
    IndiRig& operator=(const IndiRig&) = delete;

    // "PROPERTY.ELEMENT" (or PROPERTY._STATE) of the device: its value, empty when none.
    std::string get(const std::string& item) const;
    // "PROPERTY.E1;E2=V1;V2" or "PROPERTY.E=V": true when indi_setprop accepted it.
    bool set(const std::string& assignment) const;
    // Polls get(item) until it equals `value`; false after timeoutMs.
    bool waitFor(const std::string& item, const std::string& value, int timeoutMs) const;
    // Everything the driver logged (indiserver -l).
    std::string log() const;
    // indiserver's own output: with traceMessages, a line per message queued to a client.
    std::string serverLog() const;
    pid_t driverPid() const;
    int port() const { return tcpPort; }
    // indiserver's local socket, for clients on the same machine.
    std::string socketPath() const { return dir.file("socket"); }
    const std::string& home() const { return dir.path(); }
    // The driver's XDG_CONFIG_HOME.
    std::string driverConfig() const { return dir.file("config"); }

    static const char* device() { return "Kovrel CCD"; }

private:
    TempDir dir;
    int tcpPort = 0;
    pid_t server = -1;
};

// Runs a program with arguments, returns its exit status and standard output.
int runProgram(const std::vector<std::string>& argv, std::string* out = nullptr);
