// The program driven through its real window, actions and dialogs.
#include "AppFixture.h"
#include "CommandIds.h"
#include "SettingsStore.h"
#include "StatsPanel.h"
#include "VisuPanel.h"

#include "common/PtyPair.h"
#include "common/TempDir.h"

#include "Toolkit.h"
#include <QDirIterator>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyleOptionMenuItem>
#include <QToolBar>

#include <map>
#include <unistd.h>

namespace {

// Paths of the devices this process holds open.
QStringList openDevices() {
    QStringList out;
    QDirIterator it(QStringLiteral("/proc/self/fd"),
                    QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString target = QFile::symLinkTarget(it.next());
        if (target.startsWith(QStringLiteral("/dev/pts/")) ||
            target.startsWith(QStringLiteral("/dev/tty")))
            out << target;
    }
    return out;
}

void fillRamp(ImageBuffer& image, int w, int h) {
    ASSERT_EQ(image.resize(w, h), 1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.pixels[y * w + x] = static_cast<unsigned short>(y == 0 ? 65535 : 0);
    image.invalidateStats();
}

// A ramp image saved as a FITS file for the program to open.
void saveRamp(const QString& path, int w, int h) {
    CZermicDoc source;
    fillRamp(source.image, w, h);
    ASSERT_TRUE(source.onSaveDocument(path));
}

} // namespace

TEST_F(AppFixture, StartsUntitledAndEmptyWithoutTouchingTheCamera) {
    PtyPair pty;
    linkPort(2, pty.slavePath());
    const QStringList before = openDevices();
    ASSERT_TRUE(start());

    EXPECT_EQ(frame().objectName(), "CMainFrame");
    EXPECT_TRUE(frame().isVisible());
    EXPECT_EQ(frame().windowTitle(), "Sans titre - Zermic");
    EXPECT_EQ(view().objectName(), "CZermicView");
    EXPECT_EQ(view().contentsSize(), QSize(512, 512));
    EXPECT_EQ(view().horizontalScrollBar()->maximum(),
              std::max(0, 512 - view().viewport()->width()));
    EXPECT_EQ(doc().image.pixels, nullptr);
    EXPECT_TRUE(frame().statusText().isEmpty());
    EXPECT_EQ(frame().promptText(), "Prêt");
    EXPECT_EQ(frame().findChild<QLabel*>("pane1")->width(),
              24 * averageCharWidth(frame().statusBar()->font()));

    ASSERT_NE(view().infoPanel(), nullptr);
    EXPECT_TRUE(view().infoPanel()->isVisible());
    for (int id : {1009, 1011, 1012, 1013, 1014})
        EXPECT_TRUE(infoText(id).isEmpty()) << id;

    EXPECT_EQ(openDevices(), before);
    EXPECT_TRUE(pty.receive(64, 100).empty());
    // Start-up writes nothing, not even an empty settings file.
    EXPECT_FALSE(QFile::exists(SettingsStore::filePath()));
}

TEST_F(AppFixture, MenusKeysPromptsAndToolbar) {
    ASSERT_TRUE(start());
    const struct {
        int id;
        const char* text;
        QKeySequence key;
        const char* prompt;
        const char* tip;
    } commands[] = {
        {cmd::InitCamera, "Init Camera (Ctrl+i)", QKeySequence("Ctrl+I"),
         "Initialisation de la caméra", "Initialisation"},
        {cmd::CameraParams, "Param Caméra (Ctrl+B)", QKeySequence("Ctrl+B"),
         "Réglage des paramètres d'acquisition", "Réglage caméra"},
        {cmd::SequenceParams, "Param Sequence (Ctrl+Q)", QKeySequence("Ctrl+Q"),
         "Configuration des séquences", "Réglage séquence"},
        {cmd::AcquireOne, "Acquerir (Ctrl+A)", QKeySequence("Ctrl+A"),
         "Acquerir une nouvelle image", "Acquerir"},
        {cmd::LoopStart, "Démarrer séquence (F10)", QKeySequence("F10"), "Acquisition en boucle",
         "Démarrer/continuer"},
        {cmd::LoopPause, "Pause Séquence (F11)", QKeySequence("F11"), "Mettre en pause la boucle",
         "Pause séquence"},
        {cmd::LoopStop, "Stop Séquence (F12)", QKeySequence("F12"), "Arreter boucle d'acquisition",
         "Stop séquence"},
        {cmd::StartCumul, "Demarrer Cumul (Ctrl+F10)", QKeySequence("Ctrl+F10"), "", nullptr},
        {cmd::ShowInfo,
         "Info acquisition",
         {},
         "Affichage des informations d'acquisition, de sequence et de caméra",
         nullptr},
        {cmd::FileNew, "&Nouveau", QKeySequence("Ctrl+N"), "Crée un nouveau document", "Nouveau"},
        {cmd::FileSave, "&Enregistrer", QKeySequence("Ctrl+S"), "Enregistre le document actif",
         "Enregistrer"},
        {cmd::EditCut, "&Couper", QKeySequence("Ctrl+X"),
         "Supprime la sélection et la place dans le Presse-papiers", "Copier"},
        {cmd::FullFitsHeaders,
         "En-têtes FITS complets",
         {},
         "Ajoute aux fichiers FITS la date, la pose, le binning et la caméra lisibles par les "
         "autres logiciels",
         "En-têtes FITS complets"},
    };
    for (const auto& c : commands) {
        SCOPED_TRACE(c.id);
        QAction* a = action(c.id);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->objectName(), QStringLiteral("cmd%1").arg(c.id));
        EXPECT_EQ(a->text(), QString::fromUtf8(c.text));
        EXPECT_EQ(frame().commands().keys(c.id).value(0), c.key);
        EXPECT_EQ(a->statusTip(), QString::fromUtf8(c.prompt));
        if (c.tip) {
            EXPECT_EQ(a->toolTip(), QString::fromUtf8(c.tip));
        }
    }
    EXPECT_EQ(frame().commands().keys(cmd::EditCopy),
              QList<QKeySequence>({QKeySequence("Ctrl+C"), QKeySequence("Ctrl+Ins")}));

