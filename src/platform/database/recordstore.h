// The one cursor on the address table that every window of the program shares.
//
// Operations carry the names the rest of the program uses. Every failure is
// raised as vellumo::StoreError with a German text meant for the user; errors
// of the table engine arrive as StoreError with the engine's own text.
//
// Settling: every move, InsertBlankRecord, SetFilterText and SetFilterActive
// first write the text still pending in the focused bound control into the
// record (the pending-input writers), then save the record when it has unsaved
// changes (BeforePost runs) or else drop the editing or insertion.
// docs/recordstore.md describes the states and this rule in full.
#pragma once

#include "platform/database/listeners.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace px {
class Table;
class FileSystem;
class Lock;
} // namespace px

namespace vellumo {

struct RecordChange; // platform/database/history.h

// What kind of failure a StoreError is, so that callers tell them apart
// without reading the text: a value or operation refused by its checks (the
// table is as before), a second record with the same key, or a failure to
// write the table's files (a full disk, an I/O error: the change and the rest
// of its batch did not happen).
enum class ErrorKind { Refused, Duplicate, Storage };

class StoreError : public std::runtime_error {
public:
    explicit StoreError(const QString& text, ErrorKind kind = ErrorKind::Refused)
        : std::runtime_error(text.toStdString()), kind_(kind) {}
    QString text() const { return QString::fromStdString(what()); }
    ErrorKind kind() const { return kind_; }

private:
    ErrorKind kind_;
};

enum class StoreState { Closed, Browsing, Editing, Inserting };

// Kind codes of field declarations. Other is a field of a kind the program
// does not declare itself (found in a table made elsewhere): it can be read
// as text but not changed.
enum class FieldKind { Other = 0, Text = 1, Date = 9, Memo = 16, Graphic = 17 };

struct FieldInfo {
    QString name;
    FieldKind kind = FieldKind::Text;
    int size = 0; // characters for text fields, 0 otherwise
};

// What changed, handed to RecordStore::notify (several may be combined).
enum StoreChange : unsigned {
    StateChange = 1,   // closed / browsing / editing / inserting
    CurrentChange = 2, // another record is current (or none)
    DataChange = 4,    // a value of the current record
    RecordsChange = 8, // the set or order of visible records
};

// What a change did to the stored table, told the moment it is written (before
// the change listeners hear of it), to whatever keeps something per stored
// record (the search index). Positions are 0-based in key order in the whole
// table. Opened: a table was opened (read it whole); Closed: it was closed;
// Reloaded: the stored records are not what was told before (a batch rolled
// back), read them whole again.
struct StoredChange {
    enum Kind { Opened, Closed, Inserted, Updated, Removed, Reloaded };
    Kind kind = Opened;
    int from = -1; // Updated, Removed: where the record was
    int to = -1;   // Inserted, Updated: where it is now
};

// A filter decided outside the store (the quick search's matches), applied
// like a filter expression: counting, moving, grids and reports see only the
// records it lets pass.
class RecordFilter {
public:
    virtual ~RecordFilter() = default;
    // The positions that pass in the table as now stored, ascending.
    virtual std::vector<std::uint32_t> passingPositions() const = 0;
    // Whether the stored record at position passes (asked after a save,
    // when everything told of StoredChange has heard of the save).
    virtual bool passes(int position) const = 0;
};

class RecordStore {
public:
    RecordStore();
    explicit RecordStore(px::FileSystem& fs);
    ~RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // Declarations and table files.
    void ClearFieldDeclarations();
    // Refuses a second field of the same name and unknown kinds.
    void DeclareField(const QString& name, FieldKind kind, int size, bool required);
    void ClearIndexDeclarations();
    enum IndexOption {
        Primary = 1,
        Unique = 2,
        Descending = 4,
        CaseInsensitive = 8,
        Expression = 16
    };
    // Refuses a second index of the same name. Only a primary index over the
    // first declared fields (in declaration order) can be created.
    void DeclareIndex(const QString& name, const QString& fields, int options);
    // A name without extension gets ".db" (or ".DB" where only that file
    // exists); one without directory is taken from the working directory
    // when the table is opened or created.
    void BindTable(const QString& fileName);
    // The file a table's name stands for, by that rule.
    static QString tableFileName(const QString& name);
    void CreateTableFile();
    // Deletes a table file before it is replaced, but never one another
    // program has open for writing: that raises "Die Tabelle wird bereits
    // von einem anderen Programm bearbeitet." and deletes nothing. Any other
    // failure raises "Die Datei %1 kann nicht gelöscht werden". The table
    // must be closed; a relative name is taken from the working directory.
    void DeleteTableFile(const QString& fileName);
    // Makes the first record current, then fires AfterOpen. On failure the
    // table stays closed. Does nothing when already open.
    void OpenTable();
    // Opens for reading only, without the table's write lock, beside a
    // program that may be writing it (an export); every change is refused.
    void OpenTableReadOnly();
    // While the returned lock lives, no program changes the open table
    // (readers of the whole table, such as an export, see one state).
    [[nodiscard]] std::unique_ptr<px::Lock> holdSteady();
    // Fires BeforeClose (an error in it aborts the close), then drops what is
    // still being edited and closes. The filter is switched off.
    void CloseTable();
    void CloseTableAtShutdown(); // like CloseTable, without BeforeClose
    bool IsTableOpen() const;

