// The sync's decisions without a server or a table on disk: records as the
// table holds them, the sync state and what the server listed go into the
// planner, and what it would do to each side comes out.
#include "address/addressschema.h"
#include "exchange/vcardcodec.h"
#include "sync/syncplan.h"

#include <QTest>

using namespace vellumo;
using namespace vellumo::sync;

namespace {

// The address table as a link leaves it: the program's fields, "UID" after them.
px::TableInfo addressTable() {
    px::TableInfo info;
    info.codePage = 1252;
    info.keyFieldCount = 5;
    for (const address::Field& f : address::kFields) {
        const px::FieldType type = f.kind == address::Kind::Text   ? px::FieldType::Alpha
                                   : f.kind == address::Kind::Date ? px::FieldType::Date
                                   : f.kind == address::Kind::Memo ? px::FieldType::Memo
                                                                   : px::FieldType::Graphic;
        info.fields.push_back({std::string(f.name), type, f.size});
    }
    info.fields.push_back({"UID", px::FieldType::Alpha, 36});
    return info;
}

// Both sides as one run sees them, and the plan's outcome folded back in,
// as the run does after it carried the plan out.
struct Book {
    TableSnapshot table{addressTable(), {}};
    TableShape shape{addressTable()};
    QHash<QString, carddav::SyncedCard> known;
    QList<carddav::SyncConflict> conflicts;
    ServerChanges server;
    int etags = 0;

    void put(const QString& uid, const Fields& fields, std::uint32_t position = 0) {
        LocalRecord l;
        l.record.resize(table.info.fields.size());
        for (auto it = fields.cbegin(); it != fields.cend(); ++it)
            shape.set(l.record, it.key(), it.value());
        shape.set(l.record, kUidField, uid);
        l.position = position;
        l.fields = shape.fields(l.record);
        l.hash = hashOf(l.fields);
        l.pictureChanged = !known.contains(uid);
        table.records.insert(uid, l);
    }
    // The server holds card, the table the same person, as after a sync.
    void linked(const QString& uid, const QByteArray& card) {
        known.insert(uid, {uid,
                           QStringLiteral("/anna/buch/%1.vcf").arg(uid),
                           QStringLiteral("e1"),
                           card,
                           {},
                           {},
                           {}});
        put(uid, vcard::readCard(card).fields);
        known[uid].fieldsHash = table.records[uid].hash;
        table.records[uid].pictureChanged = false;
    }
    void onServer(const QString& name, const QByteArray& card) {
        server.cards.append({QStringLiteral("/anna/buch/%1.vcf").arg(name),
                             QStringLiteral("s%1").arg(++etags), card});
    }
    SyncPlan plan() {
        return planSync({table, known, conflicts, server, QStringLiteral("/anna/buch/"),
                         QDateTime(QDate(2026, 12, 9), QTime(12, 0), Qt::UTC), 200});
    }
    // Takes the plan in: the table's changes made, every upload accepted.
    void carryOut(const SyncPlan& p) {
        for (const LocalChange& c : p.localChanges) {
            if (c.kind == LocalChange::Remove) {
                table.records.remove(c.uid);
                continue;
            }
            Fields f = shape.fields(c.after);
            put(c.uid, f);
        }
        for (auto it = p.newState.cbegin(); it != p.newState.cend(); ++it)
            known.insert(it.key(), it.value());
        for (const Upload& u : p.uploads)
            known.insert(u.uid,
                         {u.uid, u.href, QStringLiteral("u%1").arg(++etags), u.card, {}, {}, {}});
        for (auto it = known.begin(); it != known.end(); ++it)
            if (table.records.contains(it.key())) {
                it->fieldsHash = table.records[it.key()].hash;
                table.records[it.key()].pictureChanged = false;
            }
        for (const QString& uid : p.forget)
            known.remove(uid);
        conflicts.clear();
        for (const auto& list : p.conflicts)
            conflicts += list;
        server = {};
    }
};

// As a phone writes it: name parts, a grouped work address with its label,
// typed phone and e-mail, two categories, a linked photo.
const QByteArray kPhoneCard = "BEGIN:VCARD\r\n"
                              "VERSION:3.0\r\n"
                              "N:Müller;Hans;Peter;Dr.;jr.\r\n"
                              "FN:Dr. Hans Peter Müller jr.\r\n"
                              "item1.ADR;TYPE=WORK:Postfach 12;c/o Firma;Hauptstr. 1;Köln;NRW;"
                              "50667;Deutschland\r\n"
                              "item1.X-ABLabel:Büro\r\n"
                              "TEL;TYPE=CELL:+49 170 1234567\r\n"
                              "EMAIL;TYPE=WORK:hans@firma.example\r\n"
                              "CATEGORIES:Familie,Freunde\r\n"
                              "PHOTO;VALUE=uri:https://bilder.example/hans.jpg\r\n"
                              "UID:hans\r\n"
                              "END:VCARD\r\n";

QByteArray card(const QString& uid, const QString& lines) {
    return (QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\n") + lines +
            QStringLiteral("UID:%1\r\nEND:VCARD\r\n").arg(uid))
        .toUtf8();
}

} // namespace

