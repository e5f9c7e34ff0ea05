// Duplicates found by German spelling, titles, swapped names, phone digits
// and e-mail case, namesakes kept apart; a corpus of a thousand addresses;
// merges that keep every value in one transaction; the pairs marked as none.
#include "addresstables.h"
#include "testsupport.h"

#include "duplicates/dismissed.h"
#include "duplicates/finder.h"
#include "duplicates/merge.h"
#include "platform/database/recordstore.h"

#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTest>

#include <random>

using duplicates::PersonFields;
using testsupport::Address;

namespace {

// Every stored record with its picture: the table as a whole.
QStringList dumpOf(const vellumo::RecordStore& store) {
    QStringList lines;
    for (int p = 0; p < store.storedCount(); ++p)
        lines << store.storedTexts(p).join(u'|') + u'|' +
                     QString::fromLatin1(store.storedValue(p, "Grafik").toByteArray().toHex());
    return lines;
}

PersonFields person(const QString& name, const QString& given, const QString& street = {},
                    const QString& postcode = {}, const QString& town = {},
                    const QStringList& phones = {}, const QString& email = {},
                    const QDate& birthday = {}) {
    PersonFields f;
    f.name = name;
    f.given = given;
    f.street = street;
    f.postcode = postcode;
    f.town = town;
    f.phones = phones;
    f.email = email;
    f.birthday = birthday;
    f.key = {name, given, street, postcode, town};
    return f;
}

duplicates::Likeness like(const PersonFields& a, const PersonFields& b) {
    return duplicates::likeness(duplicates::personOf(a), duplicates::personOf(b));
}

// A thousand addresses: 700 people once, 100 twice in another spelling, 50
// names borne by two people each. seeded receives the pairs of one person.
std::vector<PersonFields> corpus(QSet<QPair<int, int>>& seeded) {
    const QStringList families{
        "Müller",  "Schröder", "Köhler",    "Bäcker",   "Jäger",   "Gößmann",  "Weiß",
        "Groß",    "Schmidt",  "Fischer",   "Wagner",   "Becker",  "Hoffmann", "Schulz",
        "Koch",    "Richter",  "Klein",     "Wolf",     "Neumann", "Schwarz",  "Zimmermann",
        "Braun",   "Krüger",   "Hofmann",   "Hartmann", "Lange",   "Werner",   "Krause",
        "Lehmann", "Kaiser",   "Fuchs",     "Peters",   "Scholz",  "Möller",   "Lorenz",
        "Bauer",   "Vogel",    "Friedrich", "Günther",  "Böhm"};
    const QStringList givens{
        "Jürgen", "Anna",   "Jörg",     "Käthe",   "Björn",   "Sören",  "Maria", "Peter",
        "Thomas", "Sabine", "Monika",   "Andreas", "Claudia", "Stefan", "Petra", "Michael",
        "Ursula", "Frank",  "Karin",    "Martin",  "Renate",  "Klaus",  "Heike", "Uwe",
        "Birgit", "Ralf",   "Gabriele", "Dieter",  "Susanne", "Holger", "Jutta", "Bernd"};
    const QStringList towns{"Köln",    "Bonn",    "Düsseldorf", "München", "Berlin",   "Hamburg",
                            "Leipzig", "Dresden", "Essen",      "Münster", "Würzburg", "Lübeck"};
    const QStringList streets{"Hauptstraße",  "Bahnhofstraße", "Schulstraße", "Gartenstraße",
                              "Lindenstraße", "Bergstraße",    "Kirchstraße", "Dorfstraße"};
    std::mt19937 random(1604);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    // Every person a name of their own, but the namesakes.
    std::vector<std::pair<int, int>> names;
    for (int f = 0; f < families.size(); ++f)
        for (int g = 0; g < givens.size(); ++g)
            names.emplace_back(f, g);
    std::shuffle(names.begin(), names.end(), random);
    std::size_t nextName = 0;
    int phoneNumber = 100000;
    const auto fresh = [&] {
        const auto [f, g] = names[nextName++];
        const int town = pick(static_cast<int>(towns.size()));
        const QString phone =
            QStringLiteral("0%1 %2").arg(200 + town).arg(++phoneNumber * 7 % 9000000 + 1000000);
        return person(families[f], givens[g],
                      QStringLiteral("%1 %2")
                          .arg(streets[pick(static_cast<int>(streets.size()))])
                          .arg(1 + pick(150)),
                      QString::number(10000 + town * 1111), towns[town], {phone},
                      QStringLiteral("%1.%2@example.de").arg(givens[g], families[f]).toLower(),
                      pick(3) == 0 ? QDate() : QDate(1940 + pick(60), 1 + pick(12), 1 + pick(28)));
    };
    std::vector<PersonFields> all;
    for (int n = 0; n < 700; ++n)
        all.push_back(fresh());
    for (int n = 0; n < 100; ++n) {
        PersonFields a = fresh();
        PersonFields b = a;
        b.phones.clear();
        b.email.clear();
        b.birthday = n % 2 ? a.birthday : QDate();
        switch (n % 6) {
        case 0: // umlauts written out, the same street
            b.name =
                QString(a.name).replace("ü", "ue").replace("ö", "oe").replace("ä", "ae").replace(
                    "ß", "ss");
            b.given = QString(a.given).replace("ü", "ue").replace("ö", "oe").replace("ä", "ae");
            break;
        case 1: // the street cut short, the phone kept
            b.street.replace("straße", "str.");
            b.phones = a.phones;
            b.town.clear();
            break;
        case 2: // a title, the e-mail kept
            b.given = "Dr. " + a.given;
            b.email = a.email;
            b.street.clear();
            break;
        case 3: // names swapped
            std::swap(b.name, b.given);
            break;
        case 4: { // the phone as a phone writes it, nothing else
            QString digits = a.phones.front();
            digits.remove(' ');
            b.phones = {"+49 " + digits.mid(1, 3) + " " + digits.mid(4)};
            b.street.clear();
            b.postcode.clear();
            b.town.clear();
            break;
        }
        case 5: // the e-mail in capitals, the street elsewhere
            b.email = a.email.toUpper();
            b.street.clear();
            b.postcode.clear();
            b.town = towns[(towns.indexOf(a.town) + 1) % towns.size()];
            break;
        }
        b.key = {b.name, b.given, b.street, b.postcode, b.town};
        const int at = static_cast<int>(all.size());
        all.push_back(a);
        all.push_back(b);
        seeded.insert({at, at + 1});
    }
    for (int n = 0; n < 50; ++n) {
        PersonFields a = fresh();
        PersonFields b = fresh();
        b.name = a.name;
        b.given = a.given;
        b.email.clear();
        if (n % 2) { // same town, another birthday
            b.town = a.town;
            b.postcode = a.postcode;
            a.birthday = QDate(1950 + n, 3, 4);
            b.birthday = QDate(1980 + n % 20, 7, 8);
        } else { // another town, nothing shared
            b.town = towns[(towns.indexOf(a.town) + 5) % towns.size()];
            b.postcode = "99999";
        }
        b.key = {b.name, b.given, b.street, b.postcode, b.town};
        all.push_back(a);
        all.push_back(b);
    }
    return all;
}

} // namespace

