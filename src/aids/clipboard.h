// Cut, copy, paste and clear on the entry field or notes field that has the
// focus in the main window, through the system clipboard in plain text.
//
// Every operation takes the main window's active control; anything but a
// bound entry field (DBEdit) or the bound notes field (DBMemo) is left alone,
// except that a read-only line (the IBAN under the bank fields) can be copied.
// Cut, paste and clear put the record into editing before they change the
// text, so the change is stored by the ordinary save when the field is left;
// when the record cannot go into editing, the text stays as it is.
#pragma once

#include <Qt>

#include <functional>

class QAbstractButton;
class QEvent;
class QObject;
class QWidget;

namespace vellumo::aids {

void cutSelection(QWidget* active);
void copySelection(QWidget* active);
void pasteClipboard(QWidget* active);
// Empties the whole field ("Feld Löschen").
void clearField(QWidget* active);
// Select the whole text first; after the copy the whole text stays selected.
void cutWholeField(QWidget* active);
void copyWholeField(QWidget* active);

// Runs handler with the button of every mouse release over button, before
// the button's own click (which only the left button gives).
void onMouseUp(QAbstractButton* button, std::function<void(Qt::MouseButton)> handler);

// For an event filter on the window's controls: true (and the event refused)
// when event asks whether a bound field wants Ctrl+X, Ctrl+C or Ctrl+V for
// itself, so that those keys reach the menu's handlers instead.
bool leaveClipboardKeysToMenu(QObject* watched, QEvent* event);

} // namespace vellumo::aids
