#pragma once

#include "CommandTable.h"
#include "LevelMapper.h"
#include "ViewCommands.h"
#include "WindowTimers.h"

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>

#include <memory>

class CCamera;
class CCumul;
class CInfoPanel;
class CMainFrame;
class CZermicDoc;
class ImageBuffer;
class QPainter;
class QPrinter;

// The scrolling view of the main window: every camera, loop, panel and guiding
// command, the acquisition loop on window timer 1, and the painting of the
// document's image with its overlays.
class CZermicView : public QAbstractScrollArea {
    Q_OBJECT
public:
    CZermicView(CMainFrame* frame, CommandTable& commands, CCamera& camera);
    ~CZermicView() override;

    void setDocument(CZermicDoc* doc);
    CZermicDoc* document() const { return doc; }

    // Run after start-up, "Nouveau", an open and every acquisition.
    void onInitialUpdate();

    // Camera dialog, information panel, settings upload.
    void getCameraParameters();

    // The drawing of the image and its overlays in image coordinates: the
    // screen's and every printed page's.
    void onDraw(QPainter& painter);
    // The display bitmap, made and filled when it is missing or stale; null
    // without an image or when the bitmap cannot be made.
    const QImage* currentDisplayBitmap();
    const QImage& displayBitmap() const { return bitmap; }

    // The marker, in image coordinates.
    QPoint marker() const { return markerPoint; }
    bool markerSet() const { return markerIsSet; }

    ViewState state() const { return loop; }
    // Size of the scrolled area: the image, or 512 x 512 without one.
    QSize contentsSize() const { return contents; }
    QPoint scrollPosition() const;

    CInfoPanel* infoPanel() const { return info.get(); }

    // Printing: the printer set-up shared by print and preview.
    void printerSetup();
    void print(bool withDialog);
    void printPreview();

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void setHandlers();
    void onAcquire();
    void onToggleInfo();
    // The document's image resized to the camera's format; false (and the
    // user told) when there is no memory for it.
    bool resizeToCamera();
    // Acquisition time of an image just read.
    std::int32_t imageTime() const;
    void onTimer(int id);
    void createPanels();
    void updateScrollBars();
    void createDisplayBitmap();
    void renderIfChanged();
    int displayMode() const;
    void frameRect(QPainter& p, int left, int top, int right, int bottom, const QColor& c) const;

    CMainFrame* frame;
    CommandTable& table;
    CCamera& cam;
    CZermicDoc* doc = nullptr;

    QPoint markerPoint;
    bool markerIsSet = false;
    std::unique_ptr<CInfoPanel> info;
    ViewState loop;
    std::unique_ptr<CCumul> cumul;
    bool stepRunning = false;
    WindowTimers timers;

    QSize contents{512, 512};
    QImage bitmap;
    // The display's flags while no brightness/contrast panel holds them.
    int bitmapChanged = 0;
    int pixelsChanged = 0;
    LevelMapper mapper;
    std::unique_ptr<QPrinter> printer;
};
