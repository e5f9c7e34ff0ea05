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

namespace vellumo::sync {

struct SyncedCard {
    QString uid;
    QString href;
    QString etag;
    QByteArray base;       // the vCard text as last read from or written to the server
    QByteArray fieldsHash; // of the table's fields at that moment
    friend bool operator==(const SyncedCard&, const SyncedCard&) = default;
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
    void commit(const QUrl& book, const QList<SyncedCard>& changed, const QStringList& removedUids,
                const QString& token);

private:
    QString meta(const QString& key) const;
    [[noreturn]] void fail(const QString& what) const;

    QString path_;
    QString connection_;
};

} // namespace vellumo::sync
