// The quick search's rules on tables made as "&Neu" makes them: German
// spelling and phone numbers folded, words ANDed, ranking, and an index that
// follows every save, delete and import at once.
#include "addresstables.h"
#include "testsupport.h"

#include "exchange/exchange.h"
#include "platform/database/recordstore.h"
#include "search/folding.h"
#include "search/index.h"

#include <QFile>
#include <QProcess>
#include <QTest>

using testsupport::Address;

class tst_Search : public QObject {
    Q_OBJECT

    testsupport::Sandbox sandbox_;

    // The names (Name, or Vorname where several share one) of the matches,
    // best first.
    static QStringList found(vellumo::RecordStore& store, const search::Index& index,
                             const QString& text) {
        QStringList names;
        for (const search::Match& m : index.find(search::Query::parse(text), 100).best) {
            const QString name = store.storedValue(m.position, "Name").toString();
            const QString first = store.storedValue(m.position, "Vorname").toString();
            names << (first.isEmpty() ? name : name + " " + first);
        }
        return names;
    }

private slots:
    void foldingMakesGermanSpellingsMeet() {
        const QStringList same[] = {
            {"Müller", "Mueller", "MULLER", "muller"},
            {"Straße", "strasse", "Str.", "STRASSE"},
            {"Schloßstr. 5", "Schlossstrasse 5", "SCHLOSSSTRASSE  5"},
            {"Groß", "GROSS", "Gross", "groẞ"},
            {"Göthe", "Goethe", "Gothe"},
            {"José Ñúñez", "jose nunez"},
            {"Søren Æbelø", "soren abelo"},
            {"O'Neill", "ONeill"},
        };
        for (const QStringList& spellings : same)
            for (const QString& s : spellings)
                QCOMPARE(search::fold(s), search::fold(spellings.front()));
        QVERIFY(search::fold(u"Strand") != search::fold(u"Str."));
        // A word still being typed keeps its matches.
        QCOMPARE(search::foldTyped(u"Hauptstra"), search::foldUtf8(u"Hauptstraße"));
        QCOMPARE(search::foldTyped(u"Hauptstrass"), search::foldUtf8(u"Hauptstr."));
        // Where a hit lies in the original text.
        std::vector<int> sources;
        const std::string folded = search::foldUtf8(u"Schloßstr. 5", &sources);
        QCOMPARE(folded, std::string("schlossstr 5"));
        QCOMPARE(sources[5], 5); // both s of ß come from it
        QCOMPARE(sources[6], 5);
        QCOMPARE(sources[11], 11);
    }

    void spellingsStreetsAndWordsFindTheSameRecords() {
        vellumo::RecordStore store;
        testsupport::makeAddressTable(
            store, sandbox_.file("Spelling"),
            {Address{{"Name", "Müller"}, {"Vorname", "Anna"}, {"Ort", "Köln"}},
             Address{{"Name", "Mueller"}, {"Vorname", "Bernd"}, {"Ort", "Bonn"}},
             Address{{"Name", "Muller"},
                     {"Vorname", "Carla"},
                     {"Strasse", "Schloßstr. 5"},
                     {"PLZ", "10117"}},
             Address{{"Name", "Meier"},
                     {"Vorname", "Anna"},
                     {"Ort", "Bonn"},
                     {"Strasse", "Schloßstr. 7"},
                     {"PLZ", "10117"}},
             Address{{"Name", "Berg"}, {"Vorname", "Dora"}, {"Ort", "Köln"}}});
        search::Index index(store);
        QCOMPARE(index.recordCount(), 5);
        const QStringList muellers{"Mueller", "Muller", "Müller"};
        for (const char* text : {"mueller", "muller", "Müller", "MÜLL"}) {
            QStringList names = found(store, index, text);
            for (QString& n : names)
                n = n.section(' ', 0, 0);
            names.sort();
            QCOMPARE(names, muellers);
        }
        QCOMPARE(found(store, index, "schlossstrasse 5"), QStringList{"Muller Carla"});
        QCOMPARE(found(store, index, "Schlossstra"), (QStringList{"Meier Anna", "Muller Carla"}));
        // Every word must match, in any field and any order.
        QCOMPARE(found(store, index, "anna köln"), QStringList{"Müller Anna"});
        QCOMPARE(found(store, index, "koeln anna"), QStringList{"Müller Anna"});
        QCOMPARE(found(store, index, "anna"), (QStringList{"Meier Anna", "Müller Anna"}));
        QVERIFY(found(store, index, "anna hamburg").isEmpty());

        // The hit is marked in the original text.
        const auto street = search::Query::parse(QString("schlossstrasse 5"));
        const auto hits = index.hitsAt(index.find(street, 1).best.at(0).position, street);
        QCOMPARE(hits.size(), std::size_t(1));
        QCOMPARE(hits[0].field, QString("Strasse"));
        QCOMPARE(hits[0].ranges,
                 (std::vector<std::pair<int, int>>{{0, 9}, {11, 1}})); // "Schloßstr", "5"
    }

