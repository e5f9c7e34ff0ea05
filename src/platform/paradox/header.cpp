// The .db header: fields, level, code page, sort order.
#include "platform/paradox/crypt.h"
#include "platform/paradox/paradoxtable.h"

#include <algorithm>

namespace px::detail {

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool isBlobType(FieldType type) {
    switch (type) {
    case FieldType::Memo:
    case FieldType::Blob:
    case FieldType::FmtMemo:
    case FieldType::OLE:
    case FieldType::Graphic:
        return true;
    default:
        return false;
    }
}

bool knownFieldType(int code) {
    switch (code) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x09:
    case 0x0C:
    case 0x0D:
    case 0x0E:
    case 0x0F:
    case 0x10:
    case 0x14:
    case 0x15:
    case 0x16:
    case 0x17:
    case 0x18:
        return true;
    default:
        return false;
    }
}

int fieldBytes(FieldType type, int size) {
    switch (type) {
    case FieldType::Date:
    case FieldType::Long:
    case FieldType::Time:
    case FieldType::AutoInc:
        return 4;
    case FieldType::Short:
        return 2;
    case FieldType::Money:
    case FieldType::Number:
    case FieldType::Timestamp:
        return 8;
    case FieldType::Logical:
        return 1;
    case FieldType::BCD:
        return 17;
    default:
        return size;
    }
}

int minimumLevel(FieldType type) {
    switch (type) {
    case FieldType::Alpha:
    case FieldType::Date:
    case FieldType::Short:
    case FieldType::Money:
    case FieldType::Number:
        return 3;
    case FieldType::Memo:
    case FieldType::Blob:
    case FieldType::FmtMemo:
    case FieldType::OLE:
    case FieldType::Graphic:
        return 5; // any 4.x version byte
    default:
        return 10;
    }
}

std::string levelName(int v) {
    if (v == 3)
        return "3.0";
    if (v == 4)
        return "3.5";
    if (v <= 9)
        return "4";
    if (v <= 11)
        return "5";
    return "7";
}

namespace {

[[noreturn]] void notATable(const std::string& why) {
    throw Error("Die Datei ist keine gültige Paradox-Tabelle (" + why + ").");
}

} // namespace

DbHeader parseDbHeader(const std::vector<std::uint8_t>& raw, std::uint64_t fileSize) {
    DbHeader h;
    if (raw.size() < 0x58)
        notATable("Dateikopf zu kurz");
    const std::uint8_t* p = raw.data();
    h.recordSize = get16(p);
    h.headerSize = get16(p + 2);
    h.fileType = p[4];
    h.blockSize = p[5] * 1024;
    h.numRecords = get32(p + 6);
    h.fileBlocks = get16(p + 0x0C);
    h.firstBlock = get16(p + 0x0E);
    h.lastBlock = get16(p + 0x10);
    const int numFields = static_cast<std::int16_t>(get16(p + 0x21));
    h.keyFields = static_cast<std::int16_t>(get16(p + 0x23));
    h.sortOrderId = p[0x29];
    h.fileVersion = p[0x39];
    h.autoInc = get32(p + 0x49);
    h.freeBlock = get16(p + 0x4D);

    if (h.fileType != 0 && h.fileType != 2)
        notATable("keine Datentabelle");
    if (h.fileVersion < 3 || h.fileVersion > 12)
        notATable("unbekannte Version");
    if (p[5] < 1 || p[5] > 32)
        notATable("ungültige Blockgröße");
    if (h.headerSize < 0x58 || static_cast<std::uint64_t>(h.headerSize) > fileSize)
        notATable("ungültige Kopfgröße");
    if (numFields < 1 || numFields > 255 || h.recordSize < 1 || h.recordSize > h.blockSize - 6)
        notATable("ungültige Satzlänge oder Feldzahl");
    if (h.keyFields < 0 || h.keyFields > numFields || (h.fileType == 0) != (h.keyFields > 0))
        notATable("ungültige Schlüsselfelder");
    if (raw.size() < static_cast<std::size_t>(h.headerSize))
        notATable("Dateikopf zu kurz");

    const bool dataHeader = h.fileVersion >= 5;
    if (dataHeader && h.headerSize < 0x78) // the data header runs to 0x78
        notATable("Dateikopf zu kurz");
    h.scrambleKey = scrambleKey(p, h.fileVersion);
    if (dataHeader)
        h.codePageRaw = get16(p + 0x6A);

    std::size_t pos = dataHeader ? 0x78 : 0x58;
    const auto end = static_cast<std::size_t>(h.headerSize);
    auto need = [&](std::size_t n) {
        if (pos + n > end)
            notATable("Dateikopf zu kurz");
    };
    need(static_cast<std::size_t>(2 * numFields));
    int total = 0;
    for (int i = 0; i < numFields; ++i) {
        const int code = p[pos + static_cast<std::size_t>(2 * i)];
        const int size = p[pos + static_cast<std::size_t>(2 * i) + 1];
        if (!knownFieldType(code))
            notATable("unbekannte Feldart");
        FieldDef f;
        f.type = static_cast<FieldType>(code);
        f.size = size;
        const int bytes = fieldBytes(f.type, size);
        const bool sizeOk = [&] {
            switch (f.type) {
            case FieldType::Alpha:
            case FieldType::Bytes:
                return size >= 1;
            case FieldType::Memo:
            case FieldType::Blob:
            case FieldType::FmtMemo:
            case FieldType::OLE:
            case FieldType::Graphic:
                return size >= 10;
            case FieldType::BCD:
                return size <= 32;
            default:
                return size == bytes;
            }
        }();
        if (!sizeOk)
            notATable("ungültige Feldgröße");
        h.offsets.push_back(total);
        total += bytes;
        h.fields.push_back(f);
    }
    if (total != h.recordSize)
        notATable("Satzlänge passt nicht zu den Feldern");
    for (int i = 0; i < h.keyFields; ++i) {
        if (isBlobType(h.fields[static_cast<std::size_t>(i)].type))
            notATable("ungültige Schlüsselfelder");
        h.keyBytes += fieldBytes(h.fields[static_cast<std::size_t>(i)].type,
                                 h.fields[static_cast<std::size_t>(i)].size);
    }
    pos += static_cast<std::size_t>(2 * numFields);
    pos += 4;                                       // table name pointer
    pos += static_cast<std::size_t>(4 * numFields); // field name pointers
    pos += h.fileVersion >= 12 ? 261 : 79;          // table name
    need(0);
    for (int i = 0; i < numFields; ++i) {
        std::size_t e = pos;
        while (e < end && p[e] != 0)
            ++e;
        if (e >= end)
            notATable("Feldnamen fehlen");
        h.fields[static_cast<std::size_t>(i)].name.assign(reinterpret_cast<const char*>(p + pos),
                                                          e - pos);
        pos = e + 1;
    }
    if (dataHeader) {
        pos += static_cast<std::size_t>(2 * numFields); // field numbers
        if (pos < end) {
            std::size_t e = pos;
            while (e < end && p[e] != 0)
                ++e;
            h.sortOrderName.assign(reinterpret_cast<const char*>(p + pos), e - pos);
        }
    }
    h.raw = raw;
    return h;
}

} // namespace px::detail
