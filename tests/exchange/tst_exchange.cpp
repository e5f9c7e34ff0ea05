// Addresses out of and into address tables as vCard and CSV: round trips,
// foreign files, an independent vCard parser, the import's counting, the
// command-line tool and the two menu items of the main window (the last two
// only where the program's windows and the tool's exchange are built).
#include "address/addresstable.h"
#include "addresstables.h"
#include "exchange/exchange.h"
#include "faultfs.h"
#include "fixtures.h"
#include "platform/database/recordstore.h"
#include "platform/paradox/table.h"
#include "platform/pictures/graphicfield.h"
#include "platform/settings/profile.h"
#include "platform/system/system.h"
#include "testsupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <sys/stat.h>

#ifdef VELLUMO_EXCHANGE_WINDOWS
#include "app/hauptformular.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#endif

using namespace vellumo;
using namespace testsupport;
namespace ex = vellumo::exchange;

namespace {

const QDate Today(2024, 3, 15);

QImage testPicture() {
    QImage image(37, 21, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 7, y * 12, (x * y) % 256));
    return image;
}

// Every field set, with what vCard has to escape, fold or encode.
QVariantMap fullAddress() {
    return {
        {"Name", "Müller-Lüdenscheidt"},
        {"Vorname", "Jürgen"},
        {"Strasse", "Hauptstraße 5; Hinterhaus"},
        {"PLZ", "50667"},
        {"Ort", "Köln"},
        {"Land", "Deutschland"},
        {"Telefon1", "0221 123456"},
        {"Telefon2", "+49 171 9876543"},
        {"Fax", "0221 123457"},
        {"Email", "juergen@example.de"},
        {"WWW", "https://www.example.de/pfad?a=1,b=2"},
        {"KontoNr", "1234567890"},
        {"BLZ", "37050198"},
        {"Institut", "Sparkasse KölnBonn"},
        {"Rubrik", "Freunde, Familie"},
        {"Geburtstag", QDate(1961, 2, 28)},
        {"Erstellt", QDate(2001, 7, 4)},
        {"Aenderung", QDate(2019, 11, 30)},
        {"Memo1", "Erste Zeile\nZweite Zeile mit Komma, Semikolon; und \\ Backslash\n"
                  "Ein langer Satz über die Grenze von fünfundsiebzig Oktetten hinaus, mit "
                  "Umlauten äöüÄÖÜß an jeder Stelle, damit die Faltung sie trifft."},
        {"Grafik", pictures::graphicFieldFromImage(testPicture(), nullptr)},
    };
}

void addRecord(RecordStore& store, const QVariantMap& values) {
    store.InsertBlankRecord();
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        store.setFieldValue(it.key(), it.value());
    store.SaveRecord();
}

QByteArray exportAll(const RecordStore& store, ex::Format format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ex::exportRecords(store, format, buffer);
    return bytes;
}

// The fields of an address that do not hold the expected text, each with
// both values, so that one comparison names every field that went astray.
QStringList fieldsDiffering(const ex::Address& address,
                            std::initializer_list<std::pair<const char*, const char*>> expected) {
    QStringList differing;
    for (const auto& [field, value] : expected)
        if (address.text(QString::fromLatin1(field)) != QString::fromUtf8(value))
            differing << QStringLiteral("%1: \"%2\" statt \"%3\"")
                             .arg(QString::fromLatin1(field),
                                  address.text(QString::fromLatin1(field)),
                                  QString::fromUtf8(value));
    return differing;
}

[[maybe_unused]] QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// The unfolded content lines of a vCard text.
QStringList unfolded(const QByteArray& vcard) {
    QByteArray text = vcard;
    text.replace("\r\n ", "");
    return QString::fromUtf8(text).split("\r\n", Qt::SkipEmptyParts);
}

// An open address table; with stamp, every save stamps "Aenderung" as the
// main window does, without it the dates stay as a test sets them.
struct OpenTable {
    explicit OpenTable(const QString& path, bool stamp = true) {
        store.BindTable(path);
        if (stamp)
            store.BeforePost = [this] { store.SetFieldDate("Aenderung", now()); };
        store.OpenTable();
    }
    RecordStore store;
};

} // namespace

class TestExchange : public QObject {
    Q_OBJECT

    std::unique_ptr<Sandbox> sandbox;
    std::unique_ptr<FixedClock> clock;

    // A table in the sandbox holding the full address alone.
    QString tableWithFullAddress(const QString& name) {
        const QString path = sandbox->file(name);
        makeAddressTable(path, {fullAddress()});
        return path;
    }

private slots:
    void init() {
        sandbox = std::make_unique<Sandbox>();
        clock = std::make_unique<FixedClock>(QDateTime(Today, QTime(10, 30)));
    }
    void cleanup() {
        clock.reset();
        sandbox.reset();
    }

    // Table -> vCard -> another table -> vCard: every field comes back, the
    // two vCards are the same bytes, and the lines are folded and escaped.
    void vcardRoundTripKeepsEveryField() {
        makeAddressTable(sandbox->file("Eins.db"));
        makeAddressTable(sandbox->file("Zwei.db"));
        OpenTable one(sandbox->file("Eins.db"), false);
        const QVariantMap full = fullAddress();
        addRecord(one.store, full);
        addRecord(one.store, {{"Name", "Zander"}, {"Erstellt", QDate(2020, 1, 2)}});
        const QByteArray first = exportAll(one.store, ex::Format::VCard);

        for (const QByteArray& line : first.split('\n')) {
            QVERIFY2(line.size() <= 76, line.constData()); // 75 octets and the CR
            QVERIFY(line.isEmpty() || line.endsWith('\r'));
        }
        const QStringList lines = unfolded(first);
        QVERIFY(lines.contains("N:Müller-Lüdenscheidt;Jürgen;;;"));
        QVERIFY(lines.contains("ADR:;;Hauptstraße 5\\; Hinterhaus;Köln;;50667;Deutschland"));
        // "Rubrik" holds a list: each category on its own for other programs.
        QVERIFY(lines.contains("CATEGORIES:Freunde,Familie"));
        QVERIFY(lines.contains("REV:2019-11-30"));
        QVERIFY(lines.contains("X-VELLUMO-BLZ:37050198"));
        QVERIFY(lines.filter(QRegularExpression("^PHOTO;ENCODING=b;TYPE=PNG:iVBORw0KGgo")).size() ==
                1);

        OpenTable two(sandbox->file("Zwei.db"));
        const ex::ImportResult result =
            ex::importAddresses(two.store, ex::readVCards(first), ex::Format::VCard);
        QCOMPARE(result.added, 2);
        QCOMPARE(result.skipped + result.refused, 0);
        // The second card gained today's REV on its first save; the first is unchanged.
        const QByteArray second = exportAll(two.store, ex::Format::VCard);
        const qsizetype end = first.indexOf("END:VCARD\r\n") + 11;
        QCOMPARE(second.left(end), first.left(end));
        QVERIFY(unfolded(second.mid(end)).contains("REV:2024-03-15"));

        const ex::Address back = ex::addressAt(two.store, 0);
        for (const QString& field : ex::addressFieldNames()) {
            if (field == "Grafik")
                continue;
            QCOMPARE(back.values.value(field), full.value(field));
        }
        const QImage picture = pictures::imageFromGraphicField(back.values["Grafik"].toByteArray());
        QCOMPARE(picture.convertToFormat(QImage::Format_RGB32), testPicture());
        // A record without dates of its own is stamped today, as a typed one.
        QCOMPARE(ex::addressAt(two.store, 1).date("Aenderung"), Today);
        QCOMPARE(ex::addressAt(two.store, 1).date("Erstellt"), QDate(2020, 1, 2));
    }

