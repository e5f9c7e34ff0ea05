#include "platform/carddav/syncstate.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

namespace vellumo::carddav {

namespace {

constexpr int kSchemaVersion = 1;

} // namespace

QString SyncState::pathFor(const QString& tablePath) {
    const QFileInfo table(tablePath);
    return table.dir().filePath(table.completeBaseName() + QStringLiteral(".sync"));
}

SyncState::SyncState(const QString& path)
    : path_(path),
      connection_(QStringLiteral("vellumo-sync-") + QUuid::createUuid().toString(QUuid::Id128)) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path);
    if (!db.open())
        fail(db.lastError().text());
    QSqlQuery q(db);
    // A file that is no SQLite database fails at its first read.
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        fail(q.lastError().text());
    const int version = q.value(0).toInt();
    if (version > kSchemaVersion)
        fail(QStringLiteral("er stammt von einer neueren Programmversion"));
    if (version == 0) {
        const char* schema[] = {
            "PRAGMA synchronous = FULL",
            "CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
            "CREATE TABLE IF NOT EXISTS cards (uid TEXT PRIMARY KEY, href TEXT NOT NULL UNIQUE,"
            " etag TEXT NOT NULL, base BLOB NOT NULL, hash BLOB NOT NULL,"
            " picture_ref TEXT NOT NULL DEFAULT '', picture_key BLOB NOT NULL DEFAULT x'')",
            "PRAGMA user_version = 1"};
        for (const char* statement : schema)
            if (!q.exec(QString::fromLatin1(statement)))
                fail(q.lastError().text());
    }
    q.exec(QStringLiteral("PRAGMA synchronous = FULL"));
    // Files of the first version gain the picture's columns; a program of
    // that version still reads and writes them, its rows simply without a key.
    bool pictureColumns = false;
    if (!q.exec(QStringLiteral("PRAGMA table_info(cards)")))
        fail(q.lastError().text());
    while (q.next())
        pictureColumns = pictureColumns || q.value(1).toString() == QStringLiteral("picture_key");
    if (!pictureColumns)
        for (const char* statement :
             {"ALTER TABLE cards ADD COLUMN picture_ref TEXT NOT NULL DEFAULT ''",
              "ALTER TABLE cards ADD COLUMN picture_key BLOB NOT NULL DEFAULT x''"})
            if (!q.exec(QString::fromLatin1(statement)))
                fail(q.lastError().text());
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS conflicts (uid TEXT NOT NULL,"
                               " field TEXT NOT NULL, local TEXT NOT NULL, server TEXT NOT NULL,"
                               " cut INTEGER NOT NULL, PRIMARY KEY (uid, field))")))
        fail(q.lastError().text());
}