    void phoneNumbersMatchByTheirDigits() {
        vellumo::RecordStore store;
        testsupport::makeAddressTable(
            store, sandbox_.file("Phones"),
            {Address{{"Name", "Adler"}, {"Telefon1", "0221 / 123 45 67"}},
             Address{{"Name", "Bauer"}, {"Telefon2", "0049 221 1234567"}},
             Address{{"Name", "Conrad"}, {"Fax", "Tel. +49 (0)221 1234567 (Büro)"}},
             Address{{"Name", "Wien"}, {"Land", "Österreich"}, {"Telefon1", "01 5881234"}},
             Address{{"Name", "Zeh"}, {"Telefon1", "089 2211234567"}, {"PLZ", "12345"}}});
        search::Index index(store);
        const QStringList cologne{"Adler", "Bauer", "Conrad"};
        for (const char* text : {"+49 221 1234567", "0049 221 1234567", "0221/1234567",
                                 "0221 123 45 67", "+492211234567"})
            QCOMPARE(found(store, index, text), cologne);
        // Digits without a prefix are found anywhere in a number, and as text.
        QCOMPARE(found(store, index, "1234567"), (QStringList{"Adler", "Bauer", "Conrad", "Zeh"}));
        QCOMPARE(found(store, index, "2345"), (QStringList{"Adler", "Bauer", "Conrad", "Zeh"}));
        // The country of a number without prefix comes from "Land".
        QCOMPARE(found(store, index, "+43 1 5881234"), QStringList{"Wien"});
        QVERIFY(found(store, index, "+49 1 5881234").isEmpty());
        QCOMPARE(found(store, index, "015881234"), QStringList{"Wien"});
    }

    void namesRankBeforeOtherFieldsAndTheMemo() {
        vellumo::RecordStore store;
        testsupport::makeAddressTable(
            store, sandbox_.file("Ranking"),
            {Address{{"Name", "Abel"}, {"Memo1", "Herr Schmidt\nweiß Bescheid"}},
             Address{{"Name", "Berg"}, {"Strasse", "Schmidtweg 1"}},
             Address{{"Name", "Goldschmidt"}},
             Address{{"Name", "Lang"}, {"Vorname", "Anna Schmidt"}},
             Address{{"Name", "Schmidt"}, {"Vorname", "Zoe"}},
             Address{{"Name", "Schmidt"}, {"Vorname", "Anna"}}});
        search::Index index(store);
        QCOMPARE(found(store, index, "schmidt"),
                 (QStringList{"Schmidt Anna", "Schmidt Zoe", "Lang Anna Schmidt", "Goldschmidt",
                              "Berg", "Abel"}));
        const auto hits = index.hitsAt(0, search::Query::parse(QString("schmidt"))); // Abel
        QCOMPARE(hits.size(), std::size_t(1));
        QCOMPARE(hits[0].field, QString("Memo1"));
        QCOMPARE(hits[0].ranges, (std::vector<std::pair<int, int>>{{5, 7}}));
    }

