#include "StatsPanel.h"

#include "HistogramPlot.h"
#include "ImageBuffer.h"

#include <QFrame>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr QRgb kRed = 0xFFFF0000u;

QString field(const CStatsPanel& panel, int id) {
    return findControlAs<QLineEdit>(panel.window(), id)->text();
}

void fillImage(ImageBuffer& image, int w, int h, unsigned short value) {
    ASSERT_EQ(image.resize(w, h), 1);
    std::fill_n(image.pixels, std::size_t(w) * h, value);
    image.invalidateStats();
}

} // namespace

TEST(StatsPanel, OpensVisibleWithFieldsInMinimumMeanMaximumOrder) {
    QWidget view;
    ImageBuffer image;
    CStatsPanel panel(&view, &image);
    ASSERT_TRUE(panel.create());
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.window()->objectName(), "CStatsPanel");
    EXPECT_EQ(panel.window()->windowTitle(), "Statistiques");
    const int ids[] = {1026, 1028, 1027}; // left to right
    int lastX = -1;
    for (int id : ids) {
        auto* e = findControlAs<QLineEdit>(panel.window(), id);
        ASSERT_NE(e, nullptr) << id;
        EXPECT_TRUE(e->isReadOnly()) << id;
        EXPECT_GT(e->x(), lastX) << id;
        lastX = e->x();
    }
    auto* frame = findControlAs<QFrame>(panel.window(), 1025);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->pos(), QPoint(0, 0));
}

TEST(StatsPanel, HiddenPanelComputesNothingAndVisibleOneShowsTheFigures) {
    QWidget view;
    ImageBuffer image;
    fillImage(image, 100, 100, 9000);
    image.pixels[16 * 100 + 16] = 300;   // minimum, inside the measured area
    image.pixels[83 * 100 + 83] = 60000; // maximum
    image.pixels[0] = 0;                 // border: never measured
    image.invalidateStats();
    CStatsPanel panel(&view, &image);
    ASSERT_TRUE(panel.create());
    panel.hide();
    panel.refreshStats();
    EXPECT_FALSE(image.stats.valid) << "a hidden panel must not start the scan";
    EXPECT_EQ(field(panel, 1026), "");

    panel.show();
    panel.refreshStats();
    EXPECT_TRUE(image.stats.valid);
    const int mean = int((9000.0 * (68 * 68 - 2) + 300 + 60000) / (68 * 68));
    EXPECT_EQ(field(panel, 1026), "300");
    EXPECT_EQ(field(panel, 1028), QString::number(mean));
    EXPECT_EQ(field(panel, 1027), "60000");

    // A new image shows at the next refresh; while hidden the old figures stay.
    fillImage(image, 64, 64, 1234);
    panel.hide();
    panel.refreshStats();
    EXPECT_FALSE(image.stats.valid);
    EXPECT_EQ(field(panel, 1027), "60000");
    panel.show();
    panel.refreshStats();
    for (int id : {1026, 1027, 1028})
        EXPECT_EQ(field(panel, id), "1234") << id;
}

TEST(StatsPanel, NoImageLeavesTheFieldsEmpty) {
    QWidget view;
    ImageBuffer image; // no pixels yet
    CStatsPanel panel(&view, &image);
    ASSERT_TRUE(panel.create());
    panel.refreshStats();
    EXPECT_FALSE(image.stats.valid);
    for (int id : {1026, 1027, 1028})
        EXPECT_EQ(field(panel, id), "") << id;
    panel.window()->grab(); // paints without an image
    EXPECT_FALSE(image.stats.valid);
}

TEST(StatsPanel, PaintsRedBarsScaledToTheFullestBin) {
    QWidget view;
    ImageBuffer image;
    CStatsPanel panel(&view, &image);
    ASSERT_TRUE(panel.create());
    auto* frame = findControlAs<QFrame>(panel.window(), 1025);
    const int w = frame->contentsRect().width();
    const int h = frame->contentsRect().height();
    ASSERT_GT(h, 20);
    // Three columns well inside the frame and the bins they show.
    const int xFull = w / 2, xHalf = w / 4, xEmpty = 3 * w / 4;
    const int binFull = histogramColumnBin(xFull, w);
    const int binHalf = histogramColumnBin(xHalf, w);
    ASSERT_NE(binFull, binHalf);
    ASSERT_NE(histogramColumnBin(xEmpty, w), binHalf);

    // Measured area 68 x 68: 45 columns in the full bin, 23 in the half bin; the border sits in the
    // bin of the empty column and must not show.
    fillImage(image, 100, 100, static_cast<unsigned short>(histogramColumnBin(xEmpty, w) * 256));
    for (int y = 16; y < 84; ++y)
        for (int x = 16; x < 84; ++x)
            image.pixels[y * 100 + x] =
                static_cast<unsigned short>((x < 16 + 45 ? binFull : binHalf) * 256 + 7);
    panel.refreshStats();
    const float* hist = image.getHistogram();
    ASSERT_EQ(hist[binFull], 1.0f);
    ASSERT_NEAR(hist[binHalf], 0.5f, 0.02f);

    const QImage img = panel.window()->grab().toImage();
    auto red = [&](int x, int y) { return img.pixel(x, y) == kRed; };
    const int halfTop = histogramBarTop(hist[binHalf], h);
    const struct {
        int x, y;
        bool isRed;
        const char* what;
    } probes[] = {
        {xFull, 1, true, "full bar at the top"},
        {xFull, h, true, "full bar on the bottom row"},
        {xHalf, halfTop + 1, true, "half bar just below its top"},
        {xHalf, h - 2, true, "half bar near the bottom"},
        {xHalf, halfTop, false, "the top itself is left out"},
        {xHalf, halfTop - 2, false, "above the half bar"},
        {xEmpty, h - 2, false, "empty bin"},
        {xEmpty, h / 2, false, "empty bin"},
    };
    for (const auto& p : probes)
        EXPECT_EQ(red(p.x, p.y), p.isRed) << p.what << " at " << p.x << "," << p.y;
    EXPECT_FALSE(red(xFull, h + 4)) << "nothing below the frame";
}
