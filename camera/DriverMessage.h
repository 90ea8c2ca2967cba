#pragma once

class QString;

// A modal driver error: caption "Kovrel", stop icon, owned by the application's
// main window when there is one.
void showDriverError(const QString& text);
