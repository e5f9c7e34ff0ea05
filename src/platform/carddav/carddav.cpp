#include "platform/carddav/carddav.h"

#include <QEventLoop>
#include <QHash>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>
#include <QTimer>
#include <QUuid>
#include <QXmlStreamReader>

namespace vellumo::carddav {

namespace {

constexpr int kMaxRedirects = 5;
constexpr int kFetchBatch = 100;
const QString kDav = QStringLiteral("DAV:");
const QString kCardDav = QStringLiteral("urn:ietf:params:xml:ns:carddav");

QString xmlEscaped(const QString& s) {
    return s.toHtmlEscaped();
}

int statusOfLine(const QString& line) {
    // "HTTP/1.1 404 Not Found"
    const QStringList parts = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return parts.size() >= 2 ? parts[1].toInt() : 0;
}

// One <response> of a multistatus answer, with the properties that came
// back with a success status.
struct DavResponse {
    QString href;
    int status = 200; // of the response itself (404 for a card removed since a token)
    QString etag;
    QString displayName;
    QString principal;
    QString home;
    QByteArray addressData;
    bool collection = false;
    bool addressBook = false;
    // A kind of collection other than a book, a principal or a plain one
    // (a CalDAV calendar, an inbox): its resource type's name.
    QString otherKind;
};

struct MultiStatus {
    QList<DavResponse> responses;
    QString syncToken;
    bool valid = false;
};

MultiStatus parseMultiStatus(const QByteArray& body) {
    MultiStatus ms;
    QXmlStreamReader xml(body);
    QStringList path; // "ns|name" of the open elements
    DavResponse current;
    DavResponse found; // properties of the propstat being read
    int propStatus = 0;
    auto is = [&](const QString& ns, const char* name) {
        return xml.namespaceUri() == ns && xml.name() == QLatin1String(name);
    };
    auto inside = [&](const QString& ns, const char* name) {
        return path.contains(ns + QLatin1Char('|') + QLatin1String(name));
    };
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (path.isEmpty() && is(kDav, "multistatus"))
                ms.valid = true;
            if (is(kDav, "response")) {
                current = DavResponse{};
            } else if (is(kDav, "propstat")) {
                found = DavResponse{};
                propStatus = 0;
            } else if (is(kDav, "href")) {
                const QString href = xml.readElementText().trimmed();
                if (inside(kDav, "current-user-principal"))
                    found.principal = href;
                else if (inside(kCardDav, "addressbook-home-set"))
                    found.home = href;
                else if (!inside(kDav, "propstat") && inside(kDav, "response"))
                    current.href = QUrl::fromPercentEncoding(href.toUtf8());
                continue;
            } else if (is(kDav, "status")) {
                const int s = statusOfLine(xml.readElementText());
                if (inside(kDav, "propstat"))
                    propStatus = s;
                else if (inside(kDav, "response"))
                    current.status = s;
                continue;
            } else if (is(kDav, "getetag")) {
                found.etag = xml.readElementText().trimmed();
                continue;
            } else if (is(kDav, "displayname")) {
                found.displayName = xml.readElementText().trimmed();
                continue;
            } else if (is(kCardDav, "address-data")) {
                found.addressData = xml.readElementText().toUtf8();
                continue;
            } else if (is(kDav, "sync-token") && path.size() == 1) {
                ms.syncToken = xml.readElementText().trimmed();
                continue;
            } else if (inside(kDav, "resourcetype")) {
                found.collection = found.collection || is(kDav, "collection");
                found.addressBook = found.addressBook || is(kCardDav, "addressbook");
                if (!is(kDav, "collection") && !is(kDav, "principal") &&
                    !is(kCardDav, "addressbook"))
                    found.otherKind = xml.name().toString();
            }
            path.append(xml.namespaceUri().toString() + QLatin1Char('|') + xml.name().toString());
        } else if (token == QXmlStreamReader::EndElement) {
            if (!path.isEmpty())
                path.removeLast();
            if (is(kDav, "propstat") && propStatus >= 200 && propStatus < 300) {
                auto take = [](auto& into, const auto& from) {
                    if (!from.isEmpty())
                        into = from;
                };
                take(current.etag, found.etag);
                take(current.displayName, found.displayName);
                take(current.principal, found.principal);
                take(current.home, found.home);
                take(current.addressData, found.addressData);
                take(current.otherKind, found.otherKind);
                current.collection = current.collection || found.collection;
                current.addressBook = current.addressBook || found.addressBook;
            } else if (is(kDav, "response")) {
                ms.responses.append(current);
            }
        }
    }
    if (xml.hasError())
        ms.valid = false;
    return ms;
}

