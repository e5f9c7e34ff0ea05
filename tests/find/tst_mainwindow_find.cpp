// The main window follows what the search and the table view choose.
#include "addresstables.h"
#include "testsupport.h"

#include "app/hauptformular.h"
#include "find/formpersonauswahl.h"
#include "find/formsuchen.h"
#include "find/formtabelle.h"
#include "platform/database/dbgrid.h"

#include <QLineEdit>
#include <QTest>
#include <QToolButton>

class tst_MainWindowFind : public QObject {
    Q_OBJECT

    struct Fixture {
        testsupport::Sandbox sandbox;
        THauptformular main;
        TFormPersonAuswahl list{main.Datenquelle};
        TFormSuchen search{main.Datenquelle, list};
        TFormTabelle view{main.Datenquelle};
        Fixture() {
            main.setDialogs({.suchen = &search, .tabelle = &view});
            QList<testsupport::Address> rows = testsupport::numberedAddresses(30);
            rows << testsupport::Address{{"Name", "Meier"}, {"Vorname", "Anna"}}
                 << testsupport::Address{{"Name", "Meier"}, {"Vorname", "Bernd"}}
                 << testsupport::Address{{"Name", "Meiering"}, {"Vorname", "Carl"}};
            testsupport::makeAddressTable(main.Datentabelle, sandbox.file("Adressen"), rows);
            main.EnableTableControls();
            main.show();
            QVERIFY(QTest::qWaitForWindowExposed(&main));
        }
        QString shownName() const { return field("DBEditName"); }
        QString shownVorname() const { return field("DBEditVorname"); }
        QString field(const char* name) const {
            auto* edit = main.findChild<QLineEdit*>(name);
            return edit ? edit->text() : QStringLiteral("(no %1)").arg(name);
        }
        void click(const char* button) {
            auto* tool = main.findChild<QToolButton*>(button);
            QVERIFY(tool);
            QVERIFY(tool->isEnabled());
            tool->click();
        }
    };

private slots:
    void searchButtonChoosesTheThirdMatchInTheList() {
        Fixture f;
        testsupport::whenModal([&](QWidget*) {
            testsupport::whenModal([&](QWidget* list) {
                QTest::keyClick(f.list.grid(), Qt::Key_Down);
                QTest::keyClick(f.list.grid(), Qt::Key_Down);
                QTest::keyClick(list, Qt::Key_Return);
            });
            testsupport::typeText(f.search.searchTextEdit(), "mei*");
            QTest::keyClick(f.search.searchTextEdit(), Qt::Key_Return);
            QTest::keyClick(f.search.searchTextEdit(), Qt::Key_Escape); // Enter left it open
        });
        f.click("ButtonSuchen");
        QCOMPARE(f.shownName(), QStringLiteral("Meiering"));
        QCOMPARE(f.shownVorname(), QStringLiteral("Carl"));
        QVERIFY(!f.main.Datentabelle.IsFilterActive());
    }

    void mainWindowFollowsTheListWhileItIsOpen() {
        Fixture f;
        QString behind;
        testsupport::whenModal([&](QWidget*) {
            testsupport::whenModal([&](QWidget*) {
                QTest::keyClick(f.list.grid(), Qt::Key_Down);
                behind = f.shownVorname();
                QTest::keyClick(f.list.grid(), Qt::Key_Escape);
            });
            testsupport::typeText(f.search.searchTextEdit(), "Meier");
            QTest::keyClick(f.search.searchTextEdit(), Qt::Key_Return);
            QTest::keyClick(f.search.searchTextEdit(), Qt::Key_Escape); // Enter left it open
        });
        f.click("ButtonSuchen");
        QCOMPARE(behind, QStringLiteral("Bernd"));
        QCOMPARE(f.shownVorname(), QStringLiteral("Bernd"));
        QVERIFY(f.main.Datentabelle.IsFilterActive());
    }

    void tableViewChoosesTheTwelfthRow() {
        Fixture f;
        testsupport::whenModal([&](QWidget*) {
            const QRect row = f.view.grid()->visualRect(f.view.grid()->model()->index(11, 0));
            QTest::mouseClick(f.view.grid()->viewport(), Qt::LeftButton, {}, row.center());
            QTest::keyClick(f.view.grid(), Qt::Key_Return);
        });
        f.click("ButtonTabelle");
        QCOMPARE(f.main.Datentabelle.RecordNumber(), 12);
        QCOMPARE(f.shownName(), f.main.Datentabelle.fieldText("Name"));
        QVERIFY(!f.shownName().isEmpty());
    }
};

QTEST_MAIN(tst_MainWindowFind)
#include "tst_mainwindow_find.moc"
