#include "ViewCommands.h"

#include "CommandIds.h"

bool viewCommandAllowed(int id, const ViewState& s) {
    switch (id) {
    case cmd::CameraParams:
    case cmd::SequenceParams:
        return !s.loopRunning && !s.loopPaused;
    case cmd::AcquireOne:
        return !s.loopRunning;
    case cmd::LoopStart:
        return (!s.loopRunning && s.cameraReady) || s.loopPaused;
    case cmd::LoopPause:
        return s.loopRunning && !s.loopPaused;
    case cmd::LoopStop:
        // While guiding only the guiding panel's own stop ends the loop.
        return s.loopRunning && !s.guidingActive;
    case cmd::StartCumul:
        return !s.loopPaused && !s.loopRunning && !s.accumulating;
    default:
        return true;
    }
}
