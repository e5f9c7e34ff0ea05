// The one implementation of px::Table. Internal to the engine.
//
// On-disk invariants this code keeps for every table it changes:
//  - the data blocks of the chain (header 0x0E -> next ...) hold every record
//    exactly once; each block holds 1..maxPerBlock records back to back, and
//    the sum over the chain equals the header's record count;
//  - keyed tables: records ascend by key within each block and along the chain;
//  - wholly empty blocks leave the chain and go on the free list (header 0x4D);
//  - the .px holds one leaf entry per chain block (its first key, block number
//    and record count), in chain order, under upper levels whose entries name
//    the first key and record total of the node below;
//  - a blob that is not in its record's leader lives in exactly one .mb
//    block (type 2) or slot (type 3) that no other record names.
#pragma once

#include "platform/paradox/codec.h"
#include "platform/paradox/collation.h"
#include "platform/paradox/journal.h"
#include "platform/paradox/table.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace px::detail {

inline std::uint16_t get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
// The shorts of index entries: big-endian with the top bit flipped. A record
// count is signed; a block number is not (a table has up to 65,535 blocks, so
// reading one as signed turns every block from 32,768 on negative).
inline int getIndexShort(const std::uint8_t* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(((p[0] << 8) | p[1]) ^ 0x8000));
}
inline int getIndexBlock(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(((p[0] << 8) | p[1]) ^ 0x8000);
}
// v: a count in -32768..32767 or a block number in 0..65535.
inline void putIndexShort(std::uint8_t* p, int v) {
    const auto u = static_cast<std::uint16_t>(static_cast<std::uint16_t>(v) ^ 0x8000);
    p[0] = static_cast<std::uint8_t>(u >> 8);
    p[1] = static_cast<std::uint8_t>(u);
}

int fieldBytes(FieldType type, int size); // bytes a field occupies in a record
bool isBlobType(FieldType type);
bool knownFieldType(int code);
int minimumLevel(FieldType type); // file version byte that first holds the kind
std::string levelName(int fileVersion);
std::string lower(std::string s);

// Parsed .db header; raw keeps every byte so that rewriting it loses nothing.
struct DbHeader {
    std::vector<std::uint8_t> raw;
    int recordSize = 0;
    int headerSize = 0;
    int fileType = 0;
    int blockSize = 0;
    std::uint32_t numRecords = 0;
    int fileBlocks = 0;
    int firstBlock = 0;
    int lastBlock = 0;
    int keyFields = 0;
    int fileVersion = 0;
    int sortOrderId = 0;
    std::string sortOrderName;
    int codePageRaw = 0;
    int freeBlock = 0;
    std::uint32_t autoInc = 0;
    std::uint32_t scrambleKey = 0; // non-zero: protected by a password, blocks scrambled
    std::vector<FieldDef> fields;
    std::vector<int> offsets; // of each field in a record
    int keyBytes = 0;         // bytes of the key fields at the start of a record
};

// Parses and validates a .db header (throws px::Error in German).
DbHeader parseDbHeader(const std::vector<std::uint8_t>& raw, std::uint64_t fileSize);
// .px of a table: block size, header, and a whole empty index file.
int indexBlockSize(const DbHeader& h);
std::vector<std::uint8_t> makeIndexHeader(const DbHeader& h, const std::string& indexName,
                                          int blockSize);
std::vector<std::uint8_t> makeEmptyIndex(const DbHeader& h, const std::string& indexName);

class BlobFile;

struct ChainEntry {
    std::uint16_t block = 0;
    std::uint16_t count = 0;
    bool keyKnown = false;
    std::string firstKey; // raw key bytes of the block's first record
};

// What a new table's header takes from elsewhere than its fields: the defaults
// for a new table, or those of a table it is made to replace.
struct NewTableLayout {
    int fileVersion = 9; // level 4
    int codePage = 1252;
    int sortOrderId = 0x62;
    std::string sortOrderName = "ANSIINTL";
    int blockSize = 4096;
};

