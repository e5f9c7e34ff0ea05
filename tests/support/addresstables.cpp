#include "addresstables.h"

#include "address/addresstable.h"
#include "platform/database/recordstore.h"

#include <QFileInfo>

namespace testsupport {

void makeAddressTable(vellumo::RecordStore& store, const QString& path,
                      const QList<Address>& addresses) {
    store.BindTable(path);
    vellumo::DeclareAddressTable(store, QFileInfo(path).completeBaseName());
    store.CreateTableFile();
    store.OpenTable();
    for (const Address& address : addresses) {
        store.InsertBlankRecord();
        for (auto it = address.cbegin(); it != address.cend(); ++it)
            store.setFieldValue(it.key(), it.value());
        store.SaveRecord();
    }
    store.GoToFirst();
}

void makeAddressTable(const QString& path, const QList<Address>& addresses) {
    vellumo::RecordStore store;
    makeAddressTable(store, path, addresses);
    store.CloseTableAtShutdown();
}

QList<Address> numberedAddresses(int n) {
    QList<Address> addresses;
    for (int i = 1; i <= n; ++i) {
        const QString number = QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0'));
        addresses << Address{{QStringLiteral("Name"), QStringLiteral("Person ") + number},
                             {QStringLiteral("Vorname"), QStringLiteral("Vorname ") + number},
                             {QStringLiteral("Ort"), QStringLiteral("Ort ") + number}};
    }
    return addresses;
}

} // namespace testsupport
