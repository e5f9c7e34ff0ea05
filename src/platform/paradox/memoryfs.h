// A file system in memory: a table can be built, changed and opened without
// touching the disk (a restructure builds its new table there; engine tests,
// the fuzzer and the benchmark build tables from bytes and damage them).
#pragma once

#include "platform/paradox/error.h"
#include "platform/paradox/io.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace px {

class MemoryFileSystem : public FileSystem {
public:
    using Bytes = std::vector<std::uint8_t>;

    void put(const std::string& path, Bytes bytes) {
        ++*changes_;
        files_[path] = std::make_shared<Bytes>(std::move(bytes));
    }
    void put(const std::string& path, const std::uint8_t* data, std::size_t n) {
        put(path, Bytes(data, data + n));
    }
    // The bytes of a file, or nullptr when it is missing.
    const Bytes* get(const std::string& path) const {
        auto it = files_.find(path);
        return it == files_.end() ? nullptr : it->second.get();
    }
    // The bytes of an existing file, to damage them in place.
    Bytes& bytes(const std::string& path) { return *files_.at(path); }
    void clear() { files_.clear(); }

    std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
        auto it = files_.find(path);
        if (mode == OpenMode::Create) {
            ++*changes_;
            auto data = std::make_shared<Bytes>();
            files_[path] = data;
            return std::make_unique<MemoryFile>(data, true, changes_);
        }
        if (it == files_.end())
            throw Error("Die Datei kann nicht geöffnet werden: \"" + path +
                        "\": Die Datei existiert nicht");
        return std::make_unique<MemoryFile>(it->second, mode == OpenMode::ReadWrite, changes_);
    }
    bool exists(const std::string& path) override { return files_.count(path) != 0; }
    void rename(const std::string& from, const std::string& to) override {
        auto it = files_.find(from);
        if (it == files_.end())
            throw Error("Die Datei kann nicht umbenannt werden: \"" + from + "\"");
        auto data = it->second;
        ++*changes_;
        files_.erase(it);
        files_[to] = data;
    }
    void remove(const std::string& path) override {
        ++*changes_;
        files_.erase(path);
    }
    void syncDirectory(const std::string&) override {}
    std::vector<std::string> list(const std::string& directory) override {
        std::vector<std::string> names;
        for (const auto& [path, data] : files_)
            if (directoryOf(path) == directory)
                names.push_back(fileNameOf(path));
        return names;
    }
    std::unique_ptr<Lock> tryLock(const std::string&, LockRange, LockKind) override {
        return std::make_unique<Lock>();
    }
    bool isDirectoryWritable(const std::string&) override { return true; }
    // Any change anywhere changes every stamp: readers read again more often
    // than needed, never less.
    bool stamp(const std::string& path, FileStamp& out) override {
        out = FileStamp{};
        auto it = files_.find(path);
        if (it != files_.end()) {
            out.exists = true;
            out.size = it->second->size();
            out.changedNanoseconds = static_cast<std::int64_t>(*changes_);
        }
        return true;
    }

private:
    class MemoryFile : public File {
    public:
        MemoryFile(std::shared_ptr<Bytes> data, bool writable,
                   std::shared_ptr<std::uint64_t> changes)
            : data_(std::move(data)), writable_(writable), changes_(std::move(changes)) {}
        std::size_t read(std::uint64_t offset, void* buffer, std::size_t n) override {
            if (offset >= data_->size())
                return 0;
            const std::size_t got =
                std::min<std::uint64_t>(n, data_->size() - static_cast<std::size_t>(offset));
            std::memcpy(buffer, data_->data() + offset, got);
            return got;
        }
        void write(std::uint64_t offset, const void* data, std::size_t n) override {
            if (!writable_)
                throw Error("Schreibfehler: die Datei ist nur zum Lesen geöffnet");
            ++*changes_;
            if (offset + n > data_->size())
                data_->resize(static_cast<std::size_t>(offset + n));
            std::memcpy(data_->data() + offset, data, n);
        }
        std::uint64_t size() override { return data_->size(); }
        void truncate(std::uint64_t size) override {
            if (!writable_)
                throw Error("Schreibfehler: die Datei ist nur zum Lesen geöffnet");
            ++*changes_;
            data_->resize(static_cast<std::size_t>(size));
        }
        void sync() override {}

    private:
        std::shared_ptr<Bytes> data_;
        bool writable_;
        std::shared_ptr<std::uint64_t> changes_;
    };

    std::map<std::string, std::shared_ptr<Bytes>> files_;
    std::shared_ptr<std::uint64_t> changes_ = std::make_shared<std::uint64_t>(0);
};

} // namespace px
