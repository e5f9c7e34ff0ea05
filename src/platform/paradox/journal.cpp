// The rollback journal of a table.
//
// Invariants (what every crash point relies on):
//
//  1. Between begin() and commit() nothing of a table file changes on disk:
//     writes, truncations, creations and removals live in memory (4 KiB pages
//     per file, plus its logical size and existence). Reads see them. A
//     rollback before commit is therefore free and cannot fail.
//  2. commit() writes the journal "<table>-journal" in one piece: a header
//     with a checksum over the whole file, the list of the changed files
//     (name, whether it existed, original size) and the original content of
//     every span that will be overwritten or cut off. The journal is synced,
//     then - when the journal file was only just created - the directory (the
//     journal's entry must survive a power cut too), and only then does the
//     first byte of a table file change.
//  3. So a journal whose checksum fails was never a precondition of a table
//     write: it is torn, the table files are untouched, and it is discarded.
//     A journal whose checksum holds contains every original byte the
//     interrupted change could have touched.
//  4. Then the changed pages are written, sizes set, new files created and
//     removed files deleted; every changed file is synced (and the directory
//     when files came or went).
//  5. The commit point is the truncation of the journal to length 0, made
//     durable by its sync. Before it, recovery restores the old state; after
//     it, the new state stands. The empty journal file stays open for the
//     next change (so its directory entry needs no further sync) and is
//     removed when the table is closed; an empty journal needs no recovery.
//  6. Recovery (on every open, before the first read, when a journal exists
//     and no running writer holds the table's lock): a valid journal is played
//     back - saved pages written, original sizes restored, files the change
//     created deleted, files it deleted recreated - all synced, then the
//     journal is removed and the directory synced. Playing back is
//     idempotent, so a crash during recovery is recovered the same way.
//  7. A failed write or sync during commit() marks the journal broken: the
//     old state is put back at once if possible (else the journal stays for
//     the next open), and further changes are refused until the table is
//     reopened.
//  8. The journal only ever names files of its own table (same base name, no
//     directory part), so a damaged or foreign journal cannot reach other
//     files.
//  9. One writer per table: a writer holds the Writer range of the .db (an
//     open file description lock, see io.h) exclusively for as long as the
//     table is open for writing. Nothing that happens to another file can
//     take it away, and there is no lock file to delete. A journal is only
//     played back or removed by the holder of that lock, so a running
//     writer's journal is never mistaken for a left-over one.
// 10. Readers see a table between commits: commit() holds the Pending and
//     Readers ranges exclusively from before the journal is written until
//     the commit point (or until a failure has put the old state back), and
//     so does a playback. A reader holds Readers shared while it reads, after
//     taking Pending shared for a moment, so it waits for the commit in
//     flight only (a waiting commit keeps new readers out, never the other
//     way round). Holding Readers, a reader may assume: the files are as the
//     last commit left them, unless a complete journal lies beside them - then
//     a crashed writer's change is played back first, and a running writer's
//     failed one is refused. Both waits are bounded (kReaderWaitMs,
//     kCommitWaitMs); a commit that runs out of time writes nothing.
//
// 11. A whole table replaced by another one built beside it (a compaction, new
//     fields) does not pass through memory: each file to be replaced or
//     removed is first copied beside itself ("NAME.MB~alt", synced), then a
//     journal of version 2 names them, and only then are the files
//     overwritten in place from the new ones (so locks and open handles on
//     them stay valid), under the same locks as a commit. The commit point
//     is again the journal's truncation. Playing a version 2 journal back
//     copies each saved file back in place and removes the files that came
//     new; the copies go once the journal is gone.
//
// The journal file, little-endian: "VLMJRNL\x1a", version (u32, 1), page size
// (u32, 4096), file count (u32), range count (u32), length of what follows
// the header (u64), checksum (u64, FNV-1a over the header before it and all
// that follows); then per file: name length (u16), name, existed (u8),
// original size (u64); then per range: file number (u32), offset (u64),
// length (u32), the original bytes. Version 2 has the same header and file
// list ("existed" 1: the file was saved as NAME~alt of the original size; 0:
// the file is new) and no ranges.
//
// The cost of a change: one journal write and sync, the span writes and one
// sync per changed file, the journal's truncation and sync; a directory sync
// more for the first change after opening and when files come or go.
#include "platform/paradox/journal.h"

#include "platform/paradox/error.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <stdexcept>
#include <thread>

