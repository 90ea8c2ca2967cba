#include "CameraServer.h"

#include "Random.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int kIdleWaitMs = 1000;
constexpr auto kLineRetry = std::chrono::milliseconds(50); // after the line reports trouble
// Before pulling the line, the bytes already sent get this long to be read:
// what a real cable had delivered before it came out is in the driver's hands.
constexpr auto kUnplugDrain = std::chrono::milliseconds(1000);
constexpr auto kDrainPoll = std::chrono::milliseconds(10);
// Bytes written to the master reach the slave's queue a little later: a queue
// seen empty only counts as read once this has passed or bytes were seen in it.
constexpr auto kDrainSettle = std::chrono::milliseconds(100);
constexpr auto kReopenRetry = std::chrono::seconds(1);
constexpr std::size_t kReadChunk = 4096;
constexpr std::uint64_t kGarbageStream = 100;
// Sensor pixels of sixteen full frames: far beyond any window the sensor has,
// small enough to render.
constexpr std::size_t kLargestWindow = 16u * kSensorWidth * kSensorHeight;

} // namespace

CameraServer::CameraServer(const Options& options, PseudoLine& l, std::FILE* logFile)
    : opt(options), line(l), log(logFile), mount(options.mount), sky(options.sky),
      started(Clock::now()), lineQuietUntil(started),
      unplugPending(options.fault == FaultKind::UnplugAfter), focusPosition(options.focusBest) {}

void CameraServer::logLine(const char* fmt, ...) {
    if (!log)
        return;
    const double t = std::chrono::duration<double>(Clock::now() - started).count();
    std::fprintf(log, "[%10.3f] ", t);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(log, fmt, ap);
    va_end(ap);
    std::fputc('\n', log);
    std::fflush(log);
}

double CameraServer::simSeconds(Clock::time_point t) const {
    return std::chrono::duration<double>(t - started).count() / opt.timeScale;
}

CameraServer::Clock::time_point CameraServer::after(Clock::time_point t, double s) const {
    return t + std::chrono::duration_cast<Clock::duration>(
                   std::chrono::duration<double>(s * opt.timeScale));
}

void CameraServer::announce() {
    for (int port : line.ports())
        std::printf("camsim: COM%d -> %s\n", port, line.slavePath().c_str());
    std::fflush(stdout);
}

int CameraServer::run(const volatile std::sig_atomic_t& stop) {
    std::string error;
    if (!line.open(error)) {
        std::fprintf(stderr, "camsim: %s\n", error.c_str());
        return 1;
    }
    announce();
    logLine("line %s", line.slavePath().c_str());
    sigset_t unblocked;
    sigemptyset(&unblocked);
    while (!stop) {
        const auto now = Clock::now();
        if (line.fd() < 0 && now >= lineQuietUntil) {
            // A terminal that could not be reopened after an unplug: try again.
            if (line.open(error))
                announce();
            else
                lineQuietUntil = now + kReopenRetry;
        }
        const bool lineUsable = line.fd() >= 0 && now >= lineQuietUntil;
        int timeout = waitMs(now);
        const bool wantWrite = phase == Phase::Sending && timeout == 0;
        if (wantWrite)
            timeout = kIdleWaitMs; // poll says when the line takes more
        if (!lineUsable)
            timeout = std::min<int>(
                timeout,
                static_cast<int>(
                    std::chrono::ceil<std::chrono::milliseconds>(lineQuietUntil - now).count()));
        pollfd p{line.fd(), static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0};
        const timespec ts{timeout / 1000, (timeout % 1000) * 1000000L};
        const int r = ::ppoll(&p, lineUsable ? 1 : 0, &ts, &unblocked);
        if (r < 0 && errno != EINTR) {
            std::fprintf(stderr, "camsim: poll failed\n");
            break;
        }
        if (r > 0 && (p.revents & POLLIN))
            readLine();
        else if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
            lineQuietUntil = Clock::now() + kLineRetry;
        if (phase == Phase::Exposing && Clock::now() >= exposureEnd)
            finishExposure();
        if (phase == Phase::Sending)
            sendDue();
        if (phase == Phase::Unplugging && drained())
            unplug();
        if (phase == Phase::Idle && pendingImages > 0)
            startImage();
    }
    logLine("stopped");
    line.close();
    line.removeLinks();
    return 0;
}

