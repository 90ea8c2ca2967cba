#include "ViewCommands.h"

#include "CommandIds.h"

namespace {

bool imageCommandAllowed(int id, const ViewState& s) {
    switch (id) {
    case cmd::InitCamera:
    case cmd::CameraParams:
    case cmd::SequenceParams:
    case cmd::AcquireOne:
    case cmd::LoopStart:
    case cmd::StartCumul:
    case cmd::GuidingStart:
    case cmd::GuidingParams:
    case cmd::SerialPortDialog:
    case cmd::FileNew:
    case cmd::FileOpen:
    case cmd::FileSave:
    case cmd::FileSaveAs:
    case cmd::FilePrint:
    case cmd::FilePrintDirect:
    case cmd::FilePrintPreview:
    case cmd::FilePrintSetup:
    case cmd::AppAbout:
        return !s.imageUnderWay;
    default:
        return !s.imageUnderWay || id < cmd::FileMru1 || id >= cmd::FileMru1 + kRecentFileCount;
    }
}

} // namespace

bool viewCommandAllowed(int id, const ViewState& s) {
    if (!imageCommandAllowed(id, s))
        return false;
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