class tst_Duplicates : public QObject {
    Q_OBJECT

    testsupport::Sandbox sandbox_;

private slots:
    void likenessSaysWhyAndKeepsNamesakesApart() {
        const QDate born(1970, 5, 17);
        const auto base = person("Müller", "Jürgen", "Hauptstraße 5a", "50667", "Köln",
                                 {"0221 1234567"}, "j.mueller@example.de", born);
        struct Case {
            PersonFields other;
            QStringList reasons; // empty: not the same person
        } cases[] = {
            {person("Mueller", "Juergen", "Hauptstr. 5 a", "50667", "Köln"),
             {"Name wie Jürgen Müller/Juergen Mueller", "gleiche Anschrift"}},
            {person("Müller", "Dr. Jürgen", {}, {}, {}, {"+49 (0)221 123 45 67"}),
             {"Name bis auf den Titel gleich", "gleiche Telefonnummer"}},
            {person("Jürgen", "Müller", {}, {}, {}, {}, "J.Mueller@Example.DE"),
             {"Vor- und Nachname vertauscht", "gleiche E-Mail-Adresse"}},
            {person("Müller", "J.", "Hauptstraße 5a", "50667", "Köln", {}, {}, QDate(1604, 5, 17)),
             {"Vorname abgekürzt", "gleicher Geburtstag", "gleiche Anschrift"}},
            {person("Müler", "Jürgen", {}, {}, {}, {"0221/1234567"}),
             {"Name ähnlich: Jürgen Müller/Jürgen Müler", "gleiche Telefonnummer"}},
            // Another birthday: another man of that name, even at that address.
            {person("Müller", "Jürgen", "Hauptstraße 5a", "50667", "Köln", {}, {},
                    QDate(1971, 5, 17)),
             {}},
            // The same name in another town, nothing else shared.
            {person("Müller", "Jürgen", "Ringstraße 1", "80331", "München"), {}},
            // A name alone is not enough, nor is a household.
            {person("Müller", "Jürgen"), {}},
            {person("Müller", "Anna", "Hauptstraße 5a", "50667", "Köln", {"0221 1234567"}), {}},
        };
        for (const Case& c : cases) {
            const duplicates::Likeness l = like(base, c.other);
            if (c.reasons.isEmpty()) {
                QVERIFY2(l.score < duplicates::kLikelyScore, qPrintable(c.other.key.join(';')));
                continue;
            }
            QCOMPARE(l.reasons, c.reasons);
            QVERIFY2(l.score >= duplicates::kLikelyScore && l.score <= 100,
                     qPrintable(QString::number(l.score)));
        }
        // Everything shared scores higher than a name and a town.
        QVERIFY(like(base, base).score >
                like(base, person("Müller", "Jürgen", {}, {}, "Köln")).score);
    }

