#pragma once

#include "Toolkit.h"

class ImageBuffer;
class QPainter;

// The statistics panel "Statistiques": the histogram of the document's image as
// red bars over a black frame, with its minimum, mean and maximum below. The
// statistics are the image's own cache, so a refresh after a repaint costs
// nothing until the pixels change, and a hidden panel asks for nothing.
class CStatsPanel : public CPanel {
public:
    enum ControlId {
        HistogramFrame = 1025,
        MinimumField = 1026,
        MaximumField = 1027,
        MeanField = 1028,
    };

    // The image belongs to the document and outlives the panel.
    CStatsPanel(QWidget* view, ImageBuffer* image);

    // Makes the window, visible, at its place beside the image.
    bool create();

    // Shows the figures of the current image and redraws the histogram; does
    // nothing while the panel is hidden. With no image yet the fields are left
    // empty and nothing is computed.
    void refreshStats();

protected:
    void createControls(ControlBuilder& b) override;
    void onPaint(QPainter& painter) override;

private:
    ImageBuffer* image;
    int minimum = 0;
    int maximum = 0;
    int mean = 0;
};
