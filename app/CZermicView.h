#pragma once

#include "CSeqPrmDialog.h"
#include "CSequenceEngine.h"
#include "CommandTable.h"
#include "ImageBuffer.h"
#include "ImageProgress.h"
#include "LevelMapper.h"
#include "SequenceHost.h"
#include "SuiviController.h"
#include "ViewCommands.h"
#include "WindowTimers.h"

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>

#include <memory>
#include <optional>
#include <vector>

class CCamera;
class CCumul;
class CFocusPanel;
class CInfoPanel;
class CMainFrame;
class CStatsPanel;
class CVisuPanel;
class CZermicDoc;
class ImageBuffer;
class QPainter;
class QPrinter;

// The scrolling view of the main window: every camera, loop, panel and guiding
// command, the acquisition loop on window timer 1, and the painting of the
// document's image with its overlays.
class CZermicView : public QAbstractScrollArea, public SequenceHost {
    Q_OBJECT
public:
    CZermicView(CMainFrame* frame, CommandTable& commands, CCamera& camera);
    ~CZermicView() override;

    void setDocument(CZermicDoc* doc);
    CZermicDoc* document() const { return doc; }

    // Run after start-up, "Nouveau", an open and every acquisition.
    void onInitialUpdate();
    // An image opened from a file is in the document.
    void onImageOpened() {
        showStackCount(0);
        onNewImage();
    }

    // Camera dialog, information panel, settings upload.
    void getCameraParameters();

    // "Niveaux automatiques": the Visu sliders moved to the positions that
    // show the document's image well.
    void autoLevels();
    // "Auto": whether every new image gets them.
    bool autoLevelsOnNewImage() const { return autoOnNewImage; }

    // The drawing of the image and its overlays, each image pixel scale units
    // wide: the screen's at its zoom factor and every printed page's at 1.
    void onDraw(QPainter& painter, double scale = 1);
    // The display bitmap, made and filled when it is missing or stale; null
    // without an image or when the bitmap cannot be made.
    const QImage* currentDisplayBitmap();
    const QImage& displayBitmap() const { return bitmap; }

    // The marker, in image coordinates.
    QPoint marker() const { return markerPoint; }
    bool markerSet() const { return markerIsSet; }

    ViewState state() const { return loop; }
    // Whether a command may run now (the view's enabling rules).
    bool commandAllowed(int id) const { return viewCommandAllowed(id, loop); }
    // True while an image is being taken: the window's close then waits for it.
    bool deferClose();
    // Size of the scrolled area: the image, or 512 x 512 without one.
    QSize contentsSize() const { return contents; }
    // The scroll bars' values, in device pixels of the picture at its zoom
    // factor (image pixels at 1).
    QPoint scrollPosition() const;
    // Device pixels per image pixel on the screen.
    double zoomFactor() const { return zoom; }
    // The image pixel under a position in the viewport's (logical) coordinates.
    QPoint imagePoint(QPointF viewportPosition) const;

    CInfoPanel* infoPanel() const { return info.get(); }
    CVisuPanel* visuPanel() const { return visu.get(); }
    CStatsPanel* statsPanel() const { return stats.get(); }
    CFocusPanel* focusPanel() const { return focus.get(); }
    CSuiviController& guiding() { return suivi; }
    CSequenceEngine& sequenceEngine() { return sequence; }
    CCumul* accumulator() const { return cumul.get(); }

    // The loop's commands.
    // Start or continue; false when no image was taken (start refused).
    bool startOrContinueLoop();
    void pauseLoop();
    void startGuiding();
    void startCumul();

    // SequenceHost: what the sequence engine asks of the view.
    void setSequenceTimer(int milliseconds) override;
    void killSequenceTimer() override;
    bool guidingActive() const override { return loop.guidingActive; }
    double guidingCadenceSeconds() override;
    CSeqPrmDialog& sequenceDialog() override { return seqDialog; }
    ImageBuffer* documentImage() override;
    CCamera& camera() override { return cam; }
    void showSize(int width, int height, float exposureSeconds) override;
    void showCount(int n) override;
    void showProgress(int n, int total) override;
    SaveResult saveDocument(const QString& path, std::optional<AcqExposure> exposure) override;
    void stopLoop() override;
    QWidget* messageOwner() override;
    void showStatus(const QString& text) override;

