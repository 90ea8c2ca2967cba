#include "CZermicView.h"

#include "AutoLevels.h"
#include "CCamera.h"
#include "CCumul.h"
#include "CInfoPanel.h"
#include "CMainFrame.h"
#include "CSerialPortDlg.h"
#include "CZermicDoc.h"
#include "ColourTables.h"
#include "CommandIds.h"
#include "DisplayBitmap.h"
#include "FocusPanel.h"
#include "GuideGraphPanel.h"
#include "ImageSave.h"
#include "LevelWindow.h"
#include "NightVision.h"
#include "SettingsStore.h"
#include "StatsPanel.h"
#include "SuiviPanel.h"
#include "Toolkit.h"
#include "ViewZoom.h"
#include "VisuPanel.h"

#include <QMouseEvent>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <utility>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <new>

namespace {

constexpr int kSequenceTimer = CSequenceEngine::sequenceTimer;
constexpr int kEmptySize = 512;
// Slider positions while no brightness/contrast panel exists.
constexpr int kDefaultBrightness = kSliderStart;
constexpr int kDefaultContrast = kSliderStart;
// Where "Auto" is kept between runs.
constexpr const char* kDisplaySection = "VisuPrm";
constexpr const char* kAutoLevelsKey = "niveaux_auto";

const QColor kGuideZoneColour(255, 0, 0);
const QColor kReferenceColour(255, 0, 0);
const QColor kCurrentColour(0, 255, 0);
// At night only red light shows: the current star's frame is a darker red
// than the reference's.
const QColor kNightCurrentColour(150, 0, 0);
const QColor kMarkerColour(255, 0, 255);
constexpr int kMarkerHalfSide = 3;
// A wheel notch, in eighths of a degree.
constexpr int kWheelNotch = 120;

// The record of the image the camera has just read: its exposure started at
// the request, with the parameters it was taken with.
FitsObservation observationOf(const CCamera& cam) {
    const AcqPrm& p = cam.parameters();
    return FitsObservation{cam.acqTime, p.pause_s, p.pause_cs, p.binning, p.img_x0, p.img_y0};
}

QString outOfMemoryMessage() {
    return QStringLiteral("Mémoire insuffisante.");
}

} // namespace

CZermicView::CZermicView(CMainFrame* f, CommandTable& commands, CCamera& camera)
    : QAbstractScrollArea(f), frame(f), table(commands), cam(camera), seqDialog(this),
      progress([this](const QString& text) {
          frame->showPassingPrompt(withUnsavedImages(text, sequence.failedSaves()));
      }),
      timers([this](int id) { onTimer(id); }, this) {
    setObjectName(QStringLiteral("CZermicView"));
    autoOnNewImage = SettingsStore::getInt(kDisplaySection, kAutoLevelsKey, 0) != 0;
    viewport()->setAutoFillBackground(true);
    viewport()->setMouseTracking(true);
    setHandlers();
    frame->showZoom(zoomText(zoom));
}

CZermicView::~CZermicView() {
    // Panels first (their windows close), then the bitmap; the loop's own
    // parts go with the members.
    timers.killTimer(kSequenceTimer);
    if (driverBoxesOff)
        kovrel::setMessageSink(nullptr);
    visu.reset();
    info.reset();
    stats.reset();
    focus.reset();
    bitmap = QImage();
    bitmapBits = nullptr;
    cumul.reset();
}