namespace px {
namespace {

constexpr std::uint64_t kPage = 4096;
constexpr std::uint64_t kMaxRange = 1 << 20; // bytes per saved range in the journal
constexpr char kMagic[8] = {'V', 'L', 'M', 'J', 'R', 'N', 'L', 0x1A};
constexpr std::uint32_t kVersion = 1;
constexpr std::uint32_t kReplaceVersion = 2;
const char* const kSavedSuffix = "~alt";
// Bytes per read and write when a whole file is copied.
constexpr std::size_t kCopyChunk = 1u << 20;
// magic, version, page size, file count, range count, body length, checksum
constexpr std::size_t kHeaderSize = 8 + 4 + 4 + 4 + 4 + 8 + 8;
constexpr std::size_t kChecksumOffset = kHeaderSize - 8;

const char* const kBrokenMessage =
    "Die Tabelle kann nach einem Schreibfehler nicht mehr geändert werden. Bitte öffnen Sie sie "
    "neu.";

using Bytes = std::vector<std::uint8_t>;
// Adjacent dirty pages are written together up to this many bytes.
constexpr std::size_t kLongestRun = 8u << 20;

std::uint64_t checksum(const std::uint8_t* p, std::size_t n,
                       std::uint64_t h = 14695981039346656037ull) {
    for (std::size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return h;
}

void put16(Bytes& b, std::uint16_t v) {
    for (int i = 0; i < 2; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put64(Bytes& b, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void set64(Bytes& b, std::size_t at, std::uint64_t v) {
    for (std::size_t i = 0; i < 8; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Bounds-checked reading of a journal that may hold anything.
class Reader {
public:
    Reader(const Bytes& b, std::size_t pos) : b_(b), pos_(pos) {}
    bool ok() const { return ok_; }
    std::size_t pos() const { return pos_; }
    bool atEnd() const { return pos_ == b_.size(); }
    std::uint64_t get(std::size_t bytes) {
        if (!ok_ || b_.size() - pos_ < bytes) {
            ok_ = false;
            return 0;
        }
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            v |= static_cast<std::uint64_t>(b_[pos_ + i]) << (8 * i);
        pos_ += bytes;
        return v;
    }
    const std::uint8_t* take(std::size_t n) {
        if (!ok_ || b_.size() - pos_ < n) {
            ok_ = false;
            return nullptr;
        }
        const std::uint8_t* p = b_.data() + pos_;
        pos_ += n;
        return p;
    }

private:
    const Bytes& b_;
    std::size_t pos_;
    bool ok_ = true;
};

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string stemOf(const std::string& name) {
    const auto dot = name.find_last_of('.');
    return lower(dot == std::string::npos ? name : name.substr(0, dot));
}

// A name the journal may hold for the table: no directory part, and the
// table's own base name.
bool isTableFileName(const std::string& name, const std::string& tablePath) {
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string("/\0", 2)) != std::string::npos)
        return false;
    return stemOf(name) == stemOf(fileNameOf(tablePath));
}

std::string inDirectory(const std::string& dir, const std::string& name) {
    return dir == "/" ? "/" + name : dir + "/" + name;
}

struct SavedFile {
    std::string name;
    bool existed = false;
    std::uint64_t originalSize = 0;
};
struct SavedRange {
    std::uint32_t file = 0;
    std::uint64_t offset = 0;
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
};
struct Parsed {
    std::uint32_t version = kVersion;
    std::vector<SavedFile> files;
    std::vector<SavedRange> ranges;
};

enum class ParseResult { Valid, Torn, Damaged };

ParseResult parse(const Bytes& bytes, const std::string& tablePath, Parsed& out) {
    if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
        return ParseResult::Torn;
    Reader head(bytes, sizeof kMagic);
    const auto version = head.get(4);
    const auto pageSize = head.get(4);
    const auto fileCount = head.get(4);
    const auto rangeCount = head.get(4);
    const auto bodyLength = head.get(8);
    const auto stored = head.get(8);
    if (bodyLength != bytes.size() - kHeaderSize)
        return ParseResult::Torn;
    std::uint64_t sum = checksum(bytes.data(), kChecksumOffset);
    sum = checksum(bytes.data() + kHeaderSize, bytes.size() - kHeaderSize, sum);
    if (sum != stored)
        return ParseResult::Torn;
    // Complete and written by a journal; from here on anything odd is damage.
    if ((version != kVersion && version != kReplaceVersion) || pageSize != kPage ||
        fileCount == 0 || (version == kReplaceVersion && rangeCount != 0))
        return ParseResult::Damaged;
    out.version = static_cast<std::uint32_t>(version);
    Reader r(bytes, kHeaderSize);
    for (std::uint64_t i = 0; i < fileCount && r.ok(); ++i) {
        SavedFile f;
        const auto nameLength = r.get(2);
        const std::uint8_t* name = r.take(nameLength);
        f.existed = r.get(1) != 0;
        f.originalSize = r.get(8);
        if (!r.ok())
            return ParseResult::Damaged;
        f.name.assign(reinterpret_cast<const char*>(name), nameLength);
        if (!isTableFileName(f.name, tablePath))
            return ParseResult::Damaged;
        out.files.push_back(std::move(f));
    }
    for (std::uint64_t i = 0; i < rangeCount && r.ok(); ++i) {
        SavedRange s;
        s.file = static_cast<std::uint32_t>(r.get(4));
        s.offset = r.get(8);
        s.length = static_cast<std::uint32_t>(r.get(4));
        s.data = r.take(s.length);
        if (!r.ok() || s.file >= out.files.size() || !out.files[s.file].existed ||
            s.offset > out.files[s.file].originalSize ||
            s.length > out.files[s.file].originalSize - s.offset)
            return ParseResult::Damaged;
        out.ranges.push_back(s);
    }
    if (!r.ok() || !r.atEnd())
        return ParseResult::Damaged;
    return ParseResult::Valid;
}

// True when the saved ranges of a file hold every byte of [from, to).
bool covers(const Parsed& journal, std::uint32_t file, std::uint64_t from, std::uint64_t to) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    for (const SavedRange& s : journal.ranges)
        if (s.file == file)
            spans.emplace_back(s.offset, s.offset + s.length);
    std::sort(spans.begin(), spans.end());
    std::uint64_t reached = from;
    for (const auto& [start, end] : spans)
        if (start <= reached)
            reached = std::max(reached, end);
    return reached >= to;
}

// Copies the file from to the file to in place (created when missing),
// a chunk at a time, then cuts it to size and syncs it.
void copyContent(FileSystem& fs, const std::string& from, const std::string& to) {
    auto in = fs.open(from, OpenMode::ReadOnly);
    auto out = fs.exists(to) ? fs.open(to, OpenMode::ReadWrite) : fs.open(to, OpenMode::Create);
    const std::uint64_t size = in->size();
    Bytes buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size, kCopyChunk)));
    for (std::uint64_t at = 0; at < size;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kCopyChunk, size - at));
        if (in->read(at, buffer.data(), n) != n)
            throw Error("Lesefehler in \"" + from + "\": Die Datei ist kürzer als erwartet");
        out->write(at, buffer.data(), n);
        at += n;
    }
    if (out->size() != size)
        out->truncate(size);
    out->sync();
}

