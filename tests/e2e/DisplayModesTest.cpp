// Images from the camera simulator shown in the four display modes, with the
// Visu and statistics panels open. With ZERMIC_SCREENSHOT_DIR set, each mode's
// screen is saved there as mode-<name>.png (scripts/screenshot).
#include "../app/AppFixture.h"
#include "CommandIds.h"
#include "SettingsStore.h"
#include "StatsPanel.h"
#include "VisuPanel.h"

#include "common/CamsimProcess.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QScreen>
#include <QSlider>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

bool isGrey(QRgb c) {
    return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c);
}

class DisplayModes : public AppFixture {
protected:
    void SetUp() override {
        // A 768 x 512 window of 1 s, quick with the simulator's time scale;
        // the port as a user sets it in the camera dialog.
        SettingsStore::writeInt("AcqPrm", "pause_s", 1);
        SettingsStore::writeInt("AcqPrm", "pause_cs", 0);
        SettingsStore::writeInt("AcqPrm", "img_w", 768);
        SettingsStore::writeInt("AcqPrm", "img_h", 512);
        SettingsStore::writeInt("AcqPrm", "prm2", 2);
    }

    // Starts the simulator on COM2 with that scene and waits for its link.
    std::unique_ptr<CamsimProcess> startCamsim(const std::string& scene) {
        auto sim = std::make_unique<CamsimProcess>(std::vector<std::string>{
            "--port", "2", "--time-scale", "0.05", "--scene", scene, "--seed", "3"});
        EXPECT_NE(sim->readLine(10000).find("camsim: COM2"), std::string::npos);
        return sim;
    }

    // "Acquerir", with OK pressed in the camera dialog of the first image.
    void acquire(int width = 768, int height = 512) {
        std::vector<QString> boxes;
        ModalWatcher watcher([&](QWidget* w) {
            if (w->objectName() != "CAcqPrmDlg")
                return false;
            later([w] { press(w, 1); });
            return true;
        });
        action(cmd::AcquireOne)->trigger();
        for (const ModalWatcher::Seen& s : watcher.seen())
            if (s.className == "QMessageBox")
                ADD_FAILURE() << s.text.toStdString();
        ASSERT_EQ(doc().image.width, width);
        ASSERT_EQ(doc().image.height, height);
    }

    void pressMode(int button) {
        QTest::mouseClick(findControlAs<QAbstractButton>(view().visuPanel()->window(), button),
                          Qt::LeftButton);
    }

    // The brightness slider taken down a page at a time with the keyboard, as
    // a user brings the sky's background out of the black: each key's release
    // redraws the picture.
    void lowerBrightness(int target) {
        auto* slider =
            findControlAs<QSlider>(view().visuPanel()->window(), CVisuPanel::BrightnessSlider);
        slider->setFocus();
        Qt::Key key = Qt::Key_PageDown;
        QTest::keyClick(slider, key);
        if (slider->value() > 128)
            key = Qt::Key_PageUp;
        while (slider->value() > target)
            QTest::keyClick(slider, key);
    }

    // The viewport's picture of the image's top-left corner as it shows now.
    QImage picture() {
        return view().viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    // Both panels in view, then the whole screen as the user sees it, kept as
    // mode-<name>.png when asked for.
    void showAndShoot(const QString& name) {
        view().visuPanel()->show();
        view().statsPanel()->show();
        view().statsPanel()->refreshStats();
        view().viewport()->update();
        QTest::qWait(300);
        EXPECT_TRUE(view().visuPanel()->isVisible());
        EXPECT_TRUE(view().statsPanel()->isVisible());
        int minimum = 0, maximum = 0, mean = 0;
        doc().image.getStats(minimum, maximum, mean);
        auto field = [this](int id) {
            return findControlAs<QLineEdit>(view().statsPanel()->window(), id)->text();
        };
        EXPECT_EQ(field(CStatsPanel::MinimumField), QString::number(minimum));
        EXPECT_EQ(field(CStatsPanel::MeanField), QString::number(mean));
        EXPECT_EQ(field(CStatsPanel::MaximumField), QString::number(maximum));
        EXPECT_LT(minimum, maximum);

        const char* folder = std::getenv("ZERMIC_SCREENSHOT_DIR");
        if (!folder)
            return;
        const QPixmap shot = QGuiApplication::platformName() == "offscreen"
                                 ? frame().grab()
                                 : QGuiApplication::primaryScreen()->grabWindow(0);
        const QString path =
            QString::fromLocal8Bit(folder) + QStringLiteral("/mode-%1.png").arg(name);
        EXPECT_TRUE(shot.save(path)) << path.toStdString();
    }
};

} // namespace

