#include "platform/paradox/io.h"

#include "platform/paradox/error.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace px {
namespace {

// Whether the directory a path names its file in is missing (ENOENT says
// only that some part of the path is).
bool directoryMissing(const std::string& path) {
    const std::string::size_type slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0)
        return false;
    struct stat info {};
    return ::stat(path.substr(0, slash).c_str(), &info) != 0 || !S_ISDIR(info.st_mode);
}

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    const int err = errno;
    const std::string reason = err == ENOENT && directoryMissing(path)
                                   ? std::string("Das Verzeichnis existiert nicht")
                                   : systemErrorText(err);
    throw Error(what + " \"" + path + "\": " + reason);
}

class PosixFile final : public File {
public:
    PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixFile() override { ::close(fd_); }

    std::size_t read(std::uint64_t offset, void* buffer, std::size_t n) override {
        auto* out = static_cast<char*>(buffer);
        std::size_t done = 0;
        while (done < n) {
            const ssize_t got =
                ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                fail("Lesefehler in", path_);
            }
            if (got == 0)
                break;
            done += static_cast<std::size_t>(got);
        }
        return done;
    }

    void write(std::uint64_t offset, const void* data, std::size_t n) override {
        const auto* in = static_cast<const char*>(data);
        std::size_t done = 0;
        while (done < n) {
            const ssize_t put =
                ::pwrite(fd_, in + done, n - done, static_cast<off_t>(offset + done));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                fail("Schreibfehler in", path_);
            }
            done += static_cast<std::size_t>(put);
        }
    }

    std::uint64_t size() override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0)
            fail("Lesefehler in", path_);
        return static_cast<std::uint64_t>(st.st_size);
    }

    void truncate(std::uint64_t size) override {
        if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
            fail("Schreibfehler in", path_);
    }

    void sync() override {
        if (::fsync(fd_) != 0)
            fail("Schreibfehler in", path_);
    }

private:
    int fd_;
    std::string path_;
};

// Where the lock ranges start: no Paradox file reaches 4 GiB, so no reader or
// writer of any Paradox tool ever touches these bytes.
constexpr off_t kLockBase = off_t(1) << 40;

bool sameFile(int fd, const std::string& path) {
    struct stat held {
    }, onDisk{};
    return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &onDisk) == 0 &&
           held.st_dev == onDisk.st_dev && held.st_ino == onDisk.st_ino;
}

