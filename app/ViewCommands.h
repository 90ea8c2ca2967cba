#pragma once

// The acquisition loop's state as the enabling rules of the view's commands
// see it.
struct ViewState {
    bool loopRunning = false;
    bool loopPaused = false;
    bool cameraReady = false;
    bool guidingActive = false;
    bool accumulating = false;
};

// Whether a command of the view may run in that state. Commands without a
// rule of their own are always allowed.
bool viewCommandAllowed(int id, const ViewState& s);