    // Cards as other programs write them: 2.1 with quoted-printable and
    // ISO-8859-1, soft line breaks, folded lines cutting a UTF-8 sequence,
    // escaped commas, grouped properties, 4.0 telephone URIs.
    void foreignCardsReadRight() {
        const QByteArray file =
            "BEGIN:VCARD\r\n"
            "VERSION:2.1\r\n"
            "N;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;J=FCrgen\r\n"
            "FN;CHARSET=ISO-8859-1:J\xFCrgen M\xFCller\r\n"
            "ADR;HOME;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:;;Hauptstra=DFe 1;K=F6ln;;"
            "50667;Deutschland\r\n"
            "TEL;WORK;VOICE:0221 1\r\n"
            "TEL;CELL:0171 2\r\n"
            "TEL;HOME;FAX:0221 3\r\n"
            "EMAIL;PREF;INTERNET:j@example.de\r\n"
            "NOTE;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:Gr=FC=DFe=0D=0Aaus K=F6ln, =\r\n"
            "bis bald\r\n"
            "BDAY:19610228\r\n"
            "END:VCARD\r\n"
            "\r\n"
            "BEGIN:VCARD\r\n"
            "VERSION:3.0\r\n"
            "N:Schmidt\\, geb. Kr\xC3\r\n"
            " \xA4mer;Anna;;;\r\n"
            "item1.ADR;TYPE=WORK:;;Am Markt 1\\, 2. Stock;Berlin;;10115;\r\n"
            "CATEGORIES:Kunden,Berlin\r\n"
            "BDAY:1970-05-17T00:00:00Z\r\n"
            "END:VCARD\r\n"
            "BEGIN:VCARD\r\n"
            "VERSION:4.0\r\n"
            "FN:Firma Beispiel GmbH\r\n"
            "TEL;VALUE=uri;TYPE=\"voice,work\":tel:+49-30-1234\r\n"
            "END:VCARD\r\n";
        const std::vector<ex::Address> cards = ex::readVCards(file);
        QCOMPARE(cards.size(), std::size_t(3));
        for (const ex::Address& card : cards)
            QCOMPARE(card.problem, QString());

        const ex::Address& a = cards[0];
        QCOMPARE(a.origin, 1);
        QCOMPARE(a.text("Name"), "Müller");
        QCOMPARE(a.text("Vorname"), "Jürgen");
        QCOMPARE(a.text("Strasse"), "Hauptstraße 1");
        QCOMPARE(a.text("Ort"), "Köln");
        QCOMPARE(a.text("PLZ"), "50667");
        QCOMPARE(a.text("Land"), "Deutschland");
        QCOMPARE(a.text("Telefon1"), "0221 1");
        QCOMPARE(a.text("Telefon2"), "0171 2");
        QCOMPARE(a.text("Fax"), "0221 3");
        QCOMPARE(a.text("Email"), "j@example.de");
        QCOMPARE(a.text("Memo1"), "Grüße\naus Köln, bis bald");
        QCOMPARE(a.date("Geburtstag"), QDate(1961, 2, 28));

        const ex::Address& b = cards[1];
        QCOMPARE(b.text("Name"), "Schmidt, geb. Krämer");
        QCOMPARE(b.text("Strasse"), "Am Markt 1, 2. Stock");
        QCOMPARE(b.text("Rubrik"), "Kunden, Berlin");
        QCOMPARE(b.date("Geburtstag"), QDate(1970, 5, 17));

        QCOMPARE(cards[2].text("Name"), "Firma Beispiel GmbH");
        QCOMPARE(cards[2].text("Telefon1"), "+49-30-1234");

        // A card cut off is refused; an impossible date is left out and listed, not guessed.
        const std::vector<ex::Address> broken =
            ex::readVCards("BEGIN:VCARD\nVERSION:3.0\nN:A;;;;\nBDAY:1970-13-45\nEND:VCARD\n"
                           "BEGIN:VCARD\nVERSION:3.0\nN:B;;;;\n");
        QCOMPARE(broken.size(), std::size_t(2));
        QCOMPARE(broken[0].problem, QString());
        QVERIFY(!broken[0].values.contains("Geburtstag"));
        QVERIFY(broken[0].changes.join("").contains("1970-13-45"));
        QVERIFY(broken[1].problem.contains("END:VCARD"));
    }

