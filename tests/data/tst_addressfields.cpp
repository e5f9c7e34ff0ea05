// The bank fields and the postcode of the main window as a user meets them:
// an IBAN pasted or typed, the bank filled in, warnings that never refuse.
#include "addresstables.h"
#include "testsupport.h"

#include "address/bank.h"
#include "app/hauptformular.h"
#include "platform/database/boundcontrols.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QTest>
#include <QToolButton>

using testsupport::clickButton;
using testsupport::messageText;
using testsupport::typeText;
using testsupport::whenModal;

class tst_AddressFields : public QObject {
    Q_OBJECT

    struct Fixture {
        testsupport::Sandbox sandbox;
        THauptformular main;
        explicit Fixture(const QList<testsupport::Address>& rows) {
            testsupport::makeAddressTable(main.Datentabelle, sandbox.file("Adressen"), rows);
            main.EnableTableControls();
            main.show();
            QVERIFY(testsupport::activate(&main));
        }
        ~Fixture() { main.Datentabelle.CloseTableAtShutdown(); }
        bool activate() { return testsupport::activate(&main); }
        vellumo::DBEdit* edit(const char* name) const {
            return main.findChild<vellumo::DBEdit*>(QString::fromLatin1(name));
        }
        QLineEdit* line(const char* name) const {
            return main.findChild<QLineEdit*>(QString::fromLatin1(name));
        }
        QString stored(const char* field) const {
            return main.Datentabelle.fieldText(QString::fromLatin1(field));
        }
        void focus(QWidget* widget) {
            QVERIFY(testsupport::activate(&main));
            widget->setFocus(Qt::TabFocusReason);
            QTRY_VERIFY(widget->hasFocus());
        }
        // "Bearbeiten > Einfügen" with text in the clipboard, into widget.
        void paste(QWidget* widget, const QString& text) {
            QApplication::clipboard()->setText(text);
            focus(widget);
            main.findChild<QAction*>(QStringLiteral("Einfuegen"))->trigger();
        }
        void leave(QWidget* widget) {
            QTest::keyClick(widget, Qt::Key_Tab);
            testsupport::settle();
        }
    };

    static bool banksInstalled() {
        return vellumo::address::BankDirectory::installed().isAvailable();
    }

private slots:
    // The IBAN from an invoice, pasted into "Kto-Nr": the two fields take it,
    // the line under them shows it back, Ctrl+C there copies it, and the
    // bank is filled in; stored when the field is left.
    void pastedIbanFillsTheBankFields() {
        Fixture f({{{"Name", "Adler"}}});
        QLineEdit* iban = f.line("IbanLine");
        QVERIFY(iban && iban->isVisible() && iban->isReadOnly());
        QCOMPARE(iban->text(), QString());
        auto* label = f.main.findChild<QLabel*>(QStringLiteral("IbanLabel"));
        QVERIFY(label && label->buddy() == iban);

        f.paste(f.edit("DBEditKto"), QStringLiteral("DE89 3704 0044 0532 0130 00"));
        testsupport::settle();
        QCOMPARE(f.edit("DBEditBLZ")->text(), QStringLiteral("37040044"));
        QCOMPARE(f.edit("DBEditKto")->text(), QStringLiteral("0532013000"));
        QCOMPARE(iban->text(), QStringLiteral("DE89 3704 0044 0532 0130 00"));
        f.leave(f.edit("DBEditKto"));
        QCOMPARE(f.stored("BLZ"), QStringLiteral("37040044"));
        QCOMPARE(f.stored("KontoNr"), QStringLiteral("0532013000"));
        QVERIFY(!f.main.Datentabelle.HasUnsavedChanges());
        if (banksInstalled()) {
            QCOMPARE(f.stored("Institut"), QStringLiteral("Commerzbank Köln"));
            QCOMPARE(f.line("BicLine")->text(), QStringLiteral("COBADEFFXXX"));
        }

        QApplication::clipboard()->clear();
        f.focus(iban);
        iban->deselect();
        QTest::keyClick(iban, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("DE89 3704 0044 0532 0130 00"));
    }

