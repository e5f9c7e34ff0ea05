// A table model over the shared cursor of the record store.
//
// It holds no copy of the table: every cell is read when a view asks for it,
// through the store's read-only access, so the model costs the same for ten
// records as for a hundred thousand. It follows the store by refresh(), which
// the grid calls whenever the data source reports a change.
#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QString>

namespace vellumo {

class RecordStore;

struct GridColumn {
    QString field; // matched against the table's fields without regard to case
    QString title;
    int width = 64; // pixels
};

class GridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit GridModel(QObject* parent = nullptr);

    void setStore(RecordStore* store);
    RecordStore* store() const { return store_; }
    void setColumns(const QList<GridColumn>& columns);
    const QList<GridColumn>& columns() const { return columns_; }

    // Row of the current record among the visible ones, -1 when there is none.
    int currentRow() const { return current_; }

    // Re-reads the number of visible records and the current position and
    // tells the views what changed.
    void refresh();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // The current record moved to another row (or the rows changed under it).
    void currentRowChanged(int row);
    // A cell's record could not be read, or the table is broken; text is the
    // store's error.
    void readFailed(const QString& text);

private:
    void resolveFields();

    RecordStore* store_ = nullptr;
    QList<GridColumn> columns_;
    QStringList tableFields_; // the table's own spelling of each column's field, "" if missing
    int rows_ = 0;
    int current_ = -1;
};

} // namespace vellumo
