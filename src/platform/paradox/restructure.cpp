// A restructure never writes the table in place record by record: the new
// table is built whole in memory, with the engine's own insert, and then
// replaces the three files in one transaction of the table's journal, which
// keeps every original byte until the commit point. So there is no second
// recovery procedure to get right: the next open plays an interrupted
// replacement back like any interrupted save.
#include "platform/paradox/restructure.h"

#include "platform/paradox/error.h"
#include "platform/paradox/journal.h"
#include "platform/paradox/memoryfs.h"
#include "platform/paradox/paradoxtable.h"

#include <functional>
#include <set>

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

std::vector<std::uint8_t> readAll(File& file) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.size()));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t got = file.read(done, bytes.data() + done, bytes.size() - done);
        if (got == 0)
            throw Error("Die Datei endet früher als erwartet");
        done += got;
    }
    return bytes;
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
            const auto bytes = readAll(*fs.open(files[written], OpenMode::ReadOnly));
            auto out = fs.open(targets[written], OpenMode::Create);
            out->write(0, bytes.data(), bytes.size());
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

// Builds the table anew in memory from its records, each widened to fields,
// and replaces its files with the new ones in one journal transaction (the
// caller holds the write lock and has run recovery).
void rebuild(FileSystem& fs, const std::string& path,
             const std::function<std::vector<FieldDef>(const Table&)>& fieldsOf) {
    MemoryFileSystem memory;
    {
        // Read as a reader beside our own write lock; the hold ends before the
        // commit, which waits for every reader.
        auto old = Table::open(path, Access::Read, fs);
        auto steady = old->holdSteady();
        const TableInfo& info = old->info();
        const std::vector<FieldDef> fields = fieldsOf(*old);
        detail::NewTableLayout layout;
        layout.fileVersion = info.fileVersion;
        layout.codePage = info.codePage;
        layout.sortOrderId = info.sortOrderId;
        if (!info.sortOrderName.empty())
            layout.sortOrderName = info.sortOrderName;
        layout.blockSize = info.blockSize;
        detail::ParadoxTable::createTable(memory, path, fields, info.keyFieldCount, layout);
        auto copy = Table::open(path, Access::Write, memory);
        const std::uint32_t count = old->recordCount();
        for (std::uint32_t position = 0; position < count; ++position) {
            Record record = old->read(position, Blobs::Read);
            record.resize(fields.size());
            copy->insert(record);
        }
    }

    // The companions keep the names they have (".PX" stays upper case).
    std::vector<std::string> existing = tableFiles(fs, path);
    auto realName = [&](const std::string& built) {
        for (const std::string& file : existing)
            if (detail::lower(extensionOf(file)) == detail::lower(extensionOf(built)))
                return file;
        return withoutExtension(path) + detail::lower(extensionOf(built));
    };
    Journal journal(fs, path);
    journal.begin();
    try {
        std::set<std::string> replaced;
        for (const std::string& built :
             {withoutExtension(path) + ".px", withoutExtension(path) + ".mb", path}) {
            const auto* bytes = memory.get(built);
            if (!bytes)
                continue;
            const std::string target = built == path ? path : realName(built);
            auto out = journal.open(target, OpenMode::Create);
            out->write(0, bytes->data(), bytes->size());
            replaced.insert(target);
        }
        // Secondary indexes and validity checks describe the old records (and
        // where they lay).
        for (const std::string& file : existing)
            if (!replaced.count(file))
                journal.remove(file);
        journal.commit();
    } catch (...) {
        try {
            journal.rollback();
        } catch (...) {
        }
        throw;
    }
}

std::unique_ptr<Lock> lockAndRecover(FileSystem& fs, const std::string& path) {
    auto writer = Journal::lockForWriting(fs, path);
    if (!writer)
        throw TableInUse();
    Journal::recover(fs, path);
    return writer;
}

} // namespace

void appendFields(const std::string& path, const std::vector<FieldDef>& added, FileSystem& fs) {
    const auto writer = lockAndRecover(fs, path);
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
    const auto writer = lockAndRecover(fs, path);
    // Secondary indexes and validity checks of another Paradox tool would not
    // survive the rebuild; they are the user's work, so the table stays.
    std::string kept;
    for (const std::string& file : tableFiles(fs, path)) {
        const std::string ext = detail::lower(extensionOf(file));
        if (file != path && ext != ".px" && ext != ".mb")
            kept += (kept.empty() ? "" : ", ") + fileNameOf(file);
    }
    if (!kept.empty())
        throw Error(
            "Die Tabelle wird nicht verdichtet: Sekundärindizes und Gültigkeitsprüfungen (" + kept +
            ") gingen dabei verloren. Sie bleibt unverändert.");
    const std::string blobs = blobFileOf(fs, path);
    CompactResult result;
    if (blobs.empty())
        return result;
    result.bytesBefore = fs.open(blobs, OpenMode::ReadOnly)->size();
    rebuild(fs, path, [](const Table& old) { return old.info().fields; });
    result.bytesAfter = fs.open(blobs, OpenMode::ReadOnly)->size();
    return result;
}

} // namespace px
