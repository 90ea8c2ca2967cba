#include "SuiviPanel.h"
#include "MountLine.h"
#include "SuiviController.h"
#include "SuiviPrmDialog.h"

#include <QTest>

namespace {

QString text(CSuiviPanel* panel, int id) {
    return findControlAs<QLineEdit>(panel->window(), id)->text();
}

class SuiviPanelTest : public MountLineFixture {
protected:
    void SetUp() override {
        MountLineFixture::SetUp();
        controller.createPanels(&view, camera.get(), [this](int c) { posted.push_back(c); });
        panel = controller.panel();
        ASSERT_NE(panel, nullptr);
    }
    void click(int id) {
        QTest::mouseClick(findControlAs<QPushButton>(panel->window(), id), Qt::LeftButton);
    }

    QWidget view;
    CSuiviController controller;
    CSuiviPanel* panel = nullptr;
    std::vector<int> posted;
};

} // namespace

TEST_F(SuiviPanelTest, MadeOnceAndHiddenWithEmptyReadOnlyFields) {
    ASSERT_NE(panel->window(), nullptr) << "the window is made at once";
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(panel->window()->objectName(), "CSuiviPanel");
    EXPECT_EQ(panel->window()->windowTitle(), "Suivi");
    for (int id : {1050, 1056, 1051}) {
        auto* e = findControlAs<QLineEdit>(panel->window(), id);
        ASSERT_NE(e, nullptr) << id;
        EXPECT_TRUE(e->isReadOnly()) << id;
        EXPECT_TRUE(e->alignment() & Qt::AlignRight) << id;
        EXPECT_EQ(e->text(), "") << id;
    }
    CSuiviPrmDialog* dialog = controller.dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->window(), nullptr) << "the dialog's window exists only while shown";
    controller.createPanels(&view, camera.get(), [](int) {});
    EXPECT_EQ(controller.panel(), panel) << "a later initial update makes nothing new";
    EXPECT_EQ(controller.dialog(), dialog);
}

TEST_F(SuiviPanelTest, ShowMeasureFormatsErrorsAndLevel) {
    const struct {
        float e1, e2;
        unsigned short level;
        const char *t1, *t2, *tl;
    } cases[] = {{0.5f, -1.25f, 1234, "0.500", "-1.250", "1234"},
                 {0.0f, 0.0f, 0, "0.000", "0.000", "0"},
                 {12.3456f, -0.0004f, 65535, "12.346", "-0.000", "65535"}};
    for (const auto& c : cases) {
        panel->showMeasure(c.e1, c.e2, c.level);
        EXPECT_EQ(text(panel, 1050), c.t1);
        EXPECT_EQ(text(panel, 1056), c.t2);
        EXPECT_EQ(text(panel, 1051), c.tl);
    }
    panel->show();
    panel->hide();
    EXPECT_EQ(text(panel, 1051), "65535") << "hiding keeps the last measure";
}

TEST_F(SuiviPanelTest, StartStopAndParametersPostTheirCommands) {
    panel->show();
    click(1049);
    click(1047);
    click(1048);
    EXPECT_EQ(posted, (std::vector<int>{32788, 1047, 1048}));
    EXPECT_TRUE(sent().empty()) << "these buttons do not move the mount";
}

TEST_F(SuiviPanelTest, MoveButtonsReadTheStoreAtEachClick) {
    enum { Haut = 1052, Bas = 1053, Gauche = 1054, Droite = 1055 };
    struct Row {
        std::vector<std::pair<const char*, int>> store; // written over an empty section
        int button;
        int x, y; // the deplacement call
    };
    const Row rows[] = {
        // Empty store: "gt" reads as 100 here.
        {{}, Haut, 0, 10000},
        {{}, Bas, 0, -9999},
        {{}, Gauche, 10000, 0},
        {{}, Droite, -9999, 0},
        // As the dialog writes them by default.
        {{{"gt", 50}, {"gain1", 100}}, Haut, 0, 5000},
        {{{"gt", 50}, {"gain1", 100}, {"Inv1", 1}}, Haut, 0, -4999},
        {{{"gt", 50}, {"gain1", 100}, {"Inv1", 1}, {"Inv12", 1}}, Haut, -4999, 0},
        // Vertical buttons use gain 1 on the second argument, horizontal ones
        // gain 2 on the first.
        {{{"gt", 2}, {"gain1", 3}, {"gain2", 5}}, Haut, 0, 6},
        {{{"gt", 2}, {"gain1", 3}, {"gain2", 5}}, Bas, 0, -5},
        {{{"gt", 2}, {"gain1", 3}, {"gain2", 5}}, Gauche, 10, 0},
        {{{"gt", 2}, {"gain1", 3}, {"gain2", 5}}, Droite, -9, 0},
        {{{"gt", 2}, {"gain1", 3}, {"gain2", 5}, {"Inv12", 1}}, Haut, 6, 0},
        {{{"gt", 2}, {"gain1", 3}, {"gain2", 5}, {"Inv12", 1}}, Droite, 0, -9},
        {{{"gt", 2}, {"gain1", 3}, {"gain2", 5}, {"Inv2", 1}}, Gauche, -9, 0},
        {{{"gt", 2}, {"gain1", 3}, {"gain2", 5}, {"Inv2", 1}}, Haut, 0, 6},
        // gt = 0: the plain buttons send nothing, the reverse ones 1 - 0.
        {{{"gt", 0}}, Haut, 0, 0},
        {{{"gt", 0}}, Bas, 0, 1},
        {{{"gt", 0}}, Gauche, 0, 0},
        {{{"gt", 0}}, Droite, 1, 0},
        {{{"gt", 0}, {"Inv1", 1}}, Haut, 0, 1},
        {{{"gt", 0}, {"Inv1", 1}}, Bas, 0, 0},
        {{{"gt", 0}, {"Inv2", 1}}, Gauche, 1, 0},
        {{{"gt", 0}, {"Inv2", 1}}, Droite, 0, 0},
    };
    panel->show();
    for (const Row& r : rows) {
        QFile::remove(SettingsStore::filePath());
        for (const auto& [key, value] : r.store)
            SettingsStore::writeInt("SuiviPrm", key, value);
        click(r.button);
        EXPECT_EQ(sent(), moveFrames(r.x, r.y)) << r.button << " expecting " << r.x << "," << r.y;
    }
    EXPECT_TRUE(posted.empty());
}

TEST(MountFrames, EncodingUsedByTheseTests) {
    // The test's own encoder against frames written out by hand.
    EXPECT_EQ(moveFrames(-50, -25),
              (Bytes{0x30, 0x00, 0x42, 0x00, 0x33, 0x30, 0x00, 0x48, 0x00, 0x1A}));
    EXPECT_EQ(moveFrames(10000, 0), (Bytes{0x30, 0x00, 0x41, 0x27, 0x10}));
    EXPECT_TRUE(moveFrames(0, 0).empty());
}
