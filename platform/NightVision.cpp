#include "NightVision.h"

#include <QApplication>
#include <QChildEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QToolTip>
#include <QWidget>

#include <optional>

namespace {

const QLatin1String kFilterName("nightVisionFilter");

// Over the whole of its window, after everything else in it is painted:
// multiplying by pure red keeps only the red of every pixel.
class RedFilter : public QWidget {
public:
    explicit RedFilter(QWidget* window) : QWidget(window) {
        setObjectName(kFilterName);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(window->rect());
        window->installEventFilter(this);
        raise();
        show();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched == parent()) {
            if (e->type() == QEvent::Resize)
                setGeometry(parentWidget()->rect());
            // A control shown later would otherwise lie above the filter.
            else if (e->type() == QEvent::ChildPolished &&
                     static_cast<QChildEvent*>(e)->child() != this)
                raise();
        }
        return false;
    }
    void paintEvent(QPaintEvent* e) override {
        QPainter p(this);
        p.setCompositionMode(QPainter::CompositionMode_Multiply);
        p.fillRect(e->rect(), QColor(255, 0, 0));
    }
};

void addFilter(QWidget* window) {
    // A see-through window would turn solid red where it shows the desktop.
    if (window->testAttribute(Qt::WA_TranslucentBackground) ||
        window->findChild<QWidget*>(kFilterName, Qt::FindDirectChildrenOnly))
        return;
    new RedFilter(window);
}

// Gives every window shown while night vision is on its filter.
class WindowWatcher : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Show && watched->isWidgetType()) {
            auto* w = static_cast<QWidget*>(watched);
            if (w->isWindow())
                addFilter(w);
        }
        return false;
    }
};

QPalette nightPalette() {
    const QColor text(220, 0, 0);
    const QColor dimText(110, 0, 0);
    QPalette p;
    const struct {
        QPalette::ColorRole role;
        QColor colour;
    } roles[] = {
        {QPalette::Window, QColor(0, 0, 0)},
        {QPalette::WindowText, text},
        {QPalette::Base, QColor(0, 0, 0)},
        {QPalette::AlternateBase, QColor(20, 0, 0)},
        {QPalette::Text, text},
        {QPalette::PlaceholderText, dimText},
        {QPalette::Button, QColor(35, 0, 0)},
        {QPalette::ButtonText, text},
        {QPalette::BrightText, QColor(255, 0, 0)},
        {QPalette::Light, QColor(90, 0, 0)},
        {QPalette::Midlight, QColor(60, 0, 0)},
        {QPalette::Mid, QColor(45, 0, 0)},
        {QPalette::Dark, QColor(25, 0, 0)},
        {QPalette::Shadow, QColor(0, 0, 0)},
        {QPalette::Highlight, QColor(120, 0, 0)},
        {QPalette::HighlightedText, QColor(0, 0, 0)},
        {QPalette::Link, text},
        {QPalette::LinkVisited, dimText},
        {QPalette::ToolTipBase, QColor(20, 0, 0)},
        {QPalette::ToolTipText, text},
    };
    for (const auto& r : roles)
        p.setColor(r.role, r.colour);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dimText);
    return p;
}

WindowWatcher& windowWatcher() {
    static WindowWatcher watcher;
    return watcher;
}

bool on = false;
std::optional<QPalette> dayPalette;
QPalette dayTips;

// Style sheets take palette colours when they are applied: they are applied
// again with the palette in force.
void restyle() {
    for (QWidget* w : QApplication::allWidgets())
        if (!w->styleSheet().isEmpty())
            w->setStyleSheet(w->styleSheet());
}

} // namespace

bool nightVision() {
    return on;
}

void setNightVision(bool wanted) {
    if (wanted == on)
        return;
    on = wanted;
    if (on) {
        dayPalette = QApplication::palette();
        dayTips = QToolTip::palette();
        const QPalette night = nightPalette();
        QApplication::setPalette(night);
        QToolTip::setPalette(night);
        qApp->installEventFilter(&windowWatcher());
        for (QWidget* w : QApplication::topLevelWidgets())
            addFilter(w);
        restyle();
    } else {
        qApp->removeEventFilter(&windowWatcher());
        for (QWidget* w : QApplication::topLevelWidgets())
            delete w->findChild<QWidget*>(kFilterName, Qt::FindDirectChildrenOnly);
        QApplication::setPalette(*dayPalette);
        QToolTip::setPalette(dayTips);
        restyle();
    }
}
