#include "sync/syncplan.h"

#include "exchange/vcardcodec.h"
#include "platform/pictures/graphicfield.h"
#include "search/folding.h"

#include <QUuid>

namespace vellumo::sync {

using carddav::CardAction;
using carddav::SyncConflict;
using carddav::SyncedCard;

namespace {

// The record's key for a card whose UID its field cannot hold.
const QUuid kUidSpace(QStringLiteral("6f1c0a52-3d0e-4a8b-9a55-7c2b1d9e4f10"));

// A table value that is the cut form of the base's value stands for it:
// only an edit of the field itself sends something else to the server.
Fields unfit(const TableShape& t, Fields local, const Fields& base) {
    for (auto it = base.cbegin(); it != base.cend(); ++it)
        if (it.key() != kPictureField && local.value(it.key()) == t.fit(it.key(), it.value()) &&
            t.fit(it.key(), it.value()) != it.value())
            local.insert(it.key(), it.value());
    return local;
}

// A card's fields with its photo's key as "Grafik".
Fields serverFields(const vcard::Card& card) {
    Fields f = card.fields;
    if (const QByteArray key = card.photo.key(); !key.isEmpty())
        f.insert(kPictureField, QString::fromLatin1(key));
    return f;
}

Fields serverFields(const QByteArray& card) {
    return serverFields(vcard::readCard(card));
}

class Planner {
public:
    explicit Planner(const PlanInput& in)
        : in_(in), t_(in.table.info), local_(in.table.records), known_(in.known) {
        for (const SyncConflict& c : in.conflicts)
            conflicts_[c.uid].append(c);
    }

    SyncPlan run();

private:
    void readServer();
    void pairUnknown();
    void decideAll();
    void planUpload(const QString& uid, const Fields& fields, const QString& href,
                    const QString& etag, const QByteArray& base, const Fields& baseFields,
                    const QHash<QString, QString>& keepServer);
    void planDownload(const QString& uid, const carddav::Card& card);
    void planMerge(const QString& uid, const QByteArray& baseCard, const carddav::Card& server);
    px::Record recordFrom(const px::Record& start, const Fields& fields, const QString& uid,
                          const QByteArray& photo);
    // The table's side of a card against base (the server's side at the last
    // sync): a picture unchanged here stands as base's, so it is neither sent
    // nor taken as a change.
    Fields mineFor(const QString& uid, const Fields& base) const;

