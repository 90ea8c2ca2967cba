#include "SuiviPrmDialog.h"

#include "SettingsStore.h"

namespace {

// The store's keys against the fields, in the order they are read and written.
struct KeyField {
    const char* key;
    int SuiviPrm::*field;
};
constexpr KeyField kKeyFields[12] = {
    {kSuiviPrmKeys[0], &SuiviPrm::gain1},   {kSuiviPrmKeys[1], &SuiviPrm::gain2},
    {kSuiviPrmKeys[2], &SuiviPrm::inv1},    {kSuiviPrmKeys[3], &SuiviPrm::inv2},
    {kSuiviPrmKeys[4], &SuiviPrm::inv12},   {kSuiviPrmKeys[5], &SuiviPrm::biais1},
    {kSuiviPrmKeys[6], &SuiviPrm::biais2},  {kSuiviPrmKeys[7], &SuiviPrm::cadence},
    {kSuiviPrmKeys[8], &SuiviPrm::rot},     {kSuiviPrmKeys[9], &SuiviPrm::capture},
    {kSuiviPrmKeys[10], &SuiviPrm::mvtmax}, {kSuiviPrmKeys[11], &SuiviPrm::gt},
};

} // namespace

CSuiviPrmDialog::CSuiviPrmDialog(QWidget* parent)
    : CDialog(parent, "CSuiviPrmDialog", QStringLiteral("Paramètres suivi"), 140, 185),
      prm(readStore()) {}

SuiviPrm CSuiviPrmDialog::readStore() {
    const SuiviPrm defaults;
    SuiviPrm values;
    for (const KeyField& k : kKeyFields)
        values.*k.field = SettingsStore::getInt(kSuiviPrmSection, k.key, defaults.*k.field);
    return values;
}

void CSuiviPrmDialog::writeStore() const {
    for (const KeyField& k : kKeyFields)
        SettingsStore::writeInt(kSuiviPrmSection, k.key, prm.*k.field);
}

void CSuiviPrmDialog::createControls(ControlBuilder& b) {
    b.group(QStringLiteral("Monture"), 5, 4, 130, 98);
    b.label(QStringLiteral("Invert"), 12, 15, 34, 8);
    b.label(QStringLiteral("Gains"), 52, 15, 34, 8);
    b.label(QStringLiteral("Biais"), 94, 15, 34, 8);
    b.check(Inv1Check, QStringLiteral("Axe1"), 12, 28, 36, 10);
    b.numberEdit(Gain1Edit, 52, 27, 34, 12);
    b.numberEdit(Biais1Edit, 94, 27, 34, 12);
    b.check(Inv12Check, QStringLiteral("1/2"), 20, 42, 30, 10);
    b.check(Inv2Check, QStringLiteral("Axe2"), 12, 56, 36, 10);
    b.numberEdit(Gain2Edit, 52, 55, 34, 12);
    b.numberEdit(Biais2Edit, 94, 55, 34, 12);
    b.label(QStringLiteral("Gain Test"), 12, 80, 38, 8);
    b.numberEdit(GainTestEdit, 52, 78, 24, 12);
    b.label(QStringLiteral("Rot"), 80, 80, 14, 8);
    b.numberEdit(RotEdit, 94, 78, 34, 12);

    b.group(QStringLiteral("Suivi"), 5, 106, 130, 54);
    b.label(QStringLiteral("cadence"), 9, 120, 29, 8);
    b.numberEdit(CadenceEdit, 38, 118, 23, 12);
    b.label(QStringLiteral("zone/capture"), 63, 120, 44, 8);
    b.numberEdit(CaptureEdit, 108, 118, 21, 12);
    b.label(QStringLiteral("Déplac/ maxi"), 9, 141, 44, 8);
    b.numberEdit(MvtMaxEdit, 55, 139, 26, 12);

    b.button(1, QStringLiteral("OK"), 22, 166, 44, 14);
    b.button(2, QStringLiteral("Cancel"), 74, 166, 44, 14);
}

void CSuiviPrmDialog::onInitDialog() {
    prm = readStore();
    updateData(false);
}

void CSuiviPrmDialog::doDataExchange(DataExchange& dx) {
    dx.integer(Gain1Edit, prm.gain1);
    dx.integer(Biais1Edit, prm.biais1);
    dx.integer(Biais2Edit, prm.biais2);
    dx.integer(CadenceEdit, prm.cadence);
    dx.integer(Gain2Edit, prm.gain2);
    dx.integer(RotEdit, prm.rot);
    dx.integer(CaptureEdit, prm.capture);
    dx.integer(MvtMaxEdit, prm.mvtmax);
    dx.integer(GainTestEdit, prm.gt);
    dx.check(Inv1Check, prm.inv1);
    dx.check(Inv2Check, prm.inv2);
    dx.check(Inv12Check, prm.inv12);
}

void CSuiviPrmDialog::onOK() {
    // A refused value keeps the dialog open and the store untouched. The
    // values taken before the refused one are put back, so that a Cancel
    // after it still leaves the record as the opening read it.
    const SuiviPrm opened = prm;
    if (!updateData(true)) {
        prm = opened;
        return;
    }
    endDialog(1);
    writeStore();
}
