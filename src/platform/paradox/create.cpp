// Creating a new, empty table.
#include "platform/paradox/blob.h"
#include "platform/paradox/paradoxtable.h"

#include <algorithm>
#include <ctime>

namespace px::detail {
namespace {

// Leader sizes for memo and graphic fields declared without a size; the
// reasons are in docs/paradox-engine.md.
constexpr int kDefaultMemoBytes = 10 + 40;
constexpr int kDefaultGraphicBytes = 10 + 0;

constexpr int kNewVersion = 9; // level 4
constexpr int kNewBlockSize = 4096;

std::string baseOf(const std::string& path) {
    std::string name = fileNameOf(path);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name;
}

} // namespace

void ParadoxTable::createTable(FileSystem& fs, const std::string& path,
                               const std::vector<FieldDef>& declared, int keyFields,
                               const NewTableLayout& layout) {
    if (declared.empty())
        throw Error("Die Tabelle braucht mindestens ein Feld.");
    if (declared.size() > 255)
        throw Error("Eine Tabelle kann höchstens 255 Felder haben.");
    if (keyFields < 0 || keyFields > static_cast<int>(declared.size()) || keyFields > 16)
        throw Error("Der Primärschlüssel kann höchstens 16 Felder umfassen.");

    Codec codec(layout.codePage);
    std::vector<FieldDef> fields = declared;
    std::vector<std::string> names;
    // Level 3 tables have no place for a code page: a copy becomes level 4.
    int version = std::max(layout.fileVersion, kNewVersion);
    int recordSize = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        FieldDef& f = fields[i];
        std::string name, bad;
        if (f.name.empty() || !codec.encode(f.name, name, bad) || name.size() > 25)
            throw Error("Der Feldname \"" + f.name + "\" ist ungültig.");
        for (const auto& other : names)
            if (lower(other) == lower(name))
                throw Error("Der Feldname \"" + f.name + "\" kommt doppelt vor.");
        names.push_back(name);
        if (!knownFieldType(static_cast<int>(f.type)))
            throw Error("Das Feld \"" + f.name + "\" hat eine unbekannte Art.");
        version = std::max(version, minimumLevel(f.type) > 9 ? 11 : kNewVersion);
        switch (f.type) {
        case FieldType::Alpha:
        case FieldType::Bytes:
            if (f.size < 1 || f.size > 255)
                throw Error("Das Feld \"" + f.name + "\" muss 1 bis 255 Zeichen groß sein.");
            break;
        case FieldType::Memo:
            if (f.size == 0)
                f.size = kDefaultMemoBytes;
            if (f.size < 11 || f.size > 250)
                throw Error("Die Größe des Memofeldes \"" + f.name + "\" ist ungültig.");
            break;
        case FieldType::Graphic:
        case FieldType::Blob:
        case FieldType::FmtMemo:
        case FieldType::OLE:
            if (f.size == 0)
                f.size = kDefaultGraphicBytes;
            if (f.size < 10 || f.size > 250)
                throw Error("Die Größe des Feldes \"" + f.name + "\" ist ungültig.");
            break;
        case FieldType::BCD:
            if (f.size < 0 || f.size > 32)
                throw Error("Die Nachkommastellen des Feldes \"" + f.name + "\" sind ungültig.");
            break;
        default:
            f.size = fieldBytes(f.type, 0);
            break;
        }
        if (static_cast<int>(i) < keyFields && isBlobType(f.type))
            throw Error("Das Feld \"" + f.name + "\" kann nicht zum Schlüssel gehören.");
        recordSize += fieldBytes(f.type, f.size);
    }
    int blockSize = layout.blockSize;
    if (recordSize > blockSize - 6)
        blockSize = std::max(blockSize, kNewBlockSize);
    if (recordSize > blockSize - 6)
        throw Error("Die Datensätze der Tabelle wären zu lang.");
    const bool hasBlobs = std::any_of(fields.begin(), fields.end(),
                                      [](const FieldDef& f) { return isBlobType(f.type); });

