#include "KovrelCcd.h"

#include "CameraProtocol.h"
#include "SerialLink.h"

#include <connectionplugins/connectionserial.h>
#include <indilogger.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

using kovrel_indi::GuideDirection;

const char* const cameraTab = "Caméra";
// Editable through CCD_INFO; a stated value so that plate solving has a start.
const double defaultPixelSize = 6.7; // micrometres
// One move unit per millisecond: the mount output held for as long as the pulse.
const double defaultUnitsPerMs = 1.0;
const int countdownMs = 1000;

enum { settingGain, settingOffset, settingTimeBase };
enum { colourC, colourY2, colourY1, colourM };

int whole(double v) {
    return static_cast<int>(std::lround(v));
}

// Connection::Serial keeps its properties (DEVICE_PORT, the list of system
// ports, the saved port); the device itself is opened by Kovrel's serial link,
// exclusively and with the camera's line settings, so that one piece of code
// owns the line.
class KovrelSerial : public Connection::Serial {
public:
    explicit KovrelSerial(KovrelCcd* c) : Connection::Serial(c), ccd(c) {
        setDefaultBaudRate(B_115200);
        // The camera does not answer a probe: trying every serial device in
        // turn would send its frames to whatever is plugged in.
        AutoSearchS[INDI::DefaultDevice::INDI_ENABLED].s = ISS_OFF;
        AutoSearchS[INDI::DefaultDevice::INDI_DISABLED].s = ISS_ON;
        registerHandshake([] { return true; });
    }

    bool Disconnect() override {
        ccd->closeCamera();
        return true;
    }

    void Activated() override {
        Connection::Serial::Activated();
        // The line runs at the camera's fixed speed.
        m_Device->deleteProperty(BaudRateSP.name);
    }

protected:
    bool Connect(const char* port, uint32_t) override { return ccd->openCamera(port); }

private:
    KovrelCcd* ccd;
};

} // namespace

KovrelCcd::KovrelCcd() {
    setVersion(1, 0);
    wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    IEAddCallback(wakeFd, &KovrelCcd::onWake, this);
    const int fd = wakeFd;
    worker = std::make_unique<CameraWorker>([fd] {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
    });
    countdown.callOnTimeout([this] { tickCountdown(); });
    for (int axis : {AXIS_RA, AXIS_DE}) {
        guideTimers[axis].setSingleShot(true);
        guideTimers[axis].callOnTimeout(
            [this, axis] { GuideComplete(static_cast<INDI_EQ_AXIS>(axis)); });
    }
}

KovrelCcd::~KovrelCcd() {
    // The camera cannot be stopped in an exposure: when the server goes away
    // during one, leave at once rather than wait for its end.
    if (worker->busy())
        std::_Exit(EXIT_SUCCESS);
    worker.reset();
    ::close(wakeFd);
}

const char* KovrelCcd::getDefaultName() {
    return "Kovrel CCD";
}

