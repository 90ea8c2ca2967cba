#include "Toolkit.h"

#include "common/ModalWatcher.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs fn once the current event handler has returned (outside the watcher's poll).
void later(std::function<void()> fn) {
    QTimer::singleShot(0, qApp, std::move(fn));
}

class SampleDialog : public CDialog {
public:
    explicit SampleDialog(QWidget* parent)
        : CDialog(parent, "CSampleDlg", QStringLiteral("Exemple"), 150, 100) {}
    int period = 5;
    QString name = QStringLiteral("cam");
    int count = 3;
    int flag = 1;
    int mode = -1;
    std::vector<int> commands;

protected:
    void createControls(ControlBuilder& b) override {
        b.edit(1001, 5, 5, 40, 12);
        b.edit(1002, 5, 20, 80, 12);
        b.edit(1003, 5, 35, 40, 12);
        b.check(1004, QStringLiteral("Actif"), 5, 50, 50, 10);
        b.radio(1010, 1010, QStringLiteral("Délai"), 60, 50, 40, 10);
        b.radio(1011, 1010, QStringLiteral("Périodique"), 60, 60, 40, 10);
        b.button(1020, QStringLiteral("..."), 100, 5, 15, 12);
        b.button(1, QStringLiteral("OK"), 20, 80, 40, 14);
        b.button(2, QStringLiteral("Cancel"), 80, 80, 40, 14);
    }
    void doDataExchange(DataExchange& dx) override {
        dx.integerRange(1001, period, 0, 10);
        dx.text(1002, name);
        dx.integer(1003, count);
        dx.check(1004, flag);
        dx.radio(1010, mode);
    }
    void onCommand(int id) override { commands.push_back(id); }
};

QLineEdit* editOf(QWidget* w, int id) {
    return findControlAs<QLineEdit>(w, id);
}

} // namespace

TEST(ModalDialog, OkWithValuesInRangeExchangesEverythingInOrder) {
    SampleDialog dlg(nullptr);
    ModalWatcher watcher([](QWidget* w) {
        later([w] {
            EXPECT_EQ(w->objectName(), "CSampleDlg");
            EXPECT_EQ(editOf(w, 1001)->text(), "5"); // filled from the members at opening
            EXPECT_EQ(ControlBuilder::radioGroup(w, 1010)->checkedId(), -1);
            editOf(w, 1001)->setText(" 10 ");
            editOf(w, 1002)->setText(QStringLiteral("étoile"));
            editOf(w, 1003)->setText("-42");
            findControlAs<QCheckBox>(w, 1004)->setChecked(false);
            QTest::mouseClick(findControlAs<QRadioButton>(w, 1011), Qt::LeftButton);
            QTest::mouseClick(findControlAs<QPushButton>(w, 1020), Qt::LeftButton);
            QTest::mouseClick(findControlAs<QPushButton>(w, 1), Qt::LeftButton);
        });
        return true;
    });
    EXPECT_EQ(dlg.doModal(), 1);
    EXPECT_EQ(dlg.period, 10);
    EXPECT_EQ(dlg.name, QStringLiteral("étoile"));
    EXPECT_EQ(dlg.count, -42);
    EXPECT_EQ(dlg.flag, 0);
    EXPECT_EQ(dlg.mode, 1);
    EXPECT_EQ(dlg.commands, (std::vector<int>{1011, 1020})) << "buttons other than OK and Cancel";
    EXPECT_EQ(dlg.window(), nullptr) << "the window exists only while shown";
}

