#include "CommandTable.h"

#include <QMenu>
#include <QWidget>

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
    c.action->setText(text);
    c.action->setStatusTip(prompt);
    c.action->setToolTip(tooltip.isEmpty() ? QString(text).remove(QLatin1Char('&')) : tooltip);
    c.action->setShortcuts(keys);
    c.action->setEnabled(bool(c.handler));
    return c.action;
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
        if (c.checked) {
            c.action->setCheckable(true);
            c.action->setChecked(c.checked());
        }
    }
}

void CommandTable::watchMenu(QMenu* menu) {
    connect(menu, &QMenu::aboutToShow, this, &CommandTable::updateUI);
}