void CZermicView::setHandlers() {
    auto rule = [this](int id) { return [this, id] { return viewCommandAllowed(id, loop); }; };
    table.setHandler(cmd::InitCamera, [this] {
        cam.init();
        reportPortFailure();
    });
    // What the view does not handle itself waits for an image under way too.
    for (int id : {cmd::InitCamera, cmd::GuidingStart, cmd::GuidingParams, cmd::SerialPortDialog,
                   cmd::FileNew, cmd::FileOpen, cmd::FileSave, cmd::FileSaveAs, cmd::FilePrint,
                   cmd::FilePrintDirect, cmd::FilePrintPreview, cmd::FilePrintSetup, cmd::AppAbout})
        table.setEnableRule(id, rule(id));
    table.setHandler(cmd::SerialPortDialog, [this] { onSerialPortDialog(); });
    table.setHandler(cmd::CameraParams, [this] { getCameraParameters(); });
    table.setEnableRule(cmd::CameraParams, rule(cmd::CameraParams));
    table.setHandler(cmd::AcquireOne, [this] { onAcquire(); });
    table.setEnableRule(cmd::AcquireOne, rule(cmd::AcquireOne));
    for (int id :
         {cmd::SequenceParams, cmd::LoopStart, cmd::LoopPause, cmd::LoopStop, cmd::StartCumul})
        table.setEnableRule(id, rule(id));
    table.setHandler(cmd::SequenceParams, [this] { seqDialog.doModal(); });
    table.setHandler(cmd::LoopStart, [this] { startOrContinueLoop(); });
    table.setHandler(cmd::LoopPause, [this] {
        if (!deferWhileImage(cmd::LoopPause))
            pauseLoop();
    });
    table.setHandler(cmd::LoopStop, [this] {
        if (!deferWhileImage(cmd::LoopStop))
            stopLoop();
    });
    table.setHandler(cmd::StartCumul, [this] { startCumul(); });
    table.setHandler(cmd::GuidingStart, [this] { startGuiding(); });
    table.setHandler(cmd::GuidingStop, [this] {
        if (!deferWhileImage(cmd::GuidingStop))
            stopLoop();
    });
    table.setHandler(cmd::GuidingParams, [this] { suivi.editParams(); });

    table.setHandler(cmd::ShowInfo, [this] { onToggleInfo(); });
    table.setCheckRule(cmd::ShowInfo, [this] { return info && info->isVisible(); });
    table.setHandler(cmd::ShowVisu, [this] {
        if (visu)
            visu->isVisible() ? visu->hide() : visu->show();
    });
    table.setCheckRule(cmd::ShowVisu, [this] { return visu && visu->isVisible(); });
    table.setHandler(cmd::ShowStats, [this] {
        if (!stats)
            return;
        if (stats->isVisible()) {
            stats->hide();
        } else {
            stats->show();
            stats->refreshStats();
        }
    });
    table.setCheckRule(cmd::ShowStats, [this] { return stats && stats->isVisible(); });
    table.setHandler(cmd::ShowGuiding, [this] {
        if (CSuiviPanel* p = suivi.panel())
            p->isVisible() ? p->hide() : p->show();
    });
    table.setCheckRule(cmd::ShowGuiding,
                       [this] { return suivi.panel() && suivi.panel()->isVisible(); });
    table.setHandler(cmd::ShowGuideGraph, [this] {
        if (CGuideGraphPanel* p = suivi.graphPanel())
            p->isVisible() ? p->hide() : p->show();
    });
    table.setCheckRule(cmd::ShowGuideGraph,
                       [this] { return suivi.graphPanel() && suivi.graphPanel()->isVisible(); });
    table.setHandler(cmd::ShowFocus, [this] {
        if (focus)
            focus->isVisible() ? focus->hide() : focus->show();
    });
    table.setCheckRule(cmd::ShowFocus, [this] { return focus && focus->isVisible(); });
    table.setHandler(cmd::AutoLevels, [this] { autoLevels(); });
    table.setEnableRule(cmd::AutoLevels, [this] { return doc && doc->image.pixels; });
    table.setHandler(cmd::AutoLevelsOnNewImage, [this] {
        autoOnNewImage = !autoOnNewImage;
        SettingsStore::writeInt(kDisplaySection, kAutoLevelsKey, autoOnNewImage ? 1 : 0);
    });
    table.setCheckRule(cmd::AutoLevelsOnNewImage, [this] { return autoOnNewImage; });
    table.setHandler(cmd::ZoomIn, [this] { zoomAtCentre(zoomStep(zoom, 1)); });
    table.setEnableRule(cmd::ZoomIn, [this] { return zoom < kZoomMax; });
    table.setHandler(cmd::ZoomOut, [this] { zoomAtCentre(zoomStep(zoom, -1)); });
    table.setEnableRule(cmd::ZoomOut, [this] { return zoom > kZoomMin; });
    table.setHandler(cmd::ZoomActualSize, [this] { zoomAtCentre(1); });
    table.setHandler(cmd::ZoomFit, [this] {
        fitting = true;
        fitToWindow();
    });
    table.setHandler(cmd::FilePrint, [this] { print(true); });
    table.setHandler(cmd::FilePrintDirect, [this] { print(false); });
    table.setHandler(cmd::FilePrintPreview, [this] { printPreview(); });
}

