// The CardDAV client against a real Radicale: discovery, conditional writes
// that never overwrite a change they have not seen, and collection sync.
#include "platform/carddav/carddav.h"
#include "radicale.h"

#include <QTest>

using namespace vellumo::carddav;

class TestCardDav : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void discoveryFindsAndCreatesBooks();
    void writesAreConditional();
    void collectionSyncListsChangesSinceAToken();
    void serverDownIsToldInGerman();
    void truncatedListingIsOnlyPart();
    void plainHttpOnlyForTheLoopback();

private:
    std::unique_ptr<vellumo::test::Radicale> server_;
    Account account() const { return {server_->url(), QStringLiteral("anna"), {}}; }
    QUrl newBook(CardDavClient& client) {
        return client.createAddressBook(QStringLiteral("Adressen & Freunde"));
    }
};

namespace {

QByteArray card(const char* uid, const char* name) {
    return QStringLiteral(
               "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%1\r\nFN:%2\r\nN:%2;;;;\r\nEND:VCARD\r\n")
        .arg(QString::fromUtf8(uid), QString::fromUtf8(name))
        .toUtf8();
}

DavError::Kind kindOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const DavError& e) {
        return e.kind();
    }
    return DavError::Kind::Protocol; // nothing raised: never what a test expects
}

} // namespace

void TestCardDav::init() {
    server_ = std::make_unique<vellumo::test::Radicale>();
    if (!server_->problem().isEmpty())
        QSKIP(qPrintable(server_->problem()));
}

void TestCardDav::cleanup() {
    server_.reset();
}

void TestCardDav::discoveryFindsAndCreatesBooks() {
    CardDavClient client(account());
    QVERIFY(client.discover().isEmpty());
    const QUrl book = newBook(client);

    CardDavClient fromServer(account());
    const QList<AddressBook> books = fromServer.discover();
    QCOMPARE(books.size(), 1);
    QCOMPARE(books[0].url, book);
    QCOMPARE(books[0].displayName, QStringLiteral("Adressen & Freunde"));

    // The book's own address needs no discovery.
    CardDavClient direct({book, QStringLiteral("anna"), {}});
    QCOMPARE(direct.discover().value(0).url, book);
}

void TestCardDav::writesAreConditional() {
    CardDavClient client(account());
    const QUrl book = newBook(client);
    const QString href = book.path() + QStringLiteral("jörg.vcf");

    const QString first = client.put(href, card("1", "Jörg Müller"), {});
    QVERIFY(!first.isEmpty());
    // A second "new" card at the same place must not replace the first, nor
    // may a write with an ETag the server no longer has.
    QCOMPARE(kindOf([&] { client.put(href, card("1", "Jemand"), {}); }),
             DavError::Kind::PreconditionFailed);
    QCOMPARE(kindOf([&] { client.put(href, card("1", "Jemand"), QStringLiteral("\"alt\"")); }),
             DavError::Kind::PreconditionFailed);
    const QString second = client.put(href, card("1", "Jörg Müller-Lüdenscheidt"), first);
    QVERIFY(!second.isEmpty() && second != first);

    const QList<Card> cards = client.fetch(book, {href, book.path() + QStringLiteral("weg.vcf")});
    QCOMPARE(cards.size(), 1);
    QCOMPARE(cards[0].etag, second);
    QVERIFY(QString::fromUtf8(cards[0].vcard).contains(QStringLiteral("Müller-Lüdenscheidt")));

    QCOMPARE(kindOf([&] { client.remove(href, first); }), DavError::Kind::PreconditionFailed);
    client.remove(href, second);
    client.remove(href, second); // gone already: nothing to do
    QVERIFY(client.listAll(book).isEmpty());
}

void TestCardDav::collectionSyncListsChangesSinceAToken() {
    CardDavClient client(account());
    const QUrl book = newBook(client);
    const QString a = book.path() + QStringLiteral("a.vcf");
    const QString b = book.path() + QStringLiteral("b.vcf");
    const QString etagA = client.put(a, card("a", "Anna"), {});
    const QString etagB = client.put(b, card("b", "Bernd"), {});

    const Changes all = client.changesSince(book, {});
    QCOMPARE(all.changed.size(), 2);
    QVERIFY(!all.token.isEmpty());

    const int before = client.requestCount();
    client.put(a, card("a", "Anna Neu"), etagA);
    client.remove(b, etagB);
    const Changes since = client.changesSince(book, all.token);
    QCOMPARE(client.requestCount() - before, 3);
    QCOMPARE(since.changed.size(), 1);
    QCOMPARE(since.changed[0].href, a);
    QCOMPARE(since.removed, QStringList{b});
    QCOMPARE(client.listAll(book).size(), 1);

    // A token the server does not know asks for a full listing.
    QCOMPARE(kindOf([&] {
                 client.changesSince(book, server_->url().toString() + QStringLiteral("sync/x"));
             }),
             DavError::Kind::InvalidSyncToken);
}

