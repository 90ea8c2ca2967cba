#pragma once

#include "FitsHeader.h"

#include <QString>

#include <optional>

class CCamera;
class CSeqPrmDialog;
class ImageBuffer;
class QWidget;

// What the sequence engine needs of the view that owns it: the loop's window
// timer, the settings in force, the document, the camera, the information panel
// and the view's stop.
class SequenceHost {
public:
    virtual ~SequenceHost() = default;

    // Window timer 1 of the view: arm (replacing any interval) or kill.
    virtual void setSequenceTimer(int milliseconds) = 0;
    virtual void killSequenceTimer() = 0;

    virtual bool guidingActive() const = 0;
    // The guiding controller's cadence, in seconds.
    virtual double guidingCadenceSeconds() = 0;

    // The sequence parameters dialog: its members are the settings in force.
    virtual CSeqPrmDialog& sequenceDialog() = 0;
    virtual ImageBuffer* documentImage() = 0;
    virtual CCamera& camera() = 0;

    // The information panel.
    virtual void showSize(int width, int height, float exposureSeconds) = 0;
    virtual void showCount(int n) = 0;
    virtual void showProgress(int n, int total) = 0;

    // The document's FITS save as a new file, whatever the name, its exposure
    // cards showing `exposure` when given. Nothing that has the name, at the
    // start or by the time the file is complete, is ever replaced.
    enum class SaveResult { Saved, NameTaken, Failed };
    virtual SaveResult saveDocument(const QString& path, std::optional<AcqExposure> exposure) = 0;
    // The view's stop: ends the loop, guiding and accumulation.
    virtual void stopLoop() = 0;
    // Owner of the engine's message boxes (the main window).
    virtual QWidget* messageOwner() = 0;
    // A line in the status bar (pane 0) that stays until replaced; empty puts
    // the bar back to idle.
    virtual void showStatus(const QString& text) = 0;
};