void CZermicView::setDocument(CZermicDoc* d) {
    doc = d;
    doc->setDisplayBitmapSource([this] { return currentDisplayBitmap(); });
}

void CZermicView::getCameraParameters() {
    // The dialog's outcome does not matter: after Cancel the settings loaded
    // when it opened are uploaded too.
    cam.getAcqPrm(this);
    loop.cameraReady = true;
    if (info)
        info->showSize(cam.getWidth(), cam.getHeight(), cam.getPauseEnSecondes());
    cam.reglage();
    reportPortFailure();
}

void CZermicView::autoLevels() {
    if (!visu || !doc || !doc->image.pixels)
        return;
    ImageBuffer& image = doc->image;
    if (!image.stats.valid)
        image.computeStats();
    const bool sums = static_cast<DisplayMode>(displayMode()) == DisplayMode::Colour;
    const SliderPositions p = autoLevelPositions(image.stats, sums ? 2 : 1);
    visu->setPositions(p.brightness, p.contrast);
}

void CZermicView::onNewImage() {
    if (autoOnNewImage)
        autoLevels();
    if (focus)
        focus->imageChanged();
}

bool CZermicView::takeImage(int& result) {
    // A window beyond the sensor (a hand-edited store) would be allocated for
    // nothing before the camera refuses it.
    if (!cam.checkWindow())
        return false;
    const int w = cam.getWidth();
    const int h = cam.getHeight();
    if (!incoming.pixels || incoming.width != w || incoming.height != h) {
        incoming.resize(w, h);
        if (!incoming.pixels) {
            messageBox(frame, outOfMemoryMessage(), applicationTitle(), MessageIcon::Stop);
            return false;
        }
    }
    setImageUnderWay(true);
    result = progress.run([this] { return cam.acquerir(incoming.pixels); });
    ImageBuffer& image = doc->image;
    std::swap(image.pixels, incoming.pixels);
    std::swap(image.width, incoming.width);
    std::swap(image.height, incoming.height);
    image.invalidateStats();
    setImageUnderWay(false);
    reportPortFailure();
    return true;
}

void CZermicView::setImageUnderWay(bool on) {
    loop.imageUnderWay = on;
    // The mount's hand moves would reach the line in the middle of the image.
    if (CSuiviPanel* p = suivi.panel())
        for (int id : {CSuiviPanel::UpButton, CSuiviPanel::DownButton, CSuiviPanel::LeftButton,
                       CSuiviPanel::RightButton})
            if (QWidget* c = p->control(id))
                c->setEnabled(!on);
    table.updateUI();
    if (on)
        return;
    for (int id : std::exchange(deferred, {}))
        table.post(id);
    if (std::exchange(closeDeferred, false))
        QMetaObject::invokeMethod(frame, &QWidget::close, Qt::QueuedConnection);
}

bool CZermicView::deferWhileImage(int id) {
    if (!loop.imageUnderWay)
        return false;
    if (std::find(deferred.begin(), deferred.end(), id) == deferred.end())
        deferred.push_back(id);
    return true;
}

bool CZermicView::deferClose() {
    if (!loop.imageUnderWay)
        return false;
    closeDeferred = true;
    // Nobody may be left to answer a box: a camera that never answers must
    // not keep the program from ending once its transfer gives up.
    if (!driverBoxesOff) {
        driverBoxesOff = true;
        kovrel::setMessageSink([](const QString& text) {
            std::fprintf(stderr, "Kovrel: %s\n", text.toLocal8Bit().constData());
        });
    }
    return true;
}

void CZermicView::reportPortFailure() {
    const kovrel::PortState port = kovrel::portState();
    if (port.open || port.error == 0)
        return;
    frame->showPrompt(
        portOpenFailureText(port.number, QString::fromStdString(port.path), port.error));
}

void CZermicView::onSerialPortDialog() {
    CSerialPortDlg dlg(this);
    if (dlg.doModal() != 1)
        return;
    // The port open on the old device is let go; the next camera call opens
    // the one just bound.
    if (kovrel::portState().open && kovrel::portState().number == dlg.portNumber())
        kovrel::closePort();
    frame->showPrompt(QStringLiteral("COM%1 : %2").arg(dlg.portNumber()).arg(dlg.boundDevice()));
}

