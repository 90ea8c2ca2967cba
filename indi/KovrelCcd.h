#pragma once

#include "AcqPrm.h"
#include "CameraWorker.h"
#include "KovrelMapping.h"

#include <indiccd.h>
#include <inditimer.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace Connection {
class Serial;
}

// The camera as the INDI device "Kovrel CCD": INDI's standard CCD and guider
// properties, plus the camera's own settings. The camera itself is driven by
// CCamera on the worker thread; this class only runs on the driver's event
// loop and turns the worker's events into property updates, so that every
// client request, connecting included, is answered at once.
class KovrelCcd : public INDI::CCD {
public:
    KovrelCcd();
    ~KovrelCcd() override;

    const char* getDefaultName() override;
    bool initProperties() override;
    bool updateProperties() override;
    bool ISNewNumber(const char* dev, const char* name, double values[], char* names[],
                     int n) override;
    bool ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[],
                     int n) override;

protected:
    bool StartExposure(float duration) override;
    bool AbortExposure() override;
    bool UpdateCCDFrame(int x, int y, int w, int h) override;
    bool UpdateCCDBin(int hor, int ver) override;
    void GuideComplete(INDI_EQ_AXIS axis) override;
    void addFITSKeywords(INDI::CCDChip* chip) override;
    bool saveConfigItems(FILE* fp) override;

private:
    struct Pulse {
        INDI_EQ_AXIS axis;
        double ms;
    };

    static void onWake(int fd, void* self);
    void handleEvents();
    void handleEvent(CameraWorker::Event& e);
    void deliverImage(CameraWorker::Event& e);
    void tickCountdown();
    void connectCamera();
    void disconnectCamera();
    // Refuses (Alert and a message) a number that is not finite, off its
    // element's range or, where it must be, not whole.
    bool refuseNumbers(const char* name, const double values[], char* names[], int n);
    // Configurations saved before CCD_GAIN and CCD_OFFSET kept gain and offset
    // in KOVREL_SETTINGS: they go to their own properties; the members left
    // are moved to the front and counted.
    int takeOldSettings(double values[], char* names[], int n);
    void pulse(INDI_EQ_AXIS axis, const double values[], char* names[], int n);
    // Stops the axis's pulse; a move of it not yet sent never goes out.
    void forgetPulse(INDI_EQ_AXIS axis);
    // Forgets the axis's pulse and shows the property in `state`, values zero.
    void endPulse(INDI_EQ_AXIS axis, IPState state);
    // At a disconnection: a pulse whose move went out ends Idle, one still
    // waiting in `state`.
    void endPulses(IPState state);
    // The record from the camera properties and the chip's frame and binning.
    AcqPrm record() const;
    bool refuseWhileExposing();
    void applyPixelSize();
    // libindi's upload thread copies the chip's duration, frame and binning
    // before it takes ccdBufferLock, and reads the rest under it: they change
    // only once it has its copies, under the lock returned.
    std::unique_lock<std::mutex> lockChip();

    int wakeFd = -1;
    std::unique_ptr<CameraWorker> worker;
    Connection::Serial* serial = nullptr;

    int nextJob = 0;
    int openJob = 0;     // 0: not connecting
    int exposureJob = 0; // 0: none awaited
    bool exposureStarted = false;
    CameraWorker::Clock::time_point exposureStart;
    double exposureSeconds = 0;
    // End of the exposure the camera makes, whoever asked for it: a new
    // exposure waits behind it.
    CameraWorker::Clock::time_point cameraFreeAt;
    INDI::Timer countdown;
    std::map<int, Pulse> pulses; // moves not yet sent
    INDI::Timer guideTimers[2];
    // The settings of the image being delivered (FITS header), under ccdBufferLock.
    AcqPrm imagePrm;
    // An image handed to libindi whose upload thread has not yet reached its header.
    bool headerPending = false;
    std::mutex headerMutex;
    std::condition_variable headerRead;

    INumber gainN[1];
    INumberVectorProperty gainNP;
    INumber offsetN[1];
    INumberVectorProperty offsetNP;
    INumber settingsN[1];
    INumberVectorProperty settingsNP;
    ISwitch highGainS[2];
    ISwitchVectorProperty highGainSP;
    INumber colourN[4];
    INumberVectorProperty colourNP;
    INumber guideUnitsN[1];
    INumberVectorProperty guideUnitsNP;
    INumber pixelSizeN[1];
    INumberVectorProperty pixelSizeNP;
};
