#include "ImageSave.h"

#include "ImageBuffer.h"
#include "SafeFileWriter.h"
#include "SettingsStore.h"

namespace {
constexpr const char* kFitsSection = "FitsPrm";
constexpr const char* kFullHeadersKey = "entetes_complets";
} // namespace

bool isBmpName(const QString& path) {
    return path.contains(QLatin1String(".BMP"), Qt::CaseSensitive) ||
           path.contains(QLatin1String(".bmp"), Qt::CaseSensitive);
}

FitsHeader fitsHeaderFor(const ImageBuffer& image, std::time_t acquisitionTime) {
    FitsHeader header;
    header.naxis1 = image.width;
    header.naxis2 = image.height;
    header.naxis3 = 0;
    header.naxis = 2;
    header.bitpix = 16;
    std::tm local{};
    if (acquisitionTime != 0 && ::localtime_r(&acquisitionTime, &local))
        header.setDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                           local.tm_min, local.tm_sec);
    return header;
}

int saveFits(const QString& path, ImageBuffer& image, std::time_t acquisitionTime,
             std::optional<AcqExposure> exposure, SafeFileWriter::Existing existing,
             const FitsObservation* observation) {
    if (!image.pixels || image.width <= 0 || image.height < 0)
        return 1;
    const FitsHeader header = fitsHeaderFor(image, acquisitionTime);
    SafeFileWriter out(path, existing);
    if (!out.file())
        return out.nameTaken() ? saveNameTaken : 1;
    if (header.writeFits(out.file(), image.pixels, exposure, observation) != 0)
        return out.failure();
    if (out.commit())
        return 0;
    return out.nameTaken() ? saveNameTaken : out.failure();
}

bool fullFitsHeaders() {
    return SettingsStore::getInt(kFitsSection, kFullHeadersKey, 0) != 0;
}

void setFullFitsHeaders(bool on) {
    SettingsStore::writeInt(kFitsSection, kFullHeadersKey, on ? 1 : 0);
}

QString imageSaveFailedMessage(const QString& path, bool previousKept) {
    QString text = QStringLiteral("Impossible d'enregistrer le fichier %1.").arg(path);
    if (previousKept)
        text += QStringLiteral(" Le fichier précédent est resté intact.");
    return text;
}

QString noImageToSaveMessage() {
    return QStringLiteral("Aucune image à enregistrer.");
}