    void aThousandAddressesWithSeededDuplicatesAndNamesakes() {
        QSet<QPair<int, int>> seeded;
        const std::vector<PersonFields> fields = corpus(seeded);
        QCOMPARE(fields.size(), std::size_t(1000));
        std::vector<duplicates::Person> persons;
        for (std::size_t i = 0; i < fields.size(); ++i)
            persons.push_back(duplicates::personOf(fields[i], static_cast<int>(i)));
        const std::vector<duplicates::Pair> pairs = duplicates::findPairs(persons);
        int right = 0;
        QStringList wrong;
        for (const duplicates::Pair& p : pairs) {
            if (seeded.contains({p.first, p.second}))
                ++right;
            else
                wrong << duplicates::keyText(persons[static_cast<std::size_t>(p.first)]) + " / " +
                             duplicates::keyText(persons[static_cast<std::size_t>(p.second)]);
        }
        const double precision = pairs.empty() ? 0 : double(right) / double(pairs.size());
        const double recall = double(right) / double(seeded.size());
        qInfo("%zu pairs, precision %.3f, recall %.3f", pairs.size(), precision, recall);
        QVERIFY2(precision >= 0.95, qPrintable(wrong.join('\n')));
        QVERIFY2(recall >= 0.90, qPrintable(QString::number(recall)));
        // Best first.
        for (std::size_t i = 1; i < pairs.size(); ++i)
            QVERIFY(pairs[i - 1].likeness.score >= pairs[i].likeness.score);
        // What an import brought: only pairs of a new and an old record.
        std::vector<bool> isNew(persons.size(), false);
        isNew[701] = true; // the copy of the first seeded pair
        const auto fromImport = duplicates::findPairs(persons, &isNew);
        QCOMPARE(fromImport.size(), std::size_t(1));
        QCOMPARE(fromImport[0].first, 700);
    }

    void aMergeProposesTheFullerValueAndNotesTheOther() {
        using vellumo::FieldKind;
        const std::vector<vellumo::FieldInfo> fields{
            {"Name", FieldKind::Text, 30},      {"Vorname", FieldKind::Text, 30},
            {"Telefon1", FieldKind::Text, 30},  {"Telefon2", FieldKind::Text, 30},
            {"Geburtstag", FieldKind::Date, 0}, {"Erstellt", FieldKind::Date, 0},
            {"Aenderung", FieldKind::Date, 0},  {"Memo1", FieldKind::Memo, 0},
            {"Grafik", FieldKind::Graphic, 0},  {"UID", FieldKind::Text, 100}};
        const QVariantList a{"Mueller",         "Jürgen",           "0221 111111",
                             "0171 1234567",    QDate(1604, 5, 17), QDate(2019, 3, 1),
                             QDate(2020, 1, 1), "Kunde seit 2019",  QByteArray("BMklein"),
                             QVariant()};
        const QVariantList b{
            "Müller",          "Jürgen",           "0170 222222",
            "+49 171 1234567", QDate(1970, 5, 17), QDate(2021, 6, 1),
            QDate(2021, 6, 2), QVariant(),         QByteArray("BMdas größere Bild"),
            "card-7"};
        bool keepIsA = true;
        duplicates::MergePlan plan = duplicates::planMerge(fields, a, b, &keepIsA);
        QVERIFY(!keepIsA);                                           // b has the UID a sync knows
        QCOMPARE(plan.fields[0].rule, duplicates::FieldMerge::Same); // one name, two spellings
        QCOMPARE(plan.fields[2].rule, duplicates::FieldMerge::Choice);
        QCOMPARE(plan.fields[3].rule, duplicates::FieldMerge::Same); // one number
        QCOMPARE(plan.fields[4].rule, duplicates::FieldMerge::Same); // the year added
        QCOMPARE(plan.fields[8].rule, duplicates::FieldMerge::Choice);
        QVERIFY(!plan.fields[8].takeDrop); // the kept record's picture is larger
        // The user takes the other phone number.
        plan.fields[2].takeDrop = true;
        const QDate today(2024, 2, 29);
        const QVariantList merged = duplicates::mergedValues(plan, today);
        QCOMPARE(merged[0].toString(), QString("Müller"));
        QCOMPARE(merged[2].toString(), QString("0221 111111"));
        QCOMPARE(merged[3].toString(), QString("+49 171 1234567"));
        QCOMPARE(merged[4].toDate(), QDate(1970, 5, 17));
        QCOMPARE(merged[5].toDate(), QDate(2019, 3, 1));
        QCOMPARE(merged[6].toDate(), today);
        QCOMPARE(merged[7].toString(), QString("Kunde seit 2019\nTelefon 1 (alt): 0170 222222"));
        QCOMPARE(merged[8].toByteArray(), QByteArray("BMdas größere Bild"));
        QCOMPARE(merged[9].toString(), QString("card-7"));
        QCOMPARE(duplicates::notesLines(plan), QStringList{"Telefon 1 (alt): 0170 222222"});
    }

