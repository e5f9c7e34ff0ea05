// A CardDAV client (RFC 6352, with RFC 6578 collection sync and RFC 6764
// discovery) over Qt Network: it finds address books, lists what changed,
// fetches cards and writes them only conditionally, so that nobody's change
// on the server is ever overwritten unseen. It moves vCards as bytes and
// knows nothing of the address schema.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <stdexcept>

class QNetworkAccessManager;
class QNetworkReply;

namespace vellumo::carddav {

struct Account {
    QUrl url; // an address book, or just the server
    QString user;
    QString password;
};

struct AddressBook {
    QUrl url;
    QString displayName;
};

struct CardRef {
    QString href; // absolute path on the server
    QString etag;
};

struct Card {
    QString href;
    QString etag;
    QByteArray vcard;
};

struct Changes {
    QList<CardRef> changed;
    QStringList removed;
    QString token;
    // The server sent only part (507 on the collection, RFC 6578): ask again
    // from token for the rest before anything counts as gone.
    bool truncated = false;
};

// A sync-collection answer as Changes; hrefs are resolved against base.
Changes changesFromMultiStatus(const QByteArray& body, const QUrl& book, const QUrl& base,
                               bool* valid = nullptr);

// The address a user typed: a bare host ("cloud.example.org/dav") means
// https; a scheme given stays as given.
QUrl serverUrlFromUserInput(const QString& typed);
// 127.0.0.0/8, ::1 and "localhost": a connection that never leaves the machine.
bool isLoopback(const QUrl& url);
// Plain http is used only for the loopback or once the user confirmed this
// warning (German, for the set-up dialog and the tool).
bool needsPlainHttpConsent(const QUrl& url);
QString plainHttpWarning(const QUrl& url);
// A redirect is followed within the server only, and never from https to
// http (the password would follow in clear text).
bool isDowngrade(const QUrl& from, const QUrl& to);
bool redirectAllowed(const QUrl& from, const QUrl& to);

class DavError : public std::runtime_error {
public:
    enum class Kind {
        Network,            // no answer: server down, refused, timed out
        Authentication,     // 401/403 on login
        NotFound,           // 404
        PreconditionFailed, // 412: changed on the server since it was read
        InvalidSyncToken,   // the server no longer knows the token
        NotAddressBook,     // the URL names another kind of collection (a calendar)
        Server,             // any other error status
        Protocol            // an answer that cannot be understood
    };
    DavError(Kind kind, int status, const QString& germanMessage);
    Kind kind() const { return kind_; }
    int status() const { return status_; }
    QString message() const { return QString::fromUtf8(what()); }

private:
    Kind kind_;
    int status_;
};

class CardDavClient {
public:
    explicit CardDavClient(Account account, int timeoutMs = 30000);
    ~CardDavClient();
    CardDavClient(const CardDavClient&) = delete;
    CardDavClient& operator=(const CardDavClient&) = delete;

    // The address books of the account: the given URL itself when it is one,
    // else found through /.well-known/carddav, the principal and its
    // address-book home. A URL naming another kind of collection (a
    // calendar) raises NotAddressBook.
    QList<AddressBook> discover();
    // The home under which new address books are made (after discover()).
    QUrl addressBookHome();
    QUrl createAddressBook(const QString& displayName);

    // What changed since token (an empty token lists everything), the
    // pages of a truncated answer gathered; still truncated when the server
    // stopped cutting short without a token to go on. Raises InvalidSyncToken when the
    // server wants a full listing instead.
    Changes changesSince(const QUrl& book, const QString& token);
    // Every card's href and ETag (the fallback for a forgotten token).
    QList<CardRef> listAll(const QUrl& book);
    // The cards' bodies, in batches; a card gone meanwhile is simply absent.
    QList<Card> fetch(const QUrl& book, const QStringList& hrefs);

    // Writes a card: with the ETag it was read with (If-Match), or as a new
    // card (If-None-Match: *) when etag is empty. Returns the new ETag, or an
    // empty one when the server did not say (fetch it then).
    QString put(const QString& href, const QByteArray& vcard, const QString& etag);
    void remove(const QString& href, const QString& etag);

    // Plain http to another machine: refused unless the user confirmed
    // plainHttpWarning.
    void allowPlainHttp(bool allowed) { plainHttpAllowed_ = allowed; }

    // Requests sent so far, redirects included.
    int requestCount() const { return requests_; }
    QUrl resolve(const QString& href) const;

private:
    struct Response;
    Response send(const QByteArray& verb, const QUrl& url, const QByteArray& body,
                  QList<std::pair<QByteArray, QByteArray>> headers);
    Response propfind(const QUrl& url, int depth, const QByteArray& body);
    Changes changesPage(const QUrl& book, const QString& token);
    [[noreturn]] void fail(const Response& r, const QString& what) const;

    Account account_;
    int timeoutMs_;
    int requests_ = 0;
    bool plainHttpAllowed_ = false;
    QUrl home_;
    std::unique_ptr<QNetworkAccessManager> network_;
};

} // namespace vellumo::carddav