// Invariant 11: the saved copies go back in place, the new files go.
void playBackReplacement(FileSystem& fs, const std::string& tablePath, const Parsed& journal) {
    const std::string dir = directoryOf(tablePath);
    // Nothing is written unless every copy is there and whole.
    for (const SavedFile& saved : journal.files) {
        if (!saved.existed)
            continue;
        const std::string copy = inDirectory(dir, saved.name) + kSavedSuffix;
        if (!fs.exists(copy) || fs.open(copy, OpenMode::ReadOnly)->size() != saved.originalSize)
            throw Error("Die Sicherung \"" + copy + "\" fehlt oder ist unvollständig");
    }
    for (const SavedFile& saved : journal.files) {
        const std::string path = inDirectory(dir, saved.name);
        if (saved.existed)
            copyContent(fs, path + kSavedSuffix, path);
        else if (fs.exists(path))
            fs.remove(path);
    }
    fs.syncDirectory(dir);
    fs.remove(Journal::journalPath(tablePath));
    fs.syncDirectory(dir);
    for (const SavedFile& saved : journal.files)
        if (saved.existed)
            fs.remove(inDirectory(dir, saved.name) + kSavedSuffix);
    fs.syncDirectory(dir);
}

// Puts back the state a journal describes; see invariant 6.
void playBack(FileSystem& fs, const std::string& tablePath, const Parsed& journal) {
    const std::string dir = directoryOf(tablePath);
    if (journal.version == kReplaceVersion) {
        playBackReplacement(fs, tablePath, journal);
        return;
    }
    // First make sure the journal fits the files: a change never left a file
    // shorter than where its saved tail begins, so any byte between the
    // file's end and its original size must be in the journal. Nothing is
    // written unless the whole journal fits.
    enum class Action { Remove, Restore, Recreate, Skip };
    std::vector<Action> actions;
    for (std::uint32_t i = 0; i < journal.files.size(); ++i) {
        const SavedFile& saved = journal.files[i];
        const std::string path = inDirectory(dir, saved.name);
        const bool present = fs.exists(path);
        if (!saved.existed) {
            actions.push_back(present ? Action::Remove : Action::Skip);
        } else if (!present) {
            // Only recreate a file the journal holds completely.
            actions.push_back(covers(journal, i, 0, saved.originalSize) ? Action::Recreate
                                                                        : Action::Skip);
        } else {
            const std::uint64_t size = fs.open(path, OpenMode::ReadOnly)->size();
            if (size < saved.originalSize && !covers(journal, i, size, saved.originalSize))
                throw Error("Die Protokolldatei \"" + Journal::journalPath(tablePath) +
                            "\" passt nicht zu \"" + path + "\"");
            actions.push_back(Action::Restore);
        }
    }
    bool entriesChanged = false;
    for (std::uint32_t i = 0; i < journal.files.size(); ++i) {
        const SavedFile& saved = journal.files[i];
        const std::string path = inDirectory(dir, saved.name);
        if (actions[i] == Action::Skip)
            continue;
        if (actions[i] == Action::Remove) {
            fs.remove(path);
            entriesChanged = true;
            continue;
        }
        std::unique_ptr<File> file;
        if (actions[i] == Action::Recreate) {
            file = fs.open(path, OpenMode::Create);
            entriesChanged = true;
        } else {
            file = fs.open(path, OpenMode::ReadWrite);
        }
        for (const SavedRange& s : journal.ranges)
            if (s.file == i)
                file->write(s.offset, s.data, s.length);
        if (file->size() != saved.originalSize)
            file->truncate(saved.originalSize);
        file->sync();
    }
    if (entriesChanged)
        fs.syncDirectory(dir);
    fs.remove(Journal::journalPath(tablePath));
    fs.syncDirectory(dir);
}

Bytes readAll(File& file) {
    const std::uint64_t size = file.size();
    if (size > (std::uint64_t(1) << 40))
        throw Error("Die Protokolldatei ist zu groß");
    Bytes bytes(static_cast<std::size_t>(size));
    bytes.resize(file.read(0, bytes.data(), bytes.size()));
    return bytes;
}

using Clock = std::chrono::steady_clock;

const char* const kReadersBusy =
    "Die Tabelle wird gerade von einem anderen Programm gelesen. Die Änderung wurde nicht "
    "gespeichert; bitte versuchen Sie es gleich noch einmal.";
const char* const kCommitBusy = "Die Tabelle wird gerade von einem anderen Programm geändert. "
                                "Bitte versuchen Sie es gleich noch einmal.";

// The locks of other programs cannot be waited for with a time limit: poll,
// quickly at first (a commit takes milliseconds), then every 2 ms.
std::unique_ptr<Lock> lockBefore(FileSystem& fs, const std::string& tablePath, LockRange range,
                                 LockKind kind, Clock::time_point deadline) {
    auto pause = std::chrono::microseconds(250);
    for (;;) {
        if (auto lock = fs.tryLock(tablePath, range, kind))
            return lock;
        if (Clock::now() >= deadline)
            return nullptr;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(2000));
    }
}

class LockPair final : public Lock {
public:
    LockPair(std::unique_ptr<Lock> first, std::unique_ptr<Lock> second)
        : first_(std::move(first)), second_(std::move(second)) {}
    ~LockPair() override {
        second_.reset();
        first_.reset();
    }

private:
    std::unique_ptr<Lock> first_, second_;
};

