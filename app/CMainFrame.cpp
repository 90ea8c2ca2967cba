#include "CMainFrame.h"

#include "CZermicView.h"
#include "CommandIds.h"
#include "NightVision.h"
#include "SettingsStore.h"
#include "ToolbarIcons.h"
#include "Toolkit.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>

namespace {

const QString kIdle = QStringLiteral("Prêt");
// Where night vision is kept between runs.
constexpr const char* kDisplaySection = "VisuPrm";
constexpr const char* kNightVisionKey = "vision_nuit";

struct CommandText {
    int id;
    const char* text;
    const char* prompt; // status prompt, then the tooltip after "\n"
    std::initializer_list<QKeySequence> keys;
};

QKeySequence ctrl(Qt::Key k) {
    return QKeySequence(Qt::CTRL | k);
}

} // namespace

CMainFrame::CMainFrame(CCamera& camera) : table(this) {
    setObjectName(QStringLiteral("CMainFrame"));
    setWindowIcon(mainIcon());
    setAcceptDrops(true);
    defineCommands();
    buildMenus();
    buildToolBar();
    buildStatusBar();
    table.setHandler(cmd::AppExit, [this] { close(); });
    table.setHandler(cmd::ViewToolbar, [this] { tools->setVisible(tools->isHidden()); });
    table.setCheckRule(cmd::ViewToolbar, [this] { return !tools->isHidden(); });
    table.setHandler(cmd::ViewStatusBar,
                     [this] { statusBar()->setVisible(statusBar()->isHidden()); });
    table.setCheckRule(cmd::ViewStatusBar, [this] { return !statusBar()->isHidden(); });
    setNightVision(SettingsStore::getInt(kDisplaySection, kNightVisionKey, 0) != 0);
    table.setHandler(cmd::NightVision, [] {
        setNightVision(!nightVision());
        SettingsStore::writeInt(kDisplaySection, kNightVisionKey, nightVision() ? 1 : 0);
    });
    table.setCheckRule(cmd::NightVision, [] { return nightVision(); });
    zview = new CZermicView(this, table, camera);
    setCentralWidget(zview);
    resize(800, 600);
}

CMainFrame::~CMainFrame() {
    placement.save(this, true);
}

void CMainFrame::showWhereLeft() {
    placement.restore(this);
    placement.markSeen();
    if (placement.maximised())
        showMaximized();
    else
        show();
}

