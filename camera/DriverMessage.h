#pragma once

class QString;
class QWidget;

// Modal message boxes of the driver, all with the caption "Kovrel".

// Stop icon, owned by the application's main window when there is one.
void showDriverError(const QString& text);
// No icon, owned by the given window (the driver's own dialogs).
void showDriverNotice(QWidget* owner, const QString& text);
