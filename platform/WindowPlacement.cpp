#include "WindowPlacement.h"

#include "SettingsStore.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {

constexpr const char* kSection = "Fenetres";
constexpr int kUnset = -100000;
// Height of the band at the top of a window that must lie on a screen, and
// the least width of it: enough to grab the title bar and move the window.
constexpr int kGrip = 40;

// The free area of every screen, the primary first.
QList<QRect> screenAreas() {
    QList<QRect> areas;
    if (const QScreen* primary = QGuiApplication::primaryScreen())
        areas << primary->availableGeometry();
    for (const QScreen* s : QGuiApplication::screens())
        if (s != QGuiApplication::primaryScreen())
            areas << s->availableGeometry();
    return areas;
}

} // namespace

// Each value with the default its reader passes: unchanged values are not
// written again, nor defaults never stored.
struct WindowPlacement::Field {
    const char* name;
    int defaultValue;
};

namespace {
constexpr WindowPlacement::Field kX{"x", kUnset}, kY{"y", kUnset}, kWidth{"largeur", 0},
    kHeight{"hauteur", 0}, kShown{"visible", 1}, kMaximised{"maximisee", 0},
    kBorderLeft{"bord_gauche", 0}, kBorderTop{"bord_haut", 0};
} // namespace

QRect keptOnScreens(const QRect& frame, const QList<QRect>& screens) {
    const QRect top(frame.left(), frame.top(), frame.width(), std::min(frame.height(), kGrip));
    for (const QRect& s : screens) {
        const QRect shown = top & s;
        if (shown.width() >= std::min(frame.width(), kGrip) && shown.height() == top.height())
            return frame;
    }
    if (screens.isEmpty())
        return frame;
    const QRect& s = screens.front();
    const QSize size = frame.size().boundedTo(s.size());
    const int x = std::clamp(frame.left(), s.left(), s.right() + 1 - size.width());
    const int y = std::clamp(frame.top(), s.top(), s.bottom() + 1 - size.height());
    return QRect(QPoint(x, y), size);
}

WindowPlacement::WindowPlacement(QString n) : name(std::move(n)) {}

int WindowPlacement::read(const Field& f) const {
    return SettingsStore::getInt(kSection, key(f).constData(), f.defaultValue);
}

void WindowPlacement::write(const Field& f, int value) const {
    if (read(f) != value)
        SettingsStore::writeInt(kSection, key(f).constData(), value);
}

QByteArray WindowPlacement::key(const Field& f) const {
    return (name + QLatin1Char('_') + QLatin1String(f.name)).toUtf8();
}

std::optional<bool> WindowPlacement::restore(QWidget* window) {
    const int x = read(kX);
    const int y = read(kY);
    if (x == kUnset || y == kUnset)
        return std::nullopt;
    QSize size(read(kWidth), read(kHeight));
    if (size.width() <= 0 || size.height() <= 0)
        size = window->size();
    const QRect kept = keptOnScreens(QRect(QPoint(x, y), size), screenAreas());
    // The window itself is placed, inside its frame: a frame's place would be
    // taken for the window's own by a window the toolkit has already made but
    // the desktop has not framed yet, which then came back a title bar higher
    // at every start.
    const QPoint border(read(kBorderLeft), read(kBorderTop));
    window->setGeometry(QRect(kept.topLeft() + border, kept.size()));
    seen = true;
    return read(kShown) != 0;
}

bool WindowPlacement::maximised() const {
    return read(kMaximised) != 0;
}

void WindowPlacement::save(const QWidget* window, bool shown) {
    if (!seen || !window)
        return;
    const bool max = window->isMaximized();
    // A maximised window keeps the place it had before, to come back to it.
    if (!max) {
        const QRect inside = window->geometry();
        write(kX, window->x());
        write(kY, window->y());
        write(kWidth, inside.width());
        write(kHeight, inside.height());
        write(kBorderLeft, inside.x() - window->x());
        write(kBorderTop, inside.y() - window->y());
    }
    write(kMaximised, max ? 1 : 0);
    write(kShown, shown ? 1 : 0);
}
