#include "CommandTable.h"

#include <QApplication>
#include <QMenu>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QWidget>

namespace {

// Menus highlight disabled items as well, so that a disabled command's prompt
// shows in the status bar while the pointer is on it, as an enabled one's does.
class MenuStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_Menu_AllowActiveAndDisabled)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

CommandTable::CommandTable(QWidget* w) : QObject(w), window(w) {
    // Toolbar buttons follow state changes made outside commands (timer ticks).
    connect(&idle, &QTimer::timeout, this, &CommandTable::updateUI);
    idle.start(150);
}

QAction* CommandTable::define(int id, const QString& text, const QString& prompt,
                              const QString& tooltip, const QList<QKeySequence>& keys) {
    Command& c = commands[id];
    if (!c.action) {
        c.action = new QAction(text, window);
        c.action->setObjectName(QStringLiteral("cmd%1").arg(id));
        c.action->setShortcutContext(Qt::WindowShortcut);
        window->addAction(c.action);
        connect(c.action, &QAction::triggered, this, [this, id] { send(id); });
    }
    const qsizetype tab = text.indexOf(QLatin1Char('\t'));
    const QString shown = tab < 0 ? text : text.left(tab);
    c.action->setText(shown);
    c.action->setStatusTip(prompt);
    c.action->setToolTip(tooltip.isEmpty() ? QString(shown).remove(QLatin1Char('&')) : tooltip);
    // A menu adds an action's own keys after its text: only a text that names
    // them after a tab has them there.
    const bool keysInMenu = tab >= 0 || keys.isEmpty();
    c.action->setShortcuts(keysInMenu ? keys : QList<QKeySequence>());
    if (!keysInMenu && !c.keys) {
        c.keys = new QAction(window);
        c.keys->setObjectName(QStringLiteral("keys%1").arg(id));
        c.keys->setShortcutContext(Qt::WindowShortcut);
        window->addAction(c.keys);
        connect(c.keys, &QAction::triggered, this, [this, id] { send(id); });
    }
    if (c.keys)
        c.keys->setShortcuts(keysInMenu ? QList<QKeySequence>() : keys);
    c.action->setEnabled(bool(c.handler));
    return c.action;
}

QList<QKeySequence> CommandTable::keys(int id) const {
    const Command* c = find(id);
    if (!c || !c->action)
        return {};
    return c->keys && !c->keys->shortcuts().isEmpty() ? c->keys->shortcuts()
                                                      : c->action->shortcuts();
}

QAction* CommandTable::action(int id) const {
    const Command* c = find(id);
    return c ? c->action : nullptr;
}

CommandTable::Command* CommandTable::find(int id) {
    auto it = commands.find(id);
    return it == commands.end() ? nullptr : &it->second;
}

const CommandTable::Command* CommandTable::find(int id) const {
    auto it = commands.find(id);
    return it == commands.end() ? nullptr : &it->second;
}

void CommandTable::setHandler(int id, std::function<void()> handler) {
    commands[id].handler = std::move(handler);
    updateUI();
}

void CommandTable::setEnableRule(int id, std::function<bool()> rule) {
    commands[id].enabled = std::move(rule);
    updateUI();
}

void CommandTable::setCheckRule(int id, std::function<bool()> rule) {
    Command& c = commands[id];
    c.checked = std::move(rule);
    if (c.action)
        c.action->setCheckable(true);
    updateUI();
}

bool CommandTable::isEnabled(int id) const {
    const Command* c = find(id);
    if (!c || !c->handler)
        return false;
    return !c->enabled || c->enabled();
}

bool CommandTable::send(int id) {
    // The rule is asked again at the moment of running: a key or a posted
    // command never runs a command that has become disabled meanwhile.
    if (!isEnabled(id)) {
        updateUI();
        return false;
    }
    const std::function<void()> handler = find(id)->handler;
    handler();
    updateUI();
    return true;
}

void CommandTable::post(int id) {
    QMetaObject::invokeMethod(
        this, [this, id] { send(id); }, Qt::QueuedConnection);
}

void CommandTable::updateUI() {
    for (auto& [id, c] : commands) {
        if (!c.action)
            continue;
        c.action->setEnabled(isEnabled(id));
        if (c.keys)
            c.keys->setEnabled(c.action->isEnabled());
        if (c.checked) {
            c.action->setCheckable(true);
            c.action->setChecked(c.checked());
        }
    }
}

void CommandTable::watchMenu(QMenu* menu) {
    connect(menu, &QMenu::aboutToShow, this, &CommandTable::updateUI);
    if (!menuStyle) {
        menuStyle = new MenuStyle(QStyleFactory::create(QApplication::style()->name()));
        menuStyle->setParent(this);
    }
    menu->setStyle(menuStyle);
}
