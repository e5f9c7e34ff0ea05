// The rows of a run that lays out pages of other rows (sheets of labels, the
// pages of letters): row n of the run is page n, laid out alone from its
// number by the page's element, which reads only the rows it shows. The run
// settles the rows beneath first and leaves their cursor on the last one it
// reached.
#pragma once

#include "platform/report/layout.h"

namespace vellumo::print {

class PagedRows : public report::RowSource {
public:
    // rows: where the style keeps the rows beneath (none: no pages).
    explicit PagedRows(report::RowSource* const& rows) : rows_(rows) {}
    void Settle() override {
        if (rows_)
            rows_->Settle();
    }
    void Seek(int page) override { page_ = page; }
    QString FieldText(const QString&) const override { return {}; }
    void RunEnded(int lastPage) override {
        const int row = rows_ ? lastRowOf(lastPage) : -1;
        if (row >= 0)
            rows_->RunEnded(row);
    }
    int page() const { return page_; }

protected:
    // The last row beneath that a run ending on page printed; -1 for none.
    virtual int lastRowOf(int page) const = 0;

private:
    report::RowSource* const& rows_;
    int page_ = 0;
};

} // namespace vellumo::print
