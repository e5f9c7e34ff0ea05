// A merge in a table linked to a CardDAV book (a real Radicale on the
// loopback, synced through the tool): the next sync changes the kept card
// and deletes the other, without a conflict, and the one after has nothing
// left to do.
#include "addresstables.h"
#include "duplicates/merge.h"
#include "platform/carddav/carddav.h"
#include "platform/database/recordstore.h"
#include "radicale.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace vellumo;

namespace {

using Tool = test::ToolRun;

Tool tool(const QStringList& args) {
    return test::runTableTool(QStringLiteral(VELLUMO_TABLE_TOOL), args);
}

} // namespace

class tst_MergeSync : public QObject {
    Q_OBJECT

private slots:
    void theServerGetsOneChangeAndOneDeletion() {
        test::Radicale server;
        if (!server.problem().isEmpty())
            QSKIP(qPrintable(server.problem()));
        QTemporaryDir dir;
        const QString table = dir.filePath(QStringLiteral("ADRESSEN.DB"));
        carddav::CardDavClient client({server.url(), QStringLiteral("anna"), {}});
        const QUrl book = client.createAddressBook(QStringLiteral("Adressen"));
        testsupport::makeAddressTable(table, {{{"Name", "Müller"},
                                               {"Vorname", "Jürgen"},
                                               {"Ort", "Köln"},
                                               {"Telefon1", "0221 111111"},
                                               {"Erstellt", QDate(2015, 6, 1)}},
                                              {{"Name", "Mueller"},
                                               {"Vorname", "Juergen"},
                                               {"Ort", "Köln"},
                                               {"Telefon1", "0170 222222"},
                                               {"Erstellt", QDate(2020, 1, 1)}},
                                              {{"Name", "Zeh"}, {"Vorname", "Eva"}}});
        Tool r = tool({"sync", "--link", book.toString(), "--user", "anna", table});
        QVERIFY2(r.status == 0 && r.out.contains("Server: 3 neu"), qPrintable(r.out));

        {
            vellumo::RecordStore store;
            store.BindTable(table);
            store.OpenTable();
            // Key order: "Mueller" before "Müller".
            const duplicates::MergePlan plan = duplicates::planMerge(store, 0, 1);
            QCOMPARE(plan.keep, 1); // both known to the sync: the older stays
            duplicates::mergeRecords(store, plan, QDate(2024, 2, 29));
            QCOMPARE(store.storedCount(), 2);
            store.CloseTable();
        }
        r = tool({"sync", table});
        QVERIFY2(r.status == 0 &&
                     r.out.contains("Hier: 0 neu, 0 geändert, 0 gelöscht.\n"
                                    "Server: 0 neu, 1 geändert, 1 gelöscht.") &&
                     r.out.contains("Konflikte: 0."),
                 qPrintable(r.out));
        QStringList hrefs;
        for (const carddav::CardRef& ref : client.listAll(book))
            hrefs << ref.href;
        const QList<carddav::Card> cards = client.fetch(book, hrefs);
        QCOMPARE(cards.size(), 2);
        QString merged;
        for (const carddav::Card& c : cards)
            if (c.vcard.contains("Jürgen"))
                merged = QString::fromUtf8(c.vcard);
        QVERIFY2(merged.contains("N:Müller;Jürgen") && merged.contains("0221 111111") &&
                     merged.contains("Telefon 1 (alt): 0170 222222"),
                 qPrintable(merged));
        r = tool({"sync", table});
        QVERIFY2(r.status == 0 && r.out.contains("Hier: 0 neu, 0 geändert, 0 gelöscht.\n"
                                                 "Server: 0 neu, 0 geändert, 0 gelöscht."),
                 qPrintable(r.out));
    }
};

QTEST_GUILESS_MAIN(tst_MergeSync)
#include "tst_mergesync.moc"
