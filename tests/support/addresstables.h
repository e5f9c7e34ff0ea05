// Address tables for the tests, made through the record store the way "&Neu"
// makes them (the schema of address/addressschema.h, the primary index named
// after the file).
#pragma once

#include <QList>
#include <QString>
#include <QVariantMap>

namespace vellumo {
class RecordStore;
}

namespace testsupport {

// field -> value, as RecordStore::setFieldValue takes it: text (also a date
// as "17.05.2024"), QDate or QDateTime, the graphic field's bytes.
using Address = QVariantMap;

// Creates path (+ ".db"), opens it on store and saves the addresses in turn,
// each as given (no event stamps a date the address does not name). The
// table is left open on its first record.
void makeAddressTable(vellumo::RecordStore& store, const QString& path,
                      const QList<Address>& addresses = {});

// The same on a store of its own, closed again without a further save.
void makeAddressTable(const QString& path, const QList<Address>& addresses = {});

// n addresses "Person 01", "Vorname 01", "Ort 01" …, in key order.
QList<Address> numberedAddresses(int n);

} // namespace testsupport
