// The bound grid and its model on a real address table.
#include "addresstables.h"
#include "testsupport.h"

#include "platform/database/datasource.h"
#include "platform/database/dbgrid.h"
#include "platform/database/gridmodel.h"
#include "platform/database/recordstore.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>

using namespace vellumo;
using testsupport::Address;

namespace {

const QList<GridColumn> kColumns{
    {QStringLiteral("Name"), QStringLiteral("Name"), 100},
    {QStringLiteral("Vorname"), QStringLiteral("Vorname"), 102},
    {QStringLiteral("Plz"), QStringLiteral("PLZ"), 61},
};

QList<Address> fiveAddresses() {
    return {
        {{"Name", "Meier"}, {"Vorname", "Anna"}, {"PLZ", "10115"}},
        {{"Name", "Meier"}, {"Vorname", "Bernd"}, {"PLZ", "20095"}},
        {{"Name", "Müller"}, {"Vorname", "Clara"}, {"PLZ", "80331"}},
        {{"Name", "Schmidt"}, {"Vorname", "Dora"}, {"PLZ", "50667"}},
        {{"Name", "Zander"}, {"Vorname", "Emil"}, {"PLZ", "01067"}},
    };
}

} // namespace

class tst_DBGrid : public QObject {
    Q_OBJECT

    struct Fixture {
        testsupport::Sandbox sandbox;
        RecordStore store;
        DataSource source{store};
        DBGrid grid;
        explicit Fixture(const QList<Address>& addresses = fiveAddresses()) {
            testsupport::makeAddressTable(store, sandbox.file("Adressen"), addresses);
            grid.setColumns(kColumns);
            grid.setDataSource(&source);
            grid.resize(400, 300);
            grid.show();
            QVERIFY(QTest::qWaitForWindowExposed(&grid));
        }
        QString cell(int row, int column) const {
            return grid.model()->index(row, column).data().toString();
        }
        int selectedRow() const {
            const auto rows = grid.selectionModel()->selectedRows();
            return rows.size() == 1 ? rows.first().row() : -1;
        }
    };

private slots:
    void modelKeepsItsContractThroughEveryKindOfChange() {
        Fixture f;
        QAbstractItemModelTester tester(f.grid.model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(f.grid.model()->rowCount(), 5);
        QCOMPARE(f.grid.model()->columnCount(), 3);
        // The column spelled "Plz" finds the field "PLZ".
        QCOMPARE(f.cell(2, 2), QStringLiteral("80331"));
        QCOMPARE(f.cell(4, 0), QStringLiteral("Zander"));

        f.store.SetFilterText("Name = 'meier'");
        f.store.SetFilterActive(true);
        QCOMPARE(f.grid.model()->rowCount(), 2);
        QCOMPARE(f.cell(1, 1), QStringLiteral("Bernd"));

        f.store.SetFilterActive(false);
        QCOMPARE(f.grid.model()->rowCount(), 5);

        f.store.StepBy(2);
        f.store.RemoveRecord();
        QCOMPARE(f.grid.model()->rowCount(), 4);
        QCOMPARE(f.cell(2, 0), QStringLiteral("Schmidt"));

        f.store.BeginEdit();
        f.store.SetFieldText("Vorname", "Doris");
        QCOMPARE(f.cell(2, 1), QStringLiteral("Doris"));
        f.store.SaveRecord();

        f.store.CloseTable();
        QCOMPARE(f.grid.model()->rowCount(), 0);
        f.store.OpenTable();
        QCOMPARE(f.grid.model()->rowCount(), 4);
        QCOMPARE(f.cell(2, 1), QStringLiteral("Doris"));
    }

    void titlesAndIndicatorMarkTheCurrentRow() {
        Fixture f;
        QAbstractItemModel* model = f.grid.model();
        QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("PLZ"));
        QVERIFY(!model->headerData(0, Qt::Vertical, Qt::DecorationRole).isNull());
        f.store.GoToLast();
        QVERIFY(model->headerData(0, Qt::Vertical, Qt::DecorationRole).isNull());
        QVERIFY(!model->headerData(4, Qt::Vertical, Qt::DecorationRole).isNull());
        // No row numbers in the indicator column.
        QCOMPARE(model->headerData(4, Qt::Vertical).toString(), QString());
    }

    void selectionFollowsTheCursorMovedElsewhere() {
        Fixture f;
        QCOMPARE(f.selectedRow(), 0);
        f.store.GoToLast();
        QCOMPARE(f.selectedRow(), 4);
        f.store.StepBy(-2);
        QCOMPARE(f.selectedRow(), 2);
        QCOMPARE(f.grid.currentIndex().row(), 2);
    }

