#include "sync/tablesnapshot.h"

#include "platform/database/enginedate.h"
#include "platform/pictures/graphicfield.h"

#include <QCryptographicHash>
#include <QUuid>

namespace vellumo::sync {

const QString kUidField = QStringLiteral("UID");
const QString kGivenField = QStringLiteral("Vorname");
const QString kPictureField = QStringLiteral("Grafik");
const QString kChangedField = QStringLiteral("Aenderung");

TableShape::TableShape(px::TableInfo info) : info_(std::move(info)), codec_(info_.codePage) {
    for (const QString& name : kCardFields + QStringList{kUidField, kPictureField, kChangedField})
        for (std::size_t i = 0; i < info_.fields.size(); ++i)
            if (QString::fromStdString(info_.fields[i].name).compare(name, Qt::CaseInsensitive) ==
                0) {
                index_.insert(name, static_cast<int>(i));
                break;
            }
}

int TableShape::size(const QString& name) const {
    const int i = index(name);
    return i < 0 ? 0 : info_.fields[static_cast<std::size_t>(i)].size;
}

QString TableShape::text(const px::Record& r, const QString& name) const {
    const int i = index(name);
    if (i < 0 || i >= static_cast<int>(r.size()))
        return {};
    const px::Value& v = r[static_cast<std::size_t>(i)];
    if (const auto* s = std::get_if<std::string>(&v))
        return QString::fromStdString(*s);
    if (const auto* d = std::get_if<px::Date>(&v))
        return fromEngineDate(*d).toString(Qt::ISODate);
    return {};
}

Fields TableShape::fields(const px::Record& r) const {
    Fields f;
    for (const QString& name : kCardFields)
        if (const QString t = text(r, name); !t.isEmpty())
            f.insert(name, t);
    return f;
}

QString TableShape::pictureRef(const px::Record& r) const {
    const int g = index(kPictureField);
    if (g < 0 || g >= static_cast<int>(r.size()))
        return {};
    const px::Value& v = r[static_cast<std::size_t>(g)];
    if (const auto* ref = std::get_if<px::BlobRef>(&v))
        return QStringLiteral("%1:%2:%3").arg(ref->pointer).arg(ref->length).arg(ref->modification);
    if (const auto* bytes = std::get_if<px::Bytes>(&v))
        return bytes->empty() ? QString() : QStringLiteral("inline");
    return {};
}

QString TableShape::fit(const QString& name, const QString& value) const {
    const int i = index(name);
    if (i < 0 || value.isEmpty())
        return i < 0 ? QString() : value;
    const px::FieldDef& def = info_.fields[static_cast<std::size_t>(i)];
    if (def.type == px::FieldType::Date)
        return QDate::fromString(value, Qt::ISODate).isValid() ? value : QString();
    QString out;
    std::string encoded, bad;
    for (const QChar c : value) {
        const QString one(c);
        if (c.isSurrogate() || !codec_.encode(one.toStdString(), encoded, bad))
            out += u'?';
        else
            out += c;
    }
    if (def.type == px::FieldType::Alpha && out.size() > def.size)
        out.truncate(def.size);
    return out;
}

void TableShape::set(px::Record& r, const QString& name, const QString& value) const {
    const int i = index(name);
    if (i < 0)
        return;
    px::Value& v = r[static_cast<std::size_t>(i)];
    if (value.isEmpty())
        v = px::Value();
    else if (info_.fields[static_cast<std::size_t>(i)].type == px::FieldType::Date) {
        const QDate date = QDate::fromString(value, Qt::ISODate);
        v = date.isValid() ? px::Value(toEngineDate(date)) : px::Value();
    } else
        v = value.toStdString();
}

QByteArray hashOf(const Fields& f) {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (auto it = f.cbegin(); it != f.cend(); ++it)
        hash.addData((it.key() + u'=' + it.value() + u'\n').toUtf8());
    return hash.result().toHex();
}

namespace {

px::Bytes pictureBytes(px::Table& table, const TableShape& shape, std::uint32_t position) {
    const px::Value v = table.readField(position, shape.index(kPictureField), px::Blobs::Read);
    const auto* bytes = std::get_if<px::Bytes>(&v);
    return bytes ? *bytes : px::Bytes();
}

} // namespace

QImage pictureAt(px::Table& table, const TableShape& shape, std::uint32_t position) {
    const px::Bytes bytes = pictureBytes(table, shape, position);
    if (bytes.empty())
        return {};
    return pictures::imageFromGraphicField(
        QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
}

void describe(px::Table& table, const TableShape& shape, LocalRecord& l,
              carddav::SyncedCard* known) {
    l.fields = shape.fields(l.record);
    l.pictureRef = shape.pictureRef(l.record);
    if (l.pictureRef.isEmpty())
        l.pictureKey.clear();
    else if (known && known->pictureRef == l.pictureRef && !known->pictureKey.isEmpty())
        l.pictureKey = known->pictureKey;
    else {
        // A key from the picture's bytes: the same picture has the same key
        // wherever it lies (after compact, too).
        const px::Bytes bytes = pictureBytes(table, shape, l.position);
        l.pictureKey =
            bytes.empty()
                ? QByteArray()
                : QCryptographicHash::hash(QByteArrayView(bytes.data(), qsizetype(bytes.size())),
                                           QCryptographicHash::Sha1)
                      .toHex();
    }
    if (!l.pictureKey.isEmpty())
        l.fields.insert(kPictureField, QString::fromLatin1(l.pictureKey));
    l.hash = hashOf(l.fields);
    l.pictureChanged = !known || known->pictureKey != l.pictureKey;
    // A state of the first version knew the picture by its place only: a
    // record whose fields hash as they did then is unchanged.
    if (known && known->pictureKey.isEmpty() && !l.pictureKey.isEmpty()) {
        Fields old = l.fields;
        old.insert(kPictureField, QStringLiteral("ref:") + l.pictureRef);
        if (hashOf(old) == known->fieldsHash) {
            known->fieldsHash = l.hash;
            l.pictureChanged = false;
        }
    }
}

TableSnapshot readSnapshot(px::Table& table, QHash<QString, carddav::SyncedCard>& known) {
    TableSnapshot snapshot{table.info(), {}};
    const TableShape shape(table.info());
    const std::uint32_t count = table.recordCount();
    const int uidField = shape.index(kUidField);
    for (std::uint32_t position = 0; position < count; ++position) {
        LocalRecord l;
        l.record = table.read(position, px::Blobs::Refer);
        l.position = position;
        QString uid = shape.text(l.record, kUidField).trimmed();
        // A record without one, or a copy of another that kept its UID, is
        // a card of its own.
        if (uid.isEmpty() || snapshot.records.contains(uid)) {
            uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
            l.record[static_cast<std::size_t>(uidField)] = uid.toStdString();
            l.newUid = true;
        }
        describe(table, shape, l, known.contains(uid) ? &known[uid] : nullptr);
        snapshot.records.insert(uid, l);
    }
    return snapshot;
}

} // namespace vellumo::sync
