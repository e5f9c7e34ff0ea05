// The main window's "E&xportieren …" and "&Importieren …".
#pragma once

#include <functional>

class QWidget;

namespace vellumo {
class RecordStore;
}

namespace vellumo::exchange {

// Writes the visible records (the filter respected) to a vCard or CSV file
// chosen in a save dialog, after storing a record still being edited.
void ExportierenClick(RecordStore& store, QWidget* parent);

// Reads a chosen address file (vCard, CSV, dBase, Paradox, Thunderbird's
// LDIF or Mork; the kind told by its content) into the open table, with a progress
// window that can be cancelled, and ends with one summary box. imported runs
// before the box, so that what stands behind it already shows the new records.
void ImportierenClick(RecordStore& store, QWidget* parent,
                      const std::function<void()>& imported = {});

} // namespace vellumo::exchange
