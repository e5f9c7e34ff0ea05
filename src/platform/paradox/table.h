// A Paradox table (.db with its .px and .mb companions), read and changed in place.
//
// Positions are 0-based and count records in key order (physical chain order
// for unkeyed tables). Text is UTF-8 on this side and the table's code page on
// disk.
#pragma once

#include "platform/paradox/error.h"
#include "platform/paradox/io.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace px {

enum class FieldType : std::uint8_t {
    Alpha = 0x01,
    Date = 0x02,
    Short = 0x03,
    Long = 0x04,
    Money = 0x05,
    Number = 0x06,
    Logical = 0x09,
    Memo = 0x0C,
    Blob = 0x0D,
    FmtMemo = 0x0E,
    OLE = 0x0F,
    Graphic = 0x10,
    Time = 0x14,
    Timestamp = 0x15,
    AutoInc = 0x16,
    BCD = 0x17,
    Bytes = 0x18,
};

struct FieldDef {
    std::string name;
    FieldType type = FieldType::Alpha;
    int size = 0; // bytes in the record (BCD: number of decimals)
};

// Day number of a date: 1 = 1 January 0001 (proleptic Gregorian).
struct Date {
    std::int32_t day = 0;
    friend bool operator==(Date, Date) = default;
};
struct TimeOfDay {
    std::int32_t ms = 0;
    friend bool operator==(TimeOfDay, TimeOfDay) = default;
};
struct Timestamp {
    double ms = 0; // day number * 86'400'000 + milliseconds of the day
    friend bool operator==(Timestamp, Timestamp) = default;
};
// A timestamp as its day number and the milliseconds of that day. Nothing when
// the value can be no timestamp (not finite, or a day number beyond 32 bits),
// as a damaged field may hold: callers show such a value as a plain number.
struct DayAndTime {
    std::int32_t day = 0;
    std::int32_t ms = 0; // 0..86'399'999
};
std::optional<DayAndTime> splitTimestamp(Timestamp t);

struct Decimal {
    std::string text; // BCD value as plain decimal text, e.g. "-1.23"
    friend bool operator==(const Decimal&, const Decimal&) = default;
};
using Bytes = std::vector<std::uint8_t>;

// The contents of a binary, OLE or graphic field left where they are in the
// .mb: the block pointer, the length and the field's modification number, as
// the record's descriptor holds them. readField reads the bytes; handed back
// unchanged to update(), it keeps the stored contents without reading them.
struct BlobRef {
    std::uint32_t pointer = 0;
    std::uint32_t length = 0;
    std::uint16_t modification = 0;
    friend bool operator==(const BlobRef&, const BlobRef&) = default;
};

// One field value. monostate is NULL (for alpha fields: the empty text).
// Alpha and memo values are UTF-8 text; formatted memo, binary, OLE, graphic
// and bytes fields are Bytes (graphic: the image without the 8-byte prefix),
// or a BlobRef where the record was read with Blobs::Refer.
using Value = std::variant<std::monostate, std::string, std::int64_t, double, bool, Date, TimeOfDay,
                           Timestamp, Decimal, Bytes, BlobRef>;

// How read() gives binary, OLE and graphic fields kept in the .mb: their
// bytes, or a BlobRef without reading the .mb at all (memos are always read).
enum class Blobs { Read, Refer };
using Record = std::vector<Value>;

struct TableInfo {
    int fileVersion = 0;   // header byte 0x39 (3..12)
    std::string levelName; // "3.0", "3.5", "4", "5", "7"
    int codePage = 0;      // as used for decoding (437 when the header has none)
    int sortOrderId = 0;   // header byte 0x29
    std::string sortOrderName;
    int blockSize = 0;     // bytes
    int keyFieldCount = 0; // 0 for unkeyed tables
    int indexLevels = 0;   // of the .px, 0 without one
    std::vector<FieldDef> fields;
};

enum class Access { Read, Write };

// The file a table's name stands for: a name without an extension names
// NAME.db, or NAME.DB where only that one exists (tables made on DOS and
// Windows, whose file names carry no case).
std::string tableFileName(std::string name);

class Table {
public:
    // Opens a table. Access::Write takes the table's write lock, runs recovery
    // of a left-over journal first and refuses a table another program writes.
    // A damaged table is refused (px::Error) when what opening touches shows
    // it: a file shorter than its blocks say, a chain whose links or record
    // total disagree with the header. Opening through the index reads no
    // data block; damage found later makes reading and changing fail.
    static std::unique_ptr<Table> open(const std::string& path, Access access,
                                       FileSystem& fs = defaultFileSystem());