    void savesDeletesAndImportsAreSeenAtOnce() {
        vellumo::RecordStore store;
        testsupport::makeAddressTable(store, sandbox_.file("Changes"),
                                      testsupport::numberedAddresses(20));
        search::Index index(store);
        const auto sameAsFresh = [&] {
            const search::Index fresh(store);
            for (const char* text : {"person", "ort 1", "schröder", "0171", "anna"}) {
                const auto q = search::Query::parse(QString::fromUtf8(text));
                QCOMPARE(index.find(q, 100).positions, fresh.find(q, 100).positions);
            }
        };
        QVERIFY(found(store, index, "schröder").isEmpty());
        // A save that moves the record to another key position.
        store.moveToStored(3);
        store.BeginEdit();
        store.SetFieldText("Name", "Schroeder");
        store.SetFieldText("Telefon1", "0171 555 66 77");
        store.SaveRecord();
        QCOMPARE(found(store, index, "schröder"), QStringList{"Schroeder Vorname 04"});
        QCOMPARE(found(store, index, "+49 171 5556677"), QStringList{"Schroeder Vorname 04"});
        sameAsFresh();
        // A new record, then a delete.
        store.InsertBlankRecord();
        store.SetFieldText("Name", "Anna");
        store.SaveRecord();
        QCOMPARE(found(store, index, "anna"), QStringList{"Anna"});
        store.moveToStored(0);
        store.RemoveRecord();
        QVERIFY(found(store, index, "anna").isEmpty());
        sameAsFresh();
        // An import, as a phone writes its cards.
        QFile cards(sandbox_.file("karten.vcf"));
        QVERIFY(cards.open(QIODevice::WriteOnly));
        cards.write("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Schr\xc3\xb6"
                    "der;Anna;;;\r\n"
                    "FN:Anna Schr\xc3\xb6"
                    "der\r\nTEL;TYPE=CELL:+49 171 1112223\r\nEND:VCARD\r\n");
        cards.close();
        const auto result = vellumo::exchange::importFile(store, cards.fileName());
        QCOMPARE(result.added, 1);
        QCOMPARE(found(store, index, "schröder"),
                 (QStringList{"Schröder Anna", "Schroeder Vorname 04"}));
        QCOMPARE(found(store, index, "01711112223"), QStringList{"Schröder Anna"});
        sameAsFresh();
        // Closed: nothing is held.
        store.CloseTable();
        QCOMPARE(index.recordCount(), 0);
    }

    void theFilterOfTheMatchesFollowsSaves() {
        vellumo::RecordStore store;
        testsupport::makeAddressTable(store, sandbox_.file("Filter"),
                                      testsupport::numberedAddresses(10));
        search::Index index(store);
        store.SetFilterRecords(index.filterFor(search::Query::parse(QString("person"))));
        QVERIFY(store.IsFilterActive());
        QCOMPARE(store.CountRecords(), 10);
        // A record saved so that it matches joins the filter, one that no
        // longer matches leaves it: as with a filter of the search dialog.
        store.GoToFirst();
        store.BeginEdit();
        store.SetFieldText("Name", "Zora");
        store.SaveRecord();
        QCOMPARE(store.CountRecords(), 9);
        store.InsertBlankRecord();
        store.SetFieldText("Name", "Neu");
        store.SetFieldText("Vorname", "Personal");
        store.SaveRecord();
        QCOMPARE(store.CountRecords(), 10);
        QCOMPARE(store.fieldText("Name"), QString("Neu"));
        // The search dialog's next filter takes its place.
        store.SetFilterText("Name = 'Neu'");
        QVERIFY(!store.hasRecordFilter());
        QCOMPARE(store.CountRecords(), 1);
        store.SetFilterActive(false);
        QCOMPARE(store.CountRecords(), 11);
    }

    void theToolPrintsTheMatchesBestFirst() {
        const QString table = sandbox_.file("Werkzeug");
        testsupport::makeAddressTable(
            table, {Address{{"Name", "Abel"}, {"Memo1", "Nachbar von Frau Köhler"}},
                    Address{{"Name", "Koehler"}, {"Vorname", "Eva"}, {"Ort", "Köln"}}});
        auto run = [&](const QStringList& args, QByteArray* out = nullptr) {
            QProcess tool;
            tool.start(VELLUMO_TABLE_TOOL, QStringList{"search", table} + args);
            if (!tool.waitForFinished(30000))
                return -1;
            if (out)
                *out = tool.readAllStandardOutput();
            return tool.exitCode();
        };
        QByteArray out;
        QCOMPARE(run({"köhler"}, &out), 0);
        const QList<QByteArray> lines = out.trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].startsWith("Name,Vorname,Strasse"));
        QVERIFY(lines[1].startsWith("Koehler,Eva,,,K\xc3\xb6ln"));
        QVERIFY(lines[2].startsWith("Abel,"));
        QCOMPARE(run({"niemand"}), 1);
        QCOMPARE(run({}), 2);
        QCOMPARE(run({"--"}), 2); // nothing to look for
        QFile::remove(table + ".db");
        QCOMPARE(run({"köhler"}), 2);
    }
};

QTEST_GUILESS_MAIN(tst_Search)
#include "tst_search.moc"
