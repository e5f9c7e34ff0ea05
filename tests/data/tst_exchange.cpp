// Addresses out of and into address tables as vCard and CSV: round trips,
// foreign files, an independent vCard parser, the import's counting, the
// command-line tool and the two menu items of the main window.
#include "app/hauptformular.h"
#include "data/addresstable.h"
#include "data/exchange.h"
#include "platform/database/recordstore.h"
#include "platform/pictures/graphicfield.h"
#include "platform/settings/profile.h"
#include "platform/system/system.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <sys/stat.h>

using namespace vellumo;
using namespace testsupport;
namespace ex = vellumo::exchange;

namespace {

const QDate Today(2024, 3, 15);

void makeTable(const QString& path) {
    RecordStore store;
    store.BindTable(path);
    DeclareAddressTable(store, QFileInfo(path).completeBaseName());
    store.CreateTableFile();
}

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

QByteArray readFile(const QString& path) {
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
        makeTable(sandbox->file("Eins.db"));
        makeTable(sandbox->file("Zwei.db"));
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
        QVERIFY(lines.contains("CATEGORIES:Freunde\\, Familie"));
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

        // A card cut off and one with an impossible date are reported, not guessed.
        const std::vector<ex::Address> broken =
            ex::readVCards("BEGIN:VCARD\nVERSION:3.0\nN:A;;;;\nBDAY:1970-13-45\nEND:VCARD\n"
                           "BEGIN:VCARD\nVERSION:3.0\nN:B;;;;\n");
        QCOMPARE(broken.size(), std::size_t(2));
        QVERIFY(broken[0].problem.contains("1970-13-45"));
        QVERIFY(broken[1].problem.contains("END:VCARD"));
    }

    // What phones and mail programs use to read vCards must read ours.
    void independentParserReadsOurCards() {
        const QString python = "/usr/bin/python3";
        if (QProcess::execute(python, {"-c", "import vobject"}) != 0)
            QSKIP("python3-vobject is not installed (scripts/install-deps.sh installs it)");
        makeTable(sandbox->file("Eins.db"));
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
        QCOMPARE(a["categories"].toArray().toVariantList(), QVariantList({"Freunde, Familie"}));
        QVERIFY(a["png"].toBool());
        QCOMPARE(a["blz"].toString(), "37050198");
        QCOMPARE(cards[1].toObject()["fn"].toString(), "Kurt Zander");
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

        makeTable(sandbox->file("Eins.db"));
        OpenTable one(sandbox->file("Eins.db"));
        const ex::ImportResult result = ex::importAddresses(one.store, rows, ex::Format::Csv);
        QCOMPARE(result.added, 2);
        const ex::Address a = ex::addressAt(one.store, 0);
        QCOMPARE(a.text("Name"), "Müller");
        QCOMPARE(a.text("Vorname"), "Jürgen");
        QCOMPARE(a.text("Strasse"), "Hauptstraße 1");
        QCOMPARE(a.text("Ort"), "Köln");
        QCOMPARE(a.date("Geburtstag"), QDate(1961, 2, 28));
        QCOMPARE(a.text("Memo1"), "Preis: 5 €; \"gut\"\nzweite Zeile");
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

    // Duplicates are skipped and counted, texts that do not fit are refused
    // and counted, each with its card number; a cancel keeps what was added,
    // on disk.
    void importCountsSkipsAndRefusals() {
        makeTable(sandbox->file("Eins.db"));
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
        QCOMPARE(result.added, 2);
        QCOMPARE(result.skipped, 2);
        QCOMPARE(result.refused, 3);
        QCOMPARE(result.reasons.size(), 5);
        QVERIFY(result.reasons[0].startsWith("Karte 1: schon vorhanden"));
        QCOMPARE(result.reasons[1],
                 "Karte 3: Der Text ist zu lang für das Feld 'PLZ' (höchstens 5 Zeichen)");
        QVERIFY(result.reasons[2].startsWith("Karte 4: schon vorhanden"));
        QVERIFY2(result.reasons[3].startsWith("Karte 5: ") && result.reasons[3].contains("Ł"),
                 qPrintable(result.reasons[3]));
        QCOMPARE(result.reasons[4], "Karte 6: keine Angaben");
        const QString summary = ex::summaryText(result);
        QVERIFY(summary.startsWith("Der Import ist beendet.\n2 Adressen hinzugefügt, 2 "
                                   "übersprungen (schon vorhanden), 3 abgewiesen."));
        QCOMPARE(one->store.CountRecords(), 3);

        // Cancelled after two: those two stay, also for the next reader.
        std::vector<ex::Address> more;
        for (const char* name : {"Erster", "Zweiter", "Dritter"})
            more.push_back({{{"Name", QString(name)}}, int(more.size()) + 1, {}});
        const ex::ImportResult cancelled = ex::importAddresses(
            one->store, more, ex::Format::Csv, [](int done, int) { return done < 2; });
        QVERIFY(cancelled.cancelled);
        QCOMPARE(cancelled.added, 2);
        QVERIFY(ex::summaryText(cancelled).startsWith("Der Import wurde abgebrochen."));
        one.reset();
        OpenTable reopened(sandbox->file("Eins.db"));
        QCOMPARE(reopened.store.CountRecords(), 5);
    }

    // vellumo-table export and import, and the refusal of a table in use.
    void commandLineTool() {
        makeTable(sandbox->file("Eins.db"));
        {
            OpenTable one(sandbox->file("Eins.db"));
            addRecord(one.store, fullAddress());
        }
        QProcess tool;
        tool.start(VELLUMO_TABLE_TOOL, {"export", "--vcard", sandbox->file("Eins.db")});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 0);
        const QByteArray vcard = tool.readAllStandardOutput();
        QVERIFY(unfolded(vcard).contains("N:Müller-Lüdenscheidt;Jürgen;;;"));
        writeFile(sandbox->file("karten.vcf"), vcard);

        makeTable(sandbox->file("Zwei.db"));
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
    }

