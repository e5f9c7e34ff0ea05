// The real file system without syncs: engine tests that make thousands of
// changes would otherwise spend their time waiting for the disk.
#pragma once

#include "platform/paradox/io.h"

#include <memory>
#include <string>
#include <vector>

namespace testutil {

// A file passed through unchanged except that syncs are skipped; reads are
// counted when the caller gives a counter.
class NoSyncFile final : public px::File {
public:
    explicit NoSyncFile(std::unique_ptr<px::File> file, int* reads = nullptr)
        : file_(std::move(file)), reads_(reads) {}
    std::size_t read(std::uint64_t offset, void* buffer, std::size_t n) override {
        if (reads_)
            ++*reads_;
        return file_->read(offset, buffer, n);
    }
    void write(std::uint64_t offset, const void* data, std::size_t n) override {
        file_->write(offset, data, n);
    }
    std::uint64_t size() override { return file_->size(); }
    void truncate(std::uint64_t size) override { file_->truncate(size); }
    void sync() override {}

private:
    std::unique_ptr<px::File> file_;
    int* reads_;
};

class NoSyncFileSystem final : public px::FileSystem {
public:
    std::unique_ptr<px::File> open(const std::string& path, px::OpenMode mode) override {
        return std::make_unique<NoSyncFile>(inner().open(path, mode));
    }
    bool exists(const std::string& path) override { return inner().exists(path); }
    void rename(const std::string& from, const std::string& to) override {
        inner().rename(from, to);
    }
    void remove(const std::string& path) override { inner().remove(path); }
    void syncDirectory(const std::string&) override {}
    std::vector<std::string> list(const std::string& directory) override {
        return inner().list(directory);
    }
    std::unique_ptr<px::Lock> tryLock(const std::string& path, px::LockRange range,
                                      px::LockKind kind) override {
        return inner().tryLock(path, range, kind);
    }
    bool stamp(const std::string& path, px::FileStamp& out) override {
        return inner().stamp(path, out);
    }
    bool isDirectoryWritable(const std::string& directory) override {
        return inner().isDirectoryWritable(directory);
    }

private:
    static px::FileSystem& inner() { return px::defaultFileSystem(); }
};

} // namespace testutil
