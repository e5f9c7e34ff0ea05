// Address tables for the tests of this folder, made through the record store
// the way the program makes them.
#pragma once

#include <QList>
#include <QMap>
#include <QString>

namespace vellumo {
class RecordStore;
}

namespace findtest {

using Address = QMap<QString, QString>; // field -> text

// Declares the address schema, creates path (+ ".db"), opens it and stores
// the addresses. The table is left open on its first record.
void makeAddressTable(vellumo::RecordStore& store, const QString& path,
                      const QList<Address>& addresses);

// n addresses named "Person 01" … with distinct first names.
QList<Address> numberedAddresses(int n);

} // namespace findtest