std::int32_t CZermicView::imageTime() const {
    // The camera may not stamp its images; the end of the readout is then the
    // closest time there is.
    if (cam.acqTime != 0)
        return static_cast<std::int32_t>(cam.acqTime);
    return static_cast<std::int32_t>(std::time(nullptr));
}

void CZermicView::onAcquire() {
    if (!loop.cameraReady)
        getCameraParameters();
    int r = 0;
    if (!takeImage(r))
        return;
    table.send(cmd::FileNew);
    ImageBuffer& image = doc->image;
    image.invalidateStats();
    doc->acquisitionTime = imageTime();
    doc->observation = observationOf(cam);
    showStackCount(0);
    onInitialUpdate();
    onNewImage();
    viewport()->update();
}

bool CZermicView::startOrContinueLoop() {
    if (loop.loopPaused) {
        loop.loopPaused = false;
        sequence.resumeTimer();
        return true;
    }
    if (!loop.cameraReady)
        getCameraParameters();
    // Nothing starts for a window the camera refuses: no file read, no
    // "Nouveau".
    if (!cam.checkWindow()) {
        stopLoop();
        return false;
    }
    loop.loopRunning = true;
    // A refused start (sequence file unreadable, already reported) takes no
    // image and arms nothing; the loop stays marked as running until Stop.
    if (sequence.startSequence() != 0)
        return false;
    table.send(cmd::FileNew);
    const unsigned short* shown = doc->image.pixels;
    stepRunning = true;
    acquireOne();
    onNewImage();
    stepRunning = false;
    if (std::exchange(lateTick, false) && timers.isActive(kSequenceTimer))
        QTimer::singleShot(0, this, [this] {
            if (timers.isActive(kSequenceTimer))
                onTimer(kSequenceTimer);
        });
    // A step that took an image put a new array in the document.
    return doc->image.pixels != shown;
}

void CZermicView::acquireOne() {
    imageAwaitingAdd = false;
    // A file opened during an accumulation has replaced the image the sum is
    // registered on: the run ends there, before the camera overwrites it.
    if (loop.accumulating && cumul && !sameSizeAsSum(doc->image)) {
        stopLoop();
        return;
    }
    sequence.beforeAcquisition();
    int r = 0;
    if (!takeImage(r)) {
        stopLoop();
        return;
    }
    // A file opened during the loop has just lost its pixels to the camera's:
    // the document must no longer name it, or a save would write the camera
    // image over it.
    if (!doc->pathName().isEmpty())
        table.send(cmd::FileNew);
    ImageBuffer& image = doc->image;
    doc->acquisitionTime = imageTime();
    doc->observation = observationOf(cam);
    image.invalidateStats();
    // In an accumulation the stack's count stays until the image is added.
    if (!loop.accumulating)
        showStackCount(0);
    onInitialUpdate();
    viewport()->update();
    // The last counted image stops the run inside afterAcquisition; the stop
    // adds it first when it was read whole.
    imageAwaitingAdd = r == 0;
    sequence.afterAcquisition(r == 0);
    if (r != 0)
        stopLoop();
}

bool CZermicView::sameSizeAsSum(const ImageBuffer& image) const {
    return cumul->stack.sameSize(image);
}

void CZermicView::showStackCount(int images) {
    if (info)
        info->showStack(images);
}

void CZermicView::onTimer(int) {
    // One step at a time: a tick that arrives while the loop's first step runs
    // (the camera call turns the event loop) comes again once it is over. One
    // left over from a loop that has just stopped is dropped.
    if (stepRunning || !loop.loopRunning) {
        lateTick = stepRunning && loop.loopRunning;
        return;
    }
    stepRunning = true;
    acquireOne();
    if (loop.guidingActive)
        suivi.guideTick(doc->image);
    if (loop.accumulating && cumul) {
        imageAwaitingAdd = false;
        if (cumul->addImage() == CCumul::Step::SizeMismatch)
            stopLoop();
        else
            showStackCount(cumul->imageCount);
    }
    // After the accumulation's step the document holds the stack.
    onNewImage();
    stepRunning = false;
}

void CZermicView::pauseLoop() {
    loop.loopPaused = true;
    sequence.suspendTimer();
}

