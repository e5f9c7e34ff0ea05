// A restructure never writes the table in place record by record: the new
// table is built whole beside it on disk, with the engine's own insert, and
// then replaces the files in one change of the table's journal
// (Journal::replaceFiles), which keeps a copy of every original file until
// the commit point. The next open plays an interrupted replacement back like
// any interrupted save; memory holds a record and a batch, never the table.
#include "platform/paradox/restructure.h"

#include "platform/paradox/crypt.h"
#include "platform/paradox/error.h"
#include "platform/paradox/journal.h"
#include "platform/paradox/paradoxtable.h"

#include <algorithm>
#include <functional>
#include <set>
#include <variant>

namespace px {
namespace {

std::string extensionOf(const std::string& path) {
    const std::string name = fileNameOf(path);
    const auto dot = name.find_last_of('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string withoutExtension(const std::string& path) {
    return path.substr(0, path.size() - extensionOf(path).size());
}

// A file copied a chunk at a time, so memory holds one chunk however large
// the file (a .mb of pictures runs to hundreds of megabytes).
void copyFile(File& from, File& to) {
    constexpr std::size_t kChunk = 1u << 20;
    std::vector<std::uint8_t> chunk(kChunk);
    const std::uint64_t size = from.size();
    for (std::uint64_t done = 0; done < size;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - done));
        const std::size_t got = from.read(done, chunk.data(), want);
        if (got == 0)
            throw Error("Die Datei endet früher als erwartet");
        to.write(done, chunk.data(), got);
        done += got;
    }
}

// The table's own files: the .db last, without the journal.
std::vector<std::string> tableFiles(FileSystem& fs, const std::string& path) {
    std::vector<std::string> files;
    const std::string journal = fileNameOf(Journal::journalPath(path));
    for (const std::string& companion : Journal::companionFiles(fs, path))
        if (fileNameOf(companion) != journal)
            files.push_back(companion);
    files.push_back(path);
    return files;
}

// The table's .mb as it is spelled on disk, or "" when it has none.
std::string blobFileOf(FileSystem& fs, const std::string& path) {
    for (const std::string& companion : Journal::companionFiles(fs, path))
        if (detail::lower(extensionOf(companion)) == ".mb")
            return companion;
    return std::string();
}

} // namespace

void copyTable(const std::string& path, const std::string& copyPath, FileSystem& fs) {
    auto table = Table::open(path, Access::Read, fs);
    auto steady = table->holdSteady();
    const std::vector<std::string> files = tableFiles(fs, path);
    std::vector<std::string> targets;
    for (const std::string& file : files) {
        targets.push_back(file == path ? copyPath : withoutExtension(copyPath) + extensionOf(file));
        if (fs.exists(targets.back()))
            throw Error("Die Datei \"" + targets.back() + "\" gibt es schon.");
    }
    std::size_t written = 0;
    try {
        for (; written < files.size(); ++written) {
            auto in = fs.open(files[written], OpenMode::ReadOnly);
            auto out = fs.open(targets[written], OpenMode::Create);
            copyFile(*in, *out);
            out->sync();
        }
        fs.syncDirectory(directoryOf(copyPath));
    } catch (...) {
        for (std::size_t i = 0; i <= written && i < targets.size(); ++i) {
            try {
                fs.remove(targets[i]);
            } catch (...) {
            }
        }
        throw;
    }
}

