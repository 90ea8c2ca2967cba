// Saving and opening through the program's commands: FITS or BMP by the name,
// what a BMP holds in each display mode, failed saves and rejected opens.
#include "AppFixture.h"
#include "CSequenceEngine.h"
#include "CommandIds.h"
#include "ImageFileReader.h"
#include "ViewFiles.h"
#include "VisuPanel.h"

#include "common/FileSizeLimit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>

#include <csignal>
#include <cstring>
#include <fstream>
#include <sys/resource.h>

using namespace viewfiles;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

quint32 le32(const QByteArray& b, int at) {
    return quint32(quint8(b[at])) | quint32(quint8(b[at + 1])) << 8 |
           quint32(quint8(b[at + 2])) << 16 | quint32(quint8(b[at + 3])) << 24;
}

enum class Kind { Missing, Fits, Bmp, Other };

Kind kindOf(const QString& path) {
    if (!QFileInfo(path).isFile())
        return Kind::Missing;
    const QByteArray b = readAll(path);
    if (b.startsWith("SIMPLE  ="))
        return Kind::Fits;
    if (b.startsWith("BM"))
        return Kind::Bmp;
    return Kind::Other;
}

// Everything in a folder, hidden files included: a failed save leaves no
// temporary file behind.
QStringList folderEntries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

} // namespace

class SaveDispatch : public AppFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(start());
        frame().resize(1000, 700);
        QApplication::processEvents();
    }

    // A small image with every display level, opened through the document.
    void openSky(int width = 200, int height = 60, const std::string& name = "sky.fit") {
        const QString path = writeFits(dir, name, width, height, [width](int x, int y) {
            return static_cast<unsigned short>(ramp(x, width) ^ (y * 97));
        });
        ASSERT_TRUE(theApp.openDocumentFile(path));
    }

    // "Enregistrer" on a document that already has that name.
    bool saveWithCommand(const QString& path) {
        doc().setPathName(path);
        action(cmd::FileSave)->trigger();
        return QFileInfo::exists(path);
    }

    void pressMode(int button) {
        QTest::mouseClick(findControlAs<QAbstractButton>(view().visuPanel()->window(), button),
                          Qt::LeftButton);
    }

    QString path(const std::string& name) { return QString::fromStdString(dir.file(name)); }

    TempDir dir;
};

TEST_F(SaveDispatch, TheNameChoosesFitsOrBmp) {
    openSky();
    QDir(path("")).mkpath(QStringLiteral("a.bmp.d"));
    QDir(path("")).mkpath(QStringLiteral("A.BMP.D"));
    const struct {
        const char* name;
        Kind kind;
    } cases[] = {
        {"x.fit", Kind::Fits},        {"x.bmp", Kind::Bmp},         {"x.BMP", Kind::Bmp},
        {"x.Bmp", Kind::Fits},        {"x.bMp", Kind::Fits},        {"a.bmp.d/x.fit", Kind::Bmp},
        {"A.BMP.D/x.fit", Kind::Bmp}, {"x.bmpx", Kind::Bmp},        {"xbmp", Kind::Fits},
        {"x.fits", Kind::Fits},       {"no extension", Kind::Fits},
    };
    ModalWatcher watcher;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString p = path(c.name);
        EXPECT_TRUE(saveWithCommand(p));
        EXPECT_EQ(kindOf(p), c.kind);
        EXPECT_EQ(frame().windowTitle(), QFileInfo(p).fileName() + " - Zermic");
    }
    EXPECT_TRUE(watcher.messages().empty());
}

TEST_F(SaveDispatch, SaveAsDialogKeepsTheTypedExtension) {
    openSky();
    // Typed name, file written, kind. The default extension is added only to
    // a name without one, so a typed ".bmp" gives a BMP under that name.
    const struct {
        const char* typed;
        const char* written;
        Kind kind;
    } cases[] = {
        {"shot.bmp", "shot.bmp", Kind::Bmp},
        {"plain", "plain.fit", Kind::Fits},
        {"odd.Bmp", "odd.Bmp", Kind::Fits},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        ModalWatcher watcher([&](QWidget* w) {
            auto* fd = qobject_cast<QFileDialog*>(w);
            if (!fd)
                return false;
            later([&, fd] {
                fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path(c.typed));
                static_cast<QDialog*>(fd)->accept();
                if (fd->isVisible()) {
                    ADD_FAILURE() << "the file dialog refused the name";
                    fd->reject();
                }
            });
            return true;
        });
        action(cmd::FileSaveAs)->trigger();
        EXPECT_EQ(kindOf(path(c.written)), c.kind);
        EXPECT_EQ(doc().pathName(), path(c.written));
        EXPECT_EQ(frame().windowTitle(), QString::fromUtf8(c.written) + " - Zermic");
    }
}

