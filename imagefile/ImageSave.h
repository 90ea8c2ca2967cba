#pragma once

#include "FitsHeader.h"
#include "SafeFileWriter.h"

#include <QString>

#include <ctime>

class ImageBuffer;

// A save whose path contains ".BMP" or ".bmp" anywhere (exact case, so a
// folder "a.bmp.d" counts and ".Bmp" does not) writes what the view shows as
// BMP; every other path is written as FITS.
bool isBmpName(const QString& path);

// The header the document saves with: width x height, 2 axes, 16 bits, and
// the acquisition time broken down in local time. A time of 0 (never set by
// the camera) leaves day at 0, so the file carries no DATE and TIME rather
// than a false 1970 date.
FitsHeader fitsHeaderFor(const ImageBuffer& image, std::time_t acquisitionTime);

// Writes the image as FITS. The previous file at path stays intact unless the
// whole new file was written, or unless it could only be rewritten in place
// (see SafeFileWriter). Returns 0 on success, 1 on failure with any previous
// file intact (no image, folder missing or unwritable, write-protected file,
// disk full, path naming a folder...), 2 on a failure while rewriting it in
// place. The image's pixels are unchanged on return. `exposure`, when given,
// is the exposure the image was taken with (see FitsHeader::writeFits). With
// SafeFileWriter::Existing::Keep, whatever has the name, at the start or by
// the time the file is complete, is left alone and saveNameTaken returned.
// `observation`, when given, adds the standard cards other software reads.
int saveFits(const QString& path, ImageBuffer& image, std::time_t acquisitionTime,
             std::optional<AcqExposure> exposure = std::nullopt,
             SafeFileWriter::Existing existing = SafeFileWriter::Existing::Replace,
             const FitsObservation* observation = nullptr);
inline constexpr int saveNameTaken = 3;

// "En-têtes FITS complets": whether the document's FITS saves carry the
// standard cards (off in an empty store, so files stay as they always were).
bool fullFitsHeaders();
void setFullFitsHeaders(bool on);

// Texts for the user when a save fails or has nothing to write. The failure
// says the previous file was kept only when there was one and it was.
QString imageSaveFailedMessage(const QString& path, bool previousKept);
QString noImageToSaveMessage();
