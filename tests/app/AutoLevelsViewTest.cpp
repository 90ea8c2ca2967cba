// "Niveaux automatiques" and "Auto" in the Affichage menu, driven through the
// program's commands with sky images opened from files.
#include "AppFixture.h"
#include "AutoLevels.h"
#include "CommandIds.h"
#include "LevelWindow.h"
#include "ViewFiles.h"
#include "VisuPanel.h"

#include <QSlider>

#include <random>

using namespace viewfiles;

namespace {

// A noisy sky around skyLevel in the camera's steps of 128, with a few stars
// up to saturation.
PixelRule sky(int skyLevel, unsigned seed) {
    auto rng = std::make_shared<std::mt19937>(seed);
    return [rng, skyLevel](int x, int y) {
        std::normal_distribution<double> noise(skyLevel, 500.0);
        double v = noise(*rng);
        for (auto [sx, sy, peak] : {std::tuple{60, 40, 30000.0}, {150, 90, 12000.0}}) {
            const double r2 = double(x - sx) * (x - sx) + double(y - sy) * (y - sy);
            v += peak * std::exp(-r2 / 4.0);
        }
        return static_cast<unsigned short>(std::clamp(std::lround(v / 128), 0L, 255L) * 128);
    };
}

} // namespace

class AutoLevelsView : public AppFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(start());
        frame().resize(700, 500);
        QApplication::processEvents();
    }

    bool open(const std::string& name, int skyLevel) {
        return theApp.openDocumentFile(writeFits(dir, name, 200, 140, sky(skyLevel, 7)));
    }
    QImage screen() {
        view().viewport()->repaint();
        return view().viewport()->grab().toImage();
    }
    QSlider* slider(int id) { return findControlAs<QSlider>(view().visuPanel()->window(), id); }
    SliderPositions sliders() {
        return {slider(CVisuPanel::BrightnessSlider)->value(),
                slider(CVisuPanel::ContrastSlider)->value()};
    }
    // The slider moved one key press at a time, as a user does.
    void moveByKeys(int id, int target) {
        QSlider* s = slider(id);
        s->setFocus();
        for (int guard = 0; s->value() != target && guard < 600; ++guard) {
            const int before = s->value();
            QTest::keyClick(s, Qt::Key_Up);
            if ((s->value() > before) != (target > before)) {
                QTest::keyClick(s, Qt::Key_Down);
                QTest::keyClick(s, Qt::Key_Down);
            }
        }
        ASSERT_EQ(s->value(), target);
    }
    SliderPositions expectedFor() {
        doc().image.computeStats();
        return autoLevelPositions(doc().image.stats);
    }

    TempDir dir;
};

TEST_F(AutoLevelsView, CommandSetsTheSlidersAndThePictureIsTheHandMadeOne) {
    ASSERT_TRUE(open("sky.fit", 3000));
    const QImage atStart = screen();
    EXPECT_EQ(atStart.pixelColor(100, 120), QColor(0, 0, 0)) << "the sky is black at first";

    action(cmd::AutoLevels)->trigger();
    const SliderPositions p = sliders();
    EXPECT_NE(p.brightness, kSliderStart);
    EXPECT_NE(p.contrast, kSliderStart);
    const QImage automatic = screen();
    EXPECT_NE(automatic, atStart);

    // Back to the start, then to the same positions by the keyboard.
    moveByKeys(CVisuPanel::BrightnessSlider, kSliderStart);
    moveByKeys(CVisuPanel::ContrastSlider, kSliderStart);
    EXPECT_EQ(screen(), atStart);
    moveByKeys(CVisuPanel::ContrastSlider, p.contrast);
    moveByKeys(CVisuPanel::BrightnessSlider, p.brightness);
    EXPECT_EQ(screen(), automatic);
}

TEST_F(AutoLevelsView, AutoAppliesToEachNewImageAndSurvivesARestart) {
    QAction* autoAction = action(cmd::AutoLevelsOnNewImage);
    ASSERT_NE(autoAction, nullptr);
    EXPECT_FALSE(autoAction->isChecked());
    ASSERT_TRUE(open("first.fit", 3000));
    EXPECT_EQ(sliders().brightness, kSliderStart) << "unchecked: the sliders stay";

    autoAction->trigger();
    EXPECT_TRUE(autoAction->isChecked());
    restart();
    autoAction = action(cmd::AutoLevelsOnNewImage);
    EXPECT_TRUE(autoAction->isChecked());

    // Two skies, each image getting its own positions.
    for (auto [name, level] : {std::pair{"dim.fit", 2500}, {"bright.fit", 9000}}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(open(name, level));
        const SliderPositions shown = sliders();
        const SliderPositions wanted = expectedFor();
        EXPECT_EQ(shown.brightness, wanted.brightness);
        EXPECT_EQ(shown.contrast, wanted.contrast);
        EXPECT_NE(shown.brightness, kSliderStart);
    }

    autoAction->trigger();
    EXPECT_FALSE(autoAction->isChecked());
    const SliderPositions before = sliders();
    ASSERT_TRUE(open("again.fit", 3000));
    EXPECT_EQ(sliders().brightness, before.brightness);
    EXPECT_EQ(sliders().contrast, before.contrast);
    restart();
    EXPECT_FALSE(action(cmd::AutoLevelsOnNewImage)->isChecked());
}
