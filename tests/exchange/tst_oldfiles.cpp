// Address files of older programs imported into an address table: dBase III
// and FoxPro tables made by python3-dbf and read back by python3-dbfread as
// the independent reader, another program's Paradox table, Thunderbird's
// LDIF and Mork files; and what the import does with a file it cannot read.
#include "addresstables.h"
#include "exchange/exchange.h"
#include "platform/database/recordstore.h"
#include "platform/paradox/table.h"
#include "platform/system/system.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#ifdef VELLUMO_EXCHANGE_WINDOWS
#include "exchange/ui/exchangedialog.h"
#include "platform/settings/profile.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTableWidget>
#endif

using namespace vellumo;
using namespace testsupport;
namespace ex = vellumo::exchange;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct OpenTable {
    explicit OpenTable(const QString& path) {
        makeAddressTable(path);
        store.BindTable(path);
        store.OpenTable();
    }
    RecordStore store;
};

// The row of the table whose Name is name, -1 when there is none.
int rowOf(const RecordStore& store, const QString& name) {
    for (int row = 0; row < store.visibleCount(); ++row)
        if (store.textAt(row, "Name") == name)
            return row;
    return -1;
}

} // namespace

class TestOldFiles : public QObject {
    Q_OBJECT

    std::unique_ptr<Sandbox> sandbox;
    QJsonObject oracle; // what dbfread reads in the fixtures

private slots:
    void init() { sandbox = std::make_unique<Sandbox>(); }
    void cleanup() { sandbox.reset(); }

