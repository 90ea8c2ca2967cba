#include "ImageOpen.h"

#include <QFile>

ImageLoadResult loadImageFile(ImageBuffer& image, const QString& path) {
    return loadImageFile(image, QFile::encodeName(path).constData());
}

QString imageLoadMessage(ImageLoadResult result, const QString& path) {
    QString reason;
    switch (result) {
    case ImageLoadResult::Ok:
        return {};
    case ImageLoadResult::CannotOpen:
        return QStringLiteral("Impossible d'ouvrir le fichier %1.").arg(path);
    case ImageLoadResult::UnknownExtension:
        reason = QStringLiteral("format inconnu (seuls les fichiers .fit, .fits, .eip et .img "
                                "sont lus)");
        break;
    case ImageLoadResult::NotFits:
        reason = QStringLiteral("ce n'est pas un fichier FITS valide");
        break;
    case ImageLoadResult::UnsupportedFits:
        reason = QStringLiteral("seules les images FITS d'entiers de 16 bits à une ou deux "
                                "dimensions sont lues");
        break;
    case ImageLoadResult::BadEip:
        reason = QStringLiteral("ce n'est pas un fichier EIP valide");
        break;
    case ImageLoadResult::BadImg:
        reason = QStringLiteral("ce n'est pas un fichier IMG de 16 bits valide");
        break;
    case ImageLoadResult::TooLarge:
        reason = QStringLiteral("l'image est trop grande");
        break;
    case ImageLoadResult::OutOfMemory:
        reason = QStringLiteral("mémoire insuffisante");
        break;
    }
    return QStringLiteral("Impossible de lire le fichier %1 : %2.").arg(path, reason);
}
