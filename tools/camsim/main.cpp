// camsim: the camera on a pseudo-terminal, with a sky and a mount.
#include "CameraServer.h"
#include "Options.h"
#include "PseudoLine.h"

#include "SerialPort.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onStopSignal(int) {
    stopRequested = 1;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!parseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "camsim: %s\n%s", error.c_str(), usageText());
        return 2;
    }
    if (options.help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    std::FILE* log = nullptr;
    if (!options.logPath.empty() && !(log = std::fopen(options.logPath.c_str(), "w"))) {
        std::fprintf(stderr, "camsim: cannot write %s\n", options.logPath.c_str());
        return 2;
    }

    // The stop signals stay blocked except while the loop waits, so they are
    // seen at one place only and never interrupt a write half-way.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    PseudoLine line(serialPortsFolder(), options.ports);
    CameraServer server(options, line, log);
    const int status = server.run(stopRequested);
    if (log)
        std::fclose(log);
    return status;
}
