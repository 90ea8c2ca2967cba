#include "KovrelCcd.h"

#include "CameraProtocol.h"

#include <connectionplugins/connectionserial.h>
#include <indilogger.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

using kovrel_indi::GuideDirection;
using kovrel_indi::NumberProblem;

const char* const cameraTab = "Caméra";
// Editable through KOVREL_PIXEL_SIZE; a stated value so that plate solving has a start.
const double defaultPixelSize = 6.7; // micrometres
// One move unit per millisecond: the mount output held for as long as the pulse.
const double defaultUnitsPerMs = 1.0;
// The countdown's own pace: libindi sets its polling period to the exposure's
// length at every start (0 after a bias) and never puts it back.
const int countdownMs = 500;
const int pixelBytes = 2;

enum { colourC, colourY2, colourY1, colourM };

// Values are checked (finite, in range, whole) before they are stored.
int whole(double v) {
    return static_cast<int>(std::lround(v));
}

// Numbers that reach the camera, the image or the mount: in their element's
// range, and whole where the camera counts in steps.
const struct {
    const char* property;
    bool whole;
} checkedNumbers[] = {
    {"CCD_EXPOSURE", false},
    {"CCD_FRAME", true},
    {"CCD_BINNING", true},
    {"CCD_GAIN", true},
    {"CCD_OFFSET", true},
    {"KOVREL_SETTINGS", true},
    {"KOVREL_COLOUR_GAINS", true},
    {"KOVREL_GUIDE_UNITS", false},
    {"KOVREL_PIXEL_SIZE", false},
    {"TELESCOPE_TIMED_GUIDE_NS", false},
    {"TELESCOPE_TIMED_GUIDE_WE", false},
};

// Connection::Serial keeps DEVICE_PORT, the list of system ports and the port
// in the configuration; the device itself is opened by Kovrel's serial link, on
// the worker thread, exclusively and with the camera's line settings. The line
// runs at the camera's fixed speed and the camera cannot be probed, so there is
// neither a baud rate nor an automatic search through the system's ports.
class KovrelSerial : public Connection::Serial {
public:
    explicit KovrelSerial(INDI::DefaultDevice* d) : Connection::Serial(d) {}

    // libindi activates the connection again whenever CONNECTION_MODE is set,
    // as every configuration load does: its properties are defined once.
    void Activated() override {
        if (active)
            return;
        active = true;
        m_Device->defineProperty(&PortTP);
        m_Device->defineProperty(&RefreshSP);
        Refresh(true);
    }

    void Deactivated() override {
        if (!active)
            return;
        active = false;
        m_Device->deleteProperty(PortTP.name);
        m_Device->deleteProperty(RefreshSP.name);
    }

    bool saveConfigItems(FILE* fp) override {
        IUSaveConfigText(fp, &PortTP);
        return true;
    }

    // Only the port's value: libindi's own handler would also update the
    // automatic search, which this line does not have.
    bool ISNewText(const char* dev, const char* name, char* texts[], char* names[],
                   int n) override {
        if (std::strcmp(dev, m_Device->getDeviceName()) || std::strcmp(name, PortTP.name))
            return false;
        PortTP.s = IUUpdateText(&PortTP, texts, names, n) == 0 ? IPS_OK : IPS_ALERT;
        IDSetText(&PortTP, nullptr);
        return true;
    }

private:
    bool active = false;
};

const char* guideName(INDI_EQ_AXIS axis) {
    return axis == AXIS_DE ? "TELESCOPE_TIMED_GUIDE_NS" : "TELESCOPE_TIMED_GUIDE_WE";
}

GuideDirection directionOf(const char* element) {
    switch (element[std::strlen(element) - 1]) {
    case 'N':
        return GuideDirection::North;
    case 'S':
        return GuideDirection::South;
    case 'E':
        return GuideDirection::East;
    default:
        return GuideDirection::West;
    }
}

} // namespace

