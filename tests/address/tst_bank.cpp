// IBANs, the bank code list and the postcode rule, without a window.
#include "address/bank.h"

#include <iban.h>

#include <QTest>

using namespace vellumo::address;

class tst_Bank : public QObject {
    Q_OBJECT
private slots:
    // The example every bank prints: pasted with its spaces, split into the
    // table's two fields and computed back from them.
    void germanIbanSplitsAndComesBack() {
        const QString pasted = QStringLiteral(" DE89 3704 0044 0532 0130 00 ");
        QVERIFY(looksLikeIban(pasted));
        const QString compact = compactIban(pasted);
        QCOMPARE(compact, QStringLiteral("DE89370400440532013000"));
        QCOMPARE(checkIban(compact), IbanFault::None);
        const auto account = splitGermanIban(compact);
        QVERIFY(account);
        QCOMPARE(account->blz, QStringLiteral("37040044"));
        QCOMPARE(account->kontoNr, QStringLiteral("0532013000"));
        QCOMPARE(germanIban(account->blz, account->kontoNr), compact);
        QCOMPARE(germanIban(QStringLiteral("37040044"), QStringLiteral("532013000")), compact);
        QCOMPARE(groupInFours(compact), QStringLiteral("DE89 3704 0044 0532 0130 00"));

        // Fields that do not make an IBAN give none.
        QCOMPARE(germanIban(QStringLiteral("3704004"), QStringLiteral("532013000")), QString());
        QCOMPARE(germanIban(QStringLiteral("37040044"), QString()), QString());
        QCOMPARE(germanIban(QStringLiteral("37040044"), QStringLiteral("53201-300")), QString());
        QVERIFY(!looksLikeIban(QStringLiteral("0532013000")));
        QVERIFY(!looksLikeIban(QStringLiteral("DE")));
    }

    // The check digits computed here, read by KtoBlzCheck's own IBAN check,
    // over accounts of every length; and one changed digit is always found.
    void checkDigitsAgreeWithTheLibrary() {
        const IbanCheck library;
        QVERIFY(!library.error());
        QString account;
        for (int digits = 1; digits <= 10; ++digits) {
            account += QChar(u'0' + (digits * 7) % 10);
            const QString iban = germanIban(QStringLiteral("10010010"), account);
            QCOMPARE(iban.size(), 22);
            QCOMPARE(library.check(iban.toStdString()), IbanCheck::OK);
            QString typo = iban;
            typo[10] = QChar(u'0' + (typo[10].unicode() - u'0' + 1) % 10);
            QCOMPARE(checkIban(typo), IbanFault::CheckDigits);
            QVERIFY(!splitGermanIban(typo));
        }
        for (const char* foreign : {"AT611904300234573201", "CH9300762011623852957",
                                    "FR1420041010050500013M02606", "GB29NWBK60161331926819"}) {
            QCOMPARE(checkIban(QString::fromLatin1(foreign)), IbanFault::None);
            QCOMPARE(library.check(foreign), IbanCheck::OK);
            QVERIFY(!splitGermanIban(QString::fromLatin1(foreign)));
        }
    }

    void faultsAreNamedInGerman() {
        const QString wrong = QStringLiteral("DE88 3704 0044 0532 0130 00");
        QCOMPARE(checkIban(compactIban(wrong)), IbanFault::CheckDigits);
        QCOMPARE(ibanFaultText(IbanFault::CheckDigits, wrong),
                 QStringLiteral("Die IBAN „DE88 3704 0044 0532 0130 00“ ist ungültig: Ihre "
                                "Prüfziffer stimmt nicht. Bitte prüfen Sie sie auf einen "
                                "Tippfehler"));
        QCOMPARE(checkIban(QStringLiteral("DE8937040044053201300")), IbanFault::WrongLength);
        QCOMPARE(ibanFaultText(IbanFault::WrongLength, u"AT61 1904 3002 3457 320"),
                 QStringLiteral("Die IBAN „AT61 1904 3002 3457 320“ ist ungültig: Eine IBAN aus "
                                "Österreich hat 20 Zeichen, diese hat 19"));
        QCOMPARE(checkIban(QStringLiteral("QQ89370400440532013000")), IbanFault::UnknownCountry);
        QCOMPARE(checkIban(QStringLiteral("DE89-3704")), IbanFault::NotAnIban);
    }

