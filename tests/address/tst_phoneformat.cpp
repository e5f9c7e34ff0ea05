// Telephone numbers by DIN 5008, through libphonenumber's numbering plans.
#include "address/phonenumber.h"

#include <QTest>

using address::din5008;

class tst_PhoneFormat : public QObject {
    Q_OBJECT
private slots:
    // The spellings a number arrives in: national for an address in its own
    // country, international for one abroad.
    void spellingsBecomeOne_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("region");
        QTest::addColumn<QString>("written");
        for (const char* typed : {"0221/1234567", "+49 (0)221 123 45 67", "0049 221 1234567"}) {
            QTest::addRow("%s, DE", typed) << typed << "DE"
                                           << "0221 1234567";
            QTest::addRow("%s, AT", typed) << typed << "AT"
                                           << "+49 221 1234567";
        }
        QTest::addRow("Wien from Germany") << "+43 1 5123456"
                                           << "DE"
                                           << "+43 1 5123456";
        QTest::addRow("Wien at home") << "0043 1 5123456"
                                      << "AT"
                                      << "01 5123456";
        QTest::addRow("Wien as written there") << "01 5123456"
                                               << "AT"
                                               << "01 5123456";
        QTest::addRow("extension") << "0221 / 123456-78"
                                   << "DE"
                                   << "0221 123456-78";
        QTest::addRow("extension abroad") << "0221 123456 - 78"
                                          << "CH"
                                          << "+49 221 123456-78";
        QTest::addRow("mobile with hyphen") << "0171-1234567"
                                            << "DE"
                                            << "0171 1234567";
        QTest::addRow("ext.") << "0221 1234567 ext. 12"
                              << "DE"
                              << "0221 1234567-12";
        QTest::addRow("unknown country") << "0221 1234567"
                                         << ""
                                         << "+49 221 1234567";
    }
    void spellingsBecomeOne() {
        QFETCH(QString, typed);
        QFETCH(QString, region);
        QFETCH(QString, written);
        QCOMPARE(din5008(typed, region), written);
    }

    void whatIsNoNumberGivesNothing() {
        for (const char* typed : {"keine", "12", "siehe Notizen", "0221 12"})
            QCOMPARE(din5008(QString::fromUtf8(typed), u"DE"), QString());
    }
};

QTEST_GUILESS_MAIN(tst_PhoneFormat)
#include "tst_phoneformat.moc"