class TestSyncPlan : public QObject {
    Q_OBJECT

private slots:
    void anEditSendsOnlyItsComponent();
    void firstLinkPairsTheSamePeople();
    void everyCardGetsARecord();
    void aTruncatedListingDeletesNothing();
};

void TestSyncPlan::anEditSendsOnlyItsComponent() {
    Book book;
    book.linked(QStringLiteral("hans"), kPhoneCard);
    // A second record whose picture only moved in the .mb (compact).
    book.linked(
        QStringLiteral("grete"),
        card(QStringLiteral("grete"), QStringLiteral("N:Weiß;Grete;;;\r\nFN:Grete Weiß\r\n")));
    book.table.records[QStringLiteral("grete")].pictureRef = QStringLiteral("4096:900:1");
    book.known[QStringLiteral("grete")].pictureRef = QStringLiteral("8192:900:1");
    SyncPlan p = book.plan();
    QVERIFY(p.uploads.isEmpty() && p.localChanges.isEmpty() && p.serverDeletes.isEmpty());

    Fields edited = book.table.records[QStringLiteral("hans")].fields;
    edited.insert(QStringLiteral("Ort"), QStringLiteral("Bonn"));
    book.put(QStringLiteral("hans"), edited);
    book.table.records[QStringLiteral("hans")].pictureChanged = false;
    p = book.plan();
    QCOMPARE(p.uploads.size(), 1);
    const Upload& u = p.uploads.first();
    QCOMPARE(u.etag, QStringLiteral("e1"));
    QVERIFY(!u.sendPicture);
    QCOMPARE(u.card, QByteArray(kPhoneCard)
                         .replace(";Köln;", ";Bonn;")
                         .replace("END:VCARD", "REV:20261209T120000Z\r\nEND:VCARD"));
    QVERIFY(p.localChanges.isEmpty());

    // Once sent, the next run has nothing to do: no change, so no backup.
    book.carryOut(p);
    p = book.plan();
    QVERIFY(p.uploads.isEmpty() && p.localChanges.isEmpty());
}

void TestSyncPlan::firstLinkPairsTheSamePeople() {
    // Before the first link: the table and the phone both have Anna (the
    // same key fields) and Jürgen (another street, the same number written
    // otherwise); Zoë only the table.
    Book book;
    book.put(QStringLiteral("t-anna"), {{"Name", "Schmidt"}, {"Vorname", "Anna"}, {"Ort", "Köln"}});
    book.put(QStringLiteral("t-juergen"), {{"Name", "Müller"},
                                           {"Vorname", "Jürgen"},
                                           {"Strasse", "Hauptstraße 1"},
                                           {"Telefon1", "0221 123456"}});
    book.put(QStringLiteral("t-zoe"), {{"Name", "Öztürk"}, {"Vorname", "Zoë"}});
    for (LocalRecord& l : book.table.records)
        l.newUid = true;
    book.server.full = true;
    book.onServer(QStringLiteral("anna"),
                  card(QStringLiteral("p-anna"), QStringLiteral("N:Schmidt;Anna;;;\r\nFN:Anna "
                                                                "Schmidt\r\nADR:;;;Köln;;;\r\n")));
    book.onServer(QStringLiteral("juergen"),
                  card(QStringLiteral("p-juergen"),
                       QStringLiteral("N:Müller;Jürgen;;;\r\nFN:Jürgen Müller\r\n"
                                      "ADR:;;Bahnhofstr. 9;;;;\r\nTEL;TYPE=CELL:+49 221 123456\r\n"
                                      "NOTE:vom Telefon\r\n")));
    const SyncPlan p = book.plan();
    QCOMPARE(p.paired, 2);
    // Paired records take the phone's UID; nothing is inserted on either side
    // but Zoë's card.
    QCOMPARE(p.local.keys().size(), 3);
    QVERIFY(p.local.contains(QStringLiteral("p-anna")) &&
            p.local.contains(QStringLiteral("p-juergen")));
    QCOMPARE(p.uploads.size(), 1);
    QCOMPARE(p.uploads.first().uid, QStringLiteral("t-zoe"));
    QVERIFY(p.uploads.first().etag.isEmpty() && p.uploads.first().base.isEmpty());
    // Anna gets the phone's UID only, Zoë her new one; of Jürgen the phone's
    // note arrives, and street and number, known otherwise on each side,
    // wait for the user.
    QCOMPARE(p.localChanges.size(), 3);
    for (const LocalChange& c : p.localChanges) {
        QCOMPARE(c.kind, LocalChange::Update);
        QCOMPARE(book.shape.text(c.after, kUidField), c.uid);
    }
    QCOMPARE(p.uidOnly, (QSet<QString>{QStringLiteral("p-anna"), QStringLiteral("t-zoe")}));
    const QList<carddav::SyncConflict> open = p.conflicts.value(QStringLiteral("p-juergen"));
    QCOMPARE(open.size(), 2);
    for (const LocalChange& c : p.localChanges)
        if (c.uid == QStringLiteral("p-juergen"))
            QCOMPARE(book.shape.text(c.after, QStringLiteral("Memo1")),
                     QStringLiteral("vom Telefon"));
}

