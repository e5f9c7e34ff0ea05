#include "faultfs.h"

#include "platform/paradox/error.h"

#include <algorithm>
#include <random>

namespace faultfs {

class FaultFile final : public px::File {
public:
    FaultFile(FaultFileSystem& fs, std::unique_ptr<px::File> file, std::string path, int inode)
        : fs_(fs), file_(std::move(file)), path_(std::move(path)), inode_(inode) {}

    std::size_t read(std::uint64_t offset, void* buffer, std::size_t n) override {
        fs_.checkAlive();
        return file_->read(offset, buffer, n);
    }
    void write(std::uint64_t offset, const void* data, std::size_t n) override {
        fs_.beforeChange(path_, offset + n > file_->size());
        file_->write(offset, data, n);
    }
    std::uint64_t size() override {
        fs_.checkAlive();
        return file_->size();
    }
    void truncate(std::uint64_t size) override {
        fs_.beforeChange(path_, size > file_->size());
        file_->truncate(size);
    }
    // Durability is modelled here; the disk's own sync would only cost time.
    void sync() override {
        fs_.beforeChange(path_);
        if (inode_ >= 0)
            fs_.synced(inode_);
    }

private:
    FaultFileSystem& fs_;
    std::unique_ptr<px::File> file_;
    std::string path_;
    int inode_;
};

FaultFileSystem::FaultFileSystem(px::FileSystem& real, bool modelDurability)
    : real_(real), modelling_(modelDurability) {}
FaultFileSystem::~FaultFileSystem() = default;

void FaultFileSystem::failAt(int n) {
    count_ = 0;
    failAt_ = n;
}
void FaultFileSystem::diskFullAt(int n) {
    count_ = 0;
    diskFullAt_ = n;
}
void FaultFileSystem::crashAt(int n) {
    count_ = 0;
    crashAt_ = n;
}

void FaultFileSystem::checkAlive() const {
    if (crashed_)
        throw Crash();
}

void FaultFileSystem::beforeChange(const std::string& path, bool grows) {
    checkAlive();
    ++count_;
    if (crashAt_ > 0 && count_ >= crashAt_) {
        crashed_ = true;
        throw Crash();
    }
    if (failAt_ > 0 && count_ == failAt_)
        throw px::Error("Schreibfehler in \"" + path + "\": Ein-/Ausgabefehler");
    if (diskFullAt_ > 0 && count_ >= diskFullAt_ && grows)
        throw px::Error("Schreibfehler in \"" + path + "\": Der Datenträger ist voll");
}

FaultFileSystem::Bytes FaultFileSystem::readReal(const std::string& path) {
    auto file = real_.open(path, px::OpenMode::ReadOnly);
    Bytes bytes(static_cast<std::size_t>(file->size()));
    bytes.resize(file->read(0, bytes.data(), bytes.size()));
    return bytes;
}

void FaultFileSystem::writeReal(const std::string& path, const Bytes& bytes) {
    auto file = real_.open(path, px::OpenMode::Create);
    file->write(0, bytes.data(), bytes.size());
}

// The first time a path is changed, what is on disk counts as durable.
void FaultFileSystem::track(const std::string& path) {
    if (!modelling_ || current_.count(path))
        return;
    int inode = -1;
    if (real_.exists(path)) {
        inode = static_cast<int>(durableContent_.size());
        durableContent_.push_back(readReal(path));
    }
    current_[path] = durable_[path] = inode;
}

void FaultFileSystem::synced(int inode) {
    if (!modelling_)
        return;
    for (const auto& [path, id] : current_)
        if (id == inode) {
            durableContent_[static_cast<std::size_t>(inode)] = readReal(path);
            return;
        }
}

std::unique_ptr<px::File> FaultFileSystem::open(const std::string& path, px::OpenMode mode) {
    checkAlive();
    if (mode == px::OpenMode::ReadOnly) {
        const auto it = current_.find(path);
        return std::make_unique<FaultFile>(*this, real_.open(path, mode), path,
                                           it == current_.end() ? -1 : it->second);
    }
    if (!modelling_) {
        if (mode == px::OpenMode::Create)
            beforeChange(path, !real_.exists(path));
        return std::make_unique<FaultFile>(*this, real_.open(path, mode), path, -1);
    }
    track(path);
    if (mode == px::OpenMode::Create) {
        const bool creates = current_[path] < 0;
        beforeChange(path, creates);
        auto file = real_.open(path, mode);
        if (creates) {
            current_[path] = static_cast<int>(durableContent_.size());
            durableContent_.emplace_back();
        }
        return std::make_unique<FaultFile>(*this, std::move(file), path, current_[path]);
    }
    auto file = real_.open(path, mode);
    return std::make_unique<FaultFile>(*this, std::move(file), path, current_[path]);
}

bool FaultFileSystem::exists(const std::string& path) {
    checkAlive();
    return real_.exists(path);
}

void FaultFileSystem::rename(const std::string& from, const std::string& to) {
    checkAlive();
    track(from);
    track(to);
    beforeChange(from);
    real_.rename(from, to);
    if (modelling_) {
        current_[to] = current_[from];
        current_[from] = -1;
    }
}

void FaultFileSystem::remove(const std::string& path) {
    checkAlive();
    track(path);
    beforeChange(path);
    real_.remove(path);
    if (modelling_)
        current_[path] = -1;
}

void FaultFileSystem::syncDirectory(const std::string& directory) {
    beforeChange(directory);
    for (const auto& [path, inode] : current_)
        if (px::directoryOf(path) == directory)
            durable_[path] = inode;
}

std::vector<std::string> FaultFileSystem::list(const std::string& directory) {
    checkAlive();
    return real_.list(directory);
}

std::unique_ptr<px::Lock> FaultFileSystem::tryLock(const std::string& path, px::LockRange range,
                                                   px::LockKind kind) {
    checkAlive();
    return real_.tryLock(path, range, kind);
}

bool FaultFileSystem::isDirectoryWritable(const std::string& directory) {
    checkAlive();
    return directoriesWritable_ && real_.isDirectoryWritable(directory);
}

void FaultFileSystem::powerLoss(AfterCrash mode, unsigned seed) {
    crashed_ = false;
    crashAt_ = failAt_ = diskFullAt_ = 0;
    if (mode != AfterCrash::KeepWritten) {
        std::mt19937 random(seed);
        auto coin = [&] { return mode == AfterCrash::LoseUnsynced || (random() & 1) != 0; };
        // Gather first: two paths may share an inode after a rename.
        std::map<std::string, Bytes> now;
        for (const auto& [path, inode] : current_)
            if (inode >= 0)
                now[path] = readReal(path);
        for (const auto& [path, durableInode] : durable_) {
            const int currentInode = current_[path];
            const bool oldEntry = coin();
            const int inode = oldEntry ? durableInode : currentInode;
            if (inode < 0) {
                real_.remove(path);
                continue;
            }
            const Bytes& old = durableContent_[static_cast<std::size_t>(inode)];
            const auto live = std::find_if(current_.begin(), current_.end(),
                                           [&](const auto& e) { return e.second == inode; });
            if (mode == AfterCrash::LoseUnsynced || live == current_.end()) {
                writeReal(path, old);
                continue;
            }
            // Unsynced pages and the size reach the disk in any order.
            const Bytes& fresh = now[live->first];
            Bytes mixed(coin() ? old.size() : fresh.size(), 0);
            for (std::size_t at = 0; at < mixed.size(); at += 4096) {
                const Bytes& from = coin() ? old : fresh;
                for (std::size_t i = at; i < std::min(mixed.size(), at + 4096); ++i)
                    mixed[i] = i < from.size() ? from[i] : 0;
            }
            writeReal(path, mixed);
        }
    }
    current_.clear();
    durable_.clear();
    durableContent_.clear();
}

} // namespace faultfs
