#include "print/storerows.h"

#include "platform/database/recordstore.h"

namespace vellumo::print {

void StoreRows::Settle() {
    store_.GoToFirst();
}

int StoreRows::Count() {
    return store_.IsTableOpen() ? store_.visibleCount() : 0;
}

QString StoreRows::FieldText(const QString& field) const {
    return store_.textAt(row_, field);
}

void StoreRows::RunEnded(int lastRow) {
    if (store_.visiblePosition() != lastRow)
        store_.moveToVisible(lastRow);
}

} // namespace vellumo::print
