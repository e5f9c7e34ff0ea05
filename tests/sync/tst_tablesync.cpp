// Two tables, A and B, linked to one book on a real Radicale and synced
// through vellumo-table as a script would: what one side does arrives on the
// other, nothing another client put on a card is lost, a field both sides
// changed waits for the user, and no failure (a crash, a server that is down
// or was emptied, a forgotten token) costs a record or duplicates a card.
#include "addresstables.h"
#include "exchange/vcardcodec.h"
#include "platform/carddav/carddav.h"
#include "platform/carddav/syncstate.h"
#include "platform/database/recordstore.h"
#include "platform/paradox/table.h"
#include "platform/pictures/graphicfield.h"
#include "radicale.h"
#include "sync/cardfields.h"
#include "sync/tablesync.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace vellumo;

namespace {

using Tool = test::ToolRun;

Tool tool(const QStringList& args) {
    return test::runTableTool(QStringLiteral(VELLUMO_TABLE_TOOL), args);
}

QImage picture() {
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.fillRect(5, 5, 20, 10, QColor(200, 30, 60));
    painter.fillRect(22, 12, 15, 15, QColor(20, 160, 90));
    return image;
}

// Every record as field → text (pictures as their pixels' key), by name.
using Rows = QMap<QString, QMap<QString, QString>>;
Rows rows(const QString& path) {
    auto t = px::Table::open(path.toStdString(), px::Access::Read);
    Rows all;
    const auto& fields = t->info().fields;
    for (std::uint32_t i = 0; i < t->recordCount(); ++i) {
        const px::Record r = t->read(i);
        QMap<QString, QString> row;
        for (std::size_t f = 0; f < fields.size(); ++f) {
            const QString name = QString::fromStdString(fields[f].name);
            if (const auto* s = std::get_if<std::string>(&r[f]))
                row.insert(name, QString::fromStdString(*s));
            else if (const auto* d = std::get_if<px::Date>(&r[f]))
                row.insert(name, QString::number(d->day));
            else if (const auto* b = std::get_if<px::Bytes>(&r[f]))
                row.insert(name,
                           sync::pictureKey(pictures::imageFromGraphicField(QByteArray(
                               reinterpret_cast<const char*>(b->data()), qsizetype(b->size())))));
        }
        all.insert(row.value(QStringLiteral("Name")), row);
    }
    return all;
}

// Changes one field of the record with that name, as another program would.
void edit(const QString& path, const QString& name, const QString& field, const QString& value) {
    auto t = px::Table::open(path.toStdString(), px::Access::Write);
    const int f = t->fieldIndex(field.toStdString());
    for (std::uint32_t i = 0; i < t->recordCount(); ++i) {
        px::Record r = t->read(i, px::Blobs::Refer);
        if (std::get<std::string>(r[0]) == name.toStdString()) {
            r[static_cast<std::size_t>(f)] = value.toStdString();
            t->update(i, r);
            return;
        }
    }
    QFAIL("no such record");
}

void removeRecord(const QString& path, const QString& name) {
    auto t = px::Table::open(path.toStdString(), px::Access::Write);
    for (std::uint32_t i = 0; i < t->recordCount(); ++i)
        if (std::get<std::string>(t->read(i, px::Blobs::Refer)[0]) == name.toStdString())
            return t->remove(i);
    QFAIL("no such record");
}

QList<QVariantMap> threeAddresses() {
    const QByteArray bmp = pictures::graphicFieldFromImage(picture(), nullptr);
    const QDate made(2019, 3, 4);
    return {{{"Name", "Müller"},
             {"Vorname", "Jürgen"},
             {"Strasse", "Hauptstraße 1"},
             {"PLZ", "80331"},
             {"Ort", "München"},
             {"KontoNr", "1234567890"},
             {"BLZ", "70010080"},
             {"Institut", "Postbank München"},
             {"Grafik", bmp},
             {"Erstellt", made}},
            {{"Name", "Öztürk"},
             {"Vorname", "Zoë"},
             {"Ort", "Köln"},
             {"Email", "a@example.org"},
             {"Erstellt", made}},
            {{"Name", "Weiß"},
             {"Vorname", "Grete"},
             {"Telefon1", "0221 123"},
             {"Memo1", "Nachbarin,\nbringt Kuchen; mag Tee"},
             {"Erstellt", made}}};
}

} // namespace

class TestTableSync : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void bothTablesMeetThroughTheBook();
    void nothingOfTheServerIsLost();
    void failuresLoseNothing();
    void oneRefusedCardLetsTheOthersArrive();
    void everyPhoneCardGetsARecord();
    void theSamePeopleOnBothSidesPairAtTheFirstLink();
    void aBackupOnlyWhenTheTableChanges();
    void aPhonesPhotoIsStoredAtThePictureSize();
    void undoOfASyncIsSentBack();
    void vdirsyncerAsThePhone();