    // Menus in order, with the recent-file place-holder greyed.
    QStringList titles;
    for (QAction* m : frame().menuBar()->actions())
        titles << m->text();
    EXPECT_EQ(titles, QStringList({"&Fichier", "&Edition", "&Affichage", "Camera", "&?"}));
    QAction* placeholder = action(cmd::FileMru1);
    EXPECT_TRUE(placeholder->isVisible());
    EXPECT_EQ(placeholder->text(), "Fichier récent");
    EXPECT_FALSE(placeholder->isEnabled());

    // Toolbar: 16 buttons of 16 x 15 with separators between the groups.
    QToolBar* bar = frame().toolBar();
    EXPECT_EQ(bar->iconSize(), QSize(16, 15));
    QList<int> layout;
    for (QAction* a : bar->actions())
        layout << (a->isSeparator() ? 0 : a->objectName().mid(3).toInt());
    EXPECT_EQ(layout,
              QList<int>({57600, 57601, 57603, 0,     57635, 57634, 57637, 0, 32778, 32772, 0,
                          32780, 32773, 32782, 32774, 0,     32790, 32789, 0, 57607, 57664}));
    for (QAction* a : bar->actions())
        if (!a->isSeparator()) {
            EXPECT_FALSE(a->icon().isNull()) << a->objectName().toStdString();
        }

    // Commands nothing handles stay disabled; idle camera commands are enabled.
    for (int id : {cmd::EditUndo, cmd::EditCut, cmd::EditCopy, cmd::EditPaste,
                   cmd::GuidingParamsButton, cmd::NextPane, cmd::PrevPane})
        EXPECT_FALSE(action(id)->isEnabled()) << id;
    for (int id : {cmd::InitCamera, cmd::CameraParams, cmd::AcquireOne, cmd::FileNew, cmd::FileOpen,
                   cmd::FilePrint, cmd::AppAbout})
        EXPECT_TRUE(action(id)->isEnabled()) << id;

    // A prompt shows in pane 0 while a command is highlighted, "Prêt" after.
    action(cmd::AcquireOne)->showStatusText(&frame());
    EXPECT_EQ(frame().promptText(), "Acquerir une nouvelle image");
    QStatusTipEvent clear{QString()};
    QApplication::sendEvent(&frame(), &clear);
    EXPECT_EQ(frame().promptText(), "Prêt");

    // A standing line (a sequence's failed saves) comes back after each
    // prompt, until the next such line replaces it.
    for (const QString& standing : {QStringLiteral("Impossible d'écrire x"), QString()}) {
        frame().showPrompt(standing);
        action(cmd::AcquireOne)->showStatusText(&frame());
        EXPECT_EQ(frame().promptText(), "Acquerir une nouvelle image");
        QApplication::sendEvent(&frame(), &clear);
        EXPECT_EQ(frame().promptText(), standing.isEmpty() ? "Prêt" : standing);
    }
}