    // The loop's timer message (identifier 1).
    void onTimer(int id);

    // Printing: the printer set-up shared by print and preview.
    void printerSetup();
    void print(bool withDialog);
    void printPreview();

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    bool viewportEvent(QEvent* e) override;

private:
    void setHandlers();
    // Run once a new image is in the document (acquired, summed, opened).
    void onNewImage();
    void onAcquire();
    void onToggleInfo();
    // One image from the camera into the document, whose image stays shown
    // until the new one is in; result is acquerir's. False (the user told, the
    // document untouched) when the window does not fit the sensor or there is
    // no memory for it.
    bool takeImage(int& result);
    void setImageUnderWay(bool on);
    // Pause and stop asked for while an image is taken run once it is in.
    bool deferWhileImage(int id);
    // The port that would not open, in the status bar.
    void reportPortFailure();
    void onSerialPortDialog();
    // Acquisition time of an image just read.
    std::int32_t imageTime() const;
    // One loop step: exposure, image, display, count.
    void acquireOne();
    // Whether the image has the accumulator's size (an accumulator must exist).
    bool sameSizeAsSum(const ImageBuffer& image) const;
    // Images in the stack the document shows, 0 for a single image.
    void showStackCount(int images);
    void createPanels();
    int& bitmapChangedFlag();
    int& pixelsChangedFlag();
    void updateScrollBars();
    // Device pixels per logical pixel of the viewport.
    double pixelRatio() const;
    void createDisplayBitmap();
    void renderIfChanged();
    int displayMode() const;
    void frameRect(QPainter& p, int left, int top, int right, int bottom, const QColor& c,
                   double scale) const;
    // The zoom factor, keeping the image point under anchor (viewport
    // coordinates) where it is.
    void setZoom(double factor, QPointF anchor);
    void zoomAtCentre(double factor);
    // The factor that shows the whole image; kept while the window or the
    // image changes size, until another factor is chosen.
    void fitToWindow();
    // The status bar's position and value of the pixel under the mouse.
    void showPixelUnderCursor();

    CMainFrame* frame;
    CommandTable& table;
    CCamera& cam;
    CZermicDoc* doc = nullptr;

    QPoint markerPoint;
    bool markerIsSet = false;
    // Destroyed after the panels, in the reverse order: sequence dialog,
    // sequence engine (closing its file), guiding controller.
    CSuiviController suivi;
    std::unique_ptr<CVisuPanel> visu;
    std::unique_ptr<CStatsPanel> stats;
    CSequenceEngine sequence{this};
    CSeqPrmDialog seqDialog;
    std::unique_ptr<CInfoPanel> info;
    std::unique_ptr<CFocusPanel> focus;
    ViewState loop;
    std::unique_ptr<CCumul> cumul;
    bool stepRunning = false;
    // A tick fell due while the loop's first step ran from a command.
    bool lateTick = false;
    ImageProgress progress;
    // The array the camera writes into; it becomes the document's when the
    // image is in, and the document's old one becomes this.
    ImageBuffer incoming;
    std::vector<int> deferred;
    bool closeDeferred = false;
    // The driver's errors go to the error stream: the window is closing.
    bool driverBoxesOff = false;
    bool autoOnNewImage = false;
    // The step's image was read whole and the accumulator has not had it yet.
    bool imageAwaitingAdd = false;
    WindowTimers timers;

    QSize contents{512, 512};
    // The pixel ratio the scroll bars were set for.
    double scrollRatio = 1;
    QImage bitmap;
    // The bitmap's pixel memory, which the mapping writes.
    std::uint8_t* bitmapBits = nullptr;
    // The display's flags while no brightness/contrast panel holds them.
    int ownBitmapChanged = 0;
    int ownPixelsChanged = 0;
    LevelMapper mapper;
    std::unique_ptr<QPrinter> printer;
    double zoom = 1;
    bool fitting = false;
    // The bitmap shrunk for a factor below 1, and the bitmap it was made from.
    QImage shrunk;
    qint64 shrunkFrom = 0;
    // Wheel turns short of a notch, kept for the next event (fine wheels).
    int wheelRest = 0;
    // Where the mouse is over the viewport, while it is.
    std::optional<QPointF> cursorAt;
};