KovrelCcd::KovrelCcd() {
    setVersion(1, 1);
    wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    IEAddCallback(wakeFd, &KovrelCcd::onWake, this);
    const int fd = wakeFd;
    worker = std::make_unique<CameraWorker>([fd] {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
    });
    countdown.setInterval(countdownMs);
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
    // Room for the largest image once and for all: the FITS is written on
    // libindi's upload thread, which must never read past the buffer.
    PrimaryCCD.setFrameBufferSize(kovrel_indi::sensorWidth * kovrel_indi::sensorHeight *
                                  pixelBytes);
    addCaptureFormat({"INDI_MONO", "Mono", 16, true});
    PrimaryCCD.setMinMaxStep("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 0, kovrel_indi::longestExposure,
                             0.01, false);
    PrimaryCCD.setMinMaxStep("CCD_BINNING", "HOR_BIN", 1, 4, 1, false);
    PrimaryCCD.setMinMaxStep("CCD_BINNING", "VER_BIN", 1, 4, 1, false);
    // Images are started one at a time from the event loop; libindi's fast
    // exposure would start the next one from its upload thread.
    IUResetSwitch(&FastExposureToggleSP);
    FastExposureToggleS[INDI_DISABLED].s = ISS_ON;

    const AcqPrm d;
    IUFillNumber(&gainN[0], "GAIN", "Gain", "%.f", 0, 63, 1, d.prm1);
    IUFillNumberVector(&gainNP, gainN, 1, getDeviceName(), "CCD_GAIN", "Gain", MAIN_CONTROL_TAB,
                       IP_RW, 60, IPS_IDLE);
    IUFillNumber(&offsetN[0], "OFFSET", "Offset", "%.f", 0, 31, 1, d.prm3);
    IUFillNumberVector(&offsetNP, offsetN, 1, getDeviceName(), "CCD_OFFSET", "Offset",
                       MAIN_CONTROL_TAB, IP_RW, 60, IPS_IDLE);
    IUFillNumber(&settingsN[0], "TIME_BASE", "Base de temps", "%.f", 1,
                 camera_protocol::maxTimeBase, 1, d.bdt);
    IUFillNumberVector(&settingsNP, settingsN, 1, getDeviceName(), "KOVREL_SETTINGS", "Réglages",
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
    INumberVectorProperty* own[] = {&gainNP,   &offsetNP,     &settingsNP,
                                    &colourNP, &guideUnitsNP, &pixelSizeNP};
    if (isConnected()) {
        for (INumberVectorProperty* p : own)
            defineProperty(p);
        defineProperty(&highGainSP);
        // The camera's settings, pixel size, binning and window as the
        // configuration last saved them.
        for (INumberVectorProperty* p : own)
            loadConfig(true, p->name);
        for (const char* name :
             {static_cast<const char*>(highGainSP.name), "CCD_BINNING", "CCD_FRAME"})
            loadConfig(true, name);
    } else {
        for (INumberVectorProperty* p : own)
            deleteProperty(p->name);
        deleteProperty(highGainSP.name);
    }
    return true;
}

bool KovrelCcd::refuseNumbers(const char* name, const double values[], char* names[], int n) {
    const auto rule =
        std::find_if(std::begin(checkedNumbers), std::end(checkedNumbers),
                     [name](const auto& r) { return !std::strcmp(r.property, name); });
    INDI::PropertyNumber p = getNumber(name);
    if (!p.isValid())
        return false;
    for (int i = 0; i < n; ++i) {
        const INumber* e = p.findWidgetByName(names[i]);
        if (!e)
            continue; // libindi refuses members it does not know
        // Elsewhere only NaN and infinities, which nothing can use.
        const bool checked = rule != std::end(checkedNumbers);
        const NumberProblem problem = kovrel_indi::checkNumber(
            values[i], checked ? e->min : 0, checked ? e->max : 0, checked && rule->whole);
        if (problem == NumberProblem::None)
            continue;
        const char* why = problem == NumberProblem::NotANumber   ? "n'est pas un nombre"
                          : problem == NumberProblem::OutOfRange ? "hors limites"
                                                                 : "n'est pas entier";
        LOGF_ERROR("Valeur refusée pour %s.%s : %g %s (de %g à %g)", name, names[i], values[i], why,
                   e->min, e->max);
        p.setState(IPS_ALERT);
        p.apply();
        return true;
    }
    return false;
}

bool KovrelCcd::ISNewNumber(const char* dev, const char* name, double values[], char* names[],
                            int n) {
    if (!dev || std::strcmp(dev, getDeviceName()))
        return INDI::CCD::ISNewNumber(dev, name, values, names, n);
    if (!std::strcmp(name, settingsNP.name))
        n = takeOldSettings(values, names, n);
    if (refuseNumbers(name, values, names, n))
        return true;
    if (!std::strcmp(name, PrimaryCCD.getCCDInfo()->name)) {
        LOGF_ERROR("%s est en lecture seule : la taille des pixels se règle dans %s", name,
                   pixelSizeNP.name);
        PrimaryCCD.getCCDInfo()->s = IPS_ALERT;
        IDSetNumber(PrimaryCCD.getCCDInfo(), nullptr);
        return true;
    }
    for (INDI_EQ_AXIS axis : {AXIS_RA, AXIS_DE}) {
        if (!std::strcmp(name, guideName(axis))) {
            pulse(axis, values, names, n);
            return true;
        }
    }
    for (INumberVectorProperty* p :
         {&gainNP, &offsetNP, &settingsNP, &colourNP, &guideUnitsNP, &pixelSizeNP}) {
        if (std::strcmp(name, p->name))
            continue;
        p->s = IUUpdateNumber(p, values, names, n) == 0 ? IPS_OK : IPS_ALERT;
        IDSetNumber(p, nullptr);
        if (p == &pixelSizeNP)
            applyPixelSize();
        return true;
    }
    return INDI::CCD::ISNewNumber(dev, name, values, names, n);
}

int KovrelCcd::takeOldSettings(double values[], char* names[], int n) {
    int kept = 0;
    for (int i = 0; i < n; ++i) {
        const char* to = !std::strcmp(names[i], gainN[0].name)     ? gainNP.name
                         : !std::strcmp(names[i], offsetN[0].name) ? offsetNP.name
                                                                   : nullptr;
        if (to) {
            ISNewNumber(getDeviceName(), to, &values[i], &names[i], 1);
        } else {
            values[kept] = values[i];
            names[kept++] = names[i];
        }
    }
    return kept;
}

bool KovrelCcd::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[],
                            int n) {
    if (!dev || std::strcmp(dev, getDeviceName()))
        return INDI::CCD::ISNewSwitch(dev, name, states, names, n);
    if (!std::strcmp(name, highGainSP.name)) {
        highGainSP.s = IUUpdateSwitch(&highGainSP, states, names, n) == 0 ? IPS_OK : IPS_ALERT;
        IDSetSwitch(&highGainSP, nullptr);
        return true;
    }
    if (!std::strcmp(name, "CONNECTION")) {
        if (const char* on = IUFindOnSwitchName(states, names, n);
            on && !std::strcmp(on, "CONNECT"))
            connectCamera();
        else if (on && !std::strcmp(on, "DISCONNECT"))
            disconnectCamera();
        else {
            // Nothing asked: the client still gets the connection as it stands.
            LOG_WARN("Demande de connexion sans choix : rien n'est changé");
            getSwitch("CONNECTION").apply();
        }
        return true;
    }
    // Written by earlier versions' configurations; this line has neither.
    if (!std::strcmp(name, "DEVICE_BAUD_RATE") || !std::strcmp(name, "DEVICE_AUTO_SEARCH"))
        return true;
    // libindi's own handler sets the frame type, which goes into the header.
    if (!std::strcmp(name, "CCD_FRAME_TYPE")) {
        const auto chip = lockChip();
        return INDI::CCD::ISNewSwitch(dev, name, states, names, n);
    }
    if (!std::strcmp(name, FastExposureToggleSP.name)) {
        const char* on = IUFindOnSwitchName(states, names, n);
        if (on && !std::strcmp(on, FastExposureToggleS[INDI_ENABLED].name)) {
            LOG_ERROR("Pose rapide non disponible : chaque pose est demandée par le client");
            FastExposureToggleSP.s = IPS_ALERT;
            IDSetSwitch(&FastExposureToggleSP, nullptr);
            return true;
        }
    }
    return INDI::CCD::ISNewSwitch(dev, name, states, names, n);
}

