#pragma once

#include "CommandTable.h"
#include "WindowPlacement.h"

#include <QMainWindow>
#include <QStringList>

class CCamera;
class CZermicView;
class QLabel;
class QMenu;
class QToolBar;

// The main window: menus, toolbar, keys, the two-pane status bar, and the
// acquisition view in the middle.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(CCamera& camera);
    ~CMainFrame() override;

    CommandTable& commands() { return table; }
    CZermicView* view() const { return zview; }

    // Pane 1: the image size text; shown at once.
    void setStatusText(const QString& text);
    QString statusText() const;
    // Pane 0: the prompt or "Prêt".
    QString promptText() const;
    // A line in pane 0 that stays until the next such line (empty: "Prêt"
    // again); menu and toolbar prompts show over it and give it back.
    void showPrompt(const QString& text);
    // A passing line over the standing one (the progress of an image under
    // way); empty gives the standing line back.
    void showPassingPrompt(const QString& text);

    // The view's zoom factor, and the position and value of the pixel under
    // the mouse (empty while it is off the image).
    void showZoom(const QString& text);
    void showPixel(const QString& text);
    QString zoomText() const;
    QString pixelText() const;

    // Shows the window where it was left at the last run's end.
    void showWhereLeft();

    // The recent files in place of the "Fichier récent" entry.
    void showRecentFiles(const QStringList& paths);

    QToolBar* toolBar() const { return tools; }

    // Called with each file dropped on the window.
    void setDropHandler(std::function<void(const QString&)> handler) {
        dropHandler = std::move(handler);
    }

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void defineCommands();
    void buildMenus();
    void buildToolBar();
    void buildStatusBar();

    CommandTable table;
    CZermicView* zview = nullptr;
    QToolBar* tools = nullptr;
    QLabel* pane0 = nullptr;
    QLabel* pane1 = nullptr;
    QLabel* zoomPane = nullptr;
    QLabel* pixelPane = nullptr;
    WindowPlacement placement{QStringLiteral("CMainFrame")};
    QString standingPrompt; // what pane 0 shows without a highlighted command
    QStringList recent;
    std::function<void(const QString&)> dropHandler;
};