private:
    Tool sync(const QString& table) { return tool({QStringLiteral("sync"), table}); }
    // A and B with the three addresses in A, both linked and synced once.
    void linkBoth();
    QList<carddav::Card> cards() {
        carddav::CardDavClient client({book_, {}, {}});
        QStringList hrefs;
        for (const carddav::CardRef& ref : client.listAll(book_))
            hrefs << ref.href;
        return client.fetch(book_, hrefs);
    }
    QString cardOf(const QString& name) {
        for (const carddav::Card& c : cards())
            if (QString::fromUtf8(c.vcard).contains(u'\n' + QStringLiteral("N:") + name))
                return QString::fromUtf8(c.vcard);
        return {};
    }

    std::unique_ptr<test::Radicale> server_;
    QTemporaryDir dir_;
    QString a_, b_;
    QUrl book_;
};

void TestTableSync::init() {
    server_ = std::make_unique<test::Radicale>();
    if (!server_->problem().isEmpty())
        QSKIP(qPrintable(server_->problem()));
    QVERIFY(dir_.isValid());
    static int run = 0;
    ++run;
    a_ = dir_.filePath(QStringLiteral("A%1/ADRESSEN.DB").arg(run));
    b_ = dir_.filePath(QStringLiteral("B%1/ADRESSEN.DB").arg(run));
    QDir().mkpath(QFileInfo(a_).path());
    QDir().mkpath(QFileInfo(b_).path());
    carddav::CardDavClient client({server_->url(), QStringLiteral("anna"), {}});
    book_ = client.createAddressBook(QStringLiteral("Adressen"));
}

void TestTableSync::cleanup() {
    server_.reset();
}

void TestTableSync::linkBoth() {
    testsupport::makeAddressTable(a_, threeAddresses());
    testsupport::makeAddressTable(b_);
    const QStringList link{QStringLiteral("sync"), QStringLiteral("--link"), book_.toString(),
                           QStringLiteral("--user"), QStringLiteral("anna")};
    Tool r = tool(link + QStringList{a_});
    QVERIFY2(r.status == 0, qPrintable(r.out));
    QVERIFY2(r.out.contains(QStringLiteral("Server: 3 neu")), qPrintable(r.out));
    QVERIFY2(r.out.contains(QStringLiteral("Sicherung")), qPrintable(r.out));
    r = tool(link + QStringList{b_});
    QVERIFY2(r.status == 0 && r.out.contains(QStringLiteral("Hier: 3 neu")), qPrintable(r.out));
}

void TestTableSync::bothTablesMeetThroughTheBook() {
    linkBoth();
    // B equals A field by field (the UIDs too), the picture pixel for pixel.
    Rows a = rows(a_), b = rows(b_);
    QCOMPARE(b.keys(), a.keys());
    for (const QString& name : a.keys()) {
        a[name].remove(QStringLiteral("Aenderung"));
        b[name].remove(QStringLiteral("Aenderung"));
        QCOMPARE(b[name], a[name]);
    }
    QVERIFY(!a[QStringLiteral("Müller")].value(QStringLiteral("Grafik")).isEmpty());
    QCOMPARE(a[QStringLiteral("Müller")].value(QStringLiteral("UID")).size(), 36);
    const QList<carddav::Card> onServer = cards();
    QCOMPARE(onServer.size(), 3);
    for (const carddav::Card& c : onServer)
        QVERIFY(c.vcard.contains("VERSION:3.0"));
    QVERIFY(cardOf(QStringLiteral("Müller")).contains(QStringLiteral("PHOTO;ENCODING=b")));

    // Different fields on both sides: merged, no conflict.
    edit(a_, QStringLiteral("Weiß"), QStringLiteral("Telefon1"), QStringLiteral("0221 999"));
    edit(b_, QStringLiteral("Weiß"), QStringLiteral("Email"), QStringLiteral("grete@example.org"));
    QCOMPARE(sync(a_).status, 0);
    Tool r = sync(b_);
    QVERIFY2(r.status == 0, qPrintable(r.out));
    QCOMPARE(sync(a_).status, 0);
    for (const QString& path : {a_, b_}) {
        const auto w = rows(path)[QStringLiteral("Weiß")];
        QCOMPARE(w[QStringLiteral("Telefon1")], QStringLiteral("0221 999"));
        QCOMPARE(w[QStringLiteral("Email")], QStringLiteral("grete@example.org"));
    }

    // The same field on both: one conflict on the side that syncs second,
    // its own value kept; taking the server's settles it on both sides.
    edit(a_, QStringLiteral("Öztürk"), QStringLiteral("Ort"), QStringLiteral("Bonn"));
    edit(b_, QStringLiteral("Öztürk"), QStringLiteral("Ort"), QStringLiteral("Essen"));
    QCOMPARE(sync(a_).status, 0);
    r = sync(b_);
    QVERIFY2(r.status == 1 && r.out.contains(QStringLiteral("Konflikte: 1")) &&
                 r.out.contains(QStringLiteral(
                     "Konflikt: Zoë Öztürk, Feld Ort: hier „Essen“, auf dem Server „Bonn“.")),
             qPrintable(r.out));
    const QList<carddav::SyncConflict> open = sync::openConflicts(b_);
    QCOMPARE(open.size(), 1);
    QCOMPARE(open[0].field, QStringLiteral("Ort"));
    QCOMPARE(open[0].local, QStringLiteral("Essen"));
    QCOMPARE(open[0].server, QStringLiteral("Bonn"));
    QCOMPARE(rows(b_)[QStringLiteral("Öztürk")][QStringLiteral("Ort")], QStringLiteral("Essen"));
    QVERIFY(cardOf(QStringLiteral("Öztürk")).contains(QStringLiteral("Bonn")));
    sync::resolveConflict(b_, open[0], true);
    QCOMPARE(sync(b_).status, 0);
    QCOMPARE(sync(a_).status, 0);
    QVERIFY(sync::openConflicts(b_).isEmpty());
    for (const QString& path : {a_, b_})
        QCOMPARE(rows(path)[QStringLiteral("Öztürk")][QStringLiteral("Ort")],
                 QStringLiteral("Bonn"));

    // Deleted on one side, changed on the other: the change wins everywhere.
    removeRecord(a_, QStringLiteral("Müller"));
    edit(b_, QStringLiteral("Müller"), QStringLiteral("Ort"), QStringLiteral("Augsburg"));
    QCOMPARE(sync(b_).status, 0);
    r = sync(a_);
    QVERIFY2(r.status == 0, qPrintable(r.out));
    QCOMPARE(rows(a_)[QStringLiteral("Müller")][QStringLiteral("Ort")], QStringLiteral("Augsburg"));
    QCOMPARE(cards().size(), 3);
}

