// Two-way sync of an address table with a CardDAV address book.
//
// The rules it keeps, each because another program lost data without it:
// a card is written back by patching the server's copy, never regenerated;
// every write is conditional (If-Match / If-None-Match: *); each card is
// decided three ways against the base (what both sides had at the last
// sync), field by field when both changed, and a field changed differently
// on both sides becomes a conflict (the table keeps its value, the server's
// waits in the list); a change beats a delete; a server value the table
// cannot hold stays whole on the server; all changes to the table are one
// batch, made after a backup, and the sync state is written only after it.
#pragma once

#include "platform/carddav/carddav.h"
#include "platform/carddav/syncstate.h"
#include "platform/database/history.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <stdexcept>

namespace vellumo::sync {

// Every failure of a sync or a link, in German, with the table unchanged.
class SyncError : public std::runtime_error {
public:
    explicit SyncError(const QString& text) : std::runtime_error(text.toStdString()) {}
    QString text() const { return QString::fromStdString(what()); }
};

struct SyncReport {
    int addedHere = 0, changedHere = 0, deletedHere = 0;
    int addedThere = 0, changedThere = 0, deletedThere = 0;
    int conflicts = 0; // open after the run
    int cut = 0;       // server values the table shows shortened
    int requests = 0;
    int notTaken = 0; // cards one side refused; each named in notes
    int paired = 0;   // records found on the server as they were, now one card
    bool photoDropped = false;
    QString backup;       // made before the table changed; empty when it did not
    QStringList notes;    // cards left for the next run, and why
    QString text() const; // German, one line per side
    // The records the run wrote to the table, before and after (a picture it
    // replaced held as bytes), for the history of a program that has the
    // table open: one step to undo, named by stepLabel. A record that only
    // got its UID is not among them, and one undone keeps its UID (the link).
    std::vector<RecordChange> written;
    QString bookHost;
    QString stepLabel() const; // "Abgleich mit cloud.example.org (3 Adressen)"
};

struct SyncOptions {
    QString password;
    // Asked before a sync deletes many records or cards, or when the server's
    // book went empty; false (or no callback) stops the sync unchanged.
    std::function<bool(const QString& question)> confirm;
    std::function<void(const QString& step)> progress;
    // Called after each card written to the server (crash tests stop here).
    std::function<void()> afterUpload;
    // The user confirmed carddav::plainHttpWarning for this book.
    bool allowPlainHttp = false;
    // Per request: a server may think a while before it lists a large book.
    int timeoutMs = 120000;
    QDateTime now = QDateTime::currentDateTime();
};

// Copies of the table's three files beside it, named with the date and
// time: "ADRESSEN-Sicherung-20261209-013000.db" before a sync changes the
// table, "ADRESSEN-Sicherung-vor-Verbinden-20261209-013000.db" before linking
// adds the field "UID". A copy is streamed, never held in memory whole.
enum class BackupKind { BeforeSync, BeforeLink };
// The name backupTable gives a copy made at now.
QString backupPathFor(const QString& tablePath, const QDateTime& now,
                      BackupKind kind = BackupKind::BeforeSync);
// Makes the copy; after a copy before a sync the older ones of that kind
// that keptBackups lets go are removed (the copy before linking always
// stays). Returns the copy's path.
QString backupTable(const QString& tablePath, const QDateTime& now,
                    BackupKind kind = BackupKind::BeforeSync);
// Which of the copies made at these times stay (true, in the same order):
// the newest two up to now, the first of each of the last seven days (today
// counted), and any dated after now (a clock set back), which nothing here
// can date.
QList<bool> keptBackups(const QList<QDateTime>& made, const QDateTime& now);

// The book a table is linked to (with the user name); empty when none.
QUrl linkedBook(const QString& tablePath);

SyncReport synchronise(const QString& tablePath, const SyncOptions& options);

// The open decisions of a linked table, and the user's choice for one: the
// server's value into the record, or the table's kept. Either way the next
// sync sends the record as it then is, so both sides end equal. Opens the
// table for writing; a program that has it open uses its record store and
// SyncState::resolve instead.
QList<carddav::SyncConflict> openConflicts(const QString& tablePath);
void resolveConflict(const QString& tablePath, const carddav::SyncConflict& conflict,
                     bool takeServer);
// "Vorname Name" of the records with these UIDs, read without a lock.
QHash<QString, QString> recordNames(const QString& tablePath, const QStringList& uids);

} // namespace vellumo::sync
