#include "Controls.h"

#include "Toolkit.h"

#include <QIntValidator>
#include <QKeyEvent>
#include <QRegularExpressionValidator>
#include <QWheelEvent>

QString controlName(int id) {
    return QStringLiteral("id%1").arg(id);
}

QWidget* findControl(const QWidget* window, int id) {
    return window ? window->findChild<QWidget*>(controlName(id)) : nullptr;
}

SpinButton::SpinButton(QWidget* parent, QLineEdit* buddy)
    : QWidget(parent), edit(buddy), up(new QToolButton(this)), down(new QToolButton(this)) {
    up->setArrowType(Qt::UpArrow);
    down->setArrowType(Qt::DownArrow);
    up->setObjectName(QStringLiteral("up"));
    down->setObjectName(QStringLiteral("down"));
    up->setAutoRepeat(true);
    down->setAutoRepeat(true);
    up->setFocusPolicy(Qt::NoFocus);
    down->setFocusPolicy(Qt::NoFocus);
    connect(up, &QToolButton::clicked, this, [this] { step(+1); });
    connect(down, &QToolButton::clicked, this, [this] { step(-1); });
    if (edit)
        edit->installEventFilter(this);
}

void SpinButton::setRange(int minimum, int maximum) {
    lo = minimum;
    hi = maximum;
}

void SpinButton::step(int direction) {
    if (!edit)
        return;
    bool ok = false;
    int v = edit->text().trimmed().toInt(&ok);
    if (!ok)
        v = lo;
    const int low = std::min(lo, hi);
    const int high = std::max(lo, hi);
    // A reversed range counts the other way, as such controls always have.
    v += (lo <= hi) ? direction : -direction;
    if (v > high)
        v = low;
    else if (v < low)
        v = high;
    edit->setText(QString::number(v));
}

