#pragma once

#include "GuideCorrection.h"
#include "Toolkit.h"

// The guiding parameters dialog "Paramètres suivi" and the owner of their
// persistent copy, section "SuiviPrm" of the settings store. Each showing reads
// the store afresh; only OK writes it back, so what the guiding panel reads
// from the store is always a confirmed set.
class CSuiviPrmDialog : public CDialog {
public:
    enum ControlId {
        Gain1Edit = 1046,
        Gain2Edit = 1047,
        RotEdit = 1048,
        Biais1Edit = 1049,
        Biais2Edit = 1050,
        CadenceEdit = 1051,
        CaptureEdit = 1052,
        MvtMaxEdit = 1053,
        GainTestEdit = 1061,
        Inv1Check = 1002,
        Inv2Check = 1060,
        Inv12Check = 1062,
    };

    explicit CSuiviPrmDialog(QWidget* parent);

    // The twelve values: those read when the dialog last opened, or those
    // confirmed with OK. Readable whether or not the dialog is shown.
    SuiviPrm prm;

    // The values of the store, with their defaults for absent keys.
    static SuiviPrm readStore();

protected:
    void createControls(ControlBuilder& b) override;
    void onInitDialog() override;
    void doDataExchange(DataExchange& dx) override;
    void onOK() override;

private:
    void writeStore() const;
};