bool KovrelCcd::initProperties() {
    INDI::CCD::initProperties();
    SetCCDCapability(CCD_CAN_ABORT | CCD_CAN_BIN | CCD_CAN_SUBFRAME | CCD_HAS_ST4_PORT);
    SetCCDParams(kovrel_indi::sensorWidth, kovrel_indi::sensorHeight, 16, defaultPixelSize,
                 defaultPixelSize);
    PrimaryCCD.setMinMaxStep("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 0, kovrel_indi::longestExposure,
                             0.01, false);
    PrimaryCCD.setMinMaxStep("CCD_BINNING", "HOR_BIN", 1, 4, 1, false);
    PrimaryCCD.setMinMaxStep("CCD_BINNING", "VER_BIN", 1, 4, 1, false);

    const AcqPrm d;
    IUFillNumber(&settingsN[settingGain], "GAIN", "Gain", "%.f", 0, 63, 1, d.prm1);
    IUFillNumber(&settingsN[settingOffset], "OFFSET", "offset", "%.f", 0, 31, 1, d.prm3);
    IUFillNumber(&settingsN[settingTimeBase], "TIME_BASE", "Base de temps", "%.f", 1,
                 camera_protocol::maxTimeBase, 1, d.bdt);
    IUFillNumberVector(&settingsNP, settingsN, 3, getDeviceName(), "KOVREL_SETTINGS", "Réglages",
                       cameraTab, IP_RW, 60, IPS_IDLE);
    IUFillSwitch(&highGainS[0], "HIGH_GAIN_ON", "Oui", d.option3 ? ISS_ON : ISS_OFF);
    IUFillSwitch(&highGainS[1], "HIGH_GAIN_OFF", "Non", d.option3 ? ISS_OFF : ISS_ON);
    IUFillSwitchVector(&highGainSP, highGainS, 2, getDeviceName(), "KOVREL_HIGH_GAIN",
                       "Gain fort (X4)", cameraTab, IP_RW, ISR_1OFMANY, 60, IPS_IDLE);
    IUFillNumber(&colourN[colourC], "C", "C", "%.f", 0, 31, 1, d.C);
    IUFillNumber(&colourN[colourY2], "Y2", "Y2", "%.f", 0, 31, 1, d.Y2);
    IUFillNumber(&colourN[colourY1], "Y1", "Y1", "%.f", 0, 31, 1, d.Y1);
    IUFillNumber(&colourN[colourM], "M", "M", "%.f", 0, 31, 1, d.M);
    IUFillNumberVector(&colourNP, colourN, 4, getDeviceName(), "KOVREL_COLOUR_GAINS",
                       "Gain Couleurs", cameraTab, IP_RW, 60, IPS_IDLE);
    IUFillNumber(&guideUnitsN[0], "UNITS_PER_MS", "Unités par ms", "%.3f", 0, 65.535, 0.001,
                 defaultUnitsPerMs);
    IUFillNumberVector(&guideUnitsNP, guideUnitsN, 1, getDeviceName(), "KOVREL_GUIDE_UNITS",
                       "Déplacement", GUIDE_CONTROL_TAB, IP_RW, 60, IPS_IDLE);

    // CCD_INFO is read-only to clients: the pixel size is set here and shown there.
    IUFillNumber(&pixelSizeN[0], "PIXEL_SIZE", "Taille pixel (µm)", "%.2f", 1, 40, 0.01,
                 defaultPixelSize);
    IUFillNumberVector(&pixelSizeNP, pixelSizeN, 1, getDeviceName(), "KOVREL_PIXEL_SIZE", "Pixel",
                       cameraTab, IP_RW, 60, IPS_IDLE);

    serial = new KovrelSerial(this);
    registerConnection(serial);
    addDebugControl();
    addConfigurationControl();
    addPollPeriodControl();
    return true;
}

bool KovrelCcd::updateProperties() {
    INDI::CCD::updateProperties();
    if (isConnected()) {
        defineProperty(&settingsNP);
        defineProperty(&highGainSP);
        defineProperty(&colourNP);
        defineProperty(&guideUnitsNP);
        defineProperty(&pixelSizeNP);
        // The camera's settings and pixel size as the configuration last saved them.
        for (const char* name :
             {settingsNP.name, highGainSP.name, colourNP.name, guideUnitsNP.name, pixelSizeNP.name})
            loadConfig(true, name);
    } else {
        deleteProperty(settingsNP.name);
        deleteProperty(highGainSP.name);
        deleteProperty(colourNP.name);
        deleteProperty(guideUnitsNP.name);
        deleteProperty(pixelSizeNP.name);
    }
    return true;
}

bool KovrelCcd::ISNewNumber(const char* dev, const char* name, double values[], char* names[],
                            int n) {
    if (dev && !std::strcmp(dev, getDeviceName())) {
        for (INumberVectorProperty* p : {&settingsNP, &colourNP, &guideUnitsNP}) {
            if (std::strcmp(name, p->name))
                continue;
            p->s = IUUpdateNumber(p, values, names, n) == 0 ? IPS_OK : IPS_ALERT;
            IDSetNumber(p, nullptr);
            return true;
        }
        if (!std::strcmp(name, pixelSizeNP.name)) {
            pixelSizeNP.s =
                IUUpdateNumber(&pixelSizeNP, values, names, n) == 0 ? IPS_OK : IPS_ALERT;
            IDSetNumber(&pixelSizeNP, nullptr);
            applyPixelSize();
            return true;
        }
    }
    return INDI::CCD::ISNewNumber(dev, name, values, names, n);
}

bool KovrelCcd::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[],
                            int n) {
    if (dev && !std::strcmp(dev, getDeviceName()) && !std::strcmp(name, highGainSP.name)) {
        highGainSP.s = IUUpdateSwitch(&highGainSP, states, names, n) == 0 ? IPS_OK : IPS_ALERT;
        IDSetSwitch(&highGainSP, nullptr);
        return true;
    }
    return INDI::CCD::ISNewSwitch(dev, name, states, names, n);
}

void KovrelCcd::applyPixelSize() {
    const double size = pixelSizeN[0].value;
    SetCCDParams(kovrel_indi::sensorWidth, kovrel_indi::sensorHeight, 16, size, size);
    IDSetNumber(PrimaryCCD.getCCDInfo(), nullptr);
}

