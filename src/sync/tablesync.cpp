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
#include "sync/syncplan.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
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

std::string path8(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// A 4xx for one card other than a failed login (401) or a card changed
// meanwhile (412).
bool refusedCard(const DavError& e) {
    return e.status() >= 400 && e.status() < 500 && e.status() != 401 && e.status() != 412;
}

} // namespace

QString SyncReport::stepLabel() const {
    const int n = static_cast<int>(written.size());
    return QStringLiteral("Abgleich mit %1 (%2 %3)")
        .arg(bookHost, QLocale(QLocale::German).toString(n),
             n == 1 ? QStringLiteral("Adresse") : QStringLiteral("Adressen"));
}

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

// Carries out one run: reads both sides, has the planner decide, asks
// what the user must confirm, then writes the table in one batch, the
// server card by card, and the state last. The report counts what was done.
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

    ServerChanges listServer();
    void confirmPlan(const SyncPlan& plan);
    void takePlan(SyncPlan plan);
    void applyLocal();
    void writeServer();
    void readBack();
    void commitState();

    // The image a record had before the run changed it, for undo: a picture
    // or memo the change gives up held as bytes, the UID the one written.
    RecordChange beforeImage(const LocalChange& c, std::uint32_t position);
    // A record whose key another one holds, once its values are cut to the
    // table: its given name gets a number, noted and marked as shown cut.
    bool placeWithNumber(LocalChange& c);

    QString path_;
    const SyncOptions& o_;
    std::unique_ptr<SyncState> state_;
    std::unique_ptr<carddav::CardDavClient> client_;
    QUrl book_;
    std::unique_ptr<px::Table> table_;
    std::unique_ptr<TableShape> t_;
    SyncReport report_;

    QHash<QString, SyncedCard> known_;
    QString token_;

    // The plan, as it is carried out.
    QHash<QString, LocalRecord> local_;
    QList<LocalChange> localChanges_;
    QList<Upload> uploads_;
    QList<ServerDelete> serverDeletes_;
    QHash<QString, SyncedCard> newState_;
    QStringList forget_;
    QHash<QString, QList<SyncConflict>> conflicts_; // by UID, for every UID decided anew
    QSet<QString> uidOnly_;
    int paired_ = 0;

    QSet<QString> failed_; // left for the next run
    QSet<QString> uploaded_;
    QSet<QString> photoSent_;
    bool incomplete_ = false;
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
        report_.bookHost = book_.host();
        client_ = std::make_unique<carddav::CardDavClient>(
            carddav::Account{book_, linked.userName(), o_.password}, o_.timeoutMs);
        client_->allowPlainHttp(o_.allowPlainHttp);
        known_ = state_->cards();
        const QList<SyncConflict> conflicts = state_->conflicts();
        // Open for writing before anything else: no other program changes
        // the table while the run decides on what it read.
        try {
            table_ = px::Table::open(path8(path_), px::Access::Write);
        } catch (const px::Error& e) {
            stop(QString::fromStdString(e.what()));
        }
        t_ = std::make_unique<TableShape>(table_->info());
        if (t_->index(kUidField) < 0)
            stop(QStringLiteral("Die Tabelle %1 hat kein Feld \"UID\"; bitte verbinden Sie sie "
                                "zuerst mit dem Adressbuch.")
                     .arg(shown(path_)));
        // Records are found again by their key after the batch moved them.
        if (table_->info().keyFieldCount == 0)
            stop(QStringLiteral("Die Tabelle %1 hat keinen Primärschlüssel und kann nicht "
                                "abgeglichen werden.")
                     .arg(shown(path_)));
        step(QStringLiteral("Tabelle lesen"));
        const TableSnapshot snapshot = readSnapshot(*table_, known_);
        step(QStringLiteral("Änderungen auf dem Server abfragen"));
        ServerChanges server;
        try {
            server = listServer();
        } catch (const DavError& e) {
            stop(e.message());
        }
        SyncPlan plan = planSync(
            {snapshot, known_, conflicts, server, book_.path(), o_.now, pictures::storedSide()});
        confirmPlan(plan);
        takePlan(std::move(plan));
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

