#include "VisuPanel.h"

#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// The style option the slider paints with, to find where its handle is drawn.
struct SliderOption : QSlider {
    static QStyleOptionSlider of(const QSlider* s) {
        QStyleOptionSlider opt;
        (s->*(&SliderOption::initStyleOption))(&opt);
        return opt;
    }
};

QRect handleRect(const QSlider* s) {
    const QStyleOptionSlider opt = SliderOption::of(s);
    return s->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, s);
}

struct VisuFixture : ::testing::Test {
    QWidget view;
    CVisuPanel panel{&view};
    int repaints = 0;

    void SetUp() override {
        panel.setChangeHandler([this] { ++repaints; });
        ASSERT_TRUE(panel.create());
    }
    ScrollSlider* slider(int id) { return findControlAs<ScrollSlider>(panel.window(), id); }
    QAbstractButton* button(int id) { return findControlAs<QAbstractButton>(panel.window(), id); }
    // What the view does once it has acted on the flags.
    void clearFlags() { panel.pixelsChanged = panel.bitmapChanged = 0; }
};

} // namespace

TEST_F(VisuFixture, OpensVisibleWithSlidersAtMiddleAndNoModeButtonDown) {
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.window()->objectName(), "CVisuPanel");
    EXPECT_EQ(panel.window()->windowTitle(), "Visu");
    const struct {
        int id, minimum, maximum;
        QSlider::TickPosition ticks;
    } sliders[] = {{1000, 1, 256, QSlider::TicksLeft}, {1001, 0, 256, QSlider::TicksRight}};
    for (const auto& s : sliders) {
        ScrollSlider* sl = slider(s.id);
        ASSERT_NE(sl, nullptr) << s.id;
        EXPECT_EQ(sl->orientation(), Qt::Vertical);
        EXPECT_EQ(sl->minimum(), s.minimum) << s.id;
        EXPECT_EQ(sl->maximum(), s.maximum) << s.id;
        EXPECT_EQ(sl->value(), 128) << s.id;
        EXPECT_EQ(sl->tickInterval(), 16) << s.id;
        EXPECT_EQ(sl->tickPosition(), s.ticks) << s.id;
    }
    EXPECT_EQ(panel.contrast(), 128);
    EXPECT_EQ(panel.brightness(), 128);
    const char* texts[] = {"+", "-", "C", "KC"};
    for (int id = 1036; id <= 1039; ++id) {
        ASSERT_NE(button(id), nullptr) << id;
        EXPECT_EQ(button(id)->text(), texts[id - 1036]);
        EXPECT_FALSE(button(id)->isChecked()) << id;
    }
    EXPECT_EQ(ControlBuilder::radioGroup(panel.window(), 1036)->checkedId(), -1);
    EXPECT_FALSE(button(1002)->isChecked());
    EXPECT_EQ(button(1002)->text(), "Continu");
    EXPECT_EQ(panel.mode(), 0);
    EXPECT_EQ(panel.bitmapChanged, 0);
    EXPECT_EQ(panel.pixelsChanged, 0);
    EXPECT_EQ(repaints, 0);
}

TEST_F(VisuFixture, UpMeansMoreContrastAndBrighter) {
    // Brighter is a lower brightness value (the window centre moves down).
    const struct { int id, upper, lower; } cases[] = {{1000, 256, 1}, {1001, 0, 256}};
    for (const auto& c : cases) {
        ScrollSlider* s = slider(c.id);
        s->setValue(c.upper);
        const int upperY = handleRect(s).center().y();
        s->setValue(c.lower);
        EXPECT_LT(upperY, handleRect(s).center().y()) << c.id;
        // The Up key moves the handle up as well.
        s->setFocus();
        s->setValue(128);
        QTest::keyClick(s, Qt::Key_Up);
        EXPECT_EQ(s->value(), c.upper > c.lower ? 129 : 127) << c.id;
    }
}

