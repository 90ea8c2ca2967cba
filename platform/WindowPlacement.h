#pragma once

#include <QList>
#include <QRect>
#include <QString>

#include <optional>

class QWidget;

// Where a top-level window was left — position of its frame, size, where it
// sits in its frame, shown or hidden, maximised — kept in the settings store
// (section "Fenetres", keys prefixed with the window's name) and given back at
// the next start.
class WindowPlacement {
public:
    explicit WindowPlacement(QString name);

    // Puts the window where it was left, on a screen that exists. Returns
    // whether it was shown then; nothing when no place is stored.
    std::optional<bool> restore(QWidget* window);
    // Whether it was maximised when last stored.
    bool maximised() const;
    // Stores the window's place, once the user has seen the window in this
    // run or it was given back a stored one: a window never shown keeps the
    // place the program gives it.
    void save(const QWidget* window, bool shown);
    void markSeen() { seen = true; }

    struct Field;

private:
    QByteArray key(const Field& f) const;
    int read(const Field& f) const;
    void write(const Field& f, int value) const;
    QString name;
    bool seen = false;
};

// The place a window (its frame's rectangle) gets on these screens' free
// areas: where it is when the top of the window, where its title is grabbed,
// lies on one of them; otherwise inside the first one (the primary), shrunk
// to fit it.
QRect keptOnScreens(const QRect& frame, const QList<QRect>& screens);