namespace {

// The new table is built under this name beside the old one ("ADRESSEN~neu.DB").
std::string temporaryPath(const std::string& path) {
    return withoutExtension(path) + "~neu" + extensionOf(path);
}

// A temporary table an interrupted rebuild left behind, and copies of the
// table's files a replacement interrupted after its commit point left.
void removeLeftovers(FileSystem& fs, const std::string& path) {
    const std::string temporary = temporaryPath(path);
    std::vector<std::string> stale = Journal::companionFiles(fs, temporary);
    stale.push_back(temporary);
    for (const std::string& file : tableFiles(fs, path))
        stale.push_back(file + "~alt");
    bool removed = false;
    for (const std::string& file : stale)
        if (fs.exists(file)) {
            fs.remove(file);
            removed = true;
        }
    if (removed)
        fs.syncDirectory(directoryOf(path));
}

// A batch of the new table is committed when it holds this much: its pages
// wait in memory until then.
constexpr std::uint64_t kBatchBytes = 8u << 20;
constexpr std::uint32_t kBatchRecords = 2000;

std::uint64_t bytesOf(const Record& record) {
    std::uint64_t bytes = 0;
    for (const Value& v : record) {
        if (const auto* text = std::get_if<std::string>(&v))
            bytes += text->size();
        else if (const auto* data = std::get_if<Bytes>(&v))
            bytes += data->size();
    }
    return bytes;
}

// A new table keeps the level, code page, sort order and block size of the
// one it is made from.
detail::NewTableLayout layoutOf(const TableInfo& info) {
    detail::NewTableLayout layout;
    layout.fileVersion = info.fileVersion;
    layout.codePage = info.codePage;
    layout.sortOrderId = info.sortOrderId;
    if (!info.sortOrderName.empty())
        layout.sortOrderName = info.sortOrderName;
    layout.blockSize = info.blockSize;
    return layout;
}

// Every record of from into to, each widened to to's fields, a batch at a time.
void copyRecords(Table& from, Table& to) {
    const std::size_t fieldCount = to.info().fields.size();
    const std::uint32_t count = from.recordCount();
    std::uint64_t inBatch = 0;
    std::uint32_t recordsInBatch = 0;
    to.beginBatch();
    for (std::uint32_t position = 0; position < count; ++position) {
        Record record = from.read(position, Blobs::Read);
        record.resize(fieldCount);
        inBatch += bytesOf(record);
        to.insert(record);
        if (inBatch >= kBatchBytes || ++recordsInBatch >= kBatchRecords) {
            to.commitBatch();
            to.beginBatch();
            inBatch = 0;
            recordsInBatch = 0;
        }
    }
    to.commitBatch();
}

// Builds the table anew from its records, each widened to fields, on disk
// beside it, and replaces its files with the new ones as one change of the
// table's journal (the caller holds the write lock and has run recovery).
// Memory holds one record and one batch of the new table at a time.
void rebuild(FileSystem& fs, const std::string& path,
             const std::function<std::vector<FieldDef>(const Table&)>& fieldsOf) {
    removeLeftovers(fs, path);
    const std::string temporary = temporaryPath(path);
    try {
        // Read as a reader beside our own write lock; the hold ends before the
        // replacement, which waits for every reader.
        auto old = Table::open(path, Access::Read, fs);
        auto steady = old->holdSteady();
        const TableInfo& info = old->info();
        detail::ParadoxTable::createTable(fs, temporary, fieldsOf(*old), info.keyFieldCount,
                                          layoutOf(info));
        copyRecords(*old, *Table::open(temporary, Access::Write, fs));
    } catch (...) {
        try {
            removeLeftovers(fs, path);
        } catch (...) {
        }
        throw;
    }

    // The companions keep the names they have (".PX" stays upper case).
    const std::vector<std::string> existing = tableFiles(fs, path);
    auto realName = [&](const std::string& built) {
        for (const std::string& file : existing)
            if (detail::lower(extensionOf(file)) == detail::lower(extensionOf(built)))
                return file;
        return withoutExtension(path) + detail::lower(extensionOf(built));
    };
    std::vector<Journal::Replacement> changes;
    std::set<std::string> replaced;
    for (const std::string& built :
         {withoutExtension(temporary) + ".px", withoutExtension(temporary) + ".mb", temporary}) {
        if (!fs.exists(built))
            continue;
        const std::string target = built == temporary ? path : realName(built);
        changes.push_back({target, built});
        replaced.insert(target);
    }
    // Secondary indexes and validity checks describe the old records (and
    // where they lay).
    for (const std::string& file : existing)
        if (!replaced.count(file))
            changes.push_back({file, std::string()});
    Journal::replaceFiles(fs, path, changes);
    removeLeftovers(fs, path);
}

std::unique_ptr<Lock> lockAndRecover(FileSystem& fs, const std::string& path) {
    auto writer = Journal::lockForWriting(fs, path);
    if (!writer)
        throw TableInUse();
    Journal::recover(fs, path);
    return writer;
}

} // namespace

std::string lostByRebuild(const std::string& path, FileSystem& fs) {
    std::vector<std::string> names;
    for (const std::string& file : tableFiles(fs, path)) {
        const std::string ext = detail::lower(extensionOf(file));
        if (file != path && ext != ".px" && ext != ".mb")
            names.push_back(fileNameOf(file));
    }
    std::sort(names.begin(), names.end());
    std::string lost;
    for (const std::string& name : names)
        lost += (lost.empty() ? "" : ", ") + name;
    return lost;
}

namespace {

// Secondary indexes and validity checks of another Paradox tool would not
// survive a rebuild; they are the user's work, so the table stays.
void refuseLosingOtherFiles(FileSystem& fs, const std::string& path, const std::string& what) {
    const std::string lost = lostByRebuild(path, fs);
    if (!lost.empty())
        throw Error(what + ": Sekundärindizes und Gültigkeitsprüfungen (" + lost +
                    ") gingen dabei verloren. Sie bleibt unverändert.");
}

} // namespace

