#pragma once

#include "Controls.h"
#include "WindowPlacement.h"

#include <QDialog>
#include <QString>

#include <functional>

class QPainter;

// Moves values between controls and members in the order a dialog states.
// Saving (controls to members) stops at the first control whose text is not
// acceptable: the standard message is shown, that control gets the focus, and
// nothing after it is exchanged.
class DataExchange {
public:
    DataExchange(QWidget* window, bool saveAndValidate, const QString& caption);
    bool saving() const { return save; }
    bool failed() const { return fail; }

    void text(int id, QString& value);
    void integer(int id, int& value);
    // An integer that must lie in [minimum, maximum].
    void integerRange(int id, int& value, int minimum, int maximum);
    void check(int id, int& value);
    // Index of the checked button of the radio group starting at firstId, -1 when none.
    void radio(int firstId, int& value);
    // Range check of a value just exchanged; failure points at the last control.
    void rangeCheck(int value, int minimum, int maximum);

    // The standard messages.
    static QString integerMessage();
    static QString rangeMessage(int minimum, int maximum);

private:
    void failAt(QWidget* control, const QString& message);
    QWidget* window;
    bool save;
    bool fail = false;
    QString caption;
    QWidget* last = nullptr;
};

class DialogWindow;

// What modal dialogs and modeless panels share: a record of members that lives
// as long as its owner, and a window with controls placed in dialog units.
class CDialogBase {
public:
    CDialogBase(QWidget* parent, const QString& className, const QString& title, int widthDlu,
                int heightDlu);
    virtual ~CDialogBase();
    CDialogBase(const CDialogBase&) = delete;
    CDialogBase& operator=(const CDialogBase&) = delete;

    // The window while it exists, else null.
    QDialog* window() const;
    QWidget* control(int id) const;
    QWidget* parentWidget() const { return parent; }
    void setParentWidget(QWidget* p) { parent = p; }
    // Controls to members (true, with checks) or members to controls (false).
    bool updateData(bool saveAndValidate = true);
    const QString& className() const { return name; }

protected:
    virtual void createControls(ControlBuilder& b) = 0;
    // Called once the window and its controls exist; fills the controls by default.
    virtual void onInitDialog() { updateData(false); }
    virtual void doDataExchange(DataExchange&) {}
    // A button other than OK (1) and Cancel (2) was clicked.
    virtual void onCommand(int) {}
    virtual void onOK() = 0;
    virtual void onCancel() = 0;
    // Painting over the window's background (histograms and pictures).
    virtual void onPaint(QPainter&) {}
    // Caption of the toolkit's own messages (range checks) shown by this window.
    virtual QString messageCaption() const;

    DialogWindow* buildWindow(bool modal);
    void destroyWindow();

private:
    friend class DialogWindow;
    void dispatch(int id);
    QWidget* parent;
    QString name;
    QString title;
    int widthDlu;
    int heightDlu;
    DialogWindow* win = nullptr;
};

// A modal dialog: the window exists only while shown.
class CDialog : public CDialogBase {
public:
    using CDialogBase::CDialogBase;
    // 1 when closed with OK, 2 with Cancel, -1 when the window cannot be made.
    int doModal();

protected:
    // OK: take the values from the controls; close with 1 when they pass.
    void onOK() override;
    void onCancel() override { endDialog(2); }
    void endDialog(int result);
};

// A modeless panel: made once, shown and hidden; closing it only hides it.
// Where the user left it, and whether shown, comes back at the next start.
class CPanel : public CDialogBase {
public:
    CPanel(QWidget* parent, const QString& className, const QString& title, int widthDlu,
           int heightDlu);
    ~CPanel() override;
    // Makes the window where it was last left, or else at the place (x, y) in
    // dialog units from the parent's top-level window, shown as it was left or
    // else as visible says; does nothing when it already exists.
    bool create(int xDlu, int yDlu, bool visible);
    void show();
    void hide();
    bool isVisible() const;
    // Repaint, with the background erased.
    void invalidate();
    // Whether it was in a place of its own when made (the stored one).
    bool placeRestored() const { return restored; }

protected:
    void onOK() override { hide(); }
    void onCancel() override { hide(); }

private:
    WindowPlacement placement;
    // Shown or hidden as the user last chose: the program's quit closes
    // every window without changing that.
    bool shownByUser = false;
    bool restored = false;
};

// The Qt window of a dialog or panel; routes buttons, Return, Escape and the
// close box to its record.
class DialogWindow : public QDialog {
    Q_OBJECT
public:
    DialogWindow(CDialogBase* owner, QWidget* parent);
    void accept() override;
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    CDialogBase* record;
};