void CMainFrame::defineCommands() {
    const CommandText texts[] = {
        {cmd::FileNew, "&Nouveau\tCtrl+N", "Crée un nouveau document\nNouveau", {ctrl(Qt::Key_N)}},
        {cmd::FileOpen,
         "&Ouvrir...\tCtrl+O",
         "Ouvre un document existant\nOuvrir",
         {ctrl(Qt::Key_O)}},
        {cmd::FileSave,
         "&Enregistrer\tCtrl+S",
         "Enregistre le document actif\nEnregistrer",
         {ctrl(Qt::Key_S)}},
        {cmd::FileSaveAs,
         "En&registrer sous...",
         "Enregistre le document actif sous un nouveau nom\nEnregistrer sous",
         {}},
        {cmd::FullFitsHeaders,
         "En-têtes FITS complets",
         "Ajoute aux fichiers FITS la date, la pose, le binning et la caméra lisibles par les "
         "autres logiciels\nEn-têtes FITS complets",
         {}},
        {cmd::FilePrint,
         "&Imprimer...\tCtrl+P",
         "Imprime le document actif\nImprimer",
         {ctrl(Qt::Key_P)}},
        {cmd::FilePrintDirect, "Imprimer", "Imprime le document actif\nImprimer", {}},
        {cmd::FilePrintPreview,
         "Aperçu a&vant impression",
         "Affiche des pages entières\nAperçu avant impression",
         {}},
        {cmd::FilePrintSetup,
         "C&onfiguration de l'impression...",
         "Change les options d'imprimante et d'impression\nConfiguration de l'impression",
         {}},
        {cmd::AppExit,
         "&Quitter",
         "Ferme l'application ; propose d'enregistrer les documents\nQuitter",
         {}},
        {cmd::EditUndo,
         "&Annuler\tCtrl+Z",
         "Annule la dernière action\nAnnuler",
         {ctrl(Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)}},
        {cmd::EditCut,
         "&Couper\tCtrl+X",
         "Supprime la sélection et la place dans le Presse-papiers\nCopier",
         {ctrl(Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)}},
        {cmd::EditCopy,
         "&Copier\tCtrl+C",
         "Copie la sélection et la place dans le Presse-papiers\nCopier",
         {ctrl(Qt::Key_C), ctrl(Qt::Key_Insert)}},
        {cmd::EditPaste,
         "C&oller\tCtrl+V",
         "Insère le contenu du Presse-papiers\nColler",
         {ctrl(Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)}},
        {cmd::ViewToolbar,
         "&Barre d'outils",
         "Affiche ou masque la barre d'outils\nBarre d'outils",
         {}},
        {cmd::ViewStatusBar,
         "Barre d'é&tat",
         "Affiche ou masque la barre d'état\nBarre d'état",
         {}},
        {cmd::NextPane,
         "Volet suivant",
         "Passe au volet de fenêtre suivant\nVolet suivant",
         {QKeySequence(Qt::Key_F6)}},
        {cmd::PrevPane,
         "Volet précédent",
         "Revient au volet précédent\nVolet précédent",
         {QKeySequence(Qt::SHIFT | Qt::Key_F6)}},
        {cmd::AppAbout, "&A propos de Zermic...", "\nA propos de", {}},
        {cmd::InitCamera,
         "Init Camera (Ctrl+i)",
         "Initialisation de la caméra\nInitialisation",
         {ctrl(Qt::Key_I)}},
        {cmd::SerialPortDialog,
         "Port série...",
         "Choix du périphérique série de la caméra\nPort série",
         {}},
        {cmd::CameraParams,
         "Param Caméra (Ctrl+B)",
         "Réglage des paramètres d'acquisition\nRéglage caméra",
         {ctrl(Qt::Key_B)}},
        {cmd::SequenceParams,
         "Param Sequence (Ctrl+Q)",
         "Configuration des séquences\nRéglage séquence",
         {ctrl(Qt::Key_Q)}},
        {cmd::AcquireOne,
         "Acquerir (Ctrl+A)",
         "Acquerir une nouvelle image\nAcquerir",
         {ctrl(Qt::Key_A)}},
        {cmd::LoopStart,
         "Démarrer séquence (F10)",
         "Acquisition en boucle\nDémarrer/continuer",
         {QKeySequence(Qt::Key_F10)}},
        {cmd::LoopPause,
         "Pause Séquence (F11)",
         "Mettre en pause la boucle\nPause séquence",
         {QKeySequence(Qt::Key_F11)}},
        {cmd::LoopStop,
         "Stop Séquence (F12)",
         "Arreter boucle d'acquisition\nStop séquence",
         {QKeySequence(Qt::Key_F12)}},
        {cmd::StartCumul, "Demarrer Cumul (Ctrl+F10)", "", {ctrl(Qt::Key_F10)}},
        {cmd::ShowVisu, "Lum/Contraste", "Réglage de la luminosité et du contraste", {}},
        {cmd::ShowStats, "Statistiques", "Affichage des statistiques", {}},
        {cmd::ShowInfo,
         "Info acquisition",
         "Affichage des informations d'acquisition, de sequence et de caméra",
         {}},
        {cmd::ShowGuiding, "Suivi", "Contrôle du suivi", {}},
        {cmd::ShowGuideGraph, "Graphe suivi", "Graphe des erreurs de suivi", {}},
        {cmd::ShowFocus,
         "Mise au point",
         "Diamètre à mi-flux et largeur à mi-hauteur d'une étoile\nMise au point",
         {}},
        {cmd::AutoLevels,
         "Niveaux automatiques",
         "Règle la luminosité et le contraste sur l'image\nNiveaux automatiques",
         {ctrl(Qt::Key_L)}},
        {cmd::AutoLevelsOnNewImage,
         "Auto",
         "Niveaux automatiques à chaque nouvelle image\nAuto",
         {}},
        {cmd::ZoomIn,
         "Zoom avant\tCtrl++",
         "Agrandit l'image\nZoom avant",
         {ctrl(Qt::Key_Plus), ctrl(Qt::Key_Equal)}},
        {cmd::ZoomOut,
         "Zoom arrière\tCtrl+-",
         "Réduit l'image\nZoom arrière",
         {ctrl(Qt::Key_Minus)}},
        {cmd::ZoomActualSize,
         "Taille réelle\tCtrl+0",
         "Un pixel de l'écran par pixel de l'image\nTaille réelle",
         {ctrl(Qt::Key_0)}},
        {cmd::ZoomFit,
         "Ajuster à la fenêtre",
         "Montre toute l'image dans la fenêtre\nAjuster à la fenêtre",
         {}},
        {cmd::NightVision,
         "Vision de nuit",
         "Affiche tout en rouge sur noir pour garder les yeux adaptés à la nuit\nVision de nuit",
         {}},
        {cmd::GuidingParams, "Paramètres de suivi", "Défiir les paramètres de suivi", {}},
        {cmd::GuidingParamsButton, "Paramètres de suivi", "", {}},
    };
    for (const CommandText& t : texts) {
        const QString all = QString::fromUtf8(t.prompt);
        const qsizetype nl = all.indexOf(QLatin1Char('\n'));
        const QString prompt = nl < 0 ? all : all.left(nl);
        const QString tip = nl < 0 ? QString() : all.mid(nl + 1);
        table.define(t.id, QString::fromUtf8(t.text), prompt, tip, QList<QKeySequence>(t.keys));
    }
    for (int i = 0; i < kRecentFileCount; ++i)
        table.define(cmd::FileMru1 + i, QStringLiteral("Fichier récent"),
                     QStringLiteral("Ouvre ce document"));
}

