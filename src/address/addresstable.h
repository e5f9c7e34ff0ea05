// The address table as the record store sees it: the schema of
// address/addressschema.h declared for a new table, and its names as Qt text.
#pragma once

#include "address/addressschema.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <string_view>

namespace vellumo {

class RecordStore;

// Clears the declarations of store and declares the 20 fields of an address
// table in their order, none required, and the primary index named indexName
// over "Name;Vorname;Strasse;PLZ;Ort".
void DeclareAddressTable(RecordStore& store, const QString& indexName);

// A field name (or the key list) of the schema as the record store takes it.
QString schemaText(std::string_view name);

// The fields of the address table in their order ("Name" … "Grafik").
const QStringList& addressFieldNames();

// The schema's field of that name (exact spelling), or null.
const address::Field* addressField(QStringView name);
// Whether name is a field of the address table of that kind.
bool isAddressField(QStringView name, address::Kind kind);

} // namespace vellumo
