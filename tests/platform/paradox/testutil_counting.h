// A file system that counts the reads of every file on its way to another
// one: tests see what opening or reading a table touches.
#pragma once

#include "testutil_nosync.h"
#include "testutil_passthrough.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testutil {

// Counts the reads of every file, to see what opening a table touches.
class CountingFileSystem final : public PassThroughFileSystem {
public:
    explicit CountingFileSystem(px::FileSystem& inner) : PassThroughFileSystem(inner) {}
    std::map<std::string, int> reads;

    std::unique_ptr<px::File> open(const std::string& path, px::OpenMode mode) override {
        return std::make_unique<NoSyncFile>(inner_.open(path, mode), &reads[path]);
    }
};

// Counts, per file, the bytes read, the write calls and the syncs on their
// way to another file system; syncs pass through, so timings include them.
class TrafficFileSystem final : public PassThroughFileSystem {
public:
    struct Traffic {
        std::uint64_t bytesRead = 0;
        std::uint64_t writeCalls = 0;
        std::uint64_t syncs = 0;
    };
    explicit TrafficFileSystem(px::FileSystem& inner) : PassThroughFileSystem(inner) {}
    std::map<std::string, Traffic> traffic;
    std::uint64_t directorySyncs = 0;
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
    void syncDirectory(const std::string& d) override {
        ++directorySyncs;
        inner_.syncDirectory(d);
    }

private:
    class CountedFile final : public PassThroughFile {
    public:
        CountedFile(std::unique_ptr<px::File> file, Traffic& traffic)
            : PassThroughFile(std::move(file)), traffic_(traffic) {}
        std::size_t read(std::uint64_t offset, void* buffer, std::size_t n) override {
            const std::size_t got = file_->read(offset, buffer, n);
            traffic_.bytesRead += got;
            return got;
        }
        void write(std::uint64_t offset, const void* data, std::size_t n) override {
            ++traffic_.writeCalls;
            file_->write(offset, data, n);
        }
        void sync() override {
            ++traffic_.syncs;
            file_->sync();
        }

    private:
        Traffic& traffic_;
    };
};

} // namespace testutil
