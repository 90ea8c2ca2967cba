#include "IndiClient.h"

#include "IndiRig.h"

namespace {

// A property a client sets may still be on its way (the definitions that
// follow a connection, for one).
const int definitionWaitMs = 5000;

} // namespace

// libindi's client library (1.9) keeps devices and properties, the ones it
// builds for requests included, in cycles of shared pointers that nothing
// breaks: LeakSanitizer reports them when a sanitized test ends.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libindiclient.so\n";
}

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

// Requests are built apart from the properties libindi keeps: its listener
// thread updates those at any moment, and a request must carry the values the
// test gives, no more (as indi_setprop and KStars send them).
bool IndiClient::setNumbers(const std::string& property,
                            const std::vector<std::pair<std::string, double>>& values) {
    if (!waitDefined(property, definitionWaitMs))
        return false;
    INDI::PropertyNumber p(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        p[i].fill(values[i].first.c_str(), "", "%g", 0, 0, 0, values[i].second);
    p.fill(device(), property.c_str(), "", "", IP_RW, 0, IPS_IDLE);
    sendNewNumber(p);
    return true;
}

bool IndiClient::setSwitch(const std::string& property, const std::string& element) {
    if (!waitDefined(property, definitionWaitMs))
        return false;
    std::vector<std::string> all;
    {
        std::lock_guard<std::mutex> lock(mutex);
        all = elements[property];
    }
    // As clients do for one-of-many switches: this one on, the others off.
    INDI::PropertySwitch p(all.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        p[i].fill(all[i].c_str(), "", all[i] == element ? ISS_ON : ISS_OFF);
    p.fill(device(), property.c_str(), "", "", IP_RW, ISR_1OFMANY, 0, IPS_IDLE);
    sendNewSwitch(p);
    return true;
}

bool IndiClient::setText(const std::string& property, const std::string& element,
                         const std::string& text) {
    if (!waitDefined(property, definitionWaitMs))
        return false;
    INDI::PropertyText p(1);
    p[0].fill(element.c_str(), "", text.c_str());
    p.fill(device(), property.c_str(), "", "", IP_RW, 0, IPS_IDLE);
    sendNewText(p);
    return true;
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
    std::vector<std::string> names;
    switch (p.getType()) {
    case INDI_NUMBER:
        for (const auto& e : INDI::PropertyNumber(p))
            u.values.push_back(e.getValue()), names.push_back(e.getName());
        break;
    case INDI_SWITCH:
        for (const auto& e : INDI::PropertySwitch(p))
            u.values.push_back(e.getState() == ISS_ON ? 1 : 0), names.push_back(e.getName());
        break;
    case INDI_TEXT:
        for (const auto& e : INDI::PropertyText(p)) {
            if (names.empty())
                u.text = e.getText() ? e.getText() : "";
            names.push_back(e.getName());
        }
        break;
    case INDI_BLOB:
        for (const auto& e : INDI::PropertyBlob(p)) {
            names.push_back(e.getName());
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
        if (definition) {
            defined[p.getName()] = int(names.size());
            elements[p.getName()] = std::move(names);
        }
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
