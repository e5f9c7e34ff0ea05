#include "data/addresstable.h"

#include "platform/database/recordstore.h"

namespace vellumo {

void DeclareAddressTable(RecordStore& store, const QString& indexName) {
    struct Field {
        const char* name;
        FieldKind kind;
        int size;
    };
    static const Field fields[] = {
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
    store.ClearFieldDeclarations();
    for (const Field& field : fields)
        store.DeclareField(QString::fromLatin1(field.name), field.kind, field.size, false);
    store.ClearIndexDeclarations();
    store.DeclareIndex(indexName, QStringLiteral("Name;Vorname;Strasse;PLZ;Ort"),
                       RecordStore::Primary);
}

} // namespace vellumo
