// The address the main window shows, as its entry fields show it.
#pragma once

#include <QString>

namespace vellumo::data {

// The texts of the address fields of the current record as they stand in the
// entry fields, typed text not yet stored included: what an envelope or a
// clipboard copy takes.
struct ShownAddress {
    QString vorname;
    QString name;
    QString strasse;
    QString plz;
    QString ort;
    QString land;
};

} // namespace vellumo::data