    // The main window's two menu items, end to end: where they stand, that
    // they follow the table, an import with its summary, a filtered export.
    void mainWindowMenuItems() {
        resetSettingsLocation();
        makeTable(sandbox->file("Kunden.db"));
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
        QCOMPARE(items.mid(list, 3),
                 QStringList({"&Liste drucken", "&Exportieren …", "&Importieren …"}));
        auto* exportItem = window.findChild<QAction*>("Exportieren");
        auto* importItem = window.findChild<QAction*>("Importieren");

        auto openMenu = [&] {
            QVERIFY(activate(&window));
            QTest::keyClick(&window, Qt::Key_D, Qt::AltModifier);
            QTRY_VERIFY(QApplication::activePopupWidget() == datei);
        };
        auto fileAnswer = [](const QString& path) {
            return [path](QWidget* modal) {
                auto* dialog = qobject_cast<QFileDialog*>(modal);
                QVERIFY(dialog);
                auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                QVERIFY(name);
                name->setText(path);
                QTest::keyClick(name, Qt::Key_Return);
            };
        };
        QString summary;
        auto answerFileThenBox = [&](const QString& path) {
            summary.clear();
            return whenModal([&, path, answer = fileAnswer(path)](QWidget* modal) {
                whenModal([&](QWidget* box) {
                    summary = messageText(box);
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
                          "(schon vorhanden), 0 abgewiesen.\n\nKarte 1: schon vorhanden (gleicher "
                          "Name, Vorname, Straße, PLZ und Ort), übersprungen");
        QCOMPARE(window.Datentabelle.CountRecords(), 3);
        QTRY_VERIFY(window.findChild<QLabel*>("StatusLabel")->text().endsWith("/3"));

        // Only the records the filter lets through go out. "E" is also the
        // letter of "&Ende": the first press only selects.
        window.Datentabelle.SetFilterText("Ort = 'Bonn'");
        window.Datentabelle.SetFilterActive(true);
        auto exportWatch = answerFileThenBox(sandbox->file("aus.vcf"));
        openMenu();
        QTest::keyClick(datei, Qt::Key_E);
        QCOMPARE(datei->activeAction(), exportItem);
        QTest::keyClick(datei, Qt::Key_Return);
        QTRY_COMPARE(summary, "2 Adressen wurden in aus.vcf gespeichert.");
        const std::vector<ex::Address> out = ex::readVCards(readFile(sandbox->file("aus.vcf")));
        QCOMPARE(out.size(), std::size_t(2));
        QCOMPARE(out[0].text("Name"), "Meier");
        QCOMPARE(out[1].text("Name"), "Ohm");
        importWatch.cancel();
        exportWatch.cancel();
    }
};

QTEST_MAIN(TestExchange)
#include "tst_exchange.moc"
