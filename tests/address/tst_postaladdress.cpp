// The one postal formatter: what the post reads by machine, for every print
// style that writes an address.
#include "address/postaladdress.h"

#include <QTest>

using namespace vellumo::address;

class TestPostalAddress : public QObject {
    Q_OBJECT

private slots:
    void thePostsRules();
    void asTypedKeepsTheBlanksButNotTheRules();
    void households();
};

void TestPostalAddress::thePostsRules() {
    // Abroad: the country in capitals closes the address.
    QCOMPARE(postalLines({"Franz", "Huber", "Ringstraße 5", "1010", "Wien", "Österreich"}),
             QStringList({"Franz Huber", "Ringstraße 5", "1010 Wien", "ÖSTERREICH"}));
    // At home: no country, no "D-", no blank lines for what is missing.
    QCOMPARE(postalLines({"", "", "", "D-10115", "Berlin", "Deutschland"}),
             QStringList({"10115 Berlin"}));
    QCOMPARE(postalLines({" Anna ", "Schmidt", "", "80331", "München", "D"}),
             QStringList({"Anna Schmidt", "80331 München"}));
    for (const char* home :
         {"", "Germany", "BRD", "deutschland", "DE", "Bundesrepublik Deutschland"})
        QVERIFY2(isDomestic(QString::fromUtf8(home)), home);
    QVERIFY(!isDomestic(QStringLiteral("Dänemark")));
}

void TestPostalAddress::households() {
    const QList<PostalAddress> people{
        {"Anna", "Schmidt", "Hauptstr. 1", "12345", "Dorf", ""},
        {"Otto", "Meier", "Weg 2", "12345", "Dorf", ""},
        {"Bernd", "Schmidt", "hauptstr.  1", "12345", "Dorf", ""},
        {"Clara", "Berg", "Weg 2", "12345", "Dorf", ""},
        {"Dora", "Lind", "", "", "Dorf", ""},
        {"Emil", "Lind", "", "", "Dorf", ""},
    };
    const QList<Household> labels = householdLabels(people);
    QCOMPARE(labels.size(), 4);
    QCOMPARE(labels[0].lines, QStringList({"Familie Schmidt", "Hauptstr. 1", "12345 Dorf"}));
    QCOMPARE(labels[1].lines, QStringList({"Otto Meier und Clara Berg", "Weg 2", "12345 Dorf"}));
    QCOMPARE(labels[1].members, QList<int>({1, 3}));
    // Without a street nobody is taken for one household.
    QCOMPARE(labels[2].lines[0], QStringLiteral("Dora Lind"));
    QCOMPARE(labels[3].lines[0], QStringLiteral("Emil Lind"));
}

// The envelope's recipient: each field as the user typed it, blanks kept,
// but the post's rules still hold (no blank line, no "D-", the country).
void TestPostalAddress::asTypedKeepsTheBlanksButNotTheRules() {
    const PostalStyle typed{.asTyped = true};
    QCOMPARE(postalLines({"  Jörg", "Albers", "Weg 1", "12345", "Bonn", ""}, typed),
             QStringList({"  Jörg Albers", "Weg 1", "12345 Bonn"}));
    QCOMPARE(postalLines({"", "Muster", "", "D-12345", "Ort", "Deutschland"}, typed),
             QStringList({" Muster", "12345 Ort"}));
    QCOMPARE(postalLines({"Franz", "Huber", "Ringstraße 5", "1010", "Wien", "Österreich"}, typed),
             QStringList({"Franz Huber", "Ringstraße 5", "1010 Wien", "ÖSTERREICH"}));
    // Where lines must give way, the name goes first: the post sorts by town.
    QCOMPARE(postalLines({"Franz", "Huber", "Ringstraße 5", "1010", "Wien", "Österreich"},
                         {.maxLines = 3}),
             QStringList({"Ringstraße 5", "1010 Wien", "ÖSTERREICH"}));
    // Any row gives its address by the field names.
    const PostalAddress read = postalAddressOf([](const QString& field) { return field; });
    QCOMPARE(read.vorname, QStringLiteral("Vorname"));
    QCOMPARE(read.land, QStringLiteral("Land"));
}

QTEST_GUILESS_MAIN(TestPostalAddress)
#include "tst_postaladdress.moc"