void TestTableSync::nothingOfTheServerIsLost() {
    linkBoth();
    // Another client adds a second e-mail address, a second phone and a note.
    carddav::CardDavClient other({book_, {}, {}});
    carddav::Card card;
    for (const carddav::Card& c : cards())
        if (c.vcard.contains("N:Öztürk"))
            card = c;
    QByteArray changed = card.vcard;
    changed.replace("END:VCARD", "EMAIL;TYPE=WORK:ayse@firma.example\r\nTEL;TYPE=CELL:0170 1\r\n"
                                 "TEL;TYPE=CELL:0170 2\r\nTEL;TYPE=CELL:0170 3\r\n"
                                 "NOTE:Vom Telefon\r\nX-ANDERES:bleibt\r\nEND:VCARD");
    other.put(card.href, changed, card.etag);
    QCOMPARE(sync(a_).status, 0);
    edit(a_, QStringLiteral("Öztürk"), QStringLiteral("Ort"), QStringLiteral("Düren"));
    Tool r = sync(a_);
    QVERIFY2(r.status == 0, qPrintable(r.out));
    const QString after = cardOf(QStringLiteral("Öztürk"));
    for (const char* kept :
         {"ayse@firma.example", "0170 3", "X-ANDERES:bleibt", "Düren", "Vom Telefon"})
        QVERIFY2(after.contains(QString::fromUtf8(kept)), kept);
    QCOMPARE(rows(a_)[QStringLiteral("Öztürk")][QStringLiteral("Memo1")],
             QStringLiteral("Vom Telefon"));

    // A phone's card: after one edit of "Ort" here only the locality and REV
    // differ; after compact, which moves every picture, nothing is sent.
    const QByteArray phone =
        "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//Apple Inc.//iPhone OS 17.1//EN\r\n"
        "N:Schulze;Hans;Peter;Dr.;jr.\r\nFN:Dr. Hans Peter Schulze jr.\r\n"
        "item1.ADR;TYPE=WORK;TYPE=pref:Postfach 12;c/o Firma;Hauptstr. 1;Köln;NRW;50667;"
        "Deutschland\r\nitem1.X-ABLabel:Büro\r\nTEL;TYPE=CELL:+49 170 1234567\r\n"
        "EMAIL;TYPE=WORK:hans@firma.example\r\nCATEGORIES:Familie,Freunde\r\n"
        "PHOTO;VALUE=uri:https://bilder.example/hans.jpg\r\nUID:phone-1\r\nEND:VCARD\r\n";
    other.put(book_.path() + QStringLiteral("phone-1.vcf"), phone, {});
    QCOMPARE(sync(a_).status, 0);
    QCOMPARE(rows(a_)[QStringLiteral("Schulze")][QStringLiteral("Rubrik")],
             QStringLiteral("Familie, Freunde"));
    // The server writes cards its own way (order, folding); compared unfolded,
    // without the lines that say when and by whom.
    auto plain = [](QString text) {
        text.remove(QStringLiteral("\r")).remove(QStringLiteral("\n "));
        text.remove(QRegularExpression(QStringLiteral("(REV|X-VELLUMO-ERSTELLT):[^\n]*\n")));
        return text;
    };
    const QString before = plain(cardOf(QStringLiteral("Schulze")));
    QVERIFY2(before.contains(QStringLiteral("Postfach 12;c/o Firma;Hauptstr. 1;Köln;NRW")),
             qPrintable(before));
    edit(a_, QStringLiteral("Schulze"), QStringLiteral("Ort"), QStringLiteral("Bonn"));
    QCOMPARE(sync(a_).status, 0);
    const QString sent = cardOf(QStringLiteral("Schulze"));
    QVERIFY2(sent.contains(QStringLiteral("\nREV:")), qPrintable(sent));
    QCOMPARE(plain(sent),
             QString(before).replace(QStringLiteral(";Köln;"), QStringLiteral(";Bonn;")));
    QCOMPARE(tool({QStringLiteral("compact"), a_}).status, 0);
    r = sync(a_);
    QVERIFY2(r.status == 0 && r.out.contains(QStringLiteral("Server: 0 neu, 0 geändert")),
             qPrintable(r.out));

    // A town longer than the field: shown cut and marked, the server's card
    // stays as it is, byte for byte.
    card = {};
    for (const carddav::Card& c : cards())
        if (c.vcard.contains("N:Weiß"))
            card = c;
    const QString longTown = QStringLiteral("Sankt Johann im Walde bei Hintertupfingen");
    QByteArray longer = card.vcard;
    const qsizetype adr = longer.indexOf("ADR");
    if (adr >= 0)
        longer.remove(adr, longer.indexOf('\n', adr) - adr + 1);
    longer.replace("END:VCARD", "ADR:;;Am Weg 2;" + longTown.toUtf8() + ";;1234567;\r\nEND:VCARD");
    other.put(card.href, longer, card.etag);
    r = sync(a_);
    QVERIFY2(r.status == 0 && r.out.contains(QStringLiteral("Gekürzt angezeigt: 2")),
             qPrintable(r.out));
    const auto w = rows(a_)[QStringLiteral("Weiß")];
    QCOMPARE(w[QStringLiteral("Ort")], longTown.left(30));
    QCOMPARE(w[QStringLiteral("PLZ")], QStringLiteral("12345"));
    const QString onServer = cardOf(QStringLiteral("Weiß"));
    edit(a_, QStringLiteral("Weiß"), QStringLiteral("Telefon1"), QStringLiteral("0221 555"));
    QCOMPARE(sync(a_).status, 0);
    const QString edited = cardOf(QStringLiteral("Weiß"));
    QVERIFY(edited.contains(longTown) && edited.contains(QStringLiteral("1234567")));
    QVERIFY(edited.contains(QStringLiteral("0221 555")));
    QVERIFY(!onServer.isEmpty());
    QCOMPARE(sync(a_).status, 0);
    QCOMPARE(cardOf(QStringLiteral("Weiß")), edited);
}

