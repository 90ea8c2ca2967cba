// Guiding driven from the view against the camera simulator: start with or
// without a marker, the zone frame, the commands' states while guiding, the
// parameters dialog and the panel toggle, the guide log's failure.
#include "SimulatorRun.h"

#include "GuideGraphPanel.h"
#include "SuiviPanel.h"
#include "common/TempDir.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QScreen>

namespace {

class GuidingView : public SimulatorFixture {
protected:
    void SetUp() override {
        SimulatorFixture::SetUp();
        SettingsStore::writeInt("SuiviPrm", "cadence", 200);
        SettingsStore::writeInt("SuiviPrm", "capture", 10);
    }

    // Sends a command, answering any dialog with OK and boxes by default.
    std::vector<QString> send(int id) {
        ModalWatcher watcher([](QWidget* w) {
            if (w->objectName() != "CAcqPrmDlg" && w->objectName() != "CSuiviPrmDialog")
                return false;
            later([w] { press(w, 1); });
            return true;
        });
        frame().commands().send(id);
        return boxes(watcher);
    }

    bool enabled(int id) { return frame().commands().isEnabled(id); }
    bool checked(int id) {
        frame().commands().updateUI();
        return action(id)->isChecked();
    }

    QPointF zoneCentre() {
        const GuideZone& z = view().guiding().zone();
        return QPointF((z.left + z.right) / 2.0, (z.top + z.bottom) / 2.0);
    }
};

double distance(QPointF a, QPointF b) {
    return std::hypot(a.x() - b.x(), a.y() - b.y());
}

} // namespace

TEST_F(GuidingView, StartLocksOnMarkerOrStarThenStopEndsTheLoop) {
    SimulatorProcess camsim({"--time-scale", "0.05"});
    ASSERT_TRUE(start());
    QPoint mark;
    for (bool useMarker : {true, false}) {
        SCOPED_TRACE(useMarker);
        EXPECT_TRUE(send(cmd::AcquireOne).empty());
        if (useMarker) {
            // Away from the brightest star, where only the marker can send
            // the zone.
            const QPoint star = brightestPatch(QRect(34, 34, 1280 - 68, 1024 - 68));
            mark = QPoint(star.x() > 640 ? star.x() - 150 : star.x() + 150, star.y());
            clickImage(mark);
            ASSERT_TRUE(view().markerSet());
            ASSERT_EQ(view().marker(), mark);
        }

        EXPECT_TRUE(send(cmd::GuidingStart).empty());
        ASSERT_TRUE(view().state().guidingActive);
        // The acquisition that starts the run clears the marker; the flag
        // read before it decides where the star is looked for.
        EXPECT_FALSE(view().markerSet());
        if (useMarker)
            EXPECT_LT(distance(zoneCentre(), QPointF(mark)), 20.0);
        else
            EXPECT_GT(distance(zoneCentre(), QPointF(mark)), 50.0);

        // Images keep coming at the guiding cadence; only the panel's stop
        // ends the loop meanwhile.
        const int before = view().sequenceEngine().count();
        runUntil([&] { return view().sequenceEngine().count() >= before + 3; }, 20000);
        EXPECT_FALSE(enabled(cmd::LoopStop));
        frame().commands().updateUI();
        EXPECT_FALSE(action(cmd::LoopStop)->isEnabled());
        EXPECT_TRUE(view().state().guidingActive);

        const QPointF zone = zoneCentre();
        bringIntoView(zone.x(), zone.y());
        EXPECT_TRUE(grabOverlays().red);

        EXPECT_TRUE(send(cmd::GuidingStop).empty());
        EXPECT_FALSE(view().state().guidingActive);
        EXPECT_FALSE(view().state().loopRunning);
        const int stoppedAt = view().sequenceEngine().count();
        QTest::qWait(600);
        EXPECT_EQ(view().sequenceEngine().count(), stoppedAt);
        EXPECT_FALSE(grabOverlays().red);
        EXPECT_TRUE(enabled(cmd::AcquireOne));
        EXPECT_TRUE(enabled(cmd::StartCumul));
    }
}

TEST_F(GuidingView, ParametersDialogAndPanelToggle) {
    ASSERT_TRUE(start());
    CSuiviPanel* panel = view().guiding().panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(checked(cmd::ShowGuiding));
    for (bool shown : {true, false}) {
        action(cmd::ShowGuiding)->trigger();
        EXPECT_EQ(panel->isVisible(), shown);
        EXPECT_EQ(checked(cmd::ShowGuiding), shown);
    }

    // The dialog opens on the stored values; Cancel leaves them and the
    // cadence the loop would use.
    ModalWatcher watcher([](QWidget* w) {
        later([w] { press(w, 2); });
        return true;
    });
    frame().commands().send(cmd::GuidingParams);
    ASSERT_EQ(watcher.seen().size(), 1u);
    EXPECT_EQ(watcher.seen()[0].className, "CSuiviPrmDialog");
    EXPECT_EQ(watcher.seen()[0].title, "Paramètres suivi");
    EXPECT_DOUBLE_EQ(view().guidingCadenceSeconds(), 0.2);
}

