#include "CSequenceEngine.h"

#include "CCamera.h"
#include "CSeqPrmDialog.h"
#include "ImageBuffer.h"
#include "PelmoxAction.h"
#include "SequenceHost.h"
#include "Toolkit.h"

#include <climits>

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
    // The previous run's failed saves stay in the status bar until now.
    if (failedSaveCount > 0)
        view->showStatus(QString());
    failedSaveCount = 0;
    lastFailedName.clear();

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
        if (file.nextExposure(seconds))
            camera.setPause(seconds);
        view->showSize(camera.getWidth(), camera.getHeight(), camera.getPauseEnSecondes());
        view->showProgress(imageCount, imageTotal);
    } else {
        view->showCount(imageCount);
    }
}

void CSequenceEngine::afterAcquisition() {
    if (delayMode)
        armPeriod();
    if (postProcess && image && image->pixels)
        PelmoxAction(image->pixels, image->width, image->height);
    if (saveEachImage)
        saveSequenceImage();
    ++imageCount;
    if (imageCount >= imageTotal)
        view->stopLoop();
}

void CSequenceEngine::saveSequenceImage() {
    const CSeqPrmDialog& settings = view->sequenceDialog();
    const QString name = sequenceImageName(settings.imageDirectory, settings.baseName, imageCount);
    // An unattended run goes on past a file it cannot write; the status bar
    // keeps the last such name and the count in view instead of a modal box.
    if (!view->saveDocument(name)) {
        ++failedSaveCount;
        lastFailedName = name;
    }
    if (failedSaveCount > 0)
        showSaveFailure();
}

void CSequenceEngine::showSaveFailure() {
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