TEST_F(DisplayModes, StarFieldInTheThreeEightBitModes) {
    auto camsim = startCamsim("stars");
    ASSERT_TRUE(start());
    acquire();
    pressMode(CVisuPanel::NormalButton);
    const QImage atDefaultWindow = picture();
    lowerBrightness(32);
    const QImage normal = picture();
    EXPECT_NE(normal, atDefaultWindow);
    EXPECT_EQ(view().displayBitmap().format(), QImage::Format_Indexed8);
    showAndShoot("normal");

    pressMode(CVisuPanel::NegativeButton);
    const QImage negative = picture();
    showAndShoot("negative");

    pressMode(CVisuPanel::FalseColourButton);
    const QImage falseColour = picture();
    EXPECT_EQ(view().displayBitmap().format(), QImage::Format_Indexed8);
    showAndShoot("false-colour");

    // Over the visible part of the image: grey, its exact inverse, and a
    // false-colour picture that is coloured where the grey one is mid-dark.
    const int w = std::min(normal.width(), 768), h = std::min(normal.height(), 512);
    int nonGreyNormal = 0, notInverse = 0, levels = 0, greyFalse = 0, lit = 0;
    QList<int> seen(256, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb n = normal.pixel(x, y);
            nonGreyNormal += !isGrey(n);
            notInverse +=
                qRed(negative.pixel(x, y)) != 255 - qRed(n) || !isGrey(negative.pixel(x, y));
            if (!seen[qRed(n)]++)
                ++levels;
            // The false-colour ramps cross at white from level 128 on.
            if (qRed(n) > 64 && qRed(n) < 120) {
                ++lit;
                greyFalse += isGrey(falseColour.pixel(x, y));
            }
        }
    EXPECT_EQ(nonGreyNormal, 0);
    EXPECT_EQ(notInverse, 0);
    // A sky, not a flat field: many levels on screen.
    EXPECT_GT(levels, 16);
    EXPECT_GT(lit, 0);
    EXPECT_EQ(greyFalse, 0);

    // A click leaves the magenta marker frame; the next image takes it away.
    // With the statistics hidden the new image's figures are never computed.
    const QColor magenta(255, 0, 255);
    QTest::mouseClick(view().viewport(), Qt::LeftButton, {}, QPoint(200, 150));
    EXPECT_EQ(picture().pixelColor(197, 147), magenta);
    action(cmd::ShowStats)->trigger();
    ASSERT_FALSE(view().statsPanel()->isVisible());
    acquire();
    const QImage next = picture();
    EXPECT_FALSE(view().markerSet());
    int magentaLeft = 0;
    for (int y = 0; y < next.height(); ++y)
        for (int x = 0; x < next.width(); ++x)
            magentaLeft += next.pixelColor(x, y) == magenta;
    EXPECT_EQ(magentaLeft, 0);
    view().viewport()->repaint();
    EXPECT_FALSE(doc().image.stats.valid);
}

TEST_F(DisplayModes, ColourMosaicInColourMode) {
    auto camsim = startCamsim("mosaic");
    ASSERT_TRUE(start());
    acquire();
    lowerBrightness(32);
    pressMode(CVisuPanel::ColourButton);
    const QImage colour = picture();
    EXPECT_EQ(view().displayBitmap().format(), QImage::Format_BGR888);
    EXPECT_EQ(view().displayBitmap().width(), 768);
    showAndShoot("colour");

    int coloured = 0;
    for (int y = 0; y < std::min(colour.height(), 511); ++y)
        for (int x = 0; x < std::min(colour.width(), 768); ++x)
            coloured += !isGrey(colour.pixel(x, y));
    EXPECT_GT(coloured, 0);
}

TEST_F(DisplayModes, AutoShowsTheFirstImageOfTheRunScriptInEachMode) {
    // What the run script gives: the whole sensor for one second, the star
    // field of the simulator's first seed.
    SettingsStore::writeInt("AcqPrm", "img_w", 1280);
    SettingsStore::writeInt("AcqPrm", "img_h", 1024);
    CamsimProcess camsim({"--port", "2", "--time-scale", "0.05"});
    ASSERT_NE(camsim.readLine(10000).find("camsim: COM2"), std::string::npos);
    ASSERT_TRUE(start());
    action(cmd::AutoLevelsOnNewImage)->trigger();
    ASSERT_TRUE(action(cmd::AutoLevelsOnNewImage)->isChecked());

    const struct {
        int button;
        const char* name;
    } modes[] = {{CVisuPanel::NormalButton, "normal"},
                 {CVisuPanel::NegativeButton, "negative"},
                 {CVisuPanel::FalseColourButton, "false-colour"},
                 {CVisuPanel::ColourButton, "colour"}};
    for (const auto& m : modes) {
        SCOPED_TRACE(m.name);
        pressMode(m.button);
        acquire(1280, 1024);
        EXPECT_NE(view().visuPanel()->brightness(), 128);
        // The sky, most of the picture, is a dark grey: neither black nor
        // white, lighter than black in the negative.
        const QImage shown = picture();
        std::vector<int> greys;
        for (int y = 0; y < std::min(shown.height(), 400); y += 3)
            for (int x = 0; x < std::min(shown.width(), 600); x += 3)
                greys.push_back(qGray(shown.pixel(x, y)));
        std::nth_element(greys.begin(), greys.begin() + greys.size() / 2, greys.end());
        const int sky = greys[greys.size() / 2];
        if (m.button == CVisuPanel::NegativeButton) {
            EXPECT_GT(sky, 255 - 90);
            EXPECT_LT(sky, 255 - 20);
        } else if (m.button == CVisuPanel::NormalButton) {
            EXPECT_GT(sky, 20);
            EXPECT_LT(sky, 90);
        } else {
            EXPECT_GT(sky, 0);
        }
        showAndShoot(QStringLiteral("auto-%1").arg(QString::fromLatin1(m.name)));
    }
}
