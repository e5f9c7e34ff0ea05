// Linking and unlinking against a real Radicale: a link that fails after its
// book was made leaves no book behind and a retry no second one; a table
// beside another tool's validity checks is refused untouched; unlinking
// keeps every record and UID and the book, and linking again pairs by UID,
// without a duplicate on either side. The labels of the book list tell
// books of one name apart without a server.
#include "addresstables.h"
#include "platform/carddav/carddav.h"
#include "platform/carddav/syncstate.h"
#include "platform/paradox/table.h"
#include "radicale.h"
#include "sync/link.h"
#include "sync/tablesync.h"

#include <QDir>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace vellumo;

namespace {

using Tool = test::ToolRun;

Tool tool(const QStringList& args) {
    return test::runTableTool(QStringLiteral(VELLUMO_TABLE_TOOL), args);
}

// Name → UID of every record.
QMap<QString, QString> uids(const QString& path) {
    auto t = px::Table::open(path.toStdString(), px::Access::Read);
    const int uid = t->fieldIndex("UID");
    auto text = [](const px::Value& v) {
        const auto* s = std::get_if<std::string>(&v);
        return s ? QString::fromStdString(*s) : QString();
    };
    QMap<QString, QString> all;
    for (std::uint32_t i = 0; i < t->recordCount(); ++i) {
        const px::Record r = t->read(i, px::Blobs::Refer);
        all.insert(text(r[0]), uid < 0 ? QString() : text(r[static_cast<std::size_t>(uid)]));
    }
    return all;
}

QStringList bookNames(carddav::CardDavClient& client) {
    QStringList names;
    for (const carddav::AddressBook& b : client.discover())
        names << b.displayName;
    names.sort();
    return names;
}

} // namespace

class TestLink : public QObject {
    Q_OBJECT

private slots:
    void labelsTellBooksApart();
    void failedLinkLeavesNoSecondBook();
    void anotherToolsFilesAreKept();
    void unlinkAndLinkAgain();
    void aCalendarIsNoBook();
};

void TestLink::labelsTellBooksApart() {
    QList<sync::BookChoice> books{
        {QUrl(QStringLiteral("http://h/anna/familie/")), QStringLiteral("Familie"), 1, false, {}},
        {QUrl(QStringLiteral("http://h/anna/a1/")), QStringLiteral("Vellumo"), 0, false, {}},
        {QUrl(QStringLiteral("http://h/anna/b2/")), QStringLiteral("Vellumo"), 12, true, {}},
        {QUrl(QStringLiteral("http://h/anna/ohne/")), QString(), -1, false, {}}};
    sync::labelBooks(books);
    QCOMPARE(books[0].label, QStringLiteral("Familie (1 Adresse)"));
    QCOMPARE(books[1].label, QStringLiteral("Vellumo (0 Adressen, a1)"));
    QCOMPARE(books[2].label,
             QStringLiteral("Vellumo (12 Adressen, b2) – enthält die Adressen dieser Tabelle"));
    QCOMPARE(books[3].label, QStringLiteral("/anna/ohne/"));
}

void TestLink::failedLinkLeavesNoSecondBook() {
    test::Radicale server;
    if (!server.problem().isEmpty())
        QSKIP(qPrintable(server.problem()));
    QTemporaryDir dir;
    const QString table = dir.filePath(QStringLiteral("ADRESSEN.DB"));
    testsupport::makeAddressTable(table, {{{"Name", "Ahrens"}}});
    carddav::CardDavClient client({server.url(), QStringLiteral("anna"), {}});
    // The sync state cannot be written: the book made for the link goes again.
    QVERIFY(QDir().mkpath(carddav::SyncState::pathFor(table)));
    QVERIFY_THROWS_EXCEPTION(
        sync::SyncError, sync::linkToBook(table, client, {}, QStringLiteral("Vellumo"),
                                          QStringLiteral("anna"), QDateTime::currentDateTime()));
    QCOMPARE(bookNames(client), QStringList());
    QVERIFY(uids(table).contains(QStringLiteral("Ahrens"))); // the field stays, harmless

    // An empty book of the name, as a removal that failed would leave it, is taken.
    client.createAddressBook(QStringLiteral("Vellumo"));
    QVERIFY(QDir().rmdir(carddav::SyncState::pathFor(table)));
    const sync::LinkOutcome done =
        sync::linkToBook(table, client, {}, QStringLiteral("Vellumo"), QStringLiteral("anna"),
                         QDateTime::currentDateTime());
    QVERIFY(done.reused && !done.made);
    QVERIFY(done.backup.isEmpty());
    QCOMPARE(done.book.userName(), QStringLiteral("anna"));
    QCOMPARE(sync::linkedBook(table), done.book);
    QCOMPARE(bookNames(client), QStringList{QStringLiteral("Vellumo")});
}

