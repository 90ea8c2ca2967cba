#pragma once

#include "AcqPrm.h"
#include "KovrelMapping.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CCamera;

// The one thread that talks to the camera. CCamera's calls block for a whole
// exposure and transfer; they run here so that the driver's own thread keeps
// answering its clients. Jobs (opening, exposures, closing) run one at a time,
// so the serial link serves one operation at a time. A guide move asked for
// while the camera exposes goes out at once from the progress hook; once image
// bytes arrive, it waits for the end of the transfer. Results come back as
// events: the host is woken through `wake` (any thread) and collects them with
// takeEvents.
class CameraWorker {
public:
    using Clock = std::chrono::steady_clock;

    struct Event {
        enum class Kind {
            Opened,
            OpenFailed,      // text: why
            ExposureStarted, // the request has left; prm: what the camera exposes
            ImageReady,      // pixels: the image, width x height of prm
            ImageFailed,
            MoveSent,
            MoveFailed,
            Message, // a driver error text
        };
        Kind kind = Kind::Message;
        int job = 0; // exposure or move number given by the host
        Clock::time_point time{};
        AcqPrm prm;
        std::vector<unsigned short> pixels;
        std::string text;
    };

    explicit CameraWorker(std::function<void()> wake);
    ~CameraWorker();
    CameraWorker(const CameraWorker&) = delete;
    CameraWorker& operator=(const CameraWorker&) = delete;

    // Opens the device by path once the job under way has ended, if it is a
    // serial terminal, and queues the start-up frames; answered by Opened or
    // OpenFailed.
    void open(int job, const std::string& path, const AcqPrm& prm);
    // Drops what is queued; the port closes once the job under way has ended.
    void close();

    void expose(int job, const AcqPrm& prm);
    // Drops the exposures still queued; the one the camera makes cannot be stopped.
    void dropExposures();
    void move(int job, kovrel_indi::Move m);
    // Takes back a move still waiting behind an image transfer; one already
    // on its way goes out all the same.
    void withdrawMove(int job);
    // True while a job runs or waits.
    bool busy() const;

    std::vector<Event> takeEvents();

private:
    struct Job {
        enum class Kind { Open, Expose, Move, Close } kind = Kind::Expose;
        int id = 0;
        AcqPrm prm;
        kovrel_indi::Move move;
        std::string path;
    };

    void run();
    void runOpen(const Job& job);
    void runExposure(const Job& job);
    // mayOpen: false from inside an image transfer, where the port is never reopened.
    void runMove(const Job& job, bool mayOpen);
    bool ensureOpen();
    void sendWaitingMoves();
    void post(Event e);
    // Adds a job under the lock and wakes the thread; dropQueued empties both queues first.
    void queue(std::deque<Job>& into, const Job& job, bool dropQueued = false);

    std::function<void()> wake;
    std::unique_ptr<CCamera> camera;
    std::string devicePath;
    std::string openProblem; // why the last ensureOpen failed
    bool uploaded = false;
    AcqPrm lastUpload;

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<Job> jobs;
    std::deque<Job> moves; // ahead of exposures
    std::vector<Event> events;
    bool running = false; // a job is under way
    bool stopping = false;
    // Link state seen from the worker thread only.
    bool exposing = false;
    int currentJob = 0;
    AcqPrm currentPrm;
    std::thread thread;
};
