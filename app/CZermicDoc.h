#pragma once

#include "FitsHeader.h"
#include "ImageBuffer.h"
#include "SafeFileWriter.h"

#include <QString>

#include <cstdint>
#include <functional>

class QImage;

// The one image the program works on: the last acquired or opened. Created
// once and reused by every "Nouveau", open and acquisition of the run.
class CZermicDoc {
public:
    std::int32_t acquisitionTime = 0; // seconds since 1970 UTC
    ImageBuffer image;
    // How the camera took the image; none for an image read from a file.
    std::optional<FitsObservation> observation;

    CZermicDoc() = default;
    CZermicDoc(const CZermicDoc&) = delete;
    CZermicDoc& operator=(const CZermicDoc&) = delete;

    ImageBuffer* getImage() { return &image; }
    // A fresh, uninitialised array of that size. Returns 1 whatever the
    // allocation gave: callers look at image.pixels.
    int resizeImage(int width, int height);

    // "Nouveau": title and path reset; the image and its time are kept.
    void onNewDocument();
    // Reads the file into the image. On failure the user has been told, naming
    // the file, and the document (image, title, path) is as it was.
    bool onOpenDocument(const QString& path);
    // Writes the image: BMP of what the view shows when the name says so, FITS
    // otherwise. On failure the user has been told, naming the file.
    bool onSaveDocument(const QString& path);
    // The same save without telling anyone: 0 when written, 1 when any
    // previous file is intact, 2 when it was damaged (rewritten in place).
    int writeImage(const QString& path);
    // The 16-bit image as FITS whatever the name, without telling anyone:
    // 0 when written (the modified flag is then cleared), otherwise as
    // writeImage, or saveNameTaken (see saveFits). `exposure`: the one the
    // image was taken with, when not the stored one.
    int writeFitsImage(const QString& path, std::optional<AcqExposure> exposure = std::nullopt,
                       SafeFileWriter::Existing existing = SafeFileWriter::Existing::Replace);

    // The view's display bitmap for a BMP save, made and filled if need be;
    // null when there is nothing to show.
    void setDisplayBitmapSource(std::function<const QImage*()> source) {
        bitmapSource = std::move(source);
    }

    const QString& pathName() const { return path; }
    void setPathName(const QString& p);
    // File name of the path, or the untitled name.
    const QString& title() const { return docTitle; }
    bool isModified() const { return modified; }
    void setModifiedFlag(bool m = true) { modified = m; }

    static QString untitledName();

private:
    QString path;
    QString docTitle = untitledName();
    bool modified = false;
    std::function<const QImage*()> bitmapSource;
};
