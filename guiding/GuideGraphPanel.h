#pragma once

#include "GuideHistory.h"
#include "GuideObserver.h"
#include "Toolkit.h"

#include <iterator>

// The panel "Graphe suivi": the errors of both axes over the last images of
// the run, the move each image sent, a zero line, a choice of fixed vertical
// ranges, the number of images shown and their RMS. A dropped measurement is
// a gap with a mark and stays out of the RMS. Hidden, it only keeps the
// history: nothing is drawn or computed.
class CGuideGraphPanel : public CPanel, public GuideObserver {
public:
    enum ControlId {
        PlotFrame = 1101,
        FirstScale = 1102, // then one button per range
        TicksLabel = 1110,
        Rms1Label = 1111,
        Rms2Label = 1112,
        TotalLabel = 1113,
    };
    // Half-heights of the plot, pixels of error.
    static constexpr int kScales[] = {1, 2, 5, 10, 20};
    static constexpr int kScaleCount = int(std::size(kScales));

    explicit CGuideGraphPanel(QWidget* view);

    // Makes the window, hidden unless it was left shown, where it was last left.
    bool create();
    void show();

    int scale() const { return kScales[scaleIndex]; }
    const GuideHistory& history() const { return points; }

    void runStarted(const GuideRunInfo& run) override;
    void guideTicked(const GuideTick& tick, const GuideParams& params) override;
    void runEnded() override {}

protected:
    void createControls(ControlBuilder& b) override;
    void onCommand(int id) override;
    void onPaint(QPainter& painter) override;
    void onOK() override { hide(); }
    void onCancel() override { hide(); }

private:
    void refresh();

    GuideHistory points;
    int scaleIndex = 1;
};