    // A typing error in an IBAN and a foreign IBAN are refused from the
    // fields with a German message; the foreign one is offered for the notes.
    void wrongAndForeignIbansAreRefused() {
        Fixture f({{{"Name", "Adler"}, {"KontoNr", "12345"}, {"BLZ", "37040044"}}});
        vellumo::DBEdit* kto = f.edit("DBEditKto");
        f.focus(kto);
        kto->selectAll();
        typeText(kto, QStringLiteral("DE88 3704 0044 0532 0130 00"));
        QString refusal;
        whenModal([&](QWidget* box) {
            refusal = messageText(box);
            clickButton(box, QStringLiteral("OK"));
        });
        f.leave(kto);
        QTRY_VERIFY(!refusal.isEmpty());
        QCOMPARE(refusal,
                 QStringLiteral("Die IBAN „DE88 3704 0044 0532 0130 00“ ist ungültig: Ihre "
                                "Prüfziffer stimmt nicht. Bitte prüfen Sie sie auf einen "
                                "Tippfehler."));
        QCOMPARE(f.stored("KontoNr"), QStringLiteral("12345"));
        QTRY_VERIFY(kto->hasFocus());

        // Offered for the notes and taken there: the fields keep what they had.
        QString offer;
        whenModal([&](QWidget* box) {
            offer = messageText(box);
            clickButton(box, QStringLiteral("&Ja"));
        });
        f.paste(kto, QStringLiteral("AT61 1904 3002 3457 3201"));
        QTRY_VERIFY(!offer.isEmpty());
        QVERIFY2(offer.contains(QStringLiteral("aus Österreich")), qPrintable(offer));
        QVERIFY(f.activate());
        QCOMPARE(kto->text(), QStringLiteral("12345"));
        f.leave(kto);
        QCOMPARE(f.stored("Memo1"), QStringLiteral("IBAN: AT61 1904 3002 3457 3201"));
        QCOMPARE(f.stored("KontoNr"), QStringLiteral("12345"));
        QCOMPARE(f.stored("BLZ"), QStringLiteral("37040044"));

        // Declined: refused when the field is left, nothing stored.
        vellumo::DBEdit* blz = f.edit("DBEditBLZ");
        whenModal([&](QWidget* box) { clickButton(box, QStringLiteral("&Nein")); });
        f.paste(blz, QStringLiteral("CH93 0076 2011 6238 5295 7"));
        testsupport::settle();
        QVERIFY(f.activate());
        refusal.clear();
        whenModal([&](QWidget* box) {
            refusal = messageText(box);
            clickButton(box, QStringLiteral("OK"));
        });
        f.leave(blz);
        QTRY_VERIFY(refusal.startsWith(QStringLiteral("Die IBAN „CH93 0076 2011 6238 5295 7“ ist "
                                                      "aus der Schweiz")));
        QCOMPARE(f.stored("BLZ"), QStringLiteral("37040044"));
        QCOMPARE(f.stored("Memo1"), QStringLiteral("IBAN: AT61 1904 3002 3457 3201"));
    }

    // Leaving "BLZ" fills an empty "Kreditinstitut" and leaves a typed one;
    // an unknown code and a rejected account number warn and are stored.
    void bankFromItsCodeAndWarnings() {
        if (!banksInstalled())
            QSKIP("KtoBlzCheck's bank code list is not installed (libktoblzcheck1-dev)");
        Fixture f({{{"Name", "Adler"}}, {{"Name", "Berg"}, {"Institut", "Meine Bank"}}});
        vellumo::DBEdit* blz = f.edit("DBEditBLZ");
        vellumo::DBEdit* kto = f.edit("DBEditKto");
        f.focus(blz);
        typeText(blz, QStringLiteral("37040044"));
        f.leave(blz);
        QCOMPARE(f.stored("Institut"), QStringLiteral("Commerzbank Köln"));
        QCOMPARE(f.edit("DBEditInst")->text(), QStringLiteral("Commerzbank Köln"));
        QVERIFY(!f.main.Datentabelle.HasUnsavedChanges());

        f.focus(kto);
        typeText(kto, QStringLiteral("0532014000"));
        f.leave(kto);
        QCOMPARE(f.stored("KontoNr"), QStringLiteral("0532014000"));
        QVERIFY2(kto->accessibleDescription().contains(QStringLiteral("Prüfziffer")),
                 qPrintable(kto->accessibleDescription()));
        QCOMPARE(kto->toolTip(), kto->accessibleDescription());
        QCOMPARE(kto->actions().size(), 1);
        QVERIFY(kto->actions().front()->isVisible());
        QCOMPARE(f.line("IbanLine")->text(), QStringLiteral("DE55 3704 0044 0532 0140 00"));

        f.main.findChild<QToolButton*>(QStringLiteral("ButtonNext"))->click();
        QCOMPARE(f.stored("Name"), QStringLiteral("Berg"));
        QCOMPARE(kto->accessibleDescription(), QString());
        f.focus(blz);
        typeText(blz, QStringLiteral("99999999"));
        f.leave(blz);
        QCOMPARE(f.stored("BLZ"), QStringLiteral("99999999"));
        QCOMPARE(f.stored("Institut"), QStringLiteral("Meine Bank"));
        QVERIFY(blz->accessibleDescription().contains(QStringLiteral("nicht in der Liste")));
        QCOMPARE(f.line("BicLine")->text(), QString());

        f.focus(blz);
        blz->selectAll();
        typeText(blz, QStringLiteral("37040044"));
        f.leave(blz);
        QCOMPARE(f.stored("Institut"), QStringLiteral("Meine Bank"));
        QCOMPARE(blz->accessibleDescription(), QString());
    }

