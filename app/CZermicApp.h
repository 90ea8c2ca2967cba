#pragma once

#include "CCamera.h"
#include "RecentFileList.h"

#include <QStringList>

#include <memory>

class CMainFrame;
class CZermicDoc;
class CZermicView;

// The application object: the one camera of the run, the document, its main
// window and view, the recent-file list and the framework's file commands.
// One static instance (theApp) lives for the whole process; the camera is its
// first member so that it goes last, after everything that uses it.
class CZermicApp {
public:
    CCamera camera;

    CZermicApp();
    ~CZermicApp();
    CZermicApp(const CZermicApp&) = delete;
    CZermicApp& operator=(const CZermicApp&) = delete;

    // Start-up with the command line's arguments (program name excluded):
    // settings, recent files, document with its window and view, the file to
    // open if any, main window shown. False when the program must end.
    bool initInstance(const QStringList& arguments);
    // Closes the window (view, then panels) and frees the document; the
    // recent-file list is already in the store. Safe to call twice.
    void exitInstance();

    CMainFrame* mainFrame() const { return frame; }
    CZermicView* view() const;
    CZermicDoc* document() const { return doc.get(); }
    const RecentFileList& recentFiles() const { return recent; }

    // The framework's commands.
    void onFileNew();
    void onFileOpen();
    bool openDocumentFile(const QString& path);
    void onFileSave();
    void onFileSaveAs();
    void onOpenRecent(int index);
    void onAppAbout();

private:
    bool saveDocumentAs(const QString& path);
    void updateTitle();
    void setHandlers();

    std::unique_ptr<CZermicDoc> doc;
    CMainFrame* frame = nullptr;
    RecentFileList recent{4};
};

extern CZermicApp theApp;
