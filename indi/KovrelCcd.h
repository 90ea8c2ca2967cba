#pragma once

#include "AcqPrm.h"
#include "CameraWorker.h"
#include "KovrelMapping.h"

#include <indiccd.h>
#include <inditimer.h>

#include <map>
#include <memory>

namespace Connection {
class Serial;
}

// The camera as the INDI device "Kovrel CCD": INDI's standard CCD and guider
// properties, plus the camera's own settings. The camera itself is driven by
// CCamera on the worker thread; this class only runs on the driver's event
// loop and turns the worker's events into property updates.
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

    // The serial connection opens and closes the port through these.
    bool openCamera(const char* path);
    void closeCamera();

protected:
    bool StartExposure(float duration) override;
    bool AbortExposure() override;
    bool UpdateCCDFrame(int x, int y, int w, int h) override;
    bool UpdateCCDBin(int hor, int ver) override;
    IPState GuideNorth(uint32_t ms) override;
    IPState GuideSouth(uint32_t ms) override;
    IPState GuideEast(uint32_t ms) override;
    IPState GuideWest(uint32_t ms) override;
    void GuideComplete(INDI_EQ_AXIS axis) override;
    void addFITSKeywords(INDI::CCDChip* chip) override;
    bool saveConfigItems(FILE* fp) override;

private:
    struct Pulse {
        INDI_EQ_AXIS axis;
        std::uint32_t ms;
    };

    static void onWake(int fd, void* self);
    void handleEvents();
    void handleEvent(CameraWorker::Event& e);
    void tickCountdown();
    IPState pulse(kovrel_indi::GuideDirection direction, std::uint32_t ms);
    // The record from the camera properties and the chip's frame and binning.
    AcqPrm record() const;
    INDI::PropertyNumber guideProperty(INDI_EQ_AXIS axis) const;
    bool refuseWhileExposing();
    void applyPixelSize();

    int wakeFd = -1;
    std::unique_ptr<CameraWorker> worker;
    Connection::Serial* serial = nullptr;

    int nextJob = 0;
    int exposureJob = 0; // 0: none awaited
    bool exposureStarted = false;
    CameraWorker::Clock::time_point exposureStart;
    double exposureSeconds = 0;
    INDI::Timer countdown;
    std::map<int, Pulse> pulses;
    INDI::Timer guideTimers[2];

    INumber settingsN[3];
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
