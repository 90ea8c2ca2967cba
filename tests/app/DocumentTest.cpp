// The document, the recent-file list, the information panel and the enabling
// rules of the view's commands, each without a camera.
#include "CInfoPanel.h"
#include "CZermicDoc.h"
#include "CommandIds.h"
#include "RecentFileList.h"
#include "SettingsStore.h"
#include "ViewCommands.h"

#include "common/ModalWatcher.h"
#include "common/TempDir.h"

#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <gtest/gtest.h>

#include <fstream>

namespace {

void fill(ImageBuffer& image, int w, int h) {
    ASSERT_EQ(image.resize(w, h), 1);
    for (int i = 0; i < w * h; ++i)
        image.pixels[i] = static_cast<unsigned short>(i * 7);
}

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

TEST(Document, NewKeepsImageAndTimeButResetsTitleAndPath) {
    TempDir dir;
    CZermicDoc doc;
    fill(doc.image, 6, 4);
    doc.acquisitionTime = 1234;
    ASSERT_TRUE(doc.onSaveDocument(q(dir.file("a.fit"))));
    doc.setPathName(q(dir.file("a.fit")));
    doc.setModifiedFlag();
    EXPECT_EQ(doc.title(), "a.fit");

    unsigned short* const before = doc.image.pixels;
    doc.onNewDocument();
    EXPECT_EQ(doc.title(), "Sans titre");
    EXPECT_TRUE(doc.pathName().isEmpty());
    EXPECT_FALSE(doc.isModified());
    EXPECT_EQ(doc.image.pixels, before);
    EXPECT_EQ(doc.image.pixels[5], 35);
    EXPECT_EQ(doc.acquisitionTime, 1234);
}

TEST(Document, SavedFitsOpensBackWithTheSamePixels) {
    TempDir dir;
    CZermicDoc doc;
    fill(doc.image, 37, 11);
    doc.setModifiedFlag();
    const QString path = q(dir.file("round.fit"));
    ASSERT_TRUE(doc.onSaveDocument(path));
    EXPECT_FALSE(doc.isModified());

    CZermicDoc other;
    ASSERT_TRUE(other.onOpenDocument(path));
    ASSERT_NE(other.image.pixels, nullptr);
    EXPECT_EQ(other.image.width, 37);
    EXPECT_EQ(other.image.height, 11);
    for (int i = 0; i < 37 * 11; ++i)
        ASSERT_EQ(other.image.pixels[i], doc.image.pixels[i]) << i;
    EXPECT_EQ(other.title(), "round.fit");
    EXPECT_EQ(other.pathName(), path);
}

TEST(Document, FailedOpenTellsTheUserAndChangesNothing) {
    TempDir dir;
    {
        std::ofstream(dir.file("notes.txt")) << "not an image";
        std::ofstream(dir.file("bad.fit")) << "SIMPLE  =                    F";
    }
    const struct { std::string name; } cases[] = {{"notes.txt"}, {"bad.fit"}, {"missing.fit"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CZermicDoc doc;
        fill(doc.image, 5, 3);
        unsigned short* const before = doc.image.pixels;
        ModalWatcher watcher;
        EXPECT_FALSE(doc.onOpenDocument(q(dir.file(c.name))));
        ASSERT_EQ(watcher.messages().size(), 1u);
        EXPECT_TRUE(watcher.messages()[0].contains(q(c.name)));
        EXPECT_EQ(doc.image.pixels, before);
        EXPECT_EQ(doc.image.width, 5);
        EXPECT_EQ(doc.title(), "Sans titre");
    }
}

TEST(Document, FailedSavesNameTheFile) {
    TempDir dir;
    CZermicDoc doc;
    ModalWatcher watcher;
    EXPECT_FALSE(doc.onSaveDocument(q(dir.file("none.fit")))); // no image yet
    fill(doc.image, 4, 4);
    doc.setModifiedFlag();
    const QString unwritable = q(dir.file("no/such/folder/x.fit"));
    EXPECT_FALSE(doc.onSaveDocument(unwritable));
    EXPECT_TRUE(doc.isModified());
    ASSERT_EQ(watcher.messages().size(), 2u);
    EXPECT_TRUE(watcher.messages()[1].contains(unwritable));
}

TEST(Document, BmpSaveWritesTheViewsBitmapThroughItsColourTable) {
    TempDir dir;
    CZermicDoc doc;
    fill(doc.image, 3, 2);
    // A bottom-up 8-bit bitmap 4 wide whose table turns index i into (i, 0, 255 - i).
    QImage bitmap(4, 2, QImage::Format_Indexed8);
    QList<QRgb> table;
    for (int i = 0; i < 256; ++i)
        table.append(qRgb(i, 0, 255 - i));
    bitmap.setColorTable(table);
    const uchar rows[2][4] = {{10, 20, 30, 0}, {40, 50, 60, 0}}; // bottom row first
    for (int y = 0; y < 2; ++y)
        memcpy(bitmap.scanLine(y), rows[y], 4);
    doc.setDisplayBitmapSource([&] { return &bitmap; });

    const QString path = q(dir.file("shot.bmp"));
    ASSERT_TRUE(doc.onSaveDocument(path));
    QImage read(path);
    ASSERT_FALSE(read.isNull());
    EXPECT_EQ(read.depth(), 32); // 24-bit file as loaded by Qt
    EXPECT_EQ(read.width(), 4);
    // The file's top row is the bitmap's last memory row.
    EXPECT_EQ(read.pixel(1, 0), qRgb(50, 0, 205));
    EXPECT_EQ(read.pixel(2, 1), qRgb(30, 0, 225));
    EXPECT_FALSE(QFile::exists(q(dir.file("shot.fit"))));
}

TEST(Document, AllocationFailureLeavesNoPixels) {
    CZermicDoc doc;
    fill(doc.image, 4, 4);
    EXPECT_EQ(doc.resizeImage(1 << 30, 1 << 30), 1);
    EXPECT_EQ(doc.image.pixels, nullptr);
}

TEST(RecentFiles, CappedNewestFirstAndKeptInTheStore) {
    TempDir dir;
    RecentFileList list(kRecentFileCount);
    list.load();
    for (const char* name : {"a.fit", "b.fit", "c.fit", "d.fit", "e.fit", "c.fit"})
        list.add(q(dir.file(name)));
    const QStringList expected = {q(dir.file("c.fit")), q(dir.file("e.fit")), q(dir.file("d.fit")),
                                  q(dir.file("b.fit"))};
    EXPECT_EQ(list.entries(), expected);
    EXPECT_EQ(SettingsStore::getString("Recent File List", "File1", {}), expected[0]);
    EXPECT_EQ(SettingsStore::getString("Recent File List", "File4", {}), expected[3]);

    RecentFileList again(kRecentFileCount);
    again.load();
    EXPECT_EQ(again.entries(), expected);
    again.remove(1);
    RecentFileList third(kRecentFileCount);
    third.load();
    EXPECT_EQ(third.entries(), QStringList({expected[0], expected[2], expected[3]}));
}

TEST(InfoPanel, FormatsAndEmptyFieldsBeforeAnything) {
    CInfoPanel panel(nullptr);
    ASSERT_TRUE(panel.create());
    QDialog* w = panel.window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->objectName(), "CInfoPanel");
    EXPECT_EQ(w->windowTitle(), "Caméra");
    EXPECT_TRUE(panel.isVisible());
    auto text = [w](int id) { return findControlAs<QLineEdit>(w, id)->text(); };
    for (int id : {1009, 1011, 1012, 1013, 1014}) {
        QLineEdit* e = findControlAs<QLineEdit>(w, id);
        ASSERT_NE(e, nullptr) << id;
        EXPECT_TRUE(e->isReadOnly());
        EXPECT_TRUE(e->alignment() & Qt::AlignHCenter);
        EXPECT_TRUE(e->text().isEmpty());
    }

    const struct {
        std::function<void()> act;
        int id;
        const char* shown;
    } cases[] = {
        {[&] { panel.showSize(768, 512, 0.5f); }, 1009, " 768x 512"},
        {[&] { panel.showSize(1280, 1024, 0.5f); }, 1009, "1280x1024"},
        {[&] { panel.showSize(1280, 1024, 0.5f); }, 1011, "0.50"},
        {[&] { panel.showSize(1280, 1024, 12.345f); }, 1011, "12.35"},
        {[&] { panel.showCount(7); }, 1012, "0007"},
        {[&] { panel.showProgress(7, 20); }, 1012, "7/20"},
        {[&] { panel.showCount(12345); }, 1012, "12345"},
    };
    for (const auto& c : cases) {
        c.act();
        EXPECT_EQ(text(c.id), c.shown);
    }
    EXPECT_TRUE(text(1013).isEmpty());
    EXPECT_TRUE(text(1014).isEmpty());

    // Closing only hides; the texts stay.
    w->close();
    EXPECT_FALSE(panel.isVisible());
    panel.show();
    EXPECT_EQ(text(1012), "12345");
}

TEST(ViewCommands, EnablingInEachLoopState) {
    struct State {
        const char* name;
        ViewState s;
    };
    const State idleNew{"idle, no camera yet", {false, false, false, false, false}};
    const State idle{"idle", {false, false, true, false, false}};
    const State running{"running", {true, false, true, false, false}};
    const State paused{"paused", {true, true, true, false, false}};
    const State guiding{"guiding", {true, false, true, true, false}};
    const State guidingPaused{"guiding paused", {true, true, true, true, false}};
    const State cumul{"accumulating", {true, false, true, false, true}};

    const int ids[] = {cmd::CameraParams, cmd::SequenceParams, cmd::AcquireOne, cmd::LoopStart,
                       cmd::LoopPause,    cmd::LoopStop,       cmd::StartCumul, cmd::InitCamera};
    const struct {
        State st;
        bool allowed[8];
    } table[] = {
        {idleNew, {1, 1, 1, 0, 0, 0, 1, 1}}, {idle, {1, 1, 1, 1, 0, 0, 1, 1}},
        {running, {0, 0, 0, 0, 1, 1, 0, 1}}, {paused, {0, 0, 0, 1, 0, 1, 0, 1}},
        {guiding, {0, 0, 0, 0, 1, 0, 0, 1}}, {guidingPaused, {0, 0, 0, 1, 0, 0, 0, 1}},
        {cumul, {0, 0, 0, 0, 1, 1, 0, 1}},
    };
    for (const auto& row : table)
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(viewCommandAllowed(ids[i], row.st.s), row.allowed[i])
                << row.st.name << ", command " << ids[i];
    // An accumulation already marked as running blocks a second one even when idle.
    EXPECT_FALSE(viewCommandAllowed(cmd::StartCumul, {false, false, true, false, true}));
}