void CZermicView::stopLoop() {
    sequence.stopSequence();
    loop.loopRunning = false;
    loop.loopPaused = false;
    if (loop.guidingActive)
        suivi.stopGuiding();
    loop.guidingActive = false;
    if (loop.accumulating) {
        loop.accumulating = false;
        if (cumul) {
            // The stack of the run is what stays on screen: the last counted
            // image is added first; a failed readout or a user stop puts the
            // stack so far back.
            bool stored = imageAwaitingAdd ? cumul->addImage() != CCumul::Step::SizeMismatch
                                           : cumul->storeMean();
            if (!stored && cumul->stack.holdsImages()) {
                // The document holds a file opened during the run: the stack
                // replaces it in an untitled document, so no save can write
                // the stack over that file.
                table.send(cmd::FileNew);
                doc->resizeImage(cumul->stack.width, cumul->stack.height);
                stored = cumul->storeMean();
            }
            if (stored) {
                showStackCount(cumul->imageCount);
                doc->image.invalidateStats();
                onInitialUpdate();
                onNewImage();
            }
        }
        cumul.reset();
    }
    imageAwaitingAdd = false;
}

void CZermicView::startGuiding() {
    const bool markerWasSet = markerIsSet;
    loop.guidingActive = true;
    suivi.prepareStart();
    startOrContinueLoop();
    suivi.startGuiding(doc->image, markerPoint.x(), markerPoint.y(), markerWasSet);
    // A first image that failed has stopped the loop already: the run that
    // has just been opened ends at once.
    if (!loop.guidingActive)
        suivi.stopGuiding();
}

void CZermicView::startCumul() {
    const bool markerWasSet = markerIsSet;
    loop.accumulating = true;
    // No accumulator when the run ended within its first step (a sequence of
    // one image, a failed first readout) or never took an image.
    if (!startOrContinueLoop() || !loop.loopRunning || !loop.accumulating || !doc->image.pixels) {
        loop.accumulating = false;
        return;
    }
    cumul = std::make_unique<CCumul>(doc->image);
    cumul->beginCumul(markerPoint.x(), markerPoint.y(), markerWasSet);
    showStackCount(cumul->imageCount);
    // The first image is the sum's start: a stop before the next one must not
    // add it a second time.
    imageAwaitingAdd = false;
}

void CZermicView::setSequenceTimer(int milliseconds) {
    timers.setTimer(kSequenceTimer, milliseconds);
}

void CZermicView::killSequenceTimer() {
    timers.killTimer(kSequenceTimer);
}

double CZermicView::guidingCadenceSeconds() {
    return suivi.cadenceSeconds();
}

ImageBuffer* CZermicView::documentImage() {
    return doc ? &doc->image : nullptr;
}

void CZermicView::showSize(int width, int height, float exposureSeconds) {
    if (info)
        info->showSize(width, height, exposureSeconds);
}

void CZermicView::showCount(int n) {
    if (info)
        info->showCount(n);
}

void CZermicView::showProgress(int n, int total) {
    if (info)
        info->showProgress(n, total);
}

SequenceHost::SaveResult CZermicView::saveDocument(const QString& path,
                                                   std::optional<AcqExposure> exposure) {
    // Sequence images are data to be measured later: always the 16-bit FITS
    // file, even when the folder or base name the user chose holds ".bmp".
    if (!doc)
        return SaveResult::Failed;
    const int r = doc->writeFitsImage(path, exposure, SafeFileWriter::Existing::Keep);
    if (r == saveNameTaken)
        return SaveResult::NameTaken;
    return r == 0 ? SaveResult::Saved : SaveResult::Failed;
}

QWidget* CZermicView::messageOwner() {
    return frame;
}

void CZermicView::showStatus(const QString& text) {
    frame->showPrompt(text);
}

void CZermicView::onToggleInfo() {
    if (!info)
        return;
    if (info->isVisible())
        info->hide();
    else
        info->show();
}

void CZermicView::createPanels() {
    suivi.createPanels(this, &cam, [this](int id) { table.post(id); });
    suivi.setStatusSink([this](const QString& text) { showStatus(text); });
    if (!visu) {
        visu = std::make_unique<CVisuPanel>(this);
        visu->setChangeHandler([this] { viewport()->update(); });
        visu->create();
    }
    if (!info) {
        info = std::make_unique<CInfoPanel>(this);
        info->create();
    }
    if (!stats) {
        stats = std::make_unique<CStatsPanel>(this, doc ? &doc->image : nullptr);
        stats->create();
    }
    if (!focus) {
        focus = std::make_unique<CFocusPanel>(this, doc ? &doc->image : nullptr);
        focus->create();
    }
}