// The text a menu draws for an item: its own, then the key column after a tab.
QString drawnText(QMenu* menu, QAction* a) {
    // initStyleOption is what QMenu paints from; it is protected, so it is
    // reached through a member pointer taken in a subclass (no downcast).
    struct Peek : QMenu {
        static auto init() { return &Peek::initStyleOption; }
    };
    QStyleOptionMenuItem option;
    (menu->*Peek::init())(&option, a);
    return option.text;
}

TEST_F(AppFixture, MenuItemsShowTheirTextsAndKeysOnceAndTheKeysWork) {
    PtyPair pty;
    linkPort(2, pty.slavePath());
    ASSERT_TRUE(start());
    std::map<QString, QStringList> menus;
    for (QMenu* m : frame().menuBar()->findChildren<QMenu*>())
        for (QAction* a : m->actions())
            if (!a->isSeparator() && a->isVisible())
                menus[m->title()] << drawnText(m, a);
    EXPECT_EQ(menus["Camera"].join("|").toStdString(),
              "Init Camera (Ctrl+i)|Port série...|Param Caméra (Ctrl+B)|Param Sequence (Ctrl+Q)|"
              "Acquerir (Ctrl+A)|Démarrer séquence (F10)|Pause Séquence (F11)|"
              "Stop Séquence (F12)|Demarrer Cumul (Ctrl+F10)");
    EXPECT_EQ(menus["&Edition"].join("|").toStdString(),
              "&Annuler\tCtrl+Z|&Couper\tCtrl+X|&Copier\tCtrl+C|C&oller\tCtrl+V");
    EXPECT_EQ(menus["&Fichier"].mid(0, 5).join("|").toStdString(),
              "&Nouveau\tCtrl+N|&Ouvrir...\tCtrl+O|&Enregistrer\tCtrl+S|En&registrer sous...|"
              "En-têtes FITS complets");

    // Ctrl+B, shown only in the item's own text, still opens the camera dialog.
    QStringList opened;
    ModalWatcher watcher([&](QWidget* w) {
        opened << w->objectName();
        later([w] { press(w, 2); });
        return true;
    });
    frame().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame()));
    QTest::keyClick(&frame(), Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(opened, QStringList({"CAcqPrmDlg"}));
}

TEST_F(AppFixture, DisabledMenuItemsShowTheirPromptsToo) {
    ASSERT_TRUE(start());
    QMenu* edition = nullptr;
    for (QMenu* m : frame().menuBar()->findChildren<QMenu*>())
        if (m->title() == "&Edition")
            edition = m;
    ASSERT_NE(edition, nullptr);
    edition->popup(frame().mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(edition));
    const struct {
        int id;
        const char* prompt;
    } items[] = {
        {cmd::EditCut, "Supprime la sélection et la place dans le Presse-papiers"},
        {cmd::EditUndo, "Annule la dernière action"},
    };
    for (const auto& item : items) {
        QAction* a = action(item.id);
        ASSERT_FALSE(a->isEnabled());
        QTest::mouseMove(edition, edition->actionGeometry(a).center());
        EXPECT_EQ(frame().promptText().toStdString(), item.prompt);
    }
    edition->hide();
}

TEST_F(AppFixture, CameraParametersRunOnceShowTheFormatAndUpload) {
    PtyPair pty;
    linkPort(2, pty.slavePath());
    ASSERT_TRUE(start());
    EXPECT_FALSE(view().state().cameraReady);
    EXPECT_FALSE(action(cmd::LoopStart)->isEnabled());

    // Cancel still uploads the settings the dialog loaded.
    QString seen;
    ModalWatcher watcher([&](QWidget* w) {
        seen = w->objectName();
        later([w] { press(w, 2); });
        return true;
    });
    action(cmd::CameraParams)->trigger();
    EXPECT_EQ(seen, "CAcqPrmDlg");
    EXPECT_TRUE(view().state().cameraReady);
    EXPECT_EQ(infoText(1009), "1280x1024");
    EXPECT_EQ(infoText(1011), "1.00");
    EXPECT_FALSE(pty.receive(4096, 500).empty());
}

