#include "database/recordstore.h"

#include "paradox/table.h"

namespace vellumo {

struct RecordStore::Impl {};

RecordStore::RecordStore() : d(std::make_unique<Impl>()) {}
RecordStore::~RecordStore() = default;

} // namespace vellumo