void TestLink::anotherToolsFilesAreKept() {
    QTemporaryDir dir;
    const QString table = dir.filePath(QStringLiteral("ADRESSEN.DB"));
    testsupport::makeAddressTable(table, {{{"Name", "Ahrens"}}});
    QFile checks(dir.filePath(QStringLiteral("ADRESSEN.VAL")));
    QVERIFY(checks.open(QIODevice::WriteOnly) && checks.write("checks") == 6);
    checks.close();
    const QStringList before = QDir(dir.path()).entryList(QDir::Files);
    try {
        sync::prepareTable(table, QDateTime::currentDateTime());
        QFAIL("linked beside another tool's validity checks");
    } catch (const sync::SyncError& e) {
        QVERIFY2(e.text().contains(QStringLiteral("ADRESSEN.VAL")) &&
                     e.text().contains(QStringLiteral("Sie bleibt unverändert")),
                 qPrintable(e.text()));
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), before); // no backup either
    QCOMPARE(uids(table).value(QStringLiteral("Ahrens")), QString());
}

void TestLink::unlinkAndLinkAgain() {
    test::Radicale server;
    if (!server.problem().isEmpty())
        QSKIP(qPrintable(server.problem()));
    QTemporaryDir dir;
    const QString table = dir.filePath(QStringLiteral("ADRESSEN.DB"));
    testsupport::makeAddressTable(table, {{{"Name", "Ahrens"}}, {{"Name", "Böhm"}}});
    carddav::CardDavClient client({server.url(), QStringLiteral("anna"), {}});
    const QUrl book = client.createAddressBook(QStringLiteral("Familie"));
    const QStringList link{QStringLiteral("sync"),   QStringLiteral("--link"), book.toString(),
                           QStringLiteral("--user"), QStringLiteral("anna"),   table};
    Tool r = tool(link);
    QVERIFY2(r.status == 0 && r.out.contains(QStringLiteral("Server: 2 neu")), qPrintable(r.out));
    const QMap<QString, QString> linked = uids(table);

    r = tool({QStringLiteral("sync"), QStringLiteral("--unlink"), table});
    QVERIFY2(r.status == 0 && r.out.contains(QStringLiteral("nicht mehr mit")) &&
                 r.out.contains(QStringLiteral("unverändert")),
             qPrintable(r.out));
    QVERIFY(!QFileInfo::exists(carddav::SyncState::pathFor(table)));
    QCOMPARE(uids(table), linked);
    QCOMPARE(client.listAll(book).size(), 2);
    QVERIFY(sync::linkedBook(table).isEmpty());
    r = tool({QStringLiteral("sync"), table});
    QVERIFY2(r.status == 2 && r.out.contains(QStringLiteral("mit keinem Adressbuch")),
             qPrintable(r.out));
    r = tool({QStringLiteral("sync"), QStringLiteral("--unlink"), table});
    QVERIFY2(r.status == 0 && r.out.contains(QStringLiteral("mit keinem Adressbuch")),
             qPrintable(r.out));

    // Linked again, the cards are found by their UIDs.
    r = tool(link);
    QVERIFY2(r.status == 0, qPrintable(r.out));
    QCOMPARE(uids(table), linked);
    QCOMPARE(client.listAll(book).size(), 2);
    r = tool({QStringLiteral("sync"), table});
    QVERIFY2(r.status == 0 && r.out.contains(QStringLiteral("Hier: 0 neu")) &&
                 r.out.contains(QStringLiteral("Server: 0 neu")),
             qPrintable(r.out));
}

// The address of a calendar given to --link is refused, in German, with the
// table untouched, rather than swapped for the account's book.
void TestLink::aCalendarIsNoBook() {
    test::Radicale server;
    if (!server.problem().isEmpty())
        QSKIP(qPrintable(server.problem()));
    QTemporaryDir dir;
    const QString table = dir.filePath(QStringLiteral("ADRESSEN.DB"));
    testsupport::makeAddressTable(table, {{{"Name", "Ahrens"}}});
    carddav::CardDavClient client({server.url(), QStringLiteral("anna"), {}});
    client.createAddressBook(QStringLiteral("Familie"));
    const QUrl calendar = server.url().resolved(QStringLiteral("/anna/kalender/"));
    QNetworkAccessManager network;
    QNetworkRequest request(calendar);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/xml"));
    QNetworkReply* made = network.sendCustomRequest(
        request, "MKCOL",
        R"(<?xml version="1.0"?><d:mkcol xmlns:d="DAV:" xmlns:c="urn:ietf:params:xml:ns:caldav">)"
        R"(<d:set><d:prop><d:resourcetype><d:collection/><c:calendar/></d:resourcetype>)"
        R"(</d:prop></d:set></d:mkcol>)");
    QEventLoop wait;
    connect(made, &QNetworkReply::finished, &wait, &QEventLoop::quit);
    wait.exec();
    QCOMPARE(made->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 201);
    made->deleteLater();

    const Tool r = tool({QStringLiteral("sync"), QStringLiteral("--link"), calendar.toString(),
                         QStringLiteral("--user"), QStringLiteral("anna"), table});
    QVERIFY2(r.status == 2 && r.out.contains(QStringLiteral("liegt kein Adressbuch, sondern ein "
                                                            "Kalender")),
             qPrintable(r.out));
    QVERIFY(!QFileInfo::exists(carddav::SyncState::pathFor(table)));
    QCOMPARE(uids(table), (QMap<QString, QString>{{QStringLiteral("Ahrens"), QString()}}));
}

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
