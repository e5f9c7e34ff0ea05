// The real file system without syncs: engine tests that make thousands of
// changes would otherwise spend their time waiting for the disk.
#pragma once

#include "testutil_passthrough.h"

namespace testutil {

// A file passed through unchanged except that syncs are skipped; reads are
// counted when the caller gives a counter.
class NoSyncFile final : public PassThroughFile {
public:
    explicit NoSyncFile(std::unique_ptr<px::File> file, int* reads = nullptr)
        : PassThroughFile(std::move(file)), reads_(reads) {}
    std::size_t read(std::uint64_t offset, void* buffer, std::size_t n) override {
        if (reads_)
            ++*reads_;
        return file_->read(offset, buffer, n);
    }
    void sync() override {}

private:
    int* reads_;
};

class NoSyncFileSystem final : public PassThroughFileSystem {
public:
    std::unique_ptr<px::File> open(const std::string& path, px::OpenMode mode) override {
        return std::make_unique<NoSyncFile>(inner_.open(path, mode));
    }
    void syncDirectory(const std::string&) override {}
};

} // namespace testutil