    // "Bearbeiten › Nummern vereinheitlichen" by its keys: the address shown,
    // then all shown; what cannot be read stays and is listed; nothing is
    // rewritten before the user asks.
    void numbersUnifiedOnRequest() {
        Fixture f({{{"Name", "Adler"}, {"Telefon1", "0221/1234567"}, {"Fax", "keine"}},
                   {{"Name", "Berg"},
                    {"Land", "Österreich"},
                    {"Telefon1", "+49 (0)221 123 45 67"},
                    {"Telefon2", "0049 221 1234567"}},
                   {{"Name", "Claus"}, {"Telefon1", "0221-7654321"}}});
        QCOMPARE(f.stored("Telefon1"), QStringLiteral("0221/1234567"));
        auto choose = [&f](Qt::Key item) {
            QVERIFY(f.activate());
            QTest::keyClick(&f.main, Qt::Key_B, Qt::AltModifier); // "&Bearbeiten"
            QTRY_VERIFY(QApplication::activePopupWidget());
            QTest::keyClick(QApplication::activePopupWidget(),
                            Qt::Key_V); // "Nummern &vereinheitlichen"
            QTRY_VERIFY(QApplication::activePopupWidget() &&
                        QApplication::activePopupWidget()->objectName() ==
                            QStringLiteral("NummernVereinheitlichen"));
            QTest::keyClick(QApplication::activePopupWidget(), item);
        };
        QString report;
        whenModal([&](QWidget* box) {
            report = messageText(box);
            clickButton(box, QStringLiteral("OK"));
        });
        choose(Qt::Key_A); // "Diese &Adresse"
        QTRY_VERIFY(!report.isEmpty());
        QCOMPARE(report, QStringLiteral("1 Nummer in 1 Adresse nach DIN 5008 geschrieben.\n\n"
                                        "Unverändert geblieben:\n"
                                        "• Adler – Fax: „keine“ (keine lesbare Telefonnummer)"));
        QCOMPARE(f.stored("Telefon1"), QStringLiteral("0221 1234567"));
        QCOMPARE(f.stored("Fax"), QStringLiteral("keine"));
        QCOMPARE(f.main.Datentabelle.textAt(1, QStringLiteral("Telefon1")),
                 QStringLiteral("+49 (0)221 123 45 67"));

        vellumo::RecordStore& store = f.main.Datentabelle;
        auto dump = [&store] { // but the stamp of the day, which undo writes anew
            QStringList lines;
            for (int p = 0; p < store.storedCount(); ++p) {
                QStringList texts = store.storedTexts(p);
                texts.removeAt(store.fieldIndex(QStringLiteral("Aenderung")));
                lines << texts.join(u'|');
            }
            return lines;
        };
        const QStringList before = dump();
        report.clear();
        whenModal([&](QWidget* box) {
            report = messageText(box);
            clickButton(box, QStringLiteral("OK"));
        });
        choose(Qt::Key_G); // "Alle &gezeigten Adressen"
        QTRY_VERIFY(report.startsWith(QStringLiteral("3 Nummern in 2 Adressen")));
        QCOMPARE(f.main.Datentabelle.textAt(1, QStringLiteral("Telefon1")),
                 QStringLiteral("+49 221 1234567"));
        QCOMPARE(f.main.Datentabelle.textAt(1, QStringLiteral("Telefon2")),
                 QStringLiteral("+49 221 1234567"));
        QCOMPARE(f.main.Datentabelle.textAt(0, QStringLiteral("Fax")), QStringLiteral("keine"));
        QCOMPARE(f.stored("Name"), QStringLiteral("Adler"));
        // All of them are one step: one undo brings every number back.
        const QStringList unified = dump();
        QCOMPARE(store.undoLabel(), QStringLiteral("Nummern vereinheitlichen (2 Adressen)"));
        store.Undo();
        QCOMPARE(dump(), before);
        store.Redo();
        QCOMPARE(dump(), unified);
    }

    // Five digits for a German address; another country's postcode is its own.
    void postcodeWarning() {
        Fixture f({{{"Name", "Adler"}, {"PLZ", "5066"}}, {{"Name", "Berg"}, {"PLZ", "50667"}}});
        vellumo::DBEdit* plz = f.edit("DBEditPLZ");
        QCOMPARE(plz->accessibleDescription(),
                 QStringLiteral("Eine deutsche Postleitzahl hat fünf Ziffern."));
        f.focus(f.edit("DBEditLand"));
        typeText(f.edit("DBEditLand"), QStringLiteral("Österreich"));
        f.leave(f.edit("DBEditLand"));
        QCOMPARE(plz->accessibleDescription(), QString());
        QCOMPARE(f.stored("PLZ"), QStringLiteral("5066"));
    }
};

QTEST_MAIN(tst_AddressFields)
#include "tst_addressfields.moc"