struct PxNode {
    std::uint16_t block = 0;
    std::uint32_t n = 0; // entries: chain blocks (level 0) or nodes of the level below
    bool dirty = true;
    std::uint16_t writtenNext = 0xFFFF, writtenPrev = 0xFFFF;
};

class ParadoxTable final : public Table {
public:
    // examine: read-only, and a damaged chain or a file cut short is opened
    // all the same, for check() to list what is wrong.
    ParadoxTable(FileSystem& fs, std::string path, Access access, bool examine = false);
    ~ParadoxTable() override;

    const TableInfo& info() const override { return info_; }
    std::uint32_t recordCount() const override { return prefix_.empty() ? 0 : prefix_.back(); }
    bool isUsable() const override { return !reloadFailed_; }
    using Table::read;
    Record read(std::uint32_t position, Blobs blobs) override;
    using Table::readField;
    Value readField(std::uint32_t position, int field, Blobs blobs) override;
    void readBytesInto(std::uint32_t position, int field,
                       const std::function<std::uint8_t*(std::size_t)>& room) override;
    void scanField(int field,
                   const std::function<bool(std::uint32_t, const Value&)>& visit) override;
    std::uint32_t insert(const Record& record) override;
    std::uint32_t update(std::uint32_t position, const Record& record) override;
    void remove(std::uint32_t position) override;
    std::uint32_t lowerBound(const Record& key) override;
    CheckResult check() override;
    std::unique_ptr<Lock> holdSteady() override;
    void beginBatch() override;
    void commitBatch() override;
    void rollbackBatch() override;
    bool canEncode(const std::string& utf8) const override;

    static void createTable(FileSystem& fs, const std::string& path,
                            const std::vector<FieldDef>& fields, int keyFields,
                            const NewTableLayout& layout = {});

private:
    // The contents of a blob field as stored: head, then body. A memo's
    // encoded text (or a copy of another record's blob) is the head alone; a
    // binary or graphic value is the body, borrowed from the record being
    // written for the length of the change, after a picture's prefix as head.
    struct BlobData {
        std::string head;
        std::span<const std::uint8_t> body;
        std::size_t size() const { return head.size() + body.size(); }
        // n bytes from offset from of head and body together, to out.
        void copy(std::size_t from, std::size_t n, std::uint8_t* out) const;
    };
    struct Encoded {
        std::string bytes;                          // the record, blob descriptors still empty
        std::vector<std::optional<BlobData>> blobs; // per field: data to store (null: NULL)
        std::vector<std::optional<BlobRef>> kept;   // per field: stored contents to keep
    };

    void load();
    // A reader's hold: the first takes the readers' lock and reads the table
    // again; reads nest inside it.
    class ReadHold;
    std::unique_ptr<Lock> readLock_;
    int holds_ = 0;
    // The stamps of the table's files when it was read last; trusted only
    // when they tell every later change apart (see takeStamps()).
    std::vector<FileStamp> stamps_;
    bool stampsTrusted_ = false;
    std::vector<FileStamp> currentStamps(bool& known);
    void takeStamps();
    void loadChainFromIndex();
    void walkChain(bool withKeys);
    void rebuildPrefix();
    bool recordsInFile(const std::vector<ChainEntry>& chain) const;
    std::uint64_t blockOffset(int block) const {
        return static_cast<std::uint64_t>(h_.headerSize) +
               static_cast<std::uint64_t>(block - 1) * static_cast<std::size_t>(h_.blockSize);
    }
    const std::vector<std::uint8_t>& readBlock(int block);
    int blockCount(const std::uint8_t* blockData, int block) const;
    std::pair<std::size_t, std::uint32_t> locate(std::uint32_t position) const;
    const std::uint8_t* recordAt(std::uint32_t position);
    bool blockMatches(std::size_t index, const std::uint8_t* blockData) const;
    void fallBackToChain();
    const std::string& firstKey(std::size_t chainIndex);
    Value decodeField(const std::uint8_t* rec, int field, Blobs blobs = Blobs::Read);
    // The bytes of a binary, OLE or graphic field at p (in a record) into room.
    void bytesInto(int field, const std::uint8_t* p,
                   const std::function<std::uint8_t*(std::size_t)>& room);
    // length, when it fits the field's leader (a blob kept in the record).
    std::uint32_t inLeader(const FieldDef& f, int leader, std::uint32_t length) const;
    BlobFile& blobFile() const;
    int compareKeys(const std::uint8_t* a, const std::uint8_t* b) const;
    // Lower bound of key among the records: (chain index, index in block).
    std::pair<std::size_t, std::uint32_t> findKey(const std::uint8_t* key);
    // Raises KeyViolation when a record holds the key of rec already.
    void refuseTakenKey(const std::string& rec);