TEST(ModalDialog, RefusedValueKeepsTheDialogOpenAndStopsTheExchangeThere) {
    struct Case {
        QString period, count, message;
    };
    const Case cases[] = {
        {"11", "7", DataExchange::rangeMessage(0, 10)},
        {"-1", "7", QStringLiteral("Entrez un entier compris entre 0 et 10.")},
        {"5", "abc", QStringLiteral("Entrez un entier.")},
        {"", "7", QStringLiteral("Entrez un entier.")},
        {"5", "99999999999", QStringLiteral("Entrez un entier.")},
    };
    for (const Case& c : cases) {
        SampleDialog dlg(nullptr);
        int step = 0;
        bool stillOpen = false;
        QWidget* focused = nullptr;
        ModalWatcher watcher([&](QWidget* w) {
            if (w->objectName() == "CSampleDlg") {
                later([&, w] {
                    editOf(w, 1001)->setText(c.period);
                    editOf(w, 1002)->setText("changed");
                    editOf(w, 1003)->setText(c.count);
                    QTest::keyClick(w, Qt::Key_Return); // Return presses OK
                    // Back here once the message box has been dismissed.
                    stillOpen = w->isVisible();
                    focused = w->focusWidget();
                    QTest::keyClick(w, Qt::Key_Escape);
                });
                return true;
            }
            ++step;
            return false; // the watcher answers the message box
        });
        EXPECT_EQ(dlg.doModal(), 2) << c.message.toStdString();
        ASSERT_GE(watcher.seen().size(), 2u);
        EXPECT_EQ(watcher.seen()[1].text, c.message);
        EXPECT_EQ(step, 1);
        EXPECT_TRUE(stillOpen);
        if (c.count == "7") {
            EXPECT_EQ(dlg.name, "cam") << "nothing after the failing control is exchanged";
            EXPECT_EQ(focused ? focused->objectName() : QString(), "id1001");
        } else {
            EXPECT_EQ(dlg.name, "changed") << "controls before the failing one are taken";
            EXPECT_EQ(focused ? focused->objectName() : QString(), "id1003");
            EXPECT_EQ(dlg.count, 3);
        }
    }
}

TEST(ModalDialog, CancelAndCloseBoxReturnTwoAndKeepMembers) {
    for (int how = 0; how < 2; ++how) {
        SampleDialog dlg(nullptr);
        ModalWatcher watcher([how](QWidget* w) {
            later([w, how] {
                editOf(w, 1001)->setText("7");
                if (how == 0)
                    QTest::mouseClick(findControlAs<QPushButton>(w, 2), Qt::LeftButton);
                else
                    w->close();
            });
            return true;
        });
        EXPECT_EQ(dlg.doModal(), 2);
        EXPECT_EQ(dlg.period, 5);
    }
}

TEST(Controls, SpinButtonStepsTheEditAndWraps) {
    QWidget w;
    ControlBuilder b(&w);
    QLineEdit* e = b.edit(1003, 0, 0, 30, 12);
    SpinButton* s = b.spin(1004, 1003, 30, 0, 10, 12);
    s->setRange(1, 4);
    e->setText("3");
    s->stepUp();
    EXPECT_EQ(e->text(), "4");
    s->stepUp();
    EXPECT_EQ(e->text(), "1") << "wraps past the top";
    s->stepDown();
    EXPECT_EQ(e->text(), "4") << "wraps past the bottom";
    QTest::keyClick(e, Qt::Key_Down);
    EXPECT_EQ(e->text(), "3");
    QTest::mouseClick(s->findChild<QToolButton*>("up"), Qt::LeftButton);
    EXPECT_EQ(e->text(), "4");
    EXPECT_EQ(findControl(&w, 1004), s);
}

TEST(Controls, DialogUnitsKeepProportions) {
    QFont f = QApplication::font();
    const QRect a = dialogUnitsToPixels(f, 0, 0, 100, 100);
    f.setPointSize(f.pointSize() * 2);
    const QRect b = dialogUnitsToPixels(f, 0, 0, 100, 100);
    EXPECT_GT(a.width(), 0);
    EXPECT_GT(b.width(), a.width() * 3 / 2);
    EXPECT_GT(b.height(), a.height() * 3 / 2);
    // Four units a character on average, unrounded: the 52 letters of the
    // alphabet take 208 units wherever they start.
    const QFontMetrics fm(QApplication::font());
    const int alphabet =
        fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    for (int x : {0, 3, 101}) {
        const QRect c = dialogUnitsToPixels(QApplication::font(), x, 8, 208, 8);
        EXPECT_NEAR(c.width(), alphabet, 1) << x;
        EXPECT_EQ(c.height(), fm.height());
    }
}

