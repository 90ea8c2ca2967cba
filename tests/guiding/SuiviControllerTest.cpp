#include "SuiviController.h"
#include "GuidingTestImages.h"
#include "MountLine.h"
#include "SuiviPanel.h"
#include "common/ModalWatcher.h"

#include <QTest>

namespace {

// Shows the parameters dialog through the controller and closes it with OK or
// Cancel, after typing the given edits.
void editParams(CSuiviController& c, bool ok, std::vector<std::pair<int, QString>> edits = {}) {
    ModalWatcher watcher([&](QWidget* w) {
        QTimer::singleShot(0, qApp, [w, ok, edits] {
            for (const auto& [id, value] : edits)
                findControlAs<QLineEdit>(w, id)->setText(value);
            QTest::mouseClick(findControlAs<QPushButton>(w, ok ? 1 : 2), Qt::LeftButton);
        });
        return true;
    });
    c.editParams();
    ASSERT_EQ(watcher.seen().size(), 1u);
    EXPECT_EQ(watcher.seen()[0].className, "CSuiviPrmDialog");
}

// A one-pixel star at (100, 50): with the marker there the reference is
// exactly (100, 50) and the threshold 900.
void startImage(ImageBuffer& image) {
    makeImage(image, 200, 120);
    px(image, 100, 50) = 1000;
}

// Light whose centroid is (x0 + 0.5, y0 + 0.75): two columns of equal weight,
// the lower row three times the upper one.
void offsetStar(ImageBuffer& image, int x0, int y0) {
    makeImage(image, 200, 120);
    px(image, x0, y0) = px(image, x0 + 1, y0) = 1000;
    px(image, x0, y0 + 1) = px(image, x0 + 1, y0 + 1) = 3000;
}

class SuiviControllerTest : public MountLineFixture {
protected:
    void SetUp() override {
        MountLineFixture::SetUp();
        controller.createPanels(&view, camera.get(), [](int) {});
    }
    QString shown(int id) {
        return findControlAs<QLineEdit>(controller.panel()->window(), id)->text();
    }
    std::vector<QString> measure() { return {shown(1050), shown(1056), shown(1051)}; }
    void start() {
        startImage(image);
        controller.startGuiding(image, 100, 50, true);
        ASSERT_EQ(controller.zone(), (GuideZone{95, 105, 45, 55}));
    }

    QWidget view;
    CSuiviController controller;
    ImageBuffer image;
};

} // namespace

TEST_F(SuiviControllerTest, TickSendsTheCorrectionTheParametersGive) {
    // The star moved by (0.5, -0.25).
    struct Row {
        std::vector<std::pair<int, QString>> edits; // typed in the dialog
        std::vector<int> checks;                    // check boxes ticked
        int x, y;
    };
    const Row rows[] = {
        {{}, {}, -50, -25},
        {{}, {1002}, 51, -25},
        {{}, {1002, 1062}, -25, 51},
        {{}, {1060}, -50, 26},
        {{{1049, "5"}, {1050, "3"}}, {}, -55, -28},
        {{{1046, "10"}, {1047, "40"}}, {}, -5, -10},
        // 90 / 57.3 falls a little short of a right angle: d1 = 0.000116 ex + ey.
        {{{1048, "90"}}, {}, 24, -50},
    };
    for (const Row& r : rows) {
        QFile::remove(SettingsStore::filePath());
        ModalWatcher watcher([&](QWidget* w) {
            QTimer::singleShot(0, qApp, [w, &r] {
                for (const auto& [id, value] : r.edits)
                    findControlAs<QLineEdit>(w, id)->setText(value);
                for (int id : r.checks)
                    findControlAs<QCheckBox>(w, id)->setChecked(true);
                QTest::mouseClick(findControlAs<QPushButton>(w, 1), Qt::LeftButton);
            });
            return true;
        });
        controller.editParams();
        start();
        offsetStar(image, 100, 49);
        controller.guideTick(image);
        EXPECT_EQ(sent(), moveFrames(r.x, r.y)) << "expecting " << r.x << "," << r.y;
        EXPECT_EQ(measure(), (std::vector<QString>{"0.500", "-0.250", "1000"}));
        EXPECT_EQ(controller.zone(), (GuideZone{95, 105, 44, 54})) << "recentred on (100, 49)";
    }
}

TEST_F(SuiviControllerTest, ZoneFollowsTheStarAndJumpsAreDropped) {
    editParams(controller, true, {{1053, "5"}}); // maximum move 5 pixels
    start();
    const struct {
        int starX, starY; // upper-left of the offset star, -1: no light at all
        bool corrected;
        GuideZone zone;
        std::vector<QString> shows;
    } ticks[] = {
        {102, 50, true, {97, 107, 45, 55}, {"2.500", "0.750", "1000"}},
        // Outside the first zone but inside the one that followed the star.
        {104, 51, true, {99, 109, 46, 56}, {"4.500", "1.750", "1000"}},
        // 6.5 pixels from the reference: dropped, the zone goes back.
        {106, 51, false, {95, 105, 45, 55}, {"0.000", "0.000", "1000"}},
        {101, 50, true, {96, 106, 45, 55}, {"1.500", "0.750", "1000"}},
        // The star vanished: nothing counts, the level shown is 0.
        {-1, -1, false, {95, 105, 45, 55}, {"0.000", "0.000", "0"}},
    };
    for (const auto& t : ticks) {
        if (t.starX < 0)
            makeImage(image, 200, 120);
        else
            offsetStar(image, t.starX, t.starY);
        controller.guideTick(image);
        const Bytes bytes = sent();
        EXPECT_EQ(!bytes.empty(), t.corrected) << t.starX;
        EXPECT_EQ(controller.zone(), t.zone) << t.starX;
        EXPECT_EQ(measure(), t.shows) << t.starX;
    }
}

TEST_F(SuiviControllerTest, CancelStillReloadsWhatTheDialogRead) {
    writeSuiviPrm({{"gain1", 200}, {"cadence", 250}});
    editParams(controller, false, {{1046, "7"}, {1051, "9"}});
    EXPECT_DOUBLE_EQ(controller.cadenceSeconds(), 0.25);
    start();
    offsetStar(image, 100, 49);
    controller.guideTick(image);
    EXPECT_EQ(sent(), moveFrames(-100, -25));
    EXPECT_EQ(SettingsStore::getInt("SuiviPrm", "gain1", 0), 200) << "Cancel writes nothing";
}

TEST_F(SuiviControllerTest, CadenceIsMilliseconds) {
    for (const char* cadence : {"1000", "40", "0"}) {
        editParams(controller, true, {{1051, cadence}});
        EXPECT_DOUBLE_EQ(controller.cadenceSeconds(), QString(cadence).toInt() * 0.001) << cadence;
    }
}