void TestTableSync::failuresLoseNothing() {
    linkBoth();
    // Killed right after its first card reached the server: run again, no
    // duplicate, and the table is sound.
    edit(a_, QStringLiteral("Weiß"), QStringLiteral("Ort"), QStringLiteral("Kassel"));
    edit(a_, QStringLiteral("Öztürk"), QStringLiteral("Ort"), QStringLiteral("Kiel"));
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VELLUMO_SYNC_PASSWORD"), QString());
        env.insert(QStringLiteral("VELLUMO_SYNC_CRASH_AFTER_UPLOADS"), QStringLiteral("1"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VELLUMO_TABLE_TOOL), {QStringLiteral("sync"), a_});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
    }
    QCOMPARE(sync(a_).status, 0);
    QCOMPARE(sync(b_).status, 0);
    QCOMPARE(cards().size(), 3);
    QCOMPARE(rows(b_)[QStringLiteral("Weiß")][QStringLiteral("Ort")], QStringLiteral("Kassel"));
    QCOMPARE(rows(b_)[QStringLiteral("Öztürk")][QStringLiteral("Ort")], QStringLiteral("Kiel"));
    QCOMPARE(tool({QStringLiteral("check"), a_}).status, 0);

    // Server down: a German message, the table as it was; the change comes later.
    edit(b_, QStringLiteral("Weiß"), QStringLiteral("Ort"), QStringLiteral("Kempten"));
    const Rows before = rows(b_);
    server_->stop();
    Tool r = sync(b_);
    QVERIFY2(r.status == 2 && r.out.contains(QStringLiteral("nicht erreichbar")),
             qPrintable(r.out));
    QCOMPARE(rows(b_), before);
    server_->start();
    QCOMPARE(sync(b_).status, 0);
    QCOMPARE(sync(a_).status, 0);
    QCOMPARE(rows(a_)[QStringLiteral("Weiß")][QStringLiteral("Ort")], QStringLiteral("Kempten"));

    // A token the server no longer knows: a full listing, and nothing changes.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "t");
        db.setDatabaseName(carddav::SyncState::pathFor(a_));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("UPDATE meta SET value = 'http://x/sync/kaputt' "
                                      "WHERE key = 'token'")));
    }
    QSqlDatabase::removeDatabase("t");
    const Rows tableBefore = rows(a_);
    r = sync(a_);
    QVERIFY2(r.status == 0 &&
                 r.out.contains(QStringLiteral("Hier: 0 neu, 0 geändert, 0 gelöscht")) &&
                 r.out.contains(QStringLiteral("Server: 0 neu, 0 geändert, 0 gelöscht")),
             qPrintable(r.out));
    QCOMPARE(rows(a_), tableBefore);

    // The book emptied on the server: the sync refuses to follow.
    carddav::CardDavClient client({book_, {}, {}});
    for (const carddav::CardRef& ref : client.listAll(book_))
        client.remove(ref.href, ref.etag);
    r = sync(a_);
    QVERIFY2(r.status == 2 && r.out.contains(QStringLiteral("leer")), qPrintable(r.out));
    QCOMPARE(rows(a_), tableBefore);

    // A table never linked is refused, and gains no file beside it.
    const QString lone = dir_.filePath(QStringLiteral("ALLEIN.DB"));
    testsupport::makeAddressTable(lone);
    QCOMPARE(sync(lone).status, 2);
    QVERIFY(!QFileInfo::exists(carddav::SyncState::pathFor(lone)));
}

