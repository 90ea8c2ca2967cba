#pragma once

#include "GuideCorrection.h"
#include "GuideLog.h"
#include "GuideZone.h"

#include <functional>
#include <vector>

class CCamera;
class CGuideGraphPanel;
class CSuiviPanel;
class CSuiviPrmDialog;
class ImageBuffer;
class QWidget;

// Keeps a guide star where it was when the run started: the view calls
// startGuiding on the first image of a run and guideTick on every later one;
// each tick measures the star, sends at most one correction move through the
// camera and shows the measure on the guiding panel. The arithmetic is in
// GuideCorrection.h; this class holds the run and talks to the windows.
class CSuiviController {
public:
    CSuiviController();
    virtual ~CSuiviController();
    CSuiviController(const CSuiviController&) = delete;
    CSuiviController& operator=(const CSuiviController&) = delete;

    // Remembers the view and makes what does not exist yet: the panel (hidden)
    // and the parameters dialog object. Safe to call at every initial update.
    void createPanels(QWidget* view, CCamera* camera, std::function<void(int)> postCommand);

    // Copies the dialog object's values into the working parameters.
    void loadParams();
    // The parameters dialog, then loadParams whether it ended with OK or Cancel.
    void editParams();
    // The first start of a program run shows the dialog; later ones reload.
    void prepareStart();
    // Timer period of the acquisition loop while guiding.
    double cadenceSeconds() const;

    // Finds the star (around the marker when set, else in the smoothed image
    // less a margin) and fixes the reference, zone and threshold of the run.
    void startGuiding(ImageBuffer& image, int mx, int my, bool markerSet);
    // One new image: measure, correct, recentre, show.
    void guideTick(ImageBuffer& image);
    // The view has stopped the run: its watchers close it.
    void stopGuiding();

    // Someone else told of every run and image, after the graph and the log.
    void addObserver(GuideObserver* observer) { observers.push_back(observer); }
    // Where the guide log reports that it cannot write.
    void setStatusSink(std::function<void(const QString&)> sink) {
        log.setFailureSink(std::move(sink));
    }

    // The current measurement rectangle, drawn by the view while guiding.
    const GuideZone& zone() const { return zone_; }
    CSuiviPanel* panel() { return suiviPanel; }
    CSuiviPrmDialog* dialog() { return prmDialog; }
    CGuideGraphPanel* graphPanel() { return graph; }
    CGuideLog& guideLog() { return log; }

private:
    GuideParams params() const;

    CSuiviPrmDialog* prmDialog = nullptr;
    QWidget* view = nullptr;
    CSuiviPanel* suiviPanel = nullptr;
    int margin;
    int capture = 0;
    float refX = 0.0f;
    float refY = 0.0f;
    GuideZone zone_;
    int threshold = 0;
    float maxMove = 0.0f;
    float rotation = 0.0f;
    float gain1 = 0.0f;
    float gain2 = 0.0f;
    float bias1 = 0.0f;
    float bias2 = 0.0f;
    int invert1 = 0;
    int invert2 = 0;
    int exchange = 0;

    CCamera* camera = nullptr;
    // Watchers of the runs: the graph and the log, made with the panels.
    CGuideGraphPanel* graph = nullptr;
    CGuideLog log;
    std::vector<GuideObserver*> observers;
};