    // Moving (among the records that pass the filter). All settle first.
    void GoToFirst();
    void GoToLast();
    void StepForward();
    void StepBack();
    void StepBy(int count);
    // 1-based position in key order within the whole table, also while the
    // filter is on; 0 on an empty table, with no current record and while a
    // new record is being inserted.
    int RecordNumber() const;
    int CountRecords() const; // through the filter

    // Editing.
    void InsertBlankRecord();
    void BeginEdit(); // on an empty table: InsertBlankRecord
    void SaveRecord();
    bool HasUnsavedChanges();
    void DiscardChanges();
    void RemoveRecord();
    void SetFieldDate(const QString& field, const QDateTime& value);
    void SetFieldText(const QString& field, const QString& text);
    // Stores a typed value: QString, QDate/QDateTime, QByteArray (pictures,
    // also text), or null/invalid to empty the field. Same rules as
    // SetFieldText. Used by bound memo and picture controls.
    void setFieldValue(const QString& field, const QVariant& value);

    // Several stored records changed as one transaction of the table (a
    // merge: one record updated, the other removed). The edits are applied in
    // turn, each position counting the table as the edits before it left it;
    // values hold every field in field order, as setFieldValue takes them;
    // each record written goes through BeforePost first, stamped like a saved
    // edit. When one edit fails (a refused value, a key taken), none stays. Settles
    // first; the cursor goes to the record the last edit wrote (after a
    // removal: the follower). Refused during a bulk.
    struct StoredEdit {
        enum Kind { Insert, Update, Remove };
        Kind kind = Update;
        int position = -1;   // Update, Remove
        QVariantList values; // Insert, Update
    };
    void changeStored(const std::vector<StoredEdit>& edits);

