#pragma once

#include "CameraState.h"
#include "FrameDecoder.h"
#include "MountModel.h"
#include "Options.h"
#include "PseudoLine.h"
#include "SkyRenderer.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The simulator's event loop: reads frames from the line, keeps the camera's
// state, exposes and sends images at the requested pace, moves the sky.
class CameraServer : private FrameSink {
public:
    using Clock = std::chrono::steady_clock;

    CameraServer(const Options& options, PseudoLine& line, std::FILE* log);

    // Serves until stop becomes non-zero. The signals in the calling thread's
    // blocked set are let through only while waiting, so a signal handler that
    // sets stop wakes the loop at once. Returns the exit status.
    int run(const volatile std::sig_atomic_t& stop);

private:
    enum class Phase { Idle, Exposing, Sending, Unplugging };

    void frame(const Frame& f) override;
    void skipped(const std::uint8_t* bytes, std::size_t n) override;

    void readLine();
    void abandon(const char* why);
    void startImage();
    void finishExposure();
    void readFocus();
    void sendDue();
    void endTransfer();
    bool drained();
    void unplug();
    void announce();
    double simSeconds(Clock::time_point t) const;
    Clock::time_point after(Clock::time_point t, double simulatedSeconds) const;
    int waitMs(Clock::time_point now) const;
    void logLine(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    Options opt;
    PseudoLine& line;
    std::FILE* log;
    FrameDecoder decoder;
    CameraState state;
    MountModel mount;
    SkyRenderer sky;

    Clock::time_point started;
    Phase phase = Phase::Idle;
    int pendingImages = 0;
    std::uint64_t imageNumber = 0;
    ImageRequest current;
    Clock::time_point exposureEnd;
    Clock::time_point sendStart;
    Clock::time_point lineQuietUntil;
    Clock::time_point unplugBy;
    bool sawUnread = false;
    std::vector<std::uint8_t> image;    // samples of the image being sent
    std::vector<std::uint8_t> outgoing; // garbage, image, surplus
    std::size_t imageBegin = 0;         // where the image starts in outgoing
    std::size_t sent = 0;
    bool unplugPending = false;
    long long focusPosition = 0; // the last position the focus file gave
};
