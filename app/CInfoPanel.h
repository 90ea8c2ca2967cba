#pragma once

#include "Dialog.h"

#include <QString>

// The "Caméra" panel: camera format and exposure in force, and the progress of
// a running sequence.
class CInfoPanel : public CPanel {
public:
    explicit CInfoPanel(QWidget* parent);

    // Makes the window at its place beside the image, visible.
    bool create();

    void showSize(int width, int height, float exposureSeconds);
    void showCount(int n);
    void showProgress(int n, int total);
    // Images in the stack the document shows; 0 when it shows a single image.
    void showStack(int images);

    QString size;
    QString exposure;
    QString sequence;
    QString spare1; // nothing fills this spare field
    QString stack;

    static constexpr int kDialogId = 138;

protected:
    void createControls(ControlBuilder& b) override;
    void doDataExchange(DataExchange& dx) override;

private:
    void refill();
};
