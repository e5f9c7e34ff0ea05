// Atomic changes of a table's files (.db, .px, .mb) through a rollback journal.
#pragma once

#include "paradox/io.h"

#include <memory>
#include <string>

namespace px {

class Journal {
public:
    // tablePath: the .db file; the journal lives beside it.
    Journal(FileSystem& fs, std::string tablePath);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Run before the first read of a table: rolls back a change that a crash
    // interrupted. Throws px::Error when recovery is needed but impossible
    // (for example a read-only directory).
    static void recover(FileSystem& fs, const std::string& tablePath);
    // True when a journal is left behind that needs recovery.
    static bool needsRecovery(FileSystem& fs, const std::string& tablePath);

    // Wraps a table file opened for writing: between begin() and commit() its
    // original bytes are saved in the journal before they are overwritten or
    // cut off. The wrapped file must outlive no Journal.
    std::unique_ptr<File> wrap(std::unique_ptr<File> file, const std::string& path);

    void begin();
    void commit();   // syncs the changed files, then the commit point
    void rollback(); // puts back what changed since begin()

    // After a failed write or sync the table refuses changes until reopened.
    bool isBroken() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace px
