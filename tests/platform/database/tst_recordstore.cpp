// The shared cursor against real tables in private directories, with the
// events wired the way the main window wires them.
#include "address/addressschema.h"
#include "faultfs.h"
#include "platform/database/datasource.h"
#include "platform/database/recordstore.h"
#include "platform/paradox/io.h"
#include "platform/system/system.h"
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QSignalSpy>
#include <QTest>

using vellumo::FieldKind;
using vellumo::RecordStore;
using vellumo::StoreError;
using vellumo::StoreState;

namespace {

const QDate kToday(2024, 5, 17);

void declareSchema(RecordStore& store, const QString& indexName) {
    store.ClearFieldDeclarations();
    // Declared as the program declares a new table (built here from the schema
    // alone, since this test runs in the build without the windows' libraries).
    auto text = [](std::string_view name) {
        return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    };
    for (const vellumo::address::Field& f : vellumo::address::kFields)
        store.DeclareField(text(f.name), static_cast<FieldKind>(f.kind), f.size, false);
    store.ClearIndexDeclarations();
    store.DeclareIndex(indexName, text(vellumo::address::kKeyFieldList), RecordStore::Primary);
}

// The events as the main window sets them.
void wireEvents(RecordStore& store) {
    store.BeforePost = [&store] { store.SetFieldDate("Aenderung", vellumo::now()); };
    store.BeforeClose = [&store] {
        store.BeginEdit();
        store.SaveRecord();
    };
}

void createAndOpen(RecordStore& store, const QString& name = "Adressen") {
    store.BindTable(name);
    declareSchema(store, name);
    store.CreateTableFile();
    store.OpenTable();
}

void add(RecordStore& store, const QString& name, const QString& vorname = QString(),
         const QString& ort = QString()) {
    store.InsertBlankRecord();
    store.SetFieldDate("Erstellt", vellumo::now());
    store.SetFieldText("Name", name);
    store.SetFieldText("Vorname", vorname);
    store.SetFieldText("Ort", ort);
    store.SaveRecord();
}

QString errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const StoreError& e) {
        return e.text();
    }
    return QStringLiteral("<no error>");
}

void damageFile(const QString& path, qint64 offset) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.seek(offset));
    QVERIFY(file.write("\x07", 1) == 1);
}

QStringList visibleNames(RecordStore& store) {
    QStringList names;
    for (int i = 0; i < store.visibleCount(); ++i)
        names << store.textAt(i, "Name");
    return names;
}

} // namespace

class TestRecordStore : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;
    std::unique_ptr<testsupport::FixedClock> clock;
    std::unique_ptr<RecordStore> store;