SyncState::~SyncState() {
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

void SyncState::fail(const QString& what) const {
    throw SyncStateError(QStringLiteral("Der Abgleichsstand %1 kann nicht verwendet werden: %2")
                             .arg(QDir::toNativeSeparators(path_), what)
                             .toStdString());
}

QString SyncState::meta(const QString& key) const {
    QSqlQuery q(QSqlDatabase::database(connection_));
    q.prepare(QStringLiteral("SELECT value FROM meta WHERE key = ?"));
    q.addBindValue(key);
    if (!q.exec())
        fail(q.lastError().text());
    return q.next() ? q.value(0).toString() : QString();
}

QUrl SyncState::book() const {
    return QUrl(meta(QStringLiteral("book")));
}

QString SyncState::token() const {
    return meta(QStringLiteral("token"));
}

QHash<QString, SyncedCard> SyncState::cards() const {
    QSqlQuery q(QSqlDatabase::database(connection_));
    if (!q.exec(QStringLiteral("SELECT uid, href, etag, base, hash, picture_ref, picture_key"
                               " FROM cards")))
        fail(q.lastError().text());
    QHash<QString, SyncedCard> cards;
    while (q.next()) {
        SyncedCard c{q.value(0).toString(),    q.value(1).toString(),    q.value(2).toString(),
                     q.value(3).toByteArray(), q.value(4).toByteArray(), q.value(5).toString(),
                     q.value(6).toByteArray()};
        cards.insert(c.uid, c);
    }
    return cards;
}

std::optional<SyncedCard> SyncState::card(const QString& uid) const {
    QSqlQuery q(QSqlDatabase::database(connection_));
    q.prepare(QStringLiteral("SELECT uid, href, etag, base, hash, picture_ref, picture_key"
                             " FROM cards WHERE uid = ?"));
    q.addBindValue(uid);
    if (!q.exec())
        fail(q.lastError().text());
    if (!q.next())
        return std::nullopt;
    return SyncedCard{q.value(0).toString(),    q.value(1).toString(),    q.value(2).toString(),
                      q.value(3).toByteArray(), q.value(4).toByteArray(), q.value(5).toString(),
                      q.value(6).toByteArray()};
}

void SyncState::commit(const QUrl& book, const QList<SyncedCard>& changed,
                       const QStringList& removedUids, const QString& token,
                       const QList<SyncConflict>* conflicts) {
    QSqlDatabase db = QSqlDatabase::database(connection_);
    if (!db.transaction())
        fail(db.lastError().text());
    QSqlQuery q(db);
    auto run = [&](const QString& sql, const QVariantList& values) {
        q.prepare(sql);
        for (const QVariant& v : values)
            q.addBindValue(v);
        if (!q.exec()) {
            const QString error = q.lastError().text();
            db.rollback();
            fail(error);
        }
    };
    const QString setMeta =
        QStringLiteral("INSERT OR REPLACE INTO meta (key, value) VALUES (?, ?)");
    run(setMeta, {QStringLiteral("book"), book.toString()});
    // No token yet is an empty one, not SQL's NULL.
    run(setMeta, {QStringLiteral("token"), token.isNull() ? QStringLiteral("") : token});
    for (const QString& uid : removedUids)
        run(QStringLiteral("DELETE FROM cards WHERE uid = ?"), {uid});
    for (const SyncedCard& c : changed) {
        // A card that moved to another UID's place on the server replaces it.
        run(QStringLiteral("DELETE FROM cards WHERE href = ? AND uid <> ?"), {c.href, c.uid});
        run(QStringLiteral("INSERT OR REPLACE INTO cards (uid, href, etag, base, hash,"
                           " picture_ref, picture_key) VALUES (?, ?, ?, ?, ?, ?, ?)"),
            {c.uid, c.href, c.etag, c.base, c.fieldsHash,
             c.pictureRef.isNull() ? QStringLiteral("") : c.pictureRef,
             c.pictureKey.isNull() ? QByteArray("") : c.pictureKey});
    }
    if (conflicts) {
        run(QStringLiteral("DELETE FROM conflicts"), {});
        for (const SyncConflict& c : *conflicts)
            run(QStringLiteral("INSERT OR REPLACE INTO conflicts (uid, field, local, server, cut)"
                               " VALUES (?, ?, ?, ?, ?)"),
                {c.uid, c.field, c.local, c.server, c.cut ? 1 : 0});
    }
    if (!db.commit()) {
        const QString error = db.lastError().text();
        db.rollback();
        fail(error);
    }
}

QList<SyncConflict> SyncState::conflicts() const {
    QSqlQuery q(QSqlDatabase::database(connection_));
    if (!q.exec(QStringLiteral("SELECT uid, field, local, server, cut FROM conflicts"
                               " ORDER BY uid, field")))
        fail(q.lastError().text());
    QList<SyncConflict> list;
    while (q.next())
        list.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                     q.value(3).toString(), q.value(4).toInt() != 0});
    return list;
}

void SyncState::resolve(const QString& uid, const QString& field) {
    QSqlDatabase db = QSqlDatabase::database(connection_);
    QSqlQuery q(db);
    if (!db.transaction())
        fail(db.lastError().text());
    q.prepare(QStringLiteral("DELETE FROM conflicts WHERE uid = ? AND field = ?"));
    q.addBindValue(uid);
    q.addBindValue(field);
    bool ok = q.exec();
    q.prepare(QStringLiteral("UPDATE cards SET hash = ? WHERE uid = ?"));
    q.addBindValue(QByteArray(""));
    q.addBindValue(uid);
    ok = ok && q.exec();
    if (!ok || !db.commit()) {
        const QString error = q.lastError().text();
        db.rollback();
        fail(error);
    }
}

} // namespace vellumo::carddav
