#pragma once

#include "Toolkit.h"

#include <QString>

#include <functional>

class CCamera;

// The guiding control panel "Suivi": starts and stops guiding and opens the
// guiding parameters by posting commands to the view, moves the mount by hand,
// and shows the error and the level of the last measurement.
class CSuiviPanel : public CPanel {
public:
    enum ControlId {
        StartButton = 1047,
        StopButton = 1048,
        ParamsButton = 1049,
        Error1Edit = 1050,
        LevelEdit = 1051,
        UpButton = 1052,
        DownButton = 1053,
        LeftButton = 1054,
        RightButton = 1055,
        Error2Edit = 1056,
    };
    // Commands posted to the view.
    static constexpr int kStartCommand = 1047;
    static constexpr int kStopCommand = 1048;
    static constexpr int kParamsCommand = 32788;

    // camera: the application's one camera, which the move buttons drive.
    // postCommand: queues a command for the view, to run after the click.
    CSuiviPanel(QWidget* view, CCamera* camera, std::function<void(int)> postCommand);

    // Makes the window, hidden until the view shows it.
    bool create();

    // The errors in pixels with three decimals, the level as an integer.
    void showMeasure(float error1, float error2, unsigned short level);

protected:
    void createControls(ControlBuilder& b) override;
    void doDataExchange(DataExchange& dx) override;
    void onCommand(int id) override;

private:
    void moveByHand(int id);

    CCamera* camera;
    std::function<void(int)> post;
    QString error1Text;
    QString error2Text;
    QString levelText;
};