    void aMergeIsOneTransactionOfTheTable() {
        vellumo::RecordStore store;
        const QByteArray small("BM-ein-kleines-Bild"), large(4000, 'x');
        testsupport::makeAddressTable(
            store, sandbox_.file("Merge"),
            {Address{{"Name", "Mueller"},
                     {"Vorname", "Jürgen"},
                     {"Telefon1", "0221 111111"},
                     {"Erstellt", QDate(2015, 6, 1)},
                     {"Memo1", "alter Kunde"},
                     {"Grafik", small}},
             Address{{"Name", "Müller"},
                     {"Vorname", "Jürgen"},
                     {"Strasse", "Hauptstr. 1"},
                     {"Telefon1", "0170 222222"},
                     {"Erstellt", QDate(2020, 1, 1)},
                     {"Grafik", large}},
             Address{{"Name", "Mueller"}, {"Vorname", "Jürgen"}, {"Strasse", "Hauptstr. 1"}},
             Address{{"Name", "Zeh"}}});
        const auto positionOf = [&](const QString& name, const QString& street) {
            for (int i = 0; i < store.storedCount(); ++i)
                if (store.storedValue(i, "Name") == name &&
                    store.storedValue(i, "Strasse").toString() == street)
                    return i;
            return -1;
        };
        const int older = positionOf("Mueller", ""), newer = positionOf("Müller", "Hauptstr. 1");
        // The key of a third record ("Mueller" at "Hauptstr. 1") is refused,
        // and nothing changes.
        duplicates::MergePlan clash = duplicates::planMerge(store, newer, older);
        QCOMPARE(clash.keep, older); // created first
        for (duplicates::FieldMerge& f : clash.fields)
            if (f.field == "Name")
                f.takeDrop = false;
        const QStringList before = {store.storedTexts(older).join(';'),
                                    store.storedTexts(newer).join(';')};
        store.moveToStored(positionOf("Zeh", ""));
        QVERIFY_THROWS_EXCEPTION(vellumo::StoreError,
                                 duplicates::mergeRecords(store, clash, QDate(2024, 1, 1)));
        QCOMPARE(store.storedCount(), 4);
        QCOMPARE(store.storedTexts(older).join(';'), before[0]);
        QCOMPARE(store.storedTexts(newer).join(';'), before[1]);

        // As proposed: the kept record takes the other's key, which goes with
        // it in the same transaction; the phone not taken is noted.
        const QStringList unmerged = dumpOf(store);
        const duplicates::MergePlan plan = duplicates::planMerge(store, older, newer);
        const QDate today(2024, 2, 29);
        duplicates::mergeRecords(store, plan, today);
        QCOMPARE(store.storedCount(), 3);
        const int at = store.RecordNumber() - 1;
        QCOMPARE(at, positionOf("Müller", "Hauptstr. 1"));
        QCOMPARE(store.storedValue(at, "Telefon1").toString(), QString("0221 111111"));
        QCOMPARE(store.storedValue(at, "Memo1").toString(),
                 QString("alter Kunde\nTelefon 1 (alt): 0170 222222"));
        QCOMPARE(store.storedValue(at, "Erstellt").toDate(), QDate(2015, 6, 1));
        QCOMPARE(store.storedValue(at, "Aenderung").toDate(), today);
        QCOMPARE(store.storedValue(at, "Grafik").toByteArray(), large);
        QCOMPARE(positionOf("Mueller", "Hauptstr. 1") >= 0, true);
        // One step of the history: undone, both records are back as they were.
        QCOMPARE(store.undoLabel(), QString("Zusammenführen: Müller, Jürgen"));
        const QStringList merged = dumpOf(store);
        store.Undo();
        QCOMPARE(dumpOf(store), unmerged);
        store.Redo();
        QCOMPARE(dumpOf(store), merged);
        // A plan read before the table changed is refused.
        const duplicates::MergePlan stale = duplicates::planMerge(store, 0, 1);
        store.moveToStored(0);
        store.BeginEdit();
        store.SetFieldText("Vorname", "Jörg");
        QVERIFY_THROWS_EXCEPTION(vellumo::StoreError,
                                 duplicates::mergeRecords(store, stale, today));
        QCOMPARE(store.storedCount(), 3);
    }

