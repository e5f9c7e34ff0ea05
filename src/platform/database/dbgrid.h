// The bound grid: a run of records of the shared cursor, one per row.
//
// Selecting a row makes that record current; every move of the cursor
// elsewhere moves the selection. Cells cannot be edited and no records can be
// added here; Ctrl+Del deletes the current record after asking.
#pragma once

#include "platform/database/gridmodel.h"

#include <QTableView>

namespace vellumo {

class DataSource;
class RecordStore;

class DBGrid : public QTableView {
    Q_OBJECT
public:
    explicit DBGrid(QWidget* parent = nullptr);

    // The grid shows and moves the cursor of the source's store and follows
    // every change the source reports.
    void setDataSource(DataSource* source);
    DataSource* dataSource() const { return source_; }
    RecordStore* store() const { return model_->store(); }

    void setColumns(const QList<GridColumn>& columns);
    GridModel* gridModel() const { return model_; }

public slots:
    // Re-reads rows and cursor; while hidden the grid only notes that it must.
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    void showCurrentRow();
    void deleteCurrentRecord();
    void reportError(const QString& text);

    GridModel* model_;
    DataSource* source_ = nullptr;
    bool stale_ = false;
    bool following_ = false; // the selection is being moved to the cursor
};

// The question every bound grid asks before deleting: "Datensatz löschen?"
// in a box titled "Bestätigen" with "OK" and "Abbrechen".
bool askDeleteRecord(QWidget* parent);

} // namespace vellumo