    // Bulk insertion (an import). Between BeginBulk and EndBulk each
    // SaveRecord of a new record joins a batch of the engine, committed every
    // few hundred records, megabyte or second: a crash leaves the table as
    // after the last committed batch. Listeners hear of each batch once, and
    // the filter takes the batch's records in once, after it is committed;
    // the current record is then the last one saved. A refused record (its
    // value, its key) leaves the batch as it was; a storage failure rolls back
    // the open batch and ends the bulk (ErrorKind::Storage). EndBulk commits
    // the last batch; AbandonBulk rolls it back (for unwinding).
    void BeginBulk();
    void EndBulk();
    void AbandonBulk() noexcept;
    bool inBulk() const;
    // Records saved since BeginBulk that are on disk (in committed batches).
    int bulkStored() const;
    // History: undo and redo. Every change of the stored table made here is
    // a step of its own (a saved record, a new one, a removed one) or joins
    // the step that beginStep opened (an import, a merge): the pairs nest,
    // and the outermost makes one step of everything in between; endStep may
    // give the step its label anew (when it is known only at the end). A bulk
    // outside such a pair is a step of its own.
    // Undo writes back what the records of the last step were before it, as a
    // change of the table like any other (in one batch of the engine, each
    // record written back through BeforePost), and makes it the step to redo;
    // Redo does the same the other way round. Both settle first; a record that
    // has changed since the step (elsewhere, while the table was closed)
    // refuses it: "Rückgängig nicht möglich: ..." and the table stays as it
    // was. Any other change makes the steps that were undone unreachable.
    // The history lasts as long as the store, kept while the same table is
    // closed and opened again; another table starts it afresh.
    void beginStep(const QString& label);
    void endStep(const QString& label = QString()); // never raises
    // One step while it lives: beginStep when made, endStep when it goes
    // (also when an error unwinds), with the label given last, if any.
    class StepGuard {
    public:
        StepGuard(RecordStore& store, const QString& label) : store_(store) {
            store_.beginStep(label);
        }
        ~StepGuard() { store_.endStep(label_); }
        StepGuard(const StepGuard&) = delete;
        StepGuard& operator=(const StepGuard&) = delete;
        void relabel(const QString& label) { label_ = label; }

    private:
        RecordStore& store_;
        QString label_;
    };
    // Records written to the table while it was closed here (a sync, through
    // the engine), as one step: undone like any other while the records are
    // as the changes left them. Nothing for no changes.
    void addStep(const QString& label, std::vector<RecordChange> changes);
    bool canUndo() const;
    bool canRedo() const;
    QString undoLabel() const; // "" when there is nothing to undo
    QString redoLabel() const;
    void Undo();
    void Redo();
    void clearHistory();
    // Roughly the memory the history takes. The pictures it keeps (replaced
    // or removed ones) stay in memory up to a budget (32 MB unless set); the
    // rest goes into a temporary file of the history's own, removed with it,
    // or stays in memory when that file cannot be written: none is dropped.
    qint64 historyBytes() const;
    qint64 historyFileBytes() const; // of the pictures in that file
    void setHistoryBudget(qint64 bytes);
    // Told when a step was closed by endStep or the history was cleared
    // (every other change of it comes with a change of the table, which the
    // change listeners hear of).
    [[nodiscard]] Subscription subscribeHistory(std::function<void()> listener);

    // Number of key fields of the open table (the first fields), 0 when unkeyed.
    int keyFieldCount() const;
    // True when every character of text has a place in the table's code page.
    bool fitsCodePage(const QString& text) const;

    // Filter. The expression compares one field with a quoted text:
    //   Name = 'Mei*'      ('' inside the quotes is one apostrophe)
    // An empty expression lets every record pass. Raises
    // "Ungültiger Filterausdruck: %s" without changing anything.
    void SetFilterText(const QString& expression);
    void SetFilterActive(bool active);
    bool IsFilterActive() const;
    QString filterText() const;
    // Settles, then switches the filter on with filter in place of the
    // expression, until SetFilterText sets an expression again or the table
    // is closed; SetFilterActive switches it off and on like an expression.
    void SetFilterRecords(std::shared_ptr<const RecordFilter> filter);
    bool hasRecordFilter() const;

