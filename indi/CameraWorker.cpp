#include "CameraWorker.h"

#include "CCamera.h"
#include "CameraEvents.h"
#include "CameraProtocol.h"
#include "SerialDeviceCheck.h"
#include "SerialLink.h"

#include <QString>

#include <cstring>
#include <utility>

CameraWorker::CameraWorker(std::function<void()> w)
    : wake(std::move(w)), camera(std::make_unique<CCamera>()) {
    kovrel::setMessageSink([this](const QString& text) {
        Event e;
        e.kind = Event::Kind::Message;
        e.text = text.toStdString();
        post(std::move(e));
    });
    kovrel::setProgressCallback([this](const kovrel::Progress& p) {
        if (p.stage == kovrel::Progress::Stage::ExposureStarted) {
            Event e;
            e.kind = Event::Kind::ExposureStarted;
            e.job = currentJob;
            e.time = Clock::now();
            e.prm = currentPrm;
            post(std::move(e));
        } else if (p.received == 0 && exposing) {
            sendWaitingMoves();
        }
    });
    thread = std::thread([this] { run(); });
}

CameraWorker::~CameraWorker() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        jobs.clear();
        moves.clear();
    }
    changed.notify_all();
    thread.join();
    kovrel::setProgressCallback(nullptr);
    kovrel::setMessageSink(nullptr);
    // The camera's destructor closes the port.
    camera.reset();
}

void CameraWorker::open(int id, const std::string& path, const AcqPrm& prm) {
    Job j;
    j.kind = Job::Kind::Open;
    j.id = id;
    j.path = path;
    j.prm = prm;
    queue(jobs, j);
}

void CameraWorker::queue(std::deque<Job>& into, const Job& job, bool dropQueued) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (dropQueued) {
            jobs.clear();
            moves.clear();
        }
        into.push_back(job);
    }
    changed.notify_all();
}

void CameraWorker::close() {
    Job j;
    j.kind = Job::Kind::Close;
    queue(jobs, j, true);
}

void CameraWorker::expose(int id, const AcqPrm& prm) {
    Job j;
    j.kind = Job::Kind::Expose;
    j.id = id;
    j.prm = prm;
    queue(jobs, j);
}

void CameraWorker::dropExposures() {
    std::lock_guard<std::mutex> lock(mutex);
    std::erase_if(jobs, [](const Job& j) { return j.kind == Job::Kind::Expose; });
}

void CameraWorker::move(int id, kovrel_indi::Move m) {
    Job j;
    j.kind = Job::Kind::Move;
    j.id = id;
    j.move = m;
    queue(moves, j);
}

void CameraWorker::withdrawMove(int id) {
    std::lock_guard<std::mutex> lock(mutex);
    std::erase_if(moves, [id](const Job& j) { return j.id == id; });
}

bool CameraWorker::busy() const {
    std::lock_guard<std::mutex> lock(mutex);
    return running || !jobs.empty() || !moves.empty();
}

std::vector<CameraWorker::Event> CameraWorker::takeEvents() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(events, {});
}

void CameraWorker::post(Event e) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(std::move(e));
    }
    wake();
}

void CameraWorker::run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return stopping || !jobs.empty() || !moves.empty(); });
        if (stopping)
            return;
        std::deque<Job>& queue = moves.empty() ? jobs : moves;
        const Job job = queue.front();
        queue.pop_front();
        running = true;
        lock.unlock();
        switch (job.kind) {
        case Job::Kind::Open:
            runOpen(job);
            break;
        case Job::Kind::Expose:
            runExposure(job);
            break;
        case Job::Kind::Move:
            runMove(job, true);
            break;
        case Job::Kind::Close:
            SerialLink::instance().portClose();
            break;
        }
        lock.lock();
        running = false;
        changed.notify_all();
    }
}

void CameraWorker::runOpen(const Job& job) {
    // A connection starts from a closed port, whatever an earlier one left.
    SerialLink::instance().portClose();
    devicePath = job.path;
    SerialLink::instance().setPortPath(job.path);
    camera->setParameters(job.prm);
    Event e;
    e.job = job.id;
    e.kind = ensureOpen() ? Event::Kind::Opened : Event::Kind::OpenFailed;
    e.text = openProblem;
    post(std::move(e));
}

bool CameraWorker::ensureOpen() {
    SerialLink& link = SerialLink::instance();
    if (link.isOpen())
        return true;
    // Checked at every opening: the path may have come to name something else.
    openProblem = serialDeviceProblem(devicePath);
    if (!openProblem.empty())
        return false;
    // A camera that was away has lost its settings: upload them again.
    uploaded = false;
    camera->initFromParameters();
    if (link.isOpen())
        return true;
    // No port: the start-up frames just queued would pile up at every try.
    link.flushQueue();
    openProblem = "Ouverture impossible du port série " + devicePath;
    if (const int error = link.failedError(); error != 0)
        openProblem += std::string(" (") + std::strerror(error) + ")";
    return false;
}

void CameraWorker::runExposure(const Job& job) {
    Event done;
    done.job = job.id;
    done.prm = job.prm;
    done.kind = Event::Kind::ImageFailed;
    if (!ensureOpen()) {
        Event m;
        m.kind = Event::Kind::Message;
        m.text = "Port série non disponible : " + openProblem;
        post(std::move(m));
        post(std::move(done));
        return;
    }
    camera->setParameters(job.prm);
    // The exposure arithmetic takes its time base from the camera's start-up:
    // a time base changed since (a client, a loaded configuration) starts it again.
    if (camera_protocol::usableTimeBase(job.prm.bdt) != camera_protocol::timeBase())
        camera->initFromParameters();
    if (!uploaded || !(lastUpload == job.prm)) {
        camera->reglage();
        // A failed write closes the port: the camera has not got the settings.
        if (!SerialLink::instance().isOpen()) {
            post(std::move(done));
            return;
        }
        uploaded = true;
        lastUpload = job.prm;
    }
    std::vector<unsigned short> pixels(std::size_t(job.prm.img_w) * std::size_t(job.prm.img_h));
    currentJob = job.id;
    currentPrm = job.prm;
    exposing = true;
    const int r = camera->acquerir(pixels.data());
    exposing = false;
    if (r != 0) {
        uploaded = false;
        post(std::move(done));
        return;
    }
    done.kind = Event::Kind::ImageReady;
    done.pixels = std::move(pixels);
    post(std::move(done));
}

void CameraWorker::runMove(const Job& job, bool mayOpen) {
    Event e;
    e.job = job.id;
    e.kind = Event::Kind::MoveFailed;
    if (mayOpen ? ensureOpen() : SerialLink::instance().isOpen()) {
        camera->deplacement(job.move.x, job.move.y);
        // A failed write closes the port.
        if (SerialLink::instance().isOpen())
            e.kind = Event::Kind::MoveSent;
    }
    e.time = Clock::now();
    post(std::move(e));
}

void CameraWorker::sendWaitingMoves() {
    // Still exposing, nothing received yet: moves may go out now.
    for (;;) {
        Job job;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (moves.empty())
                return;
            job = moves.front();
            moves.pop_front();
        }
        runMove(job, false);
    }
}