ServerChanges Run::listServer() {
    carddav::Changes listing;
    const QString token = state_->token();
    ServerChanges changes;
    changes.full = token.isEmpty();
    if (!changes.full) {
        try {
            listing = client_->changesSince(book_, token);
        } catch (const DavError& e) {
            if (e.kind() != DavError::Kind::InvalidSyncToken)
                throw;
            changes.full = true;
        }
    }
    if (changes.full) {
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
    changes.truncated = listing.truncated;
    // The rest is asked for again next time, from the old token.
    incomplete_ = incomplete_ || listing.truncated;
    QHash<QString, QString> uidByHref;
    for (const SyncedCard& c : std::as_const(known_))
        uidByHref.insert(c.href, c.uid);
    QStringList fetch;
    for (const carddav::CardRef& ref : listing.changed) {
        changes.listed.insert(ref.href);
        const QString uid = uidByHref.value(ref.href);
        if (uid.isEmpty() || known_.value(uid).etag != ref.etag || ref.etag.isEmpty())
            fetch << ref.href;
    }
    changes.removed = listing.removed;
    if (!fetch.isEmpty())
        step(QStringLiteral("%1 Karten vom Server holen").arg(fetch.size()));
    changes.cards = client_->fetch(book_, fetch);
    return changes;
}

void Run::confirmPlan(const SyncPlan& plan) {
    if (plan.serverEmptied &&
        !(o_.confirm &&
          o_.confirm(
              QStringLiteral("Das Adressbuch auf dem Server ist leer, die Tabelle hat beim letzten "
                             "Abgleich %1 Karten mit ihm geteilt. Sollen diese Datensätze hier "
                             "gelöscht werden?")
                  .arg(known_.size()))))
        stop(QStringLiteral("Der Abgleich wurde angehalten: das Adressbuch auf dem Server ist "
                            "leer."));
    const int deletions = plan.deletions, records = plan.records;
    if ((deletions > 20 || (deletions > 2 && deletions * 10 > records)) &&
        !(o_.confirm && o_.confirm(QStringLiteral("Der Abgleich würde %1 von %2 Adressen löschen. "
                                                  "Trotzdem fortfahren?")
                                       .arg(deletions)
                                       .arg(records))))
        stop(QStringLiteral("Der Abgleich wurde angehalten: er hätte %1 von %2 Adressen gelöscht.")
                 .arg(deletions)
                 .arg(records));
}

px::Record keyOf(const px::Record& r, int keyFields) {
    px::Record key(r.begin(), r.begin() + keyFields);
    key.resize(r.size());
    return key;
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

void Run::takePlan(SyncPlan plan) {
    local_ = std::move(plan.local);
    localChanges_ = std::move(plan.localChanges);
    uploads_ = std::move(plan.uploads);
    serverDeletes_ = std::move(plan.serverDeletes);
    newState_ = std::move(plan.newState);
    forget_ = std::move(plan.forget);
    conflicts_ = std::move(plan.conflicts);
    uidOnly_ = std::move(plan.uidOnly);
    paired_ = plan.paired;
    // A picture to send is read where the record lies now, before the
    // batch moves it.
    for (Upload& u : uploads_)
        if (u.sendPicture) {
            const QByteArray picture = png(pictureAt(*table_, *t_, u.position));
            u.card = uploadCard(u, picture);
            if (!picture.isEmpty())
                photoSent_.insert(u.uid);
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
    // What the records were, read before the batch gives up their pictures.
    std::vector<RecordChange> history(static_cast<std::size_t>(localChanges_.size()));
    for (qsizetype i = 0; i < localChanges_.size(); ++i)
        if (localChanges_[i].kind != LocalChange::Insert &&
            !uidOnly_.contains(localChanges_[i].uid))
            history[static_cast<std::size_t>(i)] =
                beforeImage(localChanges_[i], positionOf(localChanges_[i].before));
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
        report_.paired = paired_;
    } catch (...) {
        try {
            table_->rollbackBatch();
        } catch (...) {
        }
        throw;
    }
    // Positions moved; what the table holds now is read again by key.
    for (qsizetype i = 0; i < localChanges_.size(); ++i) {
        const LocalChange& c = localChanges_[i];
        if (failed_.contains(c.uid))
            continue;
        RecordChange& change = history[static_cast<std::size_t>(i)];
        if (c.kind == LocalChange::Remove) {
            report_.written.push_back(std::move(change));
            continue;
        }
        const std::uint32_t p = positionOf(c.after);
        LocalRecord l;
        l.record = table_->read(p, px::Blobs::Refer);
        l.position = p;
        describe(*table_, *t_, l, nullptr);
        local_.insert(c.uid, l);
        if (!uidOnly_.contains(c.uid)) {
            change.after = l.record;
            report_.written.push_back(std::move(change));
        }
    }
}

RecordChange Run::beforeImage(const LocalChange& c, std::uint32_t position) {
    RecordChange change;
    px::Record image = c.before;
    for (std::size_t i = 0; i < image.size(); ++i) {
        const auto* ref = std::get_if<px::BlobRef>(&image[i]);
        if (!ref || (c.kind == LocalChange::Update && i < c.after.size() && c.after[i] == image[i]))
            continue;
        change.beforeOrigins.emplace_back(static_cast<int>(i), *ref);
        image[i] = table_->readField(position, static_cast<int>(i), px::Blobs::Read);
    }
    // Undone, the record keeps the card it is linked to.
    if (c.kind == LocalChange::Update)
        t_->set(image, kUidField, c.uid);
    change.before = std::move(image);
    return change;
}

bool Run::placeWithNumber(LocalChange& c) {
    const int g = t_->index(kGivenField);
    if (g < 0 || c.kind != LocalChange::Insert)
        return false;
    const int size = table_->info().fields[static_cast<std::size_t>(g)].size;
    const QString given = t_->text(c.after, kGivenField);
    QString server = given;
    for (const SyncConflict& m : conflicts_.value(c.uid))
        if (m.cut && m.field == kGivenField)
            server = m.server;
    for (int n = 2; n <= 99; ++n) {
        const QString number = QStringLiteral(" (%1)").arg(n);
        const QString numbered = given.left(size - number.size()).trimmed() + number;
        px::Record other = c.after;
        t_->set(other, kGivenField, numbered);
        try {
            table_->insert(other);
        } catch (const px::KeyViolation&) {
            continue;
        }
        c.after = other;
        QList<SyncConflict>& marks = conflicts_[c.uid];
        marks.erase(
            std::remove_if(marks.begin(), marks.end(),
                           [](const SyncConflict& m) { return m.cut && m.field == kGivenField; }),
            marks.end());
        marks.append({c.uid, kGivenField, numbered, server, true});
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
            if (photoSent_.contains(uid) && vcard::readCard(card.vcard).photo.bytes.isEmpty())
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
        const LocalRecord l = local_.value(it.key());
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
        TableShape t(table->info());
        const int uidField = t.index(kUidField);
        if (uidField < 0)
            return names;
        const QSet<QString> wanted(uids.cbegin(), uids.cend());
        table->scanField(uidField, [&](std::uint32_t position, const px::Value& v) {
            const auto* s = std::get_if<std::string>(&v);
            if (s && wanted.contains(QString::fromStdString(*s))) {
                const px::Record r = table->read(position, px::Blobs::Refer);
                names.insert(
                    QString::fromStdString(*s),
                    (t.text(r, kGivenField) + u' ' + t.text(r, QStringLiteral("Name"))).trimmed());
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
            TableShape t(table->info());
            const int uidField = t.index(kUidField);
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