TEST_F(SaveDispatch, SequenceImagesAreAlwaysFits) {
    // The sequence engine saves through the view with its numbered names,
    // wherever the user points the directory and whatever the base name.
    openSky();
    QDir(path("")).mkpath(QStringLiteral("night.bmp.d"));
    const struct {
        const char* directory;
        const char* base;
    } cases[] = {
        {"/", "cam"},
        {"/night.bmp.d/", "cam"},
        {"/", "m42.BMP"},
        {"/", "x.bmp"},
    };
    for (const auto& c : cases) {
        const QString name = sequenceImageName(QString::fromStdString(dir.path()) + c.directory,
                                               QString::fromUtf8(c.base), 7);
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(name.endsWith("0007.fit"));
        EXPECT_EQ(view().saveDocument(name, std::nullopt), SequenceHost::SaveResult::Saved);
        EXPECT_EQ(kindOf(name), Kind::Fits);
        EXPECT_EQ(view().saveDocument(name, std::nullopt), SequenceHost::SaveResult::NameTaken)
            << "never over an image already there";
    }
}

TEST_F(SaveDispatch, WaitCursorWhileSavingOnEveryPath) {
    openSky();
    // The BMP's bitmap is made within the save: the cursor it sees is the save's.
    std::vector<int> during;
    doc().setDisplayBitmapSource([&] {
        const QCursor* c = QApplication::overrideCursor();
        during.push_back(c ? int(c->shape()) : -1);
        return view().currentDisplayBitmap();
    });
    ModalWatcher watcher([&](QWidget*) {
        const QCursor* c = QApplication::overrideCursor();
        during.push_back(c ? int(c->shape()) : -1);
        return false;
    });
    const QString missingFolder = QString::fromStdString(dir.file("none/x.fit"));
    for (const QString& path : {QString::fromStdString(dir.file("a.bmp")),
                                QString::fromStdString(dir.file("a.fit")), missingFolder}) {
        doc().onSaveDocument(path);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << path.toStdString();
    }
    EXPECT_EQ(view().saveDocument(QString::fromStdString(dir.file("seq0000.fit")), std::nullopt),
              SequenceHost::SaveResult::Saved);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // Wait during the BMP save; the failure's message comes once the cursor is back.
    EXPECT_EQ(during, (std::vector<int>{Qt::WaitCursor, -1}));
}

TEST_F(SaveDispatch, FitsSaveClearsTheModifiedFlagBmpSaveKeepsIt) {
    openSky();
    doc().setModifiedFlag();
    ASSERT_TRUE(saveWithCommand(path("view.bmp")));
    EXPECT_TRUE(doc().isModified());
    ASSERT_TRUE(saveWithCommand(path("data.fit")));
    EXPECT_FALSE(doc().isModified());
}

TEST_F(SaveDispatch, ColourModeBmpOfA768By512Image) {
    openSky(768, 512, "wide.fit");
    pressMode(CVisuPanel::ColourButton);
    const QString p = path("colour.bmp");
    ASSERT_TRUE(saveWithCommand(p));
    const QByteArray b = readAll(p);
    ASSERT_EQ(b.size(), 1179702);
    EXPECT_EQ(le32(b, 2), 1179702u);
    EXPECT_EQ(le32(b, 10), 54u);
    EXPECT_EQ(le32(b, 18), 768u);
    EXPECT_EQ(le32(b, 22), 512u);
    EXPECT_EQ(quint8(b[28]), 24);
    // The file's pixels are the display bitmap's bytes.
    const QImage& shown = view().displayBitmap();
    ASSERT_EQ(shown.format(), QImage::Format_BGR888);
    EXPECT_EQ(QByteArray::fromRawData(reinterpret_cast<const char*>(shown.constBits()),
                                      int(shown.sizeInBytes())),
              b.mid(54));
}

