// The main window as a person has it while the figures are taken: on the
// table, its controls on, shown and painted.
#pragma once

#include "app/hauptformular.h"

#include <QApplication>

#include <string>

namespace bench {

inline void showOnTable(THauptformular& window, const std::string& path) {
    window.Datentabelle.BindTable(QString::fromStdString(path));
    window.Datentabelle.OpenTable();
    window.EnableTableControls();
    window.show();
    QApplication::processEvents();
}

} // namespace bench