// What a commit or a playback holds while table files change: Pending first,
// so readers that come now wait, then Readers, once the readers of the
// moment are done. Nullptr when they are not done by the deadline.
std::unique_ptr<Lock> lockForCommit(FileSystem& fs, const std::string& tablePath) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(Journal::kCommitWaitMs);
    // Readers that waited for the last commit go first.
    if (!lockBefore(fs, tablePath, LockRange::Waiting, LockKind::Exclusive, deadline))
        return nullptr;
    auto pending = lockBefore(fs, tablePath, LockRange::Pending, LockKind::Exclusive, deadline);
    if (!pending)
        return nullptr;
    auto readers = lockBefore(fs, tablePath, LockRange::Readers, LockKind::Exclusive, deadline);
    if (!readers)
        return nullptr;
    return std::make_unique<LockPair>(std::move(pending), std::move(readers));
}

// One table file as the transaction sees it.
struct FileState {
    std::string path;
    std::unique_ptr<File> file; // null while the file does not exist on disk
    bool writable = true;       // false: file was opened for reading only
    bool touched = false;       // changed in the current transaction
    // As on disk when the transaction touched it:
    bool existed = false;
    std::uint64_t originalSize = 0;
    // As the transaction sees it:
    bool exists = true;
    std::uint64_t size = 0;
    std::uint64_t lowWater = 0; // bytes from here up read as zero unless dirty
    // A page as the transaction sees it, and the span of it that was written
    // (only that span reaches the disk and needs saving in the journal).
    struct Page {
        Bytes bytes;
        std::size_t lo = kPage, hi = 0;
        void mark(std::size_t from, std::size_t to) {
            lo = std::min(lo, from);
            hi = std::max(hi, to);
        }
    };
    std::map<std::uint64_t, Page> dirty; // by page number

    void touch() {
        if (touched)
            return;
        existed = file != nullptr;
        originalSize = existed ? file->size() : 0;
        exists = existed;
        size = lowWater = originalSize;
        touched = true;
    }

    // A file opened for reading (or for removal) and then changed after all.
    void makeWritable(FileSystem& fs) {
        if (file && !writable) {
            file = fs.open(path, OpenMode::ReadWrite);
            writable = true;
        }
    }

    void discard() {
        dirty.clear();
        touched = false;
    }

    bool changed() const {
        return touched && (!dirty.empty() || size != originalSize || exists != existed ||
                           lowWater < originalSize);
    }

    // Bytes of the page as the transaction sees it before this write.
    Page& page(std::uint64_t number) {
        auto it = dirty.find(number);
        if (it != dirty.end())
            return it->second;
        Page page;
        page.bytes.assign(kPage, 0);
        const std::uint64_t start = number * kPage;
        if (file && start < lowWater) {
            const auto n = static_cast<std::size_t>(std::min(kPage, lowWater - start));
            file->read(start, page.bytes.data(), n);
        }
        return dirty.emplace(number, std::move(page)).first->second;
    }
};

// The journal's state, shared with the file handles it gives out.
struct Core {
    FileSystem& fs;
    std::string tablePath;
    bool inTransaction = false;
    bool broken = false;
    bool diskDamaged = false; // broken and the old state could not be put back
    std::map<std::string, std::weak_ptr<FileState>> files;
    std::vector<std::shared_ptr<FileState>> touched;
    // The journal file, kept open and empty between transactions once made:
    // its directory entry is then already durable.
    std::unique_ptr<File> journalFile;

    Core(FileSystem& f, std::string p) : fs(f), tablePath(std::move(p)) {}

    void checkPath(const std::string& path) const {
        if (directoryOf(path) != directoryOf(tablePath) ||
            !isTableFileName(fileNameOf(path), tablePath))
            throw std::logic_error("journal: not a file of this table: " + path);
    }

    std::shared_ptr<FileState> find(const std::string& path) {
        auto it = files.find(path);
        if (it == files.end())
            return nullptr;
        auto state = it->second.lock();
        if (!state)
            files.erase(it);
        return state;
    }

    std::shared_ptr<FileState> add(const std::string& path, std::unique_ptr<File> file) {
        auto state = std::make_shared<FileState>();
        state->path = path;
        state->file = std::move(file);
        files[path] = state;
        return state;
    }

    void requireWritable() const {
        if (broken)
            throw Error(kBrokenMessage);
        if (!inTransaction)
            throw std::logic_error("journal: table file changed outside a transaction");
    }

    void touch(const std::shared_ptr<FileState>& state) {
        if (state->touched)
            return;
        state->touch();
        touched.push_back(state);
    }

    void endTransaction() {
        for (auto& state : touched)
            state->discard();
        touched.clear();
        inTransaction = false;
    }

    Bytes buildJournal(const std::vector<FileState*>& changed) const;
    void apply(const std::vector<FileState*>& changed);
    void restoreAfterFailure(const Bytes& journal, const std::vector<FileState*>& changed);
};

Bytes Core::buildJournal(const std::vector<FileState*>& changed) const {
    Bytes out(kHeaderSize, 0);
    std::memcpy(out.data(), kMagic, sizeof kMagic);
    std::uint32_t rangeCount = 0;
    for (const FileState* f : changed) {
        const std::string name = fileNameOf(f->path);
        put16(out, static_cast<std::uint16_t>(name.size()));
        out.insert(out.end(), name.begin(), name.end());
        out.push_back(f->existed ? 1 : 0);
        put64(out, f->originalSize);
    }
    for (std::uint32_t i = 0; i < changed.size(); ++i) {
        const FileState& f = *changed[i];
        if (!f.existed)
            continue;
        // Everything from the lowest size the file reached (all of it when it
        // goes away) plus every span below that which will be overwritten.
        const std::uint64_t keepFrom = f.exists ? f.lowWater : 0;
        const std::uint64_t below = std::min(keepFrom, f.originalSize);
        auto save = [&](std::uint64_t from, std::uint64_t to) {
            for (; from < to; from += kMaxRange) {
                const auto n = static_cast<std::size_t>(std::min(kMaxRange, to - from));
                put32(out, i);
                put64(out, from);
                put32(out, static_cast<std::uint32_t>(n));
                const std::size_t at = out.size();
                out.resize(at + n);
                if (f.file->read(from, out.data() + at, n) != n)
                    throw Error("Lesefehler in \"" + f.path +
                                "\": Die Datei ist kürzer als erwartet");
                ++rangeCount;
            }
        };
        for (const auto& [number, page] : f.dirty) {
            const std::uint64_t start = number * kPage;
            if (page.lo < page.hi && start + page.lo < below)
                save(start + page.lo, std::min(start + page.hi, below));
        }
        if (keepFrom < f.originalSize)
            save(keepFrom, f.originalSize);
    }
    std::size_t at = sizeof kMagic;
    auto set32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out[at++] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    set32(kVersion);
    set32(static_cast<std::uint32_t>(kPage));
    set32(static_cast<std::uint32_t>(changed.size()));
    set32(rangeCount);
    set64(out, at, out.size() - kHeaderSize);
    std::uint64_t sum = checksum(out.data(), kChecksumOffset);
    sum = checksum(out.data() + kHeaderSize, out.size() - kHeaderSize, sum);
    set64(out, kChecksumOffset, sum);
    return out;
}