TEST_F(VisuFixture, DragFollowsThePictureOnlyAsContinuSays) {
    for (bool continu : {false, true}) {
        for (int id : {1000, 1001}) {
            clearFlags();
            repaints = 0;
            if (button(1002)->isChecked() != continu)
                QTest::mouseClick(button(1002), Qt::LeftButton);
            ASSERT_EQ(button(1002)->isChecked(), continu);
            ScrollSlider* s = slider(id);
            s->setValue(128);
            QPoint at = handleRect(s).center();
            QTest::mousePress(s, Qt::LeftButton, Qt::NoModifier, at);
            ASSERT_TRUE(s->isSliderDown()) << "the press must catch the handle";
            int moved = 0;
            for (int step = 0; step < 4; ++step) {
                const int before = s->sliderPosition();
                at.ry() -= 6;
                QTest::mouseMove(s, at);
                if (s->sliderPosition() == before)
                    continue;
                ++moved;
                EXPECT_EQ(panel.pixelsChanged, continu ? 1 : 0) << id << " step " << step;
                EXPECT_EQ(repaints, continu ? moved : 0) << id << " step " << step;
                clearFlags();
            }
            ASSERT_GE(moved, 2) << "the drag must report positions";
            EXPECT_NE(s->value(), 128);
            QTest::mouseRelease(s, Qt::LeftButton, Qt::NoModifier, at);
            EXPECT_EQ(panel.pixelsChanged, 1) << "the release always applies the position";
            // The release reports the thumb position, then the end of the scroll:
            // with "Continu" both repaint, without it only the end does.
            EXPECT_EQ(repaints, continu ? moved + 2 : 1);
            EXPECT_EQ(panel.bitmapChanged, 0);
        }
    }
}

TEST_F(VisuFixture, KeyboardMoveTakesEffectAtKeyRelease) {
    for (int id : {1000, 1001}) {
        clearFlags();
        repaints = 0;
        ScrollSlider* s = slider(id);
        s->setFocus();
        QTest::keyPress(s, Qt::Key_PageDown);
        EXPECT_NE(s->value(), 128);
        EXPECT_EQ(panel.pixelsChanged, 0) << id;
        EXPECT_EQ(repaints, 0) << id;
        QTest::keyRelease(s, Qt::Key_PageDown);
        EXPECT_EQ(panel.pixelsChanged, 1) << id;
        EXPECT_EQ(repaints, 1) << id;
        s->setValue(128);
    }
}

TEST_F(VisuFixture, ModeButtonsSetModeAndAskForANewBitmap) {
    // "KC" then "+" goes to the 24-bit mode and back; pressing the checked
    // button again still asks for a new bitmap.
    const struct {
        int id, mode;
    } presses[] = {{1039, 3}, {1036, 0}, {1037, 1}, {1038, 2}, {1038, 2}, {1036, 0}};
    int expectedRepaints = 0;
    for (const auto& p : presses) {
        clearFlags();
        QTest::mouseClick(button(p.id), Qt::LeftButton);
        ++expectedRepaints;
        EXPECT_EQ(panel.mode(), p.mode) << p.id;
        EXPECT_EQ(panel.bitmapChanged, 1) << p.id;
        EXPECT_EQ(panel.pixelsChanged, 0) << p.id;
        EXPECT_EQ(repaints, expectedRepaints) << p.id;
        for (int other = 1036; other <= 1039; ++other)
            EXPECT_EQ(button(other)->isChecked(), other == p.id) << p.id << " " << other;
    }
    EXPECT_EQ(slider(1000)->value(), 128) << "a mode change leaves the sliders alone";
}

TEST_F(VisuFixture, HidingKeepsTheState) {
    QTest::mouseClick(button(1038), Qt::LeftButton);
    slider(1001)->setValue(40);
    panel.window()->close();
    EXPECT_FALSE(panel.isVisible());
    panel.show();
    EXPECT_EQ(panel.mode(), 2);
    EXPECT_EQ(panel.brightness(), 40);
    EXPECT_TRUE(button(1038)->isChecked());
}

TEST_F(VisuFixture, DrawsTheSunAndTheHalfBlackDisc) {
    const QImage img = panel.window()->grab().toImage();
    const QFont& f = panel.window()->font();
    auto colours = [&](const QRect& r) {
        int black = 0, white = 0, yellow = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) {
                const QColor c = img.pixelColor(x, y);
                black += c.red() < 40 && c.green() < 40 && c.blue() < 40;
                white += c.red() > 245 && c.green() > 245 && c.blue() > 245;
                yellow += c.red() > 200 && c.green() > 140 && c.blue() < 60;
            }
        return std::array<int, 3>{black, white, yellow};
    };
    const auto disc = colours(dialogUnitsToPixels(f, 7, 0, 16, 15));
    const auto sun = colours(dialogUnitsToPixels(f, 36, 0, 16, 15));
    EXPECT_GT(disc[0], 10);
    EXPECT_GT(disc[1], 10);
    EXPECT_EQ(disc[2], 0);
    EXPECT_GT(sun[2], 10);
}
