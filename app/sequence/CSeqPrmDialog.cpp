#include "CSeqPrmDialog.h"

#include "SettingsStore.h"

#include <QStandardPaths>

namespace {

const char* const section = "SeqPrm";

} // namespace

CSeqPrmDialog::CSeqPrmDialog(QWidget* parent)
    : CDialog(parent, QStringLiteral("CSeqPrmDialog"), QStringLiteral("Paramètres séquence"), 154,
              221) {
    load();
}

QString CSeqPrmDialog::defaultImageDirectory() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString CSeqPrmDialog::usableImageDirectory(const QString& dir) {
    // An empty folder would put the images in the root (with the separator
    // OK adds) or wherever the program was started.
    return dir.trimmed().isEmpty() ? defaultImageDirectory() : dir;
}

void CSeqPrmDialog::createControls(ControlBuilder& b) {
    b.group(QStringLiteral("Enchaînement"), 7, 5, 140, 44);
    b.radio(IdDelay, IdDelay, QStringLiteral("Délai"), 14, 16, 55, 10);
    b.radio(IdPeriodic, IdDelay, QStringLiteral("Périodique"), 14, 30, 55, 10);
    b.edit(IdPeriod, 74, 29, 36, 12, Qt::AlignRight);
    b.label(QStringLiteral("1/10 s"), 114, 31, 28, 8);

    b.group(QStringLiteral("Paramètres d'acquisition"), 7, 53, 140, 42);
    b.check(IdReadFile, QStringLiteral("sur fichier"), 14, 64, 70, 10);
    b.edit(IdParamFile, 14, 77, 106, 12, Qt::AlignRight);
    b.button(IdBrowseParamFile, QStringLiteral("..."), 123, 77, 18, 12);

    b.group(QStringLiteral("Post-traitement"), 7, 99, 140, 26);
    b.check(IdPostProcess, QStringLiteral("Actif"), 14, 110, 60, 10);

    b.group(QStringLiteral("Sauvegarde"), 7, 129, 140, 66);
    b.check(IdSaveEach, QStringLiteral("sauver chaque image"), 14, 140, 110, 10);
    b.label(QStringLiteral("Prefixe:"), 14, 156, 30, 8);
    b.edit(IdBaseName, 46, 154, 74, 12);
    b.label(QStringLiteral("Dir:"), 14, 174, 30, 8);
    b.edit(IdImageDir, 46, 172, 74, 12, Qt::AlignRight);
    b.button(IdBrowseImageDir, QStringLiteral("..."), 123, 172, 18, 12);

    b.button(1, QStringLiteral("OK"), 20, 201, 50, 14);
    b.button(2, QStringLiteral("Cancel"), 84, 201, 50, 14);
}

void CSeqPrmDialog::load() {
    paramFile = SettingsStore::getString(section, "prmFile", QString());
    baseName = SettingsStore::getString(section, "basename", QStringLiteral("cam"));
    imageDirectory =
        usableImageDirectory(SettingsStore::getString(section, "imgpath", defaultImageDirectory()));
    periodTenths = SettingsStore::getInt(section, "periode_ds", 1);
    readParamFile = SettingsStore::getInt(section, "readPrmFile", 0);
    saveEachImage = SettingsStore::getInt(section, "saveImg", 0);
    chainingMode = SettingsStore::getInt(section, "mode_delai", 0);
    postProcess = SettingsStore::getInt(section, "postTrt", 0);
}

void CSeqPrmDialog::store() const {
    SettingsStore::writeString(section, "prmFile", paramFile);
    SettingsStore::writeString(section, "basename", baseName);
    SettingsStore::writeString(section, "imgpath", imageDirectory);
    SettingsStore::writeInt(section, "periode_ds", periodTenths);
    SettingsStore::writeInt(section, "readPrmFile", readParamFile);
    SettingsStore::writeInt(section, "saveImg", saveEachImage);
    SettingsStore::writeInt(section, "mode_delai", chainingMode);
    SettingsStore::writeInt(section, "postTrt", postProcess);
}

CSeqPrmDialog::Values CSeqPrmDialog::values() const {
    return {paramFile,     baseName,     imageDirectory, readParamFile,
            saveEachImage, chainingMode, postProcess,    periodTenths};
}

void CSeqPrmDialog::setValues(const Values& v) {
    paramFile = v.paramFile;
    baseName = v.baseName;
    imageDirectory = v.imageDirectory;
    readParamFile = v.readParamFile;
    saveEachImage = v.saveEachImage;
    chainingMode = v.chainingMode;
    postProcess = v.postProcess;
    periodTenths = v.periodTenths;
}

void CSeqPrmDialog::onInitDialog() {
    load();
    opened = values();
    updateData(false);
}

void CSeqPrmDialog::doDataExchange(DataExchange& dx) {
    dx.text(IdParamFile, paramFile);
    dx.text(IdBaseName, baseName);
    dx.text(IdImageDir, imageDirectory);
    dx.check(IdReadFile, readParamFile);
    dx.check(IdSaveEach, saveEachImage);
    dx.radio(IdDelay, chainingMode);
    dx.check(IdPostProcess, postProcess);
    dx.integer(IdPeriod, periodTenths);
    dx.rangeCheck(periodTenths, 0, maxPeriodTenths);
}

void CSeqPrmDialog::onOK() {
    if (!updateData(true))
        return;
    endDialog(1);
    if (saveEachImage) {
        imageDirectory = usableImageDirectory(imageDirectory);
        if (!imageDirectory.endsWith(QLatin1Char('/')))
            imageDirectory += QLatin1Char('/');
    }
    store();
}

void CSeqPrmDialog::onCancel() {
    setValues(opened);
    endDialog(2);
}

void CSeqPrmDialog::onCommand(int id) {
    if (id == IdBrowseParamFile)
        browseParamFile();
    else if (id == IdBrowseImageDir)
        browseImageDirectory();
}

void CSeqPrmDialog::browseParamFile() {
    FileDialogOptions o;
    o.defaultExtension = QStringLiteral("seq");
    o.initialName = paramFile;
    o.filter = QStringLiteral("Fichier sequence (*.seq)|*.seq");
    o.mustExist = true;
    const QString chosen = fileOpenDialog(window(), QStringLiteral("Ouvrir"), o);
    if (!chosen.isEmpty()) {
        paramFile = chosen;
        opened.paramFile = chosen;
    }
    updateData(false);
}

void CSeqPrmDialog::browseImageDirectory() {
    FileDialogOptions o;
    o.initialName = imageDirectory;
    o.directory = true;
    const QString chosen = fileOpenDialog(window(), QStringLiteral("Ouvrir"), o);
    if (!chosen.isEmpty()) {
        imageDirectory = chosen;
        opened.imageDirectory = chosen;
    }
    updateData(false);
}