int CameraServer::waitMs(Clock::time_point now) const {
    Clock::time_point due;
    if (phase == Phase::Exposing) {
        due = exposureEnd;
    } else if (phase == Phase::Sending) {
        if (opt.rate <= 0 || sent < imageBegin)
            return 0;
        // The next line may leave once the bytes before it have had their time.
        const std::size_t done = sent - imageBegin;
        const std::size_t lineBytes = std::max<std::size_t>(1, current.lineBytes);
        if (done >= image.size())
            return 0;
        const std::size_t lineStart = done / lineBytes * lineBytes;
        if (done > lineStart)
            return 0; // the rest of a line already started goes out at once
        due = after(sendStart, static_cast<double>(lineStart) / opt.rate);
    } else if (phase == Phase::Unplugging) {
        return static_cast<int>(kDrainPoll.count());
    } else {
        return kIdleWaitMs;
    }
    if (due <= now)
        return 0;
    return static_cast<int>(std::min<long long>(
        kIdleWaitMs, std::chrono::ceil<std::chrono::milliseconds>(due - now).count()));
}

void CameraServer::readLine() {
    std::uint8_t buf[kReadChunk];
    const ssize_t n = ::read(line.fd(), buf, sizeof buf);
    if (n > 0 && buf[0] == TIOCPKT_DATA) {
        decoder.feed(buf + 1, static_cast<std::size_t>(n - 1), *this);
    } else if (n > 0) {
        // The driver purged its input (it does so when it closes the port):
        // nobody waits for the image under way, and bytes sent from now on
        // would only be taken for the start of its next image.
        if (buf[0] & TIOCPKT_FLUSHREAD)
            abandon("input purged by the driver");
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        // EIO while nobody holds the slave: wait a little instead of spinning.
        lineQuietUntil = Clock::now() + kLineRetry;
    }
}

void CameraServer::skipped(const std::uint8_t* bytes, std::size_t n) {
    logLine("skipped %zu byte%s: %s", n, n == 1 ? "" : "s", hexBytes(bytes, n).c_str());
}

void CameraServer::frame(const Frame& f) {
    logLine("%s", describeFrame(f).c_str());
    state.apply(f);
    switch (f.kind) {
    case FrameKind::ImageStart:
        if (opt.fault == FaultKind::Stall) {
            logLine("stall: image request left unanswered");
            break;
        }
        ++pendingImages;
        if (phase == Phase::Idle)
            startImage();
        break;
    case FrameKind::Opening:
        // The driver starts over (after a failed transfer, for one): what was
        // under way is no longer awaited.
        abandon("opening frame");
        break;
    case FrameKind::Move:
        if (mount.applyMove(f.bytes[2], f.word2())) {
            const Offset m = mount.moved();
            logLine("move applied: sky shifted by moves to (%.3f, %.3f) px", m.x, m.y);
        }
        break;
    default:
        break;
    }
}

void CameraServer::abandon(const char* why) {
    if (phase != Phase::Exposing && phase != Phase::Sending && pendingImages == 0)
        return;
    logLine("%s: image %llu abandoned", why, static_cast<unsigned long long>(imageNumber));
    phase = Phase::Idle;
    pendingImages = 0;
}

void CameraServer::startImage() {
    --pendingImages;
    ++imageNumber;
    current = state.request(opt.timeBase);
    if (current.byteCount() * static_cast<std::size_t>(current.binning) > kLargestWindow) {
        // No window of this camera comes near: a corrupted upload, which a
        // real camera would not answer either.
        logLine("image %llu: %d lines of %d bytes is beyond the sensor; not answered",
                static_cast<unsigned long long>(imageNumber), current.lines, current.lineBytes);
        return;
    }
    phase = Phase::Exposing;
    exposureEnd = after(Clock::now(), current.exposure);
    logLine("image %llu: exposing %.3f s, %d x %d pixels at binning %d from sensor (%d, %d), "
            "%zu bytes",
            static_cast<unsigned long long>(imageNumber), current.exposure, current.width,
            current.lines, current.binning, current.sensorX0, current.sensorY0,
            current.byteCount());
}