    // What phones and mail programs use to read vCards must read ours.
    void independentParserReadsOurCards() {
        const QString python = "/usr/bin/python3";
        if (QProcess::execute(python, {"-c", "import vobject"}) != 0)
            QSKIP("python3-vobject is not installed (scripts/install-deps.sh installs it)");
        makeAddressTable(sandbox->file("Eins.db"));
        OpenTable one(sandbox->file("Eins.db"));
        addRecord(one.store, fullAddress());
        addRecord(one.store, {{"Name", "Zander"}, {"Vorname", "Kurt"}});
        writeFile(sandbox->file("out.vcf"), exportAll(one.store, ex::Format::VCard));

        const char* script = R"(
import json, sys, vobject
cards = []
with open(sys.argv[1], encoding="utf-8", newline="") as f:
    for c in vobject.readComponents(f.read()):
        d = {"family": c.n.value.family, "given": c.n.value.given, "fn": c.fn.value}
        if hasattr(c, "adr"):
            a = c.adr.value
            d["adr"] = [a.street, a.city, a.code, a.country]
        d["tel"] = [t.value for t in c.contents.get("tel", [])]
        d["note"] = c.note.value if hasattr(c, "note") else ""
        d["categories"] = c.categories.value if hasattr(c, "categories") else []
        d["png"] = hasattr(c, "photo") and c.photo.value[:4] == b"\x89PNG"
        d["blz"] = c.contents["x-vellumo-blz"][0].value if "x-vellumo-blz" in c.contents else ""
        d["uid"] = c.uid.value
        cards.append(d)
print(json.dumps(cards))
)";
        QProcess parser;
        parser.start(python, {"-c", script, sandbox->file("out.vcf")});
        QVERIFY(parser.waitForFinished(30000));
        QVERIFY2(parser.exitCode() == 0, parser.readAllStandardError().constData());
        const QJsonArray cards = QJsonDocument::fromJson(parser.readAllStandardOutput()).array();
        QCOMPARE(cards.size(), 2);
        const QJsonObject a = cards[0].toObject();
        const QVariantMap full = fullAddress();
        QCOMPARE(a["family"].toString(), full["Name"].toString());
        QCOMPARE(a["given"].toString(), "Jürgen");
        QCOMPARE(a["fn"].toString(), "Jürgen Müller-Lüdenscheidt");
        QCOMPARE(a["adr"].toArray().toVariantList(),
                 QVariantList({"Hauptstraße 5; Hinterhaus", "Köln", "50667", "Deutschland"}));
        QCOMPARE(a["tel"].toArray().toVariantList(),
                 QVariantList({"0221 123456", "+49 171 9876543", "0221 123457"}));
        QCOMPARE(a["note"].toString(), full["Memo1"].toString());
        QCOMPARE(a["categories"].toArray().toVariantList(), QVariantList({"Freunde", "Familie"}));
        QVERIFY(a["png"].toBool());
        QCOMPARE(a["blz"].toString(), "37050198");
        QCOMPARE(cards[1].toObject()["fn"].toString(), "Kurt Zander");
        // Every card has a UID of its own, the same again on the next export.
        const QString uid = a["uid"].toString();
        QVERIFY(!uid.isEmpty() && uid != cards[1].toObject()["uid"].toString());
        QVERIFY(unfolded(exportAll(one.store, ex::Format::VCard)).contains("UID:" + uid));
    }

    // A sheet saved by a German spreadsheet program: semicolons, Windows-1252,
    // its own column names and order, a quoted cell with a line break. Our
    // own CSV of the result reads back the same.
    void spreadsheetCsvImports() {
        const QByteArray sheet = "Vorname;Name;Stra\xDF"
                                 "e;PLZ;Ort;Geburtstag;Bemerkungen;Spalte ohne Feld\r\n"
                                 "J\xFCrgen;M\xFCller;Hauptstra\xDF"
                                 "e 1;50667;K\xF6ln;28.02.1961;\"Preis: 5 \x80; \"\"gut\"\"\r\n"
                                 "zweite Zeile\";x\r\n"
                                 ";;;;;;;\r\n"
                                 "Anna;Zander;;;Bonn;1970-05-17;;\r\n";
        const std::vector<ex::Address> rows = ex::readCsv(sheet);
        QCOMPARE(rows.size(), std::size_t(2));
        QCOMPARE(rows[0].origin, 2);
        QCOMPARE(rows[1].origin, 5);

        makeAddressTable(sandbox->file("Eins.db"));
        OpenTable one(sandbox->file("Eins.db"));
        const ex::ImportResult result = ex::importAddresses(one.store, rows, ex::Format::Csv);
        QCOMPARE(result.added, 2);
        const ex::Address a = ex::addressAt(one.store, 0);
        QCOMPARE(a.text("Name"), "Müller");
        QCOMPARE(a.text("Vorname"), "Jürgen");
        QCOMPARE(a.text("Strasse"), "Hauptstraße 1");
        QCOMPARE(a.text("Ort"), "Köln");
        QCOMPARE(a.date("Geburtstag"), QDate(1961, 2, 28));
        // A column without a field of its own goes into the notes.
        QCOMPARE(a.text("Memo1"), "Preis: 5 €; \"gut\"\nzweite Zeile\nSpalte ohne Feld: x");
        QCOMPARE(ex::addressAt(one.store, 1).date("Geburtstag"), QDate(1970, 5, 17));

        const QByteArray ours = exportAll(one.store, ex::Format::Csv);
        QVERIFY(ours.startsWith("Name,Vorname,Strasse,PLZ,Ort,Land,"));
        const std::vector<ex::Address> again = ex::readCsv(ours);
        QCOMPARE(again.size(), std::size_t(2));
        for (const QString& field : ex::addressFieldNames())
            if (field != "Grafik")
                QCOMPARE(again[0].values.value(field), a.values.value(field));

        QVERIFY(!ex::readCsv("Spalte1;Spalte2\r\na;b\r\n").front().problem.isEmpty());
    }

    // Duplicates are skipped and named by the table's key; a value too long
    // for its field is cut and kept whole in the notes, a character the code
    // page lacks is transliterated, each listed with its card; only a card
    // with nothing usable is refused. A cancel keeps what was added, on disk.
    void importCountsSkipsAndRefusals() {
        makeAddressTable(sandbox->file("Eins.db"));
        auto one = std::make_unique<OpenTable>(sandbox->file("Eins.db"));
        addRecord(one->store, {{"Name", "Meier"}, {"Vorname", "Anna"}, {"Ort", "Bonn"}});
        const QByteArray file = "BEGIN:VCARD\nVERSION:3.0\nN:Meier;Anna;;;\nADR:;;;Bonn;;;\n"
                                "END:VCARD\n"                                          // 1
                                "BEGIN:VCARD\nVERSION:3.0\nN:Neu;Nina;;;\nEND:VCARD\n" // 2
                                "BEGIN:VCARD\nVERSION:3.0\nN:Lang;;;;\nADR:;;;Ort;;123456;\n"
                                "END:VCARD\n"                                          // 3
                                "BEGIN:VCARD\nVERSION:3.0\nN:Neu;Nina;;;\nEND:VCARD\n" // 4
                                "BEGIN:VCARD\nVERSION:3.0\nN:Nowak;\xC5\x81ukasz;;;\n"
                                "END:VCARD\n"                                           // 5
                                "BEGIN:VCARD\nVERSION:3.0\nEND:VCARD\n"                 // 6
                                "BEGIN:VCARD\nVERSION:3.0\nN:Zuletzt;;;;\nEND:VCARD\n"; // 7
        const ex::ImportResult result =
            ex::importAddresses(one->store, ex::readVCards(file), ex::Format::VCard);
        QCOMPARE(result.added, 4);
        QCOMPARE(result.changed, 2);
        QCOMPARE(result.skipped, 2);
        QCOMPARE(result.refused, 1);
        QCOMPARE(result.cards.size(), std::size_t(7));
        QCOMPARE(result.cards[0].lines.first(),
                 "schon vorhanden (gleicher Schlüssel (Name, Vorname, Strasse, PLZ, Ort)), "
                 "übersprungen");
        QCOMPARE(result.cards[2].outcome, ex::Outcome::AddedWithChanges);
        QVERIFY(result.cards[2].lines.first().startsWith("PLZ \"123456\" auf 5 Zeichen gekürzt"));
        QCOMPARE(result.cards[4].outcome, ex::Outcome::AddedWithChanges);
        QCOMPARE(result.cards[4].lines.first(),
                 "Vorname: \"Łukasz\" als \"Lukasz\" gespeichert (Zeichen, die die Tabelle nicht "
                 "speichern kann)");
        QCOMPARE(result.cards[5].outcome, ex::Outcome::Refused);
        QCOMPARE(result.cards[5].lines, QStringList{"keine Angaben"});
        const QString summary = ex::summaryText(result);
        QVERIFY2(summary.startsWith("Der Import ist beendet.\n4 Adressen hinzugefügt (davon 2 mit "
                                    "Änderungen), 2 übersprungen (schon vorhanden), 1 abgewiesen."),
                 qPrintable(summary));
        const QString details = ex::detailsText(result);
        QVERIFY(details.startsWith("Karte 1: übersprungen\n  schon vorhanden"));
        QVERIFY(details.contains("Karte 7: hinzugefügt\n"));
        QCOMPARE(one->store.CountRecords(), 5);
        one->store.SetFilterText("Name = 'Lang'");
        one->store.SetFilterActive(true);
        QCOMPARE(one->store.fieldText("PLZ"), "12345");
        QCOMPARE(one->store.fieldText("Memo1"), "PLZ: 123456");
        one->store.SetFilterActive(false);

        // Cancelled after two: those two stay, also for the next reader.
        std::vector<ex::Address> more;
        for (const char* name : {"Erster", "Zweiter", "Dritter"}) {
            ex::Address a;
            a.values.insert("Name", QString(name));
            a.origin = int(more.size()) + 1;
            more.push_back(a);
        }
        const ex::ImportResult cancelled = ex::importAddresses(
            one->store, more, ex::Format::Csv, [](int done, int) { return done < 2; });
        QVERIFY(cancelled.cancelled);
        QCOMPARE(cancelled.added, 2);
        QVERIFY(ex::summaryText(cancelled).startsWith("Der Import wurde abgebrochen."));
        one.reset();
        OpenTable reopened(sandbox->file("Eins.db"));
        QCOMPARE(reopened.store.CountRecords(), 7);
    }

    // Cards as phones and other programs write them all arrive, and the report
    // says what became of each: an unfinished card ends where the next one
    // begins; a card without a name is named by what it holds; a namesake
    // gets a number after "Vorname" in a table keyed on "Name, Vorname"; what
    // has no field goes into "Bemerkungen"; only a card some record holds
    // whole is "schon vorhanden", so importing the file again adds nothing.
    void importKeepsEveryPerson() {
        RecordStore store;
        store.BindTable(sandbox->file("Zwei.db"));
        DeclareAddressTable(store, "Zwei");
        store.ClearIndexDeclarations();
        store.DeclareIndex("Zwei", "Name;Vorname", RecordStore::Primary);
        store.CreateTableFile();
        store.OpenTable();
        addRecord(store, {{"Name", "Müller"}, {"Vorname", "Hans"}, {"Ort", "Köln"}});
        const QByteArray file =
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Abgebrochen;Anna;;;\r\nTEL:0221 1\r\n" // 1
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Gut;Gustav;;;\r\nEND:VCARD\r\n"        // 2
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;;;;\r\nFN:\r\nEMAIL:a@example.org\r\n"
            "UID:abc-1\r\nEND:VCARD\r\n" // 3
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;;;;\r\nFN:\r\nEMAIL:b@example.org\r\n"
            "END:VCARD\r\n" // 4
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Müller;Hans;;;\r\nADR:;;;Berlin;;;\r\nEND:"
            "VCARD\r\n" // 5
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Müller;Hans;;;\r\nADR:;;;Köln;;;\r\nEND:"
            "VCARD\r\n" // 6
            "BEGIN:VCARD\r\nVERSION:4.0\r\nN:Schmidt;Eva;;;\r\nGENDER:F\r\n"
            "ANNIVERSARY:19930612\r\nX-FOO:bar\r\nEND:VCARD\r\n"                          // 7
            "BEGIN:VCARD\r\nVERSION:3.0\r\nORG:Firma GmbH\r\nTEL:0800 1\r\nEND:VCARD\r\n" // 8
            "BEGIN:VCARD\r\nVERSION:3.0\r\nTEL:0171 2\r\nEND:VCARD\r\n";                  // 9
        const ex::ImportResult first =
            ex::importAddresses(store, ex::readVCards(file), ex::Format::VCard);
        QCOMPARE(first.cards.size(), std::size_t(9));
        QCOMPARE(first.added, 8);
        QCOMPARE(first.skipped, 1);
        QCOMPARE(first.refused, 0);
        const auto linesOf = [&](int card) { return first.cards[std::size_t(card - 1)].lines; };
        QVERIFY2(linesOf(1).contains("Die Karte endet ohne END:VCARD; gelesen wurde sie bis zum "
                                     "Beginn der nächsten"),
                 qPrintable(linesOf(1).join('|')));
        QCOMPARE(first.cards[1].outcome, ex::Outcome::Added);
        QVERIFY(linesOf(3).contains("Name aus der E-Mail-Adresse: \"a@example.org\""));
        QVERIFY(linesOf(3).contains(
            "Die UID der Karte (abc-1) wurde nicht übernommen: die Tabelle hat kein Feld „UID“"));
        QVERIFY(linesOf(4).contains("Name aus der E-Mail-Adresse: \"b@example.org\""));
        QCOMPARE(linesOf(5).first(), "Ein anderer Datensatz hat dieselben Schlüsselfelder (Name, "
                                     "Vorname); hinzugefügt mit Vorname \"Hans (2)\"");
        QCOMPARE(first.cards[5].outcome, ex::Outcome::Skipped);
        QCOMPARE(linesOf(6).first(),
                 "schon vorhanden (gleicher Schlüssel (Name, Vorname)), übersprungen");
        QVERIFY(linesOf(7).contains("In die Bemerkungen übernommen: Geschlecht: weiblich"));
        QVERIFY(linesOf(7).contains("Die Angabe X-FOO (\"bar\") hat kein Feld und wurde "
                                    "weggelassen"));
        QVERIFY(linesOf(8).contains("Name aus der Firma: \"Firma GmbH\""));
        QVERIFY(linesOf(9).contains("Name aus der Telefonnummer: \"0171 2\""));
        QVERIFY(!ex::detailsText(first).contains("Notizen"));
        QVERIFY(!ex::detailsText(first).contains("Memo1"));

        QStringList names;
        for (int row = 0; row < store.visibleCount(); ++row)
            names << store.textAt(row, "Name") + "|" + store.textAt(row, "Vorname") + "|" +
                         store.textAt(row, "Ort");
        names.sort();
        QCOMPARE(names, (QStringList{"0171 2||", "Abgebrochen|Anna|", "Firma GmbH||", "Gut|Gustav|",
                                     "Müller|Hans (2)|Berlin", "Müller|Hans|Köln", "Schmidt|Eva|",
                                     "a@example.org||", "b@example.org||"}));
        store.SetFilterText("Name = 'Schmidt'");
        store.SetFilterActive(true);
        QCOMPARE(store.fieldText("Memo1"), "Geschlecht: weiblich\nJahrestag: 12.06.1993");
        store.SetFilterActive(false);

        const ex::ImportResult again =
            ex::importAddresses(store, ex::readVCards(file), ex::Format::VCard);
        QCOMPARE(again.added, 0);
        QCOMPARE(again.skipped, 9);
        QCOMPARE(store.CountRecords(), 9);
        store.CloseTableAtShutdown();
    }

    // A card keeps its UID while the person moves: on a table never linked
    // it comes from name, first name and "Erstellt", not from the key.
    void exportedUidStaysWhenThePersonMoves() {
        makeAddressTable(sandbox->file("Umzug.db"), {{{"Name", "Berg"},
                                                      {"Vorname", "Ute"},
                                                      {"Strasse", "Altweg 1"},
                                                      {"Ort", "Bonn"},
                                                      {"Telefon1", "0228 1"},
                                                      {"Erstellt", QDate(2010, 1, 2)}},
                                                     {{"Name", "Berg"},
                                                      {"Vorname", "Ute"},
                                                      {"Strasse", "Zollweg 9"},
                                                      {"Ort", "Bonn"},
                                                      {"Erstellt", QDate(2012, 3, 4)}}});
        OpenTable table(sandbox->file("Umzug.db"));
        const auto uids = [&] {
            QStringList found = unfolded(exportAll(table.store, ex::Format::VCard))
                                    .filter(QRegularExpression("^UID:"));
            found.sort();
            return found;
        };
        const QStringList before = uids();
        QCOMPARE(before.size(), 2);
        QVERIFY(before[0] != before[1]);
        table.store.GoToFirst();
        table.store.BeginEdit();
        table.store.SetFieldText("Strasse", "Zypressenweg 2"); // now last in key order
        table.store.SetFieldText("Ort", "Köln");
        table.store.SetFieldText("Telefon1", "0221 9");
        table.store.SetFieldText("Email", "ute@example.de");
        table.store.SaveRecord();
        QCOMPARE(uids(), before);
    }

    // vellumo-table export and import, and the refusal of a table in use.
    void commandLineTool() {
#ifndef VELLUMO_EXCHANGE_WINDOWS
        QSKIP("the windows and the tool's exchange commands are not in this build");
#else
        tableWithFullAddress("Eins.db");
        QProcess tool;
        tool.start(VELLUMO_TABLE_TOOL, {"export", "--vcard", sandbox->file("Eins.db")});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 0);
        const QByteArray vcard = tool.readAllStandardOutput();
        QVERIFY(unfolded(vcard).contains("N:Müller-Lüdenscheidt;Jürgen;;;"));
        writeFile(sandbox->file("karten.vcf"), vcard);

        // A name with another extension is not made into a table.
        tool.start(VELLUMO_TABLE_TOOL, {"create", sandbox->file("neu.vcf")});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 2);
        QVERIFY(!QFileInfo::exists(sandbox->file("neu.vcf")));

        makeAddressTable(sandbox->file("Zwei.db"));
        {
            OpenTable busy(sandbox->file("Zwei.db")); // holds the write lock
            tool.start(VELLUMO_TABLE_TOOL,
                       {"import", sandbox->file("Zwei.db"), sandbox->file("karten.vcf")});
            QVERIFY(tool.waitForFinished(30000));
            QCOMPARE(tool.exitCode(), 2);
            QVERIFY(!tool.readAllStandardError().isEmpty());
            QCOMPARE(busy.store.CountRecords(), 0);
        }
        tool.start(VELLUMO_TABLE_TOOL,
                   {"import", sandbox->file("Zwei.db"), sandbox->file("karten.vcf")});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 0);
        QVERIFY(QString::fromUtf8(tool.readAllStandardOutput()).contains("1 Adresse hinzugefügt"));

        tool.start(VELLUMO_TABLE_TOOL,
                   {"export", "--csv", sandbox->file("Zwei.db"), sandbox->file("aus.csv")});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 0);
        QCOMPARE(ex::readCsv(readFile(sandbox->file("aus.csv"))).front().text("Institut"),
                 "Sparkasse KölnBonn");

        // A named pipe gets the addresses and stays a pipe; a directory is refused.
        const QString pipe = sandbox->file("aus.pipe");
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        tool.start(VELLUMO_TABLE_TOOL, {"export", "--csv", sandbox->file("Zwei.db"), pipe});
        QFile reader(pipe);
        QVERIFY(reader.open(QIODevice::ReadOnly)); // until the tool opens it for writing
        const QByteArray piped = reader.readAll();
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 0);
        QCOMPARE(piped, readFile(sandbox->file("aus.csv")));
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(pipe).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
        tool.start(VELLUMO_TABLE_TOOL,
                   {"export", "--csv", sandbox->file("Zwei.db"), sandbox->path()});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 2);
        QVERIFY(QString::fromUtf8(tool.readAllStandardError()).contains("Verzeichnis"));
        QVERIFY(QFileInfo(sandbox->path()).isDir());