TEST_F(SaveDispatch, BmpLooksLikeTheScreenInEveryMode) {
    const struct {
        int button;
        const char* file;
    } modes[] = {
        {CVisuPanel::NormalButton, "normal.bmp"},
        {CVisuPanel::NegativeButton, "negative.bmp"},
        {CVisuPanel::FalseColourButton, "false.bmp"},
        {CVisuPanel::ColourButton, "colour.bmp"},
    };
    // As wide as the image, whether its 24-bit rows need padding in the file
    // (201 pixels: 603 bytes and one zero) or not.
    for (const int width : {320, 201}) {
        openSky(width, 60, "sky" + std::to_string(width) + ".fit");
        const int row = (3 * width + 3) / 4 * 4;
        for (const auto& m : modes) {
            SCOPED_TRACE(testing::Message() << width << " " << m.file);
            pressMode(m.button);
            // Saved before the view has painted in this mode: the save makes
            // the bitmap and computes its pixels itself.
            const QString p = path(std::to_string(width) + m.file);
            ASSERT_TRUE(saveWithCommand(p));
            const QByteArray b = readAll(p);
            ASSERT_EQ(b.size(), 54 + row * 60);
            EXPECT_EQ(quint8(b[28]), 24);
            EXPECT_EQ(le32(b, 18), quint32(width));
            for (int y = 0; y < 60; ++y)
                for (int pad = 3 * width; pad < row; ++pad)
                    ASSERT_EQ(b[54 + y * row + pad], 0) << y;

            const QImage file = QImage(p).convertToFormat(QImage::Format_RGB32);
            const QImage shot =
                view().viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
            ASSERT_EQ(file.size(), QSize(width, 60));
            ASSERT_GE(shot.width(), width);
            ASSERT_GE(shot.height(), 60);
            int differing = 0;
            for (int y = 0; y < 60; ++y)
                for (int x = 0; x < width; ++x)
                    differing += file.pixel(x, y) != shot.pixel(x, y);
            EXPECT_EQ(differing, 0);
        }
    }
}

TEST_F(SaveDispatch, BmpWithoutAnImageWritesNothingAndSaysSo) {
    ASSERT_EQ(doc().image.pixels, nullptr);
    ModalWatcher watcher;
    const QString p = path("empty.bmp");
    EXPECT_FALSE(saveWithCommand(p));
    EXPECT_TRUE(folderEntries(path("")).isEmpty());
    ASSERT_EQ(watcher.messages().size(), 1u);
    EXPECT_EQ(watcher.messages()[0], "Aucune image à enregistrer.");
}

