#pragma once

#include <string>
#include <sys/types.h>

// A private X display for tests that must see what a desktop sees (window
// titles as the window manager gets them): Xvfb on the first free display
// number with openbox managing it. The process's Qt application must be made
// after it, on the xcb platform, which the constructor selects.
class VirtualDisplay {
public:
    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // ":<n>", or empty when the server did not start.
    const std::string& name() const { return display; }
    // Whether the window manager runs and manages the screen.
    bool managed() const { return running; }

private:
    pid_t server = -1;
    pid_t manager = -1;
    std::string display;
    bool running = false;
};