#endif
    }

    // The main window's two menu items, end to end: where they stand, that
    // they follow the table, an import with its summary, a filtered export.
    void mainWindowMenuItems() {
#ifndef VELLUMO_EXCHANGE_WINDOWS
        QSKIP("the windows and the tool's exchange commands are not in this build");
#else
        resetSettingsLocation();
        makeAddressTable(sandbox->file("Kunden.db"));
        {
            OpenTable table(sandbox->file("Kunden.db"));
            addRecord(table.store, {{"Name", "Meier"}, {"Vorname", "Anna"}, {"Ort", "Bonn"}});
        }
        writeFile(
            sandbox->file("neu.vcf"),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Meier;Anna;;;\r\nADR:;;;Bonn;;;\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Zander;Kurt;;;\r\nADR:;;;Köln;;;\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Ohm;Udo;;;\r\nADR:;;;Bonn;;;\r\nEND:VCARD\r\n");
        WritePrivateProfileString("Standardtabelle", "FileName", sandbox->file("Kunden.db"),
                                  setupIniPath());
        THauptformular window;
        window.show();
        QVERIFY(activate(&window));

        auto* datei = window.findChild<QMenu*>("Datei1");
        QStringList items;
        for (QAction* action : datei->actions())
            items << action->text();
        const qsizetype list = items.indexOf("&Liste drucken");
        QCOMPARE(items.mid(list, 5),
                 QStringList({"&Liste drucken", "E&tiketten drucken …", "Se&rienbrief …",
                              "E&xportieren …", "&Importieren …"}));
        auto* exportItem = window.findChild<QAction*>("Exportieren");
        auto* importItem = window.findChild<QAction*>("Importieren");

        auto openMenu = [&] {
            QVERIFY(activate(&window));
            QTest::keyClick(&window, Qt::Key_D, Qt::AltModifier);
            QTRY_VERIFY(QApplication::activePopupWidget() == datei);
        };
        QString proposed; // the name the dialog offered
        auto fileAnswer = [&proposed](const QString& path) {
            return [path, &proposed](QWidget* modal) {
                auto* dialog = qobject_cast<QFileDialog*>(modal);
                QVERIFY(dialog);
                auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                QVERIFY(name);
                proposed = name->text();
                name->setText(path);
                QTest::keyClick(name, Qt::Key_Return);
            };
        };
        QString summary;
        QString statusBehindBox; // what the status label says while the box is up
        auto* status = window.findChild<QLabel*>("StatusLabel");
        auto answerFileThenBox = [&](const QString& path) {
            summary.clear();
            return whenModal([&, path, answer = fileAnswer(path)](QWidget* modal) {
                whenModal([&](QWidget* box) {
                    summary = messageText(box);
                    statusBehindBox = status->text();
                    clickButton(box, "OK");
                });
                answer(modal);
            });
        };

        window.DisableTableControls();
        openMenu();
        QVERIFY(!exportItem->isEnabled() && !importItem->isEnabled());
        QTest::keyClick(datei, Qt::Key_Escape);
        window.EnableTableControls();

        auto importWatch = answerFileThenBox(sandbox->file("neu.vcf"));
        openMenu();
        QVERIFY(exportItem->isEnabled() && importItem->isEnabled());
        QTest::keyClick(datei, Qt::Key_I);
        QTRY_VERIFY(!summary.isEmpty());
        QCOMPARE(summary, "Der Import ist beendet.\n2 Adressen hinzugefügt, 1 übersprungen "
                          "(schon vorhanden), 0 abgewiesen.\nWas gekürzt, in die Bemerkungen "
                          "übernommen oder weggelassen wurde, nennen die Details.");
        QCOMPARE(window.Datentabelle.CountRecords(), 3);
        QVERIFY2(statusBehindBox.endsWith("/3"), qPrintable(statusBehindBox));

        // Only the records the filter lets through go out. "E" stays the
        // letter of "&Ende" alone; the export has "X".
        window.Datentabelle.SetFilterText("Ort = 'Bonn'");
        window.Datentabelle.SetFilterActive(true);
        auto exportWatch = answerFileThenBox(sandbox->file("aus.vcf"));
        openMenu();
        QTest::keyClick(datei, Qt::Key_X);
        QTRY_COMPARE(summary, "2 Adressen wurden in aus.vcf gespeichert.");
        QCOMPARE(proposed, "Kunden.vcf");
        const std::vector<ex::Address> out = ex::readVCards(readFile(sandbox->file("aus.vcf")));
        QCOMPARE(out.size(), std::size_t(2));
        QCOMPARE(out[0].text("Name"), "Meier");
        QCOMPARE(out[1].text("Name"), "Ohm");
        importWatch.cancel();
        exportWatch.cancel();
#endif
    }

    // A phone's card as phones write it: seven numbers, two addresses, two
    // e-mail addresses (one longer than its field), company, title, nickname,
    // a birthday without a year, a bad REV and a photo as bare base64. Every
    // value arrives in a field or in the notes, and the report says what
    // changed. With it, a name in Hangul and a ZIP+4 postcode.
    void phoneCardKeepsEveryValue() {
        QByteArray png;
        {
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            QVERIFY(testPicture().save(&buffer, "PNG"));
        }
        QByteArray photo = "PHOTO:";
        const QByteArray base64 = png.toBase64();
        for (qsizetype i = 0; i < base64.size(); i += 70)
            photo += (i == 0 ? "" : "\r\n ") + base64.mid(i, 70);
        const QByteArray file =
            "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//Phone//Contacts 17.0//EN\r\n"
            "N:Kim;Min-jun;;;\r\nFN:Min-jun Kim\r\nNICKNAME:Minnie\r\n"
            "ORG:Beispiel GmbH;Vertrieb\r\nTITLE:Leiterin\r\n"
            "TEL;type=CELL;type=VOICE;type=pref:+49 171 1111111\r\n"
            "TEL;type=IPHONE;type=CELL;type=VOICE:+49 172 2222222\r\n"
            "TEL;type=HOME;type=VOICE:0421 333333\r\n"
            "TEL;type=WORK;type=VOICE:0421 444444\r\n"
            "TEL;type=WORK;type=FAX:0421 555555\r\n"
            "TEL;type=HOME;type=FAX:0421 666666\r\n"
            "TEL;type=MAIN:0421 777777\r\n"
            "EMAIL;type=INTERNET;type=HOME;type=pref:minjun.kim.privat@beispiel-mail.de\r\n"
            "EMAIL;type=INTERNET;type=WORK:kim@beispiel.de\r\n"
            "item1.ADR;type=HOME;type=pref:;;Am Deich 5;Bremen;;28199;Deutschland\r\n"
            "item2.ADR;type=WORK:;;1 Infinite Loop;Cupertino;CA;95014-2083;USA\r\n"
            "URL:https://beispiel.de\r\nURL;type=WORK:https://firma.beispiel.de\r\n"
            "BDAY:--0517\r\nREV:kaputt\r\n" +
            photo +
            "\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:\xEA\xB9\x80;\xEB\xAF\xBC\xEC\xA4\x80;;;\r\n"
            "ADR:;;Stevens Creek Blvd 1;Cupertino;CA;95014-2083;USA\r\nEND:VCARD\r\n";

        makeAddressTable(sandbox->file("Eins.db"));
        OpenTable one(sandbox->file("Eins.db"));
        const ex::ImportResult result =
            ex::importAddresses(one.store, ex::readVCards(file), ex::Format::VCard);
        QCOMPARE(result.added, 2);
        QCOMPARE(result.changed, 2);
        QCOMPARE(result.refused + result.skipped, 0);

        one.store.SetFilterText("Name = 'Kim'");
        one.store.SetFilterActive(true);
        QCOMPARE(one.store.CountRecords(), 1);
        const ex::Address kim = ex::addressAt(one.store, 0);
        QCOMPARE(kim.text("Vorname"), "Min-jun");
        QCOMPARE(kim.text("Telefon1"), "+49 171 1111111");
        QCOMPARE(kim.text("Telefon2"), "+49 172 2222222");
        QCOMPARE(kim.text("Fax"), "0421 555555");
        QCOMPARE(kim.text("Strasse"), "Am Deich 5");
        QCOMPARE(kim.text("Ort"), "Bremen");
        QCOMPARE(kim.text("WWW"), "https://beispiel.de");
        QCOMPARE(kim.text("Email"), "minjun.kim.privat@beispiel-mai");
        QCOMPARE(kim.date("Geburtstag"), QDate(vellumo::address::kYearUnknown, 5, 17));
        QCOMPARE(kim.date("Aenderung"), Today);
        QCOMPARE(pictures::imageFromGraphicField(kim.values["Grafik"].toByteArray())
                     .convertToFormat(QImage::Format_RGB32),
                 testPicture());
        const QStringList notes = kim.text("Memo1").split('\n');
        for (const char* line :
             {"Telefon (Privat): 0421 333333", "Telefon (Arbeit): 0421 444444",
              "Fax (Privat): 0421 666666", "Telefon (Zentrale): 0421 777777",
              "E-Mail (Arbeit): kim@beispiel.de", "Email: minjun.kim.privat@beispiel-mail.de",
              "Adresse (Arbeit): 1 Infinite Loop, 95014-2083 Cupertino, CA, USA",
              "Firma: Beispiel GmbH, Vertrieb", "Position: Leiterin", "Spitzname: Minnie",
              "Internet (Arbeit): https://firma.beispiel.de"})
            QVERIFY2(notes.contains(QString::fromUtf8(line)), line);
        const QString report = result.cards[0].lines.join('\n');
        QVERIFY2(report.contains("REV) \"kaputt\" ist kein gültiges Datum und wurde weggelassen"),
                 qPrintable(report));
        QVERIFY(report.contains("Email \"minjun.kim.privat@beispiel-mail.de\" auf 30 Zeichen "
                                "gekürzt, vollständig in den Bemerkungen"));

        // The birthday without a year goes out without one again.
        const QStringList lines = unfolded(exportAll(one.store, ex::Format::VCard));
        QVERIFY(lines.contains("BDAY:--0517"));

        // Hangul in Latin letters, listed; the ZIP+4 cut and kept whole.
        one.store.SetFilterActive(false);
        const ex::Address hangul = ex::addressAt(one.store, 0).text("Name") == "Kim"
                                       ? ex::addressAt(one.store, 1)
                                       : ex::addressAt(one.store, 0);
        QVERIFY(!hangul.text("Name").isEmpty());
        for (const QChar c : hangul.text("Name") + hangul.text("Vorname"))
            QVERIFY2(c.unicode() < 0x80, qPrintable(hangul.text("Name")));
        QCOMPARE(hangul.text("PLZ"), "95014");
        QVERIFY(hangul.text("Memo1").split('\n').contains("PLZ: 95014-2083"));
        QVERIFY(result.cards[1].lines.join('\n').contains("als \"" + hangul.text("Name") + "\""));
    }

    // Header rows of Google Contacts and of a German and an English mail
    // program: phones, e-mail addresses, streets and towns reach the right
    // fields; the German "Ort" (the office) does not become the town, nor
    // "Konto" a bank account; the rest goes into the notes.
    void mailProgramCsvHeaders() {
        QStringList columns;
        const std::vector<ex::Address> google = ex::readCsv(
            "Name,Given Name,Additional Name,Family Name,Birthday,Notes,Group Membership,"
            "E-mail 1 - Type,E-mail 1 - Value,E-mail 2 - Type,E-mail 2 - Value,Phone 1 - Type,"
            "Phone 1 - Value,Phone 2 - Type,Phone 2 - Value,Address 1 - Type,"
            "Address 1 - Formatted,Address 1 - Street,Address 1 - City,Address 1 - Region,"
            "Address 1 - Postal Code,Address 1 - Country,Organization 1 - Name\r\n"
            "Anna Berg,Anna,,Berg,1980-02-29,Notiz,* myContacts,* Home,anna@example.org,Work,"
            "berg@firma.example,Mobile,+49 170 1 ::: +49 170 2 ::: +49 170 3,Work Fax,0421 9,Home,"
            "\"Weg 1\nBremen\",Weg 1,Bremen,HB,28195,Deutschland,Firma AG\r\n",
            &columns);
        QCOMPARE(google.size(), std::size_t(1));
        const ex::Address& g = google[0];
        QCOMPARE(fieldsDiffering(g, {{"Name", "Berg"},
                                     {"Vorname", "Anna"},
                                     {"Email", "anna@example.org"},
                                     {"Telefon1", "+49 170 1"},
                                     {"Telefon2", "+49 170 2"},
                                     {"Fax", "0421 9"},
                                     {"Strasse", "Weg 1"},
                                     {"PLZ", "28195"},
                                     {"Ort", "Bremen"},
                                     {"Land", "Deutschland"}}),
                 QStringList());
        QCOMPARE(g.date("Geburtstag"), QDate(1980, 2, 29));
        QVERIFY(g.notes.contains("Telefon (Mobil): +49 170 3"));
        QVERIFY(g.notes.contains("E-Mail (Arbeit): berg@firma.example"));
        QVERIFY(g.notes.contains("Firma: Firma AG"));
        QVERIFY(columns.contains(
            "\"Phone 1 - Value\" → Telefon1, Telefon2, weitere in die Bemerkungen"));

        // Windows-1252 as the German mail program saves it.
        const std::vector<ex::Address> german = ex::readCsv(
            QStringLiteral(
                "\"Anrede\";\"Vorname\";\"Nachname\";\"Firma\";\"Straße geschäftlich\";"
                "\"Ort geschäftlich\";\"Postleitzahl geschäftlich\";\"Straße privat\";\"Ort "
                "privat\";"
                "\"Bundesland/Kanton privat\";\"Postleitzahl privat\";\"Land/Region privat\";"
                "\"Telefon geschäftlich\";\"Telefon privat\";\"Mobiltelefon\";\"Fax geschäftlich\";"
                "\"E-Mail-Adresse\";\"E-Mail 2: Adresse\";\"Geburtstag\";\"Konto\";\"Ort\";"
                "\"Notizen\"\r\n"
                "\"Frau\";\"Jürgen\";\"Müller\";\"Muster KG\";\"Hafenstr. 3\";\"Hamburg\";"
                "\"20457\";\"Lindenweg 7\";\"Köln\";\"NRW\";\"50667\";\"Deutschland\";\"040 1\";"
                "\"0221 2\";\"0171 3\";\"040 4\";\"j@example.de\";\"m@example.de\";\"28.2.1961\";"
                "\"K-42\";\"Raum 3.14\";\"\"\r\n")
                .toLatin1());
        QCOMPARE(german.size(), std::size_t(1));
        const ex::Address& d = german[0];
        QCOMPARE(fieldsDiffering(d, {{"Name", "Müller"},
                                     {"Vorname", "Jürgen"},
                                     {"Strasse", "Lindenweg 7"},
                                     {"Ort", "Köln"},
                                     {"PLZ", "50667"},
                                     {"Land", "Deutschland"},
                                     {"Telefon1", "040 1"},
                                     {"Telefon2", "0221 2"},
                                     {"Fax", "040 4"},
                                     {"Email", "j@example.de"},
                                     {"KontoNr", ""}}),
                 QStringList());
        QCOMPARE(d.date("Geburtstag"), QDate(1961, 2, 28));
        for (const char* line : {"Büro: Raum 3.14", "Konto: K-42", "Telefon (Mobil): 0171 3",
                                 "Adresse (Arbeit): Hafenstr. 3, 20457 Hamburg", "Region: NRW",
                                 "E-Mail: m@example.de", "Anrede: Frau", "Firma: Muster KG"})
            QVERIFY2(d.notes.contains(QString::fromUtf8(line)), line);

        // UTF-16 with a mark and tabs, as an English mail program saves it.
        const QString english =
            "First Name\tLast Name\tBusiness Street\tBusiness City\tBusiness Postal Code\t"
            "Home Street\tHome City\tHome Postal Code\tHome Country/Region\tBusiness Phone\t"
            "Home Phone\tMobile Phone\tE-mail Address\tE-mail 2 Address\tAccount\tLocation\r\n"
            "Mary\tSmith\t1 Main St\tBoston\t02110\t2 Elm St\tSalem\t01970\tUSA\t617 1\t978 2\t"
            "857 3\tmary@example.com\tms@example.com\tX1\tB-201\r\n";
        QByteArray utf16("\xFF\xFE");
        utf16.append(reinterpret_cast<const char*>(english.utf16()), english.size() * 2);
        const std::vector<ex::Address> en = ex::readCsv(utf16);
        QCOMPARE(en.size(), std::size_t(1));
        QCOMPARE(fieldsDiffering(en[0], {{"Name", "Smith"},
                                         {"Strasse", "2 Elm St"},
                                         {"Ort", "Salem"},
                                         {"PLZ", "01970"},
                                         {"Telefon1", "617 1"},
                                         {"Telefon2", "978 2"},
                                         {"Email", "mary@example.com"}}),
                 QStringList());
        for (const char* line :
             {"Telefon (Mobil): 857 3", "E-Mail: ms@example.com",
              "Adresse (Arbeit): 1 Main St, 02110 Boston", "Konto: X1", "Büro: B-201"})
            QVERIFY2(en[0].notes.contains(QString::fromUtf8(line)), line);
    }

    // Cells a spreadsheet would run as formulas go out with an apostrophe,
    // numbers and telephone numbers as they are; our import takes the
    // apostrophe off again. The spreadsheet kind: semicolons, a BOM.
    void formulasAreDefusedAndComeBack() {
        makeAddressTable(sandbox->file("Eins.db"));
        OpenTable one(sandbox->file("Eins.db"), false);
        const QVariantMap values = {{"Name", "=HYPERLINK(\"http://x\";\"y\")"},
                                    {"Vorname", "@SUM(A1)"},
                                    {"Strasse", "'=schon"},
                                    {"Telefon1", "+49 30 1234"},
                                    {"Telefon2", "-5"},
                                    {"Fax", "+x"}};
        addRecord(one.store, values);
        for (const ex::Format format : {ex::Format::Csv, ex::Format::SpreadsheetCsv}) {
            const QByteArray csv = exportAll(one.store, format);
            if (format == ex::Format::SpreadsheetCsv)
                QVERIFY(csv.startsWith("\xEF\xBB\xBFName;Vorname;Strasse;"));
            QVERIFY(csv.contains("'=HYPERLINK"));
            QVERIFY(csv.contains("'@SUM(A1)"));
            QVERIFY(csv.contains("''=schon"));
            QVERIFY(csv.contains("+49 30 1234"));
            QVERIFY(!csv.contains("'+49") && !csv.contains("'-5"));
            QVERIFY(csv.contains("'+x"));
            const std::vector<ex::Address> back = ex::readCsv(csv);
            QCOMPARE(back.size(), std::size_t(1));
            for (auto it = values.cbegin(); it != values.cend(); ++it)
                QCOMPARE(back[0].text(it.key()), it.value().toString());
        }
    }

    // The CSV names the IBAN that "BLZ" and "KontoNr" make; reading it back
    // adds nothing, while another program's IBAN column fills the fields
    // (a German IBAN) or the notes (a foreign one, or one that disagrees).
    void csvCarriesTheIban() {
        makeAddressTable(sandbox->file("Eins.db"));
        OpenTable one(sandbox->file("Eins.db"), false);
        addRecord(one.store, {{"Name", "Adler"}, {"KontoNr", "532013000"}, {"BLZ", "37040044"}});
        const QByteArray csv = exportAll(one.store, ex::Format::Csv);
        const QList<QByteArray> lines = csv.split('\n');
        QVERIFY(lines[0].trimmed().endsWith(",Memo1,IBAN"));
        QVERIFY(lines[1].trimmed().endsWith(",DE89 3704 0044 0532 0130 00"));
        const std::vector<ex::Address> back = ex::readCsv(csv);
        QCOMPARE(back.front().text("KontoNr"), "532013000");
        QCOMPARE(back.front().notes, QStringList());

        const std::vector<ex::Address> other = ex::readCsv(
            "Name;IBAN\r\nBerg;DE89 3704 0044 0532 0130 00\r\nHuber;AT61 1904 3002 3457 3201\r\n");
        QCOMPARE(other[0].text("BLZ"), "37040044");
        QCOMPARE(other[0].text("KontoNr"), "0532013000");
        QCOMPARE(other[1].text("BLZ"), QString());
        QCOMPARE(other[1].notes, QStringList{"IBAN: AT61 1904 3002 3457 3201"});
    }

    // A full disk reported as one, with its German cause, by the tool
    // (exit 2), and an existing file left as it was when writing it fails.
    void exportFailureIsToldAndKeepsTheOldFile() {
#ifndef VELLUMO_EXCHANGE_WINDOWS
        QSKIP("the windows and the tool's exchange commands are not in this build");
#else
        tableWithFullAddress("Eins.db");
        QProcess tool;
        tool.start(VELLUMO_TABLE_TOOL, {"export", "--vcard", sandbox->file("Eins"), "/dev/full"});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 2);
        QVERIFY2(tool.readAllStandardError().contains("Der Datenträger ist voll"), "no cause");

        // A file limit of 512 bytes: writing the new file fails.
        writeFile(sandbox->file("alt.vcf"), "alter Inhalt\r\n");
        tool.start("/bin/sh",
                   {"-c", "ulimit -f 1; trap '' XFSZ; exec \"$0\" \"$@\"", VELLUMO_TABLE_TOOL,
                    "export", "--vcard", sandbox->file("Eins.db"), sandbox->file("alt.vcf")});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 2);
        QVERIFY(tool.readAllStandardError().contains("Die Datei würde zu groß"));
        QCOMPARE(readFile(sandbox->file("alt.vcf")), QByteArray("alter Inhalt\r\n"));
        QCOMPARE(QDir(sandbox->path()).entryList({"*alt.vcf*"}, QDir::Files | QDir::Hidden),
                 QStringList{"alt.vcf"});
