#include "app/tableactions.h"

#include "platform/ui/messages.h"

#include <QAction>
#include <QMenu>

namespace vellumo {

TableActions::TableActions(std::function<bool()> switchedOn, QObject* parent)
    : QObject(parent), switchedOn_(std::move(switchedOn)) {}

void TableActions::add(QAction* action, std::function<void()> handler) {
    actions_.append(action);
    action->setEnabled(switchedOn_());
    connect(action, &QAction::triggered, this, guarded([this, handler = std::move(handler)] {
                if (switchedOn_())
                    handler();
            }));
    // One hook per menu, however many of the actions it holds.
    for (QObject* holder : action->associatedObjects()) {
        auto* menu = qobject_cast<QMenu*>(holder);
        if (!menu || watched_.contains(menu))
            continue;
        watched_.append(menu);
        connect(menu, &QMenu::aboutToShow, this, [this] { follow(); });
    }
}

void TableActions::follow() {
    const bool on = switchedOn_();
    for (QAction* action : actions_)
        action->setEnabled(on);
}

} // namespace vellumo
