#include "CSequenceEngine.h"

#include "CCamera.h"
#include "CSeqPrmDialog.h"
#include "ImageBuffer.h"
#include "PelmoxAction.h"
#include "SequenceHost.h"
#include "Toolkit.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

int sequenceIntervalMs(float periodSeconds) {
    const double ms = double(periodSeconds) * 1000.0;
    if (!(ms > 0))
        return 0;
    if (ms >= double(INT_MAX))
        return INT_MAX;
    return int(ms);
}

QString sequenceImageName(const QString& directory, const QString& baseName, int number) {
    return directory + baseName + QString::asprintf("%04d.fit", number);
}

QString sequenceImageFolder(const QString& directory, const QString& baseName) {
    const QString prefix = directory + baseName;
    const qsizetype slash = prefix.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QStringLiteral(".");
    return slash == 0 ? QStringLiteral("/") : prefix.left(slash);
}

QString imageFolderRefusal(const QString& folder) {
    if (!QDir().mkpath(folder))
        return QStringLiteral("Impossible de créer le dossier des images %1.").arg(folder);
    // A file is tried rather than the permissions read: a disk mounted
    // read-only or a network share's rules have the last word, root included.
    QByteArray probe = QFile::encodeName(folder) + "/.zermic-essai-XXXXXX";
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("Impossible d'écrire dans le dossier des images %1.").arg(folder);
    ::close(fd);
    ::unlink(probe.constData());
    return QString();
}

int nextSequenceNumber(const QString& directory, const QString& baseName) {
    const QString prefix = directory + baseName;
    const qsizetype slash = prefix.lastIndexOf(QLatin1Char('/'));
    const QString folder = sequenceImageFolder(directory, baseName);
    const QRegularExpression numbered(QLatin1Char('^') +
                                      QRegularExpression::escape(prefix.mid(slash + 1)) +
                                      QStringLiteral("([0-9]{4,})\\.fit$"));
    // Numbers no run could reach are not followed, so the next one stays an int.
    constexpr qint64 highestFollowed = 999999999;
    qint64 next = 0;
    const QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                     QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        const QRegularExpressionMatch m = numbered.match(name);
        bool ok = false;
        const qint64 n = m.hasMatch() ? m.captured(1).toLongLong(&ok) : -1;
        if (ok && n <= highestFollowed)
            next = std::max(next, n + 1);
    }
    return int(next);
}

CSequenceEngine::CSequenceEngine(SequenceHost* host) : view(host) {}

CSequenceEngine::~CSequenceEngine() = default;

void CSequenceEngine::armPeriod() {
    view->setSequenceTimer(sequenceIntervalMs(period));
}

int CSequenceEngine::startSequence() {
    // A restart (guiding started on a running loop) begins the file again.
    file.close();
    imageCount = 0;
    imageTotal = defaultImageTotal;
    image = view->documentImage();
    // The previous run's notices stay in the status bar until now.
    if (statusShown)
        view->showStatus(QString());
    statusShown = false;
    failedSaveCount = 0;
    lastFailedName.clear();
    firstFileNumber = 0;

    if (view->guidingActive()) {
        delayMode = false;
        readParamFile = false;
        saveEachImage = false;
        postProcess = false;
        period = float(view->guidingCadenceSeconds());
    } else {
        const CSeqPrmDialog& settings = view->sequenceDialog();
        delayMode = settings.chainingMode == 0;
        readParamFile = settings.readParamFile != 0;
        saveEachImage = settings.saveEachImage != 0;
        postProcess = settings.postProcess != 0;
        period = float(settings.periodTenths * 0.1);
    }

    if (readParamFile) {
        if (!file.open(view->sequenceDialog().paramFile)) {
            messageBox(view->messageOwner(),
                       QStringLiteral("Erreur d'ouverture du fichier de paramètres"),
                       applicationTitle());
            return 1;
        }
        int n = 0;
        if (file.readCount(n))
            imageTotal = n;
    }
    if (saveEachImage) {
        const CSeqPrmDialog& settings = view->sequenceDialog();
        // A night's images are not lost to a folder that is missing or cannot
        // be written: it is made, or the run does not start.
        const QString refusal =
            imageFolderRefusal(sequenceImageFolder(settings.imageDirectory, settings.baseName));
        if (!refusal.isEmpty()) {
            file.close();
            messageBox(view->messageOwner(), refusal, applicationTitle());
            return 1;
        }
        // A new run numbers on after the images an earlier one left there.
        firstFileNumber = nextSequenceNumber(settings.imageDirectory, settings.baseName);
    }
    view->setSequenceTimer(firstTickMs);
    return 0;
}