TEST_F(AppFixture, InformationPanelCommandTogglesWithItsCheckMark) {
    ASSERT_TRUE(start());
    QAction* a = action(cmd::ShowInfo);
    EXPECT_TRUE(a->isCheckable());
    frame().commands().updateUI();
    EXPECT_TRUE(a->isChecked());
    a->trigger();
    EXPECT_FALSE(view().infoPanel()->isVisible());
    EXPECT_FALSE(a->isChecked());
    a->trigger();
    EXPECT_TRUE(view().infoPanel()->isVisible());
    EXPECT_TRUE(a->isChecked());
    // Closing the panel by its close box hides it; the mark follows.
    view().infoPanel()->window()->close();
    frame().commands().updateUI();
    EXPECT_FALSE(a->isChecked());
}

TEST_F(AppFixture, NewKeepsTheImageAndShowsItsSize) {
    ASSERT_TRUE(start());
    fillRamp(doc().image, 300, 200);
    unsigned short* const pixels = doc().image.pixels;
    action(cmd::FileNew)->trigger();
    EXPECT_EQ(doc().image.pixels, pixels);
    EXPECT_EQ(doc().image.pixels[0], 65535);
    EXPECT_EQ(frame().windowTitle(), "Sans titre - Zermic");
    EXPECT_EQ(frame().statusText(), "300 x 200, 16 bpp");
    EXPECT_EQ(view().contentsSize(), QSize(300, 200));
}

TEST_F(AppFixture, RecentFilesCappedAtFourAndKeptAcrossRuns) {
    TempDir dir;
    ASSERT_TRUE(start());
    fillRamp(doc().image, 8, 8);
    QStringList paths;
    for (int i = 0; i < 6; ++i) {
        paths << QString::fromStdString(dir.file("img" + std::to_string(i) + ".fit"));
        ASSERT_TRUE(doc().onSaveDocument(paths.last()));
    }
    for (const QString& p : paths)
        ASSERT_TRUE(theApp.openDocumentFile(p));
    EXPECT_EQ(frame().windowTitle(), "img5.fit - Zermic");

    auto menuEntries = [this] {
        QStringList out;
        for (int i = 0; i < 4; ++i)
            if (action(cmd::FileMru1 + i)->isVisible())
                out << action(cmd::FileMru1 + i)->text();
        return out;
    };
    const QStringList expected = {"&1 " + paths[5], "&2 " + paths[4], "&3 " + paths[3],
                                  "&4 " + paths[2]};
    EXPECT_EQ(menuEntries(), expected);

    restart();
    EXPECT_EQ(menuEntries(), expected);
    EXPECT_EQ(frame().windowTitle(), "Sans titre - Zermic");
    // An entry opens its file again.
    action(cmd::FileMru1 + 2)->trigger();
    EXPECT_EQ(frame().windowTitle(), "img3.fit - Zermic");
    EXPECT_EQ(action(cmd::FileMru1)->text(), "&1 " + paths[3]);
}

TEST_F(AppFixture, CommandLineOpensTheFileOrEndsTheProgram) {
    TempDir dir;
    const QString path = QString::fromStdString(dir.file("sky.fit"));
    ASSERT_NO_FATAL_FAILURE(saveRamp(path, 40, 30));
    ASSERT_TRUE(start({path}));
    EXPECT_EQ(frame().windowTitle(), "sky.fit - Zermic");
    EXPECT_EQ(view().contentsSize(), QSize(40, 30));
    EXPECT_EQ(frame().statusText(), "40 x 30, 16 bpp");
    theApp.exitInstance();

    // The refusal's message shows in front of the main window.
    bool frameShown = false;
    ModalWatcher watcher([&](QWidget*) {
        frameShown = theApp.mainFrame() && theApp.mainFrame()->isVisible();
        return false;
    });
    EXPECT_FALSE(start({QString::fromStdString(dir.file("missing.fit"))}));
    ASSERT_EQ(watcher.messages().size(), 1u);
    EXPECT_TRUE(watcher.messages()[0].contains("missing.fit"));
    EXPECT_TRUE(frameShown);
}

// The dialog is the toolkit's, in French whatever the desktop's language.
TEST_F(AppFixture, OpenDialogOffersEveryFileTheReaderTakes) {
    ASSERT_TRUE(start());
    QStringList filters;
    QStringList buttons;
    ModalWatcher watcher([&](QWidget* w) {
        if (auto* d = qobject_cast<QFileDialog*>(w)) {
            filters = d->nameFilters();
            for (QPushButton* b : d->findChildren<QPushButton*>())
                buttons << b->text();
            later([d] { d->reject(); });
            return true;
        }
        return false;
    });
    action(cmd::FileOpen)->trigger();
    EXPECT_EQ(filters.join("|").toStdString(),
              "Fichiers image (*.fit)|Fichiers FITS (*.fits)|Fichiers EIP (*.eip)|"
              "Fichiers IMG (*.img)|Tous les fichiers (*)");
    EXPECT_TRUE(buttons.contains("&Ouvrir")) << buttons.join("|").toStdString();
    EXPECT_TRUE(buttons.contains("Annuler")) << buttons.join("|").toStdString();
}