// Invariant 4: the new state reaches the disk.
void Core::apply(const std::vector<FileState*>& changed) {
    bool entriesChanged = false;
    for (FileState* f : changed) {
        if (!f->exists) {
            f->file.reset();
            fs.remove(f->path);
            entriesChanged = true;
            continue;
        }
        if (!f->file) {
            f->file = fs.open(f->path, OpenMode::Create);
            entriesChanged = true;
        }
        std::uint64_t diskSize = f->existed ? f->originalSize : 0;
        if (f->lowWater < diskSize) {
            f->file->truncate(f->lowWater);
            diskSize = f->lowWater;
        }
        // Dirty pages that follow each other go out in one write: a picture
        // of many megabytes is a handful of calls, not one per page.
        Bytes run;
        std::uint64_t runFrom = 0;
        auto writeRun = [&] {
            if (run.empty())
                return;
            f->file->write(runFrom, run.data(), run.size());
            diskSize = std::max(diskSize, runFrom + run.size());
            run.clear();
        };
        for (const auto& [number, page] : f->dirty) {
            const std::uint64_t from = number * kPage + page.lo;
            const std::uint64_t to = std::min(number * kPage + page.hi, f->size);
            if (from >= to)
                continue;
            if (!run.empty() && runFrom + run.size() != from)
                writeRun();
            if (run.empty())
                runFrom = from;
            run.insert(run.end(), page.bytes.begin() + static_cast<std::ptrdiff_t>(page.lo),
                       page.bytes.begin() + static_cast<std::ptrdiff_t>(page.lo + (to - from)));
            if (run.size() >= kLongestRun)
                writeRun();
        }
        writeRun();
        if (diskSize != f->size)
            f->file->truncate(f->size);
    }
    for (FileState* f : changed)
        if (f->exists)
            f->file->sync();
    if (entriesChanged)
        fs.syncDirectory(directoryOf(tablePath));
}

// Invariant 7: after a failure past the journal's sync, put the old state back
// now if the disk lets us; otherwise the journal stays for the next open.
void Core::restoreAfterFailure(const Bytes& journal, const std::vector<FileState*>& changed) {
    for (FileState* f : changed)
        f->file.reset();
    try {
        Parsed parsed;
        if (parse(journal, tablePath, parsed) != ParseResult::Valid)
            throw std::logic_error("journal: built an unreadable journal");
        playBack(fs, tablePath, parsed);
    } catch (const Error&) {
        diskDamaged = true;
    }
    // Reopen what exists again, for reading.
    for (FileState* f : changed) {
        try {
            if (fs.exists(f->path))
                f->file = fs.open(f->path, OpenMode::ReadWrite);
        } catch (const Error&) {
            diskDamaged = true;
        }
    }
}

// What a caller sees of one table file.
class JournaledFile final : public File {
public:
    JournaledFile(std::shared_ptr<Core> journal, std::shared_ptr<FileState> state)
        : journal_(std::move(journal)), state_(std::move(state)) {}

    std::size_t read(std::uint64_t offset, void* buffer, std::size_t n) override;
    void write(std::uint64_t offset, const void* data, std::size_t n) override;
    std::uint64_t size() override;
    void truncate(std::uint64_t size) override;
    void sync() override {} // commit() syncs

private:
    // What every change of the file starts with: the file joins the
    // transaction, and a file that did not exist comes into being empty.
    FileState& startChange();

    std::shared_ptr<Core> journal_;
    std::shared_ptr<FileState> state_;
};

FileState& JournaledFile::startChange() {
    journal_->requireWritable();
    journal_->touch(state_);
    FileState& f = *state_;
    f.makeWritable(journal_->fs);
    if (!f.exists) {
        f.exists = true;
        f.size = f.lowWater = 0;
        f.dirty.clear();
    }
    return f;
}

std::size_t JournaledFile::read(std::uint64_t offset, void* buffer, std::size_t n) {
    if (journal_->diskDamaged)
        throw Error("Die Tabelle kann nach einem Schreibfehler nicht mehr gelesen werden. Bitte "
                    "öffnen Sie sie neu.");
    FileState& f = *state_;
    if (!f.touched)
        return f.file ? f.file->read(offset, buffer, n) : 0;
    if (!f.exists || offset >= f.size)
        return 0;
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, f.size - offset));
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const std::uint64_t at = offset + done;
        const std::uint64_t number = at / kPage;
        const auto inPage = static_cast<std::size_t>(at % kPage);
        const std::size_t chunk = std::min<std::size_t>(n - done, kPage - inPage);
        auto it = f.dirty.find(number);
        if (it != f.dirty.end()) {
            std::memcpy(out + done, it->second.bytes.data() + inPage, chunk);
        } else {
            std::size_t fromDisk = 0;
            if (f.file && at < f.lowWater)
                fromDisk =
                    static_cast<std::size_t>(std::min<std::uint64_t>(chunk, f.lowWater - at));
            std::size_t got = fromDisk ? f.file->read(at, out + done, fromDisk) : 0;
            std::memset(out + done + got, 0, chunk - got);
        }
        done += chunk;
    }
    return n;
}