    // The list KtoBlzCheck ships: the bank, its BIC, the account check and
    // the list's date.
    void bankCodeListAnswers() {
        const BankDirectory& banks = BankDirectory::installed();
        if (!banks.isAvailable())
            QSKIP("KtoBlzCheck's bank code list is not installed (libktoblzcheck1-dev)");
        QVERIFY(banks.bankCount() > 1000);
        QVERIFY(banks.listDate().isValid());
        QVERIFY(!BankDirectory::libraryVersion().isEmpty());

        const auto commerzbank = banks.bank(u"37040044");
        QVERIFY(commerzbank);
        QCOMPARE(commerzbank->name, QStringLiteral("Commerzbank"));
        QCOMPARE(commerzbank->place, QStringLiteral("Köln"));
        QCOMPARE(commerzbank->bic, QStringLiteral("COBADEFFXXX"));
        QCOMPARE(institutText(*commerzbank, 30), QStringLiteral("Commerzbank Köln"));
        // A name too long for the field takes the list's short form.
        const auto postbank = banks.bank(u"10010010");
        QVERIFY(postbank);
        QCOMPARE(institutText(*postbank, 30), QStringLiteral("Postbank Ndl DB PFK Berlin"));

        QCOMPARE(banks.checkAccount(u"37040044", u"0532013000"), AccountVerdict::Valid);
        QCOMPARE(banks.checkAccount(u"37040044", u"532013000"), AccountVerdict::Valid);
        QCOMPARE(banks.checkAccount(u"37040044", u"0532014000"), AccountVerdict::Rejected);
        QCOMPARE(banks.checkAccount(u"99999999", u"1"), AccountVerdict::UnknownBank);
        QVERIFY(!banks.bank(u"99999999"));
        QVERIFY(!banks.bank(u"3704004x"));

        QCOMPARE(accountWarning(banks, u"37040044", u"0532013000"), QString());
        QVERIFY(accountWarning(banks, u"37040044", u"0532014000").contains(u"Prüfziffer"));
        QCOMPARE(bankCodeWarning(banks, u"37040044"), QString());
        QCOMPARE(bankCodeWarning(banks, QString()), QString());
        QVERIFY(bankCodeWarning(banks, u"99999999")
                    .contains(banks.listDate().toString(QStringLiteral("dd.MM.yyyy"))));
    }

    // A machine without the list answers "unknown" and warns of nothing.
    void missingListIsNoFault() {
        const BankDirectory none(QStringLiteral("/nonexistent/bankdata_20200420.txt"));
        QVERIFY(!none.isAvailable());
        QVERIFY(!none.bank(u"37040044"));
        QCOMPARE(none.checkAccount(u"37040044", u"0532014000"), AccountVerdict::NotChecked);
        QCOMPARE(bankCodeWarning(none, u"99999999"), QString());
        QCOMPARE(accountWarning(none, u"37040044", u"0532014000"), QString());
    }

    void postcodeRule() {
        QCOMPARE(postcodeWarning(u"", u"50667"), QString());
        QCOMPARE(postcodeWarning(u"Deutschland", u"50667"), QString());
        QCOMPARE(postcodeWarning(u"", u""), QString());
        const QString warning = QStringLiteral("Eine deutsche Postleitzahl hat fünf Ziffern.");
        QCOMPARE(postcodeWarning(u"", u"5066"), warning);
        QCOMPARE(postcodeWarning(u" D ", u"W-506"), warning);
        QCOMPARE(postcodeWarning(u"germany", u"5O667"), warning);
        QCOMPARE(postcodeWarning(u"Österreich", u"1010"), QString());
        QCOMPARE(postcodeWarning(u"Niederlande", u"1012 AB"), QString());
    }
};

QTEST_GUILESS_MAIN(tst_Bank)
#include "tst_bank.moc"