void TestTableSync::oneRefusedCardLetsTheOthersArrive() {
    // A server that takes no request larger than 12 kB answers 413 for the
    // one card with a large photo; the three others arrive, the tool says
    // which one did not and exits 1, and the next run tries it again.
    server_ = std::make_unique<test::Radicale>(
        QStringList{QStringLiteral("--server-max-content-length"), QStringLiteral("12000")});
    carddav::CardDavClient client({server_->url(), QStringLiteral("anna"), {}});
    book_ = client.createAddressBook(QStringLiteral("Klein"));
    QImage noise(60, 60, QImage::Format_RGB32);
    QRandomGenerator random(34);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, random.generate() | 0xff000000u);
    QList<QVariantMap> addresses = threeAddresses();
    addresses.append({{"Name", "Groß"},
                      {"Vorname", "Bilder"},
                      {"Grafik", pictures::graphicFieldFromImage(noise, nullptr)}});
    testsupport::makeAddressTable(a_, addresses);
    Tool r = tool({QStringLiteral("sync"), QStringLiteral("--link"), book_.toString(),
                   QStringLiteral("--user"), QStringLiteral("anna"), a_});
    QVERIFY2(r.status == 1 && r.out.contains(QStringLiteral("Server: 3 neu")) &&
                 r.out.contains(QStringLiteral("„Bilder Groß“ nicht angenommen")) &&
                 r.out.contains(QStringLiteral("Nicht übernommen: 1")),
             qPrintable(r.out));
    QCOMPARE(cards().size(), 3);
    // Again: never a success, never a duplicate. (Radicale may close the
    // connection before the client has sent the whole card, which then ends
    // the run as a network failure instead.)
    r = sync(a_);
    QVERIFY2(r.status != 0, qPrintable(r.out));
    QCOMPARE(cards().size(), 3);
}

void TestTableSync::everyPhoneCardGetsARecord() {
    // As phones write them: a vCard 4.0 UID of 45 characters, a business
    // known by FN and ORG only, and two Korean names that both become
    // "? ??" in the table's code page.
    const QList<QByteArray> phone{
        "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:urn:uuid:0b7a3d0e-7c1f-4c59-9a36-2f7c5d1e8a44\r\n"
        "N:Berg;Anna;;;\r\nFN:Anna Berg\r\nEND:VCARD\r\n",
        "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:shop-1\r\nFN:Bäckerei Schmitz\r\n"
        "ORG:Bäckerei Schmitz GmbH\r\nTEL;TYPE=WORK:0221 4711\r\nEND:VCARD\r\n",
        "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:k-1\r\nN:김;민준;;;\r\nFN:김민준\r\nEND:VCARD\r\n",
        "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:k-2\r\nN:이;서연;;;\r\nFN:이서연\r\nEND:VCARD\r\n"};
    carddav::CardDavClient client({book_, {}, {}});
    for (qsizetype i = 0; i < phone.size(); ++i)
        client.put(book_.path() + QStringLiteral("p%1.vcf").arg(i), phone[i], {});
    testsupport::makeAddressTable(a_);
    Tool r = tool({QStringLiteral("sync"), QStringLiteral("--link"), book_.toString(),
                   QStringLiteral("--user"), QStringLiteral("anna"), a_});
    QVERIFY2(r.status == 0 && r.out.contains(QStringLiteral("Hier: 4 neu")) &&
                 (r.out.contains(QStringLiteral("„이서연“")) ||
                  r.out.contains(QStringLiteral("„김민준“"))) &&
                 r.out.contains(QStringLiteral("„?? (2)“")),
             qPrintable(r.out));
    QCOMPARE(rows(a_)[QStringLiteral("Bäckerei Schmitz")][QStringLiteral("Telefon1")],
             QStringLiteral("0221 4711"));
    QCOMPARE(rows(a_)[QStringLiteral("Berg")][QStringLiteral("UID")].size(), 36);

    // An edit of each here: the cards keep their UID, N and FN as written.
    edit(a_, QStringLiteral("Berg"), QStringLiteral("Ort"), QStringLiteral("Bonn"));
    edit(a_, QStringLiteral("Bäckerei Schmitz"), QStringLiteral("Ort"), QStringLiteral("Köln"));
    {
        auto t = px::Table::open(a_.toStdString(), px::Access::Write);
        const auto ort = static_cast<std::size_t>(t->fieldIndex("Ort"));
        for (std::uint32_t i = 0; i < t->recordCount(); ++i) {
            px::Record rec = t->read(i, px::Blobs::Refer);
            if (std::get<std::string>(rec[0]) == "?") {
                rec[ort] = std::string("Seoul");
                t->update(i, rec);
            }
        }
    }
    r = sync(a_);
    QVERIFY2(r.status == 0 && r.out.contains(QStringLiteral("Server: 0 neu, 4 geändert")),
             qPrintable(r.out));
    const QList<carddav::Card> after = cards();
    QCOMPARE(after.size(), 4);
    QString all;
    for (const carddav::Card& c : after)
        all += QString::fromUtf8(c.vcard);
    for (const char* kept : {"UID:urn:uuid:0b7a3d0e-7c1f-4c59-9a36-2f7c5d1e8a44", "FN:Anna Berg",
                             "FN:Bäckerei Schmitz", "ORG:Bäckerei Schmitz GmbH", "N:김;민준;;;",
                             "FN:김민준", "N:이;서연;;;", "FN:이서연", "Seoul", "Köln", "Bonn"})
        QVERIFY2(all.contains(QString::fromUtf8(kept)), kept);
    QVERIFY(!all.contains(QStringLiteral("Unbenannt")) && !all.contains(QStringLiteral("(2)")));
    r = sync(a_);
    QVERIFY2(r.status == 0 && r.out.contains(QStringLiteral("Server: 0 neu, 0 geändert")),
             qPrintable(r.out));
}

