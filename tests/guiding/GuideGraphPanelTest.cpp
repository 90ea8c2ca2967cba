// The guiding graph offscreen: what it draws and counts for a scripted run,
// and that hidden it draws nothing.
#include "GuideGraphPanel.h"
#include "SettingsStore.h"

#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

GuideTick tickOf(float e1, float e2, MountMove move = {-30, 20}) {
    GuideTick t;
    t.moveSent = true;
    t.move = move;
    t.ex = t.measuredEx = e1;
    t.ey = t.measuredEy = e2;
    return t;
}

GuideTick lostTick() {
    GuideTick t;
    t.rejection = GuideRejection::StarLost;
    t.measuredEx = t.measuredEy = std::numeric_limits<float>::quiet_NaN();
    return t;
}

// Standard deviation of a series, written out.
double sd(const std::vector<double>& v) {
    double mean = 0;
    for (double x : v)
        mean += x;
    mean /= double(v.size());
    double sum = 0;
    for (double x : v)
        sum += (x - mean) * (x - mean);
    return std::sqrt(sum / double(v.size()));
}

// The plot's colours as an eye tells them apart on black, whatever the
// smoothing of the lines: a bright blue, a bright red, a yellow, a grey.
enum class Hue { Axis1, Axis2, Mark, Grey };
bool is(QRgb p, Hue h) {
    const int r = qRed(p), g = qGreen(p), b = qBlue(p);
    switch (h) {
    case Hue::Axis1:
        return b > 150 && b > r + 60;
    case Hue::Axis2:
        return r > 150 && r > g + 60 && r > b + 60;
    case Hue::Mark:
        return r > 150 && g > 150 && b < 100;
    case Hue::Grey:
        return r > 100 && r == g && g == b;
    }
    return false;
}

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

class GuideGraphPanelTest : public ::testing::Test {
protected:
    void SetUp() override { QFile::remove(SettingsStore::filePath()); }
    QString label(CGuideGraphPanel& p, int id) {
        return findControlAs<QLabel>(p.window(), id)->text();
    }
    QWidget view;
    const GuideParams params = loadGuideParams(SuiviPrm{});
};

} // namespace