    Encoded encode(const Record& record, bool forKeyOnly = false);
    void requireWritable();
    bool reloadFailed_ = false; // a failed change could not read the files back
    bool batch_ = false;        // changes join the open transaction until commitBatch()
    void rollBackToDisk();
    [[noreturn]] void failChange(const Error* cause);
    template <class F> auto change(F&& body) -> decltype(body());
    void storeBlobs(Encoded& e, const std::uint8_t* oldRecord);
    void freeBlobs(const std::uint8_t* rec, const std::uint8_t* keep);
    std::uint32_t insertBytes(const std::string& rec);
    void removeAt(std::uint32_t position, bool freeBlobFields);
    void mergeWithNext(std::size_t chainIndex);
    void writeBlock(int block, const std::vector<std::uint8_t>& data);
    void writeLink(int block, int next, int prev, bool setNext, bool setPrev);
    int allocateBlock();
    void releaseBlock(int block);
    void writeHeader();

    // Primary index upkeep.
    void pxInsert(int level, std::size_t index);
    void pxErase(int level, std::size_t index);
    void pxTouchEntry(int level, std::size_t index);
    int pxCapacity() const;
    std::pair<std::size_t, std::size_t> pxNodeOf(int level, std::size_t index) const;
    void pxFixRoot();
    std::uint16_t pxAllocate();
    void pxBuildFresh();
    void pxFlush();

    FileSystem& fs_;
    std::string path_;
    Access access_;
    std::unique_ptr<Lock> lock_;
    std::unique_ptr<Journal> journal_;
    std::unique_ptr<File> db_;
    std::unique_ptr<File> px_;
    std::string pxPath_;
    std::unique_ptr<BlobFile> mb_;
    std::string mbPath_;

    DbHeader h_;
    TableInfo info_;
    std::unique_ptr<Codec> codec_;
    std::unique_ptr<Collation> collation_;
    int maxPerBlock_ = 0;
    int blocksInFile_ = 0;       // what the file size allows (short last block included)
    std::uint64_t fileSize_ = 0; // of the .db when opened
    bool hasBlobs_ = false;
    bool chainFromIndex_ = false; // block list taken from the .px, links not yet seen
    bool examine_ = false;

    std::vector<ChainEntry> chain_;
    std::vector<std::uint32_t> prefix_; // records before chain_[i]; back() = total

    int cacheBlock_ = 0;
    std::vector<std::uint8_t> cache_;

    // .px
    std::vector<std::uint8_t> pxHeader_;
    int pxBlockSize_ = 0;
    int pxFileBlocks_ = 0;
    std::vector<std::vector<PxNode>> pxLevels_;
    std::vector<std::uint16_t> pxFree_;
    std::vector<std::uint16_t> pxCleared_; // freed since the last flush
    std::unordered_map<std::uint16_t, std::vector<std::uint8_t>> pxImage_; // as on disk
    void pxWriteNode(std::uint16_t block, const std::vector<std::uint8_t>& bytes);
    bool pxRebuild_ = false;
    bool pxHeaderDirty_ = false;
};

} // namespace px::detail