void TestTableSync::theSamePeopleOnBothSidesPairAtTheFirstLink() {
    // The phone knows two of the three already: Müller by the table's key
    // fields (with a number the table lacks), Öztürk by name and e-mail
    // address though the town differs.
    carddav::CardDavClient client({book_, {}, {}});
    client.put(book_.path() + QStringLiteral("m.vcf"),
               "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:tel-m\r\nN:Müller;Jürgen;;;\r\n"
               "FN:Jürgen Müller\r\nADR;TYPE=HOME:;;Hauptstraße 1;München;;80331;\r\n"
               "TEL;TYPE=CELL:0170 5555\r\nEND:VCARD\r\n",
               {});
    client.put(book_.path() + QStringLiteral("o.vcf"),
               "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:tel-o\r\nN:Öztürk;Zoë;;;\r\nFN:Zoë Öztürk\r\n"
               "EMAIL:A@example.org\r\nADR:;;;Bonn;;;\r\nEND:VCARD\r\n",
               {});
    testsupport::makeAddressTable(a_, threeAddresses());
    const QStringList link{QStringLiteral("sync"), QStringLiteral("--link"), book_.toString(),
                           QStringLiteral("--user"), QStringLiteral("anna")};
    Tool r = tool(link + QStringList{a_});
    QVERIFY2(r.out.contains(QStringLiteral("Server: 1 neu")) &&
                 r.out.contains(QStringLiteral("verbunden: 2")),
             qPrintable(r.out));
    QCOMPARE(cards().size(), 3);
    const Rows a = rows(a_);
    QCOMPARE(a[QStringLiteral("Müller")][QStringLiteral("UID")], QStringLiteral("tel-m"));
    QCOMPARE(a[QStringLiteral("Müller")][QStringLiteral("Telefon1")], QStringLiteral("0170 5555"));
    QCOMPARE(a[QStringLiteral("Öztürk")][QStringLiteral("UID")], QStringLiteral("tel-o"));

    // A second copy of the table, linked to the same book: nothing doubles.
    testsupport::makeAddressTable(b_, threeAddresses());
    r = tool(link + QStringList{b_});
    QVERIFY2(r.out.contains(QStringLiteral("Server: 0 neu")) &&
                 r.out.contains(QStringLiteral("Hier: 0 neu")) &&
                 r.out.contains(QStringLiteral("verbunden: 3")),
             qPrintable(r.out));
    QCOMPARE(cards().size(), 3);
    QCOMPARE(rows(b_).size(), 3);
}

void TestTableSync::aBackupOnlyWhenTheTableChanges() {
    linkBoth();
    auto copies = [&] {
        return QDir(QFileInfo(a_).path())
            .entryList({QStringLiteral("ADRESSEN-Sicherung-*.db")}, QDir::Files);
    };
    const QStringList before = copies();
    QCOMPARE(before.filter(QStringLiteral("-vor-Verbinden-")).size(), 1);
    // Only the server changes, then nothing at all: no copy.
    edit(a_, QStringLiteral("Weiß"), QStringLiteral("Telefon1"), QStringLiteral("0221 777"));
    for (int run = 0; run < 2; ++run) {
        const Tool r = sync(a_);
        QVERIFY2(r.status == 0 && !r.out.contains(QStringLiteral("Sicherung")), qPrintable(r.out));
    }
    QCOMPARE(copies(), before);
    // A change arrives here: copied first, and named.
    edit(b_, QStringLiteral("Öztürk"), QStringLiteral("Ort"), QStringLiteral("Bonn"));
    QCOMPARE(sync(b_).status, 0);
    const Tool r = sync(a_);
    QVERIFY2(r.status == 0 && r.out.contains(QStringLiteral("Sicherung: ")), qPrintable(r.out));
    QCOMPARE(copies().size(), before.size() + 1);
}

