// Atomic changes of a table's files (.db, .px, .mb) through a rollback journal.
//
// Use on a table opened for writing:
//
//     auto lock = Journal::lockForWriting(fs, path);   // nullptr: another program writes it
//     Journal::recover(fs, path);                       // before the first read
//                                                       // (readers: recoverForReading)
//     Journal journal(fs, path);
//     auto db = journal.wrap(fs.open(path, OpenMode::ReadWrite), path);
//     journal.begin();
//     ... db->write(...) ...                            // kept in memory until commit
//     journal.commit();                                 // or rollback() on an exception
//
// Creating a table over an existing one runs as one transaction too: open the
// files with journal.open(path, OpenMode::Create) and drop stale companions
// with journal.remove(path); until commit() the old table stays restorable.
#pragma once

#include "platform/paradox/io.h"

#include <memory>
#include <string>
#include <vector>

namespace px {

class Journal {
public:
    // tablePath: the .db file; the journal lives beside it.
    Journal(FileSystem& fs, std::string tablePath);
    ~Journal(); // rolls back a transaction that is still open
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // The journal's file: "<tablePath>-journal". It exists (empty) while a
    // Journal that has committed a change lives.
    static std::string journalPath(const std::string& tablePath);
    // Takes the table's write lock (LockRange::Writer of its .db) for as
    // long as the returned object lives; nullptr when another program (or
    // another open table object of this program) holds it. Throws px::Error
    // when the .db cannot be opened.
    static std::unique_ptr<Lock> lockForWriting(FileSystem& fs, const std::string& tablePath);

    // Lets a reader see the table between commits: while the returned lock
    // lives no commit runs, and a journal a crashed writer left has been
    // played back. Waits for a commit in flight (at most kReaderWaitMs),
    // never for a writer's session. Throws px::Error when the wait runs out,
    // or when a running writer failed to put back a change it began.
    static std::unique_ptr<Lock> lockForReading(FileSystem& fs, const std::string& tablePath);
    // How long a reader waits for a commit in flight, and a commit for the
    // readers that were reading when it began, before giving up.
    static constexpr int kReaderWaitMs = 3000;
    static constexpr int kCommitWaitMs = 5000;

    // Run by a writer, holding the write lock, before the first read: rolls
    // back a change that a crash or a failed write interrupted. Throws
    // px::Error when recovery is needed but impossible (for example a
    // read-only directory); the files are then left as they are.
    static void recover(FileSystem& fs, const std::string& tablePath);
    // The same for a reader without the lock: a journal whose writer is still
    // running (it holds the lock) is left alone.
    static void recoverForReading(FileSystem& fs, const std::string& tablePath);
    // True when a complete journal is left behind (it needs recovery unless
    // its writer is still running).
    static bool needsRecovery(FileSystem& fs, const std::string& tablePath);
    // Before a table is replaced (caller holds the write lock): plays a
    // left-over journal back when it can, so the old table is whole should
    // the replacement be interrupted, and deletes it in any case.
    static void removeJournal(FileSystem& fs, const std::string& tablePath);
    // Replaces files of the table by whole files built elsewhere in its
    // folder (a table rebuilt beside it), or removes them (an empty source),
    // as one change: the originals are copied beside themselves ("~alt"),
    // then overwritten in place from the sources under the commit locks, so
    // a crash at any moment leaves the old files or the new ones and the next
    // open puts the old ones back. Memory stays at a chunk of a file however
    // large the files are. The caller holds the write lock and has run
    // recovery; the sources are left for the caller to remove.
    struct Replacement {
        std::string target; // a file of the table
        std::string source; // its new content; empty: the target goes
    };
    static void replaceFiles(FileSystem& fs, const std::string& tablePath,
                             const std::vector<Replacement>& changes);
    // The files beside a table that belong to it and must not meet a new table
    // of the same name: primary index, blobs, validity checks, secondary
    // indexes (.px .mb .val .xNN .yNN .xgN .ygN, in any case) and the journal.
    // The .db itself and the lock file are not listed. Paths as they exist.
    static std::vector<std::string> companionFiles(FileSystem& fs, const std::string& tablePath);

    // Wraps a table file opened for writing: between begin() and commit() its
    // writes stay in memory (reads see them), and commit() saves the original
    // bytes in the journal before any of them reaches the disk. Writing
    // outside a transaction throws. Wrapping the same path twice gives two
    // handles on one file. The Journal must outlive the handles' writes.
    std::unique_ptr<File> wrap(std::unique_ptr<File> file, const std::string& path);
    // Opens a table file inside the transaction. Create: the file reads as
    // empty at once, but is emptied (or created) on disk only at commit.
    std::unique_ptr<File> open(const std::string& path, OpenMode mode);
    // Deletes a table file at commit (restorable until then). No error when
    // the file is missing.
    void remove(const std::string& path);

    // Transactions do not nest: begin() inside a transaction throws.
    void begin();
    // Syncs the changed files, then the commit point; holds the table's
    // Pending and Readers ranges exclusively meanwhile, so readers see the
    // files before or after it. When the readers of the moment do not finish
    // within kCommitWaitMs it throws px::Error and nothing is written.
    void commit();
    void rollback(); // puts back what changed since begin()
    bool inTransaction() const;

    // After a failed write or sync the table refuses changes until reopened.
    bool isBroken() const;

private:
    struct Impl;
    std::shared_ptr<Impl> d;
};

} // namespace px
