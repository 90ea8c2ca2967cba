// The camera driver library against the simulator, through a pseudo-terminal:
// what the program does at the telescope, without the program.
#include "CCamera.h"
#include "SettingsStore.h"

#include "common/CamsimProcess.h"
#include "common/ModalWatcher.h"

#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

struct Star {
    double x = 0, y = 0, peak = 0;
};

double median(std::vector<unsigned short> img) {
    std::nth_element(img.begin(), img.begin() + img.size() / 2, img.end());
    return img[img.size() / 2];
}

// Background-subtracted centroid of the star within `radius` of (cx, cy),
// counting the pixels above a third of its peak.
Star centroidNear(const std::vector<unsigned short>& img, int w, int h, int cx, int cy,
                  int radius) {
    const double background = median(img);
    const int x0 = std::max(0, cx - radius), x1 = std::min(w - 1, cx + radius);
    const int y0 = std::max(0, cy - radius), y1 = std::min(h - 1, cy + radius);
    double peak = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            peak = std::max(peak, img[std::size_t(y) * w + x] - background);
    double s = 0, sx = 0, sy = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const double v = img[std::size_t(y) * w + x] - background;
            if (v > peak / 3) {
                s += v;
                sx += v * x;
                sy += v * y;
            }
        }
    return {sx / s, sy / s, peak};
}

// The brightest 5 x 5 block away from the edges: a star, not a hot pixel.
Star brightestStar(const std::vector<unsigned short>& img, int w, int h) {
    const int margin = 16;
    auto block = [&](int cx, int cy) {
        long sum = 0;
        for (int y = cy - 2; y <= cy + 2; ++y)
            for (int x = cx - 2; x <= cx + 2; ++x)
                sum += img[std::size_t(y) * w + x];
        return sum;
    };
    int px = margin, py = margin;
    long best = -1;
    for (int y = margin; y < h - margin; ++y)
        for (int x = margin; x < w - margin; ++x)
            if (const long b = block(x, y); b > best) {
                best = b;
                px = x;
                py = y;
            }
    return centroidNear(img, w, h, px, py, 6);
}

// The acquisition parameters dialog, confirmed with OK as the user would.
int confirmParameters(CCamera& camera) {
    ModalWatcher watcher([](QWidget* w) {
        if (w->objectName() != "CAcqPrmDlg")
            return false;
        QTimer::singleShot(0, w, [w] { w->findChild<QPushButton*>("id1")->click(); });
        return true;
    });
    return camera.getAcqPrm(nullptr);
}

} // namespace

TEST(CamsimWithDriver, AcquiresTheSimulatedSkyAndMovesIt) {
    CamsimProcess sim({"--port", "2", "--time-scale", "0.05", "--seed", "7"});
    ASSERT_EQ(sim.readLine().rfind("camsim: COM2 -> /dev/pts/", 0), 0u);

    // A 320 x 240 window at binning 1, 2 s (0.1 s at the simulator's speed), raw images (no dark
    // subtraction).
    const std::pair<const char*, int> settings[] = {
        {"img_w", 320}, {"img_h", 240},  {"img_x0", 400}, {"img_y0", 300}, {"binning", 1},
        {"pause_s", 2}, {"pause_cs", 0}, {"option4", 1},  {"prm2", 2},     {"bdt", 90}};
    for (const auto& [key, value] : settings)
        SettingsStore::writeInt("AcqPrm", key, value);

    auto camera = std::make_unique<CCamera>();
    ASSERT_EQ(confirmParameters(*camera), 1);
    ASSERT_EQ(camera->getWidth(), 320);
    ASSERT_EQ(camera->getHeight(), 240);
    EXPECT_EQ(camera->reglage(), 0);

    const int w = camera->getWidth(), h = camera->getHeight();
    std::vector<unsigned short> first(std::size_t(w) * h, 0xDEAD);
    ASSERT_EQ(camera->acquerir(first.data()), 0);
    EXPECT_EQ(std::count(first.begin(), first.end(), 0xDEAD), 0) << "every pixel was written";
    const Star a = brightestStar(first, w, h);
    EXPECT_GT(a.peak, 20 * 128) << "a star stands well above the sky background";

    // 150 units on the first axis at 0.01 px per unit: 1.5 px to the right.
    camera->deplacement(150, 0);
    std::vector<unsigned short> second(first.size());
    ASSERT_EQ(camera->acquerir(second.data()), 0);
    const Star b = centroidNear(second, w, h, int(a.x), int(a.y), 8);
    EXPECT_NEAR(b.x - a.x, 1.5, 0.25);
    EXPECT_NEAR(b.y - a.y, 0.0, 0.25);

    // The reverse move on the second axis: -149 goes out as 150 in the negative direction, down the
    // image.
    camera->deplacement(0, -149);
    ASSERT_EQ(camera->acquerir(second.data()), 0);
    const Star c = centroidNear(second, w, h, int(b.x), int(b.y), 8);
    EXPECT_NEAR(c.x - b.x, 0.0, 0.25);
    EXPECT_NEAR(c.y - b.y, 1.5, 0.25);
}