// A 3 MP photo from the phone is stored at the size set for pictures (the
// default 1,024 pixels here), and the phone keeps its own, byte for byte,
// through edits here.
void TestTableSync::aPhonesPhotoIsStoredAtThePictureSize() {
    linkBoth();
    QImage photo(2000, 1500, QImage::Format_RGB32);
    QPainter painter(&photo);
    painter.fillRect(photo.rect(), QLinearGradient(0, 0, 2000, 1500));
    painter.fillRect(300, 200, 900, 700, QColor(200, 40, 40));
    painter.end();
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(photo.save(&buffer, "JPEG", 80));
    QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:foto-1\r\nN:Foto;Franz;;;\r\n"
                      "FN:Franz Foto\r\nPHOTO;ENCODING=b;TYPE=JPEG:";
    const QByteArray base64 = jpeg.toBase64();
    for (qsizetype at = 0; at < base64.size(); at += 74)
        card += (at > 0 ? "\r\n " : "") + base64.mid(at, 74);
    card += "\r\nEND:VCARD\r\n";
    carddav::CardDavClient({book_, {}, {}})
        .put(book_.path() + QStringLiteral("foto-1.vcf"), card, {});
    QCOMPARE(sync(a_).status, 0);
    auto storedSize = [&] {
        auto t = px::Table::open(a_.toStdString(), px::Access::Read);
        for (std::uint32_t i = 0; i < t->recordCount(); ++i) {
            const px::Record r = t->read(i);
            const auto* b =
                std::get_if<px::Bytes>(&r[static_cast<std::size_t>(t->fieldIndex("Grafik"))]);
            if (b && std::get<std::string>(r[0]) == "Foto")
                return pictures::imageFromGraphicField(
                           QByteArray(reinterpret_cast<const char*>(b->data()),
                                      qsizetype(b->size())))
                    .size();
        }
        return QSize();
    };
    QCOMPARE(storedSize(), QSize(1024, 768));
    edit(a_, QStringLiteral("Foto"), QStringLiteral("Ort"), QStringLiteral("Bonn"));
    const Tool r = sync(a_);
    QVERIFY2(r.status == 0 && r.out.contains(QStringLiteral("Server: 0 neu, 1 geändert")),
             qPrintable(r.out));
    const vcard::Card after = vcard::readCard(cardOf(QStringLiteral("Foto")).toUtf8());
    QCOMPARE(after.fields.value(QStringLiteral("Ort")), QStringLiteral("Bonn"));
    QVERIFY(after.photo.bytes == jpeg);
    QCOMPARE(storedSize(), QSize(1024, 768));
}

// vdirsyncer as the phone: it syncs the same book into a folder of cards.
// An edit on each of the three sides (the table, another client on the
// server, a card in the phone's folder, a new card there) arrives on the
// others, and what the phone wrote beyond the table's fields stays.
void TestTableSync::vdirsyncerAsThePhone() {
    if (QStandardPaths::findExecutable(QStringLiteral("vdirsyncer")).isEmpty())
        QSKIP("vdirsyncer fehlt (Debian-Paket vdirsyncer).");
    testsupport::makeAddressTable(a_, threeAddresses());
    Tool r = tool({QStringLiteral("sync"), QStringLiteral("--link"), book_.toString(),
                   QStringLiteral("--user"), QStringLiteral("anna"), a_});
    QVERIFY2(r.status == 0, qPrintable(r.out));
    const QDir phone(QFileInfo(a_).path() + QStringLiteral("/telefon"));
    QVERIFY(QDir().mkpath(phone.filePath(QStringLiteral("karten"))));
    const QString config = phone.filePath(QStringLiteral("config"));
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("[general]\nstatus_path = \"%1/status/\"\n"
                              "[pair telefon]\na = \"karten\"\nb = \"server\"\n"
                              "collections = null\n"
                              "[storage karten]\ntype = \"filesystem\"\npath = \"%1/karten/\"\n"
                              "fileext = \".vcf\"\n"
                              "[storage server]\ntype = \"carddav\"\nurl = \"%2\"\n"
                              "username = \"anna\"\npassword = \"\"\n")
                   .arg(phone.path(), book_.toString())
                   .toUtf8());
    file.close();
    auto vdirsyncer = [&](const QString& command) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("vdirsyncer"), {QStringLiteral("-c"), config, command});
        p.write("y\ny\n");
        p.closeWriteChannel();
        p.waitForFinished(120000);
        const QString out = QString::fromUtf8(p.readAll());
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 ? QString() : out;
    };
    QCOMPARE(vdirsyncer(QStringLiteral("discover")), QString());
    QCOMPARE(vdirsyncer(QStringLiteral("sync")), QString());
    const QDir folder(phone.filePath(QStringLiteral("karten")));
    auto cardFile = [&](const char* name) {
        for (const QString& f : folder.entryList({QStringLiteral("*.vcf")}, QDir::Files)) {
            QFile c(folder.filePath(f));
            if (c.open(QIODevice::ReadOnly) && c.readAll().contains(name))
                return folder.filePath(f);
        }
        return QString();
    };
    auto read = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    auto write = [](const QString& path, const QByteArray& bytes) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    const QString weiss = cardFile("N:Weiß");
    QVERIFY2(!weiss.isEmpty() &&
                 folder.entryList({QStringLiteral("*.vcf")}, QDir::Files).size() == 3,
             qPrintable(folder.entryList().join(u' ')));

    // The phone: an e-mail address and its own lines on Weiß, a new person.
    write(weiss, read(weiss).replace("END:VCARD", "EMAIL;TYPE=HOME:grete@telefon.example\r\n"
                                                  "NICKNAME:Gretl\r\nX-TELEFON:bleibt\r\n"
                                                  "END:VCARD"));
    write(folder.filePath(QStringLiteral("neu.vcf")),
          "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:urn:uuid:6b0f2c1e-8d4a-4f4e-9a57-3c2d1e0f9b88\r\n"
          "N:Neumann;Nina;;;\r\nFN:Nina Neumann\r\nTEL;TYPE=CELL:0170 4711\r\nEND:VCARD\r\n");
    // Another client on the server, and the table.
    carddav::CardDavClient other({book_, {}, {}});
    for (const carddav::Card& c : cards())
        if (c.vcard.contains("N:Öztürk"))
            other.put(c.href, QByteArray(c.vcard).replace("Köln", "Bonn"), c.etag);
    edit(a_, QStringLiteral("Müller"), QStringLiteral("Ort"), QStringLiteral("Hamburg"));

    QCOMPARE(vdirsyncer(QStringLiteral("sync")), QString());
    r = sync(a_);
    QVERIFY2(r.status == 0 && r.out.contains(QStringLiteral("Hier: 1 neu, 2 geändert")),
             qPrintable(r.out));
    QCOMPARE(vdirsyncer(QStringLiteral("sync")), QString());

    const Rows table = rows(a_);
    QCOMPARE(table[QStringLiteral("Weiß")][QStringLiteral("Email")],
             QStringLiteral("grete@telefon.example"));
    QCOMPARE(table[QStringLiteral("Öztürk")][QStringLiteral("Ort")], QStringLiteral("Bonn"));
    QCOMPARE(table[QStringLiteral("Neumann")][QStringLiteral("Telefon1")],
             QStringLiteral("0170 4711"));
    QVERIFY(read(cardFile("N:Müller")).contains("Hamburg"));
    QVERIFY(read(cardFile("N:Öztürk")).contains("Bonn"));
    const QByteArray phoneWeiss = read(cardFile("N:Weiß"));
    for (const char* kept : {"NICKNAME:Gretl", "X-TELEFON:bleibt", "grete@telefon.example"})
        QVERIFY2(phoneWeiss.contains(kept), kept);
    QVERIFY(
        read(cardFile("N:Neumann")).contains("UID:urn:uuid:6b0f2c1e-8d4a-4f4e-9a57-3c2d1e0f9b88"));
    QCOMPARE(folder.entryList({QStringLiteral("*.vcf")}, QDir::Files).size(), 4);
}