    // Read-only access for bound controls, grids and reports.
    StoreState state() const;
    bool isEmpty() const;                            // no visible record
    const std::vector<FieldInfo>& fields() const;    // of the open table
    int fieldIndex(const QString& name) const;       // -1 when missing (case ignored)
    FieldInfo field(const QString& name) const;      // raises "Feld '%s' nicht gefunden"
    QString fieldText(const QString& field) const;   // of the current record (dates dd.MM.yyyy)
    QVariant fieldValue(const QString& field) const; // QString, QDate, QByteArray or null
    // What identifies the stored contents of a picture field of the current
    // record without reading them (where they lie, their length and
    // modification number); empty when the value is not stored apart (none,
    // small, or changed while editing). Equal keys, equal contents.
    QString contentKey(const QString& field) const;
    int visibleCount() const; // = CountRecords, but 0 on a broken table instead of raising
    // 0-based among visible records, -1 when none. While inserting: the row
    // at which the new record stands (the rows from there on move down one).
    int visiblePosition() const;
    // A value of a visible record without moving (the edited values for the
    // current record while editing).
    QVariant valueAt(int visibleRow, const QString& field) const;
    QString textAt(int visibleRow, const QString& field) const;
    // Every value of a visible row in field order, read at once (as valueAt);
    // pictures are null, and not read, unless withPictures.
    QVariantList valuesAt(int visibleRow, bool withPictures = true) const;
    void moveToVisible(int visibleRow); // settles first, like every move
    // The whole table as stored, also the records the filter hides, read
    // without moving the cursor (a record being edited is read as stored).
    // Positions are 0-based in key order within the whole table; scanStored
    // stops early when visit returns false.
    int storedCount() const; // 0 when closed or broken
    void scanStored(const QString& field,
                    const std::function<bool(int position, const QVariant& value)>& visit) const;
    QVariant storedValue(int position, const QString& field) const;
    // Every field of a stored record as text (as fieldText gives it; a
    // picture is empty and never read), in field order.
    QStringList storedTexts(int position) const;
    // The same for every stored record in key order; stops early when visit
    // returns false.
    void
    scanStoredTexts(const std::function<bool(int position, const QStringList& texts)>& visit) const;
    // While a record is being inserted or edited: the stored position of the
    // first record whose key is not below the edited one's; after a save
    // refused as a duplicate, the record that holds the key. -1 when there is
    // none or the table has no key.
    int storedPositionOfEditedKey() const;
    // Makes the stored record at position current. Settles first, like every
    // move; when that save shifts the positions, the record is found again by
    // its key. A filter that hides the record is switched off.
    void moveToStored(int position);
    // Values that cannot be read (a damaged block or blob of the table) raise
    // StoreError like every other failure; grids and controls show that the
    // value cannot be read and report the error once: claimFailureReport is
    // true only the first time a text is claimed while the table is open.
    bool claimFailureReport(const QString& text);
    // True after a failed change whose engine could not read the table back:
    // every operation then raises "Die Tabelle ist nach einem Schreibfehler
    // nicht mehr lesbar. ...", HasUnsavedChanges is false and CloseTable
    // closes without BeforeClose. Counts of the read-only access are 0.
    bool isBroken() const;
    QString tableFileName() const; // full path of the open (or bound) table

    // Bound controls announce their fields here (DataSource::bindField); a
    // table lacking one of them is not opened ("Feld '%s' nicht gefunden").
    void requireField(const QString& field);
    void releaseField(const QString& field);

    // Events and hooks.
    std::function<void()> AfterOpen;
    std::function<void()> BeforeClose;
    std::function<void()> BeforePost;

    // Observers: any number may listen; each listens while its Subscription
    // lives. A writer of pending input puts the text still pending in its
    // bound control into the record; writers run before every settling, in
    // the order they came, and the first error stops the operation.
    [[nodiscard]] Subscription subscribePendingInput(std::function<void()> write);
    // Called once at the end of every operation that changed something, with
    // the StoreChange bits; field names the one changed field of a DataChange
    // (empty when more may have changed). Every DataSource listens here.
    [[nodiscard]] Subscription
    subscribeChanges(std::function<void(unsigned changes, const QString& field)> listener);
    // Told of every stored change as it is written (see StoredChange). A
    // listener must not raise; what it raises is dropped, never the change.
    [[nodiscard]] Subscription
    subscribeStoredChanges(std::function<void(const StoredChange& change)> listener);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Date texts of the German short form dd.MM.yyyy; d.M.yy is accepted, the
// two-digit year falling into the hundred years that end twenty years after
// today (a null today: the program's clock). Empty text gives a null date;
// other texts raise "'%s' ist kein gültiges Datum".
QDate parseGermanDate(const QString& text, const QDate& today = QDate());
QString formatGermanDate(const QDate& date); // "" for a null date

} // namespace vellumo
