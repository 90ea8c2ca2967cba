#include "SuiviController.h"

#include "CCamera.h"
#include "GuideGraphPanel.h"
#include "StarMeasure.h"
#include "SuiviPanel.h"
#include "SuiviPrmDialog.h"

namespace {
// Set at program start: the first guiding start of a run asks for the
// parameters, whichever view's controller makes it.
bool firstStart = true;
} // namespace

CSuiviController::CSuiviController() : margin(kGuideSearchMargin) {}

CSuiviController::~CSuiviController() {
    // The log ends a run still on as it goes; the windows that would show a
    // failure may be gone by then.
    log.setFailureSink(nullptr);
    delete graph;
    delete suiviPanel;
    delete prmDialog;
}

void CSuiviController::createPanels(QWidget* parentView, CCamera* cam,
                                    std::function<void(int)> postCommand) {
    view = parentView;
    camera = cam;
    if (!suiviPanel) {
        suiviPanel = new CSuiviPanel(view, camera, std::move(postCommand));
        suiviPanel->create();
    }
    if (!graph) {
        graph = new CGuideGraphPanel(view);
        graph->create();
        observers.insert(observers.begin(), {graph, &log});
    }
    if (!prmDialog) {
        prmDialog = new CSuiviPrmDialog(view);
        // A start always reloads, but the working values are never left unset.
        loadParams();
    }
}

void CSuiviController::loadParams() {
    const SuiviPrm prm = prmDialog ? prmDialog->prm : SuiviPrm{};
    const GuideParams p = loadGuideParams(prm);
    rotation = p.rotation;
    gain1 = p.gain1;
    gain2 = p.gain2;
    bias1 = p.bias1;
    bias2 = p.bias2;
    maxMove = p.maxMove;
    invert1 = p.invert1;
    invert2 = p.invert2;
    exchange = p.exchange;
    capture = p.capture;
}

void CSuiviController::editParams() {
    if (prmDialog)
        prmDialog->doModal();
    loadParams();
}

void CSuiviController::prepareStart() {
    if (firstStart) {
        editParams();
        firstStart = false;
    } else {
        loadParams();
    }
}

double CSuiviController::cadenceSeconds() const {
    return ::cadenceSeconds(prmDialog ? prmDialog->prm : SuiviPrm{});
}

GuideParams CSuiviController::params() const {
    GuideParams p;
    p.maxMove = maxMove;
    p.rotation = rotation;
    p.gain1 = gain1;
    p.gain2 = gain2;
    p.bias1 = bias1;
    p.bias2 = bias2;
    p.invert1 = invert1;
    p.invert2 = invert2;
    p.exchange = exchange;
    p.capture = capture;
    return p;
}

void CSuiviController::startGuiding(ImageBuffer& image, int mx, int my, bool markerSet) {
    const StarLock lock =
        lockStar(image, StarMarker{mx, my, markerSet}, LockConstants{capture, margin, true});
    zone_ = lock.zone;
    threshold = lock.threshold;
    refX = lock.refX;
    refY = lock.refY;
    GuideRunInfo run;
    run.prm = prmDialog ? prmDialog->prm : SuiviPrm{};
    run.refX = refX;
    run.refY = refY;
    run.exposureSeconds = camera ? camera->getPauseEnSecondes() : 0.0;
    for (GuideObserver* o : observers)
        o->runStarted(run);
}

void CSuiviController::stopGuiding() {
    for (GuideObserver* o : observers)
        o->runEnded();
}

void CSuiviController::guideTick(ImageBuffer& image) {
    const GuideTick tick =
        evaluateGuideTick(image, params(), GuideState{refX, refY, zone_, threshold});
    if (tick.moveSent && camera)
        camera->deplacement(tick.move.axis1, tick.move.axis2);
    zone_ = tick.zone;
    if (suiviPanel)
        suiviPanel->showMeasure(tick.ex, tick.ey, tick.level);
    const GuideParams p = params();
    for (GuideObserver* o : observers)
        o->guideTicked(tick, p);
}
