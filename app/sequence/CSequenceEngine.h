#pragma once

#include "SequenceFile.h"

#include <QString>

class ImageBuffer;
class SequenceHost;

// Milliseconds of a timer interval: the period in seconds times 1000, truncated
// toward zero, the product taken in double (a period of 0.7f gives 699 ms).
int sequenceIntervalMs(float periodSeconds);
// Name of a saved sequence image: directory, base name, number with at least
// four digits, ".fit".
QString sequenceImageName(const QString& directory, const QString& baseName, int number);
// The first number a new sequence may use without replacing an image on disk:
// one past the highest number of the images named that way, 0 when none is there.
int nextSequenceNumber(const QString& directory, const QString& baseName);
// The folder the images go in: what comes before the last separator of the
// directory followed by the base name, which may hold a folder part.
QString sequenceImageFolder(const QString& directory, const QString& baseName);
// Makes the images' folder, with its parents, when it is missing. Why no image
// can be written there (French, for a message box); empty when a file could
// be created in it.
QString imageFolderRefusal(const QString& folder);

// Turns the view's acquisition loop into a timed sequence: arms the loop's timer,
// takes exposures from the sequence file, post-processes, saves each numbered
// image, counts, and stops the loop after the last image.
class CSequenceEngine {
public:
    static constexpr int sequenceTimer = 1;
    static constexpr int defaultImageTotal = 10000;
    static constexpr int firstTickMs = 100;

    explicit CSequenceEngine(SequenceHost* host);
    virtual ~CSequenceEngine();
    CSequenceEngine(const CSequenceEngine&) = delete;
    CSequenceEngine& operator=(const CSequenceEngine&) = delete;

    // Takes the settings in force and arms the first tick; 1 (and nothing armed)
    // when the sequence file cannot be opened or, for a saving sequence, the
    // images' folder cannot be made or written.
    int startSequence();
    void beforeAcquisition();
    // Called after every acquisition, whatever the camera returned; an image
    // the camera failed to read is counted but never saved.
    void afterAcquisition(bool imageRead = true);
    void saveSequenceImage();
    void stopSequence();
    void suspendTimer();
    int resumeTimer();

    int count() const { return imageCount; }
    int total() const { return imageTotal; }
    float periodSeconds() const { return period; }
    bool isDelayMode() const { return delayMode; }
    bool readsParamFile() const { return readParamFile; }
    bool savesEachImage() const { return saveEachImage; }
    bool postProcesses() const { return postProcess; }
    // Images of this sequence that could not be written.
    int failedSaves() const { return failedSaveCount; }
    // Number in the name of the current image.
    int fileNumber() const { return firstFileNumber + imageCount; }

private:
    void armPeriod();
    void showSaveFailure();
    QString currentImageName() const;

    SequenceHost* view;
    int imageCount = 0;
    int imageTotal = defaultImageTotal;
    SequenceFile file;
    float period = 0;
    bool delayMode = false;
    bool readParamFile = false;
    bool saveEachImage = false;
    bool postProcess = false;
    ImageBuffer* image = nullptr;
    int failedSaveCount = 0;
    QString lastFailedName;
    // Number of the first image's file: past those already on disk.
    int firstFileNumber = 0;
    // A notice of this run is in the status bar.
    bool statusShown = false;
};
