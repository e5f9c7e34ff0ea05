// What an address book held at the last sync, kept in a small SQLite file
// beside the table ("ADRESSEN.DB" → "ADRESSEN.sync"): per card its place on
// the server, its ETag, the card as the server had it (the base both sides'
// changes are compared with) and a hash of the fields the table keeps; and
// the server's sync token. Written only after the table's own commit, in
// one transaction, so a crash leaves the state of the last finished run.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <stdexcept>

namespace vellumo::carddav {

struct SyncedCard {
    QString uid;
    QString href;
    QString etag;
    QByteArray base;       // the vCard text as last read from or written to the server
    QByteArray fieldsHash; // of the table's fields at that moment
    // The table's picture then: where it lay in the .mb and a key from its
    // bytes, so a picture that only moved (compact) is no change and is not
    // read again while it stays where it is.
    QString pictureRef;
    QByteArray pictureKey;
    friend bool operator==(const SyncedCard&, const SyncedCard&) = default;
};

// A field the user has to decide: changed differently on both sides (the
// table keeps local, server waits here), or a server value the table cannot
// hold (cut: the table shows what fits, the server keeps it whole).
struct SyncConflict {
    QString uid;
    QString field;
    QString local;
    QString server;
    bool cut = false;
    friend bool operator==(const SyncConflict&, const SyncConflict&) = default;
};

class SyncStateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SyncState {
public:
    static QString pathFor(const QString& tablePath);

    // Opens the file, making it when it is not there. Raises SyncStateError
    // with a German text for a file that is no sync state (or a newer one).
    explicit SyncState(const QString& path);
    ~SyncState();
    SyncState(const SyncState&) = delete;
    SyncState& operator=(const SyncState&) = delete;

    QUrl book() const;
    QString token() const;
    QHash<QString, SyncedCard> cards() const; // by UID
    std::optional<SyncedCard> card(const QString& uid) const;

    // One run's outcome, all or nothing: the book, cards written or changed,
    // cards gone, and the token to start from next time.
    // conflicts, when given, replaces the whole list.
    void commit(const QUrl& book, const QList<SyncedCard>& changed, const QStringList& removedUids,
                const QString& token, const QList<SyncConflict>* conflicts = nullptr);

    QList<SyncConflict> conflicts() const;
    // The user decided: the entry goes, and the card counts as changed here,
    // so the next sync writes the record as it now is to the server.
    void resolve(const QString& uid, const QString& field);

private:
    QString meta(const QString& key) const;
    [[noreturn]] void fail(const QString& what) const;

    QString path_;
    QString connection_;
};

} // namespace vellumo::carddav