TEST_F(GuidingView, UnwritableGuideLogLeavesGuidingOnAndSaysSoOnce) {
    // A folder under a plain file can never be made.
    TempDir tmp;
    const QString blocker = QString::fromStdString(tmp.file("fichier"));
    QFile f(blocker);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    SettingsStore::writeString("JournalSuivi", "dossier", blocker + "/logs");
    SimulatorProcess camsim({"--time-scale", "0.05"});
    ASSERT_TRUE(start());

    // The graph panel has its entry in "Affichage", checked while shown.
    CGuideGraphPanel* graph = view().guiding().graphPanel();
    ASSERT_NE(graph, nullptr);
    EXPECT_FALSE(graph->isVisible());
    action(cmd::ShowGuideGraph)->trigger();
    EXPECT_TRUE(graph->isVisible());
    EXPECT_TRUE(checked(cmd::ShowGuideGraph));

    // The camera may still hold the line of an earlier test's simulator: the
    // first write on it fails, says so and closes it.
    send(cmd::AcquireOne);
    EXPECT_TRUE(send(cmd::AcquireOne).empty());
    EXPECT_TRUE(send(cmd::GuidingStart).empty());
    const QString said = frame().promptText();
    EXPECT_TRUE(said.startsWith("Journal de suivi impossible à écrire")) << said.toStdString();
    EXPECT_TRUE(said.contains(blocker + "/logs/Zermic_GuideLog_")) << said.toStdString();
    frame().showPrompt(QString());
    const int before = view().sequenceEngine().count();
    runUntil([&] { return view().sequenceEngine().count() >= before + 3; }, 20000);
    EXPECT_TRUE(view().state().guidingActive);
    EXPECT_EQ(frame().promptText(), "Prêt") << "said once, not at every image";
    EXPECT_GE(graph->history().size(), 3);
    EXPECT_TRUE(send(cmd::GuidingStop).empty());
}

TEST_F(GuidingView, RunIsGraphedAndLoggedInTheUsersDataFolder) {
    SettingsStore::writeInt("SuiviPrm", "capture", 16);
    SettingsStore::writeString("JournalSuivi", "dossier", QString());
    SimulatorProcess camsim(
        {"--time-scale", "0.05", "--drift", "0.04,-0.03", "--periodic", "0.6,200", "--seed", "3"});
    ASSERT_TRUE(start());
    action(cmd::ShowGuiding)->trigger();
    action(cmd::ShowGuideGraph)->trigger();
    CGuideGraphPanel* graph = view().guiding().graphPanel();
    send(cmd::AcquireOne); // a line left by an earlier test fails once
    EXPECT_TRUE(send(cmd::AcquireOne).empty());
    EXPECT_TRUE(send(cmd::GuidingStart).empty());
    // With pictures asked for, a full graph of the drift being corrected.
    const char* pictures = std::getenv("ZERMIC_SCREENSHOT_DIR");
    const int images = pictures ? GuideHistory::kCapacity : 20;
    runUntil([&] { return graph->history().size() >= images; }, 120000);
    EXPECT_EQ(frame().promptText(), "Prêt");
    if (pictures) {
        QTest::qWait(50); // the last image painted
        const QPixmap shot = QGuiApplication::platformName() == "offscreen"
                                 ? graph->window()->grab()
                                 : QGuiApplication::primaryScreen()->grabWindow(0);
        EXPECT_TRUE(shot.save(QString::fromLocal8Bit(pictures) + "/guide-graph.png"));
    }
    EXPECT_TRUE(send(cmd::GuidingStop).empty());
    const int ticks = graph->history().size();

    const QString path = view().guiding().guideLog().path();
    const QString folder = qEnvironmentVariable("XDG_DATA_HOME") + "/VKL_Zermic/logs/";
    EXPECT_TRUE(path.startsWith(folder + "Zermic_GuideLog_")) << path.toStdString();
    QFile log(path);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split('\n');
    EXPECT_TRUE(lines[0].startsWith("Zermic version ")) << lines[0].toStdString();
    // Earlier runs of this process share the night's file: this run is the
    // last session, ended by the stop.
    const qsizetype begin = lines.lastIndexOf(QRegularExpression("Guiding Begins at .*"));
    ASSERT_GE(begin, 0);
    const QStringList session = lines.mid(begin);
    // Every image of the run, of which the graph holds the last hundred.
    const qsizetype entries = session.filter(QRegularExpression("^[0-9]+,")).size();
    EXPECT_EQ(std::min<qsizetype>(entries, GuideHistory::kCapacity), ticks);
    EXPECT_EQ(session.filter(QRegularExpression("^Guiding Ends at ")).size(), 1);
    if (pictures) {
        const QString copy = QString::fromLocal8Bit(pictures) + "/guide-log.txt";
        QFile::remove(copy);
        EXPECT_TRUE(QFile::copy(path, copy));
    }
}
