// The quick search of the main window, driven by keys as a person uses it.
#include "addresstables.h"
#include "testsupport.h"

#include "app/hauptformular.h"
#include "find/quicksearch.h"
#include "print/storerows.h"
#include "search/index.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

class tst_QuickSearch : public QObject {
    Q_OBJECT

    struct Fixture {
        testsupport::Sandbox sandbox;
        THauptformular main;
        vellumo::find::QuickSearch& quick = main.quickSearch();
        Fixture() {
            QList<testsupport::Address> rows = testsupport::numberedAddresses(30);
            rows << testsupport::Address{{"Name", "Schröder"},
                                         {"Vorname", "Anna"},
                                         {"Ort", "Köln"},
                                         {"Telefon1", "0221 / 123 45 67"}}
                 << testsupport::Address{{"Name", "Schroeder"},
                                         {"Vorname", "Bernd"},
                                         {"Ort", "Köln"},
                                         {"Memo1", "kennt Anna"}}
                 << testsupport::Address{
                        {"Name", "Schröder"}, {"Vorname", "Carl"}, {"Ort", "Bonn"}};
            testsupport::makeAddressTable(main.Datentabelle, sandbox.file("Adressen"), rows);
            main.EnableTableControls();
            main.show();
            QVERIFY(QTest::qWaitForWindowExposed(&main));
            // The table is read in steps from the event loop.
            QTRY_VERIFY(quick.index().isComplete());
        }
        QString shown(const char* name) const {
            auto* edit = main.findChild<QLineEdit*>(name);
            return edit ? edit->text() : QStringLiteral("(no %1)").arg(name);
        }
        QStringList rows() const {
            QStringList texts;
            for (int i = 0; i < quick.list()->topLevelItemCount(); ++i) {
                const QTreeWidgetItem* row = quick.list()->topLevelItem(i);
                texts << QStringList{row->text(0), row->text(1), row->text(2), row->text(3)}.join(
                    u'|');
            }
            return texts;
        }
    };

private slots:
    void keysFindTheRecordAndEnterGoesThere() {
        Fixture f;
        QCOMPARE(f.quick.box()->accessibleName(), QString("Schnellsuche"));
        QTest::keyClick(&f.main, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(f.quick.box()->hasFocus());
        testsupport::typeText(f.quick.box(), "schroder koln");
        QVERIFY(f.quick.popup()->isVisible());
        // Both spellings match, in the table's order; Carl lives in Bonn.
        QCOMPARE(f.rows(), (QStringList{"Schröder|Anna|Köln|", "Schroeder|Bernd|Köln|"}));
        QCOMPARE(f.quick.popup()->findChild<QLabel*>("SchnellsucheAnzahl")->text(),
                 QString("2 Treffer"));
        QTest::keyClick(f.quick.box(), Qt::Key_Down);
        QTest::keyClick(f.quick.box(), Qt::Key_Return);
        QVERIFY(!f.quick.popup()->isVisible());
        QCOMPARE(f.shown("DBEditName"), QString("Schroeder"));
        QCOMPARE(f.shown("DBEditVorname"), QString("Bernd"));

        // A phone number as a caller display shows it; the hit is named.
        QTest::keyClick(&f.main, Qt::Key_F3);
        testsupport::typeText(f.quick.box(), "+49 221 1234567");
        QCOMPARE(f.rows(), QStringList{"Schröder|Anna|Köln|Telefon 1: 0221 / 123 45 67"});
        // Escape closes the list and leaves the record as it was.
        f.main.Datentabelle.GoToFirst();
        QTest::keyClick(f.quick.box(), Qt::Key_Escape);
        QVERIFY(!f.quick.popup()->isVisible());
        QCOMPARE(f.shown("DBEditName"), QString("Person 01"));
    }

    void theFilterOfTheMatchesFeedsTheListPrinting() {
        Fixture f;
        QTest::keyClick(&f.main, Qt::Key_F, Qt::ControlModifier);
        testsupport::typeText(f.quick.box(), "schröder");
        QTest::keyClick(f.quick.box(), Qt::Key_Return, Qt::AltModifier);
        QVERIFY(f.quick.isFiltering());
        QVERIFY(f.main.findChild<QAction*>("FilterAus")->isEnabled());
        vellumo::print::StoreRows rows(f.main.Datentabelle);
        rows.Settle();
        QCOMPARE(rows.Count(), 3);
        QStringList names;
        for (int row = 0; row < rows.Count(); ++row) {
            rows.Seek(row);
            names << rows.FieldText("Vorname");
        }
        QCOMPARE(names, (QStringList{"Anna", "Carl", "Bernd"}));
        // "Filter aus" shows the whole table again on the same record.
        f.main.Datentabelle.StepBy(2);
        f.main.findChild<QAction*>("FilterAus")->trigger();
        QVERIFY(!f.quick.isFiltering());
        QCOMPARE(rows.Count(), 33);
        QCOMPARE(f.shown("DBEditVorname"), QString("Bernd"));
        // The next search ends the filter of the last one.
        QTest::keyClick(f.quick.box(), Qt::Key_Return, Qt::AltModifier);
        QVERIFY(f.quick.isFiltering());
        testsupport::typeText(f.quick.box(), "x");
        QVERIFY(!f.quick.isFiltering());
        QCOMPARE(rows.Count(), 33);
    }
};

QTEST_MAIN(tst_QuickSearch)
#include "tst_quicksearch.moc"