void JournaledFile::write(std::uint64_t offset, const void* data, std::size_t n) {
    FileState& f = startChange();
    const auto* in = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < n) {
        const std::uint64_t at = offset + done;
        const auto inPage = static_cast<std::size_t>(at % kPage);
        const std::size_t chunk = std::min<std::size_t>(n - done, kPage - inPage);
        FileState::Page& page = f.page(at / kPage);
        std::memcpy(page.bytes.data() + inPage, in + done, chunk);
        page.mark(inPage, inPage + chunk);
        done += chunk;
    }
    f.size = std::max(f.size, offset + n);
}

std::uint64_t JournaledFile::size() {
    const FileState& f = *state_;
    if (!f.touched)
        return f.file ? f.file->size() : 0;
    return f.exists ? f.size : 0;
}

void JournaledFile::truncate(std::uint64_t size) {
    FileState& f = startChange();
    if (size < f.size) {
        const std::uint64_t keepPages = (size + kPage - 1) / kPage;
        f.dirty.erase(f.dirty.lower_bound(keepPages), f.dirty.end());
        if (size % kPage != 0) {
            auto it = f.dirty.find(size / kPage);
            if (it != f.dirty.end()) {
                FileState::Page& page = it->second;
                std::fill(page.bytes.begin() + static_cast<std::ptrdiff_t>(size % kPage),
                          page.bytes.end(), 0);
                page.hi = std::min<std::size_t>(page.hi, size % kPage);
            }
        }
        f.lowWater = std::min(f.lowWater, size);
    }
    f.size = size;
}

} // namespace

struct Journal::Impl : Core {
    using Core::Core;
};

Journal::Journal(FileSystem& fs, std::string tablePath)
    : d(std::make_shared<Impl>(fs, std::move(tablePath))) {}

Journal::~Journal() {
    if (d->inTransaction)
        d->endTransaction();
    if (d->journalFile) {
        d->journalFile.reset();
        // Empty unless a failure left it for recovery.
        if (!d->broken) {
            try {
                d->fs.remove(journalPath(d->tablePath));
            } catch (...) {
            }
        }
    }
}

std::string Journal::journalPath(const std::string& tablePath) {
    return tablePath + "-journal";
}
std::unique_ptr<Lock> Journal::lockForWriting(FileSystem& fs, const std::string& tablePath) {
    return fs.tryLock(tablePath, LockRange::Writer, LockKind::Exclusive);
}

bool Journal::needsRecovery(FileSystem& fs, const std::string& tablePath) {
    const std::string path = journalPath(tablePath);
    if (!fs.exists(path))
        return false;
    const Bytes bytes = readAll(*fs.open(path, OpenMode::ReadOnly));
    Parsed parsed;
    return parse(bytes, tablePath, parsed) != ParseResult::Torn;
}

namespace {

// callerHoldsLock: the caller has the table's write lock, so any journal is
// left over. Otherwise a journal is only played back when the lock is free.
void recoverTable(FileSystem& fs, const std::string& tablePath, bool callerHoldsLock) {
    const std::string path = Journal::journalPath(tablePath);
    if (!fs.exists(path))
        return;
    const std::string dir = directoryOf(tablePath);
    const std::string shown = "Die Tabelle \"" + tablePath + "\" ";
    Bytes bytes;
    try {
        bytes = readAll(*fs.open(path, OpenMode::ReadOnly));
    } catch (const Error& e) {
        throw Error(shown + "wurde bei einer unterbrochenen Änderung zurückgelassen, und ihre " +
                    "Protokolldatei kann nicht gelesen werden: " + e.what());
    }
    Parsed parsed;
    const ParseResult result = parse(bytes, tablePath, parsed);
    if (result == ParseResult::Damaged)
        throw Error(shown + "kann nicht geöffnet werden, weil die Protokolldatei \"" + path +
                    "\" beschädigt ist");

    std::unique_ptr<Lock> writer;
    if (!callerHoldsLock) {
        // A journal beside a missing table recreates nothing here: there is
        // no file to lock, and the writer that opens it again refuses.
        if (!fs.exists(tablePath))
            return;
        writer = fs.tryLock(tablePath, LockRange::Writer, LockKind::Exclusive);
        if (!writer)
            return; // the writer is still at work; its journal is not ours to play back
    }
    const bool writable = fs.isDirectoryWritable(dir);
    if (result == ParseResult::Torn) {
        // Invariant 3: no table file was touched. Tidy up when we may; the
        // write lock keeps a writer from starting its new journal meanwhile.
        if (writable) {
            try {
                fs.remove(path);
            } catch (const Error&) {
            }
        }
        return;
    }
    if (!writable)
        throw Error(shown +
                    "wurde bei einer unterbrochenen Änderung zurückgelassen und kann nicht " +
                    "wiederhergestellt werden, weil das Verzeichnis schreibgeschützt ist");
    // Readers must not see the files half put back either.
    std::unique_ptr<Lock> commitLock;
    if (fs.exists(tablePath)) {
        commitLock = lockForCommit(fs, tablePath);
        if (!commitLock)
            throw Error(kCommitBusy);
    }
    try {
        playBack(fs, tablePath, parsed);
    } catch (const Error& e) {
        throw Error(shown +
                    "wurde bei einer unterbrochenen Änderung zurückgelassen und kann nicht " +
                    "wiederhergestellt werden: " + e.what());
    }
}

} // namespace