void appendFields(const std::string& path, const std::vector<FieldDef>& added, FileSystem& fs) {
    if (isPasswordProtected(path, fs))
        detail::refuseWriting();
    const auto writer = lockAndRecover(fs, path);
    refuseLosingOtherFiles(fs, path, "Die Tabelle bekommt kein neues Feld");
    rebuild(fs, path, [&](const Table& old) {
        std::vector<FieldDef> fields = old.info().fields;
        for (const FieldDef& field : added) {
            if (old.fieldIndex(field.name) >= 0)
                throw Error("Das Feld \"" + field.name + "\" gibt es in der Tabelle schon.");
            fields.push_back(field);
        }
        return fields;
    });
}

CompactResult compactTable(const std::string& path, FileSystem& fs) {
    if (isPasswordProtected(path, fs))
        detail::refuseWriting();
    const auto writer = lockAndRecover(fs, path);
    refuseLosingOtherFiles(fs, path, "Die Tabelle wird nicht verdichtet");
    const std::string blobs = blobFileOf(fs, path);
    CompactResult result;
    if (blobs.empty())
        return result;
    result.bytesBefore = fs.open(blobs, OpenMode::ReadOnly)->size();
    rebuild(fs, path, [](const Table& old) { return old.info().fields; });
    result.bytesAfter = fs.open(blobs, OpenMode::ReadOnly)->size();
    return result;
}

bool isPasswordProtected(const std::string& path, FileSystem& fs) {
    auto file = fs.open(path, OpenMode::ReadOnly);
    std::vector<std::uint8_t> head(0x58);
    if (file->read(0, head.data(), head.size()) != head.size())
        return false;
    head.resize(std::max<std::size_t>(head.size(), detail::get16(&head[2])));
    file->read(0, head.data(), head.size());
    try {
        return detail::parseDbHeader(head, file->size()).scrambleKey != 0;
    } catch (const Error&) {
        return false; // no table at all
    }
}

void writeUnprotectedCopy(const std::string& path, const std::string& copyPath, bool replace,
                          FileSystem& fs) {
    FileStamp ofTable, ofCopy;
    if (fs.stamp(path, ofTable) && fs.stamp(copyPath, ofCopy) && ofCopy.exists &&
        ofTable.device == ofCopy.device && ofTable.inode == ofCopy.inode)
        throw Error("Die Kopie kann nicht an die Stelle der Tabelle selbst treten.");
    if (!replace) {
        if (fs.exists(copyPath))
            throw Error("Die Datei \"" + copyPath + "\" gibt es schon.");
        for (const std::string& companion : Journal::companionFiles(fs, copyPath))
            throw Error("Die Datei \"" + companion + "\" gibt es schon.");
    }
    const std::string temporary = temporaryPath(copyPath);
    const std::string base = withoutExtension(copyPath);
    std::vector<std::pair<std::string, std::string>> moves; // built file, its final name
    auto removeBuilt = [&] {
        for (const std::string& file : Journal::companionFiles(fs, temporary))
            fs.remove(file);
        fs.remove(temporary);
    };
    try {
        removeBuilt(); // left by an earlier attempt
        auto original = Table::open(path, Access::Read, fs);
        auto steady = original->holdSteady();
        const TableInfo& info = original->info();
        detail::ParadoxTable::createTable(fs, temporary, info.fields, info.keyFieldCount,
                                          layoutOf(info));
        copyRecords(*original, *Table::open(temporary, Access::Write, fs));
        // The .db comes last: a copy cut short on the way is never a table.
        for (const char* extension : {".px", ".mb"})
            if (fs.exists(withoutExtension(temporary) + extension))
                moves.emplace_back(withoutExtension(temporary) + extension, base + extension);
        moves.emplace_back(temporary, copyPath);
        if (replace) { // the table there gives way only to a whole copy
            Table::deleteFile(copyPath, fs);
            for (const std::string& companion : Journal::companionFiles(fs, copyPath))
                fs.remove(companion);
        }
        for (auto& [built, target] : moves)
            fs.rename(built, target);
        fs.syncDirectory(directoryOf(copyPath));
    } catch (...) {
        try {
            for (auto& [built, target] : moves)
                if (!fs.exists(built) && fs.exists(target))
                    fs.remove(target);
            removeBuilt();
        } catch (...) {
        }
        throw;
    }
}

} // namespace px
