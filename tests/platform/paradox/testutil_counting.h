// A file system that counts the reads of every file on its way to another
// one: tests see what opening or reading a table touches.
#pragma once

#include "platform/paradox/io.h"
#include "testutil_nosync.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testutil {

// Counts the reads of every file, to see what opening a table touches.
class CountingFileSystem final : public px::FileSystem {
public:
    explicit CountingFileSystem(px::FileSystem& inner) : inner_(inner) {}
    std::map<std::string, int> reads;

    std::unique_ptr<px::File> open(const std::string& path, px::OpenMode mode) override {
        return std::make_unique<NoSyncFile>(inner_.open(path, mode), &reads[path]);
    }
    bool exists(const std::string& path) override { return inner_.exists(path); }
    void rename(const std::string& from, const std::string& to) override {
        inner_.rename(from, to);
    }
    void remove(const std::string& path) override { inner_.remove(path); }
    void syncDirectory(const std::string& d) override { inner_.syncDirectory(d); }
    std::vector<std::string> list(const std::string& d) override { return inner_.list(d); }
    std::unique_ptr<px::Lock> tryLock(const std::string& path, px::LockRange range,
                                      px::LockKind kind) override {
        return inner_.tryLock(path, range, kind);
    }
    bool stamp(const std::string& path, px::FileStamp& out) override {
        return inner_.stamp(path, out);
    }
    bool isDirectoryWritable(const std::string& d) override {
        return inner_.isDirectoryWritable(d);
    }

private:
    px::FileSystem& inner_;
};

} // namespace testutil
