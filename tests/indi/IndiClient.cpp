#include "IndiClient.h"

#include "IndiRig.h"

namespace {

// A property a client sets may still be on its way (the definitions that
// follow a connection, for one).
const int definitionWaitMs = 5000;

} // namespace

IndiClient::IndiClient(const IndiRig& rig) {
    setServer("localhost", static_cast<unsigned>(rig.port()));
    watchDevice(device());
    if (!connectServer())
        return;
    setBLOBMode(B_ALSO, device(), nullptr);
    ready = waitDefined("CONNECTION", 10000);
}

IndiClient::~IndiClient() {
    disconnectServer();
}

bool IndiClient::setNumbers(const std::string& property,
                            const std::vector<std::pair<std::string, double>>& values) {
    waitDefined(property, definitionWaitMs);
    INDI::PropertyNumber p = getDevice(device()).getNumber(property.c_str());
    if (!p.isValid())
        return false;
    for (const auto& [element, value] : values) {
        auto* e = p.findWidgetByName(element.c_str());
        if (!e)
            return false;
        e->setValue(value);
    }
    sendNewNumber(p);
    return true;
}

bool IndiClient::setSwitch(const std::string& property, const std::string& element) {
    waitDefined(property, definitionWaitMs);
    INDI::PropertySwitch p = getDevice(device()).getSwitch(property.c_str());
    auto* e = p.isValid() ? p.findWidgetByName(element.c_str()) : nullptr;
    if (!e)
        return false;
    // As clients do for one-of-many switches: this one on, the others off.
    p.reset();
    e->setState(ISS_ON);
    sendNewSwitch(p);
    return true;
}

void IndiClient::setText(const std::string& property, const std::string& element,
                         const std::string& text) {
    waitDefined(property, definitionWaitMs);
    sendNewText(device(), property.c_str(), element.c_str(), text.c_str());
}

std::vector<IndiClient::Update> IndiClient::updates(const std::string& property) {
    std::lock_guard<std::mutex> lock(mutex);
    return history[property];
}

long IndiClient::waitUpdate(const std::string& property,
                            const std::function<bool(const Update&)>& pred, int timeoutMs,
                            std::size_t from) {
    long found = -1;
    waitFor(
        [&] {
            const std::vector<Update>& h = history[property];
            for (std::size_t i = from; i < h.size(); ++i)
                if (pred(h[i]))
                    return (found = long(i)) >= 0;
            return false;
        },
        timeoutMs);
    return found;
}

int IndiClient::members(const std::string& property) {
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = defined.find(property);
    return it == defined.end() ? -1 : it->second;
}

bool IndiClient::waitDefined(const std::string& property, int timeoutMs) {
    return waitFor([&] { return defined.count(property) > 0; }, timeoutMs);
}

std::size_t IndiClient::images() {
    std::lock_guard<std::mutex> lock(mutex);
    return imageCount;
}

std::string IndiClient::lastImage() {
    std::lock_guard<std::mutex> lock(mutex);
    return image;
}

bool IndiClient::waitImages(std::size_t count, int timeoutMs) {
    return waitFor([&] { return imageCount >= count; }, timeoutMs);
}

std::string IndiClient::messages() {
    std::lock_guard<std::mutex> lock(mutex);
    return log;
}

bool IndiClient::waitFor(const std::function<bool()>& done, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
}

std::vector<std::string> IndiClient::busyProperties() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> busy;
    for (const auto& [name, count] : defined)
        if (!history[name].empty() && history[name].back().state == IPS_BUSY)
            busy.push_back(name);
    return busy;
}

void IndiClient::record(INDI::Property p, bool definition) {
    Update u;
    u.at = Clock::now();
    u.state = p.getState();
    int count = 0;
    switch (p.getType()) {
    case INDI_NUMBER:
        for (const auto& e : INDI::PropertyNumber(p))
            u.values.push_back(e.getValue()), ++count;
        break;
    case INDI_SWITCH:
        for (const auto& e : INDI::PropertySwitch(p))
            u.values.push_back(e.getState() == ISS_ON ? 1 : 0), ++count;
        break;
    case INDI_TEXT:
        for (const auto& e : INDI::PropertyText(p)) {
            if (count++ == 0)
                u.text = e.getText() ? e.getText() : "";
        }
        break;
    case INDI_BLOB:
        for (const auto& e : INDI::PropertyBlob(p)) {
            ++count;
            if (e.getSize() > 0) {
                std::lock_guard<std::mutex> lock(mutex);
                image.assign(static_cast<const char*>(e.getBlob()), std::size_t(e.getSize()));
                ++imageCount;
            }
        }
        break;
    default:
        break;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        history[p.getName()].push_back(std::move(u));
        if (definition)
            defined[p.getName()] = count;
    }
    changed.notify_all();
}

void IndiClient::newProperty(INDI::Property p) {
    record(p, true);
}

void IndiClient::updateProperty(INDI::Property p) {
    record(p, false);
}

void IndiClient::removeProperty(INDI::Property p) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        defined.erase(p.getName());
    }
    changed.notify_all();
}

void IndiClient::newMessage(INDI::BaseDevice d, int id) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        log += d.messageQueue(std::size_t(id)) + "\n";
    }
    changed.notify_all();
}
