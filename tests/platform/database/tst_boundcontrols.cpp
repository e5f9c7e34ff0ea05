// Bound controls and the grid over a table whose files were damaged after it
// was written, and over a table that broke in a failed change.
#include "faultfs.h"
#include "platform/database/boundcontrols.h"
#include "platform/database/datasource.h"
#include "platform/database/dbgrid.h"
#include "platform/database/recordstore.h"
#include "testsupport.h"

#include <QApplication>
#include <QFile>
#include <QTest>
#include <QVBoxLayout>

using namespace vellumo;

namespace {

void makeTable(RecordStore& store, const QString& name) {
    store.BindTable(name);
    store.DeclareField("Name", FieldKind::Text, 30, false);
    store.DeclareField("Erstellt", FieldKind::Date, 0, false);
    store.DeclareField("Memo1", FieldKind::Memo, 0, false);
    store.DeclareIndex(name, "Name", RecordStore::Primary);
    store.CreateTableFile();
    store.OpenTable();
    const QList<QStringList> rows{{"Meier", "Eine Bemerkung, die nicht in den Satz passt"},
                                  {"Schulz", ""}};
    for (const QStringList& row : rows) {
        store.InsertBlankRecord();
        store.SetFieldText("Name", row[0]);
        store.SetFieldText("Erstellt", "01.02.2024");
        store.SetFieldText("Memo1", row[1]);
        store.SaveRecord();
    }
}

// A window as the program builds them: entry, memo, display text and grid on
// the one data source.
struct Window {
    RecordStore& store;
    DataSource source{store};
    QWidget window;
    DBEdit* name = new DBEdit;
    DBMemo* memo = new DBMemo;
    DBText* created = new DBText;
    DBGrid* grid = new DBGrid;

    explicit Window(RecordStore& s) : store(s) {
        auto* layout = new QVBoxLayout(&window);
        for (QWidget* w : std::initializer_list<QWidget*>{name, memo, created, grid})
            layout->addWidget(w);
        name->setDataField(&source, "Name");
        memo->setDataField(&source, "Memo1");
        created->setDataField(&source, "Erstellt");
        grid->setColumns({{"Name", "Name", 100}, {"Memo1", "Bemerkungen", 200}});
        grid->setDataSource(&source);
        window.resize(400, 400);
        window.show();
    }
    QString cell(int row, int column) const {
        return grid->model()->index(row, column).data().toString();
    }
};

} // namespace

class TestBoundControls : public QObject {
    Q_OBJECT

private slots:
    void unreadableMemoIsShownAndReportedOnce() {
        testsupport::Sandbox box;
        {
            RecordStore maker;
            makeTable(maker, "Adressen");
        }
        // The memo's block in the .mb gets a type no block has.
        QFile mb(box.file("Adressen.mb"));
        QVERIFY(mb.open(QIODevice::ReadWrite) && mb.seek(4096) && mb.write("\x07", 1) == 1);
        mb.close();

        RecordStore store;
        store.BindTable("Adressen");
        Window w(store);
        QStringList reported;
        auto answer = [&](QWidget* modal) {
            reported << testsupport::messageText(modal);
            testsupport::clickButton(modal, "OK");
        };
        auto watch = testsupport::whenModal(answer);
        store.OpenTable();
        QTRY_VERIFY(watch.answered());
        QCOMPARE(reported.size(), 1);
        QVERIFY2(reported[0].contains("beschädigt"), qPrintable(reported[0]));

        // The rest of the address shows; the memo says it cannot be read and
        // takes no typing, the grid cell too.
        QCOMPARE(w.name->text(), QString("Meier"));
        QCOMPARE(w.created->text(), QString("01.02.2024"));
        QCOMPARE(w.memo->toPlainText(), QString());
        QCOMPARE(w.memo->placeholderText(), QString("(nicht lesbar)"));
        QVERIFY(w.memo->isReadOnly());
        QCOMPARE(w.cell(0, 0), QString("Meier"));
        QCOMPARE(w.cell(0, 1), QString("(nicht lesbar)"));
        QCOMPARE(w.cell(1, 1), QString());

        // Elsewhere everything is normal again; coming back reports nothing new.
        auto second = testsupport::whenModal(answer, 500);
        store.StepForward();
        QCOMPARE(w.memo->placeholderText(), QString());
        QVERIFY(!w.memo->isReadOnly());
        store.StepBack();
        w.grid->viewport()->repaint();
        QCOMPARE(w.memo->placeholderText(), QString("(nicht lesbar)"));
        testsupport::settle();
        QVERIFY(!second.answered());
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(reported.size(), 1);
    }

    void brokenTableShowsNothingAsIfSound() {
        testsupport::Sandbox box;
        faultfs::FaultFileSystem fs(px::defaultFileSystem(), false);
        RecordStore store(fs);
        makeTable(store, "Adressen");
        Window w(store);
        QCOMPARE(w.name->text(), QString("Schulz"));

        // The file system dies in the middle of a save: the engine cannot even
        // read the table back.
        store.BeginEdit();
        store.SetFieldText("Name", "Schulze");
        fs.crashAt(3);
        QVERIFY_THROWS_EXCEPTION(StoreError, store.SaveRecord());
        QVERIFY(store.isBroken());
        QStringList reported;
        auto watch = testsupport::whenModal([&](QWidget* modal) {
            reported << testsupport::messageText(modal);
            testsupport::clickButton(modal, "OK");
        });
        QTRY_VERIFY(watch.answered());
        QCOMPARE(reported.size(), 1);
        QVERIFY2(reported[0].contains("nach einem Schreibfehler"), qPrintable(reported[0]));
        QCOMPARE(w.name->placeholderText(), QString("(nicht lesbar)"));
        QVERIFY(w.name->isReadOnly());
        QCOMPARE(w.created->text(), QString("(nicht lesbar)"));
        QCOMPARE(w.grid->model()->rowCount(), 0);

        store.CloseTable();
        QCOMPARE(w.name->text(), QString());
        QCOMPARE(w.name->placeholderText(), QString());
        fs.powerLoss(faultfs::AfterCrash::KeepWritten);
    }
};

QTEST_MAIN(TestBoundControls)
#include "tst_boundcontrols.moc"
