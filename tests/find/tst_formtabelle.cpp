// The table view on a real address table.
#include "addresstables.h"
#include "testsupport.h"

#include "find/formtabelle.h"
#include "platform/database/datasource.h"
#include "platform/database/dbgrid.h"
#include "platform/database/recordstore.h"

#include <QFrame>
#include <QTest>
#include <QToolButton>

using namespace vellumo;

class tst_FormTabelle : public QObject {
    Q_OBJECT

    struct Fixture {
        testsupport::Sandbox sandbox;
        RecordStore store;
        DataSource source{store};
        TFormTabelle view{source};
        explicit Fixture(int records = 30) {
            testsupport::makeAddressTable(store, sandbox.file("Adressen"),
                                          testsupport::numberedAddresses(records));
        }
        DBGrid* grid() const { return view.grid(); }
        int selectedRow() const {
            const auto rows = grid()->selectionModel()->selectedRows();
            return rows.size() == 1 ? rows.first().row() : -1;
        }
        // Shows the view modally and runs act while it is open.
        int open(const std::function<void()>& act) {
            testsupport::whenModal([act](QWidget*) { act(); });
            return view.exec();
        }
    };

private slots:
    void listsAllRowsWithTheCurrentOneSelectedAndEnterChoosesTheTwelfth() {
        Fixture f;
        f.store.StepBy(20);
        int rows = -1, selected = -1;
        f.open([&] {
            rows = f.grid()->model()->rowCount();
            selected = f.selectedRow();
            f.grid()->setFocus();
            QTest::keyClick(f.grid(), Qt::Key_Home, Qt::ControlModifier);
            for (int i = 0; i < 11; ++i)
                QTest::keyClick(f.grid(), Qt::Key_Down);
            QTest::keyClick(f.grid(), Qt::Key_Return);
        });
        QCOMPARE(rows, 30);
        QCOMPARE(selected, 20);
        QVERIFY(!f.view.isVisible());
        QCOMPARE(f.store.RecordNumber(), 12);
        QCOMPARE(f.store.fieldText("Name"), QStringLiteral("Person 12"));
    }

    void everyWayOfClosingKeepsTheLastSelection() {
        Fixture f;
        f.open([&] {
            QTest::keyClick(f.grid(), Qt::Key_Down);
            QTest::keyClick(f.grid(), Qt::Key_Escape);
        });
        QCOMPARE(f.store.RecordNumber(), 2);
        f.open([&] {
            QCOMPARE(f.selectedRow(), 1);
            QTest::keyClick(f.grid(), Qt::Key_Down);
            f.view.findChild<QToolButton*>("ButtonExit")->click();
        });
        QCOMPARE(f.store.RecordNumber(), 3);
        f.open([&] {
            QTest::keyClick(f.grid(), Qt::Key_PageDown);
            f.view.close();
        });
        QVERIFY(f.store.RecordNumber() > 3);
        QVERIFY(!f.view.isVisible());
    }

    void exitButtonStaysThirtyTwoPixelsFromTheRightEdge() {
        Fixture f(3);
        f.open([&] {
            auto* panel = f.view.findChild<QFrame*>("Panel1");
            auto* exit = f.view.findChild<QToolButton*>("ButtonExit");
            QCOMPARE(panel->height(), 33);
            QCOMPARE(exit->geometry(), QRect(panel->width() - 32, 4, 25, 25));
            f.view.resize(900, 500);
            QCOMPARE(panel->width(), 900);
            QCOMPARE(exit->x(), 900 - 32);
            f.view.resize(320, 200);
            QCOMPARE(exit->x(), 320 - 32);
            f.view.reject();
        });
    }

    void showsOnlyTheMatchesWhileAFilterIsOn() {
        Fixture f;
        f.store.SetFilterText("Name = 'Person 1*'");
        f.store.SetFilterActive(true);
        int rows = -1;
        f.open([&] {
            rows = f.grid()->model()->rowCount();
            QTest::keyClick(f.grid(), Qt::Key_Down);
            QTest::keyClick(f.grid(), Qt::Key_Return);
        });
        QCOMPARE(rows, 10);
        QVERIFY(f.store.IsFilterActive());
        QCOMPARE(f.store.RecordNumber(), 11);
    }

    void ctrlDelInTheViewAnsweredBothWays() {
        Fixture f(5);
        f.open([&] {
            QTest::keyClick(f.grid(), Qt::Key_Down);
            testsupport::whenModal(
                [](QWidget* box) { testsupport::clickButton(box, "Abbrechen"); });
            QTest::keyClick(f.grid(), Qt::Key_Delete, Qt::ControlModifier);
            QCOMPARE(f.grid()->model()->rowCount(), 5);
            testsupport::whenModal([](QWidget* box) { testsupport::clickButton(box, "OK"); });
            QTest::keyClick(f.grid(), Qt::Key_Delete, Qt::ControlModifier);
            QCOMPARE(f.grid()->model()->rowCount(), 4);
            QTest::keyClick(f.grid(), Qt::Key_Escape);
        });
        QCOMPARE(f.store.CountRecords(), 4);
        QCOMPARE(f.store.fieldText("Name"), QStringLiteral("Person 03"));
    }
};

QTEST_MAIN(tst_FormTabelle)
#include "tst_formtabelle.moc"
