#include "WindowPlacement.h"
#include "Dialog.h"
#include "SettingsStore.h"

#include <QApplication>
#include <QFile>
#include <gtest/gtest.h>

namespace {

class PlacedPanel : public CPanel {
public:
    explicit PlacedPanel(QWidget* parent)
        : CPanel(parent, "CPlacedPanel", QStringLiteral("Panneau"), 60, 40) {}

protected:
    void createControls(ControlBuilder&) override {}
};

} // namespace

TEST(WindowPlacement, KeptWhereItsTopCanBeGrabbedElseBroughtOntoThePrimaryScreen) {
    const QList<QRect> screens = {QRect(0, 0, 1280, 800), QRect(1280, 0, 1920, 1080)};
    const struct {
        const char* what;
        QRect stored;
        QRect kept;
    } cases[] = {
        {"on the primary", {100, 50, 400, 300}, {100, 50, 400, 300}},
        {"on the second screen", {2000, 700, 400, 300}, {2000, 700, 400, 300}},
        {"across both", {1100, 10, 400, 300}, {1100, 10, 400, 300}},
        {"40 px of its top left", {-360, 10, 400, 300}, {-360, 10, 400, 300}},
        {"20 px of its top left", {-380, 10, 400, 300}, {0, 10, 400, 300}},
        {"top above every screen", {100, -100, 400, 300}, {100, 0, 400, 300}},
        {"below the primary, beside the taller second", {100, 900, 400, 300}, {100, 500, 400, 300}},
        {"far away", {5000, 5000, 400, 300}, {880, 500, 400, 300}},
        {"larger than the primary", {-3000, 0, 2000, 1000}, {0, 0, 1280, 800}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(keptOnScreens(c.stored, screens), c.kept) << c.what;
    EXPECT_EQ(keptOnScreens(QRect(5000, 0, 10, 10), {}), QRect(5000, 0, 10, 10));
}

// The shown or hidden state comes back as the user left it: the program's
// quit, which closes every window, does not count as hiding a panel.
TEST(WindowPlacement, PanelComesBackWhereAndAsTheUserLeftIt) {
    QWidget parent;
    for (const bool leftShown : {true, false}) {
        SCOPED_TRACE(leftShown ? "left shown" : "left hidden");
        QFile::remove(SettingsStore::filePath());
        {
            PlacedPanel panel(&parent);
            ASSERT_TRUE(panel.create(0, 0, true));
            panel.window()->move(210, 130);
            if (!leftShown)
                panel.hide();
            QApplication::closeAllWindows();
        }
        PlacedPanel again(&parent);
        ASSERT_TRUE(again.create(0, 0, !leftShown));
        EXPECT_TRUE(again.placeRestored());
        EXPECT_EQ(again.isVisible(), leftShown);
        // Where it shows, framed.
        again.show();
        EXPECT_EQ(again.window()->pos(), QPoint(210, 130));
    }
}
