#include "CameraEvents.h"

#include "DriverMessage.h"
#include "SerialLink.h"

#include <utility>

namespace {

kovrel::MessageSink& messageSink() {
    static kovrel::MessageSink sink;
    return sink;
}

kovrel::ProgressCallback& progressCallback() {
    static kovrel::ProgressCallback callback;
    return callback;
}

} // namespace

const kovrel::MessageSink& hostMessageSink() {
    return messageSink();
}

const kovrel::ProgressCallback& hostProgressCallback() {
    return progressCallback();
}

namespace kovrel {

void setMessageSink(MessageSink sink) {
    messageSink() = std::move(sink);
}

void setProgressCallback(ProgressCallback callback) {
    progressCallback() = std::move(callback);
}

PortState portState() {
    const SerialLink& link = SerialLink::instance();
    PortState s;
    s.open = link.isOpen();
    s.number = link.portNumber();
    s.path = link.failedPath();
    s.error = link.failedError();
    return s;
}

void closePort() {
    SerialLink::instance().portClose();
}

} // namespace kovrel
