#pragma once

// The toolkit layer: what the program's windows and the camera library's dialog
// ask of a windowing toolkit, built on Qt widgets.
#include "CommandTable.h"
#include "Controls.h"
#include "Dialog.h"
#include "WindowTimers.h"

#include <QRect>
#include <QString>

class QFont;
class QWidget;

enum class MessageIcon { None, Stop, Warning, Information, Question };

// The application's main window (the top-level widget named "CMainFrame"), or null.
QWidget* mainWindow();
// Title of the running application: names message boxes that give no caption.
QString applicationTitle();

// Modal message box with an OK button. Returns when the user closes it.
void messageBox(QWidget* owner, const QString& text, const QString& caption,
                MessageIcon icon = MessageIcon::None);

// The wait cursor over every window of the program while the object lives.
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// Dialog units: horizontal units are a quarter of the font's average character
// width (over the alphabet, in fractions of a pixel), vertical units an eighth
// of its height, so that windows laid out in dialog units keep their
// proportions with any font.
QRect dialogUnitsToPixels(const QFont& font, int x, int y, int w, int h);
QRect dialogUnitsToPixels(const QFont& font, const QRect& dlu);
// The average character width in whole pixels (status bar panes).
int averageCharWidth(const QFont& font);

struct FileDialogOptions {
    QString defaultExtension; // without the dot; appended when the name has none
    QString initialName;      // initial path or file name
    QString filter;           // "Description (*.ext)|*.ext" pairs or a Qt filter
    bool mustExist = false;
    bool overwritePrompt = false;
    bool directory = false; // choose a folder instead of a file
};
// Modal file dialogs; the full path chosen, or an empty string when cancelled.
QString fileOpenDialog(QWidget* parent, const QString& title, const FileDialogOptions& options);
QString fileSaveDialog(QWidget* parent, const QString& title, const FileDialogOptions& options);
