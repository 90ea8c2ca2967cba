#pragma once

#include "ImageFileReader.h"

#include <QString>

// The document's open: reads a FITS, EIP or IMG file into the image. On any
// result but Ok the image is exactly as it was.
ImageLoadResult loadImageFile(ImageBuffer& image, const QString& path);

// The text the document shows when an open fails, naming the file.
QString imageLoadMessage(ImageLoadResult result, const QString& path);