#endif
    }

    // A picture that does not decode and one the .mb cannot give each cost
    // their card its photo, said by name, never the export or a word.
    void exportNamesPicturesItCannotWrite() {
        makeAddressTable(sandbox->file("Eins.db"));
        const QByteArray lost =
            pictures::graphicFieldFromImage(testPicture().scaled(90, 40), nullptr);
        {
            OpenTable one(sandbox->file("Eins.db"));
            addRecord(one.store, {{"Name", "Adler"}, {"Grafik", fullAddress().value("Grafik")}});
            addRecord(one.store, {{"Name", "Bauer"}, {"Grafik", QByteArray(5000, 'x')}});
            addRecord(one.store, {{"Name", "Christ"}, {"Grafik", lost}});
        }
        {
            // Christ's block in the .mb gets a type no reader knows.
            QFile mb(sandbox->file("Eins.mb"));
            QVERIFY(mb.open(QIODevice::ReadWrite));
            QByteArray bytes = mb.readAll();
            const qsizetype at = bytes.indexOf(lost.left(64));
            QVERIFY(at >= 17);
            bytes[at - 17] = 7;
            QVERIFY(mb.seek(0) && mb.write(bytes) == bytes.size());
        }
        OpenTable one(sandbox->file("Eins.db"));
        QByteArray vcard;
        QBuffer buffer(&vcard);
        buffer.open(QIODevice::WriteOnly);
        QStringList withoutPicture;
        QCOMPARE(ex::exportRecords(one.store, ex::Format::VCard, buffer, {}, &withoutPicture), 3);
        QCOMPARE(vcard.count("BEGIN:VCARD"), 3);
        QCOMPARE(vcard.count("PHOTO;"), 1);
        QCOMPARE(withoutPicture.size(), 2);
        QVERIFY2(withoutPicture[0].startsWith("Adresse 2 (Bauer): ohne Bild exportiert. Das "
                                              "gespeicherte Bild ist beschädigt"),
                 qPrintable(withoutPicture[0]));
        QVERIFY2(withoutPicture[1].startsWith("Adresse 3 (Christ): ohne Bild exportiert. Die "
                                              "Memo-/Grafikdatei (.mb) der Tabelle ist beschädigt"),
                 qPrintable(withoutPicture[1]));
#ifdef VELLUMO_EXCHANGE_WINDOWS
        QProcess tool;
        tool.start(VELLUMO_TABLE_TOOL, {"export", "--vcard", sandbox->file("Eins.db")});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 1);
        QCOMPARE(tool.readAllStandardOutput().count("BEGIN:VCARD"), 3);
        QVERIFY(QString::fromUtf8(tool.readAllStandardError()).contains("Adresse 3 (Christ)"));
