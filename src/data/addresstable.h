// The address table's schema, as a new table is declared.
#pragma once

#include <QString>

namespace vellumo {

class RecordStore;

// Clears the declarations of store and declares the 20 fields of an address
// table in their order, none required, and the primary index named indexName
// over "Name;Vorname;Strasse;PLZ;Ort".
void DeclareAddressTable(RecordStore& store, const QString& indexName);

} // namespace vellumo
