#pragma once

#include <QString>

#include <functional>
#include <string>

#define KOVREL_EVENTS_EXPORT __attribute__((visibility("default")))

// What the driver tells its host while it works, for hosts that do not want
// (or cannot show) the driver's own message boxes, or that keep a window alive
// during an exposure. Both hooks are process-wide, like the serial link, and
// are called on the thread that runs the camera call.
namespace kovrel {

// Progress of one image readout.
struct Progress {
    enum class Stage {
        // The image request has left: the camera exposes for `exposureSeconds`.
        ExposureStarted,
        // Still waiting, or bytes have arrived: `received` of `expected`.
        Transfer,
    };
    Stage stage = Stage::Transfer;
    double exposureSeconds = 0.0;
    long received = 0;
    long expected = 0;
};

// Called once at the request, then at least every SerialLink::waitSliceMs while
// the link waits and after every chunk received. Null: no reports. While an
// image is being read the camera refuses calls made from inside the callback
// (see CCamera).
using ProgressCallback = std::function<void(const Progress&)>;
KOVREL_EVENTS_EXPORT void setProgressCallback(ProgressCallback callback);

// The serial port as the driver last left it. When the last open failed,
// `error` is its errno and `path` the device it tried; both are cleared by a
// successful open.
struct PortState {
    bool open = false;
    int number = 0; // the n of COM<n>
    std::string path;
    int error = 0;
};
KOVREL_EVENTS_EXPORT PortState portState();
// Closes the port (if open): the next camera call opens it again, by number.
KOVREL_EVENTS_EXPORT void closePort();

// Receives the text of every driver error instead of a message box. Null
// restores the boxes (caption "Kovrel").
using MessageSink = std::function<void(const QString& text)>;
KOVREL_EVENTS_EXPORT void setMessageSink(MessageSink sink);

} // namespace kovrel
