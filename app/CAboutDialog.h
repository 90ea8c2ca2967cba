#pragma once

#include "Dialog.h"

// The About box.
class CAboutDialog : public CDialog {
public:
    explicit CAboutDialog(QWidget* parent);

protected:
    void createControls(ControlBuilder& b) override;
};
