#pragma once

#include "Toolkit.h"

#include <functional>

class QPainter;
class ScrollSlider;

// The brightness/contrast panel "Visu": two sliders that set the level window,
// four push-like buttons that choose the display mode and "Continu", which
// decides whether the picture follows a slider during a drag or only at its
// release. The view reads the mode, the slider positions and the two flags at
// each paint and clears the flags once it has acted on them.
class CVisuPanel : public CPanel {
public:
    enum ControlId {
        ContrastSlider = 1000,
        BrightnessSlider = 1001,
        ContinuCheck = 1002,
        NormalButton = 1036,
        NegativeButton = 1037,
        FalseColourButton = 1038,
        ColourButton = 1039,
    };

    explicit CVisuPanel(QWidget* view);

    // Makes the window, visible, at its place beside the image.
    bool create();

    int mode() const { return displayMode; }
    // Slider positions, read from the controls each time (128 before the
    // window exists).
    int brightness() const;
    int contrast() const;
    // Moves both sliders there (within their ranges) and ends the move as a
    // release does, so the picture is the one a user gets by dragging them.
    void setPositions(int brightness, int contrast);

    int bitmapChanged = 0; // the display bitmap must be recreated (mode changed)
    int pixelsChanged = 0; // the display pixels must be recomputed

    // What to call when the picture must be redrawn; without one the main
    // window is repainted.
    void setChangeHandler(std::function<void()> repaint);

protected:
    void createControls(ControlBuilder& b) override;
    void onInitDialog() override;
    void onCommand(int id) override;
    void onPaint(QPainter& painter) override;

private:
    void onScroll(int code);
    void requestRepaint();
    int sliderValue(int id) const;

    int displayMode = 0;
    std::function<void()> changeHandler;
};