    void choosingARowMovesTheCursor() {
        Fixture f;
        const QRect third = f.grid.visualRect(f.grid.model()->index(3, 1));
        QTest::mouseClick(f.grid.viewport(), Qt::LeftButton, {}, third.center());
        QCOMPARE(f.store.RecordNumber(), 4);
        QCOMPARE(f.store.fieldText("Name"), QStringLiteral("Schmidt"));
        QCOMPARE(f.selectedRow(), 3);

        QTest::keyClick(&f.grid, Qt::Key_Up);
        QCOMPARE(f.store.fieldText("Name"), QStringLiteral("Müller"));
        QTest::keyClick(&f.grid, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(f.store.RecordNumber(), 5);
        QTest::keyClick(&f.grid, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(f.store.RecordNumber(), 1);

        // Moving within the filter keeps the whole-table numbers.
        f.store.SetFilterText("Name = 'Meier'");
        f.store.SetFilterActive(true);
        QTest::keyClick(&f.grid, Qt::Key_Down);
        QCOMPARE(f.store.RecordNumber(), 2);
        QCOMPARE(f.grid.model()->rowCount(), 2);
    }

    void cellsCannotBeEditedNorRecordsAdded() {
        Fixture f;
        const QRect cell = f.grid.visualRect(f.grid.model()->index(1, 0));
        QTest::mouseDClick(f.grid.viewport(), Qt::LeftButton, {}, cell.center());
        QTest::keyClick(&f.grid, Qt::Key_F2);
        QTest::keyClicks(&f.grid, "xyz");
        QTest::keyClick(&f.grid, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(&f.grid, Qt::Key_Down);
        QTest::keyClick(&f.grid, Qt::Key_Insert);
        QVERIFY(f.grid.findChildren<QLineEdit*>().isEmpty());
        QCOMPARE(f.store.state(), StoreState::Browsing);
        QCOMPARE(f.store.CountRecords(), 5);
        QCOMPARE(f.store.RecordNumber(), 5);
    }

    void ctrlDelAsksBeforeDeleting() {
        Fixture f;
        f.store.StepBy(1);
        QString asked;
        testsupport::whenModal([&](QWidget* box) {
            asked = box->windowTitle() + "|" + testsupport::messageText(box);
            testsupport::clickButton(box, "Abbrechen");
        });
        QTest::keyClick(&f.grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(asked, QStringLiteral("Bestätigen|Datensatz löschen?"));
        QCOMPARE(f.store.CountRecords(), 5);

        testsupport::whenModal([](QWidget* box) { testsupport::clickButton(box, "OK"); });
        QTest::keyClick(&f.grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(f.store.CountRecords(), 4);
        QCOMPARE(f.grid.model()->rowCount(), 4);
        QCOMPARE(f.cell(1, 1), QStringLiteral("Clara"));
        QCOMPARE(f.selectedRow(), f.store.visiblePosition());

        // Plain Del deletes nothing.
        QTest::keyClick(&f.grid, Qt::Key_Delete);
        QCOMPARE(f.store.CountRecords(), 4);
    }

    void aFailedMoveShowsTheErrorAndKeepsTheSelectionTrue() {
        Fixture f;
        // A changed record whose key collides with another cannot be saved,
        // so the move that would settle it fails.
        f.store.StepBy(1);
        f.store.BeginEdit();
        f.store.SetFieldText("Vorname", "Anna");
        f.store.SetFieldText("PLZ", "10115");
        QString error;
        testsupport::whenModal([&](QWidget* box) {
            error = testsupport::messageText(box);
            testsupport::clickButton(box, "OK");
        });
        const QRect last = f.grid.visualRect(f.grid.model()->index(4, 0));
        QTest::mouseClick(f.grid.viewport(), Qt::LeftButton, {}, last.center());
        QVERIFY(!error.isEmpty());
        QCOMPARE(f.store.RecordNumber(), 2);
        QTRY_COMPARE(f.selectedRow(), 1);
        QCOMPARE(f.grid.currentIndex().row(), 1);
    }

    void leavingTheGridDropsAnUntouchedNewRecordOnly() {
        testsupport::Sandbox sandbox;
        RecordStore store;
        DataSource source(store);
        testsupport::makeAddressTable(store, sandbox.file("Adressen"), fiveAddresses());
        QWidget window;
        auto* grid = new DBGrid(&window);
        auto* other = new QLineEdit(&window);
        grid->setGeometry(0, 0, 300, 200);
        other->setGeometry(0, 210, 300, 20);
        grid->setColumns(kColumns);
        grid->setDataSource(&source);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        grid->setFocus(Qt::TabFocusReason);
        store.InsertBlankRecord();
        other->setFocus(Qt::TabFocusReason);
        QCOMPARE(store.state(), StoreState::Browsing);
        QCOMPARE(store.CountRecords(), 5);

        grid->setFocus(Qt::TabFocusReason);
        store.InsertBlankRecord();
        store.SetFieldText("Name", "Neu");
        other->setFocus(Qt::TabFocusReason);
        QCOMPARE(store.state(), StoreState::Inserting);
        store.SaveRecord();
        QCOMPARE(store.CountRecords(), 6);
        QCOMPARE(grid->model()->rowCount(), 6);
    }

    void emptyTableShowsNoRowsAndDeletesNothing() {
        Fixture f(QList<Address>{});
        QCOMPARE(f.grid.model()->rowCount(), 0);
        QCOMPARE(f.selectedRow(), -1);
        QTest::keyClick(&f.grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }
};

QTEST_MAIN(tst_DBGrid)
#include "tst_dbgrid.moc"
