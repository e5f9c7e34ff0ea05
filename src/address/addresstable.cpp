#include "address/addresstable.h"

#include "platform/database/recordstore.h"

namespace vellumo {

QString schemaText(std::string_view name) {
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

const QStringList& addressFieldNames() {
    static const QStringList names = [] {
        QStringList list;
        for (const address::Field& field : address::kFields)
            list << schemaText(field.name);
        return list;
    }();
    return names;
}

const address::Field* addressField(QStringView name) {
    for (const address::Field& field : address::kFields)
        if (QLatin1String(field.name.data(), static_cast<qsizetype>(field.name.size())) == name)
            return &field;
    return nullptr;
}

bool isAddressField(QStringView name, address::Kind kind) {
    const address::Field* field = addressField(name);
    return field && field->kind == kind;
}

void DeclareAddressTable(RecordStore& store, const QString& indexName) {
    store.ClearFieldDeclarations();
    for (const address::Field& field : address::kFields)
        store.DeclareField(schemaText(field.name), static_cast<FieldKind>(field.kind), field.size,
                           false);
    store.ClearIndexDeclarations();
    store.DeclareIndex(indexName, schemaText(address::kKeyFieldList), RecordStore::Primary);
}

} // namespace vellumo
