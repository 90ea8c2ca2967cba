#pragma once

#include <QAction>
#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>
#include <map>

class QMenu;
class QStyle;
class QWidget;

// Commands by numeric id: one action each (object name "cmd<id>") for menus,
// toolbar and keys, a handler, an enabling rule and a check-mark rule. A command
// without a handler is disabled; one without a rule is enabled. Rules are
// evaluated before a menu opens, after every command and while idle.
class CommandTable : public QObject {
    Q_OBJECT
public:
    explicit CommandTable(QWidget* window);

    // text is the menu item's as written: a key named after a tab shows in the
    // menu's key column; a text without a tab is shown alone, even when the
    // command has keys (they still work).
    QAction* define(int id, const QString& text, const QString& prompt = {},
                    const QString& tooltip = {}, const QList<QKeySequence>& keys = {});
    QAction* action(int id) const;
    // The keys that run the command.
    QList<QKeySequence> keys(int id) const;
    void setHandler(int id, std::function<void()> handler);
    void setEnableRule(int id, std::function<bool()> rule);
    void setCheckRule(int id, std::function<bool()> rule);

    bool isEnabled(int id) const;
    // Runs the command now when it is enabled ("send"); true when it ran.
    bool send(int id);
    // Runs the command once the current handler has returned ("post").
    void post(int id);
    void updateUI();
    // Rules run before the menu opens; its disabled items show their prompts too.
    void watchMenu(QMenu* menu);

private:
    struct Command {
        QAction* action = nullptr;
        QAction* keys = nullptr; // keys the menu must not show, kept off the action
        std::function<void()> handler;
        std::function<bool()> enabled;
        std::function<bool()> checked;
    };
    Command* find(int id);
    const Command* find(int id) const;
    QWidget* window;
    std::map<int, Command> commands;
    QTimer idle;
    QStyle* menuStyle = nullptr;
};