void CSequenceEngine::beforeAcquisition() {
    if (delayMode)
        view->killSequenceTimer();
    else if (imageCount == 0)
        armPeriod(); // replaces the first short tick: fixed rate from the first image on

    if (readParamFile) {
        CCamera& camera = view->camera();
        float seconds = 0;
        // Without a usable value the exposure in force stays.
        if (file.nextExposure(seconds)) {
            // Every change of the record is uploaded at once (dialog, here), so
            // the record before this one is what the camera last received.
            const AcqPrm& record = camera.parameters();
            const int s = record.pause_s;
            const int cs = record.pause_cs;
            camera.setPause(seconds);
            if (record.pause_s != s || record.pause_cs != cs)
                camera.reglage();
        }
        view->showSize(camera.getWidth(), camera.getHeight(), camera.getPauseEnSecondes());
        view->showProgress(imageCount, imageTotal);
    } else {
        view->showCount(imageCount);
    }
}

void CSequenceEngine::afterAcquisition(bool imageRead) {
    if (delayMode)
        armPeriod();
    if (postProcess && image && image->pixels)
        PelmoxAction(image->pixels, image->width, image->height);
    if (saveEachImage && imageRead) {
        saveSequenceImage();
    } else if (saveEachImage) {
        // What a failed transfer left is no image: the number stays unused
        // and the bar says which image is missing.
        view->showStatus(
            QStringLiteral("Erreur caméra : image %1 non enregistrée").arg(currentImageName()));
        statusShown = true;
    }
    ++imageCount;
    if (imageCount >= imageTotal)
        view->stopLoop();
}

QString CSequenceEngine::currentImageName() const {
    const CSeqPrmDialog& settings = view->sequenceDialog();
    return sequenceImageName(settings.imageDirectory, settings.baseName, fileNumber());
}

void CSequenceEngine::saveSequenceImage() {
    // The cards show the exposure this image was taken with: a sequence file's
    // reaches the camera's record only.
    std::optional<AcqExposure> exposure;
    if (readParamFile) {
        const AcqPrm& record = view->camera().parameters();
        exposure = AcqExposure{record.pause_s, record.pause_cs};
    }
    // A file that took the image's name since the start is stepped over,
    // never replaced.
    using SaveResult = SequenceHost::SaveResult;
    QString name = currentImageName();
    SaveResult result = view->saveDocument(name, exposure);
    while (result == SaveResult::NameTaken && fileNumber() < INT_MAX) {
        ++firstFileNumber;
        name = currentImageName();
        result = view->saveDocument(name, exposure);
    }
    // An unattended run goes on past a file it cannot write; the status bar
    // keeps the last such name and the count in view instead of a modal box.
    if (result != SaveResult::Saved) {
        ++failedSaveCount;
        lastFailedName = name;
    }
    if (failedSaveCount > 0)
        showSaveFailure();
}

void CSequenceEngine::showSaveFailure() {
    statusShown = true;
    view->showStatus(QStringLiteral("Impossible d'écrire %1 (%2 image(s) non enregistrée(s))")
                         .arg(lastFailedName)
                         .arg(failedSaveCount));
}

void CSequenceEngine::stopSequence() {
    view->killSequenceTimer();
    file.close();
}

void CSequenceEngine::suspendTimer() {
    view->killSequenceTimer();
}

int CSequenceEngine::resumeTimer() {
    armPeriod();
    return 0;
}