    void pairsMarkedAsNoneAreNotOfferedAgain() {
        const QString table = sandbox_.file("Keine.db");
        const QStringList a{"Müller", "Jürgen", "Haupt\tstraße 1", "50667", "Köln"};
        const QStringList b{"Müller", "Jürgen\\", "", "", "Bonn\n"};
        duplicates::Dismissed dismissed;
        QString error;
        QVERIFY(dismissed.load(table, &error)); // no file yet
        dismissed.add(b, a);
        QVERIFY(dismissed.save(&error));
        QCOMPARE(duplicates::Dismissed::fileFor(table), sandbox_.file("Keine.keine-dubletten"));
        duplicates::Dismissed again;
        QVERIFY(again.load(table, &error));
        QCOMPARE(again.size(), 1);
        QVERIFY(again.contains(a, b));
        QVERIFY(!again.contains(a, QStringList{"Müller", "Jürgen", "", "", "Bonn"}));
    }

#ifdef VELLUMO_TABLE_TOOL
    void theToolPrintsThePairsBestFirst() {
        const QString table = sandbox_.file("Werkzeug");
        testsupport::makeAddressTable(
            table, {Address{{"Name", "Müller"}, {"Vorname", "Jürgen"}, {"Ort", "Köln"}},
                    Address{{"Name", "Mueller"},
                            {"Vorname", "Juergen"},
                            {"Ort", "Köln"},
                            {"Telefon1", "0221 123456"}},
                    Address{{"Name", "Müller"}, {"Vorname", "J."}, {"Telefon1", "+49 221 123456"}},
                    Address{{"Name", "Zeh"}, {"Email", "Eva@Example.de"}}});
        auto run = [&](const QStringList& args, QByteArray* out = nullptr) {
            QProcess tool;
            tool.start(VELLUMO_TABLE_TOOL, QStringList{"duplicates"} + args);
            if (!tool.waitForFinished(30000))
                return -1;
            if (out)
                *out = tool.readAllStandardOutput();
            return tool.exitCode();
        };
        QByteArray out;
        QCOMPARE(run({table}, &out), 0);
        QCOMPARE(QString::fromUtf8(out),
                 QString("Mueller;Juergen;;;Köln\tMüller;J.;;;\t65\n"
                         "Mueller;Juergen;;;Köln\tMüller;Jürgen;;;Köln\t60\n"));
        // An import through the tool names what it brought twice.
        QFile cards(sandbox_.file("karten.vcf"));
        QVERIFY(cards.open(QIODevice::WriteOnly));
        cards.write("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Zeh;Eva;;;\r\nFN:Eva Zeh\r\n"
                    "EMAIL:eva@example.de\r\nEND:VCARD\r\n");
        cards.close();
        QProcess import;
        import.start(VELLUMO_TABLE_TOOL, {"import", table, cards.fileName()});
        QVERIFY(import.waitForFinished(30000));
        QCOMPARE(import.exitCode(), 0);
        QVERIFY2(import.readAllStandardOutput().endsWith(
                     "vermutlich doppelt: Eva Zeh – schon da: Zeh (Vorname fehlt bei einer "
                     "Adresse, gleiche E-Mail-Adresse)\n"),
                 "");
        QFile::remove(table + ".db");
        QCOMPARE(run({table}), 2);
        QCOMPARE(run({}), 2);
    }
#endif
};

QTEST_GUILESS_MAIN(tst_Duplicates)
#include "tst_duplicates.moc"
