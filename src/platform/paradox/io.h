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

// An advisory lock held for as long as the object lives.
class Lock {
public:
    virtual ~Lock() = default;
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
    // Returns nullptr, without waiting, when another process holds a conflicting lock.
    // An exclusive lock's file exists only while it is held: it is created
    // here and removed when the lock goes.
    virtual std::unique_ptr<Lock> tryLock(const std::string& path, LockKind kind) = 0;
    // True when new files can be created in the directory.
    virtual bool isDirectoryWritable(const std::string& directory) = 0;
};

// The real file system of this machine (POSIX calls).
FileSystem& defaultFileSystem();

// Path helpers shared by the engine.
std::string directoryOf(const std::string& path); // "." when the path has none
std::string fileNameOf(const std::string& path);
// Finds "base + ext" in the directory of base whatever the case of ext
// (".px" finds "NAME.PX"); returns the path as it exists, or "" when missing.
std::string findCompanion(FileSystem& fs, const std::string& tablePath, const std::string& ext);

} // namespace px