namespace {
class SamplePanel : public CPanel {
public:
    explicit SamplePanel(QWidget* parent) : CPanel(parent, "CSamplePanel", "Visu", 57, 153) {}
    int paints = 0;

protected:
    void createControls(ControlBuilder& b) override { b.check(1002, "Continu", 5, 140, 40, 10); }
    void onPaint(QPainter&) override { ++paints; }
};
} // namespace

TEST(Panel, CreatedOnceShownHiddenAndClosingOnlyHides) {
    QWidget parent;
    SamplePanel panel(&parent);
    EXPECT_FALSE(panel.isVisible());
    ASSERT_TRUE(panel.create(512, 150, false));
    QDialog* w = panel.window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->objectName(), "CSamplePanel");
    EXPECT_FALSE(panel.isVisible());
    panel.create(0, 0, true);
    EXPECT_EQ(panel.window(), w) << "made once";
    panel.show();
    EXPECT_TRUE(panel.isVisible());
    w->close();
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(panel.window(), w) << "closing keeps the window";
    panel.show();
    QTest::keyClick(w, Qt::Key_Escape);
    EXPECT_FALSE(panel.isVisible());
    panel.show();
    w->grab();
    EXPECT_GT(panel.paints, 0);
}

TEST(WindowTimers, RearmReplacesAndKillStops) {
    std::vector<int> ticks;
    WindowTimers timers([&](int id) { ticks.push_back(id); });
    timers.setTimer(1, 10000);
    timers.setTimer(1, 20); // replaces the long interval
    EXPECT_EQ(timers.interval(1), 20);
    QTest::qWait(200);
    EXPECT_GE(ticks.size(), 3u);
    timers.killTimer(1);
    EXPECT_FALSE(timers.isActive(1));
    EXPECT_EQ(timers.interval(1), -1);
    const size_t n = ticks.size();
    QTest::qWait(100);
    EXPECT_EQ(ticks.size(), n);
    for (int id : ticks)
        EXPECT_EQ(id, 1);
}

TEST(WindowTimers, MissedPeriodsGiveOneTickNotACatchUp) {
    QElapsedTimer clock;
    std::vector<qint64> at;
    WindowTimers timers([&](int) { at.push_back(clock.nsecsElapsed() / 1000000); });
    timers.setTimer(1, 20);
    QThread::msleep(300); // the thread is busy for fifteen periods
    clock.start();
    while (clock.elapsed() < 60)
        QApplication::processEvents();
    // One tick at once, then the ordinary period: never a burst making up the
    // fifteen periods missed.
    ASSERT_GE(at.size(), 1u);
    EXPECT_LT(at[0], 15);
    const auto early = std::count_if(at.begin(), at.end(), [](qint64 t) { return t < 15; });
    EXPECT_EQ(early, 1) << "missed periods made up";
    EXPECT_LE(at.size(), 5u);
}

TEST(WindowTimers, NoTickInsideAnotherTick) {
    int depth = 0, maxDepth = 0, ticks = 0;
    WindowTimers timers([&](int) {
        ++ticks;
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        if (ticks == 1)
            QTest::qWait(100); // a nested event loop, as a message box runs
        --depth;
    });
    timers.setTimer(1, 5);
    timers.setTimer(2, 5);
    QTest::qWait(250);
    EXPECT_EQ(maxDepth, 1);
    EXPECT_GT(ticks, 2);
}

TEST(WindowTimers, TickFallingDueInsideAHandlerComesOnceAfterIt) {
    QElapsedTimer clock;
    std::vector<qint64> at;
    qint64 handlerEnd = 0;
    WindowTimers timers([&](int) {
        at.push_back(clock.elapsed());
        if (at.size() == 1) {
            QTest::qWait(450); // the loop turned inside a long step, past the next period
            handlerEnd = clock.elapsed();
        }
    });
    clock.start();
    timers.setTimer(1, 300);
    QTest::qWait(1000);
    timers.killTimer(1);
    // Without the late tick the second would wait for the period after the
    // step (about 900 ms); it comes as soon as the step is over, and only once.
    ASSERT_GE(at.size(), 2u);
    EXPECT_GE(at[1], handlerEnd);
    EXPECT_LT(at[1] - handlerEnd, 120);
    EXPECT_LE(at.size(), 3u);
}

