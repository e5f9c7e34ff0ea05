#include "address/addresstable.h"

#include "platform/database/recordstore.h"

#include <QUuid>

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

QString recordUid(const QString& ownUid, const QString& name, const QString& firstName,
                  const QDate& created) {
    if (!ownUid.trimmed().isEmpty())
        return ownUid.trimmed();
    static const QUuid space(QStringLiteral("{5b1e4f52-3c1d-4a7e-9a0c-56656c6c756d}"));
    const QString identity = name.trimmed() + QChar(0x1F) + firstName.trimmed() + QChar(0x1F) +
                             (created.isValid() ? created.toString(Qt::ISODate) : QString());
    return QUuid::createUuidV5(space, identity).toString(QUuid::WithoutBraces);
}

QString uniqueUid(const QString& uid, QSet<QString>& used) {
    QString unique = uid;
    for (int n = 2; used.contains(unique); ++n)
        unique = uid + u'-' + QString::number(n);
    used.insert(unique);
    return unique;
}

} // namespace vellumo
