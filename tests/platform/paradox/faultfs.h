// A file system for tests that fails, or "crashes", after the N-th change.
//
// It passes everything to the real file system and keeps, beside it, what a
// power cut would leave: the content of every file as of its last sync and
// the directory entries as of the last directory sync. After a crash,
// powerLoss() puts the disk into such a state.
//
// Counted operations: write, truncate, sync, directory sync, and the entry
// changes open(Create), remove and rename.
#pragma once

#include "platform/paradox/io.h"

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace faultfs {

// Thrown by every operation from the crash point on: the program is "dead".
class Crash : public std::runtime_error {
public:
    Crash() : std::runtime_error("simulated crash") {}
};

enum class AfterCrash {
    KeepWritten,  // the process died, the machine did not: everything written stays
    LoseUnsynced, // power cut: files as of their last sync, entries as of the last directory sync
    Scramble,     // power cut with the disk's write-back in any order: every unsynced page,
                  // size and entry independently old or new
};

class FaultFileSystem final : public px::FileSystem {
public:
    // modelDurability false: only skips the syncs (for fast set-up of tests);
    // powerLoss() then has nothing to go back to.
    explicit FaultFileSystem(px::FileSystem& real = px::defaultFileSystem(),
                             bool modelDurability = true);
    ~FaultFileSystem() override;

    // The n-th counted operation from now on (1-based) throws px::Error as
    // an I/O error would and is not carried out; later ones work again.
    void failAt(int n);
    // From the n-th counted operation on, the disk is full: every write that
    // would grow a file and every creation of a file fails with px::Error.
    void diskFullAt(int n);
    // The n-th counted operation and all after it throw Crash.
    void crashAt(int n);
    // The disk after the crash; then the file system works again with no
    // fault set. seed chooses the mix for Scramble.
    void powerLoss(AfterCrash mode, unsigned seed = 0);
    // For tests of a directory that cannot be written.
    void setDirectoriesWritable(bool writable) { directoriesWritable_ = writable; }

    int operations() const { return count_; }
    bool crashed() const { return crashed_; }

    std::unique_ptr<px::File> open(const std::string& path, px::OpenMode mode) override;
    bool exists(const std::string& path) override;
    void rename(const std::string& from, const std::string& to) override;
    void remove(const std::string& path) override;
    void syncDirectory(const std::string& directory) override;
    std::vector<std::string> list(const std::string& directory) override;
    std::unique_ptr<px::Lock> tryLock(const std::string& path, px::LockRange range,
                                      px::LockKind kind) override;
    bool isDirectoryWritable(const std::string& directory) override;

    // Used by the files it hands out.
    void beforeChange(const std::string& path, bool grows = false);
    void synced(int inode);
    void checkAlive() const;

private:
    using Bytes = std::vector<std::uint8_t>;
    void track(const std::string& path);
    Bytes readReal(const std::string& path);
    void writeReal(const std::string& path, const Bytes& bytes);

    px::FileSystem& real_;
    int count_ = 0;
    int failAt_ = 0;
    int diskFullAt_ = 0;
    int crashAt_ = 0;
    bool crashed_ = false;
    bool directoriesWritable_ = true;
    bool modelling_ = true;

    std::vector<Bytes> durableContent_;  // by inode
    std::map<std::string, int> current_; // path -> inode, -1 when absent
    std::map<std::string, int> durable_; // path -> inode, -1 when absent

    friend class FaultFile;
};

} // namespace faultfs
