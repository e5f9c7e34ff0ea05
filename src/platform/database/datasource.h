// Tells every bound control, grid and report when the shared cursor moved,
// when a value of the current record changed and when the table changed state.
//
// One DataSource belongs to one RecordStore for the whole run (the store must
// outlive it); a store may have several, each told of every change. Bound
// controls connect to its signals and call the store for values and edits.
// Qt Core only: reports and other models without widgets listen here too.
#pragma once

#include "platform/database/recordstore.h"

#include <QHash>
#include <QObject>
#include <QString>

namespace vellumo {

class DataSource : public QObject {
    Q_OBJECT
public:
    explicit DataSource(RecordStore& store, QObject* parent = nullptr);
    ~DataSource() override;

    RecordStore& store() const { return store_; }

    // A bound control announces the field it shows: a table lacking one of
    // the announced fields cannot be opened ("Feld '%s' nicht gefunden").
    // Raises that error at once when the open table lacks the field.
    void bindField(const QString& field);
    void unbindField(const QString& field);

signals:
    // Closed, browsing, editing or inserting (every change, also open/close).
    void stateChanged(vellumo::StoreState state);
    // Another record became current, or there is none any more (after a
    // move, open, close, insert start, remove, filter switch, a save that
    // moved the record to its key position).
    void currentChanged();
    // A value of the current record changed without a move; field is the
    // field's name as declared, or empty when any field may have changed.
    void dataChanged(const QString& field);
    // The set or order of the visible records may have changed (open, close,
    // filter, save, remove): grids reload their rows.
    void recordsChanged();

private:
    void deliver(unsigned changes, const QString& field);

    RecordStore& store_;
    Subscription changes_;
    QHash<QString, int> boundFields_; // lower-case name -> number of controls
};

} // namespace vellumo
