#include "platform/database/datasource.h"

namespace vellumo {

DataSource::DataSource(RecordStore& store, QObject* parent)
    : QObject(parent), store_(store),
      changes_(store.subscribeChanges(
          [this](unsigned changes, const QString& field) { deliver(changes, field); })) {}

DataSource::~DataSource() {
    changes_.reset();
    for (auto it = boundFields_.cbegin(); it != boundFields_.cend(); ++it)
        for (int i = 0; i < it.value(); ++i)
            store_.releaseField(it.key());
}

void DataSource::bindField(const QString& field) {
    // The store refuses a field the open table lacks before anything is counted.
    store_.requireField(field);
    ++boundFields_[field.toLower()];
}

void DataSource::unbindField(const QString& field) {
    auto it = boundFields_.find(field.toLower());
    if (it == boundFields_.end())
        return;
    store_.releaseField(field);
    if (--it.value() == 0)
        boundFields_.erase(it);
}

void DataSource::deliver(unsigned changes, const QString& field) {
    // Grids rebuild first, so that a control following currentChanged finds
    // the rows already in place.
    if (changes & RecordsChange)
        emit recordsChanged();
    if (changes & StateChange)
        emit stateChanged(store_.state());
    if (changes & CurrentChange)
        emit currentChanged();
    else if (changes & DataChange)
        emit dataChanged(field);
}

} // namespace vellumo