void CameraServer::finishExposure() {
    // The sky as it stood in the middle of the exposure.
    const auto middle =
        exposureEnd - std::chrono::duration_cast<Clock::duration>(
                          std::chrono::duration<double>(current.exposure * opt.timeScale / 2));
    const Offset o = mount.offsetAt(simSeconds(middle), imageNumber);
    readFocus();
    sky.render(current, state.readout(), o, imageNumber, image);
    outgoing.clear();
    if (opt.fault == FaultKind::Garbage) {
        Random noise(opt.sky.seed, kGarbageStream + imageNumber);
        for (std::size_t i = 0; i < opt.faultBytes; ++i)
            outgoing.push_back(static_cast<std::uint8_t>(noise.next()));
    }
    imageBegin = outgoing.size();
    outgoing.insert(outgoing.end(), image.begin(), image.end());
    if (opt.fault == FaultKind::Surplus)
        outgoing.insert(outgoing.end(), opt.faultBytes, 0x55);
    sent = 0;
    sendStart = Clock::now();
    phase = Phase::Sending;
    logLine("image %llu: sky offset (%.3f, %.3f) px, sending %zu bytes",
            static_cast<unsigned long long>(imageNumber), o.x, o.y, outgoing.size());
    sendDue();
}

void CameraServer::readFocus() {
    if (opt.focusPath.empty())
        return;
    // A file being rewritten may be caught empty or cut: the focuser has not
    // moved as far as the images can tell, so the last position stays.
    char text[64] = {};
    bool read = false;
    if (std::FILE* f = std::fopen(opt.focusPath.c_str(), "r")) {
        const std::size_t n = std::fread(text, 1, sizeof text - 1, f);
        read = std::feof(f) && !std::ferror(f);
        std::fclose(f);
        long long position = 0;
        if (read && parseFocusPosition(std::string(text, n), position))
            focusPosition = position;
        else
            read = false;
    }
    const double fwhm = defocusedFwhm(opt.sky.seeingFwhm, focusPosition, opt.focusBest);
    sky.setStarFwhm(fwhm);
    logLine("image %llu: focus position %lld%s, star FWHM %.3f px",
            static_cast<unsigned long long>(imageNumber), focusPosition,
            read ? "" : " (focus file unreadable, last position kept)", fwhm);
}

void CameraServer::sendDue() {
    while (phase == Phase::Sending) {
        if (sent == outgoing.size()) {
            endTransfer();
            return;
        }
        if (waitMs(Clock::now()) > 0)
            return;
        std::size_t end = outgoing.size();
        if (opt.rate > 0 && sent >= imageBegin && sent - imageBegin < image.size()) {
            const std::size_t lineBytes = std::max<std::size_t>(1, current.lineBytes);
            const std::size_t done = sent - imageBegin;
            end = imageBegin + std::min(image.size(), (done / lineBytes + 1) * lineBytes);
        }
        if (unplugPending) {
            const std::size_t cut = imageBegin + std::min(opt.faultBytes, image.size());
            if (sent >= cut) {
                phase = Phase::Unplugging;
                unplugBy = Clock::now() + kUnplugDrain;
                sawUnread = false;
                return;
            }
            end = std::min(end, cut);
        }
        const ssize_t w = ::write(line.fd(), outgoing.data() + sent, end - sent);
        if (w <= 0)
            return; // the line is full: poll says when it takes more
        sent += static_cast<std::size_t>(w);
    }
}

void CameraServer::endTransfer() {
    logLine("image %llu: sent %zu bytes (%zu image bytes)",
            static_cast<unsigned long long>(imageNumber), sent, image.size());
    phase = Phase::Idle;
}

bool CameraServer::drained() {
    const auto now = Clock::now();
    if (now >= unplugBy)
        return true;
    if (line.unreadBySlave() > 0) {
        sawUnread = true;
        return false;
    }
    return sawUnread || now >= unplugBy - kUnplugDrain + kDrainSettle;
}

void CameraServer::unplug() {
    // Pulling the cable: both ends of this terminal go away, so the driver's
    // reads fail; a fresh terminal then takes over the same links, as a
    // camera plugged back in shows up again under its name.
    unplugPending = false;
    logLine("unplug: line closed after %zu image bytes", sent - imageBegin);
    phase = Phase::Idle;
    pendingImages = 0;
    decoder = FrameDecoder();
    line.close();
    std::string error;
    if (!line.open(error)) {
        std::fprintf(stderr, "camsim: %s\n", error.c_str());
        lineQuietUntil = Clock::now() + kLineRetry;
        return;
    }
    announce();
    logLine("line %s", line.slavePath().c_str());
}
