// Placeholder: passes writes straight through until the journal lands.
#include "paradox/journal.h"

namespace px {

struct Journal::Impl {
    FileSystem& fs;
    std::string tablePath;
    bool broken = false;
};

Journal::Journal(FileSystem& fs, std::string tablePath)
    : d(std::make_unique<Impl>(Impl{fs, std::move(tablePath)})) {}
Journal::~Journal() = default;

void Journal::recover(FileSystem&, const std::string&) {}
bool Journal::needsRecovery(FileSystem&, const std::string&) { return false; }
std::unique_ptr<File> Journal::wrap(std::unique_ptr<File> file, const std::string&) {
    return file;
}
void Journal::begin() {}
void Journal::commit() {}
void Journal::rollback() {}
bool Journal::isBroken() const { return d->broken; }

} // namespace px