TEST(CommandTable, EnablingRulesCheckMarksSendAndPost) {
    QMainWindow window;
    CommandTable commands(&window);
    bool running = false, visible = false;
    std::vector<int> ran;
    commands.define(32772, "Acquerir (Ctrl+A)", "Acquerir une nouvelle image", "Acquerir",
                    {QKeySequence("Ctrl+A")});
    commands.define(32783, "Lum/Contraste");
    commands.define(32789, "sans gestionnaire");
    commands.setHandler(32772, [&] {
        ran.push_back(32772);
        running = true;
    });
    commands.setEnableRule(32772, [&] { return !running; });
    commands.setHandler(32783, [&] {
        visible = !visible;
        ran.push_back(32783);
    });
    commands.setCheckRule(32783, [&] { return visible; });

    QAction* acq = commands.action(32772);
    EXPECT_EQ(acq->objectName(), "cmd32772");
    EXPECT_EQ(acq->statusTip(), "Acquerir une nouvelle image");
    EXPECT_EQ(acq->toolTip(), "Acquerir");
    EXPECT_TRUE(acq->isEnabled());
    EXPECT_FALSE(commands.action(32789)->isEnabled()) << "no handler: disabled";
    EXPECT_FALSE(commands.send(32789));

    acq->trigger();
    EXPECT_EQ(ran, std::vector<int>{32772});
    EXPECT_FALSE(acq->isEnabled()) << "rules are evaluated after each command";
    EXPECT_FALSE(commands.send(32772)) << "a disabled command does not run";

    commands.send(32783);
    EXPECT_TRUE(commands.action(32783)->isChecked());
    commands.send(32783);
    EXPECT_FALSE(commands.action(32783)->isChecked());

    // Posted: runs after the current handler returns, in order.
    ran.clear();
    commands.setHandler(1047, [&] {
        commands.post(32783);
        ran.push_back(1047);
    });
    commands.send(1047);
    EXPECT_EQ(ran, std::vector<int>{1047});
    QApplication::processEvents();
    EXPECT_EQ(ran, (std::vector<int>{1047, 32783}));

    // A state change outside any command shows in the menu before it opens.
    QMenu menu;
    menu.addAction(acq);
    commands.watchMenu(&menu);
    running = false;
    emit menu.aboutToShow();
    EXPECT_TRUE(acq->isEnabled());
}

TEST(MessageBox, CaptionIconTextAndOwner) {
    QWidget owner;
    owner.setObjectName("CMainFrame");
    owner.show();
    EXPECT_EQ(mainWindow(), &owner);
    ModalWatcher watcher;
    messageBox(&owner, "Erreur lecture image", "Kovrel", MessageIcon::Stop);
    messageBox(nullptr, "Sans titre", QString());
    ASSERT_EQ(watcher.seen().size(), 2u);
    EXPECT_EQ(watcher.seen()[0].text, "Erreur lecture image");
    EXPECT_EQ(watcher.seen()[0].title, "Kovrel");
    EXPECT_EQ(watcher.seen()[0].icon, QMessageBox::Critical);
    EXPECT_EQ(watcher.seen()[0].owner, &owner);
    EXPECT_EQ(watcher.seen()[1].title, applicationTitle());
}

