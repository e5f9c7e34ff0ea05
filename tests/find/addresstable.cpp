#include "addresstable.h"

#include "data/addresstable.h"
#include "platform/database/recordstore.h"

namespace findtest {

void makeAddressTable(vellumo::RecordStore& store, const QString& path,
                      const QList<Address>& addresses) {
    store.BindTable(path);
    vellumo::DeclareAddressTable(store, QStringLiteral("Adressen"));
    store.CreateTableFile();
    store.OpenTable();
    for (const Address& address : addresses) {
        store.InsertBlankRecord();
        for (auto it = address.cbegin(); it != address.cend(); ++it)
            store.SetFieldText(it.key(), it.value());
        store.SaveRecord();
    }
    store.GoToFirst();
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

} // namespace findtest