// The main window's way: the store closed for the run, the run's changes
// one step of its history after; undone, they go back as plain edits.
void TestTableSync::undoOfASyncIsSentBack() {
    linkBoth();
    edit(b_, QStringLiteral("Öztürk"), QStringLiteral("Ort"), QStringLiteral("Bonn"));
    edit(b_, QStringLiteral("Weiß"), QStringLiteral("Telefon1"), QStringLiteral("0221 999"));
    QVERIFY(sync(b_).status == 0);
    // And the phone replaces Müller's picture: the table gives up the old one.
    carddav::CardDavClient client({book_, {}, {}});
    for (const carddav::Card& c : cards())
        if (c.vcard.contains("N:Müller")) {
            QImage other(40, 30, QImage::Format_RGB32);
            other.fill(QColor(20, 40, 200));
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            other.save(&buffer, "PNG");
            const vcard::Fields f = vcard::readCard(c.vcard).fields;
            client.put(c.href,
                       vcard::patchCard(c.vcard, f, f, {vcard::PhotoChange::Replace, png, "PNG"},
                                        "20261209T120000Z", {}),
                       c.etag);
        }
    const Rows before = rows(a_);

    RecordStore store;
    store.BindTable(a_);
    store.OpenTable();
    store.CloseTable();
    const sync::SyncReport report = sync::synchronise(a_, {});
    QCOMPARE(report.changedHere, 3);
    QVERIFY(rows(a_)[QStringLiteral("Müller")].value(QStringLiteral("Grafik")) !=
            before[QStringLiteral("Müller")].value(QStringLiteral("Grafik")));
    store.OpenTable();
    store.addStep(report.stepLabel(), report.written);
    QCOMPARE(store.undoLabel(), QStringLiteral("Abgleich mit 127.0.0.1 (3 Adressen)"));
    QCOMPARE(rows(a_)[QStringLiteral("Öztürk")].value(QStringLiteral("Ort")),
             QStringLiteral("Bonn"));
    store.Undo();
    store.CloseTable();
    // Back as before, and linked still: the same UIDs.
    Rows undone = rows(a_);
    for (const QString& name :
         {QStringLiteral("Öztürk"), QStringLiteral("Weiß"), QStringLiteral("Müller")}) {
        undone[name].remove(QStringLiteral("Aenderung"));
        QMap<QString, QString> was = before[name];
        was.remove(QStringLiteral("Aenderung"));
        QCOMPARE(undone[name], was);
    }
    const Tool r = sync(a_);
    QVERIFY2(r.status == 0 && r.out.contains(QStringLiteral("Server: 0 neu, 3 geändert")) &&
                 r.out.contains(QStringLiteral("Konflikte: 0.")),
             qPrintable(r.out));
    QVERIFY(cardOf(QStringLiteral("Öztürk")).contains(QStringLiteral(";Köln;")));
    QVERIFY(sync(b_).status == 0);
    QCOMPARE(rows(b_)[QStringLiteral("Öztürk")].value(QStringLiteral("Ort")),
             QStringLiteral("Köln"));
}

QTEST_GUILESS_MAIN(TestTableSync)
#include "tst_tablesync.moc"
