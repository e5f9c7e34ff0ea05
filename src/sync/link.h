// Linking an address table to a CardDAV book and unlinking it again.
//
// A link changes two places, the table (its field "UID", after a backup)
// and perhaps the server (a new book), so it runs in the order that leaves
// nothing behind: every local step first, the book made on the server only
// after them, and a book made for a link that then fails removed again (or,
// if even that fails, found and reused by the next try, since an empty book
// of that name is taken instead of making another).
#pragma once

#include "platform/carddav/carddav.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

#include <optional>

namespace vellumo::sync {

// The address book the user named: the URL itself when it is one, else the
// one book of the account; empty when the account has none (linkToBook then
// makes one). Several books and no choice: SyncError listing them.
QUrl findBook(carddav::CardDavClient& client);

// The local steps of a link, nothing on the server: a table beside which
// another Paradox tool keeps validity checks or secondary indexes is refused
// (SyncError, as compacting refuses it), else the table gets the text field
// "UID" at the end of its schema after a backup (once). Returns the backup's
// path, empty when the field was there already.
QString prepareTable(const QString& tablePath, const QDateTime& now);

// prepareTable, then the sync state beside the table names book (its URL
// carries the user name). A table linked to another book before starts
// afresh. Returns the backup's path, empty when the field was there already.
QString linkTable(const QString& tablePath, const QUrl& book, const QDateTime& now);

struct LinkOutcome {
    QUrl book;           // with the user name
    QString backup;      // empty when the field "UID" was there already
    bool made = false;   // a new book on the server
    bool reused = false; // an empty book of the name asked for, left by an earlier try
};

// Links the table to book, or, when book is empty, to a new book named
// newBookName, made only after the table's own steps succeeded; an empty book
// of that name is reused. A failure after making the book removes it again.
LinkOutcome linkToBook(const QString& tablePath, carddav::CardDavClient& client, const QUrl& book,
                       const QString& newBookName, const QString& user, const QDateTime& now);

// The table forgets its book: the sync state beside it goes (server, book,
// what both sides had, open decisions), every record and its "UID" stays, and
// nothing on the server is touched. Linking again later finds the cards by
// their UIDs. Returns the book it was linked to (an empty URL when its state
// could not be read, which goes all the same); nullopt when it was not
// linked. Refused (SyncError) while another program writes the table.
std::optional<QUrl> unlinkTable(const QString& tablePath);

// An address book as the set-up lists it.
struct BookChoice {
    QUrl url;
    QString displayName;
    int cards = -1;          // -1: not counted
    bool holdsTable = false; // linked to this table, or holding cards with its UIDs
    QString label;           // what the list shows
};

// The books of the account, each counted, the one holding the table's cards
// (linked, or named by one of tableUids) marked, and labelled by labelBooks.
QList<BookChoice> booksToChoose(carddav::CardDavClient& client, const QUrl& linked,
                                const QSet<QString>& tableUids);
// Labels that tell the books apart: the name (or the path when it has none)
// and the number of cards; the path too where names repeat; the book
// holding the table's cards says so.
void labelBooks(QList<BookChoice>& books);

} // namespace vellumo::sync