void KovrelCcd::connectCamera() {
    if (isConnected()) {
        setConnected(true, IPS_OK);
        return;
    }
    if (openJob == 0) {
        openJob = ++nextJob;
        worker->open(openJob, serial->port(), record());
    }
    // Answered from the worker's event: the port opens once anything the
    // camera is still doing (an exposure that cannot be stopped) has ended.
    setConnected(true, IPS_BUSY);
}

void KovrelCcd::disconnectCamera() {
    const bool wasConnected = isConnected();
    if (wasConnected || openJob != 0)
        LOG_INFO("Caméra déconnectée");
    openJob = 0;
    // Ended as an abort ends it: defined Busy again at the next connection, it
    // would tell clients that an exposure is still under way.
    if (INDI::PropertyNumber exposure = getNumber("CCD_EXPOSURE");
        exposureJob != 0 && exposure.isValid()) {
        exposure[0].setValue(0);
        exposure.setState(IPS_IDLE);
        exposure.apply();
    }
    AbortExposure();
    endPulses(IPS_ALERT);
    worker->close();
    setConnected(false, IPS_IDLE);
    if (wasConnected)
        updateProperties();
}

void KovrelCcd::forgetPulse(INDI_EQ_AXIS axis) {
    guideTimers[axis].stop();
    // A move still waiting behind an image transfer is taken back: the mount
    // never gets a pulse that was replaced or ended.
    std::erase_if(pulses, [this, axis](const auto& p) {
        if (p.second.axis != axis)
            return false;
        worker->withdrawMove(p.first);
        return true;
    });
}