void Journal::recover(FileSystem& fs, const std::string& tablePath) {
    recoverTable(fs, tablePath, true);
}

void Journal::recoverForReading(FileSystem& fs, const std::string& tablePath) {
    recoverTable(fs, tablePath, false);
}

std::unique_ptr<Lock> Journal::lockForReading(FileSystem& fs, const std::string& tablePath) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kReaderWaitMs);
    for (;;) {
        auto waiting = lockBefore(fs, tablePath, LockRange::Waiting, LockKind::Shared, deadline);
        auto pending =
            waiting ? lockBefore(fs, tablePath, LockRange::Pending, LockKind::Shared, deadline)
                    : nullptr;
        auto readers =
            pending ? lockBefore(fs, tablePath, LockRange::Readers, LockKind::Shared, deadline)
                    : nullptr;
        if (!readers)
            throw Error(kCommitBusy);
        pending.reset();
        waiting.reset();
        // No commit runs now, so a complete journal is either left by a
        // writer that crashed, or by a running one that failed to put its
        // change back: the files are half changed in both cases.
        if (!needsRecovery(fs, tablePath))
            return readers;
        auto writer = fs.tryLock(tablePath, LockRange::Writer, LockKind::Exclusive);
        if (!writer)
            throw Error("Die Tabelle \"" + tablePath +
                        "\" wurde bei einer fehlgeschlagenen Änderung zurückgelassen. Bitte " +
                        "schließen Sie die Tabelle und öffnen Sie sie erneut");
        readers.reset();
        recoverTable(fs, tablePath, true);
    }
}

void Journal::removeJournal(FileSystem& fs, const std::string& tablePath) {
    const std::string path = journalPath(tablePath);
    if (!fs.exists(path))
        return;
    // Put the old table right first: should the replacement that follows be
    // interrupted, the old table must be whole, not half-changed.
    try {
        recoverTable(fs, tablePath, true);
    } catch (const Error&) {
        // A damaged journal cannot be played back; the table is replaced anyway.
    }
    if (fs.exists(path)) {
        fs.remove(path);
        fs.syncDirectory(directoryOf(tablePath));
    }
}

void Journal::replaceFiles(FileSystem& fs, const std::string& tablePath,
                           const std::vector<Replacement>& changes) {
    const std::string dir = directoryOf(tablePath);
    for (const Replacement& change : changes)
        if (directoryOf(change.target) != dir ||
            !isTableFileName(fileNameOf(change.target), tablePath))
            throw std::logic_error("journal: not a file of this table: " + change.target);
    const std::string path = journalPath(tablePath);
    removeJournal(fs, tablePath);

    // The originals stay as they are meanwhile: the caller holds the write lock.
    std::vector<SavedFile> saved;
    auto dropCopies = [&] {
        for (const SavedFile& file : saved)
            if (file.existed && fs.exists(inDirectory(dir, file.name) + kSavedSuffix))
                fs.remove(inDirectory(dir, file.name) + kSavedSuffix);
    };
    Bytes journal(kHeaderSize, 0);
    try {
        for (const Replacement& change : changes) {
            SavedFile file;
            file.name = fileNameOf(change.target);
            file.existed = fs.exists(change.target);
            if (file.existed) {
                copyContent(fs, change.target, change.target + kSavedSuffix);
                file.originalSize = fs.open(change.target, OpenMode::ReadOnly)->size();
            }
            saved.push_back(file);
        }
        fs.syncDirectory(dir);
    } catch (...) {
        try {
            dropCopies();
        } catch (...) {
        }
        throw;
    }
    std::memcpy(journal.data(), kMagic, sizeof kMagic);
    for (const SavedFile& file : saved) {
        put16(journal, static_cast<std::uint16_t>(file.name.size()));
        journal.insert(journal.end(), file.name.begin(), file.name.end());
        journal.push_back(file.existed ? 1 : 0);
        put64(journal, file.originalSize);
    }
    std::size_t at = sizeof kMagic;
    for (const std::uint32_t v : {kReplaceVersion, static_cast<std::uint32_t>(kPage),
                                  static_cast<std::uint32_t>(saved.size()), 0u})
        for (int i = 0; i < 4; ++i)
            journal[at++] = static_cast<std::uint8_t>(v >> (8 * i));
    set64(journal, at, journal.size() - kHeaderSize);
    std::uint64_t sum = checksum(journal.data(), kChecksumOffset);
    sum = checksum(journal.data() + kHeaderSize, journal.size() - kHeaderSize, sum);
    set64(journal, kChecksumOffset, sum);

    std::unique_ptr<File> journalFile;
    try {
        journalFile = fs.open(path, OpenMode::Create);
        journalFile->write(0, journal.data(), journal.size());
        journalFile->sync();
        fs.syncDirectory(dir);
    } catch (...) {
        // A journal that did not reach the disk whole is torn: nothing changed.
        try {
            journalFile.reset();
            if (fs.exists(path))
                fs.remove(path);
            dropCopies();
        } catch (...) {
        }
        throw;
    }

    auto commitLock = lockForCommit(fs, tablePath);
    if (!commitLock) {
        journalFile.reset();
        fs.remove(path);
        dropCopies();
        throw Error(kReadersBusy);
    }
    try {
        for (const Replacement& change : changes) {
            if (change.source.empty()) {
                if (fs.exists(change.target))
                    fs.remove(change.target);
            } else {
                copyContent(fs, change.source, change.target);
            }
        }
        fs.syncDirectory(dir);
        journalFile->truncate(0); // the commit point
        journalFile->sync();
    } catch (...) {
        // Put the old table back now when the disk lets us; otherwise the
        // journal stays for the next open.
        journalFile.reset();
        try {
            Parsed parsed;
            if (parse(journal, tablePath, parsed) == ParseResult::Valid)
                playBack(fs, tablePath, parsed);
        } catch (...) {
        }
        throw;
    }
    journalFile.reset();
    commitLock.reset();
    fs.remove(path);
    dropCopies();
    fs.syncDirectory(dir);
}