TEST_F(SaveDispatch, FailedSaveTellsTheUserAndKeepsTheOldFile) {
    openSky();
    { std::ofstream(dir.file("plain")) << "a file, not a folder"; }
    QDir(path("")).mkpath(QStringLiteral("folder.fit/inside"));
    QDir(path("")).mkpath(QStringLiteral("folder.bmp"));
    const QByteArray oldContent = "the previous file";
    for (const char* name : {"old.fit", "old.bmp"}) {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(oldContent);
    }

    const struct {
        const char* name;
        bool diskFull;
    } cases[] = {
        {"plain/x.fit", false}, {"plain/x.bmp", false}, {"folder.fit", false},
        {"folder.bmp", false},  {"old.fit", true},      {"old.bmp", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString p = path(c.name);
        const QStringList before = folderEntries(path(""));
        doc().setModifiedFlag();
        ModalWatcher watcher;
        {
            std::unique_ptr<FileSizeLimit> limit;
            if (c.diskFull)
                limit = std::make_unique<FileSizeLimit>(4096);
            doc().setPathName(p);
            action(cmd::FileSave)->trigger();
        }
        ASSERT_EQ(watcher.messages().size(), 1u);
        // Only a file that was there can be said to be kept.
        const QString kept = c.diskFull ? " Le fichier précédent est resté intact." : "";
        EXPECT_EQ(watcher.messages()[0], "Impossible d'enregistrer le fichier " + p + "." + kept);
        EXPECT_TRUE(doc().isModified());
        EXPECT_EQ(folderEntries(path("")), before);
        if (c.diskFull) {
            EXPECT_EQ(readAll(p), oldContent);
        }
    }
    EXPECT_EQ(folderEntries(path("folder.fit")), QStringList({"inside"}));
    EXPECT_EQ(readAll(path("plain")), "a file, not a folder");
}

TEST_F(SaveDispatch, RejectedOpenKeepsImageTitleAndRecentFiles) {
    openSky(40, 30, "kept.fit");
    const QString kept = path("kept.fit");
    const std::vector<unsigned short> pixels(doc().image.pixels, doc().image.pixels + 40 * 30);
    const QString title = frame().windowTitle();
    const QString status = frame().statusText();
    const QStringList recent = theApp.recentFiles().entries();
    ASSERT_FALSE(recent.isEmpty());
    ASSERT_EQ(recent.first(), kept);
    QTest::mouseClick(view().viewport(), Qt::LeftButton, {}, QPoint(10, 10));

    {
        std::ofstream(dir.file("notes.txt")) << "not an image";
        std::ofstream(dir.file("bad.fit")) << std::string(2880, ' ');
        std::ofstream(dir.file("short.img")) << "IMG";
    }
    // Three axes: a cube the program does not show.
    {
        std::string header;
        for (const char* card :
             {"SIMPLE  =                    T", "BITPIX  =                   16",
              "NAXIS   =                    3", "NAXIS1  =                    2",
              "NAXIS2  =                    2", "NAXIS3  =                    2", "END"})
            header += std::string(card) + std::string(80 - std::strlen(card), ' ');
        header.resize(2880, ' ');
        std::ofstream(dir.file("cube.fits")) << header << std::string(2880, '\0');
    }
    for (const char* name : {"notes.txt", "bad.fit", "short.img", "cube.fits", "gone.fit"}) {
        SCOPED_TRACE(name);
        ModalWatcher watcher;
        EXPECT_FALSE(theApp.openDocumentFile(path(name)));
        ASSERT_EQ(watcher.messages().size(), 1u);
        EXPECT_TRUE(watcher.messages()[0].contains(path(name)));
        EXPECT_EQ(frame().windowTitle(), title);
        EXPECT_EQ(frame().statusText(), status);
        EXPECT_EQ(theApp.recentFiles().entries(), recent);
        EXPECT_EQ(action(cmd::FileMru1)->text(), "&1 " + kept);
        EXPECT_EQ(doc().pathName(), kept);
        ASSERT_EQ(doc().image.width, 40);
        ASSERT_EQ(doc().image.height, 30);
        EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), doc().image.pixels));
        // The view goes on showing the same picture, marker included.
        EXPECT_TRUE(view().markerSet());
        EXPECT_EQ(view().contentsSize(), QSize(40, 30));
    }
}

TEST_F(SaveDispatch, SaveOfAnImgDocumentProposesAFitNameAndLeavesTheOriginal) {
    // A 4 x 2 IMG file: big-endian width, height, bits, then the pixels.
    QByteArray img("\x00\x04\x00\x02\x00\x10\x00\x00", 8);
    for (int i = 0; i < 8; ++i)
        img.append(char(0)).append(char(i * 10));
    const struct {
        const char* name;
        int command;
        const char* proposed;
    } cases[] = {
        {"night.img", cmd::FileSave, "night.fit"},
        {"m31.v2.IMG", cmd::FileSave, "m31.v2.fit"},
        {"night.img", cmd::FileSaveAs, "night.fit"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString original = path(c.name);
        {
            QFile f(original);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(img);
        }
        QFile::remove(path(c.proposed));
        QString offered;
        ModalWatcher watcher([&](QWidget* w) {
            auto* fd = qobject_cast<QFileDialog*>(w);
            if (!fd)
                return false;
            later([&, fd] {
                offered = fd->directory().absoluteFilePath(
                    fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text());
                static_cast<QDialog*>(fd)->accept();
            });
            return true;
        });
        ASSERT_TRUE(theApp.openDocumentFile(original));
        action(c.command)->trigger();
        ASSERT_EQ(watcher.seen().size(), 1u); // the file dialog, no box
        EXPECT_EQ(offered, path(c.proposed));
        EXPECT_EQ(readAll(original), img);
        EXPECT_EQ(kindOf(path(c.proposed)), Kind::Fits);
        EXPECT_EQ(doc().pathName(), path(c.proposed));
    }
}
