// A file system that counts the reads of every file on its way to another
// one: tests see what opening or reading a table touches.
#pragma once

#include "platform/paradox/io.h"
#include "testutil_nosync.h"

#include <cstdint>
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

// Counts, per file, the bytes read, the write calls and the syncs on their
// way to another file system; syncs pass through, so timings include them.
class TrafficFileSystem final : public px::FileSystem {
public:
    struct Traffic {
        std::uint64_t bytesRead = 0;
        std::uint64_t writeCalls = 0;
        std::uint64_t syncs = 0;
    };
    explicit TrafficFileSystem(px::FileSystem& inner) : inner_(inner) {}
    std::map<std::string, Traffic> traffic;
    // The sum over the files whose name ends in suffix (".mb").
    Traffic of(const std::string& suffix) const {
        Traffic sum;
        for (const auto& [path, t] : traffic)
            if (path.size() >= suffix.size() &&
                path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
                sum.bytesRead += t.bytesRead;
                sum.writeCalls += t.writeCalls;
                sum.syncs += t.syncs;
            }
        return sum;
    }

    std::unique_ptr<px::File> open(const std::string& path, px::OpenMode mode) override {
        return std::make_unique<CountedFile>(inner_.open(path, mode), traffic[path]);
    }
    bool exists(const std::string& path) override { return inner_.exists(path); }
    void rename(const std::string& from, const std::string& to) override {
        inner_.rename(from, to);
    }
    void remove(const std::string& path) override { inner_.remove(path); }
    void syncDirectory(const std::string& d) override {
        ++directorySyncs;
        inner_.syncDirectory(d);
    }
    std::uint64_t directorySyncs = 0;
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
    class CountedFile final : public px::File {
    public:
        CountedFile(std::unique_ptr<px::File> file, Traffic& traffic)
            : file_(std::move(file)), traffic_(traffic) {}
        std::size_t read(std::uint64_t offset, void* buffer, std::size_t n) override {
            const std::size_t got = file_->read(offset, buffer, n);
            traffic_.bytesRead += got;
            return got;
        }
        void write(std::uint64_t offset, const void* data, std::size_t n) override {
            ++traffic_.writeCalls;
            file_->write(offset, data, n);
        }
        std::uint64_t size() override { return file_->size(); }
        void truncate(std::uint64_t size) override { file_->truncate(size); }
        void sync() override {
            ++traffic_.syncs;
            file_->sync();
        }

    private:
        std::unique_ptr<px::File> file_;
        Traffic& traffic_;
    };
    px::FileSystem& inner_;
};

} // namespace testutil
