#include "data/undoactions.h"

#include "platform/database/boundcontrols.h"
#include "platform/database/datasource.h"
#include "platform/database/recordstore.h"
#include "platform/ui/messages.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QTextDocument>

namespace vellumo::data {

namespace {

QString itemText(const QString& item, const QString& label) {
    if (label.isEmpty())
        return item;
    QString shown = label;
    shown.replace(u'&', QStringLiteral("&&")); // "Müller & Söhne" has no access key
    return item + QStringLiteral(": ") + shown;
}

} // namespace

void showHistory(const RecordStore& store, QAction* undo, QAction* redo) {
    const bool open = store.IsTableOpen() && !store.isBroken();
    undo->setText(itemText(QStringLiteral("&Rückgängig"), open ? store.undoLabel() : QString()));
    redo->setText(
        itemText(QStringLiteral("&Wiederherstellen"), open ? store.redoLabel() : QString()));
    undo->setEnabled(open && store.canUndo());
    redo->setEnabled(open && store.canRedo());
}

void addUndoActions(QMenu* menu, QAction* undo, QAction* redo, RecordStore& store,
                    DataSource& source) {
    undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    redo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Y));
    QAction* first = menu->actions().value(0);
    menu->insertAction(first, undo);
    menu->insertAction(first, redo);
    menu->insertSeparator(first);
    auto show = [&store, undo, redo] { showHistory(store, undo, redo); };
    QObject::connect(undo, &QAction::triggered, menu, guarded([&store, show] {
                         // A shortcut may come before the item was renewed.
                         if (store.IsTableOpen() && store.canUndo())
                             store.Undo();
                         show();
                     }));
    QObject::connect(redo, &QAction::triggered, menu, guarded([&store, show] {
                         if (store.IsTableOpen() && store.canRedo())
                             store.Redo();
                         show();
                     }));
    // The step an import or a merge closes at its end comes without a change.
    struct Watch : QObject {
        using QObject::QObject;
        Subscription history;
    };
    auto* watch = new Watch(menu);
    watch->history = store.subscribeHistory(show);
    QObject::connect(menu, &QMenu::aboutToShow, menu, show);
    QObject::connect(&source, &DataSource::recordsChanged, menu, show);
    QObject::connect(&source, &DataSource::stateChanged, menu, show);
    show();
}

bool leaveUndoKeyToMenu(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ShortcutOverride)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const bool undo = key->key() == Qt::Key_Z;
    if (key->modifiers() != Qt::ControlModifier || (!undo && key->key() != Qt::Key_Y))
        return false;
    bool own = true;
    if (auto* edit = qobject_cast<DBEdit*>(watched))
        own = undo ? edit->isUndoAvailable() : edit->isRedoAvailable();
    else if (auto* memo = qobject_cast<DBMemo*>(watched))
        own = undo ? memo->document()->isUndoAvailable() : memo->document()->isRedoAvailable();
    else
        return false;
    if (own)
        return false;
    key->ignore();
    return true;
}

} // namespace vellumo::data
