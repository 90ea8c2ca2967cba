#include "AcqPrmDlg.h"

#include "SensorWindow.h"
#include "Toolkit.h"

namespace {

const char* const libraryName = "Kovrel";

// Spin ranges of the size and origin edits: those their values are checked against.
const int sizeMaximum = 4096;

} // namespace

CAcqPrmDlg::CAcqPrmDlg(QWidget* parent, AcqPrm& record, int w, int h)
    : CDialog(parent, QStringLiteral("CAcqPrmDlg"),
              QStringLiteral("Paramètres d'acquisition Version 3.1.07 USB"), 330, 226),
      prm(record), sensorWidth(w), sensorHeight(h) {}

QString CAcqPrmDlg::messageCaption() const {
    return QString::fromLatin1(libraryName);
}

void CAcqPrmDlg::createControls(ControlBuilder& b) {
    b.group(QStringLiteral("Exposition"), 7, 4, 150, 32);
    b.label(QStringLiteral("Pose"), 14, 17, 24, 10);
    b.numberEdit(idPauseS, 40, 16, 32, 12);
    b.spin(idPauseSSpin, idPauseS, 72, 16, 9, 12);
    b.label(QStringLiteral("s"), 84, 17, 8, 10);
    b.numberEdit(idPauseCs, 96, 16, 24, 12);
    b.spin(idPauseCsSpin, idPauseCs, 120, 16, 9, 12);
    b.label(QStringLiteral("1/100"), 132, 17, 22, 10);

    b.group(QStringLiteral("Format image"), 7, 40, 150, 64);
    b.label(QStringLiteral("Binning"), 14, 55, 40, 10);
    b.numberEdit(idBinning, 58, 54, 32, 12);
    b.spin(idBinningSpin, idBinning, 90, 54, 9, 12);
    b.label(QStringLiteral("Taille"), 14, 71, 40, 10);
    b.numberEdit(idWidth, 58, 70, 32, 12);
    b.spin(idWidthSpin, idWidth, 90, 70, 9, 12);
    b.numberEdit(idHeight, 106, 70, 32, 12);
    b.spin(idHeightSpin, idHeight, 138, 70, 9, 12);
    b.label(QStringLiteral("Origine"), 14, 87, 40, 10);
    b.numberEdit(idOriginX, 58, 86, 32, 12);
    b.spin(idOriginXSpin, idOriginX, 90, 86, 9, 12);
    b.numberEdit(idOriginY, 106, 86, 32, 12);
    b.spin(idOriginYSpin, idOriginY, 138, 86, 9, 12);

    b.group(QStringLiteral("Caméra"), 7, 108, 150, 112);
    b.check(idOption1, QStringLiteral("Non Int"), 14, 120, 64, 10);
    b.check(idOption2, QStringLiteral("EPP"), 80, 120, 64, 10);
    b.check(idOption3, QStringLiteral("Gain fort (X4)"), 14, 134, 64, 10);
    b.check(idOption4, QStringLiteral("Image brute et noir"), 80, 134, 76, 10);
    b.label(QStringLiteral("Gain"), 14, 151, 70, 10);
    b.numberEdit(idGain, 100, 150, 40, 12);
    b.label(QStringLiteral("Lpt ou COM"), 14, 167, 70, 10);
    b.edit(idPort, 100, 166, 40, 12, Qt::AlignRight);
    b.label(QStringLiteral("offset"), 14, 183, 70, 10);
    b.numberEdit(idOffset, 100, 182, 40, 12);
    b.label(QStringLiteral("Base de temps"), 14, 199, 70, 10);
    b.edit(idTimeBase, 100, 198, 40, 12, Qt::AlignRight);

    b.group(QStringLiteral("Gain Couleurs"), 164, 4, 160, 74);
    b.label(QStringLiteral("C"), 172, 17, 12, 10);
    b.numberEdit(idC, 186, 16, 28, 12);
    b.label(QStringLiteral("Y2"), 240, 17, 12, 10);
    b.numberEdit(idY2, 254, 16, 28, 12);
    b.label(QStringLiteral("Y1"), 172, 33, 12, 10);
    b.numberEdit(idY1, 186, 32, 28, 12);
    b.label(QStringLiteral("M"), 240, 33, 12, 10);
    b.numberEdit(idM, 254, 32, 28, 12);
    // Wide enough for the longest of its three phrases and too narrow for two,
    // so that the lines break where the phrases end.
    QLabel* mix = b.label(QStringLiteral("Cyan + Yellow = Vert           Cyan + Magenta = Bleu "
                                         "Magenta + Yellow = Rouge"),
                          172, 48, 97, 26, Qt::AlignLeft | Qt::AlignTop);
    mix->setWordWrap(true);

    b.group(QStringLiteral("Standards"), 164, 82, 160, 118);
    b.button(idPreset01s, QStringLiteral("0.1s"), 171, 94, 28, 14);
    b.button(idPreset1s, QStringLiteral("1s"), 201, 94, 28, 14);
    b.button(idPreset10s, QStringLiteral("10s"), 231, 94, 28, 14);
    b.button(idPreset1mn, QStringLiteral("1mn"), 261, 94, 28, 14);
    b.button(idPreset2mn, QStringLiteral("2mn"), 291, 94, 28, 14);
    b.button(idBin1, QStringLiteral("1/1"), 171, 112, 28, 14);
    b.button(idBin2, QStringLiteral("2x2"), 201, 112, 28, 14);
    b.button(idBin4, QStringLiteral("1/4"), 231, 112, 28, 14);
    b.button(idFull, QStringLiteral("FULL"), 171, 130, 40, 14);
    // The window cluster: corners and centre of the sensor.
    b.button(idUpperLeft, QString(), 251, 132, 20, 14);
    b.button(idUpperRight, QString(), 293, 132, 20, 14);
    b.button(idCentre, QString(), 272, 150, 20, 14);
    b.button(idLowerLeft, QString(), 251, 168, 20, 14);
    b.button(idLowerRight, QString(), 293, 168, 20, 14);

    QPushButton* ok = b.button(1, QStringLiteral("OK"), 164, 206, 50, 14);
    ok->setDefault(true);
    b.button(2, QStringLiteral("Cancel"), 220, 206, 50, 14);
}