bool KovrelCcd::saveConfigItems(FILE* fp) {
    INDI::CCD::saveConfigItems(fp);
    IUSaveConfigNumber(fp, &settingsNP);
    IUSaveConfigSwitch(fp, &highGainSP);
    IUSaveConfigNumber(fp, &colourNP);
    IUSaveConfigNumber(fp, &guideUnitsNP);
    IUSaveConfigNumber(fp, &pixelSizeNP);
    return true;
}

bool KovrelCcd::openCamera(const char* path) {
    if (worker->open(path, record()))
        return true;
    LOGF_ERROR("Ouverture impossible du port série %s", path);
    return false;
}

void KovrelCcd::closeCamera() {
    AbortExposure();
    pulses.clear();
    for (INDI::Timer& t : guideTimers)
        t.stop();
    worker->close();
}

AcqPrm KovrelCcd::record() const {
    AcqPrm p;
    p.prm2 = 0;    // the port goes by its path
    p.option4 = 1; // raw images: clients calibrate
    p.prm1 = whole(settingsN[settingGain].value);
    p.prm3 = whole(settingsN[settingOffset].value);
    p.bdt = whole(settingsN[settingTimeBase].value);
    p.option3 = highGainS[0].s == ISS_ON ? 1 : 0;
    p.C = whole(colourN[colourC].value);
    p.Y2 = whole(colourN[colourY2].value);
    p.Y1 = whole(colourN[colourY1].value);
    p.M = whole(colourN[colourM].value);
    kovrel_indi::SensorWindow w;
    w.x = PrimaryCCD.getSubX();
    w.y = PrimaryCCD.getSubY();
    w.width = PrimaryCCD.getSubW();
    w.height = PrimaryCCD.getSubH();
    w.binning = PrimaryCCD.getBinX();
    kovrel_indi::applyWindow(w, p); // checked when the frame and binning were set
    return p;
}

bool KovrelCcd::refuseWhileExposing() {
    if (exposureJob == 0)
        return false;
    LOG_ERROR("Pose en cours : cadre et binning inchangés");
    return true;
}

bool KovrelCcd::UpdateCCDFrame(int x, int y, int w, int h) {
    if (refuseWhileExposing())
        return false;
    AcqPrm p;
    if (const char* m = kovrel_indi::applyWindow({x, y, w, h, PrimaryCCD.getBinX()}, p)) {
        LOG_ERROR(m);
        return false;
    }
    PrimaryCCD.setFrame(x, y, w, h);
    return true;
}

bool KovrelCcd::UpdateCCDBin(int hor, int ver) {
    if (refuseWhileExposing())
        return false;
    if (hor != ver) {
        LOG_ERROR("Binning non valide : le même sur les deux axes");
        return false;
    }
    AcqPrm p;
    const kovrel_indi::SensorWindow w{PrimaryCCD.getSubX(), PrimaryCCD.getSubY(),
                                      PrimaryCCD.getSubW(), PrimaryCCD.getSubH(), hor};
    if (const char* m = kovrel_indi::applyWindow(w, p)) {
        LOG_ERROR(m);
        return false;
    }
    PrimaryCCD.setBin(hor, ver);
    return true;
}

bool KovrelCcd::StartExposure(float duration) {
    if (!isConnected())
        return false;
    AcqPrm p = record();
    kovrel_indi::applyExposure(duration, p);
    exposureSeconds = p.pause_s + p.pause_cs / 100.0;
    PrimaryCCD.setExposureDuration(exposureSeconds);
    exposureJob = ++nextJob;
    exposureStarted = false;
    InExposure = true;
    worker->expose(exposureJob, p);
    countdown.start(std::min<int>(countdownMs, getCurrentPollingPeriod()));
    return true;
}

bool KovrelCcd::AbortExposure() {
    if (exposureJob == 0)
        return true;
    exposureJob = 0;
    InExposure = false;
    countdown.stop();
    if (worker->busy())
        LOG_INFO("Pose abandonnée : l'image que la caméra enverra encore sera ignorée");
    return true;
}

void KovrelCcd::tickCountdown() {
    if (exposureJob == 0) {
        countdown.stop();
        return;
    }
    double left = exposureSeconds;
    if (exposureStarted) {
        const double elapsed =
            std::chrono::duration<double>(CameraWorker::Clock::now() - exposureStart).count();
        left = std::max(0.0, exposureSeconds - elapsed);
    }
    PrimaryCCD.setExposureLeft(left);
}

IPState KovrelCcd::pulse(GuideDirection direction, std::uint32_t ms) {
    const bool ns = direction == GuideDirection::North || direction == GuideDirection::South;
    const INDI_EQ_AXIS axis = ns ? AXIS_DE : AXIS_RA;
    const kovrel_indi::Move m = kovrel_indi::guideMove(direction, ms, guideUnitsN[0].value);
    if (m.x == 0 && m.y == 0)
        return IPS_OK;
    if (!isConnected())
        return IPS_ALERT;
    const int job = ++nextJob;
    pulses[job] = Pulse{axis, ms};
    worker->move(job, m);
    return IPS_BUSY;
}