// An open file description lock: it belongs to this descriptor alone, so
// closing another descriptor of the file (the table's own, or one a library
// opens) drops nothing, and a second lock object of this process conflicts
// like another program.
class PosixLock final : public Lock {
public:
    PosixLock(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixLock() override { ::close(fd_); } // closing releases the lock
    bool stillOnDisk() override { return sameFile(fd_, path_); }

private:
    int fd_;
    std::string path_;
};

class PosixFileSystem final : public FileSystem {
public:
    std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
        int flags = O_CLOEXEC;
        switch (mode) {
        case OpenMode::ReadOnly:
            flags |= O_RDONLY;
            break;
        case OpenMode::ReadWrite:
            flags |= O_RDWR;
            break;
        case OpenMode::Create:
            flags |= O_RDWR | O_CREAT | O_TRUNC;
            break;
        }
        const int fd = ::open(path.c_str(), flags, 0666);
        if (fd < 0)
            fail("Die Datei kann nicht geöffnet werden:", path);
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            throw Error("Die Datei kann nicht geöffnet werden: \"" + path +
                        "\" ist ein Verzeichnis");
        }
        return std::make_unique<PosixFile>(fd, path);
    }

    bool exists(const std::string& path) override {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0;
    }

    void rename(const std::string& from, const std::string& to) override {
        if (::rename(from.c_str(), to.c_str()) != 0)
            fail("Die Datei kann nicht umbenannt werden:", from);
    }

    void remove(const std::string& path) override {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            fail("Die Datei kann nicht gelöscht werden:", path);
    }

    void syncDirectory(const std::string& directory) override {
        const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            fail("Das Verzeichnis kann nicht geöffnet werden:", directory);
        const int rc = ::fsync(fd);
        const int err = errno;
        ::close(fd);
        errno = err;
        if (rc != 0 && errno != EINVAL) // some file systems cannot sync directories
            fail("Schreibfehler im Verzeichnis", directory);
    }

    std::vector<std::string> list(const std::string& directory) override {
        std::vector<std::string> names;
        DIR* dir = ::opendir(directory.c_str());
        if (!dir)
            return names;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
        return names;
    }

    std::unique_ptr<Lock> tryLock(const std::string& path, LockRange range,
                                  LockKind kind) override {
        const bool exclusive = kind == LockKind::Exclusive;
        const int fd = ::open(path.c_str(), (exclusive ? O_RDWR : O_RDONLY) | O_CLOEXEC);
        if (fd < 0)
            fail("Die Tabelle kann nicht gesperrt werden:", path);
        struct flock lock {};
        lock.l_type = exclusive ? F_WRLCK : F_RDLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = kLockBase + static_cast<off_t>(range);
        lock.l_len = 1;
        if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
            const int err = errno;
            ::close(fd);
            if (err == EAGAIN || err == EACCES)
                return nullptr;
            errno = err;
            fail("Die Tabelle kann nicht gesperrt werden:", path);
        }
        return std::make_unique<PosixLock>(fd, path);
    }

    bool stamp(const std::string& path, FileStamp& out) override {
        struct stat st {};
        out = FileStamp{};
        if (::stat(path.c_str(), &st) != 0)
            return errno == ENOENT;
        out.exists = true;
        out.device = st.st_dev;
        out.inode = st.st_ino;
        out.size = static_cast<std::uint64_t>(st.st_size);
        out.changedSeconds = st.st_ctim.tv_sec;
        out.changedNanoseconds = st.st_ctim.tv_nsec;
        return true;
    }

    bool isDirectoryWritable(const std::string& directory) override {
        return ::access(directory.c_str(), W_OK | X_OK) == 0;
    }
};

} // namespace

std::string systemErrorText(int err) {
    // The system's own texts are English; these are the ones a user meets.
    switch (err) {
    case ENOENT:
        return "Die Datei existiert nicht";
    case ENOTDIR:
        return "Das Verzeichnis existiert nicht";
    case EACCES:
    case EPERM:
        return "Zugriff verweigert";
    case EROFS:
        return "Der Datenträger ist schreibgeschützt";
    case ENOSPC:
    case EDQUOT:
        return "Der Datenträger ist voll";
    case EFBIG:
        return "Die Datei würde zu groß";
    case EISDIR:
        return "Das Ziel ist ein Verzeichnis";
    case ENAMETOOLONG:
        return "Der Dateiname ist zu lang";
    case EMFILE:
    case ENFILE:
        return "Zu viele Dateien geöffnet";
    case EIO:
        return "Ein-/Ausgabefehler des Datenträgers";
    case EPIPE:
        return "Der Empfänger hat die Ausgabe geschlossen";
    case ENOMEM:
        return "Nicht genug Arbeitsspeicher";
    default:
        return "Systemfehler " + std::to_string(err) + " (" + std::strerror(err) + ")";
    }
}

FileSystem& defaultFileSystem() {
    static PosixFileSystem fs;
    return fs;
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string fileNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string findCompanion(FileSystem& fs, const std::string& tablePath, const std::string& ext) {
    std::string base = fileNameOf(tablePath);
    const auto dot = base.find_last_of('.');
    if (dot != std::string::npos)
        base.resize(dot);
    const std::string dir = directoryOf(tablePath);
    auto lower = [](std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return s;
    };
    const std::string wanted = lower(base + ext);
    const std::string exact = base + ext;
    std::string found;
    for (const std::string& name : fs.list(dir)) {
        if (name == exact)
            return dir == "." && tablePath.find('/') == std::string::npos ? name : dir + "/" + name;
        if (found.empty() && lower(name) == wanted)
            found = name;
    }
    if (found.empty())
        return {};
    return dir == "." && tablePath.find('/') == std::string::npos ? found : dir + "/" + found;
}

} // namespace px
