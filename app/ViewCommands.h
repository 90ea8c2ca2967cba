#pragma once

// The acquisition loop's state as the enabling rules of the view's commands
// see it.
struct ViewState {
    bool loopRunning = false;
    bool loopPaused = false;
    bool cameraReady = false;
    bool guidingActive = false;
    bool accumulating = false;
    // An image is being taken: the event loop turns inside the camera call.
    bool imageUnderWay = false;
};

// Whether a command of the view may run in that state. Commands without a
// rule of their own are always allowed. While an image is under way, what
// would use the camera, change the document's image or open a modal window
// (whose own loop would hold the transfer) waits for the image.
bool viewCommandAllowed(int id, const ViewState& s);