int& CZermicView::bitmapChangedFlag() {
    return visu ? visu->bitmapChanged : ownBitmapChanged;
}

int& CZermicView::pixelsChangedFlag() {
    return visu ? visu->pixelsChanged : ownPixelsChanged;
}

void CZermicView::onInitialUpdate() {
    createPanels();
    const ImageBuffer* image = doc ? &doc->image : nullptr;
    if (image && image->pixels) {
        contents = QSize(image->width, image->height);
        frame->setStatusText(QString::asprintf("%d x %d, %d bpp", image->width, image->height, 16));
    } else {
        contents = QSize(kEmptySize, kEmptySize);
    }
    if (fitting)
        fitToWindow();
    else
        updateScrollBars();
    bitmap = QImage();
    bitmapBits = nullptr;
    markerIsSet = false;
    viewport()->update();
    showPixelUnderCursor();
}

double CZermicView::pixelRatio() const {
    return viewport()->devicePixelRatioF();
}

QPoint CZermicView::imagePoint(QPointF viewportPosition) const {
    const QPointF device = viewportPosition * pixelRatio() + scrollPosition();
    return QPoint(int(std::floor(device.x() / zoom)), int(std::floor(device.y() / zoom)));
}

void CZermicView::updateScrollBars() {
    // Scrolling counts the screen's device pixels, one per image pixel at
    // zoom 1: a page is the viewport's size in device pixels.
    scrollRatio = pixelRatio();
    const QSize page = (QSizeF(viewport()->size()) * scrollRatio).toSize();
    const QSize shown = zoomedSize(contents, zoom);
    horizontalScrollBar()->setRange(0, std::max(0, shown.width() - page.width()));
    horizontalScrollBar()->setPageStep(page.width());
    horizontalScrollBar()->setSingleStep(std::max(1, shown.width() / 100));
    verticalScrollBar()->setRange(0, std::max(0, shown.height() - page.height()));
    verticalScrollBar()->setPageStep(page.height());
    verticalScrollBar()->setSingleStep(std::max(1, shown.height() / 100));
}

void CZermicView::setZoom(double factor, QPointF anchor) {
    factor = std::clamp(factor, kZoomMin, kZoomMax);
    const QPointF device = anchor * pixelRatio();
    const QPointF scroll = anchoredScroll(QPointF(scrollPosition()), device, zoom, factor);
    zoom = factor;
    updateScrollBars();
    horizontalScrollBar()->setValue(int(std::lround(scroll.x())));
    verticalScrollBar()->setValue(int(std::lround(scroll.y())));
    frame->showZoom(zoomText(zoom));
    viewport()->update();
    showPixelUnderCursor();
}

void CZermicView::zoomAtCentre(double factor) {
    fitting = false;
    setZoom(factor, QRectF(viewport()->rect()).center());
}

void CZermicView::fitToWindow() {
    // The area without scroll bars, which a picture that fits does not need.
    const QSize area = (QSizeF(maximumViewportSize()) * pixelRatio()).toSize();
    setZoom(fitZoom(contents, area), QPointF());
}

void CZermicView::showPixelUnderCursor() {
    QString text;
    const ImageBuffer* image = doc ? &doc->image : nullptr;
    if (cursorAt && image && image->pixels) {
        const QPoint at = imagePoint(*cursorAt);
        if (at.x() >= 0 && at.y() >= 0 && at.x() < image->width && at.y() < image->height)
            text = pixelText(at, image->pixels[std::size_t(at.y()) * image->width + at.x()]);
    }
    frame->showPixel(text);
}

QPoint CZermicView::scrollPosition() const {
    return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void CZermicView::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    if (fitting)
        fitToWindow();
    else
        updateScrollBars();
}

void CZermicView::scrollContentsBy(int, int) {
    viewport()->update();
    showPixelUnderCursor();
}

void CZermicView::mouseMoveEvent(QMouseEvent* e) {
    cursorAt = e->position();
    showPixelUnderCursor();
    QAbstractScrollArea::mouseMoveEvent(e);
}

bool CZermicView::viewportEvent(QEvent* e) {
    if (e->type() == QEvent::Leave) {
        cursorAt.reset();
        showPixelUnderCursor();
    }
    return QAbstractScrollArea::viewportEvent(e);
}