    // dBase III in code page 850 with a .dbt whose name differs in case and
    // two deleted rows; FoxPro in 1252 with an .fpt; a table whose memo file
    // is gone. Values as the UTF-8 reference says and as dbfread reads them.
    void dbaseFiles() {
        QProcess maker;
        maker.start("/usr/bin/python3", {QFINDTESTDATA("oldfiles.py"), sandbox->path()});
        QVERIFY(maker.waitForFinished(60000));
        if (maker.exitCode() != 0)
            QSKIP(qPrintable("python3-dbf or python3-dbfread is missing (scripts/install-deps.sh "
                             "installs them): " +
                             QString::fromUtf8(maker.readAllStandardError()).right(300)));
        oracle = QJsonDocument::fromJson(maker.readAllStandardOutput()).object();
        QVERIFY(!oracle.isEmpty());

        {
            OpenTable table(sandbox->file("Alt.db"));
            const ex::ImportResult result =
                ex::importFile(table.store, sandbox->file("ADRESSEN.dbf"));
            QCOMPARE(result.format, ex::Format::Dbase);
            QCOMPARE(result.added, 3);
            QCOMPARE(result.deleted, 2);
            QCOMPARE(result.deleted, oracle["ADRESSEN.dbf"].toObject()["deleted"].toInt());
            QCOMPARE(oracle["ADRESSEN.dbf"].toObject()["encoding"].toString(), "cp850");
            QVERIFY(
                ex::summaryText(result).contains("2 in der Datei als gelöscht markierte Sätze"));
            QVERIFY(ex::summaryText(result).contains("Codepage 850"));
            const QString details = ex::detailsText(result);
            QVERIFY2(details.contains("Satz 2: übersprungen\n  in der Datei als gelöscht markiert "
                                      "(Erster Gelöscht)"),
                     qPrintable(details));
            QVERIFY(details.contains("\"NAME\" → Name"));
            const ex::ImportPreview preview =
                ex::previewFile(table.store, sandbox->file("ADRESSEN.dbf"));
            QCOMPARE(preview.records.size(), std::size_t(3)); // the deleted rows left out
            QCOMPARE(preview.columnNames.first(), "NAME");

            // The UTF-8 reference, and the same from the independent reader.
            const struct {
                const char *name, *given, *street, *code, *town, *phone;
            } reference[] = {
                {"Müller", "Jürgen", "Hauptstraße 5", "50667", "Köln", "0221 123456"},
                {"Weiß", "Änne", "Über den Höfen 3", "80331", "München", "089 777"},
                {"Groß", "Ödön", "Ährenweg 1", "01067", "Dresden", ""},
            };
            const QJsonArray records = oracle["ADRESSEN.dbf"].toObject()["records"].toArray();
            QCOMPARE(records.size(), 3);
            for (int i = 0; i < 3; ++i) {
                const QJsonObject r = records[i].toObject();
                const auto& ref = reference[i];
                QCOMPARE(r["NAME"].toString(), QString::fromUtf8(ref.name));
                const int row = rowOf(table.store, r["NAME"].toString());
                QVERIFY2(row >= 0, ref.name);
                QCOMPARE(table.store.textAt(row, "Vorname"), QString::fromUtf8(ref.given));
                QCOMPARE(table.store.textAt(row, "Vorname"), r["VORNAME"].toString());
                QCOMPARE(table.store.textAt(row, "Strasse"), r["STRASSE"].toString());
                QCOMPARE(table.store.textAt(row, "Strasse"), QString::fromUtf8(ref.street));
                QCOMPARE(table.store.textAt(row, "PLZ"), QString::fromUtf8(ref.code));
                QCOMPARE(table.store.textAt(row, "Ort"), QString::fromUtf8(ref.town));
                QCOMPARE(table.store.textAt(row, "Telefon1"), QString::fromUtf8(ref.phone));
                const QDate birthday = table.store.valueAt(row, "Geburtstag").toDate();
                QCOMPARE(birthday.isValid() ? birthday.toString(Qt::ISODate) : QString(),
                         r["GEBURT"].toString());
                const QString memo = table.store.textAt(row, "Memo1");
                QVERIFY2(memo.startsWith(r["BEMERKUNG"].toString().replace("\r\n", "\n")),
                         qPrintable(memo.left(200)));
            }
            const int mueller = rowOf(table.store, "Müller");
            QCOMPARE(table.store.textAt(mueller, "Memo1"),
                     "Erste Zeile\nZweite Zeile mit Öl und ß\nAKTIV: ja\nBETRAG: 12.50");
            QCOMPARE(table.store.textAt(rowOf(table.store, "Groß"), "Memo1").count(u'ß'), 700);
        }
        {
            OpenTable table(sandbox->file("Fuchs.db"));
            const ex::ImportResult result = ex::importFile(table.store, sandbox->file("FOX.dbf"));
            QCOMPARE(result.added, 2);
            QVERIFY(ex::summaryText(result).contains("Codepage 1252"));
            const int row = rowOf(table.store, "Schäfer");
            QCOMPARE(table.store.textAt(row, "Vorname"), "Björn");
            QCOMPARE(table.store.textAt(row, "Strasse"), "Lindenallee 12a");
            QCOMPARE(table.store.textAt(row, "Telefon1"), "030 1234");
            const QJsonObject r = oracle["FOX.dbf"].toObject()["records"].toArray()[0].toObject();
            QCOMPARE(table.store.textAt(row, "Memo1"), r["NOTIZ"].toString());
            QCOMPARE(table.store.textAt(row, "Memo1"), "Kennt „Anführungszeichen“ und €");
        }
        {
            // Visual FoxPro's binary numbers, currency to the last digit, and
            // a time of day beside the date, as dbfread reads them.
            OpenTable table(sandbox->file("Vfp.db"));
            const ex::ImportResult result = ex::importFile(table.store, sandbox->file("VFP.dbf"));
            QCOMPARE(result.added, 2);
            const QJsonArray r = oracle["VFP.dbf"].toObject()["records"].toArray();
            QCOMPARE(r[0].toObject()["BETRAG"].toString(), "1234.5678");
            QCOMPARE(r[0].toObject()["ZEIT"].toString(), "2001-02-03T04:05:06");
            QCOMPARE(table.store.textAt(rowOf(table.store, "Größe"), "Memo1"),
                     QString("Notiz mit €\nALTER: %1\nBETRAG: %2\nZEIT: 03.02.2001 04:05:06")
                         .arg(r[0].toObject()["ALTER"].toInt())
                         .arg(r[0].toObject()["BETRAG"].toString()));
            QCOMPARE(table.store.textAt(rowOf(table.store, "Klein"), "Memo1"),
                     QString("ALTER: %1\nBETRAG: -0.50").arg(r[1].toObject()["ALTER"].toInt()));
        }
        {
            // A language-driver byte nobody knows: read as DOS's 850, and said.
            QByteArray bytes = readFile(sandbox->file("ADRESSEN.dbf"));
            bytes[29] = '\x7F';
            writeFile(sandbox->file("UNBEKANNT.DBF"), bytes);
            QFile::copy(sandbox->file("adressen.DBT"), sandbox->file("unbekannt.dbt"));
            OpenTable table(sandbox->file("Cp.db"));
            const ex::ImportResult result =
                ex::importFile(table.store, sandbox->file("UNBEKANNT.DBF"));
            QCOMPARE(result.added, 3);
            QVERIFY2(ex::summaryText(result).contains("(Sprachtreiber 0x7f); gelesen als Codepage "
                                                      "850 (DOS)"),
                     qPrintable(ex::summaryText(result)));
            QCOMPARE(table.store.textAt(rowOf(table.store, "Weiß"), "Vorname"), "Änne");
        }
        {
            OpenTable table(sandbox->file("Ohne.db"));
            const ex::ImportResult result =
                ex::importFile(table.store, sandbox->file("OHNEMEMO.dbf"));
            QCOMPARE(result.added, 1);
            QVERIFY2(ex::summaryText(result).contains(
                         "Die Notizdatei OHNEMEMO.dbt fehlt oder kann nicht gelesen werden; "
                         "übernommen wurde alles außer den Notizfeldern (BEMERKUNG)"),
                     qPrintable(ex::summaryText(result)));
            QCOMPARE(table.store.textAt(0, "Vorname"), "Käthe");
        }

        // Damaged: the table cut short, a memo pointer beyond its file. The
        // message names the file and the place; nothing is added.
        const QByteArray dbf = readFile(sandbox->file("ADRESSEN.dbf"));
        QDir().mkpath(sandbox->file("kaputt"));
        writeFile(sandbox->file("kaputt/KURZ.DBF"), dbf.left(dbf.size() - 200));
        writeFile(sandbox->file("kaputt/MEMO.DBF"), dbf);
        writeFile(sandbox->file("kaputt/MEMO.DBT"),
                  readFile(sandbox->file("adressen.DBT")).left(600));
        for (const auto& [file, expected] :
             {std::pair<QString, QString>{"KURZ.DBF", "Die dBase-Datei KURZ.DBF ist beschädigt: "
                                                      "sie endet in Satz 4 von 5"},
              {"MEMO.DBF", "Die dBase-Datei MEMO.DBF ist beschädigt: Satz 3, Feld BEMERKUNG "
                           "verweist auf Block 3, die Notizdatei MEMO.DBT endet vor Block 2"}}) {
            OpenTable table(sandbox->file("Leer.db"));
            try {
                ex::importFile(table.store, sandbox->file("kaputt/" + file));
                QFAIL("a damaged file was imported");
            } catch (const StoreError& e) {
                QVERIFY2(e.text().startsWith(expected), qPrintable(e.text()));
            }
            QCOMPARE(table.store.CountRecords(), 0);
        }

        // By content, whatever the name: a dBase table called .csv is read as
        // one; a picture is no address file and says so.
        QFile::copy(sandbox->file("FOX.dbf"), sandbox->file("fuchs.csv"));
        QFile::copy(sandbox->file("FOX.fpt"), sandbox->file("fuchs.fpt"));
        OpenTable table(sandbox->file("Name.db"));
        QCOMPARE(ex::importFile(table.store, sandbox->file("fuchs.csv")).added, 2);
        writeFile(sandbox->file("bild.vcf"), QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16));
        try {
            ex::importFile(table.store, sandbox->file("bild.vcf"));
            QFAIL("a picture was imported");
        } catch (const StoreError& e) {
            QVERIFY2(e.text().contains("bild.vcf ist keine Adressdatei, die Vellumo lesen kann"),
                     qPrintable(e.text()));
        }
    }

    // The kind by the first bytes alone, whatever the name says.
    void kindByContent() {
        QByteArray dbase(65, '\0');
        dbase[0] = '\x03';
        dbase[2] = 12;
        dbase[3] = 31;
        dbase[8] = 65;
        dbase[10] = 11;
        dbase.replace(32, 4, "NAME");
        dbase[43] = 'C';
        QByteArray notDbase = dbase;
        notDbase[2] = 13; // no month 13
        const struct {
            QByteArray start;
            std::optional<ex::Format> format;
        } cases[] = {
            {"\xEF\xBB\xBF"
             "BEGIN:VCARD\r\nVERSION:3.0",
             ex::Format::VCard},
            {"From: a@b.de\nSubject: Karte\n\nBEGIN:VCARD\n", ex::Format::VCard},
            {"# Thunderbird\n\ndn: cn=Jo\nmail: j@b.de\n", ex::Format::Ldif},
            {"version: 1\ndn: cn=Jo\n", ex::Format::Ldif},
            {"// <!-- <mdb:mork:z v=\"1.4\"/> -->\n< <(a=c)>", ex::Format::Mork},
            {dbase, ex::Format::Dbase},
            {notDbase, std::nullopt},
            {"Name;Vorname\r\nM\xFC"
             "ller;J\xFC"
             "rgen\r\n",
             ex::Format::Csv},
            {QByteArray("N\0a\0m\0e\0;\0", 10), ex::Format::Csv},
            {QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16), std::nullopt},
        };
        for (const auto& c : cases)
            QVERIFY2(ex::detectFormat(c.start) == c.format, c.start.left(20).toHex().constData());
        // Text that is no other kind: the name may still say vCard.
        QCOMPARE(ex::formatOf("karten.vcf", "N:Zorn;Ulf\r\n"), ex::Format::VCard);
        QCOMPARE(ex::formatOf("karten.csv", dbase), ex::Format::Dbase);
    }

    // Another program's Paradox table: its field names say where each value
    // goes, without a question; what has no field goes into the notes.
    void paradoxOfAnotherSchema() {
        const std::string path = sandbox->file("KUNDEN.DB").toStdString();
        using px::FieldType;
        px::Table::create(path,
                          {{"NACHNAME", FieldType::Alpha, 30},
                           {"VORNAME", FieldType::Alpha, 20},
                           {"STRASSE_NR", FieldType::Alpha, 40},
                           {"PLZ", FieldType::Alpha, 5},
                           {"ORT", FieldType::Alpha, 30},
                           {"TEL_PRIVAT", FieldType::Alpha, 20},
                           {"BEMERKUNG", FieldType::Memo, 20},
                           {"KUNDENNR", FieldType::Long, 4}},
                          0);
        {
            auto table = px::Table::open(path, px::Access::Write);
            table->insert({std::string("Köhler"), std::string("Frieda"), std::string("Am Bächle 7"),
                           std::string("79098"), std::string("Freiburg"), std::string("0761 55"),
                           std::string("Stammkundin seit 1987"), std::int64_t(4711)});
            table->insert({std::string("Zorn"), std::string("Ulf"), std::monostate{},
                           std::monostate{}, std::string("Kiel"), std::monostate{},
                           std::monostate{}, std::monostate{}});
        }
        OpenTable table(sandbox->file("Adressen.db"));
        const ex::ImportResult result = ex::importFile(table.store, sandbox->file("KUNDEN.DB"));
        QCOMPARE(result.format, ex::Format::Paradox);
        QCOMPARE(result.added, 2);
        QCOMPARE(result.refused, 0);
        const int row = rowOf(table.store, "Köhler");
        QVERIFY(row >= 0);
        QCOMPARE(table.store.textAt(row, "Vorname"), "Frieda");
        QCOMPARE(table.store.textAt(row, "Strasse"), "Am Bächle 7");
        QCOMPARE(table.store.textAt(row, "PLZ"), "79098");
        QCOMPARE(table.store.textAt(row, "Ort"), "Freiburg");
        QCOMPARE(table.store.textAt(row, "Telefon1"), "0761 55");
        QCOMPARE(table.store.textAt(row, "Memo1"), "Stammkundin seit 1987\nKUNDENNR: 4711");
        QCOMPARE(table.store.textAt(rowOf(table.store, "Zorn"), "Ort"), "Kiel");
        QVERIFY(result.columns.contains("\"STRASSE_NR\" → Strasse (weitere Anschriften in die "
                                        "Bemerkungen)"));
        QVERIFY(result.columns.contains("\"TEL_PRIVAT\" → Telefon1, Telefon2, weitere in die "
                                        "Bemerkungen"));

        // A table protected by a password imports without one (its key is in
        // its header), the protected file untouched.
        const QString encrypted =
            sharedDir().isEmpty()
                ? QString()
                : sharedDir() + "/paradox-samples/leonhad-paradoxdriver/encrypt/encrypted.db";
        if (!encrypted.isEmpty() && QFile::exists(encrypted)) {
            QFile file(encrypted);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray before = file.readAll();
            const ex::ImportResult fromProtected = ex::importFile(table.store, encrypted);
            QCOMPARE(fromProtected.added, 4);
            QCOMPARE(table.store.CountRecords(), 6);
            file.seek(0);
            QCOMPARE(file.readAll(), before);
        }

        // The open table itself is not imported into itself.
        try {
            ex::importFile(table.store, sandbox->file("Adressen.db"));
            QFAIL("the table was imported into itself");
        } catch (const StoreError& e) {
            QVERIFY(e.text().contains("kann nicht in sich importiert werden"));
        }
    }

    // Thunderbird: its LDIF export (base64 for umlauts, the birthday in three
    // attributes, home and work address) and its Mork file with two cards
    // and a mailing list.
    void thunderbird() {
        const QByteArray ldif =
            "dn: cn=J\xC3\xBCrgen M\xC3\xBCller,mail=juergen@example.de\n"
            "objectclass: top\nobjectclass: person\nobjectclass: mozillaAbPersonAlpha\n"
            "givenName:: " +
            QByteArray("Jürgen").toBase64() + "\nsn:: " + QByteArray("Müller").toBase64() +
            "\ncn:: " + QByteArray("Jürgen Müller").toBase64() +
            "\nmail: juergen@example.de\nmozillaSecondEmail: jm@example.org\n"
            "telephoneNumber: 0221 1\nhomePhone: 0221 2\nmobile: 0171 3\n"
            "mozillaHomeStreet:: " +
            QByteArray("Domstraße 1").toBase64() +
            "\nmozillaHomeLocalityName:: " + QByteArray("Köln").toBase64() +
            "\nmozillaHomePostalCode: 50667\nmozillaHomeCountryName: Deutschland\n"
            "street: Werkstr. 2\nl: Bonn\npostalCode: 53111\nc: Deutschland\n"
            "birthyear: 1961\nbirthmonth: 2\nbirthday: 28\n"
            "description: Zeile eins\n  und weiter\nmozillaUseHtmlMail: false\n"
            "modifytimestamp: 0Z\nmozillaCustom1:: ###\n\n"
            "dn: cn=Liste\nobjectclass: groupOfNames\ncn: Liste\n\n";
        writeFile(sandbox->file("adressbuch.ldif"), ldif);
        {
            OpenTable table(sandbox->file("Ldif.db"));
            const ex::ImportResult result =
                ex::importFile(table.store, sandbox->file("adressbuch.ldif"));
            QCOMPARE(result.format, ex::Format::Ldif);
            QCOMPARE(result.added, 1);
            QCOMPARE(result.refused, 1);
            QVERIFY(ex::detailsText(result).contains("Eintrag 2: abgewiesen\n  Eine Verteilerliste "
                                                     "(Liste) ist keine Adresse"));
            const RecordStore& s = table.store;
            QCOMPARE(s.textAt(0, "Name"), "Müller");
            QCOMPARE(s.textAt(0, "Vorname"), "Jürgen");
            QCOMPARE(s.textAt(0, "Strasse"), "Domstraße 1");
            QCOMPARE(s.textAt(0, "Ort"), "Köln");
            QCOMPARE(s.textAt(0, "PLZ"), "50667");
            QCOMPARE(s.textAt(0, "Email"), "juergen@example.de");
            QCOMPARE(s.textAt(0, "Telefon1"), "0221 1");
            QCOMPARE(s.textAt(0, "Telefon2"), "0221 2");
            QCOMPARE(s.valueAt(0, "Geburtstag").toDate(), QDate(1961, 2, 28));
            const QString memo = s.textAt(0, "Memo1");
            QVERIFY2(memo.startsWith("Zeile eins und weiter\n"), qPrintable(memo));
            for (const char* line : {"E-Mail: jm@example.org", "Telefon (Mobil): 0171 3",
                                     "Adresse (Arbeit): Werkstr. 2, 53111 Bonn, Deutschland"})
                QVERIFY2(memo.contains(QString::fromUtf8(line)), qPrintable(memo));
            QVERIFY2(!memo.contains("mozillaUseHtmlMail", Qt::CaseInsensitive), qPrintable(memo));
            QVERIFY2(ex::detailsText(result).contains("Die Zeile \"mozillacustom1\" kann nicht "
                                                      "gelesen werden und wurde weggelassen"),
                     qPrintable(ex::detailsText(result)));
        }

        // Mork as Thunderbird up to 68 wrote abook.mab: column names and atoms
        // in dictionaries, umlauts as $XX bytes, a later change in a group.
        const QByteArray mab =
            "// <!-- <mdb:mork:z v=\"1.4\"/> -->\n"
            "< <(a=c)> // (f=iso-8859-1)\n"
            "  (B8=Custom3)(B9=Custom4)(BA=Notes)(BB=LastModifiedDate)(BC=RecordKey)\n"
            "  (80=ns:addrbk:db:row:scope:card:all)(81=ns:addrbk:db:row:scope:list:all)\n"
            "  (82=ns:addrbk:db:row:kind:card)(83=FirstName)(84=LastName)(85=DisplayName)\n"
            "  (86=PrimaryEmail)(87=HomeCity)(88=BirthYear)(89=BirthMonth)(8A=BirthDay)\n"
            "  (8B=ListName)(8C=HomeAddress)(8D=WorkPhone)(8E=ns:addrbk:db:table:kind:pab)>\n"
            "\n<(90=J$C3$BCrgen)(91=M$C3$BCller)(92=juergen@example.de)(93=K$C3$B6ln)\n"
            "  (94=1961)(95=2)(96=28)(97=5A)(98=Familie)>\n"
            "{1:^80 {(k^8E:c)(s=9)}\n"
            "  [1(^83^90)(^84^91)(^86^92)(^87^93)(^88^94)(^89^95)(^8A^96)(^BB=5f5e1000)\n"
            "    (^BC=1)(^BA=Zeile mit \\) Klammer)]\n"
            "  [2(^83=Eva)(^84=Zorn)(^8C=Am Hang 3)(^8D=030 9)(^BC=2)]\n"
            "  [1:^81(^8B^98)(^BC=3)]}\n"
            "@$${1{@\n<(99=Berlin)>[2(^87^99)]\n@$$}1}@\n"
            "@$${2{@\n[2(^87=Hamburg)]\n@$$}~abort~2}@\n";
        writeFile(sandbox->file("abook.mab"), mab);
        OpenTable table(sandbox->file("Mork.db"));
        const ex::ImportResult result = ex::importFile(table.store, sandbox->file("abook.mab"));
        QCOMPARE(result.format, ex::Format::Mork);
        QCOMPARE(result.added, 2);
        QCOMPARE(result.refused, 1);
        const RecordStore& s = table.store;
        const int juergen = rowOf(s, "Müller");
        QVERIFY(juergen >= 0);
        QCOMPARE(s.textAt(juergen, "Vorname"), "Jürgen");
        QCOMPARE(s.textAt(juergen, "Ort"), "Köln");
        QCOMPARE(s.textAt(juergen, "Email"), "juergen@example.de");
        QCOMPARE(s.valueAt(juergen, "Geburtstag").toDate(), QDate(1961, 2, 28));
        QCOMPARE(s.textAt(juergen, "Memo1"), "Zeile mit ) Klammer");
        const int eva = rowOf(s, "Zorn");
        QCOMPARE(s.textAt(eva, "Strasse"), "Am Hang 3");
        QCOMPARE(s.textAt(eva, "Ort"), "Berlin");
        QCOMPARE(s.textAt(eva, "Telefon1"), "030 9");

        // Broken tables: the place is named and nothing is added.
        writeFile(sandbox->file("kaputt.mab"), mab.left(mab.indexOf("[2(")) + "[2(^83^FF)]}");
        OpenTable empty(sandbox->file("Leer.db"));
        try {
            ex::importFile(empty.store, sandbox->file("kaputt.mab"));
            QFAIL("a broken Mork file was imported");
        } catch (const StoreError& e) {
            QVERIFY2(e.text().startsWith("Das Thunderbird-Adressbuch ist beschädigt (Zeile 14): "
                                         "eine Zelle verweist auf den unbekannten Wert ^FF"),
                     qPrintable(e.text()));
        }
        QCOMPARE(empty.store.CountRecords(), 0);
        // A stray character inside a table ends the reading there, at once.
        writeFile(sandbox->file("klammer.mab"), mab.left(mab.indexOf("[2(")) + ")]}");
        try {
            ex::importFile(empty.store, sandbox->file("klammer.mab"));
            QFAIL("a broken Mork file was imported");
        } catch (const StoreError& e) {
            QVERIFY2(e.text().endsWith("(Zeile 14): unerwartetes Zeichen \")\" in einer Tabelle"),
                     qPrintable(e.text()));
        }
    }
    // Columns whose names say nothing: sent where the user says, seen before
    // anything is stored, and the same choices remembered under one key for
    // the same columns however they are spelt.
    void columnsChosenByTheUser() {
        QByteArray csv = "FAMNAME;VORNAME;WOHNORT;KENNUNG;RUFNUMMER\r\n";
        for (int i = 1; i <= 12; ++i)
            csv += "Brühl" + QByteArray::number(i) + ";Jörg;Gießen;K-" + QByteArray::number(i) +
                   ";0641 " + QByteArray::number(i) + "\r\n";
        writeFile(sandbox->file("kunden.csv"), csv);
        writeFile(sandbox->file("nichts.csv"), "A;B\r\nZorn;Ulf\r\n");
        OpenTable table(sandbox->file("Wahl.db"));

        ex::ImportPreview preview = ex::previewFile(table.store, sandbox->file("kunden.csv"));
        QCOMPARE(preview.format, ex::Format::Csv);
        QCOMPARE(preview.columnNames,
                 QStringList({"FAMNAME", "VORNAME", "WOHNORT", "KENNUNG", "RUFNUMMER"}));
        QCOMPARE(preview.columnTargets[2], "Ort (weitere Anschriften in die Bemerkungen)");
        QCOMPARE(preview.records.size(), std::size_t(10));
        QVERIFY(preview.more);
        QCOMPARE(preview.records[0].values.value("Memo1").toString(),
                 "FAMNAME: Brühl1\nKENNUNG: K-1\nRUFNUMMER: 0641 1");

        const ex::ColumnChoices choices{"Name", "", "", ex::notesChoice(), "Telefon1"};
        preview = ex::previewFile(table.store, sandbox->file("kunden.csv"), choices);
        QCOMPARE(preview.columnTargets[0], "Name");
        const QVariantMap& first = preview.records[0].values;
        QCOMPARE(first.value("Name").toString(), "Brühl1");
        QCOMPARE(first.value("Telefon1").toString(), "0641 1");
        QCOMPARE(first.value("Ort").toString(), "Gießen");
        QCOMPARE(first.value("Memo1").toString(), "KENNUNG: K-1");
        QCOMPARE(table.store.CountRecords(), 0); // a preview stores nothing

        const ex::ImportResult result =
            ex::importFile(table.store, sandbox->file("kunden.csv"), {}, choices);
        QCOMPARE(result.added, 12);
        QCOMPARE(table.store.textAt(rowOf(table.store, "Brühl12"), "Telefon1"), "0641 12");
        QVERIFY(result.columns.contains("\"RUFNUMMER\" → Telefon1"));

        // A header naming no field is refused as it was, unless the user
        // names one.
        QCOMPARE(ex::importFile(table.store, sandbox->file("nichts.csv")).refused, 1);
        const ex::ImportResult chosen =
            ex::importFile(table.store, sandbox->file("nichts.csv"), {}, {"Name", "Vorname"});
        QCOMPARE(chosen.added, 1);
        QCOMPARE(table.store.textAt(rowOf(table.store, "Zorn"), "Vorname"), "Ulf");

        // Remembered as one settings line; a line for other columns, or
        // naming no field, gives nothing in their place.
        QCOMPARE(ex::choicesText(choices), "Name|||Bemerkungen|Telefon1");
        QCOMPARE(ex::fromChoicesText("Name|||Bemerkungen|Telefon1", 5), choices);
        QCOMPARE(ex::fromChoicesText("Name|||Bemerkungen|Telefon1", 4), ex::ColumnChoices());
        QCOMPARE(ex::fromChoicesText("Grafik|Unsinn", 2), ex::ColumnChoices({"", ""}));
        QCOMPARE(ex::choicesKey({"Straße", "TEL_PRIVAT"}),
                 ex::choicesKey({"STRASSE", "Tel Privat"}));
        QVERIFY(ex::choicesKey({"A", "B"}) != ex::choicesKey({"B", "A"}));

#ifdef VELLUMO_TABLE_TOOL
        // The table tool sends the columns where the person sent them for
        // files with these columns (in the Setup.ini beside the tool).
        const QString toolIni =
            QFileInfo(QStringLiteral(VELLUMO_TABLE_TOOL)).absolutePath() + "/Setup.ini";
        const QString key = ex::choicesKey(preview.columnNames);
        WritePrivateProfileString("Importzuordnung", key, ex::choicesText(choices), toolIni);
        { OpenTable made(sandbox->file("Werkzeug.db")); }
        QProcess tool;
        tool.start(VELLUMO_TABLE_TOOL,
                   {"import", sandbox->file("Werkzeug.db"), sandbox->file("kunden.csv")});
        const bool finished = tool.waitForFinished(60000);
        DeletePrivateProfileKey("Importzuordnung", key, toolIni);
        QVERIFY(finished);
        QCOMPARE(tool.exitCode(), 0);
        RecordStore imported;
        imported.BindTable(sandbox->file("Werkzeug.db"));
        imported.OpenTableReadOnly();
        QCOMPARE(imported.CountRecords(), 12);
        const int row = rowOf(imported, "Brühl12");
        QCOMPARE(imported.textAt(row, "Telefon1"), "0641 12");
        QCOMPARE(imported.textAt(row, "Memo1"), "KENNUNG: K-12");
#endif
    }

