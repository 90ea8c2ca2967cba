#include "CZermicApp.h"

#include "CAboutDialog.h"
#include "CMainFrame.h"
#include "CZermicDoc.h"
#include "CZermicView.h"
#include "CommandIds.h"
#include "ImageFileReader.h"
#include "ImageSave.h"
#include "SettingsStore.h"
#include "Toolkit.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

CZermicApp theApp;

namespace {
const QString kTitle = QStringLiteral("Zermic");
const QString kFilter = QStringLiteral("Fichiers image (*.fit)");
// Opening offers every file the reader takes, the program's own first.
const QString kOpenFilter = QStringLiteral("Fichiers image (*.fit);;Fichiers FITS (*.fits);;"
                                           "Fichiers EIP (*.eip);;Fichiers IMG (*.img);;"
                                           "Tous les fichiers (*)");

// Saves write FITS: under an EIP or IMG name they would destroy the original
// and leave a file no reader accepts.
bool namesOtherFormat(const QString& path) {
    const ImageFileFormat f = imageFileFormatForPath(QFile::encodeName(path).toStdString());
    return f == ImageFileFormat::Eip || f == ImageFileFormat::Img;
}
// The toolkit's own texts (file dialogs, standard buttons, context menus) in
// French like the rest of the program, whatever the desktop's language. Once
// per process; without the translations installed they stay in English.
void installToolkitTranslations() {
    static QTranslator* translator = nullptr;
    if (translator)
        return;
    translator = new QTranslator(qApp);
    if (translator->load(QLocale(QLocale::French), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
}

} // namespace

CZermicApp::CZermicApp() = default;

CZermicApp::~CZermicApp() {
    exitInstance();
}

CZermicView* CZermicApp::view() const {
    return frame ? frame->view() : nullptr;
}

bool CZermicApp::initInstance(const QStringList& arguments) {
    SettingsStore::setRoot(QStringLiteral("VKL_Zermic"), kTitle);
    QCoreApplication::setOrganizationName(QStringLiteral("VKL_Zermic"));
    // The name only: a display name would be appended by the toolkit to every
    // window title on some desktops ("Visu — Zermic").
    QCoreApplication::setApplicationName(kTitle);
    QGuiApplication::setDesktopFileName(QStringLiteral("zermic"));
    installToolkitTranslations();

    recent.load();

    doc = std::make_unique<CZermicDoc>();
    frame = new CMainFrame(camera);
    frame->setAttribute(Qt::WA_DeleteOnClose, false);
    view()->setDocument(doc.get());
    setHandlers();
    frame->showRecentFiles(recent.entries());
    frame->setDropHandler([this](const QString& path) {
        // Not while an image is being taken into the document.
        if (view()->commandAllowed(cmd::FileOpen))
            openDocumentFile(path);
    });

    // Only the first argument names a document: the program holds one. The
    // window is on the screen before that file is read, so that a refusal's
    // message stands in front of the program rather than alone.
    const QString file = arguments.isEmpty() ? QString() : arguments.first();
    onFileNew();
    frame->showWhereLeft();
    frame->activateWindow();
    frame->repaint();
    return file.isEmpty() || openDocumentFile(file);
}

void CZermicApp::exitInstance() {
    // The window goes first (it holds the view, whose panels and timers read
    // the document), then the document.
    delete frame;
    frame = nullptr;
    doc.reset();
}

void CZermicApp::setHandlers() {
    CommandTable& t = frame->commands();
    t.setHandler(cmd::FileNew, [this] { onFileNew(); });
    t.setHandler(cmd::FileOpen, [this] { onFileOpen(); });
    t.setHandler(cmd::FileSave, [this] { onFileSave(); });
    t.setHandler(cmd::FileSaveAs, [this] { onFileSaveAs(); });
    t.setHandler(cmd::FilePrintSetup, [this] { view()->printerSetup(); });
    t.setHandler(cmd::FullFitsHeaders, [] { setFullFitsHeaders(!fullFitsHeaders()); });
    t.setCheckRule(cmd::FullFitsHeaders, [] { return fullFitsHeaders(); });
    t.setHandler(cmd::AppAbout, [this] { onAppAbout(); });
    for (int i = 0; i < kRecentFileCount; ++i) {
        t.setHandler(cmd::FileMru1 + i, [this, i] { onOpenRecent(i); });
        t.setEnableRule(cmd::FileMru1 + i, [this, i] {
            return i < recent.entries().size() && view()->commandAllowed(cmd::FileMru1 + i);
        });
    }
}

void CZermicApp::updateTitle() {
    frame->setWindowTitle(doc->title() + QStringLiteral(" - ") + kTitle);
}

void CZermicApp::onFileNew() {
    doc->onNewDocument();
    updateTitle();
    view()->onInitialUpdate();
}

void CZermicApp::onFileOpen() {
    FileDialogOptions o;
    o.defaultExtension = QStringLiteral("fit");
    o.filter = kOpenFilter;
    o.mustExist = true;
    const QString path = fileOpenDialog(frame, QStringLiteral("Ouvrir"), o);
    if (!path.isEmpty())
        openDocumentFile(path);
}

bool CZermicApp::openDocumentFile(const QString& path) {
    if (!doc->onOpenDocument(path))
        return false;
    recent.add(doc->pathName());
    frame->showRecentFiles(recent.entries());
    updateTitle();
    view()->onInitialUpdate();
    view()->onImageOpened();
    return true;
}

void CZermicApp::onOpenRecent(int index) {
    if (index >= recent.entries().size())
        return;
    const QString path = recent.entries()[index];
    if (!openDocumentFile(path) && !QFileInfo::exists(path)) {
        // A file that has gone away leaves the list.
        recent.remove(index);
        frame->showRecentFiles(recent.entries());
    }
}

bool CZermicApp::saveDocumentAs(const QString& path) {
    if (!doc->onSaveDocument(path))
        return false;
    doc->setPathName(path);
    recent.add(doc->pathName());
    frame->showRecentFiles(recent.entries());
    updateTitle();
    return true;
}

void CZermicApp::onFileSave() {
    if (doc->pathName().isEmpty() || namesOtherFormat(doc->pathName())) {
        onFileSaveAs();
        return;
    }
    saveDocumentAs(doc->pathName());
}

void CZermicApp::onFileSaveAs() {
    FileDialogOptions o;
    o.defaultExtension = QStringLiteral("fit");
    o.filter = kFilter;
    o.overwritePrompt = true;
    const QString path = doc->pathName();
    if (path.isEmpty())
        o.initialName = doc->title() + QStringLiteral(".fit");
    else if (namesOtherFormat(path))
        o.initialName = QFileInfo(path).path() + QLatin1Char('/') +
                        QFileInfo(path).completeBaseName() + QStringLiteral(".fit");
    else
        o.initialName = path;
    const QString chosen = fileSaveDialog(frame, QStringLiteral("Enregistrer sous"), o);
    if (!chosen.isEmpty())
        saveDocumentAs(chosen);
}

void CZermicApp::onAppAbout() {
    CAboutDialog about(frame);
    about.doModal();
}
