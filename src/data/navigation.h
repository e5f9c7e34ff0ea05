// The record buttons and the saving of a changed entry field: the rules the
// main window's handlers apply to the shared address table.
#pragma once

#include <QString>

#include <functional>

class QObject;
class QWidget;

namespace vellumo {
class RecordStore;
}

namespace vellumo::data {

enum class RecordButton { First, Prior, Next, Last, Add, Delete, None };

// Which of the six buttons (given in the order First, Prior, Next, Last, Add,
// Delete) sent the click; None for any other sender.
RecordButton recordButtonOf(const QObject* sender, std::initializer_list<const QObject*> buttons);

// What the record buttons need of the main window.
struct RecordWindow {
    std::function<void(const QString&)> setStatusText;    // the status label
    std::function<bool(const QString& question)> confirm; // true only for "&Ja"
};

inline constexpr const char* kDeleteQuestion = "Den aktuellen Datensatz wirklich löschen?";

// "<record number>/<count>".
QString recordPosition(const RecordStore& store);

// One click of a record button: the button's action, then the status label.
// Errors of the record store (no table, empty table, key violation of the
// record being settled) are raised to the caller's standard error display;
// the status label then keeps what it showed. The delete button asks its
// question first, with or without a table. After "&Nein" the label is written
// again, unless no table is open.
void ButtonFirstClick(RecordStore& store, RecordButton button, const RecordWindow& window);

// A bound entry control was left (its text is already in the record): save
// the record when it has unsaved changes. When the save fails (a duplicate
// key), the error goes to the caller and, once it has been shown, the focus
// returns to control so the person can correct the field; the exits this
// return causes do not try the save again.
void DBEditNameExit(RecordStore& store, QWidget* control = nullptr);

} // namespace vellumo::data