TEST(Controls, SliderReportsDragKeysAndEndOfScroll) {
    QWidget w;
    w.resize(100, 300);
    ControlBuilder b(&w);
    ScrollSlider* s = b.slider(1001, Qt::Vertical, 0, 0, 20, 107);
    s->setGeometry(0, 0, 30, 260);
    s->setRange(0, 256);
    s->setValue(128);
    std::vector<std::pair<int, int>> seen;
    QObject::connect(s, &ScrollSlider::scrolled,
                     [&](int code, int pos) { seen.emplace_back(code, pos); });
    w.show();

    // Keyboard: the step is reported at once, the end of scroll when the key is released.
    s->setFocus();
    QTest::keyPress(s, Qt::Key_Up);
    ASSERT_FALSE(seen.empty());
    EXPECT_NE(seen.back().first, int(ScrollSlider::EndScroll));
    QTest::keyRelease(s, Qt::Key_Up);
    EXPECT_EQ(seen.back().first, int(ScrollSlider::EndScroll));
    EXPECT_EQ(seen.back().second, s->value());

    // Drag of the handle: thumb-track positions, then the end of scroll on release.
    seen.clear();
    s->setSliderDown(true);
    s->setSliderPosition(40);
    s->setSliderPosition(60);
    s->setSliderDown(false);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen[0], std::make_pair(int(ScrollSlider::ThumbTrack), 40));
    EXPECT_EQ(seen[1], std::make_pair(int(ScrollSlider::ThumbTrack), 60));
    EXPECT_EQ(seen.back(), std::make_pair(int(ScrollSlider::EndScroll), 60));

    // A wheel notch: a step and its end together.
    seen.clear();
    QWheelEvent wheel(QPointF(10, 10), s->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(s, &wheel);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen.back(), std::make_pair(int(ScrollSlider::EndScroll), s->value()));
    EXPECT_NE(s->value(), 60);
}

TEST(Controls, RadioGroupNoneCheckedReadsMinusOne) {
    QWidget w;
    ControlBuilder b(&w);
    b.radio(1036, 1036, "+", 0, 0, 15, 10, true);
    b.radio(1037, 1036, "-", 15, 0, 15, 10, true);
    b.radio(1010, 1010, "Délai", 0, 20, 40, 10);
    DataExchange load(&w, false, "Zermic");
    int none = -1, second = 1;
    load.radio(1036, none);
    load.radio(1010, second);
    DataExchange save(&w, true, "Zermic");
    int a = 7, c = 7;
    save.radio(1036, a);
    EXPECT_EQ(a, -1);
    findControlAs<QRadioButton>(&w, 1037)->click();
    save.radio(1036, a);
    EXPECT_EQ(a, 1);
    EXPECT_FALSE(findControlAs<QRadioButton>(&w, 1010)->isChecked()) << "groups are separate";
    save.radio(1010, c);
    EXPECT_EQ(c, -1) << "index 1 names no button of a one-button group";
}

TEST(Panel, CloseBoxHidesButQuitAndClosingEveryWindowGoThrough) {
    for (const bool quit : {true, false}) {
        SCOPED_TRACE(quit ? "quit" : "closeAllWindows");
        QMainWindow main;
        main.show();
        SamplePanel shown(&main);
        SamplePanel hidden(&main);
        ASSERT_TRUE(shown.create(0, 0, true));
        ASSERT_TRUE(hidden.create(0, 0, false));
        shown.show();

        // The close box: the panel hides and keeps its window.
        QDialog* w = shown.window();
        QCloseEvent box;
        QSpontaneKeyEvent::setSpontaneous(&box);
        qApp->notify(w, &box);
        EXPECT_FALSE(shown.isVisible());
        EXPECT_EQ(shown.window(), w);
        EXPECT_TRUE(main.isVisible());
        shown.show();

        // The program's own loop ends with 0 once every window has closed; a
        // refusal leaves it to the guard.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(7); });
        guard.start(10000);
        QTimer::singleShot(0, &main, [quit] {
            if (quit)
                QCoreApplication::quit();
            else
                QApplication::closeAllWindows();
        });
        EXPECT_EQ(QApplication::exec(), 0);
        EXPECT_FALSE(main.isVisible());
        EXPECT_FALSE(shown.isVisible());
    }
}

// The test support itself: a box nobody expects, or a dialog a watcher leaves
// alone, fails the test with its text and is closed, instead of hanging it.
TEST(TestSupport, UnexpectedOrUnansweredModalWindowsFailTheTestAndClose) {
    EXPECT_NONFATAL_FAILURE(messageBox(nullptr, "Texte imprévu", "Titre"), "Texte imprévu");
    ModalWatcher watcher([](QWidget*) { return false; });
    QDialog dialog;
    dialog.setObjectName("CSampleDlg");
    int result = -1;
    EXPECT_NONFATAL_FAILURE(result = dialog.exec(), "CSampleDlg");
    EXPECT_EQ(result, QDialog::Rejected);
}