void KovrelCcd::endPulse(INDI_EQ_AXIS axis, IPState state) {
    forgetPulse(axis);
    INDI::PropertyNumber guide = getNumber(guideName(axis));
    if (!guide.isValid())
        return;
    guide[0].setValue(0);
    guide[1].setValue(0);
    guide.setState(state);
    guide.apply();
}

void KovrelCcd::endPulses(IPState state) {
    for (INDI_EQ_AXIS axis : {AXIS_RA, AXIS_DE}) {
        const bool waiting = std::any_of(pulses.begin(), pulses.end(),
                                         [axis](const auto& p) { return p.second.axis == axis; });
        if (waiting)
            endPulse(axis, state);
        else if (guideTimers[axis].isActive())
            endPulse(axis, IPS_IDLE); // the move went out: only its time is cut short
    }
}

void KovrelCcd::applyPixelSize() {
    // The pixel size only: frame and binning stay as the client set them.
    const double size = pixelSizeN[0].value;
    {
        const auto chip = lockChip();
        PrimaryCCD.setPixelSize(size, size);
    }
    IDSetNumber(PrimaryCCD.getCCDInfo(), nullptr);
}

bool KovrelCcd::saveConfigItems(FILE* fp) {
    INDI::CCD::saveConfigItems(fp);
    for (const INumberVectorProperty* p :
         {&gainNP, &offsetNP, &settingsNP, &colourNP, &guideUnitsNP, &pixelSizeNP})
        IUSaveConfigNumber(fp, p);
    IUSaveConfigSwitch(fp, &highGainSP);
    return true;
}

AcqPrm KovrelCcd::record() const {
    AcqPrm p;
    p.prm2 = 0;    // the port goes by its path
    p.option4 = 1; // raw images: clients calibrate
    p.prm1 = whole(gainN[0].value);
    p.prm3 = whole(offsetN[0].value);
    p.bdt = whole(settingsN[0].value);
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
    const auto chip = lockChip();
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
    // The camera groups 1, 2 or 4 pixels; at 3 it would take its 2x mode over
    // a 3x window, which is no 3 x 3 image.
    if (hor == 3) {
        LOG_ERROR("Binning 3 non disponible : la caméra groupe par 1, 2 ou 4");
        return false;
    }
    AcqPrm p;
    const kovrel_indi::SensorWindow w{PrimaryCCD.getSubX(), PrimaryCCD.getSubY(),
                                      PrimaryCCD.getSubW(), PrimaryCCD.getSubH(), hor};
    if (const char* m = kovrel_indi::applyWindow(w, p)) {
        LOG_ERROR(m);
        return false;
    }
    const auto chip = lockChip();
    PrimaryCCD.setBin(hor, ver);
    return true;
}