QString networkCause(QNetworkReply::NetworkError error) {
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("Verbindung abgelehnt");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("Server nicht gefunden");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("keine Antwort");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("Verbindung vom Server getrennt");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("sichere Verbindung fehlgeschlagen");
    default:
        return QStringLiteral("Netzwerkfehler");
    }
}

const QByteArray kPropfindBook = R"(<?xml version="1.0" encoding="utf-8"?>
<d:propfind xmlns:d="DAV:" xmlns:c="urn:ietf:params:xml:ns:carddav"><d:prop>
<d:resourcetype/><d:displayname/><d:current-user-principal/><c:addressbook-home-set/>
</d:prop></d:propfind>)";

const QByteArray kPropfindEtags = R"(<?xml version="1.0" encoding="utf-8"?>
<d:propfind xmlns:d="DAV:"><d:prop><d:resourcetype/><d:getetag/></d:prop></d:propfind>)";

} // namespace

struct CardDavClient::Response {
    int status = 0;
    QByteArray body;
    QString etag;
    QUrl url;
    QString networkError;   // set when no answer came
    bool downgrade = false; // a redirect from https to http, not followed
};

QUrl serverUrlFromUserInput(const QString& typed) {
    const QString t = typed.trimmed();
    if (t.contains(QStringLiteral("://")))
        return QUrl(t, QUrl::TolerantMode);
    return QUrl(QStringLiteral("https://") + t, QUrl::TolerantMode);
}