void CZermicView::wheelEvent(QWheelEvent* e) {
    if (!(e->modifiers() & Qt::ControlModifier)) {
        QAbstractScrollArea::wheelEvent(e);
        return;
    }
    wheelRest += e->angleDelta().y();
    const int notches = wheelRest / kWheelNotch;
    wheelRest -= notches * kWheelNotch;
    if (notches != 0) {
        fitting = false;
        setZoom(zoomStep(zoom, notches), e->position());
    }
    e->accept();
}

void CZermicView::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        // Guiding and accumulation look for the star in image pixels, so the
        // click is kept where it lies on the image, whatever the scrolling.
        markerPoint = imagePoint(e->position());
        markerIsSet = true;
        if (focus)
            focus->followStar(markerPoint.x(), markerPoint.y());
        viewport()->update();
    }
    QAbstractScrollArea::mouseReleaseEvent(e);
}

int CZermicView::displayMode() const {
    return visu ? visu->mode() : static_cast<int>(DisplayMode::Normal);
}

void CZermicView::createDisplayBitmap() {
    const ImageBuffer& image = doc->image;
    const DisplayMode mode = static_cast<DisplayMode>(displayMode());
    bitmap = QImage();
    bitmapBits = nullptr;
    // Exactly the image's width on screen and in files; only the rows in
    // memory are padded, as the mapping steps through them.
    const std::ptrdiff_t rowBytes = displayBitmapRowBytes(mode, image.width);
    if (image.width <= 0 || image.height <= 0 ||
        displayBitmapRowPixels(image.width) < image.width || rowBytes > PTRDIFF_MAX / image.height)
        return;
    // Zeroed: the padding and, in colour mode, the rows the conversion leaves
    // alone show level 0 of the mode rather than leftover memory.
    auto* memory = new (std::nothrow) std::uint8_t[std::size_t(rowBytes * image.height)]();
    if (!memory)
        return;
    const ColourTable* table = colourTable(mode);
    // The bitmap frees the memory when its last copy goes.
    bitmap = QImage(
        memory, image.width, image.height, rowBytes,
        table ? QImage::Format_Indexed8 : QImage::Format_BGR888,
        [](void* m) { delete[] static_cast<std::uint8_t*>(m); }, memory);
    if (bitmap.isNull()) {
        delete[] memory;
        return;
    }
    bitmapBits = memory;
    if (table) {
        QList<QRgb> colours;
        colours.reserve(256);
        for (const PaletteEntry& e : *table)
            colours.append(paletteArgb(e));
        bitmap.setColorTable(colours);
    }
    pixelsChangedFlag() = 1;
    bitmapChangedFlag() = 0;
}

void CZermicView::renderIfChanged() {
    if (!pixelsChangedFlag() || bitmap.isNull())
        return;
    pixelsChangedFlag() = 0;
    int lo = 0;
    int hi = 0;
    levelWindow(visu ? visu->brightness() : kDefaultBrightness,
                visu ? visu->contrast() : kDefaultContrast, lo, hi);
    mapper.setWindow(lo, hi);
    // Through the memory's own pointer: the bitmap's bits() would copy the
    // memory, with rows of Qt's own length, while someone holds a copy of it.
    mapper.render(static_cast<DisplayMode>(displayMode()), doc->image, bitmapBits);
    // Written behind the bitmap's back, so its cache key stays: the shrunk
    // picture must be made again.
    shrunk = QImage();
}

const QImage* CZermicView::currentDisplayBitmap() {
    if (!doc || !doc->image.pixels)
        return nullptr;
    if (bitmap.isNull() || bitmapChangedFlag())
        createDisplayBitmap();
    if (bitmap.isNull())
        return nullptr;
    renderIfChanged();
    return &bitmap;
}

void CZermicView::frameRect(QPainter& p, int left, int top, int right, int bottom, const QColor& c,
                            double scale) const {
    // A one-pixel border inside the rectangle; right and bottom are outside it.
    if (right <= left || bottom <= top)
        return;
    if (scale != 1) {
        // The image rectangle on the screen, still at least one pixel.
        left = int(std::floor(left * scale));
        top = int(std::floor(top * scale));
        right = std::max(left + 1, int(std::floor(right * scale)));
        bottom = std::max(top + 1, int(std::floor(bottom * scale)));
    }
    const int w = right - left;
    const int h = bottom - top;
    p.fillRect(left, top, w, 1, c);
    p.fillRect(left, bottom - 1, w, 1, c);
    p.fillRect(left, top, 1, h, c);
    p.fillRect(right - 1, top, 1, h, c);
}

