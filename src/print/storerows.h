// The record store as the rows of a report. Rows are read by their visible
// position without moving the shared cursor, so no bound control refreshes
// while a run lays out its pages; the filter decides which records they are.
#pragma once

#include "platform/report/layout.h"

namespace vellumo {
class RecordStore;
}

namespace vellumo::print {

class StoreRows : public report::RowSource {
public:
    explicit StoreRows(RecordStore& store) : store_(store) {}
    // The run's first move: a pending edit is saved (or an unchanged one
    // dropped) before any row is read.
    void Settle() override;
    int Count() override;
    void Seek(int row) override { row_ = row; }
    QString FieldText(const QString& field) const override;
    // The run leaves the cursor on the last row it reached.
    void RunEnded(int lastRow) override;

private:
    RecordStore& store_;
    int row_ = 0;
};

} // namespace vellumo::print
