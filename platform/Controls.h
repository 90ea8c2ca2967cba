#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QToolButton>
#include <QWidget>

// Object name of the control with numeric id n: "id<n>".
QString controlName(int id);
// The child control with that id, or null.
QWidget* findControl(const QWidget* window, int id);
template <class T> T* findControlAs(const QWidget* window, int id) {
    return qobject_cast<T*>(findControl(window, id));
}

// Arrow buttons paired with an integer edit (its "buddy"): each click steps the
// edit's integer by one within [minimum, maximum], wrapping at the ends. Up and
// Down keys in the buddy step it too.
class SpinButton : public QWidget {
    Q_OBJECT
public:
    SpinButton(QWidget* parent, QLineEdit* buddy);
    void setRange(int minimum, int maximum);
    int minimum() const { return lo; }
    int maximum() const { return hi; }
    QLineEdit* buddy() const { return edit; }
    void stepUp() { step(+1); }
    void stepDown() { step(-1); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void step(int direction);
    QLineEdit* edit;
    QToolButton* up;
    QToolButton* down;
    int lo = 0;
    int hi = 100;
};

// A slider that reports scroll notifications: position changes while dragging
// (thumb track), line and page steps, and the end-of-scroll notification when the
// mouse button or the key is released.
class ScrollSlider : public QSlider {
    Q_OBJECT
public:
    enum Code {
        LineUp = 0,
        LineDown = 1,
        PageUp = 2,
        PageDown = 3,
        ThumbPosition = 4,
        ThumbTrack = 5,
        Top = 6,
        Bottom = 7,
        EndScroll = 8
    };
    ScrollSlider(Qt::Orientation orientation, QWidget* parent);

signals:
    void scrolled(int code, int position);

protected:
    void keyReleaseEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    bool keyStepped = false;
};

// Building controls at places given in dialog units, each named "id<n>".
class ControlBuilder {
public:
    explicit ControlBuilder(QWidget* window);
    QRect place(int x, int y, int w, int h) const;

    QLineEdit* edit(int id, int x, int y, int w, int h, Qt::Alignment align = Qt::AlignLeft,
                    bool readOnly = false);
    // An edit that accepts digits only.
    QLineEdit* numberEdit(int id, int x, int y, int w, int h, Qt::Alignment align = Qt::AlignRight,
                          bool readOnly = false);
    QPushButton* button(int id, const QString& text, int x, int y, int w, int h);
    QCheckBox* check(int id, const QString& text, int x, int y, int w, int h);
    // Radio buttons with the same first id form one exclusive group.
    QRadioButton* radio(int id, int firstIdOfGroup, const QString& text, int x, int y, int w, int h,
                        bool pushLike = false);
    QGroupBox* group(const QString& text, int x, int y, int w, int h);
    QLabel* label(const QString& text, int x, int y, int w, int h,
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter, int id = -1);
    SpinButton* spin(int id, int buddyId, int x, int y, int w, int h);
    ScrollSlider* slider(int id, Qt::Orientation orientation, int x, int y, int w, int h);
    QListWidget* list(int id, int x, int y, int w, int h);

    // The exclusive group of radio buttons whose first button has that id.
    static QButtonGroup* radioGroup(const QWidget* window, int firstId);

private:
    QWidget* window;
};