void CMainFrame::buildMenus() {
    auto add = [this](QMenu* m, std::initializer_list<int> ids) {
        for (int id : ids) {
            if (id == 0)
                m->addSeparator();
            else
                m->addAction(table.action(id));
        }
        table.watchMenu(m);
    };
    QMenu* file = menuBar()->addMenu(QStringLiteral("&Fichier"));
    file->setObjectName(QStringLiteral("menuFichier"));
    add(file, {cmd::FileNew, cmd::FileOpen, cmd::FileSave, cmd::FileSaveAs, cmd::FullFitsHeaders, 0,
               cmd::FilePrint, cmd::FilePrintPreview, cmd::FilePrintSetup, 0});
    for (int i = 0; i < kRecentFileCount; ++i)
        file->addAction(table.action(cmd::FileMru1 + i));
    add(file, {0, cmd::AppExit});
    add(menuBar()->addMenu(QStringLiteral("&Edition")),
        {cmd::EditUndo, 0, cmd::EditCut, cmd::EditCopy, cmd::EditPaste});
    add(menuBar()->addMenu(QStringLiteral("&Affichage")),
        {cmd::ViewToolbar, cmd::ViewStatusBar, 0, cmd::ShowVisu, cmd::AutoLevels,
         cmd::AutoLevelsOnNewImage, cmd::ShowStats, cmd::ShowInfo, cmd::ShowGuiding,
         cmd::ShowGuideGraph, cmd::ShowFocus, 0, cmd::ZoomIn, cmd::ZoomOut, cmd::ZoomActualSize,
         cmd::ZoomFit, 0, cmd::NightVision});
    add(menuBar()->addMenu(QStringLiteral("Camera")),
        {cmd::InitCamera, cmd::SerialPortDialog, 0, cmd::CameraParams, cmd::SequenceParams,
         cmd::AcquireOne, cmd::LoopStart, cmd::LoopPause, cmd::LoopStop, cmd::StartCumul});
    add(menuBar()->addMenu(QStringLiteral("&?")), {cmd::AppAbout});
    showRecentFiles({});
}

void CMainFrame::showRecentFiles(const QStringList& paths) {
    recent = paths;
    for (int i = 0; i < kRecentFileCount; ++i) {
        QAction* a = table.action(cmd::FileMru1 + i);
        if (i < paths.size()) {
            QString shown = paths[i];
            shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
            a->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(shown));
            a->setVisible(true);
        } else {
            // The first entry stays as the greyed place-holder of an empty list.
            a->setText(QStringLiteral("Fichier récent"));
            a->setVisible(i == 0 && paths.isEmpty());
        }
    }
    table.updateUI();
}