void TestSyncPlan::everyCardGetsARecord() {
    Book book;
    book.server.full = true;
    // The urn:uuid: form vCard 4.0 phones write is longer than the field.
    const QString longUid = QStringLiteral("urn:uuid:0b7a3d0e-7c1f-4c59-9a36-2f7c5d1e8a44");
    QCOMPARE(longUid.size(), 45);
    book.onServer(QStringLiteral("long"),
                  card(longUid, QStringLiteral("N:Lang;Lena;;;\r\nFN:Lena Lang\r\n")));
    // A business known only by FN and ORG.
    const QByteArray shop = card(QStringLiteral("shop"), QStringLiteral("FN:Bäckerei Schmitz\r\n"
                                                                        "ORG:Bäckerei Schmitz "
                                                                        "GmbH\r\n"));
    book.onServer(QStringLiteral("shop"), shop);
    // Two names the code page cannot hold: both become "? ??".
    book.onServer(QStringLiteral("k1"),
                  card(QStringLiteral("k1"), QStringLiteral("N:김;민준;;;\r\nFN:김민준\r\n")));
    book.onServer(QStringLiteral("k2"),
                  card(QStringLiteral("k2"), QStringLiteral("N:이;서연;;;\r\nFN:이서연\r\n")));
    SyncPlan p = book.plan();
    QCOMPARE(p.localChanges.size(), 4);
    QStringList keys;
    for (const LocalChange& c : p.localChanges) {
        QCOMPARE(c.kind, LocalChange::Insert);
        keys << book.shape.text(c.after, kUidField);
    }
    const QString longKey = recordKeyFor(book.shape, longUid);
    QCOMPARE(longKey.size(), 36);
    QVERIFY(keys.contains(longKey) && keys.contains(QStringLiteral("shop")));
    // The cut names are marked, so the table shows them cut and the server
    // keeps them whole; the run numbers the second one when its key collides.
    QCOMPARE(p.conflicts.value(QStringLiteral("k1")).size(), 2);
    QVERIFY(p.conflicts.value(QStringLiteral("k2")).first().cut);
    for (const LocalChange& c : p.localChanges) // named by FN, not by "?"
        QVERIFY(!c.label.isEmpty() && !c.label.contains(u'?'));

    // Edits here go back on the cards as the phone wrote them: the long UID,
    // the business's FN and ORG without an N made up.
    book.carryOut(p);
    for (const QString& uid : {longKey, QStringLiteral("shop")}) {
        Fields f = book.table.records[uid].fields;
        f.insert(QStringLiteral("Ort"), QStringLiteral("Bonn"));
        book.put(uid, f);
        book.table.records[uid].pictureChanged = false;
    }
    p = book.plan();
    QCOMPARE(p.uploads.size(), 2);
    for (const Upload& u : p.uploads) {
        const vcard::Card sent = vcard::readCard(u.card);
        QCOMPARE(sent.fields.value(QStringLiteral("Ort")), QStringLiteral("Bonn"));
        if (u.uid == QStringLiteral("shop")) {
            QVERIFY(u.card.startsWith(shop.left(shop.indexOf("UID:"))));
            QVERIFY(!u.card.contains("\r\nN:"));
        } else
            QCOMPARE(sent.uid, longUid);
    }
}

void TestSyncPlan::aTruncatedListingDeletesNothing() {
    Book book;
    for (const char* name : {"a", "b", "c"}) {
        const QString uid = QString::fromLatin1(name);
        book.linked(uid, card(uid, QStringLiteral("N:%1;X;;;\r\nFN:X %1\r\n").arg(uid)));
    }
    // A full listing the server cut short (507) names only one card.
    book.server.full = true;
    book.server.truncated = true;
    book.server.listed.insert(book.known[QStringLiteral("a")].href);
    SyncPlan p = book.plan();
    QVERIFY(p.localChanges.isEmpty() && p.serverDeletes.isEmpty() && p.forget.isEmpty());
    // Complete, the same listing means two cards went on the server.
    book.server.truncated = false;
    p = book.plan();
    QCOMPARE(p.localChanges.size(), 2);
    QCOMPARE(p.deletions, 2);
}

QTEST_GUILESS_MAIN(TestSyncPlan)
#include "tst_syncplan.moc"