IPState KovrelCcd::GuideNorth(uint32_t ms) {
    return pulse(GuideDirection::North, ms);
}

IPState KovrelCcd::GuideSouth(uint32_t ms) {
    return pulse(GuideDirection::South, ms);
}

IPState KovrelCcd::GuideEast(uint32_t ms) {
    return pulse(GuideDirection::East, ms);
}

IPState KovrelCcd::GuideWest(uint32_t ms) {
    return pulse(GuideDirection::West, ms);
}

INDI::PropertyNumber KovrelCcd::guideProperty(INDI_EQ_AXIS axis) const {
    return getNumber(axis == AXIS_DE ? "TELESCOPE_TIMED_GUIDE_NS" : "TELESCOPE_TIMED_GUIDE_WE");
}

void KovrelCcd::GuideComplete(INDI_EQ_AXIS axis) {
    // Back to zero, so that a client setting one element does not repeat the
    // other direction's last pulse.
    if (INDI::PropertyNumber guide = guideProperty(axis); guide.isValid()) {
        guide[0].setValue(0);
        guide[1].setValue(0);
    }
    INDI::CCD::GuideComplete(axis);
}

void KovrelCcd::addFITSKeywords(INDI::CCDChip* chip) {
    INDI::CCD::addFITSKeywords(chip);
    fitsfile* fptr = *chip->fitsFilePointer();
    int status = 0;
    const int bin = std::max(1, chip->getBinX());
    int x0 = chip->getSubX() / bin, y0 = chip->getSubY() / bin;
    fits_update_key(fptr, TINT, "XORGSUBF", &x0, "Subframe X origin, binned pixels", &status);
    fits_update_key(fptr, TINT, "YORGSUBF", &y0, "Subframe Y origin, binned pixels", &status);
    int gain = whole(settingsN[settingGain].value), offset = whole(settingsN[settingOffset].value);
    fits_update_key(fptr, TINT, "GAIN", &gain, "Camera gain register", &status);
    fits_update_key(fptr, TINT, "OFFSET", &offset, "Camera offset register", &status);
}

void KovrelCcd::onWake(int fd, void* self) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd, &count, sizeof count);
    static_cast<KovrelCcd*>(self)->handleEvents();
}

void KovrelCcd::handleEvents() {
    for (CameraWorker::Event& e : worker->takeEvents())
        handleEvent(e);
}

void KovrelCcd::handleEvent(CameraWorker::Event& e) {
    using Kind = CameraWorker::Event::Kind;
    switch (e.kind) {
    case Kind::Message:
        LOGF_ERROR("%s", e.text.c_str());
        break;
    case Kind::ExposureStarted:
        if (e.job != exposureJob)
            break;
        exposureStarted = true;
        exposureStart = e.time;
        // DATE-OBS: when the request left, not when the client asked.
        PrimaryCCD.setExposureDuration(exposureSeconds);
        break;
    case Kind::ImageReady: {
        if (e.job != exposureJob)
            break; // aborted: what the camera still sent is dropped
        exposureJob = 0;
        InExposure = false;
        countdown.stop();
        const std::size_t bytes = e.pixels.size() * sizeof(unsigned short);
        PrimaryCCD.setFrameBufferSize(static_cast<uint32_t>(bytes));
        std::memcpy(PrimaryCCD.getFrameBuffer(), e.pixels.data(), bytes);
        PrimaryCCD.setExposureLeft(0);
        ExposureComplete(&PrimaryCCD);
        break;
    }
    case Kind::ImageFailed:
        if (e.job != exposureJob)
            break;
        exposureJob = 0;
        InExposure = false;
        countdown.stop();
        PrimaryCCD.setExposureFailed();
        break;
    case Kind::MoveSent:
    case Kind::MoveFailed: {
        const auto it = pulses.find(e.job);
        if (it == pulses.end())
            break;
        const Pulse p = it->second;
        pulses.erase(it);
        if (e.kind == Kind::MoveSent) {
            // Done once the mount has had the pulse's time.
            guideTimers[p.axis].start(static_cast<int>(std::max<std::uint32_t>(p.ms, 1)));
            break;
        }
        INDI::PropertyNumber guide = guideProperty(p.axis);
        if (!guide.isValid())
            break;
        guide[0].setValue(0);
        guide[1].setValue(0);
        guide.setState(IPS_ALERT);
        guide.apply();
        break;
    }
    }
}
