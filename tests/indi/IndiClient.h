#pragma once

#include <baseclient.h>
#include <basedevice.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class IndiRig;

// A client on libindi's client library, as KStars/Ekos and PHD2 are: it talks
// to the rig's indiserver over TCP, takes images as BLOBs and keeps every
// definition and update of every property with the time it arrived, so that
// tests wait on what a client sees.
class IndiClient : public INDI::BaseClient {
public:
    using Clock = std::chrono::steady_clock;
    struct Update {
        Clock::time_point at;
        IPState state = IPS_IDLE;
        std::vector<double> values; // numbers, or switches as 1 (on) and 0
        std::string text;           // the first element of a text vector
    };

    explicit IndiClient(const IndiRig& rig);
    ~IndiClient() override;
    // Connected to indiserver, with the device's properties.
    bool isReady() const { return ready; }

    // The setters wait for the property's definition; false when it is not defined.
    bool setNumbers(const std::string& property,
                    const std::vector<std::pair<std::string, double>>& values);
    bool setNumber(const std::string& property, const std::string& element, double value) {
        return setNumbers(property, {{element, value}});
    }
    bool setSwitch(const std::string& property, const std::string& element);
    bool setText(const std::string& property, const std::string& element, const std::string& text);

    // Every definition and update of the property so far.
    std::vector<Update> updates(const std::string& property);
    // Waits for an update, at index `from` or later, that satisfies `pred`;
    // its index, or -1 after timeoutMs.
    long waitUpdate(const std::string& property, const std::function<bool(const Update&)>& pred,
                    int timeoutMs, std::size_t from = 0);
    long waitState(const std::string& property, IPState state, int timeoutMs,
                   std::size_t from = 0) {
        return waitUpdate(
            property, [state](const Update& u) { return u.state == state; }, timeoutMs, from);
    }
    // Elements of the property as defined; -1 when it is not defined now.
    int members(const std::string& property);
    // Waits until the property is defined.
    bool waitDefined(const std::string& property, int timeoutMs);
    // Images received so far, and the FITS bytes of the last.
    std::size_t images();
    std::string lastImage();
    // Waits until `count` images have arrived.
    bool waitImages(std::size_t count, int timeoutMs);
    // The device's messages, one per line.
    std::string messages();
    // Defined properties whose last update is Busy.
    std::vector<std::string> busyProperties();

    static const char* device() { return "Kovrel CCD"; }

protected:
    void newProperty(INDI::Property p) override;
    void updateProperty(INDI::Property p) override;
    void removeProperty(INDI::Property p) override;
    void newMessage(INDI::BaseDevice d, int id) override;

private:
    void record(INDI::Property p, bool definition);
    bool waitFor(const std::function<bool()>& done, int timeoutMs);

    bool ready = false;
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, std::vector<Update>> history;
    std::map<std::string, int> defined;
    std::map<std::string, std::vector<std::string>> elements;
    std::size_t imageCount = 0;
    std::string image;
    std::string log;
};