    // The header.
    const int n = static_cast<int>(fields.size());
    const std::size_t nameBytes = version >= 12 ? 261 : 79;
    std::vector<std::uint8_t> h(static_cast<std::size_t>(0x78 + 2 * n + 4 + 4 * n) + nameBytes, 0);
    std::uint8_t* p = h.data();
    put16(p, static_cast<std::uint32_t>(recordSize));
    p[4] = keyFields > 0 ? 0 : 2;
    p[5] = static_cast<std::uint8_t>(blockSize / 1024);
    put16(p + 0x12, 12);
    put16(p + 0x21, static_cast<std::uint32_t>(n));
    put16(p + 0x23, static_cast<std::uint32_t>(keyFields));
    put32(p + 0x25, 0xFF00FF00);
    p[0x29] = static_cast<std::uint8_t>(layout.sortOrderId);
    p[0x2D] = 2;
    p[0x2E] = 2;
    p[0x39] = static_cast<std::uint8_t>(version);
    p[0x3E] = 0x1F;
    p[0x3F] = 0x0F;
    p[0x56] = 0x20;
    const std::uint32_t versionWord = version >= 12 ? 0x010C : (version >= 10 ? 0x010B : 0x0109);
    put16(p + 0x58, versionWord);
    put16(p + 0x5A, versionWord);
    put32(p + 0x60, static_cast<std::uint32_t>(std::time(nullptr)));
    put16(p + 0x64, static_cast<std::uint32_t>(n + 1));
    put16(p + 0x6A, static_cast<std::uint32_t>(layout.codePage));
    p[0x6C] = 1;
    p[0x6D] = 1;
    for (int i = 0; i < n; ++i) {
        p[0x78 + 2 * i] = static_cast<std::uint8_t>(fields[static_cast<std::size_t>(i)].type);
        p[0x78 + 2 * i + 1] = static_cast<std::uint8_t>(fields[static_cast<std::size_t>(i)].size);
    }
    const std::size_t tableName = static_cast<std::size_t>(0x78 + 2 * n + 4 + 4 * n);
    const std::string name = fileNameOf(path).substr(0, nameBytes - 1); // as Paradox writes it
    std::string encodedName, bad;
    if (codec.encode(name, encodedName, bad))
        std::memcpy(&h[tableName], encodedName.data(),
                    std::min<std::size_t>(encodedName.size(), nameBytes - 1));
    for (const auto& fieldName : names) {
        h.insert(h.end(), fieldName.begin(), fieldName.end());
        h.push_back(0);
    }
    const std::size_t numbers = h.size();
    for (int i = 0; i < n; ++i) {
        h.push_back(static_cast<std::uint8_t>(i + 1));
        h.push_back(0);
    }
    const std::size_t sortName = h.size();
    h.insert(h.end(), layout.sortOrderName.begin(), layout.sortOrderName.end());
    h.push_back(0);
    const std::size_t used = h.size();
    const std::size_t headerSize = (used + 0x7FF) / 0x800 * 0x800;
    if (headerSize > 0xF800)
        throw Error("Die Feldbeschreibungen der Tabelle sind zu lang.");
    h.resize(headerSize, 0);
    p = h.data();
    put16(p + 2, static_cast<std::uint32_t>(headerSize));
    put16(p + 0x51, static_cast<std::uint32_t>(used));
    put16(p + 0x66, static_cast<std::uint32_t>(numbers - 0x58));
    put16(p + 0x6E, static_cast<std::uint32_t>(sortName - 0x58));

    // Only one writer at a time, also while the table is made: its lock lives
    // on the .db, so a new table starts as an empty file (gone again should
    // the table not come about).
    bool madeEmpty = false;
    if (!fs.exists(path)) {
        fs.open(path, OpenMode::Create);
        madeEmpty = true;
    }
    auto lock = Journal::lockForWriting(fs, path);
    if (!lock)
        throw TableInUse();
    auto dropEmpty = [&] {
        if (madeEmpty) {
            try {
                if (fs.open(path, OpenMode::ReadOnly)->size() == 0)
                    fs.remove(path);
            } catch (const Error&) {
            }
        }
    };

    // One transaction: whatever belonged to an earlier table of this name
    // (index, blobs, secondary indexes, validity checks) goes, and until the
    // commit the old table stays restorable.
    Journal::removeJournal(fs, path);
    Journal journal(fs, path);
    journal.begin();
    try {
        for (const std::string& stale : Journal::companionFiles(fs, path))
            journal.remove(stale);
        const std::string stem =
            path.substr(0, path.size() - fileNameOf(path).size()) + baseOf(path);
        auto db = journal.open(path, OpenMode::Create);
        db->write(0, h.data(), h.size());
        if (hasBlobs) {
            auto mb = journal.open(stem + ".mb", OpenMode::Create);
            BlobFile::initialise(*mb);
        }
        if (keyFields > 0) {
            const DbHeader parsed = parseDbHeader(h, h.size());
            const std::string pxPath = stem + ".px";
            const auto index = makeEmptyIndex(parsed, fileNameOf(pxPath));
            auto px = journal.open(pxPath, OpenMode::Create);
            px->write(0, index.data(), index.size());
        }
        journal.commit();
    } catch (...) {
        try {
            journal.rollback();
        } catch (...) {
        }
        dropEmpty();
        throw;
    }
}

} // namespace px::detail
