#include "CZermicDoc.h"

#include "BmpWriter.h"
#include "ColourTables.h"
#include "ImageOpen.h"
#include "ImageSave.h"
#include "Toolkit.h"

#include <QFileInfo>
#include <QImage>

#include <vector>

QString CZermicDoc::untitledName() {
    return QStringLiteral("Sans titre");
}

int CZermicDoc::resizeImage(int width, int height) {
    image.resize(width, height);
    return 1;
}

void CZermicDoc::onNewDocument() {
    path.clear();
    docTitle = untitledName();
    modified = false;
}

void CZermicDoc::setPathName(const QString& p) {
    path = QFileInfo(p).absoluteFilePath();
    docTitle = QFileInfo(p).fileName();
}

bool CZermicDoc::onOpenDocument(const QString& p) {
    const ImageLoadResult r = loadImageFile(image, p);
    if (r != ImageLoadResult::Ok) {
        // A file the reader refuses is a failed open, so the title never names
        // a file whose image is not the one on screen.
        messageBox(mainWindow(), imageLoadMessage(r, p), applicationTitle(), MessageIcon::Stop);
        return false;
    }
    setPathName(p);
    modified = false;
    // Whatever the file's header says, the camera's record is not its own.
    observation.reset();
    return true;
}

bool CZermicDoc::onSaveDocument(const QString& p) {
    if (!image.pixels) {
        messageBox(mainWindow(), noImageToSaveMessage(), applicationTitle(), MessageIcon::Stop);
        return false;
    }
    const bool previousFile = QFileInfo(p).isFile();
    if (const int r = writeImage(p); r != 0) {
        messageBox(mainWindow(), imageSaveFailedMessage(p, previousFile && r == 1),
                   applicationTitle(), MessageIcon::Stop);
        return false;
    }
    return true;
}

int CZermicDoc::writeFitsImage(const QString& p, std::optional<AcqExposure> exposure,
                               SafeFileWriter::Existing existing) {
    const WaitCursor wait;
    const FitsObservation* standard = observation && fullFitsHeaders() ? &*observation : nullptr;
    const int r = saveFits(p, image, acquisitionTime, exposure, existing, standard);
    if (r == 0)
        modified = false;
    return r;
}

int CZermicDoc::writeImage(const QString& p) {
    // On every path of the save, the display bitmap's making included.
    const WaitCursor wait;
    if (!image.pixels)
        return 1;
    if (!isBmpName(p))
        return writeFitsImage(p);
    const QImage* bitmap = bitmapSource ? bitmapSource() : nullptr;
    if (!bitmap || bitmap->isNull())
        return 1;
    // The file gets the bitmap's own colour table, which is the mode's.
    std::vector<unsigned char> table;
    const int bpp = bitmap->depth();
    if (bpp == 8) {
        table.reserve(256 * 4);
        const QList<QRgb> colours = bitmap->colorTable();
        for (int i = 0; i < 256; ++i) {
            const QRgb c = i < colours.size() ? colours[i] : 0;
            table.insert(table.end(), {static_cast<unsigned char>(qBlue(c)),
                                       static_cast<unsigned char>(qGreen(c)),
                                       static_cast<unsigned char>(qRed(c)), 0});
        }
    }
    return writeBmp(p, bitmap->constBits(), bitmap->width(), bitmap->height(), bpp,
                    table.empty() ? nullptr : table.data(), bitmap->bytesPerLine());
}
