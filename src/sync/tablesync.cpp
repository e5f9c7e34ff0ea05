#include "sync/tablesync.h"

#include "exchange/vcardcodec.h"
#include "platform/carddav/syncstate.h"
#include "platform/database/enginedate.h"
#include "platform/paradox/codec.h"
#include "platform/paradox/error.h"
#include "platform/paradox/restructure.h"
#include "platform/paradox/table.h"
#include "platform/pictures/graphicfield.h"
#include "platform/pictures/limits.h"
#include "search/folding.h"
#include "sync/cardfields.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QUuid>

#include <numeric>

namespace vellumo::sync {

using carddav::CardAction;
using carddav::DavError;
using carddav::SyncConflict;
using carddav::SyncedCard;
using carddav::SyncState;

namespace {

const QString kUid = QStringLiteral("UID");
const QString kGiven = QStringLiteral("Vorname");
// The record's key for a card whose UID its field cannot hold.
const QUuid kUidSpace(QStringLiteral("6f1c0a52-3d0e-4a8b-9a55-7c2b1d9e4f10"));
const QString kPicture = QStringLiteral("Grafik");
const QString kChanged = QStringLiteral("Aenderung");

std::string path8(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// The table's side: field numbers, sizes and code page, and values both ways.
class TableFields {
public:
    explicit TableFields(px::Table& table) : table_(table), codec_(table.info().codePage) {
        for (const QString& name : kCardFields + QStringList{kUid, kPicture, kChanged})
            index_.insert(name, table.fieldIndex(name.toStdString()));
    }
    int index(const QString& name) const { return index_.value(name, -1); }

    QString text(const px::Record& r, const QString& name) const {
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

    // The text fields as the table holds them.
    Fields fields(const px::Record& r) const {
        Fields f;
        for (const QString& name : kCardFields)
            if (const QString t = text(r, name); !t.isEmpty())
                f.insert(name, t);
        return f;
    }

    // Where the picture lies in the .mb; empty when there is none.
    QString pictureRef(const px::Record& r) const {
        const int g = index(kPicture);
        if (g < 0)
            return {};
        const px::Value& v = r[static_cast<std::size_t>(g)];
        if (const auto* ref = std::get_if<px::BlobRef>(&v))
            return QStringLiteral("%1:%2:%3")
                .arg(ref->pointer)
                .arg(ref->length)
                .arg(ref->modification);
        if (const auto* bytes = std::get_if<px::Bytes>(&v))
            return bytes->empty() ? QString() : QStringLiteral("inline");
        return {};
    }

    // A key from the picture's bytes: the same picture has the same key
    // wherever it lies (after compact, too).
    QByteArray pictureKey(std::uint32_t position) {
        const px::Value v = table_.readField(position, index(kPicture), px::Blobs::Read);
        const auto* bytes = std::get_if<px::Bytes>(&v);
        if (!bytes || bytes->empty())
            return {};
        return QCryptographicHash::hash(QByteArrayView(bytes->data(), qsizetype(bytes->size())),
                                        QCryptographicHash::Sha1)
            .toHex();
    }

    QImage image(std::uint32_t position) {
        const px::Value v = table_.readField(position, index(kPicture), px::Blobs::Read);
        const auto* bytes = std::get_if<px::Bytes>(&v);
        if (!bytes)
            return {};
        return pictures::imageFromGraphicField(
            QByteArray(reinterpret_cast<const char*>(bytes->data()), qsizetype(bytes->size())));
    }

    // What of a server value the field holds: characters the code page lacks
    // become "?", text longer than the field is cut.
    QString fit(const QString& name, const QString& value) const {
        const int i = index(name);
        if (i < 0 || value.isEmpty())
            return i < 0 ? QString() : value;
        const px::FieldDef& def = table_.info().fields[static_cast<std::size_t>(i)];
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

    void set(px::Record& r, const QString& name, const QString& value) const {
        const int i = index(name);
        if (i < 0)
            return;
        px::Value& v = r[static_cast<std::size_t>(i)];
        if (value.isEmpty())
            v = px::Value();
        else if (table_.info().fields[static_cast<std::size_t>(i)].type == px::FieldType::Date) {
            const QDate date = QDate::fromString(value, Qt::ISODate);
            v = date.isValid() ? px::Value(toEngineDate(date)) : px::Value();
        } else
            v = value.toStdString();
    }

private:
    px::Table& table_;
    px::Codec codec_;
    QHash<QString, int> index_;
};

// A 4xx for one card other than a failed login (401) or a card changed
// meanwhile (412).
bool refusedCard(const DavError& e) {
    return e.status() >= 400 && e.status() < 500 && e.status() != 401 && e.status() != 412;
}

QByteArray hashOf(const Fields& f) {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (auto it = f.cbegin(); it != f.cend(); ++it)
        hash.addData((it.key() + u'=' + it.value() + u'\n').toUtf8());
    return hash.result().toHex();
}

// A table value that is the cut form of the base's value stands for it:
// only an edit of the field itself sends something else to the server.
Fields unfit(const TableFields& t, Fields local, const Fields& base) {
    for (auto it = base.cbegin(); it != base.cend(); ++it)
        if (it.key() != kPicture && local.value(it.key()) == t.fit(it.key(), it.value()) &&
            t.fit(it.key(), it.value()) != it.value())
            local.insert(it.key(), it.value());
    return local;
}

// A card's fields with its photo's key as "Grafik".
Fields serverFields(const vcard::Card& card) {
    Fields f = card.fields;
    if (const QByteArray key = card.photo.key(); !key.isEmpty())
        f.insert(kPicture, QString::fromLatin1(key));
    return f;
}

Fields serverFields(const QByteArray& card) {
    return serverFields(vcard::readCard(card));
}

QByteArray png(const QImage& image) {
    QByteArray bytes;
    if (image.isNull())
        return bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

px::Record keyOf(const px::Record& r, int keyFields) {
    px::Record key(r.begin(), r.begin() + keyFields);
    key.resize(r.size());
    return key;
}

struct Local {
    px::Record record;
    std::uint32_t position = 0;
    Fields fields; // the picture by its key
    QByteArray hash;
    QString pictureRef;
    QByteArray pictureKey;
    bool pictureChanged = false; // since the last sync
    bool newUid = false;
};

struct Upload {
    QString uid;
    QString href;
    QString etag; // empty: a new card
    QByteArray card;
    bool withPhoto = false;
};

struct ServerDelete {
    QString uid, href, etag;
};

// A change to one record of the table, made in the run's batch.
struct LocalChange {
    enum Kind { Insert, Update, Remove } kind = Update;
    QString uid;
    px::Record before; // Update, Remove: the record as read
    px::Record after;  // Insert, Update
    QString label;     // the card's FN, to name it
};

} // namespace

QString SyncReport::text() const {
    QString t = QStringLiteral("Hier: %1 neu, %2 geändert, %3 gelöscht.\n"
                               "Server: %4 neu, %5 geändert, %6 gelöscht.\n")
                    .arg(addedHere)
                    .arg(changedHere)
                    .arg(deletedHere)
                    .arg(addedThere)
                    .arg(changedThere)
                    .arg(deletedThere);
    if (paired > 0)
        t += QStringLiteral("Auf beiden Seiten gefunden und verbunden: %1.\n").arg(paired);
    t += QStringLiteral("Konflikte: %1.\n").arg(conflicts);
    if (notTaken > 0)
        t += QStringLiteral("Nicht übernommen: %1 (beim nächsten Abgleich wieder versucht).\n")
                 .arg(notTaken);
    if (cut > 0)
        t += QStringLiteral("Gekürzt angezeigt: %1 (auf dem Server vollständig).\n").arg(cut);
    if (photoDropped)
        t += QStringLiteral("Der Server hat ein Bild nicht gespeichert.\n");
    for (const QString& note : notes)
        t += note + u'\n';
    if (!backup.isEmpty())
        t += QStringLiteral("Sicherung: %1\n").arg(shown(backup));
    t += QStringLiteral("Anfragen an den Server: %1.\n").arg(requests);
    return t;
}

namespace {

const QString kBackupStamp = QStringLiteral("yyyyMMdd-HHmmss");

QString backupPrefix(const QString& tablePath, BackupKind kind) {
    return QFileInfo(tablePath).completeBaseName() +
           (kind == BackupKind::BeforeLink ? QStringLiteral("-Sicherung-vor-Verbinden-")
                                           : QStringLiteral("-Sicherung-"));
}

// The time in a copy's name ("…-Sicherung-20261209-013000"), a copy made
// in the same second ("…-2") a millisecond later for each; invalid for any
// other name, which is never removed.
QDateTime backupTime(const QString& stem, const QString& prefix) {
    if (!stem.startsWith(prefix))
        return {};
    QString stamp = stem.mid(prefix.size());
    int later = 0;
    if (const qsizetype dash = stamp.indexOf(u'-', 9); dash > 0) {
        bool number = false;
        later = stamp.mid(dash + 1).toInt(&number);
        if (!number)
            return {};
        stamp.truncate(dash);
    }
    return QDateTime::fromString(stamp, kBackupStamp).addMSecs(later);
}

} // namespace

QString backupPathFor(const QString& tablePath, const QDateTime& now, BackupKind kind) {
    const QFileInfo info(tablePath);
    const QString name = backupPrefix(tablePath, kind) + now.toString(kBackupStamp);
    QString target = info.dir().filePath(name + QStringLiteral(".db"));
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = info.dir().filePath(name + QStringLiteral("-%1.db").arg(n));
    return target;
}

QList<bool> keptBackups(const QList<QDateTime>& made, const QDateTime& now) {
    QList<bool> kept(made.size(), false);
    QList<qsizetype> order(made.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](qsizetype a, qsizetype b) { return made[a] < made[b]; });
    int newest = 0;
    for (auto i = order.crbegin(); i != order.crend() && newest < 2; ++i)
        if (made[*i] <= now) {
            kept[*i] = true;
            ++newest;
        }
    const QDate today = now.date();
    QSet<QDate> days;
    for (const qsizetype i : order) {
        const QDate day = made[i].date();
        if (made[i] > now)
            kept[i] = true;
        else if (day > today.addDays(-7) && !days.contains(day)) {
            days.insert(day);
            kept[i] = true;
        }
    }
    return kept;
}

QString backupTable(const QString& tablePath, const QDateTime& now, BackupKind kind) {
    const QFileInfo info(tablePath);
    const QString target = backupPathFor(tablePath, now, kind);
    try {
        px::copyTable(path8(tablePath), path8(target));
    } catch (const px::Error& e) {
        throw SyncError(QStringLiteral("Die Sicherung der Tabelle %1 ist misslungen: %2")
                            .arg(shown(tablePath), QString::fromStdString(e.what())));
    }
    if (kind == BackupKind::BeforeLink)
        return target;
    const QString prefix = backupPrefix(tablePath, kind);
    QStringList stems;
    QList<QDateTime> made;
    for (const QString& file :
         info.dir().entryList({prefix + QStringLiteral("*.db")}, QDir::Files, QDir::Name)) {
        const QString stem = QFileInfo(file).completeBaseName();
        if (const QDateTime time = backupTime(stem, prefix); time.isValid()) {
            stems << stem;
            made << time;
        }
    }
    QList<bool> kept = keptBackups(made, now);
    // A table linked by an earlier version has no copy named for the link:
    // its oldest copy is the one made then.
    if (!made.isEmpty() &&
        info.dir()
            .entryList({backupPrefix(tablePath, BackupKind::BeforeLink) + QStringLiteral("*.db")},
                       QDir::Files)
            .isEmpty())
        kept[std::min_element(made.cbegin(), made.cend()) - made.cbegin()] = true;
    for (qsizetype i = 0; i < stems.size(); ++i) {
        if (kept[i])
            continue;
        // The .db first: a copy left half removed is no table.
        QFile::remove(info.dir().filePath(stems[i] + QStringLiteral(".db")));
        for (const QString& file :
             info.dir().entryList({stems[i] + QStringLiteral(".*")}, QDir::Files))
            QFile::remove(info.dir().filePath(file));
    }
    return target;
}

QUrl linkedBook(const QString& tablePath) {
    const QString statePath = SyncState::pathFor(tablePath);
    if (!QFileInfo::exists(statePath))
        return {};
    try {
        return SyncState(statePath).book();
    } catch (const carddav::SyncStateError& e) {
        throw SyncError(QString::fromStdString(e.what()));
    }
}

namespace {

class Run {
public:
    Run(const QString& tablePath, const SyncOptions& options) : path_(tablePath), o_(options) {}

    SyncReport go();

private:
    void step(const QString& what) {
        if (o_.progress)
            o_.progress(what);
    }
    [[noreturn]] void stop(const QString& why) {
        throw SyncError(why + (why.endsWith(u'.') ? QString() : QStringLiteral(".")) +
                        QStringLiteral(" Die Tabelle ist unverändert."));
    }

    void readTable();
    void listServer();
    void plan();
    void planUpload(const QString& uid, const Fields& fields, const QString& href,
                    const QString& etag, const QByteArray& base, const Fields& baseFields,
                    const QHash<QString, QString>& keepServer);
    void planDownload(const QString& uid, const carddav::Card& card);
    void planMerge(const QString& uid, const QByteArray& baseCard, const carddav::Card& server);
    void applyLocal();
    void writeServer();
    void readBack();
    void commitState();

    px::Record recordFrom(const px::Record& start, const Fields& fields, const QString& uid,
                          const QByteArray& photo, bool* cut, const QString& cardUid);
    // The UID field's value for a card: its UID when the field holds it
    // (the urn:uuid: form of vCard 4.0 is 45 characters), else a key made from
    // it, the same on every run; the card's own UID is never changed.
    QString keyFor(const QString& cardUid) const;
    // A record whose key another one holds, once its values are cut to the
    // table: its given name gets a number, noted and marked as shown cut.
    bool placeWithNumber(LocalChange& c);
    // Records and server cards neither side knew yet (a first link, a second
    // copy of a table, people already on the phone): paired by the table's
    // key fields, else by folded name and e-mail address or phone number;
    // the record takes the card's UID and the two are merged like any card.
    void pairUnknown();
    // A record's fields and picture key, the picture read only when it moved.
    void describe(Local& l, SyncedCard* known);
    // The table's side of a card against base (the server's side at the last
    // sync): a picture unchanged here stands as base's, so it is neither sent
    // nor taken as a change.
    Fields mineFor(const QString& uid, const Fields& base) const;

    QString path_;
    const SyncOptions& o_;
    std::unique_ptr<SyncState> state_;
    std::unique_ptr<carddav::CardDavClient> client_;
    QUrl book_;
    std::unique_ptr<px::Table> table_;
    std::unique_ptr<TableFields> t_;
    SyncReport report_;

    QHash<QString, Local> local_;
    QHash<QString, SyncedCard> known_;
    QHash<QString, carddav::Card> server_; // changed on the server, by UID
    QSet<QString> goneOnServer_;
    QString token_;
    bool full_ = false;

    QList<LocalChange> localChanges_;
    QList<Upload> uploads_;
    QList<ServerDelete> serverDeletes_;
    QHash<QString, SyncedCard> newState_;
    QStringList forget_;
    QHash<QString, QList<SyncConflict>> conflicts_; // by UID, for every UID decided anew
    QSet<QString> failed_;                          // left for the next run
    QSet<QString> uploaded_;
    QSet<QString> uidOnly_; // records changed only to get their UID
    bool incomplete_ = false;
    const int photoSide_ = pictures::storedSide();
};

SyncReport Run::go() {
    try {
        // An unlinked table gets no state file from a mere attempt.
        const QUrl linked = linkedBook(path_);
        if (!linked.isEmpty())
            state_ = std::make_unique<SyncState>(SyncState::pathFor(path_));
        if (linked.isEmpty())
            throw SyncError(QStringLiteral("Die Tabelle %1 ist mit keinem Adressbuch verbunden.")
                                .arg(shown(path_)));
        book_ = linked.adjusted(QUrl::RemoveUserInfo);
        client_ = std::make_unique<carddav::CardDavClient>(
            carddav::Account{book_, linked.userName(), o_.password}, o_.timeoutMs);
        client_->allowPlainHttp(o_.allowPlainHttp);
        known_ = state_->cards();
        for (const SyncConflict& c : state_->conflicts())
            conflicts_[c.uid].append(c);
        // Open for writing before anything else: no other program changes
        // the table while the run decides on what it read.
        try {
            table_ = px::Table::open(path8(path_), px::Access::Write);
        } catch (const px::Error& e) {
            stop(QString::fromStdString(e.what()));
        }
        t_ = std::make_unique<TableFields>(*table_);
        if (t_->index(kUid) < 0)
            stop(QStringLiteral("Die Tabelle %1 hat kein Feld \"UID\"; bitte verbinden Sie sie "
                                "zuerst mit dem Adressbuch.")
                     .arg(shown(path_)));
        // Records are found again by their key after the batch moved them.
        if (table_->info().keyFieldCount == 0)
            stop(QStringLiteral("Die Tabelle %1 hat keinen Primärschlüssel und kann nicht "
                                "abgeglichen werden.")
                     .arg(shown(path_)));
        step(QStringLiteral("Tabelle lesen"));
        readTable();
        step(QStringLiteral("Änderungen auf dem Server abfragen"));
        try {
            listServer();
        } catch (const DavError& e) {
            stop(e.message());
        }
        plan();
        applyLocal();
        step(QStringLiteral("Änderungen zum Server senden"));
        writeServer();
        readBack();
        commitState();
    } catch (const carddav::SyncStateError& e) {
        throw SyncError(QString::fromStdString(e.what()));
    } catch (const px::Error& e) {
        throw SyncError(QString::fromStdString(e.what()));
    }
    report_.requests = client_->requestCount();
    int open = 0, cut = 0;
    for (const auto& list : std::as_const(conflicts_))
        for (const SyncConflict& c : list)
            ++(c.cut ? cut : open);
    report_.conflicts = open;
    report_.cut = cut;
    return report_;
}

void Run::describe(Local& l, SyncedCard* known) {
    l.fields = t_->fields(l.record);
    l.pictureRef = t_->pictureRef(l.record);
    if (l.pictureRef.isEmpty())
        l.pictureKey.clear();
    else if (known && known->pictureRef == l.pictureRef && !known->pictureKey.isEmpty())
        l.pictureKey = known->pictureKey;
    else
        l.pictureKey = t_->pictureKey(l.position);
    if (!l.pictureKey.isEmpty())
        l.fields.insert(kPicture, QString::fromLatin1(l.pictureKey));
    l.hash = hashOf(l.fields);
    l.pictureChanged = !known || known->pictureKey != l.pictureKey;
    // A state of the first version knew the picture by its place only: a
    // record whose fields hash as they did then is unchanged.
    if (known && known->pictureKey.isEmpty() && !l.pictureKey.isEmpty()) {
        Fields old = l.fields;
        old.insert(kPicture, QStringLiteral("ref:") + l.pictureRef);
        if (hashOf(old) == known->fieldsHash) {
            known->fieldsHash = l.hash;
            l.pictureChanged = false;
        }
    }
}

QString Run::keyFor(const QString& cardUid) const {
    const int i = t_->index(kUid);
    const int size = table_->info().fields[static_cast<std::size_t>(i)].size;
    if (!cardUid.isEmpty() && cardUid.size() <= size && t_->fit(kUid, cardUid) == cardUid)
        return cardUid;
    return QUuid::createUuidV5(kUidSpace, cardUid).toString(QUuid::WithoutBraces);
}

Fields Run::mineFor(const QString& uid, const Fields& base) const {
    const Local& l = local_[uid];
    Fields mine = unfit(*t_, l.fields, base);
    // A value shown cut or numbered stands for the server's while unedited.
    for (const SyncConflict& c : conflicts_.value(uid))
        if (c.cut && mine.value(c.field) == c.local && base.value(c.field) == c.server)
            mine.insert(c.field, c.server);
    if (!l.pictureChanged) {
        mine.remove(kPicture);
        if (base.contains(kPicture))
            mine.insert(kPicture, base.value(kPicture));
    }
    return mine;
}

void Run::readTable() {
    const std::uint32_t count = table_->recordCount();
    const int uidField = t_->index(kUid);
    for (std::uint32_t position = 0; position < count; ++position) {
        Local l;
        l.record = table_->read(position, px::Blobs::Refer);
        l.position = position;
        QString uid = t_->text(l.record, kUid).trimmed();
        // A record without one, or a copy of another that kept its UID, is
        // a card of its own.
        if (uid.isEmpty() || local_.contains(uid)) {
            uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
            l.record[static_cast<std::size_t>(uidField)] = uid.toStdString();
            l.newUid = true;
        }
        describe(l, known_.contains(uid) ? &known_[uid] : nullptr);
        local_.insert(uid, l);
    }
}

void Run::listServer() {
    carddav::Changes listing;
    const QString token = state_->token();
    full_ = token.isEmpty();
    if (!full_) {
        try {
            listing = client_->changesSince(book_, token);
        } catch (const DavError& e) {
            if (e.kind() != DavError::Kind::InvalidSyncToken)
                throw;
            full_ = true;
        }
    }
    if (full_) {
        try {
            listing = client_->changesSince(book_, {});
        } catch (const DavError& e) {
            // A server without collection sync: the plain listing, no token.
            if (e.kind() != DavError::Kind::Server && e.kind() != DavError::Kind::Protocol)
                throw;
            listing = carddav::Changes{client_->listAll(book_), {}, {}};
        }
    }
    token_ = listing.token;
    QHash<QString, QString> uidByHref;
    for (const SyncedCard& c : std::as_const(known_))
        uidByHref.insert(c.href, c.uid);
    QStringList fetch;
    QSet<QString> listedHrefs;
    for (const carddav::CardRef& ref : listing.changed) {
        listedHrefs.insert(ref.href);
        const QString uid = uidByHref.value(ref.href);
        if (uid.isEmpty() || known_.value(uid).etag != ref.etag || ref.etag.isEmpty())
            fetch << ref.href;
    }
    for (const QString& href : listing.removed)
        if (uidByHref.contains(href))
            goneOnServer_.insert(uidByHref.value(href));
    if (full_)
        for (const SyncedCard& c : std::as_const(known_))
            if (!listedHrefs.contains(c.href))
                goneOnServer_.insert(c.uid);
    if (!fetch.isEmpty())
        step(QStringLiteral("%1 Karten vom Server holen").arg(fetch.size()));
    for (const carddav::Card& card : client_->fetch(book_, fetch)) {
        const QString cardUid = vcard::readCard(card.vcard).uid;
        const QString uid =
            cardUid.isEmpty() ? uidByHref.value(card.href, keyFor(card.href)) : keyFor(cardUid);
        // The same card listed again under its known ETag is no change.
        if (known_.contains(uid) && known_[uid].etag == card.etag && known_[uid].href == card.href)
            continue;
        server_.insert(uid, card);
        goneOnServer_.remove(uid);
    }
}

void Run::pairUnknown() {
    const int keys = table_->info().keyFieldCount;
    QStringList keyNames;
    for (int i = 0; i < keys; ++i)
        keyNames << QString::fromStdString(table_->info().fields[static_cast<std::size_t>(i)].name);
    auto keyText = [&](const Fields& f, bool fitted) {
        QStringList parts;
        for (const QString& name : keyNames)
            parts << (fitted ? t_->fit(name, f.value(name)) : f.value(name)).trimmed().toLower();
        return parts.join(QChar(0x1f));
    };
    auto nameOf = [](const Fields& f) {
        return search::fold(f.value(kGiven) + u' ' + f.value(QStringLiteral("Name")));
    };
    auto contacts = [](const Fields& f) {
        QStringList ways;
        if (const QString mail = f.value(QStringLiteral("Email")).trimmed().toLower();
            !mail.isEmpty())
            ways << mail;
        for (const char* field : {"Telefon1", "Telefon2"}) {
            QString digits;
            for (const QChar c : f.value(QString::fromLatin1(field)))
                if (c.isDigit())
                    digits += c;
            // The last eight digits: "+49 221 …" and "0221 …" meet.
            if (digits.size() >= 6)
                ways << digits.right(8);
        }
        return ways;
    };
    QHash<QString, QString> byKey, byContact;
    for (auto it = local_.cbegin(); it != local_.cend(); ++it) {
        if (known_.contains(it.key()) || server_.contains(it.key()))
            continue;
        byKey.insert(keyText(it->fields, false), it.key());
        if (const QString name = nameOf(it->fields); !name.trimmed().isEmpty())
            for (const QString& way : contacts(it->fields))
                byContact.insert(name + u'|' + way, it.key());
    }
    if (byKey.isEmpty())
        return;
    QSet<QString> paired;
    const int uidField = t_->index(kUid);
    for (auto it = server_.cbegin(); it != server_.cend(); ++it) {
        if (known_.contains(it.key()) || local_.contains(it.key()))
            continue;
        const Fields theirs = vcard::readCard(it->vcard).fields;
        QString mine = byKey.value(keyText(theirs, true));
        if (mine.isEmpty() || paired.contains(mine)) {
            mine.clear();
            const QString name = nameOf(theirs);
            for (const QString& way : contacts(theirs))
                if (const QString m = byContact.value(name + u'|' + way);
                    mine.isEmpty() && !m.isEmpty() && !paired.contains(m))
                    mine = m;
        }
        if (mine.isEmpty() || !local_.contains(mine))
            continue;
        paired.insert(mine);
        Local l = local_.take(mine);
        l.record[static_cast<std::size_t>(uidField)] = it.key().toStdString();
        l.newUid = true;
        local_.insert(it.key(), l);
        ++report_.paired;
    }
}

void Run::plan() {
    pairUnknown();
    bool emptied = !known_.isEmpty() && server_.isEmpty();
    for (auto it = known_.cbegin(); emptied && it != known_.cend(); ++it)
        emptied = goneOnServer_.contains(it.key());
    if (emptied &&
        !(o_.confirm &&
          o_.confirm(
              QStringLiteral("Das Adressbuch auf dem Server ist leer, die Tabelle hat beim letzten "
                             "Abgleich %1 Karten mit ihm geteilt. Sollen diese Datensätze hier "
                             "gelöscht werden?")
                  .arg(known_.size()))))
        stop(QStringLiteral("Der Abgleich wurde angehalten: das Adressbuch auf dem Server ist "
                            "leer."));

    QSet<QString> uids;
    for (auto it = local_.cbegin(); it != local_.cend(); ++it)
        uids.insert(it.key());
    for (auto it = known_.cbegin(); it != known_.cend(); ++it)
        uids.insert(it.key());
    for (auto it = server_.cbegin(); it != server_.cend(); ++it)
        uids.insert(it.key());

    struct Decision {
        QString uid;
        CardAction action;
    };
    QList<Decision> decisions;
    int deletions = 0;
    for (const QString& uid : uids) {
        const bool hasBase = known_.contains(uid);
        const bool localPresent = local_.contains(uid);
        const bool serverChanged = server_.contains(uid);
        const bool serverPresent = serverChanged || (hasBase && !goneOnServer_.contains(uid));
        const bool localChanged =
            localPresent && hasBase && local_[uid].hash != known_[uid].fieldsHash;
        CardAction action =
            carddav::decide(hasBase, {localPresent, localChanged}, {serverPresent, serverChanged});
        // A card with a decision still open is merged whenever either side
        // moves, so the open field is neither sent nor overwritten.
        bool pending = false;
        for (const SyncConflict& c : conflicts_.value(uid))
            pending = pending || !c.cut;
        if (pending && (action == CardAction::Upload || action == CardAction::Download) &&
            localPresent && serverPresent)
            action = CardAction::Merge;
        if (action == CardAction::DeleteLocal || action == CardAction::DeleteServer)
            ++deletions;
        decisions.append({uid, action});
    }
    const int records = std::max<int>(static_cast<int>(local_.size()), int(known_.size()));
    if ((deletions > 20 || (deletions > 2 && deletions * 10 > records)) &&
        !(o_.confirm && o_.confirm(QStringLiteral("Der Abgleich würde %1 von %2 Adressen löschen. "
                                                  "Trotzdem fortfahren?")
                                       .arg(deletions)
                                       .arg(records))))
        stop(QStringLiteral("Der Abgleich wurde angehalten: er hätte %1 von %2 Adressen gelöscht.")
                 .arg(deletions)
                 .arg(records));

    for (const Decision& d : decisions) {
        const QString& uid = d.uid;
        const SyncedCard base = known_.value(uid);
        switch (d.action) {
        case CardAction::Nothing:
            break;
        case CardAction::Upload: {
            const Local& l = local_[uid];
            const Fields baseFields = serverFields(base.base);
            planUpload(uid, mineFor(uid, baseFields), base.href, base.etag, base.base, baseFields,
                       {});
            // A value the table shows cut stays marked until it is edited.
            QList<SyncConflict> marks;
            for (const SyncConflict& c : conflicts_.value(uid))
                if (!c.cut || t_->text(l.record, c.field) == c.local ||
                    t_->text(l.record, c.field) == t_->fit(c.field, c.server))
                    marks.append(c);
            conflicts_.insert(uid, marks);
            break;
        }
        case CardAction::Download:
            planDownload(uid, server_[uid]);
            break;
        case CardAction::Merge:
            planMerge(uid, base.base,
                      server_.contains(uid) ? server_[uid]
                                            : carddav::Card{base.href, base.etag, base.base});
            break;
        case CardAction::DeleteLocal:
            localChanges_.append({LocalChange::Remove, uid, local_[uid].record, {}, {}});
            forget_ << uid;
            conflicts_.remove(uid);
            break;
        case CardAction::DeleteServer:
            serverDeletes_.append({uid, base.href, base.etag});
            conflicts_.remove(uid);
            break;
        case CardAction::Forget:
            forget_ << uid;
            conflicts_.remove(uid);
            break;
        }
    }
    // Records that only needed a UID get it in the same batch.
    QSet<QString> changed;
    for (const LocalChange& c : std::as_const(localChanges_))
        changed.insert(c.uid);
    for (auto it = local_.cbegin(); it != local_.cend(); ++it)
        if (it->newUid && !changed.contains(it.key())) {
            localChanges_.append({LocalChange::Update, it.key(), it->record, it->record, {}});
            uidOnly_.insert(it.key());
        }
}

void Run::planUpload(const QString& uid, const Fields& fields, const QString& href,
                     const QString& etag, const QByteArray& base, const Fields& baseFields,
                     const QHash<QString, QString>& keepServer) {
    Fields sent = fields;
    for (auto it = keepServer.cbegin(); it != keepServer.cend(); ++it)
        sent.insert(it.key(), it.value());
    // The picture goes only when it changed here, as PNG; the server's stays
    // as it was sent otherwise.
    vcard::PhotoChange photo;
    if (sent.value(kPicture) != baseFields.value(kPicture) && local_.contains(uid)) {
        photo.bytes = png(t_->image(local_[uid].position));
        photo.kind =
            photo.bytes.isEmpty() ? vcard::PhotoChange::Remove : vcard::PhotoChange::Replace;
    }
    Fields before = baseFields, after = sent;
    before.remove(kPicture);
    after.remove(kPicture);
    const QByteArray revision =
        o_.now.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toLatin1();
    const QByteArray card = vcard::patchCard(base, before, after, photo, revision, uid);
    const QString place =
        href.isEmpty() || goneOnServer_.contains(uid)
            ? book_.path() + (book_.path().endsWith(u'/') ? QString() : QStringLiteral("/")) + uid +
                  QStringLiteral(".vcf")
            : href;
    uploads_.append({uid, place, goneOnServer_.contains(uid) ? QString() : etag, card,
                     photo.kind == vcard::PhotoChange::Replace});
}

px::Record Run::recordFrom(const px::Record& start, const Fields& fields, const QString& uid,
                           const QByteArray& photo, bool* cut, const QString& cardUid) {
    Q_UNUSED(cardUid);
    px::Record r = start;
    r.resize(table_->info().fields.size());
    QList<SyncConflict> marks;
    for (const QString& name : kCardFields) {
        if (t_->index(name) < 0)
            continue;
        const QString value = fields.value(name);
        const QString fitted = t_->fit(name, value);
        if (fitted != value) {
            marks.append({uid, name, fitted, value, true});
            if (cut)
                *cut = true;
        }
        t_->set(r, name, fitted);
    }
    if (t_->index(kPicture) >= 0 && fields.contains(kPicture)) {
        // A photo the table cannot hold (a link, bytes that do not decode)
        // leaves the record's picture as it is; one it holds is stored at the
        // size the user set for pictures, as the chooser stores one (the
        // server keeps the phone's own).
        QString error;
        const QByteArray bmp = photo.isEmpty()
                                   ? QByteArray()
                                   : pictures::graphicFieldFromPhoto(photo, photoSide_, &error);
        if (!bmp.isEmpty())
            r[static_cast<std::size_t>(t_->index(kPicture))] = px::Bytes(bmp.begin(), bmp.end());
    } else if (t_->index(kPicture) >= 0 && !fields.contains(kPicture)) {
        r[static_cast<std::size_t>(t_->index(kPicture))] = px::Value();
    }
    t_->set(r, kUid, uid);
    t_->set(r, kChanged, o_.now.date().toString(Qt::ISODate));
    if (t_->text(r, QStringLiteral("Erstellt")).isEmpty())
        t_->set(r, QStringLiteral("Erstellt"), o_.now.date().toString(Qt::ISODate));
    QList<SyncConflict> kept;
    for (const SyncConflict& c : conflicts_.value(uid))
        if (!c.cut)
            kept.append(c);
    conflicts_.insert(uid, kept + marks);
    return r;
}

void Run::planDownload(const QString& uid, const carddav::Card& card) {
    const vcard::Card content = vcard::readCard(card.vcard);
    const Fields theirs = serverFields(content);
    newState_.insert(uid, {uid, card.href, card.etag, card.vcard, {}, {}, {}});
    if (local_.contains(uid)) {
        Local& l = local_[uid];
        const Fields mine =
            mineFor(uid, known_.contains(uid) ? serverFields(known_[uid].base) : Fields());
        if (mine == theirs)
            return; // only what the table does not keep changed on the server
        Fields wanted = theirs;
        // An unchanged picture is kept where it lies.
        if (mine.value(kPicture) == theirs.value(kPicture))
            wanted.remove(kPicture);
        px::Record after =
            recordFrom(l.record, wanted, uid, content.photo.bytes, nullptr, content.uid);
        if (mine.value(kPicture) == theirs.value(kPicture) && t_->index(kPicture) >= 0)
            after[static_cast<std::size_t>(t_->index(kPicture))] =
                l.record[static_cast<std::size_t>(t_->index(kPicture))];
        localChanges_.append({LocalChange::Update, uid, l.record, after, content.fullName});
    } else {
        px::Record blank(table_->info().fields.size());
        localChanges_.append(
            {LocalChange::Insert,
             uid,
             {},
             recordFrom(blank, theirs, uid, content.photo.bytes, nullptr, content.uid),
             content.fullName});
    }
}

void Run::planMerge(const QString& uid, const QByteArray& baseCard, const carddav::Card& server) {
    const vcard::Card serverContent = vcard::readCard(server.vcard);
    const Fields base = serverFields(baseCard);
    const Fields theirs = serverFields(serverContent);
    Local& l = local_[uid];
    const Fields mine = mineFor(uid, base);

    // A decision still open: the table's value stands for the base's, so it
    // is neither sent nor taken as a change; the server's side is looked at anew.
    Fields mineForMerge = mine;
    QSet<QString> pending;
    for (const SyncConflict& c : conflicts_.value(uid))
        if (!c.cut) {
            pending.insert(c.field);
            mineForMerge.insert(c.field, base.value(c.field));
            if (base.value(c.field).isEmpty())
                mineForMerge.remove(c.field);
        }
    const carddav::FieldMerge m = carddav::mergeFields(base, mineForMerge, theirs);

    QList<SyncConflict> open;
    QHash<QString, QString> sendServers;
    for (const carddav::Conflict& c : m.conflicts) {
        open.append({uid, c.field, c.local, c.server, false});
        sendServers.insert(c.field, c.server);
    }
    for (const QString& field : pending) {
        const QString serverValue = theirs.value(field);
        if (mine.value(field) == serverValue)
            continue; // both sides agree now
        open.append({uid, field, mine.value(field), serverValue, false});
        sendServers.insert(field, serverValue);
    }
    // What the table takes: the merge, the open fields as they are here.
    Fields forTable = m.merged;
    for (const SyncConflict& c : open)
        forTable.insert(c.field, mine.value(c.field));
    for (auto it = forTable.begin(); it != forTable.end();)
        it = it.value().isEmpty() ? forTable.erase(it) : std::next(it);

    newState_.insert(uid, {uid, server.href, server.etag, server.vcard, {}, {}, {}});
    conflicts_.insert(uid, {});
    if (forTable != mine) {
        Fields wanted = forTable;
        const bool samePicture = forTable.value(kPicture) == mine.value(kPicture);
        px::Record after = recordFrom(l.record, wanted, uid, serverContent.photo.bytes, nullptr,
                                      serverContent.uid);
        if (samePicture && t_->index(kPicture) >= 0)
            after[static_cast<std::size_t>(t_->index(kPicture))] =
                l.record[static_cast<std::size_t>(t_->index(kPicture))];
        localChanges_.append({LocalChange::Update, uid, l.record, after, serverContent.fullName});
    }
    conflicts_[uid].append(open);
    Fields toSend = forTable;
    for (auto it = sendServers.cbegin(); it != sendServers.cend(); ++it)
        if (it.value().isEmpty())
            toSend.remove(it.key());
        else
            toSend.insert(it.key(), it.value());
    if (toSend != theirs) {
        planUpload(uid, toSend, server.href, server.etag, server.vcard, theirs, sendServers);
    }
}

void Run::applyLocal() {
    if (localChanges_.isEmpty())
        return;
    step(QStringLiteral("Tabelle ändern"));
    report_.backup = backupTable(path_, o_.now);
    const int keys = table_->info().keyFieldCount;
    auto positionOf = [&](const px::Record& record) {
        const std::uint32_t p = table_->lowerBound(keyOf(record, keys));
        return p;
    };
    // Removals first, so a record may take the key another one gave up.
    std::stable_sort(localChanges_.begin(), localChanges_.end(),
                     [](const LocalChange& a, const LocalChange& b) {
                         auto rank = [](LocalChange::Kind k) {
                             return k == LocalChange::Remove ? 0 : k == LocalChange::Update ? 1 : 2;
                         };
                         return rank(a.kind) < rank(b.kind);
                     });
    table_->beginBatch();
    try {
        for (LocalChange& c : localChanges_) {
            try {
                switch (c.kind) {
                case LocalChange::Insert:
                    table_->insert(c.after);
                    break;
                case LocalChange::Update:
                    table_->update(positionOf(c.before), c.after);
                    break;
                case LocalChange::Remove:
                    table_->remove(positionOf(c.before));
                    break;
                }
            } catch (const px::KeyViolation&) {
                if (placeWithNumber(c)) {
                    ++report_.addedHere;
                    continue;
                }
                report_.notes << QStringLiteral("Die Karte „%1“ hat dieselben Schlüsselfelder wie "
                                                "ein anderer Datensatz und wurde nicht übernommen.")
                                     .arg(c.label.isEmpty() ? vcard::fullNameOf(t_->fields(c.after))
                                                            : c.label);
                failed_.insert(c.uid);
                ++report_.notTaken;
                continue;
            }
            // What was done, not what was planned.
            if (c.kind == LocalChange::Insert)
                ++report_.addedHere;
            else if (c.kind == LocalChange::Remove)
                ++report_.deletedHere;
            else if (!uidOnly_.contains(c.uid))
                ++report_.changedHere;
        }
        table_->commitBatch();
    } catch (...) {
        try {
            table_->rollbackBatch();
        } catch (...) {
        }
        throw;
    }
    // Positions moved; what the table holds now is read again by key.
    for (const LocalChange& c : std::as_const(localChanges_)) {
        if (c.kind == LocalChange::Remove || failed_.contains(c.uid))
            continue;
        const std::uint32_t p = positionOf(c.after);
        Local l;
        l.record = table_->read(p, px::Blobs::Refer);
        l.position = p;
        describe(l, nullptr);
        local_.insert(c.uid, l);
    }
}

bool Run::placeWithNumber(LocalChange& c) {
    const int g = t_->index(kGiven);
    if (g < 0 || c.kind != LocalChange::Insert)
        return false;
    const int size = table_->info().fields[static_cast<std::size_t>(g)].size;
    const QString given = t_->text(c.after, kGiven);
    QString server = given;
    for (const SyncConflict& m : conflicts_.value(c.uid))
        if (m.cut && m.field == kGiven)
            server = m.server;
    for (int n = 2; n <= 99; ++n) {
        const QString number = QStringLiteral(" (%1)").arg(n);
        const QString numbered = given.left(size - number.size()).trimmed() + number;
        px::Record other = c.after;
        t_->set(other, kGiven, numbered);
        try {
            table_->insert(other);
        } catch (const px::KeyViolation&) {
            continue;
        }
        c.after = other;
        QList<SyncConflict>& marks = conflicts_[c.uid];
        marks.erase(
            std::remove_if(marks.begin(), marks.end(),
                           [](const SyncConflict& m) { return m.cut && m.field == kGiven; }),
            marks.end());
        marks.append({c.uid, kGiven, numbered, server, true});
        report_.notes << QStringLiteral("Die Karte „%1“ hätte in der Tabelle dieselben "
                                        "Schlüsselfelder wie ein anderer Datensatz; sie steht "
                                        "dort mit dem Vornamen „%2“.")
                             .arg(c.label, numbered);
        return true;
    }
    return false;
}

void Run::writeServer() {
    for (const ServerDelete& d : std::as_const(serverDeletes_)) {
        try {
            client_->remove(d.href, d.etag);
            forget_ << d.uid;
            ++report_.deletedThere;
        } catch (const DavError& e) {
            if (refusedCard(e)) {
                report_.notes << QStringLiteral("Der Server hat das Löschen einer Karte "
                                                "abgelehnt: %1.")
                                     .arg(e.message());
                ++report_.notTaken;
                continue;
            }
            if (e.kind() != DavError::Kind::PreconditionFailed)
                throw SyncError(e.message() + QStringLiteral(" Der Abgleich wird beim nächsten Mal "
                                                             "fortgesetzt."));
            // Changed there since it was listed: the change wins next time.
            incomplete_ = true;
        }
    }
    for (Upload& u : uploads_) {
        if (failed_.contains(u.uid))
            continue;
        try {
            const QString etag = client_->put(u.href, u.card, u.etag);
            newState_.insert(u.uid, {u.uid, u.href, etag, u.card, {}, {}, {}});
            uploaded_.insert(u.uid);
            ++(u.etag.isEmpty() ? report_.addedThere : report_.changedThere);
            if (o_.afterUpload)
                o_.afterUpload();
        } catch (const DavError& e) {
            // One card the server will not take (too large, refused) is that
            // card's problem: named, kept as a change here, the run goes on.
            if (refusedCard(e)) {
                report_.notes << QStringLiteral("Der Server hat die Karte „%1“ nicht "
                                                "angenommen: %2.")
                                     .arg(vcard::fullNameOf(local_.value(u.uid).fields),
                                          e.message());
                ++report_.notTaken;
                continue;
            }
            if (e.kind() != DavError::Kind::PreconditionFailed) {
                incomplete_ = true;
                commitState();
                throw SyncError(e.message() + QStringLiteral(" Der Abgleich wird beim nächsten Mal "
                                                             "fortgesetzt."));
            }
            failed_.insert(u.uid);
            newState_.remove(u.uid);
            incomplete_ = true;
            report_.notes << QStringLiteral("Eine Karte wurde auf dem Server inzwischen geändert; "
                                            "sie wird beim nächsten Abgleich zusammengeführt.");
        }
    }
}

void Run::readBack() {
    QStringList hrefs;
    QHash<QString, QString> uidOf;
    for (const Upload& u : std::as_const(uploads_))
        if (newState_.contains(u.uid) && newState_[u.uid].base == u.card) {
            hrefs << u.href;
            uidOf.insert(u.href, u.uid);
        }
    if (hrefs.isEmpty())
        return;
    try {
        for (const carddav::Card& card : client_->fetch(book_, hrefs)) {
            const QString uid = uidOf.value(card.href);
            if (uid.isEmpty())
                continue;
            const bool sentPhoto =
                std::any_of(uploads_.cbegin(), uploads_.cend(),
                            [&](const Upload& u) { return u.uid == uid && u.withPhoto; });
            if (sentPhoto && vcard::readCard(card.vcard).photo.bytes.isEmpty())
                report_.photoDropped = true;
            newState_.insert(uid, {uid, card.href, card.etag, card.vcard, {}, {}, {}});
        }
    } catch (const DavError&) {
        // What was sent is the base; the next run reads the server's form.
    }
}

void Run::commitState() {
    QList<SyncedCard> changed;
    for (auto it = newState_.cbegin(); it != newState_.cend(); ++it) {
        if (failed_.contains(it.key()))
            continue;
        SyncedCard c = it.value();
        // A change of the table that has not reached the server yet stays a
        // change: an empty hash matches no record.
        const bool owed = std::any_of(uploads_.cbegin(), uploads_.cend(), [&](const Upload& u) {
            return u.uid == it.key() && !uploaded_.contains(u.uid);
        });
        const Local l = local_.value(it.key());
        c.fieldsHash = owed ? QByteArray() : l.hash;
        // An owed picture stays a change until it is sent.
        c.pictureRef = owed ? known_.value(it.key()).pictureRef : l.pictureRef;
        c.pictureKey = owed ? known_.value(it.key()).pictureKey : l.pictureKey;
        changed.append(c);
    }
    // A picture that only moved (compact) is remembered at its new place,
    // so it is not read again next time.
    for (auto it = local_.cbegin(); it != local_.cend(); ++it) {
        if (newState_.contains(it.key()) || !known_.contains(it.key()) || it->pictureChanged)
            continue;
        SyncedCard c = known_.value(it.key());
        // Changed here and not sent: stays a change.
        if (c.fieldsHash != it->hash ||
            (c.pictureRef == it->pictureRef && c.pictureKey == it->pictureKey))
            continue;
        c.pictureRef = it->pictureRef;
        c.pictureKey = it->pictureKey;
        changed.append(c);
    }
    QList<SyncConflict> conflicts;
    for (auto it = conflicts_.cbegin(); it != conflicts_.cend(); ++it)
        if (!forget_.contains(it.key()))
            conflicts.append(it.value());
    // The token only when every change it covers is in: otherwise the next
    // run asks again from the old one.
    state_->commit(QUrl(state_->book()), changed, forget_,
                   incomplete_ || !failed_.isEmpty() ? state_->token() : token_, &conflicts);
}

} // namespace

SyncReport synchronise(const QString& tablePath, const SyncOptions& options) {
    Run run(tablePath, options);
    return run.go();
}

QHash<QString, QString> recordNames(const QString& tablePath, const QStringList& uids) {
    QHash<QString, QString> names;
    try {
        auto table = px::Table::open(path8(tablePath), px::Access::Read);
        TableFields t(*table);
        const int uidField = t.index(kUid);
        if (uidField < 0)
            return names;
        const QSet<QString> wanted(uids.cbegin(), uids.cend());
        table->scanField(uidField, [&](std::uint32_t position, const px::Value& v) {
            const auto* s = std::get_if<std::string>(&v);
            if (s && wanted.contains(QString::fromStdString(*s))) {
                const px::Record r = table->read(position, px::Blobs::Refer);
                names.insert(
                    QString::fromStdString(*s),
                    (t.text(r, kGiven) + u' ' + t.text(r, QStringLiteral("Name"))).trimmed());
            }
            return true;
        });
    } catch (const px::Error&) {
        // Without the names the UIDs stand.
    }
    return names;
}

QList<SyncConflict> openConflicts(const QString& tablePath) {
    try {
        return SyncState(SyncState::pathFor(tablePath)).conflicts();
    } catch (const carddav::SyncStateError& e) {
        throw SyncError(QString::fromStdString(e.what()));
    }
}

void resolveConflict(const QString& tablePath, const SyncConflict& conflict, bool takeServer) {
    try {
        SyncState state(SyncState::pathFor(tablePath));
        if (takeServer) {
            auto table = px::Table::open(path8(tablePath), px::Access::Write);
            TableFields t(*table);
            const int uidField = t.index(kUid);
            std::optional<std::uint32_t> found;
            if (uidField >= 0)
                table->scanField(uidField, [&](std::uint32_t position, const px::Value& v) {
                    const auto* s = std::get_if<std::string>(&v);
                    if (s && QString::fromStdString(*s) == conflict.uid)
                        found = position;
                    return !found;
                });
            if (!found)
                throw SyncError(QStringLiteral("Der Datensatz zu diesem Konflikt ist nicht mehr "
                                               "in der Tabelle."));
            px::Record record = table->read(*found, px::Blobs::Refer);
            t.set(record, conflict.field, t.fit(conflict.field, conflict.server));
            table->update(*found, record);
        }
        state.resolve(conflict.uid, conflict.field);
    } catch (const carddav::SyncStateError& e) {
        throw SyncError(QString::fromStdString(e.what()));
    } catch (const px::Error& e) {
        throw SyncError(QString::fromStdString(e.what()));
    }
}

} // namespace vellumo::sync