TEST_F(AppFixture, AboutBoxTexts) {
    ASSERT_TRUE(start());
    QString title;
    QStringList labels;
    ModalWatcher watcher([&](QWidget* w) {
        title = w->windowTitle();
        for (QLabel* l : w->findChildren<QLabel*>())
            if (!l->text().isEmpty())
                labels << l->text();
        later([w] { press(w, 1); });
        return true;
    });
    action(cmd::AppAbout)->trigger();
    EXPECT_EQ(title, "A propos de Zermic");
    EXPECT_EQ(labels, QStringList({"Zermic version 3.1.75"}));
}

TEST_F(AppFixture, DisplayBitmapWidthRowsAndReuse) {
    ASSERT_TRUE(start());
    const struct {
        int width;
        int rowBytes;
    } widths[] = {{768, 768}, {770, 772}, {771, 772}, {772, 772}, {1, 4}};
    for (const auto& w : widths) {
        fillRamp(doc().image, w.width, 3);
        view().onInitialUpdate();
        const QImage* b = view().currentDisplayBitmap();
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->width(), w.width);
        EXPECT_EQ(b->bytesPerLine(), w.rowBytes) << w.width;
        EXPECT_EQ(b->height(), 3);
        EXPECT_EQ(b->format(), QImage::Format_Indexed8);
        // Row 0 of the image (white) is the last row in memory; the row's
        // padding stays black.
        EXPECT_EQ(b->constScanLine(2)[0], 255);
        EXPECT_EQ(b->constScanLine(0)[0], 0);
        EXPECT_EQ(b->constScanLine(2)[w.rowBytes - 1], w.rowBytes > w.width ? 0 : 255);
    }

    // A repaint that changes nothing reuses the bitmap and its pixels.
    const uchar* bits = view().currentDisplayBitmap()->constBits();
    doc().image.pixels[0] = 0; // not shown until the next new image
    view().viewport()->repaint();
    EXPECT_EQ(view().currentDisplayBitmap()->constBits(), bits);
    EXPECT_EQ(view().currentDisplayBitmap()->constScanLine(2)[0], 255);
}

TEST_F(AppFixture, MarkerInImageCoordinatesDrawnAndClearedByTheNextImage) {
    ASSERT_TRUE(start());
    frame().resize(400, 300);
    fillRamp(doc().image, 1000, 800);
    view().onInitialUpdate();
    view().horizontalScrollBar()->setValue(30);
    view().verticalScrollBar()->setValue(40);
    QTest::mouseClick(view().viewport(), Qt::LeftButton, {}, QPoint(50, 60));
    EXPECT_TRUE(view().markerSet());
    EXPECT_EQ(view().marker(), QPoint(80, 100));

    // The magenta frame runs from (x - 3, y - 3) to (x + 2, y + 2) on the image.
    const QImage shot = view().viewport()->grab().toImage();
    const QColor magenta(255, 0, 255);
    EXPECT_EQ(shot.pixelColor(50 - 3, 60 - 3), magenta);
    EXPECT_EQ(shot.pixelColor(50 + 2, 60), magenta);
    EXPECT_NE(shot.pixelColor(50 + 3, 60), magenta);
    EXPECT_NE(shot.pixelColor(50, 60), magenta);

    view().onInitialUpdate();
    EXPECT_FALSE(view().markerSet());
}

