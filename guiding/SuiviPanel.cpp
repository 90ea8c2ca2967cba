#include "SuiviPanel.h"

#include "CCamera.h"
#include "GuideCorrection.h"
#include "SettingsStore.h"

namespace {

// The hand moves use the confirmed settings, read at every click so that a
// change made in the parameters dialog applies at once. "gt" defaults to 100
// here, not to the dialog's 50.
ManualMoveSettings readManualMoveSettings() {
    const ManualMoveSettings d;
    ManualMoveSettings s;
    s.gt = SettingsStore::getInt(kSuiviPrmSection, "gt", d.gt);
    s.gain1 = SettingsStore::getInt(kSuiviPrmSection, "gain1", d.gain1);
    s.gain2 = SettingsStore::getInt(kSuiviPrmSection, "gain2", d.gain2);
    s.inv1 = SettingsStore::getInt(kSuiviPrmSection, "Inv1", d.inv1);
    s.inv2 = SettingsStore::getInt(kSuiviPrmSection, "Inv2", d.inv2);
    s.inv12 = SettingsStore::getInt(kSuiviPrmSection, "Inv12", d.inv12);
    return s;
}

} // namespace

CSuiviPanel::CSuiviPanel(QWidget* view, CCamera* cam, std::function<void(int)> postCommand)
    : CPanel(view, "CSuiviPanel", QStringLiteral("Suivi"), 104, 174), camera(cam),
      post(std::move(postCommand)) {}

bool CSuiviPanel::create() {
    return CPanel::create(580, 150, false);
}

void CSuiviPanel::createControls(ControlBuilder& b) {
    const Qt::Alignment right = Qt::AlignRight;
    // The unit sits between the two error fields, under them, so that each
    // field has room for a sign and three decimals.
    b.group(QStringLiteral("Erreur"), 4, 3, 96, 40);
    b.label(QStringLiteral("1"), 8, 17, 5, 8);
    b.edit(Error1Edit, 14, 15, 34, 12, right, true);
    b.edit(Error2Edit, 56, 15, 34, 12, right, true);
    b.label(QStringLiteral("2"), 92, 17, 5, 8);
    b.label(QStringLiteral("Nb pixels"), 24, 30, 56, 8, Qt::AlignCenter);

    b.group(QStringLiteral("Niveau guide"), 4, 46, 96, 28);
    b.edit(LevelEdit, 14, 57, 40, 12, right, true);
    b.label(QStringLiteral("niveaux"), 58, 59, 36, 8);

    b.button(ParamsButton, QStringLiteral("Paramètres"), 22, 80, 60, 14);
    b.button(UpButton, QStringLiteral("Haut"), 35, 98, 34, 14);
    b.button(LeftButton, QStringLiteral("Gauche"), 8, 114, 38, 14);
    b.button(RightButton, QStringLiteral("Droite"), 58, 114, 38, 14);
    b.button(DownButton, QStringLiteral("Bas"), 35, 130, 34, 14);
    b.button(StartButton, QStringLiteral("Demarrer"), 6, 154, 44, 14);
    b.button(StopButton, QStringLiteral("Arreter"), 54, 154, 44, 14);
}

void CSuiviPanel::doDataExchange(DataExchange& dx) {
    dx.text(Error1Edit, error1Text);
    dx.text(LevelEdit, levelText);
    dx.text(Error2Edit, error2Text);
}

void CSuiviPanel::showMeasure(float error1, float error2, unsigned short level) {
    error1Text = QString::asprintf("%1.3f", double(error1));
    error2Text = QString::asprintf("%1.3f", double(error2));
    levelText = QString::asprintf("%d", int(level));
    updateData(false);
}

void CSuiviPanel::onCommand(int id) {
    auto postIfAny = [this](int command) {
        if (post)
            post(command);
    };
    switch (id) {
    case StartButton:
        postIfAny(kStartCommand);
        break;
    case StopButton:
        postIfAny(kStopCommand);
        break;
    case ParamsButton:
        postIfAny(kParamsCommand);
        break;
    case UpButton:
    case DownButton:
    case LeftButton:
    case RightButton:
        moveByHand(id);
        break;
    default:
        break;
    }
}

void CSuiviPanel::moveByHand(int id) {
    ManualDirection direction = ManualDirection::Haut;
    switch (id) {
    case DownButton:
        direction = ManualDirection::Bas;
        break;
    case LeftButton:
        direction = ManualDirection::Gauche;
        break;
    case RightButton:
        direction = ManualDirection::Droite;
        break;
    default:
        break;
    }
    const MountMove m = manualMove(direction, readManualMoveSettings());
    if (camera)
        camera->deplacement(m.axis1, m.axis2);
}
