#include "ViewZoom.h"

#include <gtest/gtest.h>

TEST(ViewZoom, StepsFitsAndTexts) {
    const struct {
        double from;
        int steps;
        double to;
    } steps[] = {
        {1, 1, 2},       {1, -1, 0.5}, {8, 1, 8},      {0.125, -1, 0.125}, {0.55, 1, 1},
        {0.55, -1, 0.5}, {2, 3, 8},    {1, -4, 0.125}, {4, -2, 1},         {0.5, 2, 2},
    };
    for (const auto& s : steps)
        EXPECT_EQ(zoomStep(s.from, s.steps), s.to) << s.from << " by " << s.steps;

    EXPECT_EQ(fitZoom(QSize(1000, 800), QSize(500, 500)), 0.5);
    EXPECT_EQ(fitZoom(QSize(100, 50), QSize(1000, 1000)), 8);
    // A picture fitted to the window is not a pixel wider than it.
    const double fit = fitZoom(QSize(768, 512), QSize(500, 900));
    EXPECT_EQ(zoomedSize(QSize(768, 512), fit).width(), 500);
    EXPECT_EQ(zoomedSize(QSize(1001, 800), 0.125), QSize(126, 100));

    // The image point under the anchor, (100 + 120) / 1 = 220, is under it
    // at 2 too: (320 + 120) / 2.
    EXPECT_EQ(anchoredScroll(QPointF(100, 60), QPointF(120, 90), 1, 2), QPointF(320, 210));

    EXPECT_EQ(zoomText(1), QStringLiteral("Zoom 100\u00a0%"));
    EXPECT_EQ(zoomText(0.125), QStringLiteral("Zoom 12,5\u00a0%"));
    EXPECT_EQ(zoomText(fit), QStringLiteral("Zoom 65,1\u00a0%"));
    EXPECT_EQ(pixelText(QPoint(12, 7), 65535), QStringLiteral("Pixel (12, 7) : 65535"));
}
