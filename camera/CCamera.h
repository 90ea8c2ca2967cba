#pragma once

#include "AcqPrm.h"
#include "SensorWindow.h"

#include <QPointer>
#include <QWidget>

#include <ctime>

#define KOVREL_EXPORT __attribute__((visibility("default")))

// The camera as the application sees it: one per process, built without
// touching the port or the settings; every method returns when its serial
// work is done. While acquerir reads an image, calls made from the host's
// progress callback that would restart or reprogram the camera do nothing
// (init, reglage; acquerir gives 2, getAcqPrm -1); mount moves still go out.
class KOVREL_EXPORT CCamera {
public:
    // Time of the last image request (start of the exposure), calendar seconds.
    std::time_t acqTime = 0;

    CCamera();
    virtual ~CCamera();
    CCamera(const CCamera& other);
    CCamera& operator=(const CCamera& other);

    // Opens the port named by the stored port number (if none is open) and
    // queues the start-up frames for the next batch.
    void init();
    // init, then the acquisition parameters dialog: 1 OK, 2 Cancel, -1 not shown.
    int getAcqPrm(QWidget* parent);
    // Uploads the current parameters. Always 0.
    int reglage();
    // One image into `pixels` (getWidth() x getHeight()): 0, or 2 when it failed.
    int acquerir(unsigned short* pixels);
    // Whether the window of the record lies within the sensor; when it does
    // not (a hand-edited store), the user is told why, as the dialog would
    // ("Taille non valide", "Origine non valide"). Callers check it before
    // sizing anything for the window.
    bool checkWindow() const;

    // The window in binned pixels, and the binning.
    int getWidth() const;
    int getHeight() const;
    int getBinning() const;
    int getOriginX() const;
    int getOriginY() const;
    float getPauseEnSecondes() const;
    // Changes the exposure of the record only; the camera gets it with the next reglage.
    void setPause(float seconds);
    // Moves the mount: positive forward, negative v backward by 1 - v.
    void deplacement(int x, int y);

    // The parameters record (defaults until the first dialog).
    const AcqPrm& parameters() const { return prm; }

    // For hosts without the dialog or the settings store: the record as given,
    // and init with the record's port number and time base instead of the
    // stored ones. Neither reads nor writes the store.
    void setParameters(const AcqPrm& p);
    void initFromParameters();

private:
    int sensorWidth;
    int sensorHeight;
    unsigned short darkFrame[kSensorWidth * kSensorHeight];
    AcqPrm prm;
    // The dialog keeps the owner of its first showing.
    QPointer<QWidget> dialogParent;
    bool dialogCreated = false;
};
