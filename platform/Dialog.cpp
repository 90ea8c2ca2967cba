#include "Dialog.h"

#include "Toolkit.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QPainter>

#include <climits>

// ---------------------------------------------------------------- DataExchange

DataExchange::DataExchange(QWidget* w, bool saveAndValidate, const QString& messageCaption)
    : window(w), save(saveAndValidate), caption(messageCaption) {}

QString DataExchange::integerMessage() {
    return QStringLiteral("Entrez un entier.");
}

QString DataExchange::rangeMessage(int minimum, int maximum) {
    return QStringLiteral("Entrez un entier compris entre %1 et %2.").arg(minimum).arg(maximum);
}

void DataExchange::failAt(QWidget* control, const QString& message) {
    fail = true;
    messageBox(window, message, caption, MessageIcon::Warning);
    if (control) {
        control->setFocus(Qt::OtherFocusReason);
        if (auto* e = qobject_cast<QLineEdit*>(control))
            e->selectAll();
    }
}

void DataExchange::text(int id, QString& value) {
    if (fail)
        return;
    auto* e = findControlAs<QLineEdit>(window, id);
    last = e;
    if (!e)
        return;
    if (save)
        value = e->text();
    else
        e->setText(value);
}

void DataExchange::integer(int id, int& value) {
    if (fail)
        return;
    auto* e = findControlAs<QLineEdit>(window, id);
    last = e;
    if (!e)
        return;
    if (!save) {
        e->setText(QString::number(value));
        return;
    }
    bool ok = false;
    const qlonglong v = e->text().trimmed().toLongLong(&ok);
    if (!ok || v < INT_MIN || v > INT_MAX) {
        failAt(e, integerMessage());
        return;
    }
    value = int(v);
}

void DataExchange::integerRange(int id, int& value, int minimum, int maximum) {
    integer(id, value);
    rangeCheck(value, minimum, maximum);
}

void DataExchange::rangeCheck(int value, int minimum, int maximum) {
    if (fail || !save)
        return;
    if (value < minimum || value > maximum)
        failAt(last, rangeMessage(minimum, maximum));
}

void DataExchange::check(int id, int& value) {
    if (fail)
        return;
    auto* b = findControlAs<QAbstractButton>(window, id);
    last = b;
    if (!b)
        return;
    if (save)
        value = b->isChecked() ? 1 : 0;
    else
        b->setChecked(value != 0);
}

void DataExchange::radio(int firstId, int& value) {
    if (fail)
        return;
    QButtonGroup* g = ControlBuilder::radioGroup(window, firstId);
    last = findControl(window, firstId);
    if (!g)
        return;
    if (save) {
        value = g->checkedId();
        return;
    }
    // An exclusive group cannot uncheck its last button: lift the rule meanwhile.
    g->setExclusive(false);
    const auto buttons = g->buttons();
    for (QAbstractButton* b : buttons)
        b->setChecked(g->id(b) == value);
    g->setExclusive(true);
}

// ---------------------------------------------------------------- DialogWindow

DialogWindow::DialogWindow(CDialogBase* owner, QWidget* parent) : QDialog(parent), record(owner) {}

void DialogWindow::accept() {
    record->dispatch(1);
}

void DialogWindow::reject() {
    record->dispatch(2);
}

void DialogWindow::closeEvent(QCloseEvent* event) {
    // Only the close box (a spontaneous close) is a Cancel for a panel; the
    // program's quit or the desktop closing every window must not be held
    // back by one, shown or hidden.
    if (!isModal() && !event->spontaneous()) {
        event->accept();
        return;
    }
    event->ignore();
    record->dispatch(2);
}

void DialogWindow::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    record->onPaint(painter);
}

// ---------------------------------------------------------------- CDialogBase

CDialogBase::CDialogBase(QWidget* parentWindow, const QString& cls, const QString& caption, int w,
                         int h)
    : parent(parentWindow), name(cls), title(caption), widthDlu(w), heightDlu(h) {}

CDialogBase::~CDialogBase() {
    // The window must not outlive the record it reports to.
    delete win;
    win = nullptr;
}

QDialog* CDialogBase::window() const {
    return win;
}

QWidget* CDialogBase::control(int id) const {
    return findControl(win, id);
}

QString CDialogBase::messageCaption() const {
    return applicationTitle();
}

bool CDialogBase::updateData(bool saveAndValidate) {
    if (!win)
        return false;
    DataExchange dx(win, saveAndValidate, messageCaption());
    doDataExchange(dx);
    return !dx.failed();
}

DialogWindow* CDialogBase::buildWindow(bool modal) {
    destroyWindow();
    win = new DialogWindow(this, parent);
    win->setObjectName(name);
    win->setWindowTitle(title);
    win->setModal(modal);
    if (!modal)
        win->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    const QRect size = dialogUnitsToPixels(win->font(), 0, 0, widthDlu, heightDlu);
    win->setFixedSize(size.size());
    ControlBuilder builder(win);
    createControls(builder);
    const auto buttons = win->findChildren<QAbstractButton*>();
    for (QAbstractButton* b : buttons) {
        const QString n = b->objectName();
        if (!n.startsWith(QLatin1String("id")))
            continue;
        bool ok = false;
        const int id = n.mid(2).toInt(&ok);
        if (ok)
            QObject::connect(b, &QAbstractButton::clicked, win, [this, id] { dispatch(id); });
    }
    return win;
}

void CDialogBase::destroyWindow() {
    if (!win)
        return;
    DialogWindow* w = win;
    win = nullptr;
    w->hide();
    w->deleteLater();
}

void CDialogBase::dispatch(int id) {
    if (id == 1)
        onOK();
    else if (id == 2)
        onCancel();
    else
        onCommand(id);
}

// ---------------------------------------------------------------- CDialog

int CDialog::doModal() {
    DialogWindow* w = buildWindow(true);
    if (!w)
        return -1;
    onInitDialog();
    const int result = w->exec();
    destroyWindow();
    return result == 1 || result == 2 ? result : 2;
}

void CDialog::onOK() {
    if (updateData(true))
        endDialog(1);
}

void CDialog::endDialog(int result) {
    if (QDialog* w = window())
        w->done(result);
}

// ---------------------------------------------------------------- CPanel

CPanel::CPanel(QWidget* parent, const QString& className, const QString& title, int widthDlu,
               int heightDlu)
    : CDialogBase(parent, className, title, widthDlu, heightDlu), placement(className) {}

CPanel::~CPanel() {
    placement.save(window(), shownByUser);
}

bool CPanel::create(int xDlu, int yDlu, bool visible) {
    if (window())
        return true;
    DialogWindow* w = buildWindow(false);
    if (!w)
        return false;
    QWidget* top = parentWidget() ? parentWidget()->window() : nullptr;
    const QRect at = dialogUnitsToPixels(w->font(), xDlu, yDlu, 0, 0);
    w->move(top ? top->geometry().topLeft() + at.topLeft() : at.topLeft());
    if (const std::optional<bool> shown = placement.restore(w)) {
        restored = true;
        visible = *shown;
    }
    onInitDialog();
    if (visible)
        show();
    return true;
}

void CPanel::show() {
    if (QDialog* w = window()) {
        shownByUser = true;
        placement.markSeen();
        w->show();
    }
}

void CPanel::hide() {
    if (QDialog* w = window()) {
        shownByUser = false;
        placement.save(w, false);
        w->hide();
    }
}

bool CPanel::isVisible() const {
    return window() && window()->isVisible();
}

void CPanel::invalidate() {
    if (QDialog* w = window())
        w->update();
}
