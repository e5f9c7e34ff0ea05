// Opening the default table at start-up, with its silent fallbacks.
#pragma once

#include <QString>

#include <functional>

namespace vellumo {
class RecordStore;
}

namespace vellumo::data {

// What opening the default table needs of the main window.
struct TableWindow {
    std::function<void(const QString&)> setCaption;
    std::function<void()> enableTableControls;
    std::function<void()> disableTableControls;
};

// Reads "FileName" of section "Standardtabelle" from setupIni (default
// "Error"). When no file of that name exists (a relative name is looked up in
// the working directory) nothing happens: no table, the designed caption.
// Otherwise the table is opened; the caption becomes baseCaption + " - " + its
// file name and the table controls are enabled. Any error on the way is
// dropped without a message: the caption falls back to baseCaption and the
// controls are disabled unless the table is open after all.
// Returns whether the table is open.
bool OpenDefaultTable(RecordStore& store, const QString& baseCaption, const TableWindow& window,
                      const QString& setupIni);

} // namespace vellumo::data