void CZermicView::onDraw(QPainter& p, double scale) {
    const QImage* shown = currentDisplayBitmap();
    if (!shown)
        return;
    // The bitmap as mapped, only scaled on its way to the screen; enlarged,
    // its pixels stay sharp squares. Shrunk, each screen pixel is the mean of
    // the bitmap's pixels under it, so that faint stars stay: that picture is
    // made once per bitmap and factor. Rows are stored bottom-up, as bitmap
    // files keep them.
    const QImage* picture = shown;
    if (scale < 1) {
        const QSize size = zoomedSize(shown->size(), scale);
        if (shrunk.size() != size || shrunkFrom != shown->cacheKey()) {
            shrunk = shown->scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            shrunkFrom = shown->cacheKey();
        }
        picture = &shrunk;
    }
    p.save();
    if (picture == shown)
        p.scale(scale, scale);
    p.translate(0, picture->height());
    p.scale(1, -1);
    p.drawImage(0, 0, *picture);
    p.restore();

    // Frames stay one screen pixel wide at every factor.
    if (loop.guidingActive) {
        const GuideZone& z = suivi.zone();
        frameRect(p, z.left, z.top, z.right, z.bottom, kGuideZoneColour, scale);
    }
    if (loop.accumulating && cumul) {
        if (auto r = cumul->referenceFrame())
            frameRect(p, r->left, r->top, r->right, r->bottom, kReferenceColour, scale);
        if (auto c = cumul->currentFrame())
            frameRect(p, c->left, c->top, c->right, c->bottom,
                      nightVision() ? kNightCurrentColour : kCurrentColour, scale);
    }
    if (markerIsSet) {
        // Shrunk, the marker keeps its size on the screen around its pixel.
        const double markerScale = std::max(scale, 1.0);
        const QPoint at(int(std::floor((markerPoint.x() + 0.5) * scale / markerScale)),
                        int(std::floor((markerPoint.y() + 0.5) * scale / markerScale)));
        frameRect(p, at.x() - kMarkerHalfSide, at.y() - kMarkerHalfSide, at.x() + kMarkerHalfSide,
                  at.y() + kMarkerHalfSide, kMarkerColour, markerScale);
    }
    if (stats)
        stats->refreshStats();
}

void CZermicView::paintEvent(QPaintEvent*) {
    // The window may have moved to a screen of another scale.
    if (pixelRatio() != scrollRatio)
        updateScrollBars();
    QPainter p(viewport());
    // One image pixel per device pixel, whatever the screen's scale: on a
    // scaled screen the image is not enlarged, and the marker and frames,
    // drawn in image pixels, stay one device pixel wide.
    p.scale(1 / scrollRatio, 1 / scrollRatio);
    p.translate(-scrollPosition());
    onDraw(p, zoom);
}

void CZermicView::printerSetup() {
    if (!printer)
        printer = std::make_unique<QPrinter>();
    QPageSetupDialog dialog(printer.get(), this);
    dialog.exec();
}

namespace {
// One page: the view's drawing, scaled to the printable area.
void drawPage(CZermicView& view, QPrinter& printer) {
    QPainter p(&printer);
    const ImageBuffer* image = view.document() ? &view.document()->image : nullptr;
    if (image && image->pixels) {
        const QRect page = p.viewport();
        const double scale =
            std::min(double(page.width()) / image->width, double(page.height()) / image->height);
        p.scale(scale, scale);
    }
    view.onDraw(p);
}
} // namespace

void CZermicView::print(bool withDialog) {
    if (!printer)
        printer = std::make_unique<QPrinter>();
    if (withDialog) {
        QPrintDialog dialog(printer.get(), this);
        if (dialog.exec() != QDialog::Accepted)
            return;
    }
    drawPage(*this, *printer);
}

void CZermicView::printPreview() {
    if (!printer)
        printer = std::make_unique<QPrinter>();
    QPrintPreviewDialog preview(printer.get(), this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* pr) { drawPage(*this, *pr); });
    preview.exec();
}