void CMainFrame::buildToolBar() {
    tools = addToolBar(QStringLiteral("Standard"));
    tools->setObjectName(QStringLiteral("toolbar128"));
    tools->setIconSize(QSize(kToolbarButtonWidth, kToolbarButtonHeight));
    tools->setAllowedAreas(Qt::AllToolBarAreas);
    const std::initializer_list<int> buttons = {cmd::FileNew,
                                                cmd::FileOpen,
                                                cmd::FileSave,
                                                0,
                                                cmd::EditCut,
                                                cmd::EditCopy,
                                                cmd::EditPaste,
                                                0,
                                                cmd::CameraParams,
                                                cmd::AcquireOne,
                                                0,
                                                cmd::SequenceParams,
                                                cmd::LoopStart,
                                                cmd::LoopPause,
                                                cmd::LoopStop,
                                                0,
                                                cmd::ShowGuiding,
                                                cmd::GuidingParamsButton,
                                                0,
                                                cmd::FilePrint,
                                                cmd::AppAbout};
    for (int id : buttons) {
        if (id == 0) {
            tools->addSeparator();
            continue;
        }
        QAction* a = table.action(id);
        a->setIcon(toolbarIcon(id));
        tools->addAction(a);
    }
    // Menu entries stay text-only, as the toolbar pictures are the buttons'.
    for (QAction* a : tools->actions())
        a->setIconVisibleInMenu(false);
}

void CMainFrame::buildStatusBar() {
    QStatusBar* bar = statusBar();
    standingPrompt = kIdle;
    pane0 = new QLabel(kIdle, bar);
    pane0->setObjectName(QStringLiteral("pane0"));
    pane1 = new QLabel(bar);
    pane1->setObjectName(QStringLiteral("pane1"));
    pane1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pane1->setFixedWidth(24 * averageCharWidth(bar->font()));
    bar->addWidget(pane0, 1);
    bar->addPermanentWidget(pane1);
    // Left of the size: the pixel under the mouse, then the zoom factor.
    pixelPane = new QLabel(bar);
    pixelPane->setObjectName(QStringLiteral("panePixel"));
    pixelPane->setMinimumWidth(26 * averageCharWidth(bar->font()));
    zoomPane = new QLabel(bar);
    zoomPane->setObjectName(QStringLiteral("paneZoom"));
    zoomPane->setMinimumWidth(11 * averageCharWidth(bar->font()));
    bar->insertPermanentWidget(1, pixelPane);
    bar->insertPermanentWidget(2, zoomPane);
}

void CMainFrame::showZoom(const QString& text) {
    zoomPane->setText(text);
}

void CMainFrame::showPixel(const QString& text) {
    pixelPane->setText(text);
}

QString CMainFrame::zoomText() const {
    return zoomPane->text();
}

QString CMainFrame::pixelText() const {
    return pixelPane->text();
}

void CMainFrame::setStatusText(const QString& text) {
    pane1->setText(text);
    pane1->repaint();
}

QString CMainFrame::statusText() const {
    return pane1->text();
}

QString CMainFrame::promptText() const {
    return pane0->text();
}

void CMainFrame::showPrompt(const QString& text) {
    standingPrompt = text.isEmpty() ? kIdle : text;
    pane0->setText(standingPrompt);
    pane0->repaint();
}

void CMainFrame::showPassingPrompt(const QString& text) {
    pane0->setText(text.isEmpty() ? standingPrompt : text);
    pane0->repaint();
}

bool CMainFrame::event(QEvent* e) {
    if (e->type() == QEvent::StatusTip) {
        // Prompts go to our own pane 0 instead of the bar's temporary message,
        // which would hide it.
        const QString tip = static_cast<QStatusTipEvent*>(e)->tip();
        pane0->setText(tip.isEmpty() ? standingPrompt : tip);
        return true;
    }
    return QMainWindow::event(e);
}

void CMainFrame::closeEvent(QCloseEvent* e) {
    // Closing in the middle of an image would lose it: the window closes once
    // the image is in.
    if (zview && zview->deferClose()) {
        e->ignore();
        return;
    }
    QMainWindow::closeEvent(e);
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls())
        e->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* e) {
    activateWindow();
    const QList<QUrl> urls = e->mimeData()->urls();
    for (const QUrl& u : urls)
        if (u.isLocalFile() && dropHandler)
            dropHandler(u.toLocalFile());
    e->acceptProposedAction();
}
