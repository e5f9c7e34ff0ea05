#include "platform/database/gridmodel.h"

#include "platform/database/boundcontrols.h"
#include "platform/database/recordstore.h"

#include <QDate>
#include <QPainter>
#include <QPixmap>

namespace vellumo {

namespace {

// The mark of the current row in the indicator column.
QPixmap indicatorMark() {
    static QPixmap mark = [] {
        QPixmap pm(8, 9);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        const QPointF triangle[3] = {{1.0, 0.5}, {7.5, 4.5}, {1.0, 8.5}};
        p.drawPolygon(triangle, 3);
        return pm;
    }();
    return mark;
}

} // namespace

GridModel::GridModel(QObject* parent) : QAbstractTableModel(parent) {}

void GridModel::setStore(RecordStore* store) {
    if (store_ == store)
        return;
    // A different store means different rows altogether.
    beginResetModel();
    store_ = store;
    rows_ = 0;
    current_ = -1;
    endResetModel();
    refresh();
}

void GridModel::setColumns(const QList<GridColumn>& columns) {
    beginResetModel();
    columns_ = columns;
    tableFields_.clear();
    endResetModel();
    refresh();
}

void GridModel::resolveFields() {
    QStringList resolved;
    resolved.reserve(columns_.size());
    const bool open = store_ && store_->IsTableOpen();
    for (const GridColumn& column : columns_) {
        QString found;
        if (open) {
            for (const FieldInfo& info : store_->fields()) {
                if (info.name.compare(column.field, Qt::CaseInsensitive) == 0) {
                    found = info.name;
                    break;
                }
            }
        }
        resolved << found;
    }
    tableFields_ = resolved;
}

void GridModel::refresh() {
    int count = 0;
    int current = -1;
    if (store_ && store_->IsTableOpen()) {
        if (store_->isBroken()) {
            // No rows to show, but never an empty table that looks sound.
            try {
                store_->CountRecords();
            } catch (const StoreError& error) {
                emit readFailed(error.text());
            }
        }
        count = store_->visibleCount();
        current = count > 0 ? store_->visiblePosition() : -1;
        if (current >= count)
            current = count - 1;
    }
    resolveFields();

    // Rows are positions, not records: a change of the count is told as rows
    // added or taken away at the end, and every row is then marked changed.
    if (count > rows_) {
        beginInsertRows(QModelIndex(), rows_, count - 1);
        rows_ = count;
        endInsertRows();
    } else if (count < rows_) {
        beginRemoveRows(QModelIndex(), count, rows_ - 1);
        rows_ = count;
        endRemoveRows();
    }
    if (rows_ > 0 && !columns_.isEmpty())
        emit dataChanged(index(0, 0), index(rows_ - 1, int(columns_.size()) - 1));

    const int previous = current_;
    current_ = current;
    if (previous != current_) {
        if (previous >= 0 && previous < rows_)
            emit headerDataChanged(Qt::Vertical, previous, previous);
        if (current_ >= 0)
            emit headerDataChanged(Qt::Vertical, current_, current_);
    }
    emit currentRowChanged(current_);
}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(columns_.size());
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_ || index.column() >= columns_.size())
        return QVariant();
    if (role != Qt::DisplayRole)
        return QVariant();
    const QString& field = tableFields_.value(index.column());
    if (!store_ || field.isEmpty())
        return QVariant();
    QVariant value;
    try {
        // A picture has no text in a cell, so it is not read at all.
        if (store_->field(field).kind == FieldKind::Graphic)
            return QVariant();
        value = store_->valueAt(index.row(), field);
    } catch (const StoreError& error) {
        // A record that cannot be read (a damaged block or blob): the cell
        // says so, and the error is reported (once, by the grid).
        emit const_cast<GridModel*>(this)->readFailed(error.text());
        return unreadableText();
    } catch (const std::exception&) {
        return QVariant();
    }
    switch (value.typeId()) {
    case QMetaType::QString:
        return value;
    case QMetaType::QDate:
        return formatGermanDate(value.toDate());
    default:
        return QVariant();
    }
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= columns_.size())
            return QVariant();
        if (role == Qt::DisplayRole)
            return columns_.at(section).title;
        return QVariant();
    }
    if (section < 0 || section >= rows_)
        return QVariant();
    if (role == Qt::DisplayRole)
        return QString();
    if (role == Qt::DecorationRole && section == current_)
        return indicatorMark();
    return QVariant();
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

} // namespace vellumo