TEST_F(GuideGraphPanelTest, DrawsCurvesGapsAndRmsOfAScriptedRun) {
    CGuideGraphPanel panel(&view);
    ASSERT_TRUE(panel.create());
    panel.show();
    EXPECT_EQ(panel.scale(), 2);
    panel.runStarted(GuideRunInfo{});
    // Ten images at (+1, -1) px, one star lost, then nineteen at (+-0.5, 0.25).
    std::vector<double> e1, e2;
    for (int i = 0; i < 30; ++i) {
        if (i == 10) {
            panel.guideTicked(lostTick(), params);
            continue;
        }
        const float a = i < 10 ? 1.0f : (i % 2 ? 0.5f : -0.5f);
        const float b = i < 10 ? 1.0f : -0.25f;
        panel.guideTicked(tickOf(a, b), params);
        // The mount's axes at rotation 0: the second runs against the rows.
        e1.push_back(a);
        e2.push_back(-b);
    }
    EXPECT_EQ(label(panel, CGuideGraphPanel::TicksLabel), "30 mesures, 1 rejetée");
    const double total = std::sqrt(sd(e1) * sd(e1) + sd(e2) * sd(e2));
    EXPECT_EQ(label(panel, CGuideGraphPanel::Rms1Label), QString::asprintf("Axe 1 : %.3f", sd(e1)));
    EXPECT_EQ(label(panel, CGuideGraphPanel::Rms2Label), QString::asprintf("Axe 2 : %.3f", sd(e2)));
    EXPECT_EQ(label(panel, CGuideGraphPanel::TotalLabel), QString::asprintf("Total : %.3f", total));

    // Image i sits in the i-th of a hundred slots of the plot; +-2 px fill it.
    const QRect area =
        findControl(panel.window(), CGuideGraphPanel::PlotFrame)->geometry().adjusted(1, 1, -1, -1);
    const double slot = area.width() / 100.0;
    const double zero = area.top() + area.height() / 2.0;
    auto x = [&](double i) { return int(area.left() + (i + 0.5) * slot); };
    auto shot = [&] {
        return panel.window()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    // Whether a colour shows in column cx between rows y0 and y1.
    auto inColumn = [](const QImage& im, int cx, double y0, double y1, Hue c) {
        for (int y = int(y0); y <= int(y1); ++y)
            if (is(im.pixel(cx, y), c))
                return true;
        return false;
    };
    const Hue axis1 = Hue::Axis1, axis2 = Hue::Axis2, mark = Hue::Mark, zeroLine = Hue::Grey;
    const double quarter = area.height() / 4.0;
    QImage im = shot();
    EXPECT_TRUE(inColumn(im, x(5), zero - quarter - 2, zero - quarter + 2, axis1));
    EXPECT_TRUE(inColumn(im, x(5), zero + quarter - 2, zero + quarter + 2, axis2));
    // The lost image: no curve through its slot, a mark on the zero line.
    EXPECT_FALSE(inColumn(im, x(10), area.top(), area.bottom(), axis1));
    EXPECT_FALSE(inColumn(im, x(10), area.top(), area.bottom(), axis2));
    EXPECT_TRUE(inColumn(im, x(10), zero - 3, zero + 3, mark));
    EXPECT_FALSE(inColumn(im, x(5), zero - 3, zero + 3, mark));
    // Past the last image only the zero line.
    EXPECT_TRUE(inColumn(im, x(60), zero - 1, zero + 1, zeroLine));
    EXPECT_FALSE(inColumn(im, x(60), area.top(), area.bottom(), axis1));

    // The +-1 px range: a 1 px error runs along the top edge; the choice is kept.
    QTest::mouseClick(findControlAs<QAbstractButton>(panel.window(), CGuideGraphPanel::FirstScale),
                      Qt::LeftButton);
    EXPECT_EQ(panel.scale(), 1);
    EXPECT_EQ(SettingsStore::getInt("GrapheSuivi", "echelle", -1), 0);
    im = shot();
    EXPECT_TRUE(inColumn(im, x(5), area.top(), area.top() + 5, axis1));
    EXPECT_FALSE(inColumn(im, x(5), zero - quarter - 2, zero - quarter + 2, axis1));
}

TEST_F(GuideGraphPanelTest, HiddenItOnlyKeepsTheHistory) {
    QPoint inside;
    {
        CGuideGraphPanel panel(&view);
        ASSERT_TRUE(panel.create());
        PaintCounter counter;
        panel.window()->installEventFilter(&counter);
        panel.runStarted(GuideRunInfo{});
        for (int i = 0; i < 150; ++i)
            panel.guideTicked(tickOf(0.1f * (i % 7), -0.2f), params);
        QTest::qWait(50);
        EXPECT_EQ(counter.paints, 0);
        EXPECT_EQ(label(panel, CGuideGraphPanel::TicksLabel), "");
        EXPECT_EQ(panel.history().size(), GuideHistory::kCapacity);

        // Shown, it tells the last hundred at once, and remembers where it was.
        panel.show();
        QTest::qWait(50);
        EXPECT_GT(counter.paints, 0);
        EXPECT_EQ(label(panel, CGuideGraphPanel::TicksLabel), "100 mesures");
        panel.window()->move(123, 77);
        inside = panel.window()->geometry().topLeft();
        panel.hide();
    }
    // The window comes back inside its frame where it was; the frame itself
    // is the desktop's to put back once shown.
    CGuideGraphPanel again(&view);
    ASSERT_TRUE(again.create());
    EXPECT_EQ(again.window()->geometry().topLeft(), inside);
}