    const PlanInput& in_;
    const TableShape t_;
    QHash<QString, LocalRecord> local_;
    const QHash<QString, SyncedCard>& known_;
    QHash<QString, carddav::Card> server_; // changed on the server, by UID
    QSet<QString> goneOnServer_;
    QHash<QString, QList<SyncConflict>> conflicts_;
    SyncPlan plan_;
};

SyncPlan Planner::run() {
    readServer();
    pairUnknown();
    decideAll();
    plan_.local = local_;
    plan_.conflicts = conflicts_;
    plan_.goneOnServer = goneOnServer_;
    return plan_;
}

void Planner::readServer() {
    QHash<QString, QString> uidByHref;
    for (const SyncedCard& c : known_)
        uidByHref.insert(c.href, c.uid);
    for (const QString& href : in_.server.removed)
        if (uidByHref.contains(href))
            goneOnServer_.insert(uidByHref.value(href));
    if (in_.server.full && !in_.server.truncated)
        for (const SyncedCard& c : known_)
            if (!in_.server.listed.contains(c.href))
                goneOnServer_.insert(c.uid);
    for (const carddav::Card& card : in_.server.cards) {
        const QString cardUid = vcard::readCard(card.vcard).uid;
        const QString uid = cardUid.isEmpty()
                                ? uidByHref.value(card.href, recordKeyFor(t_, card.href))
                                : recordKeyFor(t_, cardUid);
        // The same card listed again under its known ETag is no change.
        if (known_.contains(uid) && known_[uid].etag == card.etag && known_[uid].href == card.href)
            continue;
        server_.insert(uid, card);
        goneOnServer_.remove(uid);
    }
}

void Planner::pairUnknown() {
    const int keys = t_.info().keyFieldCount;
    QStringList keyNames;
    for (int i = 0; i < keys; ++i)
        keyNames << QString::fromStdString(t_.info().fields[static_cast<std::size_t>(i)].name);
    auto keyText = [&](const Fields& f, bool fitted) {
        QStringList parts;
        for (const QString& name : keyNames)
            parts << (fitted ? t_.fit(name, f.value(name)) : f.value(name)).trimmed().toLower();
        return parts.join(QChar(0x1f));
    };
    auto nameOf = [](const Fields& f) {
        return search::fold(f.value(kGivenField) + u' ' + f.value(QStringLiteral("Name")));
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
    const int uidField = t_.index(kUidField);
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
        LocalRecord l = local_.take(mine);
        l.record[static_cast<std::size_t>(uidField)] = it.key().toStdString();
        l.newUid = true;
        local_.insert(it.key(), l);
        ++plan_.paired;
    }
}

Fields Planner::mineFor(const QString& uid, const Fields& base) const {
    const LocalRecord& l = local_[uid];
    Fields mine = unfit(t_, l.fields, base);
    // A value shown cut or numbered stands for the server's while unedited.
    for (const SyncConflict& c : conflicts_.value(uid))
        if (c.cut && mine.value(c.field) == c.local && base.value(c.field) == c.server)
            mine.insert(c.field, c.server);
    if (!l.pictureChanged) {
        mine.remove(kPictureField);
        if (base.contains(kPictureField))
            mine.insert(kPictureField, base.value(kPictureField));
    }
    return mine;
}

void Planner::decideAll() {
    bool emptied = !known_.isEmpty() && server_.isEmpty();
    for (auto it = known_.cbegin(); emptied && it != known_.cend(); ++it)
        emptied = goneOnServer_.contains(it.key());
    plan_.serverEmptied = emptied;

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
    plan_.deletions = deletions;
    plan_.records = std::max<int>(static_cast<int>(local_.size()), int(known_.size()));

    for (const Decision& d : decisions) {
        const QString& uid = d.uid;
        const SyncedCard base = known_.value(uid);
        switch (d.action) {
        case CardAction::Nothing:
            break;
        case CardAction::Upload: {
            const LocalRecord& l = local_[uid];
            const Fields baseFields = serverFields(base.base);
            planUpload(uid, mineFor(uid, baseFields), base.href, base.etag, base.base, baseFields,
                       {});
            // A value the table shows cut stays marked until it is edited.
            QList<SyncConflict> marks;
            for (const SyncConflict& c : conflicts_.value(uid))
                if (!c.cut || t_.text(l.record, c.field) == c.local ||
                    t_.text(l.record, c.field) == t_.fit(c.field, c.server))
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
            plan_.localChanges.append({LocalChange::Remove, uid, local_[uid].record, {}, {}});
            plan_.forget << uid;
            conflicts_.remove(uid);
            break;
        case CardAction::DeleteServer:
            plan_.serverDeletes.append({uid, base.href, base.etag});
            conflicts_.remove(uid);
            break;
        case CardAction::Forget:
            plan_.forget << uid;
            conflicts_.remove(uid);
            break;
        }
    }
    // Records that only needed a UID get it in the same batch.
    QSet<QString> changed;
    for (const LocalChange& c : std::as_const(plan_.localChanges))
        changed.insert(c.uid);
    for (auto it = local_.cbegin(); it != local_.cend(); ++it)
        if (it->newUid && !changed.contains(it.key())) {
            plan_.localChanges.append({LocalChange::Update, it.key(), it->record, it->record, {}});
            plan_.uidOnly.insert(it.key());
        }
}

void Planner::planUpload(const QString& uid, const Fields& fields, const QString& href,
                         const QString& etag, const QByteArray& base, const Fields& baseFields,
                         const QHash<QString, QString>& keepServer) {
    Fields sent = fields;
    for (auto it = keepServer.cbegin(); it != keepServer.cend(); ++it)
        sent.insert(it.key(), it.value());
    Upload u;
    u.uid = uid;
    u.href = href.isEmpty() || goneOnServer_.contains(uid)
                 ? in_.bookPath + (in_.bookPath.endsWith(u'/') ? QString() : QStringLiteral("/")) +
                       uid + QStringLiteral(".vcf")
                 : href;
    u.etag = goneOnServer_.contains(uid) ? QString() : etag;
    u.base = base;
    u.before = baseFields;
    u.after = sent;
    u.before.remove(kPictureField);
    u.after.remove(kPictureField);
    u.revision = in_.now.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toLatin1();
    // The picture goes only when it changed here, as PNG; the server's stays
    // as it was sent otherwise.
    if (sent.value(kPictureField) != baseFields.value(kPictureField) && local_.contains(uid)) {
        u.sendPicture = true;
        u.position = local_[uid].position;
    } else
        u.card = uploadCard(u, {});
    plan_.uploads.append(u);
}

px::Record Planner::recordFrom(const px::Record& start, const Fields& fields, const QString& uid,
                               const QByteArray& photo) {
    px::Record r = start;
    r.resize(t_.info().fields.size());
    QList<SyncConflict> marks;
    for (const QString& name : kCardFields) {
        if (t_.index(name) < 0)
            continue;
        const QString value = fields.value(name);
        const QString fitted = t_.fit(name, value);
        if (fitted != value) {
            marks.append({uid, name, fitted, value, true});
        }
        t_.set(r, name, fitted);
    }
    if (t_.index(kPictureField) >= 0 && fields.contains(kPictureField)) {
        // A photo the table cannot hold (a link, bytes that do not decode)
        // leaves the record's picture as it is; one it holds is stored at the
        // size the user set for pictures, as the chooser stores one (the
        // server keeps the phone's own).
        QString error;
        const QByteArray bmp = photo.isEmpty()
                                   ? QByteArray()
                                   : pictures::graphicFieldFromPhoto(photo, in_.photoSide, &error);
        if (!bmp.isEmpty())
            r[static_cast<std::size_t>(t_.index(kPictureField))] =
                px::Bytes(bmp.begin(), bmp.end());
    } else if (t_.index(kPictureField) >= 0 && !fields.contains(kPictureField)) {
        r[static_cast<std::size_t>(t_.index(kPictureField))] = px::Value();
    }
    t_.set(r, kUidField, uid);
    t_.set(r, kChangedField, in_.now.date().toString(Qt::ISODate));
    if (t_.text(r, QStringLiteral("Erstellt")).isEmpty())
        t_.set(r, QStringLiteral("Erstellt"), in_.now.date().toString(Qt::ISODate));
    QList<SyncConflict> kept;
    for (const SyncConflict& c : conflicts_.value(uid))
        if (!c.cut)
            kept.append(c);
    conflicts_.insert(uid, kept + marks);
    return r;
}

void Planner::planDownload(const QString& uid, const carddav::Card& card) {
    const vcard::Card content = vcard::readCard(card.vcard);
    const Fields theirs = serverFields(content);
    plan_.newState.insert(uid, {uid, card.href, card.etag, card.vcard, {}, {}, {}});
    if (local_.contains(uid)) {
        LocalRecord& l = local_[uid];
        const Fields mine =
            mineFor(uid, known_.contains(uid) ? serverFields(known_[uid].base) : Fields());
        if (mine == theirs)
            return; // only what the table does not keep changed on the server
        Fields wanted = theirs;
        // An unchanged picture is kept where it lies.
        if (mine.value(kPictureField) == theirs.value(kPictureField))
            wanted.remove(kPictureField);
        px::Record after = recordFrom(l.record, wanted, uid, content.photo.bytes);
        if (mine.value(kPictureField) == theirs.value(kPictureField) &&
            t_.index(kPictureField) >= 0)
            after[static_cast<std::size_t>(t_.index(kPictureField))] =
                l.record[static_cast<std::size_t>(t_.index(kPictureField))];
        plan_.localChanges.append({LocalChange::Update, uid, l.record, after, content.fullName});
    } else {
        px::Record blank(t_.info().fields.size());
        plan_.localChanges.append({LocalChange::Insert,
                                   uid,
                                   {},
                                   recordFrom(blank, theirs, uid, content.photo.bytes),
                                   content.fullName});
    }
}

void Planner::planMerge(const QString& uid, const QByteArray& baseCard,
                        const carddav::Card& server) {
    const vcard::Card serverContent = vcard::readCard(server.vcard);
    const Fields base = serverFields(baseCard);
    const Fields theirs = serverFields(serverContent);
    LocalRecord& l = local_[uid];
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

    plan_.newState.insert(uid, {uid, server.href, server.etag, server.vcard, {}, {}, {}});
    conflicts_.insert(uid, {});
    if (forTable != mine) {
        Fields wanted = forTable;
        const bool samePicture = forTable.value(kPictureField) == mine.value(kPictureField);
        px::Record after = recordFrom(l.record, wanted, uid, serverContent.photo.bytes);
        if (samePicture && t_.index(kPictureField) >= 0)
            after[static_cast<std::size_t>(t_.index(kPictureField))] =
                l.record[static_cast<std::size_t>(t_.index(kPictureField))];
        plan_.localChanges.append(
            {LocalChange::Update, uid, l.record, after, serverContent.fullName});
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

} // namespace

SyncPlan planSync(const PlanInput& in) {
    return Planner(in).run();
}

QByteArray uploadCard(const Upload& u, const QByteArray& picture) {
    vcard::PhotoChange photo;
    if (u.sendPicture) {
        photo.bytes = picture;
        photo.kind = picture.isEmpty() ? vcard::PhotoChange::Remove : vcard::PhotoChange::Replace;
    }
    return vcard::patchCard(u.base, u.before, u.after, photo, u.revision, u.uid);
}

QString recordKeyFor(const TableShape& shape, const QString& cardUid) {
    if (!cardUid.isEmpty() && cardUid.size() <= shape.size(kUidField) &&
        shape.fit(kUidField, cardUid) == cardUid)
        return cardUid;
    return QUuid::createUuidV5(kUidSpace, cardUid).toString(QUuid::WithoutBraces);
}

} // namespace vellumo::sync
