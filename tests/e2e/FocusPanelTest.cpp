// The focus panel against the camera simulator walked through focus: the
// figures of single images and of a loop, the curve and its best image.
#include "SimulatorRun.h"

#include "CameraProtocol.h"
#include "FocusPanel.h"
#include "NightVision.h"
#include "common/TempDir.h"

#include <QFile>
#include <QFrame>

#include <algorithm>

namespace {

class FocusWalk : public SimulatorFixture {
protected:
    CFocusPanel& panel() { return *view().focusPanel(); }
    QString field(int id) { return findControlAs<QLineEdit>(panel().window(), id)->text(); }
    QString label(int id) { return findControlAs<QLabel>(panel().window(), id)->text(); }

    void moveFocuser(int position) {
        QFile f(QString::fromStdString(focuser));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray::number(position));
    }

    // One image at a focuser position; the HFD the panel shows.
    double hfdAt(int position) {
        moveFocuser(position);
        EXPECT_TRUE(runCommand(cmd::AcquireOne).empty());
        return field(CFocusPanel::HfdField).toDouble();
    }

    TempDir dir;
    std::string focuser = dir.file("focuser");
};

} // namespace

TEST_F(FocusWalk, WiderAwayFromFocusAndTheBestImageMarked) {
    SimulatorProcess camsim({"--time-scale", "0.05", "--focus-file",
                             QString::fromStdString(focuser), "--focus-best", "1500"});
    ASSERT_TRUE(start());
    ASSERT_NE(view().focusPanel(), nullptr);
    EXPECT_FALSE(panel().isVisible());
    action(cmd::ShowFocus)->trigger();
    frame().commands().updateUI();
    EXPECT_TRUE(action(cmd::ShowFocus)->isChecked());
    ASSERT_TRUE(panel().isVisible());
    EXPECT_EQ(panel().window()->objectName(), "CFocusPanel");
    EXPECT_EQ(panel().window()->windowTitle(), "Mise au point");

    // In focus the stars have the seeing's 3 px; 400 steps away, 5 px.
    const double sharp = hfdAt(1500);
    EXPECT_NEAR(sharp, 3.0, 0.4);
    EXPECT_NEAR(field(CFocusPanel::FwhmField).toDouble(), 3.0, 0.4);
    EXPECT_FALSE(panel().star().saturated);
    EXPECT_EQ(field(CFocusPanel::PeakField).toInt(), panel().star().peak);
    const double blurred = hfdAt(1900);
    EXPECT_NEAR(blurred, 5.0, 0.6);
    EXPECT_GT(blurred, 1.4 * sharp);
    EXPECT_EQ(field(CFocusPanel::HfdField), QString::number(panel().star().hfd, 'f', 2));

    // A loop keeps the curve going, image after image.
    moveFocuser(1700);
    EXPECT_TRUE(runCommand(cmd::LoopStart).empty());
    runUntil([&] { return panel().history().size() >= 5; }, 30000);
    action(cmd::LoopStop)->trigger();
    runUntil([&] { return !view().state().loopRunning; }, 10000);

    const FocusHistory& h = panel().history();
    EXPECT_EQ(h.best(), 0);
    for (int i = 1; i < h.size(); ++i)
        EXPECT_GT(h.at(i).hfd, h.at(0).hfd) << i;
    EXPECT_TRUE(label(CFocusPanel::BestLabel)
                    .startsWith(QStringLiteral("Meilleure HFD : %1 px").arg(sharp, 0, 'f', 2)));
    // The best image's mark is drawn in the plot.
    const QImage shot = panel().window()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    bool marked = false;
    for (int y = 0; y < shot.height() && !marked; ++y)
        for (int x = 0; x < shot.width() && !marked; ++x)
            marked = (shot.pixel(x, y) & 0xFFFFFF) == 0x00DC00;
    EXPECT_TRUE(marked);
    // At night, when only red shows, the mark is the plot's brightest red.
    setNightVision(true);
    const auto* plot = findControlAs<QFrame>(panel().window(), CFocusPanel::PlotFrame);
    const QImage night = panel().window()->grab(plot->geometry().adjusted(1, 1, -1, -1)).toImage();
    setNightVision(false);
    int brightest = 0;
    for (int y = 0; y < night.height(); ++y)
        for (int x = 0; x < night.width(); ++x)
            brightest = std::max(brightest, qRed(night.pixel(x, y)));
    EXPECT_EQ(brightest, 255);

    // Hidden, the panel leaves the images alone.
    const int held = h.size();
    action(cmd::ShowFocus)->trigger();
    EXPECT_FALSE(panel().isVisible());
    EXPECT_TRUE(runCommand(cmd::AcquireOne).empty());
    EXPECT_EQ(panel().history().size(), held);
}

TEST_F(FocusWalk, FollowsTheMarkedStarUntilTheBrightestIsAskedFor) {
    SimulatorProcess camsim({"--time-scale", "0.05"});
    ASSERT_TRUE(start());
    action(cmd::ShowFocus)->trigger();
    EXPECT_TRUE(runCommand(cmd::AcquireOne).empty());
    ASSERT_TRUE(panel().star().found);
    const QPointF brightest(panel().star().x, panel().star().y);

    // A click beside a star of the other half of the frame.
    const QPoint other =
        brightestPatch(brightest.x() > 640 ? QRect(40, 40, 560, 940) : QRect(680, 40, 560, 940));
    clickImage(other + QPoint(3, -2));
    for (int image = 0; image < 2; ++image) {
        SCOPED_TRACE(image);
        ASSERT_TRUE(panel().star().found);
        EXPECT_NEAR(panel().star().x, other.x(), 1.5);
        EXPECT_NEAR(panel().star().y, other.y(), 1.5);
        EXPECT_TRUE(label(CFocusPanel::StarLabel).startsWith(QStringLiteral("Étoile marquée")));
        // The marked star starts a curve of its own.
        EXPECT_EQ(panel().history().size(), 1 + image);
        EXPECT_TRUE(runCommand(cmd::AcquireOne).empty());
    }

    QTest::mouseClick(findControlAs<QPushButton>(panel().window(), CFocusPanel::BrightestButton),
                      Qt::LeftButton);
    const FocusStar expected = FocusMeter().brightestStar(doc().image, kPixelCeiling);
    EXPECT_EQ(panel().star().x, expected.x);
    EXPECT_EQ(panel().star().y, expected.y);
    EXPECT_TRUE(
        label(CFocusPanel::StarLabel).startsWith(QStringLiteral("Étoile la plus brillante")));
    EXPECT_EQ(panel().history().size(), 1);
}
