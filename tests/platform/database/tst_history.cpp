// Undo and redo of the shared cursor against real tables, with the events
// wired the way the main window wires them.
#include "address/addressschema.h"
#include "platform/database/history.h"
#include "platform/database/recordstore.h"
#include "platform/system/system.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QTest>

using vellumo::RecordStore;
using vellumo::StoreError;

namespace {

const QDate kToday(2024, 5, 17);

using Address = QVariantMap;

// An address table made as the program makes one, holding addresses as given.
void makeTable(RecordStore& store, const QString& name, const QList<Address>& addresses) {
    auto text = [](std::string_view s) {
        return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
    };
    store.BindTable(name);
    store.ClearFieldDeclarations();
    for (const vellumo::address::Field& f : vellumo::address::kFields)
        store.DeclareField(text(f.name), static_cast<vellumo::FieldKind>(f.kind), f.size, false);
    store.ClearIndexDeclarations();
    store.DeclareIndex(name, text(vellumo::address::kKeyFieldList), RecordStore::Primary);
    store.CreateTableFile();
    store.OpenTable();
    for (const Address& address : addresses) {
        store.InsertBlankRecord();
        for (auto it = address.cbegin(); it != address.cend(); ++it)
            store.setFieldValue(it.key(), it.value());
        store.SaveRecord();
    }
    store.GoToFirst();
}

QList<Address> numbered(int n) {
    QList<Address> addresses;
    for (int i = 1; i <= n; ++i) {
        const QString number = QString("%1").arg(i, 2, 10, QChar(u'0'));
        addresses << Address{{"Name", "Person " + number},
                             {"Vorname", "Vorname " + number},
                             {"Ort", "Ort " + number}};
    }
    return addresses;
}

// Stamped today as the program stamps every save, so that a record written
// back today is as before.
QList<Address> stampedToday(QList<Address> addresses) {
    for (Address& address : addresses)
        address.insert("Aenderung", kToday);
    return addresses;
}

void wireEvents(RecordStore& store) {
    store.BeforePost = [&store] { store.SetFieldDate("Aenderung", vellumo::now()); };
}

// Every stored record, pictures by their digest: what "the table is as
// before" means.
QStringList dump(const RecordStore& store) {
    QStringList lines;
    for (int p = 0; p < store.storedCount(); ++p) {
        const QByteArray picture = store.storedValue(p, "Grafik").toByteArray();
        lines << store.storedTexts(p).join(u'|') + u'|' +
                     QCryptographicHash::hash(picture, QCryptographicHash::Md5).toHex();
    }
    return lines;
}

void edit(RecordStore& store, const QString& name, const QString& field, const QVariant& value) {
    store.GoToFirst();
    while (store.fieldText("Name") != name) {
        const int before = store.RecordNumber();
        store.StepForward();
        QVERIFY2(store.RecordNumber() != before, qPrintable(name));
    }
    store.BeginEdit();
    store.setFieldValue(field, value);
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

} // namespace

class TestHistory : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;
    std::unique_ptr<testsupport::FixedClock> clock;

private slots:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        clock = std::make_unique<testsupport::FixedClock>(QDateTime(kToday, QTime(9, 30)));
    }
    void cleanup() {
        clock.reset();
        box.reset();
    }

    // A saved edit, a new record and a delete, undone in reverse order and
    // redone; each write-back is stamped like an edit.
    // The history keeps its images packed: every kind of value, empty ones
    // and bytes that are no text included, comes back as it went in.
    void packedImagesKeepEveryKind() {
        const px::Record image{std::monostate{},
                               std::string(),
                               std::string("Müller-Lüdenscheidt\nzweite Zeile"),
                               std::int64_t{-4711},
                               -0.25,
                               true,
                               px::Date{738885},
                               px::TimeOfDay{86'399'999},
                               px::Timestamp{738885.0 * 86'400'000 + 1},
                               px::Decimal{"-12.34"},
                               px::Bytes{0, 0xFF, 0, 0x1A},
                               px::BlobRef{0x12345678, 70000, 3}};
        QVERIFY(vellumo::unpackImage(vellumo::packImage(image)) == image);
        QVERIFY(vellumo::unpackImage(vellumo::packImage({})).empty());

        // A picture written anew is found behind every kind of value.
        vellumo::History history;
        vellumo::RecordChange added;
        added.after = image;
        history.add(added, QStringLiteral("Import"));
        const px::BlobRef moved{0x0BADF00D, 70000, 4};
        history.renamePicture(px::BlobRef{0x12345678, 70000, 3}, moved);
        px::Record renamed = image;
        renamed.back() = moved;
        QVERIFY(*history.undoChange(0).after == renamed);
    }

    void editsInsertsAndDeletesUndoneInReverse() {
        RecordStore store;
        makeTable(store, "Adressen", stampedToday(numbered(3)));
        wireEvents(store);
        store.clearHistory(); // the records the table was made with
        const QStringList original = dump(store);
        QVERIFY(!store.canUndo());

        clock->set(QDateTime(kToday.addDays(1), QTime(8, 0)));
        edit(store, "Person 02", "Ort", "Bremen");
        QCOMPARE(store.undoLabel(), QString("Änderung: Person 02, Vorname 02"));
        store.InsertBlankRecord();
        store.SetFieldText("Name", "Albers");
        store.SaveRecord();
        QCOMPARE(store.undoLabel(), QString("Neue Adresse: Albers"));
        edit(store, "Person 03", "Ort", "Celle");
        store.RemoveRecord();
        QCOMPARE(store.undoLabel(), QString("Löschen: Person 03, Vorname 03"));

        // A save that changes nothing but the stamp is no step.
        edit(store, "Person 01", "Ort", "Ort 01");
        QCOMPARE(store.fieldValue("Aenderung").toDate(), kToday.addDays(1));
        const QStringList changed = dump(store);
        QCOMPARE(store.undoLabel(), QString("Löschen: Person 03, Vorname 03"));

        clock->set(QDateTime(kToday.addDays(2), QTime(8, 0)));
        store.Undo(); // the delete: back, as it was before it, stamped today
        QCOMPARE(store.fieldText("Name"), QString("Person 03"));
        QCOMPARE(store.fieldText("Ort"), QString("Celle"));
        QCOMPARE(store.fieldValue("Aenderung").toDate(), kToday.addDays(2));
        QCOMPARE(store.redoLabel(), QString("Löschen: Person 03, Vorname 03"));
        store.Undo();
        store.Undo();
        QCOMPARE(store.storedCount(), 3);
        store.Undo();
        QVERIFY(!store.canUndo());
        QCOMPARE(store.fieldText("Name"), QString("Person 02"));
        QVERIFY(store.fieldText("Ort") != "Bremen");
        QCOMPARE(store.fieldValue("Aenderung").toDate(), kToday.addDays(2));

        // Redo writes the steps again in their order.
        clock->set(QDateTime(kToday.addDays(1), QTime(8, 0)));
        while (store.canRedo())
            store.Redo();
        QCOMPARE(dump(store), changed);
        QCOMPARE(store.undoLabel(), QString("Löschen: Person 03, Vorname 03"));

        // Back to the start (stamped on the day the table was made, so the
        // dump is the first one); a new change then drops what could be redone.
        clock->set(QDateTime(kToday, QTime(8, 0)));
        while (store.canUndo())
            store.Undo();
        for (int p = 0; p < store.storedCount(); ++p)
            QCOMPARE(store.storedTexts(p).mid(0, 17), original[p].split(u'|').mid(0, 17));
        edit(store, "Person 01", "Ort", "Dessau");
        QVERIFY(!store.canRedo());
        store.Undo();
        QCOMPARE(store.fieldText("Ort"), QString("Ort 01"));
    }

    // A grouped update and delete (as a merge makes them) is one step; both
    // records come back as they were, and the step can be redone.
    void groupedStepUndoneAsOneAndRedone() {
        RecordStore store;
        makeTable(store, "Adressen",
                  stampedToday({{{"Name", "Müller"}, {"Vorname", "Jürgen"}, {"Telefon1", "1"}},
                                {{"Name", "Mueller"},
                                 {"Vorname", "Juergen"},
                                 {"Telefon1", "2"},
                                 {"Grafik", QByteArray(5000, 'p')}}}));
        wireEvents(store);
        store.clearHistory();
        const QStringList before = dump(store);
        store.beginStep("Zusammenführen: Müller, Jürgen");
        edit(store, "Müller", "Memo1", "Telefon 1 (alt): 2");
        store.BeginEdit();
        store.setFieldValue("Grafik", QByteArray(5000, 'p'));
        store.SaveRecord();
        QVERIFY(!store.canUndo()); // not while the step is open
        edit(store, "Mueller", "Ort", "x");
        store.RemoveRecord();
        store.endStep();
        const QStringList merged = dump(store);
        QCOMPARE(merged.size(), 1);
        QCOMPARE(store.undoLabel(), QString("Zusammenführen: Müller, Jürgen"));

        store.Undo();
        QCOMPARE(dump(store), before); // the picture too, stored anew
        QVERIFY(!store.canUndo());
        store.Redo();
        QCOMPARE(dump(store), merged);
        store.Undo();
        QCOMPARE(dump(store), before);
    }

    // Records written together are stamped like a saved edit; a step held by
    // a guard is closed when an error unwinds it, keeping what was written.
    void recordsWrittenTogetherStampedAndGuarded() {
        RecordStore store;
        makeTable(store, "Adressen", stampedToday(numbered(2)));
        wireEvents(store);
        store.clearHistory();
        const QStringList before = dump(store);
        auto valuesOf = [&store](int position) {
            QVariantList values;
            for (const vellumo::FieldInfo& f : store.fields())
                values << store.storedValue(position, f.name);
            return values;
        };
        using Edit = RecordStore::StoredEdit;
        QVariantList changed = valuesOf(0);
        changed[store.fieldIndex("Ort")] = "Bremen";
        clock->set(QDateTime(kToday.addDays(3), QTime(8, 0)));
        try {
            RecordStore::StepGuard step(store, "Zwei Adressen");
            store.changeStored({Edit{Edit::Update, 0, changed}});
            QVERIFY(!store.canUndo()); // the step is still open
            step.relabel("Beide Adressen");
            store.changeStored({Edit{Edit::Insert, -1, valuesOf(1)}}); // its key is taken
            QFAIL("a second record of the same key was written");
        } catch (const StoreError& e) {
            QCOMPARE(e.kind(), vellumo::ErrorKind::Duplicate);
        }
        QCOMPARE(store.undoLabel(), QString("Beide Adressen"));
        QCOMPARE(store.storedValue(0, "Ort").toString(), QString("Bremen"));
        QCOMPARE(store.storedValue(0, "Aenderung").toDate(), kToday.addDays(3));
        QCOMPARE(store.storedCount(), 2);
        clock->set(QDateTime(kToday, QTime(8, 0)));
        store.Undo();
        QCOMPARE(dump(store), before);
    }

    // A picture stored, kept across an edit and replaced: its old place in
    // the table is given up, so the history keeps the bytes it replaced.
    void picturesStoredAndRemovedComeBack() {
        RecordStore store;
        makeTable(store, "Adressen", stampedToday(numbered(2)));
        wireEvents(store);
        store.clearHistory();
        const QStringList empty = dump(store);
        edit(store, "Person 01", "Grafik", QByteArray(3000, 'a'));
        QCOMPARE(store.undoLabel(), QString("Bild gespeichert: Person 01, Vorname 01"));
        const QStringList first = dump(store);
        edit(store, "Person 01", "Ort", "Bonn");
        const QStringList moved = dump(store);
        edit(store, "Person 01", "Grafik", QByteArray(4000, 'b'));
        edit(store, "Person 01", "Grafik", QVariant());
        QCOMPARE(store.undoLabel(), QString("Bild gelöscht: Person 01, Vorname 01"));
        store.Undo();
        QCOMPARE(store.fieldValue("Grafik").toByteArray(), QByteArray(4000, 'b'));
        store.Undo();
        QCOMPARE(dump(store), moved);
        store.Undo(); // the picture restored twice is still the one the edit kept
        QCOMPARE(dump(store), first);
        store.Undo();
        QCOMPARE(dump(store), empty);
        for (int i = 0; i < 4; ++i)
            store.Redo();
        QVERIFY(store.fieldValue("Grafik").isNull());
        QCOMPARE(store.fieldText("Ort"), QString("Bonn"));
    }

    // Beyond its budget the history keeps removed pictures in its file: the
    // memory stays bounded, and undo and redo bring every picture back.
    void picturesBeyondTheBudgetKeptInAFile() {
        RecordStore store;
        QList<Address> addresses = stampedToday(numbered(4));
        for (int i = 0; i < addresses.size(); ++i)
            addresses[i].insert("Grafik", QByteArray(3000 + i, char('a' + i)));
        makeTable(store, "Adressen", addresses);
        wireEvents(store);
        store.clearHistory();
        store.setHistoryBudget(4000);
        const QStringList before = dump(store);
        for (int i = 0; i < 4; ++i) {
            store.GoToFirst();
            store.RemoveRecord();
        }
        QCOMPARE(store.storedCount(), 0);
        QCOMPARE(store.historyFileBytes(), qint64(3001 + 3002 + 3003)); // the first in memory
        for (int round = 0; round < 2; ++round) {
            while (store.canUndo())
                store.Undo();
            QCOMPARE(dump(store), before);
            while (store.canRedo())
                store.Redo();
            QCOMPARE(store.storedCount(), 0);
        }
        QVERIFY(store.historyFileBytes() > 0);
        store.clearHistory();
        QCOMPARE(store.historyFileBytes(), qint64(0));
    }

    // A bulk is one step. A record changed while the table was closed
    // refuses the step, which stays; another table starts afresh.
    void bulkIsOneStepAndChangedRecordsRefuse() {
        RecordStore store;
        makeTable(store, "Adressen", stampedToday(numbered(2)));
        wireEvents(store);
        store.clearHistory();
        const QStringList before = dump(store);
        store.BeginBulk();
        for (int i = 0; i < 700; ++i) { // more than one batch
            store.InsertBlankRecord();
            store.SetFieldText("Name", QString("Neu %1").arg(i, 4, 10, QChar(u'0')));
            store.SaveRecord();
        }
        store.EndBulk();
        QCOMPARE(store.undoLabel(), QString("Import"));
        QVERIFY(store.historyBytes() > 700 * 100);

        store.CloseTable();
        auto changeElsewhere = [](const QString& name, const QString& field, const QVariant& v) {
            RecordStore other;
            other.BindTable("Adressen");
            other.OpenTable();
            edit(other, name, field, v);
        };
        changeElsewhere("Neu 0500", "Telefon1", "0221 1234");
        store.OpenTable();
        QCOMPARE(errorOf([&] { store.Undo(); }),
                 QString("Rückgängig nicht möglich: Die Adresse „Neu 0500“ wurde inzwischen "
                         "geändert."));
        QCOMPARE(store.storedCount(), 702); // nothing of the step was undone
        QCOMPARE(store.undoLabel(), QString("Import"));
        // As it was after the import, the step goes whole.
        store.CloseTable();
        changeElsewhere("Neu 0500", "Telefon1", QVariant());
        store.OpenTable();
        store.Undo();
        QCOMPARE(dump(store), before);

        // A record of the key added elsewhere: the step is refused whole.
        store.CloseTable();
        changeElsewhere("Person 01", "Name", "Neu 0300");
        changeElsewhere("Neu 0300", "Vorname", QVariant());
        changeElsewhere("Neu 0300", "Ort", QVariant());
        store.OpenTable();
        QCOMPARE(errorOf([&] { store.Redo(); }),
                 QString("Wiederherstellen nicht möglich: Eine Adresse „Neu 0300“ gibt es "
                         "inzwischen schon."));
        QCOMPARE(store.storedCount(), 2);
        store.CloseTable();
        changeElsewhere("Neu 0300", "Name", "Person 00");
        store.OpenTable();
        store.Redo();
        QCOMPARE(store.storedCount(), 702);

        store.CloseTable();
        makeTable(store, "Andere", numbered(1));
        store.Undo();
        QVERIFY(!store.canUndo()); // the record it was made with, no more
        QCOMPARE(store.redoLabel(), QString("Neue Adresse: Person 01, Vorname 01"));
    }
};

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
