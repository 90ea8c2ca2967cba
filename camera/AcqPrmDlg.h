#pragma once

#include "AcqPrm.h"
#include "Dialog.h"

// The modal dialog "Paramètres d'acquisition". It edits a working copy and
// hands it to the record only on OK, so the record always holds either what
// was loaded at show time or what was accepted. The window exists only while
// shown; the record belongs to the caller.
class CAcqPrmDlg : public CDialog {
public:
    CAcqPrmDlg(QWidget* parent, AcqPrm& record, int sensorWidth, int sensorHeight);
    // Reloads the record from the store, shows the dialog and, on OK, writes the
    // store. 1 OK, 2 Cancel, -1 when the window cannot be made.
    using CDialog::doModal;

    // Control ids.
    enum {
        idBinning = 1003,
        idBinningSpin = 1004,
        idPauseS = 1005,
        idPauseSSpin = 1006,
        idPauseCs = 1007,
        idPauseCsSpin = 1008,
        idWidth = 1009,
        idWidthSpin = 1010,
        idHeight = 1011,
        idHeightSpin = 1012,
        idOriginX = 1013,
        idOriginXSpin = 1014,
        idOriginY = 1015,
        idOption1 = 1016,
        idOption2 = 1017,
        idOriginYSpin = 1018,
        idPreset01s = 1019,
        idPreset1s = 1020,
        idPreset10s = 1021,
        idPreset1mn = 1022,
        idPreset2mn = 1023,
        idOption3 = 1024,
        idOption4 = 1025,
        idBin1 = 1028,
        idBin2 = 1029,
        idFull = 1030,
        idBin4 = 1031,
        idCentre = 1032,
        idUpperLeft = 1034,
        idLowerLeft = 1036,
        idGain = 1037,
        idLowerRight = 1038,
        idPort = 1039,
        idUpperRight = 1040,
        idOffset = 1041,
        idTimeBase = 1042,
        idC = 1043,
        idY2 = 1044,
        idY1 = 1045,
        idM = 1046,
    };

protected:
    void createControls(ControlBuilder& b) override;
    void onInitDialog() override;
    void doDataExchange(DataExchange& dx) override;
    void onCommand(int id) override;
    void onOK() override;
    QString messageCaption() const override;

private:
    void exposurePreset(int seconds, int hundredths);
    void binningPreset(int binning);
    void fullFrame();
    void windowPreset(int id);

    AcqPrm& prm;
    AcqPrm cur; // what the controls show
    int sensorWidth;
    int sensorHeight;
};