void CAcqPrmDlg::onInitDialog() {
    prm.load(sensorWidth, sensorHeight);
    cur = prm;
    updateData(false);
    const struct {
        int id, minimum, maximum;
    } ranges[] = {
        {idBinningSpin, 1, 4},           {idPauseSSpin, 0, 3600},
        {idPauseCsSpin, 0, 99},          {idWidthSpin, 1, sizeMaximum},
        {idHeightSpin, 1, sizeMaximum},  {idOriginXSpin, 0, sizeMaximum},
        {idOriginYSpin, 0, sizeMaximum},
    };
    for (const auto& r : ranges)
        if (auto* s = qobject_cast<SpinButton*>(control(r.id)))
            s->setRange(r.minimum, r.maximum);
}

void CAcqPrmDlg::doDataExchange(DataExchange& dx) {
    dx.integerRange(idBinning, cur.binning, 1, 4);
    dx.integerRange(idPauseS, cur.pause_s, 0, 3600);
    dx.integerRange(idPauseCs, cur.pause_cs, 0, 99);
    dx.check(idOption1, cur.option1);
    dx.check(idOption2, cur.option2);
    dx.check(idOption3, cur.option3);
    dx.check(idOption4, cur.option4);
    dx.integerRange(idWidth, cur.img_w, 1, sizeMaximum);
    dx.integerRange(idHeight, cur.img_h, 1, sizeMaximum);
    dx.integerRange(idOriginY, cur.img_y0, 0, sizeMaximum);
    dx.integerRange(idOriginX, cur.img_x0, 0, sizeMaximum);
    dx.integerRange(idGain, cur.prm1, 0, 63);
    dx.integer(idPort, cur.prm2);
    dx.integerRange(idOffset, cur.prm3, 0, 31);
    dx.integer(idTimeBase, cur.bdt);
    dx.integerRange(idC, cur.C, 0, 31);
    dx.integerRange(idY2, cur.Y2, 0, 31);
    dx.integerRange(idY1, cur.Y1, 0, 31);
    dx.integerRange(idM, cur.M, 0, 31);
}

void CAcqPrmDlg::onOK() {
    if (!updateData(true))
        return;
    if (const char* problem = windowProblem(cur, sensorWidth, sensorHeight)) {
        messageBox(window(), QString::fromUtf8(problem), messageCaption());
        return;
    }
    prm = cur;
    endDialog(1);
    prm.save();
}

void CAcqPrmDlg::onCommand(int id) {
    switch (id) {
    case idPreset01s:
        exposurePreset(0, 10);
        break;
    case idPreset1s:
        exposurePreset(1, 0);
        break;
    case idPreset10s:
        exposurePreset(10, 0);
        break;
    case idPreset1mn:
        exposurePreset(60, 0);
        break;
    case idPreset2mn:
        exposurePreset(120, 0);
        break;
    case idBin1:
        binningPreset(1);
        break;
    case idBin2:
        binningPreset(2);
        break;
    case idBin4:
        binningPreset(4);
        break;
    case idFull:
        if (updateData(true))
            fullFrame();
        break;
    case idUpperLeft:
    case idUpperRight:
    case idCentre:
    case idLowerLeft:
    case idLowerRight:
        windowPreset(id);
        break;
    default:
        break;
    }
}

// Exposure presets do not take the controls first: unconfirmed edits revert.
void CAcqPrmDlg::exposurePreset(int seconds, int hundredths) {
    cur.pause_s = seconds;
    cur.pause_cs = hundredths;
    updateData(false);
}

void CAcqPrmDlg::binningPreset(int binning) {
    if (!updateData(true))
        return;
    cur.binning = binning;
    updateData(false);
    fullFrame();
}

void CAcqPrmDlg::fullFrame() {
    cur.img_w = sensorWidth / cur.binning;
    cur.img_h = sensorHeight / cur.binning;
    cur.img_x0 = 0;
    cur.img_y0 = 0;
    updateData(false);
}

void CAcqPrmDlg::windowPreset(int id) {
    if (!updateData(true))
        return;
    const int w = sensorWidth / cur.binning;
    const int h = sensorHeight / cur.binning;
    cur.img_w = sensorWidth / (2 * cur.binning);
    cur.img_h = sensorHeight / (2 * cur.binning);
    const int right = w - cur.img_w;
    const int bottom = h - cur.img_h;
    switch (id) {
    case idUpperLeft:
        cur.img_x0 = 0;
        cur.img_y0 = 0;
        break;
    case idUpperRight:
        cur.img_x0 = right;
        cur.img_y0 = 0;
        break;
    case idLowerLeft:
        cur.img_x0 = 0;
        cur.img_y0 = bottom;
        break;
    case idLowerRight:
        cur.img_x0 = right;
        cur.img_y0 = bottom;
        break;
    default: // centre
        cur.img_x0 = right / 2;
        cur.img_y0 = bottom / 2;
        break;
    }
    updateData(false);
}