std::vector<std::string> Journal::companionFiles(FileSystem& fs, const std::string& tablePath) {
    std::vector<std::string> out;
    const std::string dir = directoryOf(tablePath);
    const std::string stem = stemOf(fileNameOf(tablePath));
    const std::string journal = fileNameOf(journalPath(tablePath));
    const bool bare = tablePath.find('/') == std::string::npos;
    auto alnum = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'); };
    for (const std::string& name : fs.list(dir)) {
        const auto dot = name.find_last_of('.');
        if (name == journal) {
            out.push_back(bare ? name : inDirectory(dir, name));
            continue;
        }
        if (dot == std::string::npos || lower(name.substr(0, dot)) != stem)
            continue;
        const std::string ext = lower(name.substr(dot + 1));
        const bool index =
            ext.size() == 3 && (ext[0] == 'x' || ext[0] == 'y') && alnum(ext[1]) && alnum(ext[2]);
        if (ext == "px" || ext == "mb" || ext == "val" || index)
            out.push_back(bare ? name : inDirectory(dir, name));
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::unique_ptr<File> Journal::wrap(std::unique_ptr<File> file, const std::string& path) {
    d->checkPath(path);
    auto state = d->find(path);
    if (!state)
        state = d->add(path, std::move(file));
    return std::make_unique<JournaledFile>(d, state);
}

std::unique_ptr<File> Journal::open(const std::string& path, OpenMode mode) {
    d->checkPath(path);
    auto state = d->find(path);
    if (mode != OpenMode::Create) {
        if (!state || (!state->touched && !state->file)) {
            state = d->add(path, d->fs.open(path, mode));
            state->writable = mode == OpenMode::ReadWrite;
        } else if (state->touched && !state->exists)
            throw Error("Die Datei kann nicht geöffnet werden: \"" + path +
                        "\": Die Datei existiert nicht");
        return std::make_unique<JournaledFile>(d, state);
    }
    d->requireWritable();
    if (!state)
        state = d->add(path, d->fs.exists(path) ? d->fs.open(path, OpenMode::ReadWrite) : nullptr);
    d->touch(state);
    state->makeWritable(d->fs);
    state->exists = true;
    state->size = state->lowWater = 0;
    state->dirty.clear();
    return std::make_unique<JournaledFile>(d, state);
}

void Journal::remove(const std::string& path) {
    d->checkPath(path);
    d->requireWritable();
    auto state = d->find(path);
    if (!state) {
        if (!d->fs.exists(path))
            return;
        // Reading is all a removal needs; a read-only file can still go.
        try {
            state = d->add(path, d->fs.open(path, OpenMode::ReadWrite));
        } catch (const Error&) {
            state = d->add(path, d->fs.open(path, OpenMode::ReadOnly));
            state->writable = false;
        }
    }
    d->touch(state);
    state->exists = false;
    state->size = state->lowWater = 0;
    state->dirty.clear();
}

void Journal::begin() {
    if (d->broken)
        throw Error(kBrokenMessage);
    if (d->inTransaction)
        throw std::logic_error("journal: transactions do not nest");
    d->inTransaction = true;
}

void Journal::commit() {
    if (!d->inTransaction)
        throw std::logic_error("journal: commit without begin");
    if (d->broken) {
        d->endTransaction();
        throw Error(kBrokenMessage);
    }
    std::vector<FileState*> changed;
    for (const auto& state : d->touched)
        if (state->changed())
            changed.push_back(state.get());
    if (changed.empty()) {
        d->endTransaction();
        return;
    }

    FileSystem& fs = d->fs;
    const std::string dir = directoryOf(d->tablePath);
    const std::string path = journalPath(d->tablePath);
    // Readers see the files before or after this commit, never between: held
    // until the commit point, or until a failure has put the old state back.
    // A table not on disk yet has no readers.
    std::unique_ptr<Lock> commitLock;
    if (fs.exists(d->tablePath)) {
        commitLock = lockForCommit(fs, d->tablePath);
        if (!commitLock) {
            d->endTransaction();
            throw Error(kReadersBusy);
        }
    }
    // Something tidying the folder may have deleted the journal kept open:
    // a journal nobody can find after a crash would be no journal at all.
    if (d->journalFile && !fs.exists(path))
        d->journalFile.reset();
    Bytes journal;
    bool journalDurable = false;
    try {
        journal = d->buildJournal(changed);
        const bool created = !d->journalFile;
        if (created)
            d->journalFile = fs.open(path, OpenMode::Create);
        d->journalFile->write(0, journal.data(), journal.size());
        d->journalFile->sync();
        if (created)
            fs.syncDirectory(dir);
        journalDurable = true;
        d->apply(changed);
        d->journalFile->truncate(0); // the commit point ...
        d->journalFile->sync();      // ... made durable
    } catch (...) {
        d->broken = true;
        d->journalFile.reset();
        try {
            if (journalDurable) {
                d->restoreAfterFailure(journal, changed);
            } else {
                try {
                    fs.remove(path); // torn or complete, it never covered a table write
                } catch (const Error&) {
                }
            }
        } catch (...) {
            d->endTransaction();
            throw;
        }
        d->endTransaction();
        throw;
    }
    for (FileState* f : changed) {
        f->existed = f->exists;
        f->originalSize = f->size;
        f->lowWater = f->size;
    }
    d->endTransaction();
}

void Journal::rollback() {
    if (d->inTransaction)
        d->endTransaction();
}

bool Journal::inTransaction() const {
    return d->inTransaction;
}

bool Journal::isBroken() const {
    return d->broken;
}

} // namespace px
