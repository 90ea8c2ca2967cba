#include "CCamera.h"

#include "AcqPrmDlg.h"
#include "CameraProtocol.h"
#include "DriverMessage.h"
#include "SettingsStore.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const char* const section = "AcqPrm";

// An image is being read: the host's progress callback may turn its event loop,
// and nothing it does there may reach the line before the image is in.
bool imageUnderWay = false;

struct ImageUnderWay {
    ImageUnderWay() { imageUnderWay = true; }
    ~ImageUnderWay() { imageUnderWay = false; }
};

int truncToInt(long double v) {
    if (std::isnan(v))
        return 0;
    if (v >= static_cast<long double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (v <= static_cast<long double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}

} // namespace

CCamera::CCamera() : sensorWidth(kSensorWidth), sensorHeight(kSensorHeight), darkFrame{} {
    // The link and its port are made now, before this camera is complete, so
    // that they are destroyed after it: a static camera closes its port from
    // its destructor, last. Making them touches no device.
    SerialLink::instance();
}

CCamera::~CCamera() {
    SerialLink::instance().portClose();
}

CCamera::CCamera(const CCamera& other) = default;

CCamera& CCamera::operator=(const CCamera& other) = default;

void CCamera::init() {
    if (imageUnderWay)
        return;
    const AcqPrm d;
    const int port = SettingsStore::getInt(section, "prm2", d.prm2);
    const int timeBase = SettingsStore::getInt(section, "bdt", d.bdt);
    camera_protocol::cameraStart(port, timeBase);
}

void CCamera::setParameters(const AcqPrm& p) {
    prm = p;
}

void CCamera::initFromParameters() {
    camera_protocol::cameraStart(prm.prm2, prm.bdt);
}

int CCamera::getAcqPrm(QWidget* parent) {
    if (imageUnderWay)
        return -1;
    init();
    if (!dialogCreated) {
        dialogParent = parent;
        dialogCreated = true;
    }
    CAcqPrmDlg dlg(dialogParent ? dialogParent.data() : parent, prm, sensorWidth, sensorHeight);
    return dlg.doModal();
}

int CCamera::reglage() {
    if (imageUnderWay)
        return 0;
    CameraSettings s;
    s.width = prm.img_w;
    s.height = prm.img_h;
    s.binning = prm.binning;
    s.originX = prm.img_x0;
    s.originY = prm.img_y0;
    s.exposure = getPauseEnSecondes();
    s.highGain = prm.option3;
    s.gain = prm.prm1;
    s.offset = prm.prm3;
    s.C = prm.C;
    s.Y2 = prm.Y2;
    s.Y1 = prm.Y1;
    s.M = prm.M;
    s.vitv = prm.vitv;
    s.vitp = prm.vitp;
    camera_protocol::uploadSettings(s);
    return 0;
}

bool CCamera::checkWindow() const {
    const char* problem = windowProblem(prm, sensorWidth, sensorHeight);
    if (problem)
        showDriverError(QString::fromUtf8(problem));
    return !problem;
}

int CCamera::acquerir(unsigned short* pixels) {
    if (imageUnderWay)
        return 2;
    const ImageUnderWay reading;
    // The store can hold a window the dialog never checked; such a window would
    // not fit the receive buffer nor the dark frame, so it is refused.
    if (!checkWindow())
        return 2;
    const int width = prm.img_w;
    const int height = prm.img_h;
    const int r = camera_protocol::readImage(width, height, prm.binning, pixels,
                                             getPauseEnSecondes(), &acqTime);
    if (r != 0) {
        showDriverError(QStringLiteral("Erreur lecture image"));
        camera_protocol::cameraStart(prm.prm2, prm.bdt);
        return 2;
    }
    const std::size_t n = std::size_t(width) * std::size_t(height);
    if (prm.option4) {
        std::copy(pixels, pixels + n, darkFrame);
    } else {
        // A dark above the pixel gives 1, not 0, so that such pixels stay visible.
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned short d = darkFrame[i];
            pixels[i] = d > pixels[i] ? 1 : static_cast<unsigned short>(pixels[i] - d);
        }
    }
    return 0;
}

int CCamera::getWidth() const {
    return prm.img_w;
}

int CCamera::getHeight() const {
    return prm.img_h;
}

int CCamera::getBinning() const {
    return prm.binning;
}

int CCamera::getOriginX() const {
    return prm.img_x0;
}

int CCamera::getOriginY() const {
    return prm.img_y0;
}

float CCamera::getPauseEnSecondes() const {
    const long double cs = static_cast<long double>(prm.pause_cs) * static_cast<long double>(0.01);
    return static_cast<float>(static_cast<long double>(prm.pause_s) + cs);
}

void CCamera::setPause(float seconds) {
    const int s = truncToInt(seconds);
    prm.pause_s = s;
    const long double hundred = 100.0f;
    prm.pause_cs = truncToInt(static_cast<long double>(seconds) * hundred -
                              static_cast<long double>(100LL * s));
}

void CCamera::deplacement(int x, int y) {
    camera_protocol::sendMove(x, y);
}