bool KovrelCcd::StartExposure(float duration) {
    if (!isConnected())
        return false;
    AcqPrm p = record();
    kovrel_indi::applyExposure(duration, p);
    const double requested = p.pause_s + p.pause_cs / 100.0;
    exposureSeconds = kovrel_indi::cameraExposure(p);
    if (std::fabs(exposureSeconds - requested) >= 0.01)
        LOGF_INFO("Pose de %.3f s pour %.2f s demandées : ce que permet la base de temps pour "
                  "cette largeur",
                  exposureSeconds, requested);
    {
        const auto chip = lockChip();
        PrimaryCCD.setExposureDuration(exposureSeconds);
    }
    exposureJob = ++nextJob;
    exposureStarted = false;
    InExposure = true;
    worker->expose(exposureJob, p);
    tickCountdown();
    countdown.start();
    return true;
}

bool KovrelCcd::AbortExposure() {
    worker->dropExposures();
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
    const auto now = CameraWorker::Clock::now();
    double left = exposureSeconds;
    if (exposureStarted)
        left -= std::chrono::duration<double>(now - exposureStart).count();
    else if (cameraFreeAt > now)
        left += std::chrono::duration<double>(cameraFreeAt - now).count();
    PrimaryCCD.setExposureLeft(std::max(0.0, left));
}

void KovrelCcd::pulse(INDI_EQ_AXIS axis, const double values[], char* names[], int n) {
    INDI::PropertyNumber guide = getNumber(guideName(axis));
    if (!guide.isValid())
        return;
    // The direction is the element this request sets: a value left over from
    // an earlier pulse never decides it.
    INDI::WidgetView<INumber>* element = nullptr;
    double ms = 0;
    for (int i = 0; i < n; ++i) {
        INDI::WidgetView<INumber>* e = guide.findWidgetByName(names[i]);
        if (values[i] == 0 || !e)
            continue;
        if (element) {
            LOG_ERROR("Impulsion refusée : une direction à la fois sur un axe");
            endPulse(axis, IPS_ALERT);
            return;
        }
        element = e;
        ms = values[i];
    }
    if (!element) {
        endPulse(axis, IPS_IDLE);
        return;
    }
    const kovrel_indi::Move m =
        kovrel_indi::guideMove(directionOf(element->getName()), ms, guideUnitsN[0].value);
    if (m.x == 0 && m.y == 0) {
        LOGF_INFO("Impulsion de %g ms sur %s : moins d'une unité de déplacement, rien n'est envoyé",
                  ms, element->getName());
        endPulse(axis, IPS_IDLE);
        return;
    }
    if (!isConnected()) {
        endPulse(axis, IPS_ALERT);
        return;
    }
    // A new pulse on an axis replaces the one still running there.
    forgetPulse(axis);
    guide[0].setValue(0);
    guide[1].setValue(0);
    element->setValue(ms);
    const int job = ++nextJob;
    pulses[job] = Pulse{axis, ms};
    worker->move(job, m);
    guide.setState(IPS_BUSY);
    guide.apply();
}

void KovrelCcd::GuideComplete(INDI_EQ_AXIS axis) {
    // Back to zero, so that a client setting one element does not repeat the
    // other direction's last pulse.
    if (INDI::PropertyNumber guide = getNumber(guideName(axis)); guide.isValid()) {
        guide[0].setValue(0);
        guide[1].setValue(0);
    }
    INDI::CCD::GuideComplete(axis);
}

std::unique_lock<std::mutex> KovrelCcd::lockChip() {
    {
        std::unique_lock<std::mutex> lock(headerMutex);
        // Bounded: an upload that fails before its header never gets there.
        headerRead.wait_for(lock, std::chrono::seconds(2), [this] { return !headerPending; });
        headerPending = false;
    }
    return std::unique_lock<std::mutex>(ccdBufferLock);
}