private slots:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        clock = std::make_unique<testsupport::FixedClock>(QDateTime(kToday, QTime(9, 30)));
        store = std::make_unique<RecordStore>();
        wireEvents(*store);
    }
    void cleanup() {
        store.reset();
        clock.reset();
        box.reset();
    }

    void settlingSavesChangedAndDropsUnchanged() {
        createAndOpen(*store);
        add(*store, "Albers");
        add(*store, "Berger");
        clock->set(QDateTime(kToday.addDays(3), QTime(8, 0)));

        // Unchanged edit: dropped, BeforePost does not run.
        int posts = 0;
        store->BeforePost = [&] {
            ++posts;
            store->SetFieldDate("Aenderung", vellumo::now());
        };
        store->GoToFirst();
        store->BeginEdit();
        QCOMPARE(store->state(), StoreState::Editing);
        QVERIFY(!store->HasUnsavedChanges());
        store->StepForward();
        QCOMPARE(posts, 0);
        QCOMPARE(store->state(), StoreState::Browsing);
        QCOMPARE(store->fieldValue("Aenderung").toDate(), kToday);

        // Changed: saved with "Aenderung" before the move.
        store->BeginEdit();
        store->SetFieldText("Ort", "Bremen");
        QVERIFY(store->HasUnsavedChanges());
        store->StepBack();
        QCOMPARE(posts, 1);
        QCOMPARE(store->fieldText("Name"), QString("Albers"));
        store->StepForward();
        QCOMPARE(store->fieldText("Ort"), QString("Bremen"));
        QCOMPARE(store->fieldValue("Aenderung").toDate(), kToday.addDays(3));

        // Text still pending in a bound control is written first: by moves,
        // by SaveRecord and by HasUnsavedChanges.
        QString pending = "Celle";
        auto writer = store->subscribePendingInput([&] {
            if (pending.isEmpty())
                return;
            store->BeginEdit();
            store->SetFieldText("Ort", pending);
            pending.clear();
        });
        store->GoToFirst();
        QCOMPARE(store->fieldText("Name"), QString("Albers"));
        store->GoToLast();
        QCOMPARE(store->fieldText("Ort"), QString("Celle"));
        pending = "Dessau";
        QVERIFY(store->HasUnsavedChanges());
        store->SaveRecord();
        QCOMPARE(store->state(), StoreState::Browsing);
        pending = "Emden";
        store->SaveRecord();
        QCOMPARE(store->fieldText("Ort"), QString("Emden"));
        QCOMPARE(store->state(), StoreState::Browsing);

        // A pending text that is no date stops the move; nothing is saved.
        writer = store->subscribePendingInput([&] {
            store->BeginEdit();
            store->SetFieldText("Geburtstag", "31.02.2020");
        });
        QCOMPARE(errorOf([&] { store->GoToFirst(); }),
                 QString("'31.02.2020' ist kein gültiges Datum"));
        QCOMPARE(store->RecordNumber(), 2);
        QCOMPARE(store->state(), StoreState::Editing);
    }

    void insertThenMoveStoresRecordHoldingOnlyErstellt() {
        createAndOpen(*store);
        add(*store, "Meier");
        add(*store, "Schulz");
        add(*store, "Zander");
        store->GoToLast();
        store->InsertBlankRecord();
        QCOMPARE(store->RecordNumber(), 0);
        QCOMPARE(store->CountRecords(), 3);
        QCOMPARE(store->fieldText("Name"), QString());
        store->SetFieldDate("Erstellt", vellumo::now());
        store->GoToFirst();
        QCOMPARE(store->CountRecords(), 4);
        QCOMPARE(QString("%1/%2").arg(store->RecordNumber()).arg(store->CountRecords()),
                 QString("1/4"));
        // Empty key fields sort first.
        QCOMPARE(store->fieldText("Name"), QString());
        QCOMPARE(store->fieldValue("Erstellt").toDate(), kToday);
        QCOMPARE(store->fieldValue("Aenderung").toDate(), kToday);
        for (const char* f : {"Vorname", "Strasse", "PLZ", "Ort", "Geburtstag", "Memo1"})
            QVERIFY2(store->fieldValue(f).isNull(), f);

        // A blank record nobody touched is dropped; the cursor goes back.
        store->GoToLast();
        store->InsertBlankRecord();
        store->StepBack();
        QCOMPARE(store->CountRecords(), 4);
        QCOMPARE(store->fieldText("Name"), QString("Schulz"));

        // Adding while adding saves the first new record.
        store->InsertBlankRecord();
        store->SetFieldText("Name", "Neu");
        store->InsertBlankRecord();
        QCOMPARE(store->CountRecords(), 5);
        store->DiscardChanges();
        QCOMPARE(store->fieldText("Name"), QString("Neu"));
    }

    void keyViolationLeavesRecordEditing() {
        createAndOpen(*store);
        add(*store, "Meier", "Anna", "Berlin");
        store->InsertBlankRecord();
        store->SetFieldText("Name", "Meier");
        store->SetFieldText("Vorname", "Anna");
        store->SetFieldText("Ort", "Berlin");
        QCOMPARE(errorOf([&] { store->SaveRecord(); }), QString("Schlüsselverletzung."));
        QCOMPARE(store->state(), StoreState::Inserting);
        QVERIFY(store->HasUnsavedChanges());
        // A move tries to save as well, and stays.
        QCOMPARE(errorOf([&] { store->GoToFirst(); }), QString("Schlüsselverletzung."));
        QCOMPARE(store->state(), StoreState::Inserting);
        store->SetFieldText("Vorname", "Bernd");
        store->SaveRecord();
        QCOMPARE(store->CountRecords(), 2);
        QCOMPARE(store->RecordNumber(), 2);

        // The same for an edited record.
        store->BeginEdit();
        store->SetFieldText("Vorname", "Anna");
        QCOMPARE(errorOf([&] { store->SaveRecord(); }), QString("Schlüsselverletzung."));
        QCOMPARE(store->state(), StoreState::Editing);
        QCOMPARE(store->fieldText("Vorname"), QString("Anna"));
        store->DiscardChanges();
        QCOMPARE(store->fieldText("Vorname"), QString("Bernd"));
    }

    void closingAndOpening() {
        // Closing an empty table stores one blank record.
        int opened = 0;
        int numberAtOpen = -1;
        store->AfterOpen = [&] {
            ++opened;
            numberAtOpen = store->RecordNumber();
        };
        createAndOpen(*store);
        QCOMPARE(opened, 1);
        QCOMPARE(numberAtOpen, 0);
        QCOMPARE(store->CountRecords(), 0);
        store->CloseTable();
        QVERIFY(!store->IsTableOpen());
        store->OpenTable();
        QCOMPARE(numberAtOpen, 1);
        QCOMPARE(store->CountRecords(), 1);
        QCOMPARE(store->fieldValue("Aenderung").toDate(), kToday);
        // Every close by the user stamps the current record, changed or not.
        clock->set(QDateTime(kToday.addDays(1), QTime(7, 0)));
        store->CloseTable();
        store->OpenTable();
        QCOMPARE(store->fieldValue("Aenderung").toDate(), kToday.addDays(1));
        QCOMPARE(store->CountRecords(), 1);

        // An error in BeforeClose keeps the table open.
        store->BeforeClose = [] { throw StoreError("nein"); };
        QCOMPARE(errorOf([&] { store->CloseTable(); }), QString("nein"));
        QVERIFY(store->IsTableOpen());

        // At shutdown BeforeClose does not run; an unsaved change is not kept.
        store->BeginEdit();
        store->SetFieldText("Name", "Ungespeichert");
        store->CloseTableAtShutdown();
        QVERIFY(!store->IsTableOpen());
        QCOMPARE(store->fieldText("Name"), QString());
        store->BeforeClose = nullptr;
        store->OpenTable();
        QCOMPARE(store->fieldText("Name"), QString());

        // A table lacking a field a bound control shows is not opened.
        store->CloseTable();
        RecordStore other;
        other.BindTable("Klein.db");
        other.DeclareField("Name", FieldKind::Text, 30, false);
        other.DeclareField("Extra", FieldKind::Text, 10, false);
        other.DeclareIndex("Klein", "Name", RecordStore::Primary);
        other.CreateTableFile();
        store->requireField("Name");
        store->requireField("Grafik");
        store->BindTable(box->file("Klein"));
        QCOMPARE(errorOf([&] { store->OpenTable(); }), QString("Feld 'Grafik' nicht gefunden"));
        QVERIFY(!store->IsTableOpen());
        store->releaseField("Grafik");
        store->OpenTable(); // a table with further fields opens
        QVERIFY(store->IsTableOpen());

        // A table made on DOS or Windows, its files named in capitals, opens
        // by its bare name as well.
        store->CloseTable();
        for (const QString& file : QDir(box->file("")).entryList({"Klein.*"}))
            QVERIFY(QFile::rename(box->file(file), box->file(file.toUpper())));
        store->BindTable(box->file("KLEIN"));
        store->OpenTable();
        QVERIFY(store->IsTableOpen());

        // Not a table at all.
        store->CloseTable();
        QFile junk(box->file("Kaputt.db"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("no table here");
        junk.close();
        store->BindTable("Kaputt");
        QVERIFY(errorOf([&] { store->OpenTable(); }) != "<no error>");
        QVERIFY(!store->IsTableOpen());
    }

    void declarationsAreChecked() {
        store->BindTable("T");
        store->DeclareField("Name", FieldKind::Text, 30, false);
        QVERIFY(errorOf([&] {
                    store->DeclareField("NAME", FieldKind::Text, 5, false);
                }).contains("NAME"));
        store->DeclareField("Ort", FieldKind::Text, 30, false);
        store->DeclareIndex("T", "Name", RecordStore::Primary);
        QVERIFY(errorOf([&] {
                    store->DeclareIndex("T", "Ort", RecordStore::Primary);
                }).contains("'T'"));
        store->ClearIndexDeclarations();
        store->DeclareIndex("T", "Ort;Name", RecordStore::Primary);
        QVERIFY(errorOf([&] { store->CreateTableFile(); }).contains("ersten Felder"));
        store->ClearIndexDeclarations();
        store->DeclareIndex("T", "Name;Fehlt", RecordStore::Primary);
        QCOMPARE(errorOf([&] { store->CreateTableFile(); }),
                 QString("Feld 'Fehlt' nicht gefunden"));
        QVERIFY(!QFile::exists(box->file("T.db")));
    }

    void closedAndEmptyTables() {
        const QString closed = "Operation bei geschlossener Datenmenge nicht ausführbar";
        for (auto op : std::vector<std::function<void()>>{
                 [&] { store->GoToFirst(); }, [&] { store->GoToLast(); },
                 [&] { store->StepForward(); }, [&] { store->StepBack(); },
                 [&] { store->StepBy(3); }, [&] { store->InsertBlankRecord(); },
                 [&] { store->BeginEdit(); }, [&] { store->RemoveRecord(); },
                 [&] { store->SetFilterActive(false); }})
            QCOMPARE(errorOf(op), closed);
        QCOMPARE(store->RecordNumber(), 0);
        QCOMPARE(store->CountRecords(), 0);

        createAndOpen(*store);
        QCOMPARE(errorOf([&] { store->RemoveRecord(); }),
                 QString("Operation bei leerer Datenmenge nicht ausführbar"));
        store->StepForward(); // nothing to move to, no error
        store->BeginEdit();   // acts as InsertBlankRecord
        QCOMPARE(store->state(), StoreState::Inserting);
        store->RemoveRecord(); // drops the new record
        QCOMPARE(store->state(), StoreState::Browsing);
        QCOMPARE(store->CountRecords(), 0);
    }

    void removeAtTheEnds() {
        createAndOpen(*store);
        for (const char* n : {"A", "B", "C", "D"})
            add(*store, n);
        store->GoToFirst();
        store->RemoveRecord();
        QCOMPARE(store->fieldText("Name"), QString("B"));
        QCOMPARE(store->RecordNumber(), 1);
        store->GoToLast();
        store->RemoveRecord();
        QCOMPARE(store->fieldText("Name"), QString("C"));
        QCOMPARE(store->RecordNumber(), 2);
        store->StepBack();
        store->RemoveRecord();
        QCOMPARE(store->fieldText("Name"), QString("C"));
        store->RemoveRecord();
        QCOMPARE(store->CountRecords(), 0);
        QCOMPARE(store->RecordNumber(), 0);
        QCOMPARE(store->fieldText("Name"), QString());

        // Removing an edited record removes it, edits and all.
        add(*store, "X");
        add(*store, "Y");
        store->GoToFirst();
        store->BeginEdit();
        store->SetFieldText("Name", "Z");
        store->RemoveRecord();
        QCOMPARE(visibleNames(*store), QStringList{"Y"});

        // With the filter on, the next passing record follows.
        add(*store, "Ma");
        add(*store, "Mb");
        add(*store, "Mc");
        store->SetFilterText("Name = 'M*'");
        store->SetFilterActive(true);
        store->StepForward();
        store->RemoveRecord();
        QCOMPARE(store->fieldText("Name"), QString("Mc"));
        store->RemoveRecord();
        QCOMPARE(store->fieldText("Name"), QString("Ma"));
        QCOMPARE(store->CountRecords(), 1);
    }

    void keyChangeMovesTheRecord() {
        createAndOpen(*store);
        for (const char* n : {"Albers", "Bauer", "Meier", "Zander"})
            add(*store, n);
        store->GoToFirst();
        store->BeginEdit();
        store->SetFieldText("Name", "Zimmer");
        store->SaveRecord();
        QCOMPARE(store->fieldText("Name"), QString("Zimmer"));
        QCOMPARE(store->RecordNumber(), 4);
        QCOMPARE(visibleNames(*store), (QStringList{"Bauer", "Meier", "Zander", "Zimmer"}));
        store->StepBack();
        QCOMPARE(store->fieldText("Name"), QString("Zander"));

        // A record that no longer passes the filter gives way to the next one.
        store->SetFilterText("Name = 'B*'");
        store->SetFilterActive(true);
        add(*store, "Brandt");
        QCOMPARE(store->fieldText("Name"), QString("Brandt"));
        store->GoToFirst();
        store->BeginEdit();
        store->SetFieldText("Name", "Adler");
        store->SaveRecord();
        QCOMPARE(store->fieldText("Name"), QString("Brandt"));
        QCOMPARE(store->CountRecords(), 1);
        // ... else the last one.
        store->BeginEdit();
        store->SetFieldText("Name", "Xaver");
        store->SaveRecord();
        QCOMPARE(store->CountRecords(), 0);
        QCOMPARE(store->RecordNumber(), 0);
        store->SetFilterActive(false);
        QCOMPARE(visibleNames(*store),
                 (QStringList{"Adler", "Meier", "Xaver", "Zander", "Zimmer"}));
    }

    // Choosing a record from a scan of the whole table: the save that settles
    // first may shift positions (the record is found again by its key), the
    // chosen record may be the edited one with a new key, and a filter that
    // hides it goes off while one it passes stays.
    void moveToStoredFollowsTheSettlingSave() {
        createAndOpen(*store);
        for (const char* n : {"Bauer", "Meier", "Zander"})
            add(*store, n);
        store->SetFilterText("Name = 'B*'");
        store->SetFilterActive(true);
        QStringList scanned;
        store->scanStored("Name", [&](int, const QVariant& value) {
            scanned << value.toString();
            return true;
        });
        QCOMPARE(scanned, (QStringList{"Bauer", "Meier", "Zander"}));
        store->BeginEdit();
        store->SetFieldText("Name", "Ypsilon"); // Meier moves up to position 0
        store->moveToStored(1);
        QCOMPARE(store->fieldText("Name"), QString("Meier"));
        QVERIFY(!store->IsFilterActive());
        QCOMPARE(store->storedValue(1, "Name").toString(), QString("Ypsilon"));

        store->BeginEdit();
        store->SetFieldText("Name", "Zz");
        store->moveToStored(0);
        QCOMPARE(store->fieldText("Name"), QString("Zz"));
        QCOMPARE(store->RecordNumber(), 3);

        store->SetFilterText("Name = 'Y*'");
        store->SetFilterActive(true);
        store->moveToStored(0);
        QVERIFY(store->IsFilterActive());
        QCOMPARE(store->fieldText("Name"), QString("Ypsilon"));
        QCOMPARE(errorOf([&] { store->moveToStored(3); }),
                 QString("Der Datensatz ist nicht mehr vorhanden"));
    }

    void filterMatching_data() {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("case") << "Name = 'meier'" << QStringList{"Meier"};
        QTest::newRow("umlaut") << "Name = 'MÜLLER'" << QStringList{"Müller"};
        QTest::newRow("whole value") << "Name = 'Mei'" << QStringList{};
        QTest::newRow("prefix") << "Name = 'Mei*'" << QStringList{"Meier", "meister"};
        QTest::newRow("umlaut prefix") << "Name = 'mü*'" << QStringList{"Müller"};
        QTest::newRow("star alone") << "Name = '*'" << QStringList{"*"};
        QTest::newRow("empty text") << "Name = ''" << QStringList{""};
        QTest::newRow("apostrophe") << "Name = 'O''Neill'" << QStringList{"O'Neill"};
        QTest::newRow("other field") << "Ort = 'köln'" << QStringList{"Meier", "Schmidt"};
        QTest::newRow("empty expression")
            << "" << QStringList{"", "*", "Meier", "meister", "Müller", "O'Neill", "Schmidt"};
    }
    void filterMatching() {
        QFETCH(QString, expression);
        QFETCH(QStringList, names);
        createAndOpen(*store);
        add(*store, "Meier", "", "Köln");
        add(*store, "meister");
        add(*store, "Müller");
        add(*store, "O'Neill");
        add(*store, "*");
        add(*store, "Schmidt", "", "KÖLN");
        store->InsertBlankRecord();
        store->SetFieldText("Vorname", "Ohne Namen");
        store->SaveRecord();

        store->SetFilterText(expression);
        store->SetFilterActive(true);
        QCOMPARE(store->CountRecords(), names.size());
        QCOMPARE(visibleNames(*store), names);
        // Moves stay among the passing records.
        store->GoToLast();
        QCOMPARE(store->fieldText("Name"), names.isEmpty() ? QString() : names.last());
        store->StepForward();
        QCOMPARE(store->visiblePosition(), int(names.size()) - 1);
        store->GoToFirst();
        QCOMPARE(store->fieldText("Name"), names.isEmpty() ? QString() : names.first());
    }

    void filterSwitchingAsTheSearchUsesIt() {
        createAndOpen(*store);
        for (const char* n : {"Adam", "Meier", "Berg", "Meier", "Otto", "Meier", "Zorn"})
            add(*store, n, QString("V%1").arg(store->CountRecords()));
        // Key order: Adam, Berg, Meier V1, Meier V3, Meier V5, Otto, Zorn.
        store->GoToLast();
        store->SetFilterText("Name = 'Meier'");
        QVERIFY(!store->IsFilterActive());
        QCOMPARE(store->RecordNumber(), 7); // no switch, no move while off

        store->SetFilterActive(true);
        QCOMPARE(store->CountRecords(), 3);
        QCOMPARE(store->RecordNumber(), 3); // whole-table number of the first match
        store->StepBy(2);
        QCOMPARE(store->fieldText("Vorname"), QString("V5"));
        const int chosen = store->RecordNumber();
        QCOMPARE(chosen, 5);

        // Switching off (even when already off) lands on the first record.
        store->SetFilterActive(false);
        QCOMPARE(store->RecordNumber(), 1);
        store->StepBy(chosen - store->RecordNumber());
        QCOMPARE(store->fieldText("Vorname"), QString("V5"));
        QCOMPARE(store->RecordNumber(), 5);
        store->SetFilterActive(false);
        QCOMPARE(store->RecordNumber(), 1);

        // A new text while the filter is on lands on its first match.
        store->SetFilterActive(true);
        store->GoToLast();
        store->SetFilterText("Name = 'Otto'");
        QCOMPARE(store->RecordNumber(), 6);
        QCOMPARE(store->CountRecords(), 1);
        store->SetFilterText("Name = 'Niemand'");
        QCOMPARE(store->CountRecords(), 0);
        QCOMPARE(store->RecordNumber(), 0);
        store->SetFilterActive(false);
        QCOMPARE(store->CountRecords(), 7);

        // Switching settles an edited record first.
        store->GoToLast();
        store->BeginEdit();
        store->SetFieldText("Ort", "Ulm");
        store->SetFilterActive(true);
        store->SetFilterActive(false);
        store->GoToLast();
        QCOMPARE(store->fieldText("Ort"), QString("Ulm"));

        // Big steps stop at the ends.
        store->StepBy(-100);
        QCOMPARE(store->RecordNumber(), 1);
        store->StepBy(100);
        QCOMPARE(store->RecordNumber(), 7);
    }

    void filterExpressionErrors() {
        createAndOpen(*store);
        add(*store, "Meier");
        add(*store, "Otto");
        store->SetFilterText("Name = 'Otto'");
        store->SetFilterActive(true);
        for (const QString& bad :
             {QString("Unbekannt = 'x'"), QString(" = 'x'"), QString("Name = 'O'Neill'"),
              QString("Name = 'offen"), QString("Name 'x'"), QString("Memo1 = 'x'")}) {
            QCOMPARE(errorOf([&] { store->SetFilterText(bad); }),
                     "Ungültiger Filterausdruck: " + bad);
            QCOMPARE(store->filterText(), QString("Name = 'Otto'"));
            QVERIFY(store->IsFilterActive());
            QCOMPARE(store->CountRecords(), 1);
        }
    }

    void fieldValuesAndDates() {
        createAndOpen(*store);
        add(*store, "Meier");
        store->BeginEdit();
        store->SetFieldText("Geburtstag", "3.4.61");
        QCOMPARE(store->fieldText("Geburtstag"), QString("03.04.1961"));
        QCOMPARE(errorOf([&] { store->SetFieldText("Geburtstag", "morgen"); }),
                 QString("'morgen' ist kein gültiges Datum"));
        QCOMPARE(store->fieldValue("Geburtstag").toDate(), QDate(1961, 4, 3));
        store->SetFieldDate("Erstellt", QDateTime(QDate(2020, 1, 2), QTime(23, 59)));
        store->SetFieldText("Memo1", "Zeile 1\nZeile 2 mit ä");
        const QByteArray picture("BM fake picture bytes", 21);
        store->setFieldValue("Grafik", picture);
        QCOMPARE(errorOf([&] { store->SetFieldText("Fehlt", "x"); }),
                 QString("Feld 'Fehlt' nicht gefunden"));
        store->SaveRecord();
        store->CloseTableAtShutdown();
        store->OpenTable();
        QCOMPARE(store->fieldText("Erstellt"), QString("02.01.2020"));
        QCOMPARE(store->fieldText("Geburtstag"), QString("03.04.1961"));
        QCOMPARE(store->fieldText("Memo1"), QString("Zeile 1\nZeile 2 mit ä"));
        QCOMPARE(store->fieldValue("Grafik").toByteArray(), picture);
        store->BeginEdit();
        store->SetFieldText("Geburtstag", "");
        QVERIFY(store->fieldValue("Geburtstag").isNull());
        QVERIFY(store->HasUnsavedChanges());

        // Text longer than the field is refused and the field keeps its value;
        // a character the table cannot hold is refused on saving and the
        // record stays editing.
        store->SetFieldText("PLZ", "12345");
        QCOMPARE(errorOf([&] { store->SetFieldText("PLZ", "123456789"); }),
                 QString("Der Text ist zu lang für das Feld 'PLZ' (höchstens 5 Zeichen)"));
        QCOMPARE(store->fieldText("PLZ"), QString("12345"));
        store->SetFieldText("Ort", QString::fromUtf8("Łódź ☃"));
        const QString refused = errorOf([&] { store->SaveRecord(); });
        QVERIFY2(refused != "<no error>" && !refused.isEmpty(), qPrintable(refused));
        QCOMPARE(store->state(), StoreState::Editing);

        // Writing needs editing.
        store->DiscardChanges();
        QVERIFY(errorOf([&] { store->SetFieldText("Name", "x"); }).contains("Editier"));
    }

    void germanDates() {
        const QDate today(2025, 6, 1);
        QCOMPARE(vellumo::parseGermanDate("01.02.2024", today), QDate(2024, 2, 1));
        QCOMPARE(vellumo::parseGermanDate(" 1.2.2024 ", today), QDate(2024, 2, 1));
        QCOMPARE(vellumo::parseGermanDate("1.2.45", today), QDate(2045, 2, 1));
        QCOMPARE(vellumo::parseGermanDate("1.2.46", today), QDate(1946, 2, 1));
        QCOMPARE(vellumo::parseGermanDate("29.2.00", today), QDate(2000, 2, 29));
        QVERIFY(vellumo::parseGermanDate("", today).isNull());
        for (const char* bad : {"29.02.2023", "1.2.", "1.2.245", "32.1.2000", "1/2/2000",
                                "0.1.2000", "1.13.2000", "01.01.0000", "abc"})
            QCOMPARE(errorOf([&] { vellumo::parseGermanDate(bad, today); }),
                     QString("'%1' ist kein gültiges Datum").arg(bad));
        QCOMPARE(vellumo::formatGermanDate(QDate(987, 6, 5)), QString("05.06.0987"));
        QCOMPARE(vellumo::formatGermanDate(QDate()), QString());
    }

    // Tables made by other programs: whatever they hold, the store either
    // opens them and reads every value, or refuses them with a message.
    void foreignTablesOpenOrAreRefused() {
        const QString shared = testsupport::sharedDir();
        if (shared.isEmpty() || !QDir(shared + "/paradox-samples").exists())
            QSKIP("no sample tables beside the project");
        int opened = 0;
        int refused = 0;
        QDirIterator it(shared + "/paradox-samples", {"*.db", "*.DB"}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo table(it.next());
            // A private copy with its companions: opening for writing may
            // recover or lock the files.
            const QString copy =
                box->file(QString::number(opened) + "_" + table.completeBaseName());
            for (const QFileInfo& companion :
                 table.dir().entryInfoList({table.completeBaseName() + ".*"}, QDir::Files))
                QVERIFY(QFile::copy(companion.filePath(), copy + "." + companion.suffix()));
            RecordStore foreign;
            foreign.BindTable(copy + "." + table.suffix());
            try {
                foreign.OpenTable();
            } catch (const StoreError& e) {
                QVERIFY2(!e.text().isEmpty(), qPrintable(table.filePath()));
                ++refused;
                continue;
            }
            ++opened;
            const int n = foreign.CountRecords();
            try {
                for (int i = 0; i < n; ++i) {
                    QCOMPARE(foreign.RecordNumber(), i + 1);
                    for (const auto& f : foreign.fields()) {
                        foreign.fieldText(f.name);
                        foreign.fieldValue(f.name);
                    }
                    foreign.StepForward();
                }
                const auto& fields = foreign.fields();
                auto text = std::find_if(fields.begin(), fields.end(),
                                         [](const auto& f) { return f.kind == FieldKind::Text; });
                if (text != fields.end()) {
                    foreign.GoToFirst();
                    const QString value = foreign.fieldText(text->name).replace("'", "''");
                    foreign.SetFilterText(text->name + " = '" + value + "'");
                    foreign.SetFilterActive(true);
                    QVERIFY(n == 0 || foreign.CountRecords() >= 1);
                    foreign.SetFilterActive(false);
                    QCOMPARE(foreign.CountRecords(), n);
                }
            } catch (const StoreError& e) {
                // A damaged record may be refused, but only with a message.
                QVERIFY2(!e.text().isEmpty(), qPrintable(table.filePath()));
            }
            foreign.CloseTableAtShutdown();
        }
        qInfo("%d sample tables opened, %d refused", opened, refused);
        QVERIFY(opened > 0);
    }

    void dataSourceFollowsEveryChange() {
        vellumo::DataSource source(*store);
        QSignalSpy state(&source, &vellumo::DataSource::stateChanged);
        QSignalSpy current(&source, &vellumo::DataSource::currentChanged);
        QSignalSpy data(&source, &vellumo::DataSource::dataChanged);
        QSignalSpy records(&source, &vellumo::DataSource::recordsChanged);
        createAndOpen(*store);
        QCOMPARE(state.count(), 1);
        QCOMPARE(records.count(), 1);
        add(*store, "A");
        add(*store, "B");
        state.clear();
        current.clear();
        data.clear();
        records.clear();

        store->GoToFirst();
        QCOMPARE(current.count(), 1);
        store->StepBack(); // at the first record: no move, no signal
        QCOMPARE(current.count(), 1);
        store->BeginEdit();
        QCOMPARE(state.count(), 1);
        QCOMPARE(state.last().at(0).value<StoreState>(), StoreState::Editing);
        store->SetFieldText("Ort", "Hof");
        QCOMPARE(data.count(), 1);
        QCOMPARE(data.last().at(0).toString(), QString("Ort"));
        store->SetFieldText("Ort", "Hof"); // the same value: nothing changed
        QCOMPARE(data.count(), 1);
        store->StepForward(); // one save and one move: one signal of each kind
        QCOMPARE(current.count(), 2);
        QCOMPARE(state.count(), 2);
        QCOMPARE(records.count(), 1);
        store->SetFilterActive(true);
        QCOMPARE(records.count(), 2);
        store->CloseTable();
        QCOMPARE(state.last().at(0).value<StoreState>(), StoreState::Closed);

        // A bound field the open table lacks is refused at once.
        store->OpenTable();
        source.bindField("Name");
        QCOMPARE(errorOf([&] { source.bindField("Nirgends"); }),
                 QString("Feld 'Nirgends' nicht gefunden"));
    }

    // A damaged memo makes only that field unreadable; it is never read as
    // empty, and the record cannot be changed (saving would lose the memo).
    // A note of a line or two stays in the record and so does not suffer.
    void damagedMemoIsAnErrorNotAnEmptyValue() {
        createAndOpen(*store);
        const QString memo = "Eine Bemerkung, die nicht in den Satz passt";
        add(*store, "Meier");
        store->BeginEdit();
        store->SetFieldText("Memo1", memo);
        store->SaveRecord();
        add(*store, "Schulz");
        store->BeginEdit();
        store->SetFieldText("Memo1", "Rückruf am Freitag");
        store->SaveRecord();
        store->CloseTableAtShutdown();
        damageFile(box->file("Adressen.mb"), 4096); // the block holding the memo

        store->OpenTable();
        QCOMPARE(store->CountRecords(), 2);
        QCOMPARE(store->fieldText("Name"), QString("Meier"));
        QCOMPARE(store->textAt(1, "Name"), QString("Schulz"));
        const QString failure = errorOf([&] { store->fieldText("Memo1"); });
        QVERIFY2(failure.contains("beschädigt"), qPrintable(failure));
        QCOMPARE(errorOf([&] { store->fieldValue("Memo1"); }), failure);
        QCOMPARE(errorOf([&] { store->textAt(0, "Memo1"); }), failure);
        QCOMPARE(errorOf([&] { store->BeginEdit(); }), failure);
        QCOMPARE(store->state(), StoreState::Browsing);
        // Reported once however many controls meet it, again after reopening.
        QVERIFY(store->claimFailureReport(failure));
        QVERIFY(!store->claimFailureReport(failure));
        store->StepForward();
        QCOMPARE(store->fieldText("Memo1"), QString("Rückruf am Freitag"));
        store->CloseTableAtShutdown();
        store->OpenTable();
        QVERIFY(store->claimFailureReport(failure));
    }

    // A change that fails at any write, with the files dying with it: either
    // the table is as before the change, or, when the engine could not read
    // it back, it refuses everything instead of posing as an empty table.
    void failedChangeThatCannotReadBackRefusesEverything() {
        const QString broken = "Die Tabelle ist nach einem Schreibfehler nicht mehr lesbar. "
                               "Bitte schließen Sie die Tabelle und öffnen Sie sie erneut.";
        int brokenRuns = 0;
        for (int failAt = 1; failAt < 60; ++failAt) {
            faultfs::FaultFileSystem fs(px::defaultFileSystem(), false);
            const QString name = QString("F%1").arg(failAt);
            {
                RecordStore faulty(fs);
                wireEvents(faulty);
                createAndOpen(faulty, name);
                add(faulty, "Albers");
                add(faulty, "Berger");
                faulty.GoToLast();
                faulty.InsertBlankRecord();
                faulty.SetFieldText("Name", "Claasen");
                fs.crashAt(failAt);
                try {
                    faulty.SaveRecord();
                } catch (const StoreError&) {
                }
                if (!fs.crashed()) {
                    QCOMPARE(faulty.CountRecords(), 3);
                    break; // the change needs fewer writes: every point was tried
                }
                if (!faulty.isBroken()) {
                    // Nothing changed, and the table says so truthfully.
                    QCOMPARE(faulty.CountRecords(), 2);
                    QCOMPARE(faulty.state(), StoreState::Inserting);
                    faulty.CloseTableAtShutdown();
                    fs.powerLoss(faultfs::AfterCrash::KeepWritten);
                    continue;
                }
                ++brokenRuns;
                QVERIFY(faulty.IsTableOpen());
                QCOMPARE(faulty.state(), StoreState::Browsing);
                for (auto op : std::vector<std::function<void()>>{
                         [&] { faulty.CountRecords(); }, [&] { faulty.RecordNumber(); },
                         [&] { faulty.GoToFirst(); }, [&] { faulty.StepForward(); },
                         [&] { faulty.BeginEdit(); }, [&] { faulty.InsertBlankRecord(); },
                         [&] { faulty.SaveRecord(); }, [&] { faulty.RemoveRecord(); },
                         [&] { faulty.DiscardChanges(); }, [&] { faulty.fieldText("Name"); },
                         [&] { faulty.textAt(0, "Name"); }, [&] { faulty.SetFilterActive(true); }})
                    QCOMPARE(errorOf(op), broken);
                // Nothing can be saved, and closing works (without BeforeClose).
                QVERIFY(!faulty.HasUnsavedChanges());
                QCOMPARE(faulty.visibleCount(), 0);
                faulty.CloseTable();
                QVERIFY(!faulty.IsTableOpen());
            }
            fs.powerLoss(faultfs::AfterCrash::KeepWritten);
            RecordStore again;
            again.BindTable(name);
            again.OpenTable();
            // A failure after the commit point has kept the new record.
            const QStringList names = visibleNames(again);
            QVERIFY2(names == (QStringList{"Albers", "Berger"}) ||
                         names == (QStringList{"Albers", "Berger", "Claasen"}),
                     qPrintable(names.join(',')));
        }
        QVERIFY(brokenRuns > 0);
    }

    // The main window's controls, a dialog and a report all follow the one
    // store: a second listener must never unhook the first.
    void severalObserversListenTogether() {
        createAndOpen(*store);
        add(*store, "A");
        add(*store, "B");
        vellumo::DataSource first(*store);
        QSignalSpy firstMoves(&first, &vellumo::DataSource::currentChanged);
        int secondMoves = 0;
        auto second = std::make_unique<vellumo::DataSource>(*store);
        connect(second.get(), &vellumo::DataSource::currentChanged, [&] { ++secondMoves; });
        store->GoToFirst();
        QCOMPARE(firstMoves.count(), 1);
        QCOMPARE(secondMoves, 1);
        // One that goes away while the others are being told.
        connect(&first, &vellumo::DataSource::currentChanged, [&] { second.reset(); });
        store->GoToLast();
        QCOMPARE(firstMoves.count(), 2);
        QCOMPARE(secondMoves, 1);
        QVERIFY(!second);
        store->GoToFirst();
        QCOMPARE(firstMoves.count(), 3);
        QCOMPARE(secondMoves, 1);

        // Every writer of pending input is asked before a settle, and the
        // first refusal stops the move before later writers run.
        QStringList asked;
        auto name = store->subscribePendingInput([&] {
            asked << "Name";
            store->BeginEdit();
            store->SetFieldText("Ort", "Ulm");
        });
        auto date = store->subscribePendingInput([&] { asked << "Geburtstag"; });
        store->StepForward();
        QCOMPARE(asked, (QStringList{"Name", "Geburtstag"}));
        store->GoToFirst();
        QCOMPARE(store->fieldText("Ort"), QString("Ulm"));
        name = store->subscribePendingInput([&] {
            asked << "kaputt";
            throw StoreError("'x' ist kein gültiges Datum");
        });
        asked.clear();
        QCOMPARE(errorOf([&] { store->StepForward(); }), QString("'x' ist kein gültiges Datum"));
        QCOMPARE(asked, (QStringList{"Geburtstag", "kaputt"}));
        QCOMPARE(store->RecordNumber(), 1);
        date.reset();
        name.reset();
        store->StepForward();
        QCOMPARE(store->RecordNumber(), 2);
    }
};

QTEST_GUILESS_MAIN(TestRecordStore)
#include "tst_recordstore.moc"
