#include "platform/database/dbgrid.h"

#include "platform/database/boundcontrols.h"
#include "platform/database/datasource.h"
#include "platform/database/recordstore.h"
#include "platform/ui/messages.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>

namespace vellumo {

bool askDeleteRecord(QWidget* parent) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Bestätigen"),
                    QStringLiteral("Datensatz löschen?"), QMessageBox::NoButton, parent);
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Abbrechen"), QMessageBox::RejectRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == ok;
}

DBGrid::DBGrid(QWidget* parent) : QTableView(parent), model_(new GridModel(this)) {
    setModel(model_);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);

    QHeaderView* titles = horizontalHeader();
    titles->setSectionsMovable(true);
    titles->setSectionResizeMode(QHeaderView::Interactive);
    titles->setHighlightSections(false);
    titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    titles->setStretchLastSection(false);

    // The indicator column: narrow, one mark for the current row. Fixed row
    // heights keep the header cheap however many records there are.
    QHeaderView* indicator = verticalHeader();
    indicator->setSectionResizeMode(QHeaderView::Fixed);
    indicator->setMinimumSectionSize(1);
    indicator->setDefaultSectionSize(fontMetrics().height() + 4);
    indicator->setFixedWidth(12);
    indicator->setSectionsClickable(true);
    indicator->setHighlightSections(false);

    connect(model_, &GridModel::currentRowChanged, this, [this] { showCurrentRow(); });
    connect(model_, &GridModel::readFailed, this, [this](const QString& text) {
        if (RecordStore* s = model_->store())
            reportReadFailure(*s, text, this);
    });
}

void DBGrid::setDataSource(DataSource* source) {
    if (source_)
        disconnect(source_, nullptr, this, nullptr);
    source_ = source;
    model_->setStore(source ? &source->store() : nullptr);
    if (!source)
        return;
    connect(source, &DataSource::stateChanged, this, &DBGrid::refresh);
    connect(source, &DataSource::currentChanged, this, &DBGrid::refresh);
    connect(source, &DataSource::dataChanged, this, &DBGrid::refresh);
    connect(source, &DataSource::recordsChanged, this, &DBGrid::refresh);
}

void DBGrid::setColumns(const QList<GridColumn>& columns) {
    model_->setColumns(columns);
    for (int i = 0; i < columns.size(); ++i)
        setColumnWidth(i, columns.at(i).width);
}

void DBGrid::refresh() {
    if (!isVisible()) {
        stale_ = true;
        return;
    }
    stale_ = false;
    model_->refresh();
}

void DBGrid::showEvent(QShowEvent* event) {
    QTableView::showEvent(event);
    if (stale_ || model_->store())
        refresh();
}

void DBGrid::showCurrentRow() {
    const int row = model_->currentRow();
    QItemSelectionModel* selection = selectionModel();
    following_ = true;
    if (row < 0) {
        selection->clear();
    } else {
        const int column = currentIndex().isValid() ? currentIndex().column() : 0;
        const QModelIndex target = model_->index(row, column);
        if (currentIndex() != target || !selection->isRowSelected(row, QModelIndex()))
            selection->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect |
                                                   QItemSelectionModel::Rows);
        scrollTo(target);
    }
    following_ = false;
}

void DBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (following_ || !current.isValid() || current.row() == model_->currentRow())
        return;
    RecordStore* store = model_->store();
    if (!store)
        return;
    try {
        store->moveToVisible(current.row());
    } catch (const std::exception& e) {
        reportError(errorText(e));
        // The click or key that chose the row is still being handled and
        // would select it after us; put the selection back once it is done.
        QMetaObject::invokeMethod(
            this, [this] { model_->refresh(); }, Qt::QueuedConnection);
    }
    // Whatever the store made of the move, show where the cursor really is.
    model_->refresh();
}

void DBGrid::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && (event->modifiers() & Qt::ControlModifier)) {
        deleteCurrentRecord();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void DBGrid::deleteCurrentRecord() {
    RecordStore* store = model_->store();
    if (!store || !store->IsTableOpen() || model_->currentRow() < 0)
        return;
    if (!askDeleteRecord(this))
        return;
    try {
        store->RemoveRecord();
    } catch (const std::exception& e) {
        reportError(errorText(e));
    }
    model_->refresh();
}

void DBGrid::focusOutEvent(QFocusEvent* event) {
    QTableView::focusOutEvent(event);
    // A new record nobody has typed into is not left behind by the grid.
    RecordStore* store = model_->store();
    if (!store || !store->IsTableOpen() || store->state() != StoreState::Inserting)
        return;
    // A message box of our own taking the focus is no reason to drop anything.
    if (event->reason() == Qt::PopupFocusReason || event->reason() == Qt::ActiveWindowFocusReason)
        return;
    try {
        if (!store->HasUnsavedChanges())
            store->DiscardChanges();
    } catch (const std::exception& e) {
        reportError(errorText(e));
    }
    model_->refresh();
}

void DBGrid::reportError(const QString& text) {
    showError(text, window());
}

} // namespace vellumo
