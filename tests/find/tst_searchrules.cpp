// The field mapping and the filter expression of the search.
#include "find/searchrules.h"

#include <QTest>

using namespace vellumo;

class tst_SearchRules : public QObject {
    Q_OBJECT
private slots:
    void listHoldsTheTwelveCaptionsInOrder() {
        const QStringList expected{"Vorname",      "Name", "Straße", "Land",
                                   "Postleitzahl", "Ort",  "Rubrik", "Telefon 1",
                                   "Telefon 2",    "Fax",  "Email",  "WWW"};
        QCOMPARE(searchFieldCaptions(), expected);
    }

    void everyCaptionMapsToItsField_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("field");
        QTest::newRow("Name") << "Name"
                              << "Name";
        QTest::newRow("Vorname") << "Vorname"
                                 << "Vorname";
        QTest::newRow("Straße") << u"Straße"_qs << "Strasse";
        QTest::newRow("Postleitzahl") << "Postleitzahl"
                                      << "PLZ";
        QTest::newRow("Ort") << "Ort"
                             << "Ort";
        QTest::newRow("Land") << "Land"
                              << "Land";
        QTest::newRow("Telefon 1") << "Telefon 1"
                                   << "Telefon1";
        QTest::newRow("Telefon 2") << "Telefon 2"
                                   << "Telefon2";
        QTest::newRow("Fax") << "Fax"
                             << "Fax";
        QTest::newRow("Email") << "Email"
                               << "Email";
        QTest::newRow("WWW") << "WWW"
                             << "WWW";
        QTest::newRow("Rubrik") << "Rubrik"
                                << "Rubrik";
    }
    void everyCaptionMapsToItsField() {
        QFETCH(QString, caption);
        QFETCH(QString, field);
        QCOMPARE(searchFieldName(caption), field);
    }

    void textsThatAreNoCaptionGiveNoField_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("lower case") << "name";
        QTest::newRow("upper case") << "NAME";
        QTest::newRow("field name instead of caption") << "PLZ";
        QTest::newRow("trailing blank") << "Name ";
        QTest::newRow("no blank in Telefon") << "Telefon1";
        QTest::newRow("ss for ß") << "Strasse";
        QTest::newRow("empty") << "";
    }
    void textsThatAreNoCaptionGiveNoField() {
        QFETCH(QString, text);
        QCOMPARE(searchFieldName(text), QString());
    }

    void expressionQuotesTheTextAsTyped_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expression");
        QTest::newRow("plain") << "PLZ"
                               << "12345"
                               << "PLZ = '12345'";
        QTest::newRow("empty text") << "Name"
                                    << ""
                                    << "Name = ''";
        QTest::newRow("blanks kept") << "Ort"
                                     << " Bad Tölz " << u"Ort = ' Bad Tölz '"_qs;
        QTest::newRow("asterisk kept") << "Name"
                                       << "Mei*"
                                       << "Name = 'Mei*'";
        QTest::newRow("apostrophe doubled") << "Name"
                                            << "O'Neill"
                                            << "Name = 'O''Neill'";
        QTest::newRow("lone apostrophe") << "Name"
                                         << "'"
                                         << "Name = ''''";
        // A text shaped to end the quote early stays one quoted value.
        QTest::newRow("quote breaking attempt") << "Name"
                                                << "x' OR Name <> '"
                                                << "Name = 'x'' OR Name <> '''";
        QTest::newRow("no field") << ""
                                  << "Meier"
                                  << " = 'Meier'";
    }
    void expressionQuotesTheTextAsTyped() {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, expression);
        QCOMPARE(searchExpression(field, text), expression);
    }
};

QTEST_GUILESS_MAIN(tst_SearchRules)
#include "tst_searchrules.moc"