#ifdef VELLUMO_EXCHANGE_WINDOWS
    // "&Importieren …" as the user meets it: the file, then the preview with
    // the columns and the first records; a column sent elsewhere changes the
    // records shown at once, is remembered, and is offered again for the
    // next file with the same columns.
    void previewWindow() {
        QByteArray csv = "FAMNAME;VORNAME;WOHNORT\r\n";
        for (int i = 1; i <= 3; ++i)
            csv += "Brühl" + QByteArray::number(i) + ";Jörg;Gießen\r\n";
        writeFile(sandbox->file("eins.csv"), csv);
        writeFile(sandbox->file("zwei.csv"), "famname;Vorname;Wohnort\r\nKeil;Uta;Bonn\r\n");
        OpenTable table(sandbox->file("Fenster.db"));
        QWidget window;
        window.show();
        QVERIFY(activate(&window));

        auto answerFile = [](const QString& path) {
            return [path](QWidget* modal) {
                auto* dialog = qobject_cast<QFileDialog*>(modal);
                QVERIFY(dialog);
                auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                name->setText(path);
                QTest::keyClick(name, Qt::Key_Return);
            };
        };
        QString report, shownName, firstText;
        auto watch = whenModal([&, file = answerFile(sandbox->file("eins.csv"))](QWidget* m) {
            whenModal([&](QWidget* preview) {
                QCOMPARE(preview->objectName(), "ImportPreview");
                QCOMPARE(preview->windowTitle(), "Importieren – Vorschau");
                auto* records = preview->findChild<QTableWidget*>("Vorschau");
                QCOMPARE(records->rowCount(), 3);
                auto* famname = preview->findChild<QComboBox*>("Spalte0");
                QVERIFY(famname->currentText().startsWith("wie der Name sagt: Bemerkungen"));
                famname->setCurrentIndex(famname->findData("Name"));
                emit famname->activated(famname->currentIndex());
                QCOMPARE(records->horizontalHeaderItem(0)->text(), "Name");
                shownName = records->item(0, 0)->text();
                whenModal([&](QWidget* box) {
                    report = messageText(box);
                    clickButton(box, "OK");
                });
                clickButton(preview, "&Importieren");
            });
            file(m);
        });
        ex::ImportierenClick(table.store, &window);
        QCOMPARE(shownName, "Brühl1");
        QVERIFY2(report.startsWith("Der Import ist beendet.\n3 Adressen hinzugefügt"),
                 qPrintable(report));
        QCOMPARE(table.store.textAt(rowOf(table.store, "Brühl2"), "Ort"), "Gießen");
        watch.cancel();

        // The same columns spelt otherwise: the choice is offered again;
        // "Abbrechen" adds nothing.
        QVERIFY(activate(&window));
        auto again = whenModal([&, file = answerFile(sandbox->file("zwei.csv"))](QWidget* m) {
            whenModal([&](QWidget* preview) {
                firstText = preview->findChild<QComboBox*>("Spalte0")->currentText();
                clickButton(preview, "Abbrechen");
            });
            file(m);
        });
        ex::ImportierenClick(table.store, &window);
        QCOMPARE(firstText, "Name");
        QCOMPARE(table.store.CountRecords(), 3);
        QVERIFY(!GetPrivateProfileString("Importzuordnung",
                                         ex::choicesKey({"FAMNAME", "VORNAME", "WOHNORT"}),
                                         QString(), setupIniPath())
                     .isEmpty());
        again.cancel();
    }
#endif
};

#ifdef VELLUMO_EXCHANGE_WINDOWS
QTEST_MAIN(TestOldFiles)
#else
QTEST_GUILESS_MAIN(TestOldFiles)
#endif
#include "tst_oldfiles.moc"