    // Opens a table for reading, also when open() refuses it as damaged (its
    // file cut short, its chain not matching its header), so that check()
    // can list what is wrong. Reading it may then fail or give blank values.
    static std::unique_ptr<Table> openForCheck(const std::string& path,
                                               FileSystem& fs = defaultFileSystem());

    // Creates a new, empty table (level 4, 4 KiB blocks, code page 1252, sort
    // order ANSI INTL), replacing the table and all its companions and journal
    // at that path. keyFields: the first n fields form the primary key.
    static void create(const std::string& path, const std::vector<FieldDef>& fields, int keyFields,
                       FileSystem& fs = defaultFileSystem());

    // Deletes a table's file (and a journal left beside it) while holding
    // the table's write lock, so a table another program has open for writing
    // is never deleted: that refusal is px::TableInUse. No error when the
    // file is missing. Its companions stay for create() to replace.
    static void deleteFile(const std::string& path, FileSystem& fs = defaultFileSystem());

    virtual ~Table() = default;

    virtual const TableInfo& info() const = 0;
    virtual std::uint32_t recordCount() const = 0;
    int fieldIndex(const std::string& name) const; // -1 when missing (case ignored)

    // Reads records and fields by position; blobs are read from the .mb, or
    // for Blobs::Refer only referred to (see BlobRef).
    virtual Record read(std::uint32_t position, Blobs blobs) = 0;
    Record read(std::uint32_t position) { return read(position, Blobs::Read); }
    virtual Value readField(std::uint32_t position, int field, Blobs blobs) = 0;
    Value readField(std::uint32_t position, int field) {
        return readField(position, field, Blobs::Read);
    }
    // The bytes of a binary, OLE or graphic field (a picture without its
    // prefix) read from the .mb straight into memory the caller owns:
    // room(n) gives n writable bytes. Nothing is asked for an empty field.
    // Spares the copy from a Bytes value into the caller's own buffer.
    virtual void readBytesInto(std::uint32_t position, int field,
                               const std::function<std::uint8_t*(std::size_t)>& room) = 0;
    // Calls visit for every record in key order with one field's value, reading
    // nothing else; stops early when visit returns false.
    virtual void scanField(int field,
                           const std::function<bool(std::uint32_t, const Value&)>& visit) = 0;

    // Readers: while the returned object lives, no other program commits a
    // change, so every read in between sees one state of the table (read
    // again from disk when the hold begins). A read outside such a hold takes
    // one for itself. Hold briefly: another program's save waits for it
    // (Journal::kCommitWaitMs at most, then that save is refused). Throws
    // px::Error when a commit in flight does not end in time. On a table
    // opened for writing it holds nothing: nobody else commits.
    virtual std::unique_ptr<Lock> holdSteady() = 0;

    // Changes. Each returns the position the record has afterwards and is
    // atomic: on an error nothing has changed. KeyViolation when another
    // record has the same key fields (exact text). A BlobRef in update() that
    // is the record's own keeps its contents unread; any other BlobRef is
    // copied from where it points.
    virtual std::uint32_t insert(const Record& record) = 0;
    virtual std::uint32_t update(std::uint32_t position, const Record& record) = 0;
    virtual void remove(std::uint32_t position) = 0;

    // Batches: the changes between beginBatch() and commitBatch() form one
    // transaction of the journal, so many records cost one journal write and
    // one round of syncs instead of one each. A change its own checks refuse
    // (key, field size, code page) leaves the batch as it was; any other
    // failure rolls back the whole batch, ends it and raises StorageFailure.
    // A crash leaves the table as after the last committed batch; a batch
    // still open when the table is closed is rolled back.
    virtual void beginBatch() {}
    virtual void commitBatch() {}
    virtual void rollbackBatch() {}

    // True when every character of the UTF-8 text has a place in the table's
    // code page.
    virtual bool canEncode(const std::string& /*utf8*/) const { return true; }

    // Position of the first record whose key is not less than the key fields
    // of record (the lower bound), or recordCount() when there is none.
    virtual std::uint32_t lowerBound(const Record& key) = 0;

    // Checks the whole table; returns problems (empty when sound) and
    // warnings (a key order that differs from ours only by collation).
    struct CheckResult {
        std::vector<std::string> problems;
        std::vector<std::string> warnings;
    };
    virtual CheckResult check() = 0;

    // False once a failed change could not even read the table back: nothing
    // the table says then is true any more, and every change is refused until
    // it is opened again.
    virtual bool isUsable() const { return true; }
};

} // namespace px
