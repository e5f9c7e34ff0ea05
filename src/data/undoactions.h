// "&Rückgängig" and "&Wiederherstellen" in "&Bearbeiten": the record store's
// history, the items naming the step they take back or do again.
#pragma once

class QAction;
class QEvent;
class QMenu;
class QObject;

namespace vellumo {
class DataSource;
class RecordStore;
} // namespace vellumo

namespace vellumo::data {

// Puts both items at the head of menu (a separator after them) and runs them
// on the store; their texts and whether they can run follow every change of
// the table and are renewed whenever the menu opens.
void addUndoActions(QMenu* menu, QAction* undo, QAction* redo, RecordStore& store,
                    DataSource& source);

// The texts: "&Rückgängig: Import von karten.vcf (1.451 Adressen)", or the
// bare item when there is nothing to take back.
void showHistory(const RecordStore& store, QAction* undo, QAction* redo);

// Ctrl+Z (Ctrl+Y) in an entry field that has typing of its own to take back
// (to do again) stays the field's; otherwise it is left to the menu's item. For an event filter:
// true when the key was left to the menu.
bool leaveUndoKeyToMenu(QObject* watched, QEvent* event);

} // namespace vellumo::data
