// Menu items beside the 37 table controls that need an open table as well
// (export, import and whatever comes next). The 37 are a fixed set switched
// together; these are not switched with them but take the switch's state
// whenever a menu holding one of them opens, and a trigger that arrives while
// the switch is off (a shortcut, a stale menu) does nothing.
#pragma once

#include <QList>
#include <QObject>

#include <functional>

class QAction;
class QMenu;

namespace vellumo {

class TableActions : public QObject {
public:
    // switchedOn tells whether the table controls are enabled right now.
    TableActions(std::function<bool()> switchedOn, QObject* parent);

    // Adds action, already placed in its menus, with the handler it runs
    // (guarded). The action takes the switch's state at once.
    void add(QAction* action, std::function<void()> handler);

    const QList<QAction*>& actions() const { return actions_; }

    // Every action takes the switch's state.
    void follow();

private:
    std::function<bool()> switchedOn_;
    QList<QAction*> actions_;
    QList<QMenu*> watched_;
};

} // namespace vellumo