TEST_F(AppFixture, WindowBeyondTheSensorIsRefusedBeforeAnythingIsAllocated) {
    TempDir dir;
    const QString path = QString::fromStdString(dir.file("sky.fit"));
    ASSERT_NO_FATAL_FAILURE(saveRamp(path, 40, 30));
    ASSERT_TRUE(start({path}));
    const unsigned short* const pixels = doc().image.pixels;
    struct Case {
        int w, h, binning;
    };
    const Case cases[] = {{40000, 40000, 1}, {0, 10, 1},   {-5, 10, 1},
                          {1281, 1024, 1},   {641, 10, 2}, {10, 10, 0}};
    for (const Case& c : cases) {
        SettingsStore::writeInt("AcqPrm", "img_w", c.w);
        SettingsStore::writeInt("AcqPrm", "img_h", c.h);
        SettingsStore::writeInt("AcqPrm", "binning", c.binning);
        {
            // Cancel: the hand-edited window is in force.
            ModalWatcher watcher([](QWidget* w) {
                if (w->objectName() != "CAcqPrmDlg")
                    return false;
                later([w] { press(w, 2); });
                return true;
            });
            action(cmd::CameraParams)->trigger();
        }
        frame().commands().updateUI();
        for (int id : {cmd::AcquireOne, cmd::LoopStart}) {
            ASSERT_TRUE(action(id)->isEnabled()) << id;
            ModalWatcher watcher;
            action(id)->trigger();
            EXPECT_EQ(watcher.messages(), std::vector<QString>{"Taille non valide"})
                << c.w << "x" << c.h << " bin " << c.binning << " command " << id;
            EXPECT_EQ(doc().image.pixels, pixels);
            EXPECT_EQ(doc().image.width, 40);
            EXPECT_EQ(doc().image.height, 30);
            EXPECT_EQ(frame().windowTitle(), "sky.fit - Zermic");
            EXPECT_FALSE(view().state().loopRunning);
            frame().commands().updateUI();
        }
    }
}

// The main window and every panel come back where they were, shown or hidden
// as they were; a place on no screen any more is brought back onto one.
TEST_F(AppFixture, WindowsComeBackWhereTheyWereLeft) {
    ASSERT_TRUE(start());
    frame().move(40, 30);
    frame().resize(640, 480);
    view().visuPanel()->window()->move(300, 200);
    view().statsPanel()->hide();

    restart();
    EXPECT_EQ(frame().pos(), QPoint(40, 30));
    EXPECT_EQ(frame().size(), QSize(640, 480));
    EXPECT_EQ(view().visuPanel()->window()->pos(), QPoint(300, 200));
    EXPECT_TRUE(view().visuPanel()->isVisible());
    EXPECT_FALSE(view().statsPanel()->isVisible());
    EXPECT_TRUE(view().infoPanel()->isVisible());

    // A screen unplugged since: the window comes back onto the one there is.
    theApp.exitInstance();
    for (const char* key : {"CMainFrame_x", "CVisuPanel_x"})
        SettingsStore::writeInt("Fenetres", key, 9000);
    ASSERT_TRUE(start());
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    for (QWidget* w :
         {static_cast<QWidget*>(&frame()), static_cast<QWidget*>(view().visuPanel()->window())}) {
        EXPECT_TRUE(screen.contains(w->frameGeometry().topLeft())) << w->x();
        EXPECT_TRUE(screen.contains(w->geometry().center())) << w->x();
    }
}

// Night vision: off at first; on, every window (main window with its picture,
// toolbar and status bar, panels, menus) shows only red, also at the next
// start, until turned off.
TEST_F(AppFixture, NightVisionIsStoredAndLeavesOnlyRedLight) {
    TempDir dir;
    const QString path = QString::fromStdString(dir.file("sky.fit"));
    ASSERT_NO_FATAL_FAILURE(saveRamp(path, 300, 200));
    auto redOnly = [](QWidget* w) {
        const QImage shot = w->grab().toImage();
        int others = 0, red = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                others += c.green() != 0 || c.blue() != 0;
                red += c.red() > 100;
            }
        return others == 0 && red > 0;
    };
    ASSERT_TRUE(start({path}));
    EXPECT_FALSE(redOnly(&frame()));
    action(cmd::NightVision)->trigger();
    EXPECT_EQ(SettingsStore::getInt("VisuPrm", "vision_nuit", 0), 1);

    restart();
    ASSERT_TRUE(theApp.openDocumentFile(path));
    frame().commands().updateUI();
    EXPECT_TRUE(action(cmd::NightVision)->isChecked());
    EXPECT_TRUE(redOnly(&frame()));
    EXPECT_TRUE(redOnly(view().visuPanel()->window()));
    QMenu* menu = frame().menuBar()->findChildren<QMenu*>().value(0);
    menu->popup(frame().mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    EXPECT_TRUE(redOnly(menu));
    menu->hide();

    action(cmd::NightVision)->trigger();
    EXPECT_EQ(SettingsStore::getInt("VisuPrm", "vision_nuit", 1), 0);
    EXPECT_FALSE(redOnly(&frame()));
    EXPECT_FALSE(redOnly(view().visuPanel()->window()));
}
