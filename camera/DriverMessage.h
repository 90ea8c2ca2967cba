#pragma once

#include "CameraEvents.h"

class QString;

// A modal driver error: caption "Kovrel", stop icon, owned by the application's
// main window when there is one; or the host's message sink when it set one.
void showDriverError(const QString& text);

// Sends one progress report to the host's callback, if any.
void reportProgress(const kovrel::Progress& progress);

// The host's hooks as it last set them (empty when it set none).
const kovrel::MessageSink& hostMessageSink();
const kovrel::ProgressCallback& hostProgressCallback();
