// A file system and a file that pass every call on to others: the counting,
// sync-skipping and killing file systems of the tests and benchmarks derive
// from them and override only what they watch.
#pragma once

#include "platform/paradox/io.h"

#include <memory>
#include <string>
#include <vector>

namespace testutil {

class PassThroughFile : public px::File {
public:
    explicit PassThroughFile(std::unique_ptr<px::File> file) : file_(std::move(file)) {}
    std::size_t read(std::uint64_t offset, void* buffer, std::size_t n) override {
        return file_->read(offset, buffer, n);
    }
    void write(std::uint64_t offset, const void* data, std::size_t n) override {
        file_->write(offset, data, n);
    }
    std::uint64_t size() override { return file_->size(); }
    void truncate(std::uint64_t size) override { file_->truncate(size); }
    void sync() override { file_->sync(); }

protected:
    std::unique_ptr<px::File> file_;
};

class PassThroughFileSystem : public px::FileSystem {
public:
    explicit PassThroughFileSystem(px::FileSystem& inner = px::defaultFileSystem())
        : inner_(inner) {}
    std::unique_ptr<px::File> open(const std::string& path, px::OpenMode mode) override {
        return inner_.open(path, mode);
    }
    bool exists(const std::string& path) override { return inner_.exists(path); }
    void rename(const std::string& from, const std::string& to) override {
        inner_.rename(from, to);
    }
    void remove(const std::string& path) override { inner_.remove(path); }
    void syncDirectory(const std::string& directory) override { inner_.syncDirectory(directory); }
    std::vector<std::string> list(const std::string& directory) override {
        return inner_.list(directory);
    }
    std::unique_ptr<px::Lock> tryLock(const std::string& path, px::LockRange range,
                                      px::LockKind kind) override {
        return inner_.tryLock(path, range, kind);
    }
    bool stamp(const std::string& path, px::FileStamp& out) override {
        return inner_.stamp(path, out);
    }
    bool isDirectoryWritable(const std::string& directory) override {
        return inner_.isDirectoryWritable(directory);
    }

protected:
    px::FileSystem& inner_;
};

} // namespace testutil
