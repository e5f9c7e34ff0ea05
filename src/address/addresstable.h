// The address table as the record store sees it: the schema of
// address/addressschema.h declared for a new table, and its names as Qt text.
#pragma once

#include "address/addressschema.h"

#include <QDate>
#include <QSet>
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

// The UID a record goes out with, as a card and as its birthday in a
// calendar: its own (the table's "UID") where it has one, else one derived
// from what stays when the person moves or changes numbers (name, first name
// and "Erstellt"), so every export names the record alike. Two records alike
// in those get the same one; an export numbers the second (uniqueUid).
QString recordUid(const QString& ownUid, const QString& name, const QString& firstName,
                  const QDate& created);
// uid, or uid with "-2", "-3" … where used already holds it; adds the result.
QString uniqueUid(const QString& uid, QSet<QString>& used);

} // namespace vellumo
