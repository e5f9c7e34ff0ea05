#include "addresstable.h"

#include "database/recordstore.h"

namespace findtest {

using vellumo::FieldKind;

void makeAddressTable(vellumo::RecordStore& store, const QString& path,
                      const QList<Address>& addresses) {
    store.BindTable(path);
    store.ClearFieldDeclarations();
    const struct {
        const char* name;
        FieldKind kind;
        int size;
    } schema[] = {
        {"Name", FieldKind::Text, 30},     {"Vorname", FieldKind::Text, 30},
        {"Strasse", FieldKind::Text, 30},  {"PLZ", FieldKind::Text, 5},
        {"Ort", FieldKind::Text, 30},      {"Land", FieldKind::Text, 30},
        {"Telefon1", FieldKind::Text, 30}, {"Telefon2", FieldKind::Text, 30},
        {"Fax", FieldKind::Text, 30},      {"Email", FieldKind::Text, 30},
        {"WWW", FieldKind::Text, 99},      {"KontoNr", FieldKind::Text, 10},
        {"BLZ", FieldKind::Text, 8},       {"Institut", FieldKind::Text, 30},
        {"Rubrik", FieldKind::Text, 30},   {"Geburtstag", FieldKind::Date, 0},
        {"Erstellt", FieldKind::Date, 0},  {"Aenderung", FieldKind::Date, 0},
        {"Memo1", FieldKind::Memo, 0},     {"Grafik", FieldKind::Graphic, 0},
    };
    for (const auto& field : schema)
        store.DeclareField(QString::fromUtf8(field.name), field.kind, field.size, false);
    store.ClearIndexDeclarations();
    store.DeclareIndex(QStringLiteral("Adressen"), QStringLiteral("Name;Vorname;Strasse;PLZ;Ort"),
                       vellumo::RecordStore::Primary);
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