void KovrelCcd::addFITSKeywords(INDI::CCDChip* chip) {
    // Runs on libindi's upload thread, which holds ccdBufferLock and has
    // copied what it reads before taking it.
    {
        std::lock_guard<std::mutex> lock(headerMutex);
        headerPending = false;
    }
    headerRead.notify_all();
    INDI::CCD::addFITSKeywords(chip);
    fitsfile* fptr = *chip->fitsFilePointer();
    int status = 0;
    int x0 = imagePrm.img_x0, y0 = imagePrm.img_y0;
    fits_update_key(fptr, TINT, "XORGSUBF", &x0, "Subframe X origin, binned pixels", &status);
    fits_update_key(fptr, TINT, "YORGSUBF", &y0, "Subframe Y origin, binned pixels", &status);
    int gain = imagePrm.prm1, offset = imagePrm.prm3;
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

void KovrelCcd::deliverImage(CameraWorker::Event& e) {
    exposureJob = 0;
    InExposure = false;
    countdown.stop();
    {
        const auto chip = lockChip();
        imagePrm = e.prm;
        // The FITS takes its size from the chip's frame: make it the image's.
        const int b = e.prm.binning;
        if (PrimaryCCD.getBinX() != b || PrimaryCCD.getSubW() / b != e.prm.img_w ||
            PrimaryCCD.getSubH() / b != e.prm.img_h) {
            PrimaryCCD.setBin(b, b);
            PrimaryCCD.setFrame(e.prm.img_x0 * b, e.prm.img_y0 * b, e.prm.img_w * b,
                                e.prm.img_h * b);
        }
        const std::size_t bytes = e.pixels.size() * sizeof(unsigned short);
        PrimaryCCD.setFrameBufferSize(static_cast<uint32_t>(bytes), false);
        std::memcpy(PrimaryCCD.getFrameBuffer(), e.pixels.data(), bytes);
    }
    // EXPTIME and DATE-OBS were set when the camera started: setting the
    // duration again would date the image from its arrival.
    PrimaryCCD.setExposureLeft(0);
    if (!std::strcmp(PrimaryCCD.getImageExtension(), "fits")) {
        std::lock_guard<std::mutex> lock(headerMutex);
        headerPending = true;
    }
    ExposureComplete(&PrimaryCCD);
}

void KovrelCcd::handleEvent(CameraWorker::Event& e) {
    using Kind = CameraWorker::Event::Kind;
    switch (e.kind) {
    case Kind::Opened:
    case Kind::OpenFailed:
        if (e.job != openJob)
            break; // disconnected meanwhile: the close queued since undoes it
        openJob = 0;
        if (e.kind == Kind::OpenFailed) {
            LOGF_ERROR("%s", e.text.c_str());
            setConnected(false, IPS_ALERT);
            break;
        }
        LOGF_INFO("Caméra connectée sur %s", serial->port());
        setConnected(true, IPS_OK);
        updateProperties();
        saveConfig(true, "DEVICE_PORT");
        break;
    case Kind::Message:
        LOGF_ERROR("%s", e.text.c_str());
        break;
    case Kind::ExposureStarted:
        cameraFreeAt =
            e.time + std::chrono::duration_cast<CameraWorker::Clock::duration>(
                         std::chrono::duration<double>(kovrel_indi::cameraExposure(e.prm)));
        if (e.job != exposureJob)
            break;
        exposureStarted = true;
        exposureStart = e.time;
        // DATE-OBS: when the request left, not when the client asked.
        {
            const auto chip = lockChip();
            PrimaryCCD.setExposureDuration(exposureSeconds);
        }
        break;
    case Kind::ImageReady:
        if (e.job == exposureJob)
            deliverImage(e);
        break; // otherwise aborted: what the camera still sent is dropped
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
            guideTimers[p.axis].start(std::max(1, static_cast<int>(std::lround(p.ms))));
            break;
        }
        LOG_ERROR("Impulsion non envoyée : le port série est fermé");
        endPulse(p.axis, IPS_ALERT);
        break;
    }
    }
}