bool SpinButton::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            step(key == Qt::Key_Up ? +1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

ScrollSlider::ScrollSlider(Qt::Orientation orientation, QWidget* parent)
    : QSlider(orientation, parent) {
    connect(this, &QSlider::sliderMoved, this, [this](int pos) { emit scrolled(ThumbTrack, pos); });
    connect(this, &QSlider::sliderReleased, this, [this] {
        emit scrolled(ThumbPosition, value());
        emit scrolled(EndScroll, value());
    });
    connect(this, &QAbstractSlider::actionTriggered, this, [this](int action) {
        // The value is applied after this signal: report the position it will take.
        const int pos = sliderPosition();
        switch (action) {
        case SliderSingleStepAdd:
            emit scrolled(LineDown, pos);
            break;
        case SliderSingleStepSub:
            emit scrolled(LineUp, pos);
            break;
        case SliderPageStepAdd:
            emit scrolled(PageDown, pos);
            break;
        case SliderPageStepSub:
            emit scrolled(PageUp, pos);
            break;
        case SliderToMinimum:
            emit scrolled(Top, pos);
            break;
        case SliderToMaximum:
            emit scrolled(Bottom, pos);
            break;
        default:
            return;
        }
        keyStepped = true;
    });
}

void ScrollSlider::keyReleaseEvent(QKeyEvent* event) {
    QSlider::keyReleaseEvent(event);
    if (keyStepped && !event->isAutoRepeat()) {
        keyStepped = false;
        emit scrolled(EndScroll, value());
    }
}

void ScrollSlider::mouseReleaseEvent(QMouseEvent* event) {
    const bool dragging = isSliderDown();
    QSlider::mouseReleaseEvent(event);
    // A click on the groove steps by a page; its end comes with the release.
    if (!dragging && keyStepped) {
        keyStepped = false;
        emit scrolled(EndScroll, value());
    }
}

void ScrollSlider::wheelEvent(QWheelEvent* event) {
    const int before = value();
    QSlider::wheelEvent(event);
    // Each wheel notch is a step that ends at once.
    if (value() != before) {
        keyStepped = false;
        emit scrolled(value() > before ? LineDown : LineUp, value());
        emit scrolled(EndScroll, value());
    }
}

ControlBuilder::ControlBuilder(QWidget* w) : window(w) {}

QRect ControlBuilder::place(int x, int y, int w, int h) const {
    return dialogUnitsToPixels(window->font(), x, y, w, h);
}

QLineEdit* ControlBuilder::edit(int id, int x, int y, int w, int h, Qt::Alignment align,
                                bool readOnly) {
    auto* e = new QLineEdit(window);
    e->setObjectName(controlName(id));
    e->setGeometry(place(x, y, w, h));
    e->setAlignment(align | Qt::AlignVCenter);
    e->setReadOnly(readOnly);
    return e;
}

QListWidget* ControlBuilder::list(int id, int x, int y, int w, int h) {
    auto* l = new QListWidget(window);
    l->setObjectName(controlName(id));
    l->setGeometry(place(x, y, w, h));
    return l;
}

QLineEdit* ControlBuilder::numberEdit(int id, int x, int y, int w, int h, Qt::Alignment align,
                                      bool readOnly) {
    QLineEdit* e = edit(id, x, y, w, h, align, readOnly);
    e->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
    return e;
}

QPushButton* ControlBuilder::button(int id, const QString& text, int x, int y, int w, int h) {
    auto* b = new QPushButton(text, window);
    b->setObjectName(controlName(id));
    b->setGeometry(place(x, y, w, h));
    b->setAutoDefault(false);
    if (id == 1)
        b->setDefault(true);
    return b;
}

QCheckBox* ControlBuilder::check(int id, const QString& text, int x, int y, int w, int h) {
    auto* c = new QCheckBox(text, window);
    c->setObjectName(controlName(id));
    c->setGeometry(place(x, y, w, h));
    return c;
}

QButtonGroup* ControlBuilder::radioGroup(const QWidget* window, int firstId) {
    return window ? window->findChild<QButtonGroup*>(QStringLiteral("group%1").arg(firstId))
                  : nullptr;
}

QRadioButton* ControlBuilder::radio(int id, int firstIdOfGroup, const QString& text, int x, int y,
                                    int w, int h, bool pushLike) {
    QRadioButton* r = nullptr;
    if (pushLike) {
        // A radio button drawn as a push button that stays down while checked.
        r = new QRadioButton(window);
        r->setStyleSheet(QStringLiteral(
            "QRadioButton { border: 1px solid palette(dark); border-radius: 2px;"
            " background: palette(button); padding: 0px; }"
            "QRadioButton:checked { background: palette(mid); border: 1px inset palette(shadow); }"
            "QRadioButton::indicator { width: 0px; height: 0px; }"));
        r->setText(text);
    } else {
        r = new QRadioButton(text, window);
    }
    r->setObjectName(controlName(id));
    r->setGeometry(place(x, y, w, h));
    r->setAutoExclusive(false);
    QButtonGroup* g = radioGroup(window, firstIdOfGroup);
    if (!g) {
        g = new QButtonGroup(window);
        g->setObjectName(QStringLiteral("group%1").arg(firstIdOfGroup));
        g->setExclusive(true);
    }
    g->addButton(r, g->buttons().size());
    return r;
}

QGroupBox* ControlBuilder::group(const QString& text, int x, int y, int w, int h) {
    auto* g = new QGroupBox(text, window);
    g->setGeometry(place(x, y, w, h));
    g->lower(); // a frame behind the controls it surrounds
    return g;
}

QLabel* ControlBuilder::label(const QString& text, int x, int y, int w, int h, Qt::Alignment align,
                              int id) {
    auto* l = new QLabel(text, window);
    if (id >= 0)
        l->setObjectName(controlName(id));
    l->setGeometry(place(x, y, w, h));
    l->setAlignment(align);
    return l;
}

SpinButton* ControlBuilder::spin(int id, int buddyId, int x, int y, int w, int h) {
    auto* s = new SpinButton(window, findControlAs<QLineEdit>(window, buddyId));
    s->setObjectName(controlName(id));
    const QRect r = place(x, y, w, h);
    s->setGeometry(r);
    auto* up = s->findChild<QToolButton*>(QStringLiteral("up"));
    auto* down = s->findChild<QToolButton*>(QStringLiteral("down"));
    up->setGeometry(0, 0, r.width(), r.height() / 2);
    down->setGeometry(0, r.height() / 2, r.width(), r.height() - r.height() / 2);
    return s;
}

ScrollSlider* ControlBuilder::slider(int id, Qt::Orientation orientation, int x, int y, int w,
                                     int h) {
    auto* s = new ScrollSlider(orientation, window);
    s->setObjectName(controlName(id));
    s->setGeometry(place(x, y, w, h));
    return s;
}
