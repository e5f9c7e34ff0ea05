// The sync state beside a table: what one run commits is what the next one
// reads, and a file that is no sync state is refused without being touched.
#include "platform/carddav/syncstate.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace vellumo::carddav;

class TestSyncState : public QObject {
    Q_OBJECT

private slots:
    void oneRunIsReadByTheNext();
    void foreignFilesAreRefusedUntouched();
};

void TestSyncState::oneRunIsReadByTheNext() {
    QTemporaryDir dir;
    const QString path = SyncState::pathFor(dir.filePath(QStringLiteral("ADRESSEN.DB")));
    QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("ADRESSEN.sync"));
    const QUrl book(QStringLiteral("http://127.0.0.1:5232/anna/buch/"));
    const SyncedCard anna{"u-1", "/anna/buch/1.vcf", "\"e1\"", "BEGIN:VCARD\r\nFN:Änne\r\n",
                          "h1",  "4096:812:3",       "a1b2"};
    const SyncedCard bernd{"u-2", "/anna/buch/2.vcf", "\"e2\"", "BEGIN:VCARD\r\n", "h2", {}, {}};
    {
        SyncState state(path);
        QVERIFY(state.token().isEmpty() && state.cards().isEmpty() && state.book().isEmpty());
        state.commit(book, {anna, bernd}, {}, QStringLiteral("t-1"));
    }
    SyncState state(path);
    QCOMPARE(state.book(), book);
    QCOMPARE(state.token(), QStringLiteral("t-1"));
    QCOMPARE(state.cards().size(), 2);
    QCOMPARE(state.card("u-1").value(), anna);

    // The next run changes one card and loses the other; a card that took
    // over a place on the server replaces what stood there.
    SyncedCard changed = anna;
    changed.etag = "\"e3\"";
    const SyncedCard moved{"u-3", "/anna/buch/2.vcf", "\"e4\"", "BEGIN:VCARD\r\n", "h3", {}, {}};
    state.commit(book, {changed, moved}, {QStringLiteral("u-2")}, QStringLiteral("t-2"));
    QCOMPARE(state.token(), QStringLiteral("t-2"));
    QCOMPARE(state.card("u-1")->etag, QStringLiteral("\"e3\""));
    QVERIFY(!state.card("u-2"));
    QCOMPARE(state.cards().size(), 2);
}

void TestSyncState::foreignFilesAreRefusedUntouched() {
    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("NOTIZEN.sync"));
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly));
    const QByteArray content(4096, 'x');
    file.write(content);
    file.close();
    try {
        SyncState state(text);
        QFAIL("a text file was taken for a sync state");
    } catch (const SyncStateError& e) {
        QVERIFY2(QString::fromUtf8(e.what()).contains(QStringLiteral("Abgleichsstand")), e.what());
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content);

    // A state written by a newer program is not read with the old schema.
    const QString newer = dir.filePath(QStringLiteral("NEU.sync"));
    { SyncState state(newer); }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "raw");
        db.setDatabaseName(newer);
        QVERIFY(db.open());
        QSqlQuery(db).exec(QStringLiteral("PRAGMA user_version = 99"));
        db.close();
    }
    QSqlDatabase::removeDatabase("raw");
    QVERIFY_THROWS_EXCEPTION(SyncStateError, SyncState{newer});
}

QTEST_GUILESS_MAIN(TestSyncState)
#include "tst_syncstate.moc"
