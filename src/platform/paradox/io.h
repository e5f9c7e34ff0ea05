// File access of the table engine.
//
// Every byte the engine reads or writes goes through these two interfaces, so
// tests can swap in a file system that fails or "crashes" after the N-th write
// or sync, and the journal can sit between the engine and the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace px {

class File {
public:
    virtual ~File() = default;
    // Reads up to n bytes at offset; returns how many were read (fewer at end of file).
    virtual std::size_t read(std::uint64_t offset, void* buffer, std::size_t n) = 0;
    virtual void write(std::uint64_t offset, const void* data, std::size_t n) = 0;
    virtual std::uint64_t size() = 0;
    virtual void truncate(std::uint64_t size) = 0;
    virtual void sync() = 0;
};

enum class OpenMode {
    ReadOnly,  // the file must exist
    ReadWrite, // the file must exist
    Create,    // created empty, or emptied when it exists
};

enum class LockKind { Shared, Exclusive };

// The locks of a table are byte ranges of its .db file, far beyond any byte a
// Paradox file can have (it stays below 4 GiB), so no file that is deleted,
// replaced or closed anywhere can take a lock away, and no lock file is ever
// left beside a table:
//  - Writer: held exclusively by the one program that has the table open
//    for writing, for as long as it has it open;
//  - Pending, Readers: a commit holds both exclusively; a reader holds
//    Readers shared while it reads, and Pending shared only while taking it
//    (so a waiting commit keeps new readers out and is never starved);
//  - Waiting: a reader holds it shared while it waits for a commit in flight,
//    and a writer takes it exclusively for a moment before its next commit,
//    so a writer saving in a loop lets a waiting reader in between.
enum class LockRange { Writer, Pending, Readers, Waiting };

// An advisory lock held for as long as the object lives.
class Lock {
public:
    virtual ~Lock() = default;
    // False when the locked file is no longer the one at its path (deleted,
    // or replaced by another file of that name): a lock on it keeps nobody
    // out of the file there now.
    virtual bool stillOnDisk() { return true; }
};

// What tells one state of a file from the next: its identity, its size and
// the time of its last change (which the system sets on every write).
struct FileStamp {
    bool exists = false;
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t changedSeconds = 0, changedNanoseconds = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Throws px::Error (with a German message) when the file cannot be opened.
    virtual std::unique_ptr<File> open(const std::string& path, OpenMode mode) = 0;
    virtual bool exists(const std::string& path) = 0;
    virtual void rename(const std::string& from, const std::string& to) = 0;
    virtual void remove(const std::string& path) = 0; // no error when the file is missing
    virtual void syncDirectory(const std::string& directory) = 0;
    // Names (without directory) of the entries of a directory.
    virtual std::vector<std::string> list(const std::string& directory) = 0;
    // Locks a range of the existing file at path (a table's .db). Returns
    // nullptr, without waiting, when a conflicting lock is held: by another
    // process, or by another lock object of this one (the locks belong to
    // the lock object, not to the process). Throws px::Error when the file
    // cannot be opened or locked at all.
    virtual std::unique_ptr<Lock> tryLock(const std::string& path, LockRange range,
                                          LockKind kind) = 0;
    // The stamp of the file at path (exists false when there is none); false
    // when this file system cannot tell, and a reader must assume a change.
    virtual bool stamp(const std::string& path, FileStamp& out) {
        (void)path;
        (void)out;
        return false;
    }
    // True when new files can be created in the directory.
    virtual bool isDirectoryWritable(const std::string& directory) = 0;
};

// The real file system of this machine (POSIX calls).
FileSystem& defaultFileSystem();

// German text of a system error number ("Der Datenträger ist voll").
std::string systemErrorText(int error);

// Path helpers shared by the engine.
std::string directoryOf(const std::string& path); // "." when the path has none
std::string fileNameOf(const std::string& path);
// Finds "base + ext" in the directory of base whatever the case of ext
// (".px" finds "NAME.PX"); returns the path as it exists, or "" when missing.
std::string findCompanion(FileSystem& fs, const std::string& tablePath, const std::string& ext);

} // namespace px