#endif
    }

    // The table's disk fills half way: the import stops at once, says how
    // many are stored, and exactly those are in the table, sound. The tool
    // exits 2 with the same report.
    void importStopsWhenTheTableCannotBeWritten() {
        QByteArray cards;
        for (int n = 0; n < 1500; ++n)
            cards += QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Name%1;Vorname;;;\r\n"
                                    "NOTE:%2\r\nEND:VCARD\r\n")
                         .arg(n, 4, 10, QChar('0'))
                         .arg(QString(200, QChar('x')))
                         .toUtf8();
        writeFile(sandbox->file("viele.vcf"), cards);
        // How many changes of the file system a whole import makes.
        const int operations = [&] {
            makeAddressTable(sandbox->file("Eins.db"));
            faultfs::FaultFileSystem fs(px::defaultFileSystem(), false);
            RecordStore store(fs);
            store.BindTable(sandbox->file("Eins.db"));
            store.OpenTable();
            const int before = fs.operations();
            ex::importAddresses(store, ex::readVCards(cards), ex::Format::VCard);
            return fs.operations() - before;
        }();
        makeAddressTable(sandbox->file("Eins.db"));
        int stored = 0;
        {
            faultfs::FaultFileSystem fs(px::defaultFileSystem(), false);
            RecordStore store(fs);
            store.BindTable(sandbox->file("Eins.db"));
            store.OpenTable();
            fs.diskFullAt(operations / 2);
            const ex::ImportResult result =
                ex::importAddresses(store, ex::readVCards(cards), ex::Format::VCard);
            QVERIFY(!result.failure.isEmpty());
            QVERIFY2(result.failure.contains("Der Datenträger ist voll"),
                     qPrintable(result.failure));
            QVERIFY(result.added < 1500);
            stored = result.added;
            QVERIFY(ex::summaryText(result).contains(
                QStringLiteral("Gespeichert sind %1 Adressen").arg(stored)));
            QVERIFY(result.cards.back().outcome == ex::Outcome::NotStored);
        }
        {
            OpenTable reopened(sandbox->file("Eins.db"));
            QCOMPARE(reopened.store.CountRecords(), stored);
        }
        QProcess check;
        check.start(VELLUMO_TABLE_TOOL, {"check", sandbox->file("Eins.db")});
        QVERIFY(check.waitForFinished(30000));
        QCOMPARE(check.exitCode(), 0);

