// What one sync run is to do, decided on plain values: the table as read,
// the sync state and what the server changed go in; the changes for each
// side, the conflicts and the state after the run come out. Nothing here
// reads or writes a file or asks the server, so every decision can be
// tried without either; the run (tablesync.cpp) carries the plan out.
#pragma once

#include "platform/carddav/carddav.h"
#include "platform/carddav/syncstate.h"
#include "sync/tablesnapshot.h"

#include <QDateTime>
#include <QHash>
#include <QSet>

namespace vellumo::sync {

// The server's side of a run: the cards fetched (new or changed ones as
// listed), the hrefs listed as removed, and for a full listing every href
// listed (a known card not among them is gone).
struct ServerChanges {
    QList<carddav::Card> cards;
    QStringList removed;
    bool full = false;
    QSet<QString> listed;
    // The server sent only part of a listing (507) and did not go on: what
    // is missing from it is not gone.
    bool truncated = false;
};

struct PlanInput {
    const TableSnapshot& table;
    const QHash<QString, carddav::SyncedCard>& known; // the state's cards by UID
    const QList<carddav::SyncConflict>& conflicts;    // the state's open ones
    const ServerChanges& server;
    QString bookPath; // where new cards go
    QDateTime now;
    int photoSide = 0; // a picture that arrives is stored at this size
};

// A change to one record of the table, made in the run's batch.
struct LocalChange {
    enum Kind { Insert, Update, Remove } kind = Update;
    QString uid;
    px::Record before; // Update, Remove: the record as read
    px::Record after;  // Insert, Update
    QString label;     // the card's FN, to name it
};

// A card to write: the server's card (empty for a new one) patched from
// what it held (before) to what the table holds (after).
struct Upload {
    QString uid;
    QString href;
    QString etag; // empty: a new card
    QByteArray base;
    Fields before, after; // without the picture
    QByteArray revision;
    // The table's picture goes too: read from the record at that position.
    bool sendPicture = false;
    std::uint32_t position = 0;
    bool removePicture = false;
    QByteArray card; // the card to send when no picture is to be read
};

struct ServerDelete {
    QString uid, href, etag;
};

struct SyncPlan {
    // The records after pairing, by the UID each will have.
    QHash<QString, LocalRecord> local;
    QList<LocalChange> localChanges;
    QList<Upload> uploads;
    QList<ServerDelete> serverDeletes;
    QHash<QString, carddav::SyncedCard> newState; // taken from the server, by UID
    QStringList forget;
    QHash<QString, QList<carddav::SyncConflict>> conflicts; // by UID
    QSet<QString> uidOnly;                                  // records changed only to get their UID
    QSet<QString> goneOnServer; // new cards there must not take an old ETag
    int paired = 0;
    // For the questions before the run goes on: the server's book went
    // empty, or this many of so many records would be deleted.
    bool serverEmptied = false;
    int deletions = 0;
    int records = 0;
};

SyncPlan planSync(const PlanInput& in);

// The card an upload sends; picture: the table's picture as PNG when
// sendPicture is set (empty: it is removed).
QByteArray uploadCard(const Upload& u, const QByteArray& picture);

// The UID field's value for a card: its UID when the field holds it (the
// urn:uuid: form of vCard 4.0 is 45 characters), else a key made from it,
// the same on every run; the card's own UID is never changed.
QString recordKeyFor(const TableShape& shape, const QString& cardUid);

} // namespace vellumo::sync
