// Forms that see every key before the focused control.
#pragma once

class QEvent;
class QObject;
class QWidget;

namespace vellumo {

// Makes form the event filter of all its controls (those made later as well
// need a second call). Its eventFilter then sees their keys first.
void installKeyPreview(QWidget* form);

// The character a key press stands for in the forms' key handlers (13 for
// Enter, 27 for Escape, the typed character otherwise), 0 for anything else.
// Keys inside a drop-down list belong to the list and give 0.
int previewedKey(QObject* watched, QEvent* event);

} // namespace vellumo
