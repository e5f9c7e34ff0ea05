// Columns by name to the address table's fields: the header of a CSV file or
// the field names of a dBase or Paradox table of another schema. The names
// this program, the mail programs and Google write, and those old desktop
// databases use ("NACHNAME", "STRASSE_NR", "TEL_PRIVAT"), folded so that case,
// umlauts and separators do not matter. A street and its house number in
// two columns are joined; a column without a field goes into the notes as
// "Spalte: Wert".
#pragma once

#include "exchange/exchange.h"

#include <memory>

namespace vellumo::exchange {

class ColumnMapping {
public:
    // choices: where the user sent a column instead (see ColumnChoices).
    explicit ColumnMapping(const QStringList& names, const ColumnChoices& choices = {});
    ~ColumnMapping();
    ColumnMapping(const ColumnMapping&) = delete;
    ColumnMapping& operator=(const ColumnMapping&) = delete;

    // At least one column has a place of its own (not only the notes).
    bool mapsAny() const;
    // Per column where it goes ("Name", "Telefon1, Telefon2, weitere in die
    // Bemerkungen"); empty for a column without a name.
    QStringList targets() const;
    // One line per column: "\"NACHNAME\" → Name".
    QStringList report() const;
    // The address of one row, its cells in the order of the names.
    Address address(const QStringList& cells, int origin) const;

private:
    struct Columns;
    std::unique_ptr<Columns> columns_;
};

} // namespace vellumo::exchange
