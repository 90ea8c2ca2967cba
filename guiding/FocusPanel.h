#pragma once

#include "FocusHistory.h"
#include "FocusMeasure.h"
#include "Toolkit.h"

#include <QPoint>

class ImageBuffer;

// The panel "Mise au point": the half-flux diameter, the FWHM and the peak of
// one star of every new image, a warning when the star is saturated, and the
// HFD of the last images as a curve with the best one marked. The star is the
// one the user marked, followed from image to image, or else the brightest
// unsaturated star. Hidden, it measures nothing.
class CFocusPanel : public CPanel {
public:
    enum ControlId {
        HfdField = 1100,
        FwhmField = 1101,
        PeakField = 1102,
        SaturationLabel = 1103,
        StarLabel = 1104,
        PlotFrame = 1105,
        BestLabel = 1106,
        ClearButton = 1107,
        BrightestButton = 1108,
    };

    // The image belongs to the document and outlives the panel.
    CFocusPanel(QWidget* view, ImageBuffer* image);

    // Makes the window, hidden, at its place beside the image. Whenever it
    // is shown, the current image is measured.
    bool create();

    // A new image is in the document.
    void imageChanged();
    // The user marked (x, y): the star there is measured from now on.
    void followStar(int x, int y);

    const FocusStar& star() const { return current; }
    const FocusHistory& history() const { return points; }

protected:
    void createControls(ControlBuilder& b) override;
    void onCommand(int id) override;
    void onPaint(QPainter& painter) override;

private:
    void measure();
    // A new curve, from the current image on.
    void restartCurve();
    void showFigures();
    // The level from which a pixel counts as clipped.
    unsigned short saturationLevel();

    ImageBuffer* image;
    FocusMeter meter;
    FocusStar current;
    FocusHistory points;
    bool imageCounted = false; // the current image is in the curve
    bool following = false;
    QPoint target; // the followed star's last place, image pixels
    int imageWidth = 0;
    int imageHeight = 0;
};