void TestCardDav::serverDownIsToldInGerman() {
    server_->stop();
    CardDavClient client(account(), 3000);
    try {
        client.discover();
        QFAIL("no error raised");
    } catch (const DavError& e) {
        QCOMPARE(e.kind(), DavError::Kind::Network);
        QVERIFY2(e.message().contains(QStringLiteral("nicht erreichbar")), qPrintable(e.message()));
    }
    server_->start();
    QVERIFY(client.discover().isEmpty());
}

// RFC 6578's 507 on the collection: what came is only part of the changes,
// so nothing may count as gone before the rest is asked for.
void TestCardDav::truncatedListingIsOnlyPart() {
    const QUrl book(QStringLiteral("http://127.0.0.1:5232/anna/buch/"));
    const QByteArray body = R"(<?xml version="1.0" encoding="utf-8"?>
<d:multistatus xmlns:d="DAV:">
<d:response><d:href>/anna/buch/1.vcf</d:href><d:propstat><d:prop><d:getetag>"e1"</d:getetag>
</d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>
<d:response><d:href>/anna/buch/2.vcf</d:href><d:status>HTTP/1.1 404 Not Found</d:status></d:response>
<d:response><d:href>/anna/buch/</d:href><d:status>HTTP/1.1 507 Insufficient Storage</d:status>
</d:response>
<d:sync-token>http://127.0.0.1:5232/sync/7</d:sync-token>
</d:multistatus>)";
    bool valid = false;
    Changes c = changesFromMultiStatus(body, book, book, &valid);
    QVERIFY(valid && c.truncated);
    QCOMPARE(c.changed.size(), 1);
    QCOMPARE(c.changed[0].etag, QStringLiteral("\"e1\""));
    QCOMPARE(c.removed, QStringList{QStringLiteral("/anna/buch/2.vcf")});
    QCOMPARE(c.token, QStringLiteral("http://127.0.0.1:5232/sync/7"));
    QVERIFY(!changesFromMultiStatus(QByteArray(body).replace("507 Insufficient Storage", "200 OK"),
                                    book, book)
                 .truncated);
}

// The password never travels in clear text unasked: a bare host means https,
// http is for the loopback or after the warning, a redirect to http is
// refused.
void TestCardDav::plainHttpOnlyForTheLoopback() {
    QCOMPARE(serverUrlFromUserInput(QStringLiteral(" cloud.example.org/remote.php/dav ")),
             QUrl(QStringLiteral("https://cloud.example.org/remote.php/dav")));
    QCOMPARE(serverUrlFromUserInput(QStringLiteral("http://192.168.1.5:5232/")).scheme(),
             QStringLiteral("http"));
    QVERIFY(needsPlainHttpConsent(QUrl(QStringLiteral("http://192.168.1.5:5232/"))));
    for (const char* near : {"http://127.0.0.1:5232/", "http://localhost/", "http://[::1]:5232/",
                             "https://cloud.example.org/"})
        QVERIFY2(!needsPlainHttpConsent(QUrl(QString::fromLatin1(near))), near);
    QVERIFY(plainHttpWarning(QUrl(QStringLiteral("http://nas.fritz.box/")))
                .contains(QStringLiteral("Klartext")));
    const QUrl secure(QStringLiteral("https://cloud.example.org/dav/"));
    QVERIFY(!redirectAllowed(secure, QUrl(QStringLiteral("http://cloud.example.org/dav/"))));
    QVERIFY(!redirectAllowed(secure, QUrl(QStringLiteral("https://other.example.org/dav/"))));
    QVERIFY(redirectAllowed(secure, QUrl(QStringLiteral("https://cloud.example.org/remote/"))));
    // Refused before anything is sent.
    CardDavClient client({QUrl(QStringLiteral("http://192.0.2.7/dav/")), QStringLiteral("anna"),
                          QStringLiteral("geheim")});
    QCOMPARE(kindOf([&] { client.discover(); }), DavError::Kind::Protocol);
    QCOMPARE(client.requestCount(), 0);
}

QTEST_GUILESS_MAIN(TestCardDav)
#include "tst_carddav.moc"