#ifdef VELLUMO_EXCHANGE_WINDOWS
        makeAddressTable(sandbox->file("Zwei.db"));
        QProcess tool;
        tool.start("/bin/sh",
                   {"-c", "ulimit -f 400; trap '' XFSZ; exec \"$0\" \"$@\"", VELLUMO_TABLE_TOOL,
                    "import", sandbox->file("Zwei"), sandbox->file("viele.vcf")});
        QVERIFY(tool.waitForFinished(60000));
        const QString out = QString::fromUtf8(tool.readAllStandardOutput());
        QCOMPARE(tool.exitCode(), 2);
        QVERIFY2(out.startsWith("Der Import wurde wegen eines Schreibfehlers abgebrochen"),
                 qPrintable(out.left(300)));
        QRegularExpressionMatch m =
            QRegularExpression("Gespeichert sind (\\d+) Adressen").match(out);
        QVERIFY(m.hasMatch());
        OpenTable two(sandbox->file("Zwei.db"));
        QCOMPARE(two.store.CountRecords(), m.captured(1).toInt());
#endif
    }

    // The machine dies during an import: the table afterwards is sound and
    // holds the cards of the batches committed before, from the first card on.
    void crashLeavesWholeBatches() {
        std::vector<ex::Address> addresses;
        for (int n = 0; n < 1200; ++n) {
            ex::Address a;
            a.origin = n + 1;
            a.values.insert("Name", QStringLiteral("Name%1").arg(n, 4, 10, QChar('0')));
            addresses.push_back(a);
        }
        const QString path = sandbox->file("Eins.db");
        const int operations = [&] {
            makeAddressTable(path);
            faultfs::FaultFileSystem fs(px::defaultFileSystem(), false);
            RecordStore store(fs);
            store.BindTable(path);
            store.OpenTable();
            const int before = fs.operations();
            ex::importAddresses(store, addresses, ex::Format::Csv);
            return fs.operations() - before;
        }();
        int crashes = 0;
        QSet<int> counts;
        for (const int at : {operations / 4, operations / 2, operations * 3 / 4}) {
            makeAddressTable(path);
            {
                faultfs::FaultFileSystem fs;
                {
                    RecordStore store(fs);
                    store.BindTable(path);
                    store.OpenTable();
                    fs.crashAt(at);
                    try {
                        ex::importAddresses(store, addresses, ex::Format::Csv);
                    } catch (const std::exception&) {
                    }
                }
                crashes += fs.crashed();
                fs.powerLoss(faultfs::AfterCrash::LoseUnsynced);
            }
            OpenTable table(path, false);
            const int count = table.store.CountRecords();
            counts.insert(count);
            for (int n = 0; n < count; ++n)
                QCOMPARE(table.store.textAt(n, "Name"),
                         QStringLiteral("Name%1").arg(n, 4, 10, QChar('0')));
            auto engine = px::Table::open(path.toStdString(), px::Access::Read);
            QVERIFY(engine->check().problems.empty());
        }
        QCOMPARE(crashes, 3);
        QVERIFY2(counts.size() >= 2, "every crash point left the same table");
    }

    // Files of many read buffers, read piece by piece: folded lines, a bare
    // base64 photo and UTF-16 text that cross the buffers' edges arrive whole;
    // a cancelled import keeps what it stored, and running it again adds the rest.
    // An import is one step of the history: undone, the table is as before
    // (the record a card matched by key untouched), redone, as after it.
    void importIsUndoneAsOneStep() {
        QCOMPARE(ex::importStepLabel("karten.vcf", 1451),
                 QString("Import von karten.vcf (1.451 Adressen)"));
        QCOMPARE(ex::importStepLabel("a.csv", 1), QString("Import von a.csv (1 Adresse)"));
        QByteArray cards;
        for (int n = 0; n < 50; ++n) {
            cards += QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Karte%1;Eva;;;\r\n"
                                    "TEL:0221 %1\r\nEND:VCARD\r\n")
                         .arg(n, 2, 10, QChar('0'))
                         .toUtf8();
        }
        cards +=
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Müller-Lüdenscheidt;Jürgen;;;\r\nADR:;;Hauptstraße 5"
            "\\; Hinterhaus;Köln;;50667;Deutschland\r\nEND:VCARD\r\n";
        writeFile(sandbox->file("karten.vcf"), cards);
        OpenTable table(tableWithFullAddress("Adressen.db"));
        auto dump = [&] {
            QStringList lines;
            for (int p = 0; p < table.store.storedCount(); ++p)
                lines << table.store.storedTexts(p).join('|') +
                             QString::number(
                                 qHash(table.store.storedValue(p, "Grafik").toByteArray()));
            return lines;
        };
        const QStringList before = dump();
        const ex::ImportResult result = ex::importFile(table.store, sandbox->file("karten.vcf"));
        QCOMPARE(result.added, 50);
        QCOMPARE(result.skipped, 1);
        const QStringList after = dump();
        QCOMPARE(table.store.undoLabel(), QString("Import von karten.vcf (50 Adressen)"));
        table.store.Undo();
        QCOMPARE(dump(), before);
        table.store.Redo();
        QCOMPARE(dump(), after);
    }

    void largeFilesArriveWhole() {
        const QByteArray png = fixtures::noisePng(220, 220);
        QVERIFY(png.size() > 64 * 1024);

        QByteArray cards;
        for (int n = 0; n < 400; ++n) {
            cards += QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Name%1;Eva;;;\r\nNOTE:")
                         .arg(n, 4, 10, QChar('0'))
                         .toUtf8();
            const QByteArray note = n == 300 ? QByteArray(2 << 20, 'y') : QByteArray(300, 'x');
            for (qsizetype at = 0; at < note.size(); at += 70)
                cards += (at > 0 && n != 300 ? "\r\n " : "") + note.mid(at, 70);
            cards += "\r\n";
            if (n == 200) {
                const QByteArray base64 = png.toBase64();
                cards += "PHOTO;TYPE=PNG:";
                for (qsizetype at = 0; at < base64.size(); at += 76)
                    cards += (at > 0 ? "\r\n " : "") + base64.mid(at, 76);
                cards += "\r\n";
            }
            cards += "END:VCARD\r\n";
        }
        writeFile(sandbox->file("viele.vcf"), cards);
        makeAddressTable(sandbox->file("Karten.db"));
        // Stored at the size set for pictures ("&Bildgröße …"), as the chooser stores one.
        vellumo::WritePrivateProfileString("Bilder", "LangeSeite", "100", vellumo::setupIniPath());
        {
            OpenTable table(sandbox->file("Karten.db"));
            const ex::ImportResult result = ex::importFile(table.store, sandbox->file("viele.vcf"));
            QCOMPARE(result.added, 400);
            QCOMPARE(table.store.textAt(399, "Name"), QStringLiteral("Name0399"));
            QCOMPARE(table.store.textAt(0, "Memo1"), QString(300, 'x'));
            QCOMPARE(vellumo::pictures::imageFromGraphicField(
                         table.store.valueAt(200, "Grafik").toByteArray())
                         .size(),
                     QSize(100, 100));
            QVERIFY(table.store.valueAt(199, "Grafik").isNull());
            QCOMPARE(result.cards[300].outcome, ex::Outcome::AddedWithChanges);
            QVERIFY(result.cards[300].lines.join('\n').contains("mehr als 1 MiB"));
        }
        {
            // A file that breaks off (a stick pulled out): what was read is
            // stored, and the import says it stopped.
            struct BreaksOff : QBuffer {
                qint64 readData(char* data, qint64 size) override {
                    return pos() > 100000 ? -1 : QBuffer::readData(data, size);
                }
            } broken;
            broken.setData(cards);
            broken.open(QIODevice::ReadOnly);
            ex::AddressReader reader(broken, ex::Format::VCard);
            makeAddressTable(sandbox->file("Halb.db"));
            OpenTable half(sandbox->file("Halb.db"));
            const ex::ImportResult result = ex::importAddresses(half.store, reader);
            QVERIFY(result.added > 0 && result.added < 400);
            QCOMPARE(half.store.CountRecords(), result.added);
            QVERIFY2(ex::summaryText(result).startsWith("Der Import wurde abgebrochen. Die Datei "
                                                        "kann nicht weiter gelesen werden"),
                     qPrintable(ex::summaryText(result)));
        }

        QByteArray sheet = "Name,Vorname,Ort\r\n";
        for (int n = 0; n < 3000; ++n)
            sheet += QStringLiteral("Zeile%1,Jörg,Köln\r\n").arg(n, 4, 10, QChar('0')).toUtf8();
        const QString utf16 = QString::fromUtf8(sheet);
        writeFile(sandbox->file("liste.csv"),
                  "\xFF\xFE" +
                      QByteArray(reinterpret_cast<const char*>(utf16.utf16()), utf16.size() * 2));
        makeAddressTable(sandbox->file("Liste.db"));
        OpenTable table(sandbox->file("Liste.db"));
        const ex::ImportResult cancelled =
            ex::importFile(table.store, sandbox->file("liste.csv"),
                           [](int done, int total) { return done < total / 2; });
        QVERIFY(cancelled.cancelled);
        QVERIFY(cancelled.added > 0 && cancelled.added < 3000);
        const ex::ImportResult again = ex::importFile(table.store, sandbox->file("liste.csv"));
        QCOMPARE(again.added, 3000 - cancelled.added);
        QCOMPARE(again.skipped, cancelled.added);
        QCOMPARE(table.store.CountRecords(), 3000);
        QCOMPARE(table.store.textAt(2999, "Ort"), QStringLiteral("Köln"));
        QCOMPARE(table.store.textAt(2999, "Vorname"), QStringLiteral("Jörg"));
        QCOMPARE(again.cards.back().origin, 3001);

        // A row or a line beyond its limit is passed over unread; its
        // neighbours arrive, and the report names the lines it came from.
        const std::vector<ex::Address> rows =
            ex::readCsv("Name;Ort\r\nErste;Bonn\r\nZweite;\"" + QByteArray(2 << 20, 'x') +
                        "\r\n\"\r\nDritte;Kiel\r\n");
        QCOMPARE(rows.size(), std::size_t(3));
        QCOMPARE(rows[0].text("Ort"), "Bonn");
        QCOMPARE(rows[1].origin, 3);
        QVERIFY(rows[1].problem.contains("länger als 1 MiB"));
        QCOMPARE(rows[2].origin, 5);
        QCOMPARE(rows[2].text("Ort"), "Kiel");
        const std::vector<ex::Address> two = ex::readVCards(
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Gross;;;;\r\nPHOTO;ENCODING=b:" +
            QByteArray(17 << 20, 'A') + "\r\n " + QByteArray(100, 'A') +
            "\r\nEND:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nN:Klein;;;;\r\nEND:VCARD\r\n");
        QCOMPARE(two.size(), std::size_t(2));
        QVERIFY(two[0].photo.isEmpty());
        QVERIFY(two[0].changes.join('\n').contains("größer als 16 MiB"));
        QCOMPARE(two[1].text("Name"), "Klein");
    }
};

QTEST_MAIN(TestExchange)
#include "tst_exchange.moc"