bool isLoopback(const QUrl& url) {
    const QString host = url.host().toLower();
    if (host == QStringLiteral("localhost"))
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

bool needsPlainHttpConsent(const QUrl& url) {
    return url.scheme().toLower() == QStringLiteral("http") && !isLoopback(url);
}

bool isDowngrade(const QUrl& from, const QUrl& to) {
    return from.scheme().toLower() == QStringLiteral("https") &&
           to.scheme().toLower() != QStringLiteral("https");
}

bool redirectAllowed(const QUrl& from, const QUrl& to) {
    return !isDowngrade(from, to) && to.host() == from.host() && to.port() == from.port();
}

QString plainHttpWarning(const QUrl& url) {
    return QStringLiteral("Die Verbindung zu %1 ist nicht verschlüsselt (http statt https). "
                          "Benutzername, Passwort und alle Adressen gehen im Klartext über das "
                          "Netz und können mitgelesen werden. Nur verwenden, wenn der Server in "
                          "einem vertrauenswürdigen Netz steht. Trotzdem verbinden?")
        .arg(url.host());
}

DavError::DavError(Kind kind, int status, const QString& germanMessage)
    : std::runtime_error(germanMessage.toStdString()), kind_(kind), status_(status) {}

CardDavClient::CardDavClient(Account account, int timeoutMs)
    : account_(std::move(account)), timeoutMs_(timeoutMs),
      network_(std::make_unique<QNetworkAccessManager>()) {
    network_->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

CardDavClient::~CardDavClient() = default;

QUrl CardDavClient::resolve(const QString& href) const {
    return account_.url.resolved(QUrl(href, QUrl::TolerantMode));
}

CardDavClient::Response CardDavClient::send(const QByteArray& verb, const QUrl& target,
                                            const QByteArray& body,
                                            QList<std::pair<QByteArray, QByteArray>> headers) {
    QUrl url = target;
    for (int redirects = 0;; ++redirects) {
        if (needsPlainHttpConsent(url) && !plainHttpAllowed_)
            throw DavError(DavError::Kind::Protocol, 0,
                           QStringLiteral("Die Verbindung zu %1 wäre unverschlüsselt (http); "
                                          "Passwort und Adressen gingen im Klartext über das "
                                          "Netz. Bitte https verwenden")
                               .arg(url.host()));
        QNetworkRequest request(url);
        request.setHeader(QNetworkRequest::UserAgentHeader,
                          QByteArrayLiteral("Vellumo/" VELLUMO_VERSION));
        request.setTransferTimeout(timeoutMs_);
        if (!account_.user.isEmpty() || !account_.password.isEmpty())
            request.setRawHeader(
                "Authorization",
                "Basic " +
                    (account_.user + QLatin1Char(':') + account_.password).toUtf8().toBase64());
        if (!body.isEmpty() && verb != "PUT")
            request.setHeader(QNetworkRequest::ContentTypeHeader,
                              QByteArrayLiteral("application/xml; charset=utf-8"));
        for (const auto& [name, value] : headers)
            request.setRawHeader(name, value);
        ++requests_;
        std::unique_ptr<QNetworkReply> reply(network_->sendCustomRequest(request, verb, body));
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, reply.get(), &QNetworkReply::abort);
        guard.start(timeoutMs_ + 1000);
        if (!reply->isFinished())
            loop.exec(QEventLoop::ExcludeUserInputEvents);

        Response r;
        r.url = url;
        r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        r.body = reply->readAll();
        r.etag = QString::fromUtf8(reply->rawHeader("ETag"));
        if (r.status == 0)
            r.networkError = networkCause(reply->error());
        const bool redirect = r.status == 301 || r.status == 302 || r.status == 303 ||
                              r.status == 307 || r.status == 308;
        const QByteArray location = reply->rawHeader("Location");
        if (!redirect || location.isEmpty() || redirects >= kMaxRedirects)
            return r;
        const QUrl next = url.resolved(QUrl::fromEncoded(location));
        r.downgrade = isDowngrade(url, next);
        if (!redirectAllowed(url, next))
            return r;
        url = next;
    }
}

CardDavClient::Response CardDavClient::propfind(const QUrl& url, int depth,
                                                const QByteArray& body) {
    Response r = send("PROPFIND", url, body, {{"Depth", QByteArray::number(depth)}});
    if (r.status != 207)
        fail(r, url.toDisplayString());
    return r;
}

void CardDavClient::fail(const Response& r, const QString& what) const {
    using Kind = DavError::Kind;
    if (r.downgrade)
        throw DavError(Kind::Protocol, r.status,
                       QStringLiteral("Der Server leitet von der verschlüsselten Verbindung "
                                      "(https) auf eine unverschlüsselte (http) um; dem wird "
                                      "nicht gefolgt, damit das Passwort nicht im Klartext "
                                      "übertragen wird"));
    if (r.status == 0)
        throw DavError(Kind::Network, 0,
                       QStringLiteral("Der Server %1 ist nicht erreichbar (%2)")
                           .arg(account_.url.host(), r.networkError));
    if (r.body.contains("valid-sync-token") &&
        (r.status == 400 || r.status == 403 || r.status == 409))
        throw DavError(Kind::InvalidSyncToken, r.status,
                       QStringLiteral("Der Server kennt den letzten Abgleich nicht mehr"));
    switch (r.status) {
    case 401:
        throw DavError(Kind::Authentication, r.status,
                       QStringLiteral("Die Anmeldung am Server ist fehlgeschlagen. Bitte prüfen "
                                      "Sie Benutzername und Passwort"));
    case 403:
        throw DavError(Kind::Authentication, r.status,
                       QStringLiteral("Der Server verweigert den Zugriff auf %1").arg(what));
    case 404:
    case 410:
        throw DavError(Kind::NotFound, r.status,
                       QStringLiteral("%1 wurde auf dem Server nicht gefunden").arg(what));
    case 412:
        throw DavError(Kind::PreconditionFailed, r.status,
                       QStringLiteral("%1 wurde inzwischen auf dem Server geändert").arg(what));
    case 207:
        throw DavError(Kind::Protocol, r.status,
                       QStringLiteral("Die Antwort des Servers auf %1 ist nicht lesbar").arg(what));
    default:
        throw DavError(
            Kind::Server, r.status,
            QStringLiteral("Der Server meldet einen Fehler (%1) bei %2").arg(r.status).arg(what));
    }
}

QList<AddressBook> CardDavClient::discover() {
    auto first = [&](const QUrl& url) {
        MultiStatus ms = parseMultiStatus(propfind(url, 0, kPropfindBook).body);
        if (!ms.valid || ms.responses.isEmpty())
            fail(Response{207, {}, {}, url, {}, false}, url.toDisplayString());
        return ms.responses.first();
    };
    DavResponse here = first(account_.url);
    // The address of something else (a calendar) is a mistake, not a hint
    // to look for the account's books.
    if (!here.addressBook && !here.otherKind.isEmpty())
        throw DavError(
            DavError::Kind::NotAddressBook, 0,
            QStringLiteral("Unter %1 liegt kein Adressbuch, sondern %2. Bitte geben "
                           "Sie die Adresse eines Adressbuchs oder des Servers an")
                .arg(account_.url.toDisplayString(),
                     here.otherKind == QStringLiteral("calendar")
                         ? QStringLiteral("ein Kalender")
                         : QStringLiteral("eine Sammlung anderer Art („%1“)").arg(here.otherKind)));
    if (here.addressBook) {
        home_ = account_.url.resolved(QStringLiteral(".."));
        return {{account_.url, here.displayName}};
    }
    QString principal = here.principal;
    if (principal.isEmpty() && here.home.isEmpty())
        principal = first(account_.url.resolved(QStringLiteral("/.well-known/carddav"))).principal;
    QString home = here.home;
    if (home.isEmpty()) {
        if (principal.isEmpty())
            throw DavError(DavError::Kind::Protocol, 0,
                           QStringLiteral("Unter %1 wurde kein CardDAV-Adressbuch gefunden")
                               .arg(account_.url.toDisplayString()));
        home = first(resolve(principal)).home;
    }
    if (home.isEmpty())
        throw DavError(DavError::Kind::Protocol, 0,
                       QStringLiteral("Der Server nennt keinen Ort für Adressbücher"));
    home_ = resolve(home);
    QList<AddressBook> books;
    for (const DavResponse& r : parseMultiStatus(propfind(home_, 1, kPropfindBook).body).responses)
        if (r.addressBook)
            books.append(AddressBook{resolve(r.href), r.displayName});
    return books;
}

QUrl CardDavClient::addressBookHome() {
    if (home_.isEmpty())
        discover();
    return home_;
}

QUrl CardDavClient::createAddressBook(const QString& displayName) {
    QUrl url = addressBookHome().resolved(
        QUrl(QUuid::createUuid().toString(QUuid::WithoutBraces) + QLatin1Char('/')));
    const QByteArray body = QStringLiteral(
                                R"(<?xml version="1.0" encoding="utf-8"?>
<d:mkcol xmlns:d="DAV:" xmlns:c="urn:ietf:params:xml:ns:carddav"><d:set><d:prop>
<d:resourcetype><d:collection/><c:addressbook/></d:resourcetype>
<d:displayname>%1</d:displayname></d:prop></d:set></d:mkcol>)")
                                .arg(xmlEscaped(displayName))
                                .toUtf8();
    Response r = send("MKCOL", url, body, {});
    if (r.status != 201)
        fail(r, displayName);
    return url;
}

Changes changesFromMultiStatus(const QByteArray& body, const QUrl& book, const QUrl& base,
                               bool* valid) {
    MultiStatus ms = parseMultiStatus(body);
    if (valid)
        *valid = ms.valid;
    Changes changes;
    changes.token = ms.syncToken;
    for (const DavResponse& d : ms.responses) {
        if (base.resolved(QUrl(d.href, QUrl::TolerantMode)) == book || d.collection) {
            changes.truncated = changes.truncated || d.status == 507;
            continue;
        }
        if (d.status == 404)
            changes.removed.append(d.href);
        else
            changes.changed.append(CardRef{d.href, d.etag});
    }
    return changes;
}

Changes CardDavClient::changesSince(const QUrl& book, const QString& token) {
    Changes all;
    QHash<QString, QString> etags; // the last word on each card
    QStringList order;
    QSet<QString> removed;
    QString from = token;
    // A server that keeps saying "more" without moving on is not followed for ever.
    for (int page = 0; page < 10000; ++page) {
        const Changes part = changesPage(book, from);
        for (const CardRef& ref : part.changed) {
            if (!etags.contains(ref.href))
                order << ref.href;
            etags.insert(ref.href, ref.etag);
            removed.remove(ref.href);
        }
        for (const QString& href : part.removed) {
            etags.remove(href);
            removed.insert(href);
        }
        all.token = part.token;
        // A server still cut short that gives no token to go on from leaves
        // the listing partial: said so, so nothing missing counts as gone.
        all.truncated = part.truncated;
        if (!part.truncated || part.token.isEmpty() || part.token == from)
            break;
        from = part.token;
    }
    for (const QString& href : order)
        if (etags.contains(href))
            all.changed.append(CardRef{href, etags.value(href)});
    all.removed = QStringList(removed.cbegin(), removed.cend());
    return all;
}

Changes CardDavClient::changesPage(const QUrl& book, const QString& token) {
    const QByteArray body = QStringLiteral(R"(<?xml version="1.0" encoding="utf-8"?>
<d:sync-collection xmlns:d="DAV:"><d:sync-token>%1</d:sync-token><d:sync-level>1</d:sync-level>
<d:prop><d:getetag/></d:prop></d:sync-collection>)")
                                .arg(xmlEscaped(token))
                                .toUtf8();
    Response r = send("REPORT", book, body, {{"Depth", "0"}});
    if (r.status != 207)
        fail(r, book.toDisplayString());
    bool valid = false;
    Changes changes = changesFromMultiStatus(r.body, book, account_.url, &valid);
    if (!valid)
        fail(r, book.toDisplayString());
    return changes;
}

QList<CardRef> CardDavClient::listAll(const QUrl& book) {
    Response r = propfind(book, 1, kPropfindEtags);
    MultiStatus ms = parseMultiStatus(r.body);
    if (!ms.valid)
        fail(r, book.toDisplayString());
    QList<CardRef> cards;
    for (const DavResponse& d : ms.responses)
        if (!d.collection && resolve(d.href) != book)
            cards.append(CardRef{d.href, d.etag});
    return cards;
}

QList<Card> CardDavClient::fetch(const QUrl& book, const QStringList& hrefs) {
    QList<Card> cards;
    for (qsizetype start = 0; start < hrefs.size(); start += kFetchBatch) {
        QString body = QStringLiteral(R"(<?xml version="1.0" encoding="utf-8"?>
<c:addressbook-multiget xmlns:d="DAV:" xmlns:c="urn:ietf:params:xml:ns:carddav">
<d:prop><d:getetag/><c:address-data/></d:prop>)");
        for (const QString& href : hrefs.mid(start, kFetchBatch))
            body += QStringLiteral("<d:href>%1</d:href>")
                        .arg(xmlEscaped(QString::fromUtf8(QUrl(href).toEncoded())));
        body += QStringLiteral("</c:addressbook-multiget>");
        Response r = send("REPORT", book, body.toUtf8(), {{"Depth", "1"}});
        if (r.status != 207)
            fail(r, book.toDisplayString());
        MultiStatus ms = parseMultiStatus(r.body);
        if (!ms.valid)
            fail(r, book.toDisplayString());
        for (const DavResponse& d : ms.responses)
            if (d.status < 300 && !d.addressData.isEmpty())
                cards.append(Card{d.href, d.etag, d.addressData});
    }
    return cards;
}

QString CardDavClient::put(const QString& href, const QByteArray& vcard, const QString& etag) {
    QList<std::pair<QByteArray, QByteArray>> headers{{"Content-Type", "text/vcard; charset=utf-8"}};
    if (etag.isEmpty())
        headers.append(std::pair<QByteArray, QByteArray>("If-None-Match", "*"));
    else
        headers.append(std::pair<QByteArray, QByteArray>("If-Match", etag.toUtf8()));
    Response r = send("PUT", resolve(href), vcard, headers);
    if (r.status != 200 && r.status != 201 && r.status != 204)
        fail(r, href);
    return r.etag;
}

void CardDavClient::remove(const QString& href, const QString& etag) {
    QList<std::pair<QByteArray, QByteArray>> headers;
    if (!etag.isEmpty())
        headers.append(std::pair<QByteArray, QByteArray>("If-Match", etag.toUtf8()));
    Response r = send("DELETE", resolve(href), {}, headers);
    // Gone already is what was wanted.
    if (r.status == 404 || r.status == 410)
        return;
    if (r.status < 200 || r.status >= 300)
        fail(r, href);
}

} // namespace vellumo::carddav
