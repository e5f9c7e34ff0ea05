// The one cursor on the address table that every window of the program shares.
//
// Operations carry the names the rest of the program uses. Every failure is
// raised as vellumo::StoreError with a German text meant for the user.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace px {
class Table;
class FileSystem;
} // namespace px

namespace vellumo {

class StoreError : public std::runtime_error {
public:
    explicit StoreError(const QString& text) : std::runtime_error(text.toStdString()) {}
    QString text() const { return QString::fromStdString(what()); }
};

enum class StoreState { Closed, Browsing, Editing, Inserting };

// Kind codes of field declarations.
enum class FieldKind { Text = 1, Date = 9, Memo = 16, Graphic = 17 };

struct FieldInfo {
    QString name;
    FieldKind kind = FieldKind::Text;
    int size = 0; // characters for text fields
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
    void DeclareField(const QString& name, FieldKind kind, int size, bool required);
    void ClearIndexDeclarations();
    enum IndexOption { Primary = 1, Unique = 2, Descending = 4, CaseInsensitive = 8, Expression = 16 };
    void DeclareIndex(const QString& name, const QString& fields, int options);
    void BindTable(const QString& fileName);
    void CreateTableFile();
    void OpenTable();
    void CloseTable();
    void CloseTableAtShutdown(); // no BeforeClose
    bool IsTableOpen() const;

    // Moving.
    void GoToFirst();
    void GoToLast();
    void StepForward();
    void StepBack();
    void StepBy(int count);
    int RecordNumber() const;
    int CountRecords() const;

    // Editing.
    void InsertBlankRecord();
    void BeginEdit();
    void SaveRecord();
    bool HasUnsavedChanges();
    void DiscardChanges();
    void RemoveRecord();
    void SetFieldDate(const QString& field, const QDateTime& value);
    void SetFieldText(const QString& field, const QString& text);

    // Filter.
    void SetFilterText(const QString& expression);
    void SetFilterActive(bool active);
    bool IsFilterActive() const;

    // Read-only access for bound controls, grids and reports.
    StoreState state() const;
    bool isEmpty() const;
    const std::vector<FieldInfo>& fields() const;
    int fieldIndex(const QString& name) const; // -1 when missing
    FieldInfo field(const QString& name) const; // raises "Feld '%s' nicht gefunden"
    QString fieldText(const QString& field) const;   // of the current record (dates dd.MM.yyyy)
    QVariant fieldValue(const QString& field) const; // QString, QDate, QByteArray or null
    int visibleCount() const;                        // = CountRecords
    int visiblePosition() const;                     // 0-based among visible records, -1 when none
    QVariant valueAt(int visibleRow, const QString& field) const; // without moving
    void moveToVisible(int visibleRow);              // settles first, like every move
    QString tableFileName() const;

    // Events and hooks.
    std::function<void()> AfterOpen;
    std::function<void()> BeforeClose;
    std::function<void()> BeforePost;
    // Writes the text still pending in the focused bound control into the record.
    std::function<void()> flushPendingInput;
    // Called after every change of current record, record data or state.
    std::function<void()> changed;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Date texts of the German short form; raises "'%s' ist kein gültiges Datum".
QDate parseGermanDate(const QString& text, const QDate& today = QDate::currentDate());
QString formatGermanDate(const QDate& date);

} // namespace vellumo
