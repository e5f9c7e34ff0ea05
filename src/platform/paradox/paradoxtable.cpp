// Opening and reading a table.
#include "platform/paradox/paradoxtable.h"

#include "platform/paradox/blob.h"
#include "platform/paradox/crypt.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace px {
namespace detail {
namespace {

constexpr int kMaxIndexLevels = 8;

double decodeDouble(const std::uint8_t* p) {
    std::uint8_t b[8];
    std::copy(p, p + 8, b);
    if (b[0] & 0x80)
        b[0] &= 0x7F;
    else
        for (auto& x : b)
            x = static_cast<std::uint8_t>(~x);
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i)
        bits = (bits << 8) | b[i];
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

std::int64_t decodeInt(const std::uint8_t* p, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    v ^= 1ull << (8 * n - 1);
    // sign-extend
    const int shift = 64 - 8 * n;
    return static_cast<std::int64_t>(v << shift) >> shift;
}

bool allZero(const std::uint8_t* p, int n) {
    for (int i = 0; i < n; ++i)
        if (p[i])
            return false;
    return true;
}

std::string decodeBcd(const std::uint8_t* p, int decimals) {
    const bool positive = p[0] & 0x80;
    const int stored = p[0] & 0x3F;
    if (stored >= 0 && stored <= 32)
        decimals = stored;
    std::string digits;
    for (int i = 1; i < 17; ++i) {
        int hi = p[i] >> 4, lo = p[i] & 0xF;
        if (!positive) {
            hi = 15 - hi;
            lo = 15 - lo;
        }
        digits += static_cast<char>('0' + std::min(hi, 9));
        digits += static_cast<char>('0' + std::min(lo, 9));
    }
    std::string whole = digits.substr(0, static_cast<std::size_t>(32 - decimals));
    std::string frac = digits.substr(static_cast<std::size_t>(32 - decimals));
    const auto nz = whole.find_first_not_of('0');
    whole = nz == std::string::npos ? "0" : whole.substr(nz);
    std::string text = whole;
    if (!frac.empty())
        text += "." + frac;
    if (!positive && text.find_first_not_of("0.") != std::string::npos)
        text = "-" + text;
    return text;
}

DbHeader readHeader(File& file) {
    const std::uint64_t fileSize = file.size();
    std::vector<std::uint8_t> head(0x58);
    if (file.read(0, head.data(), head.size()) != head.size())
        throw Error("Die Datei ist keine gültige Paradox-Tabelle (Datei zu kurz).");
    const int headerSize = get16(&head[2]);
    if (headerSize > 0x58) {
        head.resize(static_cast<std::size_t>(headerSize));
        file.read(0, head.data(), head.size());
    }
    return parseDbHeader(head, fileSize);
}

} // namespace

ParadoxTable::ParadoxTable(FileSystem& fs, std::string path, Access access, bool examine)
    : fs_(fs), path_(std::move(path)), access_(examine ? Access::Read : access), examine_(examine) {
    if (access_ == Access::Write) {
        // The error for a file that is missing or no table comes first (a
        // journal left behind is to make it whole again first, though).
        if (!Journal::needsRecovery(fs_, path_) &&
            readHeader(*fs_.open(path_, OpenMode::ReadOnly)).scrambleKey != 0)
            refuseWriting(); // before a lock or journal touches the directory
        lock_ = Journal::lockForWriting(fs_, path_);
        if (!lock_)
            throw TableInUse();
        Journal::recover(fs_, path_);
        journal_ = std::make_unique<Journal>(fs_, path_);
        db_ = journal_->wrap(fs_.open(path_, OpenMode::ReadWrite), path_);
        load();
    } else {
        fs_.open(path_, OpenMode::ReadOnly); // a missing file says so, not its lock
        holdSteady();                        // opens and reads the table
    }
}

class ParadoxTable::ReadHold final : public Lock {
public:
    explicit ReadHold(ParadoxTable& table) : table_(table) {}
    ~ReadHold() override {
        if (--table_.holds_ == 0)
            table_.readLock_.reset();
    }

private:
    ParadoxTable& table_;
};

std::unique_ptr<Lock> ParadoxTable::holdSteady() {
    if (access_ == Access::Write)
        return std::make_unique<Lock>();
    if (holds_ == 0) {
        readLock_ = Journal::lockForReading(fs_, path_);
        try {
            // Another program may have committed since the last hold; what
            // was read then (chain, counts, keys, cached blocks) would be
            // stale. The file at the path may even be another one now.
            bool known = false;
            if (!stampsTrusted_ || currentStamps(known) != stamps_ || !known) {
                db_ = fs_.open(path_, OpenMode::ReadOnly);
                load();
            }
            takeStamps();
        } catch (...) {
            readLock_.reset();
            stampsTrusted_ = false;
            throw;
        }
    }
    ++holds_;
    return std::make_unique<ReadHold>(*this);
}

std::vector<FileStamp> ParadoxTable::currentStamps(bool& known) {
    std::vector<FileStamp> stamps;
    known = true;
    for (const std::string* path : {&path_, &pxPath_, &mbPath_}) {
        FileStamp stamp;
        if (!path->empty())
            known = fs_.stamp(*path, stamp) && known;
        stamps.push_back(stamp);
    }
    return stamps;
}

// Every write sets a file's change time, but from a clock that may advance
// only every few milliseconds: two commits within one tick could leave equal
// stamps. So stamps younger than a safe margin prove nothing, and the next
// hold reads the table again (as git treats "racily clean" files).
void ParadoxTable::takeStamps() {
    bool known = false;
    stamps_ = currentStamps(known);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto margin = std::chrono::milliseconds(200);
    stampsTrusted_ = known;
    for (const FileStamp& stamp : stamps_) {
        const auto changed = std::chrono::seconds(stamp.changedSeconds) +
                             std::chrono::nanoseconds(stamp.changedNanoseconds);
        if (stamp.exists && changed + margin > now)
            stampsTrusted_ = false;
    }
}

ParadoxTable::~ParadoxTable() = default;

void ParadoxTable::load() {
    cacheBlock_ = 0;
    chain_.clear();
    prefix_.clear();
    pxLevels_.clear();
    pxFree_.clear();
    pxCleared_.clear();
    pxImage_.clear();
    pxRebuild_ = false;
    px_.reset();
    mb_.reset();

    const std::uint64_t fileSize = db_->size();
    h_ = readHeader(*db_);
    // db_ is the file as opened: a protected table is read through a view
    // that unscrambles its blocks (and writes nothing).
    if (h_.scrambleKey != 0) {
        if (access_ == Access::Write)
            refuseWriting();
        db_ = unscrambledDb(std::move(db_), h_.headerSize, h_.blockSize, h_.scrambleKey);
    }
    maxPerBlock_ = (h_.blockSize - 6) / h_.recordSize;
    blocksInFile_ = static_cast<int>(
        std::min<std::uint64_t>((fileSize - static_cast<std::size_t>(h_.headerSize) +
                                 static_cast<std::size_t>(h_.blockSize) - 1) /
                                    static_cast<std::size_t>(h_.blockSize),
                                0xFFFF));
    // A block count beyond the file's real size says nothing: new blocks
    // follow the last one there is (and the header says so at the next change).
    if (h_.fileBlocks > blocksInFile_)
        h_.fileBlocks = blocksInFile_;

    const int codePage = h_.codePageRaw == 0 ? 437 : h_.codePageRaw;
    codec_ = std::make_unique<Codec>(codePage);
    collation_ = std::make_unique<Collation>(h_.sortOrderName, h_.sortOrderId, *codec_);
    for (auto& f : h_.fields)
        f.name = codec_->decode(f.name);

    info_ = TableInfo{};
    info_.fileVersion = h_.fileVersion;
    info_.levelName = levelName(h_.fileVersion);
    info_.codePage = codePage;
    info_.sortOrderId = h_.sortOrderId;
    info_.sortOrderName = h_.sortOrderName;
    info_.blockSize = h_.blockSize;
    info_.keyFieldCount = h_.keyFields;
    info_.fields = h_.fields;
    hasBlobs_ = std::any_of(h_.fields.begin(), h_.fields.end(),
                            [](const FieldDef& f) { return isBlobType(f.type); });

    // Companions. A .px is only a help for finding blocks: when it is missing
    // or does not match, the chain is walked instead.
    if (h_.keyFields > 0) {
        pxPath_ = findCompanion(fs_, path_, ".px");
        if (pxPath_.empty() && access_ == Access::Write) {
            std::string base = path_;
            const auto dot = base.find_last_of('.');
            if (dot != std::string::npos && base.find('/', dot) == std::string::npos)
                base.resize(dot);
            pxPath_ = base + ".px";
        }
    }
    if (hasBlobs_) {
        mbPath_ = findCompanion(fs_, path_, ".mb");
        if (mbPath_.empty() && access_ == Access::Write) {
            std::string base = path_;
            const auto dot = base.find_last_of('.');
            if (dot != std::string::npos && base.find('/', dot) == std::string::npos)
                base.resize(dot);
            mbPath_ = base + ".mb";
            auto created = fs_.open(mbPath_, OpenMode::Create);
            BlobFile::initialise(*created);
            created->sync();
        }
        if (!mbPath_.empty()) {
            if (access_ == Access::Write)
                mb_ = std::make_unique<BlobFile>(
                    journal_->wrap(fs_.open(mbPath_, OpenMode::ReadWrite), mbPath_));
            else if (h_.scrambleKey != 0)
                mb_ = std::make_unique<BlobFile>(
                    unscrambledMb(fs_.open(mbPath_, OpenMode::ReadOnly), h_.scrambleKey));
            else
                mb_ = std::make_unique<BlobFile>(fs_.open(mbPath_, OpenMode::ReadOnly));
        }
    }

    bool fromIndex = false;
    // The .px of a protected table is scrambled as well; the chain will do.
    if (h_.keyFields > 0 && h_.scrambleKey == 0 && !pxPath_.empty() && fs_.exists(pxPath_)) {
        try {
            if (access_ == Access::Write)
                px_ = journal_->wrap(fs_.open(pxPath_, OpenMode::ReadWrite), pxPath_);
            else
                px_ = fs_.open(pxPath_, OpenMode::ReadOnly);
            loadChainFromIndex();
            fromIndex = true;
        } catch (const Error&) {
            chain_.clear();
            pxLevels_.clear();
            if (access_ == Access::Read)
                px_.reset();
        }
    }
    // Every record the chain claims must lie inside the file: a table cut
    // short must not read as blank records (and be written to). The index
    // counts do for this check without reading a block; should they not fit,
    // the chain itself decides.
    fileSize_ = fileSize;
    if (fromIndex && !recordsInFile(chain_)) {
        chain_.clear();
        pxLevels_.clear();
        fromIndex = false;
        if (access_ == Access::Read)
            px_.reset();
    }
    if (fromIndex && access_ == Access::Write) {
        // Before changing anything, make sure the index told the truth about
        // the chain: a wrong neighbour would be linked into the chain for good.
        std::vector<ChainEntry> fromPx = std::move(chain_);
        walkChain(false);
        bool same = fromPx.size() == chain_.size();
        for (std::size_t i = 0; same && i < chain_.size(); ++i)
            same = fromPx[i].block == chain_[i].block && fromPx[i].count == chain_[i].count;
        if (same)
            chain_ = std::move(fromPx);
        else
            fromIndex = false;
    } else if (!fromIndex) {
        walkChain(false);
    }
    if (!examine_ && !recordsInFile(chain_))
        throw Error("Die Tabelle ist beschädigt: die Datei ist kürzer, als ihre Blöcke angeben.");
    if (h_.keyFields > 0 && access_ == Access::Write) {
        if (!px_) {
            px_ = journal_->wrap(fs_.open(pxPath_, OpenMode::Create), pxPath_);
            fromIndex = false;
        }
        if (!fromIndex) {
            pxLevels_.clear();
            pxRebuild_ = true;
        }
    }
    info_.indexLevels = static_cast<int>(pxLevels_.size());
    chainFromIndex_ = fromIndex;
    rebuildPrefix();
}

bool ParadoxTable::recordsInFile(const std::vector<ChainEntry>& chain) const {
    for (const ChainEntry& e : chain)
        if (blockOffset(e.block) + 6 +
                static_cast<std::uint64_t>(e.count) * static_cast<std::size_t>(h_.recordSize) >
            fileSize_)
            return false;
    return true;
}

void ParadoxTable::rebuildPrefix() {
    prefix_.assign(chain_.size() + 1, 0);
    for (std::size_t i = 0; i < chain_.size(); ++i)
        prefix_[i + 1] = prefix_[i] + chain_[i].count;
}

int ParadoxTable::blockCount(const std::uint8_t* data, int block) const {
    const auto last = static_cast<std::int16_t>(get16(data + 4));
    if (last < 0)
        return 0;
    if (last % h_.recordSize != 0 || last / h_.recordSize + 1 > maxPerBlock_)
        throw Error("Die Tabelle ist beschädigt: Block " + std::to_string(block) +
                    " hat eine ungültige Satzzahl.");
    return last / h_.recordSize + 1;
}

void ParadoxTable::walkChain(bool withKeys) {
    // Built aside and taken over only when complete: a damaged chain found on
    // the way must not leave a half-walked chain behind the record counts.
    std::vector<ChainEntry> chain;
    if (h_.firstBlock == 0 && h_.numRecords == 0) {
        chain_.clear();
        return;
    }
    std::vector<bool> seen(static_cast<std::size_t>(blocksInFile_) + 1, false);
    int block = h_.firstBlock, prev = 0;
    std::uint64_t total = 0;
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(6 + (withKeys ? h_.recordSize : 0)));
    while (block != 0) {
        // Examined tables keep the chain up to the damage; check() names it.
        if (block < 0 || block > blocksInFile_) {
            if (examine_)
                break;
            throw Error("Die Tabelle ist beschädigt: die Blockkette zeigt aus der Datei hinaus.");
        }
        if (seen[static_cast<std::size_t>(block)]) {
            if (examine_)
                break;
            throw Error("Die Tabelle ist beschädigt: die Blockkette läuft im Kreis.");
        }
        seen[static_cast<std::size_t>(block)] = true;
        std::fill(buf.begin(), buf.end(), 0);
        db_->read(blockOffset(block), buf.data(), buf.size());
        // What check() would find on the way is found here too.
        if (get16(&buf[2]) != prev && !examine_)
            throw Error("Die Tabelle ist beschädigt: Block " + std::to_string(block) +
                        " verweist nicht auf seinen Vorgänger.");
        ChainEntry e;
        e.block = static_cast<std::uint16_t>(block);
        try {
            e.count = static_cast<std::uint16_t>(blockCount(buf.data(), block));
        } catch (const Error&) {
            if (examine_)
                break;
            throw;
        }
        total += e.count;
        if (withKeys) {
            e.firstKey.assign(reinterpret_cast<const char*>(&buf[6]),
                              static_cast<std::size_t>(h_.keyBytes));
            e.keyKnown = true;
        }
        // Empty blocks inside a chain are legal for other writers; we skip them.
        if (e.count > 0)
            chain.push_back(std::move(e));
        prev = block;
        block = get16(buf.data());
    }
    if (total != h_.numRecords && !examine_)
        throw Error("Die Tabelle ist beschädigt: der Dateikopf nennt " +
                    std::to_string(h_.numRecords) + " Datensätze, die Blöcke enthalten " +
                    std::to_string(total) + ".");
    chain_ = std::move(chain);
}

void ParadoxTable::loadChainFromIndex() {
    std::vector<std::uint8_t> head(0x58);
    if (px_->read(0, head.data(), head.size()) != head.size())
        throw Error("px");
    const int recSize = get16(&head[0]);
    const int headerSize = get16(&head[2]);
    const int blockSize = head[5] * 1024;
    const int root = get16(&head[0x1E]);
    const int levels = head[0x20];
    if (head[4] != 1 || recSize != h_.keyBytes + 6 || blockSize < 1024 || blockSize > 32768 ||
        headerSize < 0x58 || recSize > blockSize - 6 || levels < 1 || levels > kMaxIndexLevels)
        throw Error("px");
    const std::uint64_t size = px_->size();
    const int pxBlocks = static_cast<int>(std::min<std::uint64_t>(
        (size - std::min<std::uint64_t>(size, static_cast<std::size_t>(headerSize)) +
         static_cast<std::size_t>(blockSize) - 1) /
            static_cast<std::size_t>(blockSize),
        0xFFFF));
    if (root < 1 || root > pxBlocks)
        throw Error("px");
    pxHeader_.assign(static_cast<std::size_t>(headerSize), 0);
    px_->read(0, pxHeader_.data(), pxHeader_.size());
    pxBlockSize_ = blockSize;
    pxFileBlocks_ = pxBlocks; // what the header claims beyond the file's size counts for nothing
    const int perBlock = (blockSize - 6) / recSize;

    std::vector<bool> seenPx(static_cast<std::size_t>(pxBlocks + 1), false);
    std::vector<bool> seenDb(static_cast<std::size_t>(blocksInFile_) + 1, false);
    pxLevels_.assign(static_cast<std::size_t>(levels), {});
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(blockSize));
    std::uint64_t total = 0;
    // Depth first from the root, so every level lists its nodes in key order.
    std::function<void(int, int)> visit = [&](int block, int level) {
        if (block < 1 || block > pxBlocks || seenPx[static_cast<std::size_t>(block)])
            throw Error("px");
        seenPx[static_cast<std::size_t>(block)] = true;
        std::fill(buf.begin(), buf.end(), 0);
        px_->read(static_cast<std::size_t>(headerSize) +
                      static_cast<std::uint64_t>(block - 1) * static_cast<std::size_t>(blockSize),
                  buf.data(), buf.size());
        const auto last = static_cast<std::int16_t>(get16(&buf[4]));
        const int n = last < 0 ? 0 : last / recSize + 1;
        if (last >= 0 && (last % recSize != 0 || n > perBlock))
            throw Error("px");
        PxNode node;
        node.block = static_cast<std::uint16_t>(block);
        node.n = static_cast<std::uint32_t>(n);
        node.dirty = false;
        node.writtenNext = get16(&buf[0]);
        node.writtenPrev = get16(&buf[2]);
        pxLevels_[static_cast<std::size_t>(level)].push_back(node);
        pxImage_[node.block] = buf;
        std::vector<std::uint8_t> entries(buf.begin() + 6, buf.begin() + 6 + n * recSize);
        for (int i = 0; i < n; ++i) {
            const std::uint8_t* e =
                &entries[static_cast<std::size_t>(i) * static_cast<std::size_t>(recSize)];
            const int target = getIndexBlock(e + h_.keyBytes);
            const int count = getIndexShort(e + h_.keyBytes + 2);
            if (level == 0) {
                if (target < 1 || target > blocksInFile_ ||
                    seenDb[static_cast<std::size_t>(target)] || count < 1 || count > maxPerBlock_)
                    throw Error("px");
                seenDb[static_cast<std::size_t>(target)] = true;
                ChainEntry c;
                c.block = static_cast<std::uint16_t>(target);
                c.count = static_cast<std::uint16_t>(count);
                c.keyKnown = true;
                c.firstKey.assign(reinterpret_cast<const char*>(e),
                                  static_cast<std::size_t>(h_.keyBytes));
                chain_.push_back(std::move(c));
                total += static_cast<std::size_t>(count);
            } else {
                visit(target, level - 1);
            }
        }
    };
    visit(root, levels - 1);
    if (total != h_.numRecords || (chain_.empty() != (h_.numRecords == 0)) ||
        (!chain_.empty() &&
         (chain_.front().block != h_.firstBlock || chain_.back().block != h_.lastBlock)))
        throw Error("px");
    for (int b = 1; b <= pxBlocks; ++b)
        if (!seenPx[static_cast<std::size_t>(b)])
            pxFree_.push_back(static_cast<std::uint16_t>(b));
}

const std::vector<std::uint8_t>& ParadoxTable::readBlock(int block) {
    if (block == cacheBlock_ && !cache_.empty())
        return cache_;
    if (block < 1 || block > blocksInFile_)
        throw Error("Die Tabelle ist beschädigt: Block " + std::to_string(block) +
                    " liegt außerhalb der Datei.");
    cache_.assign(static_cast<std::size_t>(h_.blockSize), 0);
    cacheBlock_ = 0;
    db_->read(blockOffset(block), cache_.data(), cache_.size());
    cacheBlock_ = block;
    return cache_;
}

std::pair<std::size_t, std::uint32_t> ParadoxTable::locate(std::uint32_t position) const {
    if (position >= recordCount())
        throw Error("Der Datensatz " + std::to_string(position + 1) + " existiert nicht.");
    const auto it = std::upper_bound(prefix_.begin(), prefix_.end(), position);
    const auto index = static_cast<std::size_t>(it - prefix_.begin()) - 1;
    return {index, position - prefix_[index]};
}

bool ParadoxTable::blockMatches(std::size_t index, const std::uint8_t* data) const {
    const auto last = static_cast<std::int16_t>(get16(data + 4));
    if (last < 0 || last % h_.recordSize != 0 || last / h_.recordSize + 1 != chain_[index].count)
        return false;
    if (!chainFromIndex_)
        return true;
    // Counts taken from the index: the block's links must agree with its place too.
    const int prev = index > 0 ? chain_[index - 1].block : 0;
    const int next = index + 1 < chain_.size() ? chain_[index + 1].block : 0;
    return get16(data) == next && get16(data + 2) == prev;
}

void ParadoxTable::fallBackToChain() {
    // The index did not tell the truth about a block: go by the chain itself.
    cacheBlock_ = 0;
    walkChain(false);
    rebuildPrefix();
    chainFromIndex_ = false;
    if (access_ == Access::Write && h_.keyFields > 0) {
        pxLevels_.clear();
        pxRebuild_ = true;
    }
}

const std::uint8_t* ParadoxTable::recordAt(std::uint32_t position) {
    for (;;) {
        const auto [index, within] = locate(position);
        const auto& data = readBlock(chain_[index].block);
        if (blockMatches(index, data.data()))
            return data.data() + 6 +
                   static_cast<std::size_t>(within) * static_cast<std::size_t>(h_.recordSize);
        if (chainFromIndex_) {
            fallBackToChain();
            continue;
        }
        cacheBlock_ = 0;
        throw Error("Die Tabelle ist beschädigt: die Satzzahl von Block " +
                    std::to_string(chain_[index].block) + " stimmt nicht.");
    }
}

const std::string& ParadoxTable::firstKey(std::size_t index) {
    ChainEntry& e = chain_[index];
    if (!e.keyKnown) {
        std::string key(static_cast<std::size_t>(h_.keyBytes), '\0');
        db_->read(blockOffset(e.block) + 6, key.data(), key.size());
        e.firstKey = std::move(key);
        e.keyKnown = true;
    }
    return e.firstKey;
}

int ParadoxTable::compareKeys(const std::uint8_t* a, const std::uint8_t* b) const {
    for (int f = 0; f < h_.keyFields; ++f) {
        const int off = h_.offsets[static_cast<std::size_t>(f)];
        const int n = fieldBytes(h_.fields[static_cast<std::size_t>(f)].type,
                                 h_.fields[static_cast<std::size_t>(f)].size);
        int c;
        if (h_.fields[static_cast<std::size_t>(f)].type == FieldType::Alpha) {
            const auto* pa = reinterpret_cast<const char*>(a + off);
            const auto* pb = reinterpret_cast<const char*>(b + off);
            c = collation_->compare(std::string_view(pa, strnlen(pa, static_cast<std::size_t>(n))),
                                    std::string_view(pb, strnlen(pb, static_cast<std::size_t>(n))));
        } else {
            c = std::memcmp(a + off, b + off, static_cast<std::size_t>(n));
        }
        if (c != 0)
            return c < 0 ? -1 : 1;
    }
    return 0;
}

std::pair<std::size_t, std::uint32_t> ParadoxTable::findKey(const std::uint8_t* key) {
    if (chain_.empty())
        return {0, 0};
    // Last block whose first key is <= key.
    std::size_t lo = 0, hi = chain_.size();
    while (hi - lo > 1) {
        const std::size_t mid = (lo + hi) / 2;
        if (compareKeys(reinterpret_cast<const std::uint8_t*>(firstKey(mid).data()), key) <= 0)
            lo = mid;
        else
            hi = mid;
    }
    const auto& data = readBlock(chain_[lo].block);
    const int count = chain_[lo].count;
    int a = 0, b = count;
    while (a < b) {
        const int mid = (a + b) / 2;
        if (compareKeys(data.data() + 6 +
                            static_cast<std::size_t>(mid) * static_cast<std::size_t>(h_.recordSize),
                        key) < 0)
            a = mid + 1;
        else
            b = mid;
    }
    return {lo, static_cast<std::uint32_t>(a)};
}

Value ParadoxTable::decodeField(const std::uint8_t* rec, int field, Blobs blobs) {
    const FieldDef& f = h_.fields[static_cast<std::size_t>(field)];
    const std::uint8_t* p = rec + h_.offsets[static_cast<std::size_t>(field)];
    const int n = fieldBytes(f.type, f.size);
    switch (f.type) {
    case FieldType::Alpha: {
        const auto len = strnlen(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
        if (len == 0)
            return std::monostate{};
        return codec_->decode(std::string_view(reinterpret_cast<const char*>(p), len));
    }
    case FieldType::Date:
        if (allZero(p, 4))
            return std::monostate{};
        return Date{static_cast<std::int32_t>(decodeInt(p, 4))};
    case FieldType::Short:
    case FieldType::Long:
    case FieldType::AutoInc:
        if (allZero(p, n))
            return std::monostate{};
        return decodeInt(p, n);
    case FieldType::Time:
        if (allZero(p, 4))
            return std::monostate{};
        return TimeOfDay{static_cast<std::int32_t>(decodeInt(p, 4))};
    case FieldType::Money:
    case FieldType::Number:
        if (allZero(p, 8))
            return std::monostate{};
        return decodeDouble(p);
    case FieldType::Timestamp:
        if (allZero(p, 8))
            return std::monostate{};
        return Timestamp{decodeDouble(p)};
    case FieldType::Logical:
        if (p[0] == 0)
            return std::monostate{};
        return p[0] != 0x80;
    case FieldType::BCD:
        if (allZero(p, 17))
            return std::monostate{};
        return Decimal{decodeBcd(p, f.size)};
    case FieldType::Bytes:
        if (allZero(p, n))
            return std::monostate{};
        return Bytes(p, p + n);
    case FieldType::Memo:
    case FieldType::Blob:
    case FieldType::FmtMemo:
    case FieldType::OLE:
    case FieldType::Graphic: {
        const int leader = n - 10;
        const std::uint8_t* d = p + leader;
        const std::uint32_t pointer = get32(d);
        const std::uint32_t length = get32(d + 4);
        if (length == 0)
            return std::monostate{};
        if (blobs == Blobs::Refer && pointer != 0 &&
            (f.type == FieldType::Graphic || f.type == FieldType::Blob || f.type == FieldType::OLE))
            return BlobRef{pointer, length, get16(d + 8)};
        if (f.type != FieldType::Memo) {
            Bytes bytes;
            bytesInto(field, p, [&](std::size_t size) {
                bytes.resize(size);
                return bytes.data();
            });
            return bytes;
        }
        std::string data;
        if (pointer == 0)
            data.assign(reinterpret_cast<const char*>(p), inLeader(f, leader, length));
        else
            data = blobFile().read(pointer, length);
        // A memo: text in the table's code page.
        std::string text = codec_->decode(data);
        // Lines end in CR LF on disk; the program works with LF.
        std::size_t cr = text.find("\r\n");
        if (cr == std::string::npos)
            return text;
        std::size_t out = cr;
        for (std::size_t i = cr; i < text.size(); ++i)
            if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
                text[out++] = text[i];
        text.resize(out);
        return text;
    }
    }
    return std::monostate{};
}

Record ParadoxTable::read(std::uint32_t position, Blobs blobs) {
    const auto hold = holdSteady();
    const std::uint8_t* rec = recordAt(position);
    // Blob reads may reuse the block cache's neighbours: keep a private copy.
    std::vector<std::uint8_t> copy(rec, rec + h_.recordSize);
    Record r;
    r.reserve(h_.fields.size());
    for (std::size_t f = 0; f < h_.fields.size(); ++f)
        r.push_back(decodeField(copy.data(), static_cast<int>(f), blobs));
    return r;
}

Value ParadoxTable::readField(std::uint32_t position, int field, Blobs blobs) {
    if (field < 0 || field >= static_cast<int>(h_.fields.size()))
        throw Error("Das Feld Nummer " + std::to_string(field + 1) + " existiert nicht.");
    const auto hold = holdSteady();
    const std::uint8_t* rec = recordAt(position);
    std::vector<std::uint8_t> copy(rec, rec + h_.recordSize);
    return decodeField(copy.data(), field, blobs);
}

std::uint32_t ParadoxTable::inLeader(const FieldDef& f, int leader, std::uint32_t length) const {
    if (length > static_cast<std::uint32_t>(leader))
        throw Error("Die Tabelle ist beschädigt: ungültiger Verweis im Feld \"" + f.name + "\".");
    return length;
}

BlobFile& ParadoxTable::blobFile() const {
    if (!mb_)
        throw Error("Die Memo-/Grafikdatei (.mb) der Tabelle fehlt.");
    return *mb_;
}

void ParadoxTable::bytesInto(int field, const std::uint8_t* p,
                             const std::function<std::uint8_t*(std::size_t)>& room) {
    const FieldDef& f = h_.fields[static_cast<std::size_t>(field)];
    const int leader = fieldBytes(f.type, f.size) - 10;
    const std::uint32_t pointer = get32(p + leader);
    const std::uint32_t length = get32(p + leader + 4);
    if (length == 0)
        return;
    // A picture's prefix is left behind on reading.
    const std::uint32_t skip = f.type == FieldType::Graphic && length >= 8 ? 8 : 0;
    if (pointer != 0) {
        blobFile().readInto(pointer, length, skip, room);
        return;
    }
    const std::uint32_t size = inLeader(f, leader, length) - skip;
    std::copy(p + skip, p + skip + size, room(size));
}

void ParadoxTable::readBytesInto(std::uint32_t position, int field,
                                 const std::function<std::uint8_t*(std::size_t)>& room) {
    if (field < 0 || field >= static_cast<int>(h_.fields.size()))
        throw Error("Das Feld Nummer " + std::to_string(field + 1) + " existiert nicht.");
    const FieldType type = h_.fields[static_cast<std::size_t>(field)].type;
    if (type != FieldType::Blob && type != FieldType::OLE && type != FieldType::Graphic)
        throw Error("Das Feld \"" + h_.fields[static_cast<std::size_t>(field)].name +
                    "\" enthält keine Binärdaten.");
    const auto hold = holdSteady();
    const std::uint8_t* rec = recordAt(position);
    const std::vector<std::uint8_t> copy(rec, rec + h_.recordSize);
    bytesInto(field, copy.data() + h_.offsets[static_cast<std::size_t>(field)], room);
}

void ParadoxTable::scanField(int field,
                             const std::function<bool(std::uint32_t, const Value&)>& visit) {
    if (field < 0 || field >= static_cast<int>(h_.fields.size()))
        throw Error("Das Feld Nummer " + std::to_string(field + 1) + " existiert nicht.");
    const auto hold = holdSteady();
    // Neighbouring blocks of the chain (the usual case) are read together:
    // one read call per 256 KiB rather than per block, which is most of the
    // cost of a scan of a large table.
    const std::size_t runLimit =
        std::max<std::size_t>(1, static_cast<std::size_t>((256 * 1024) / h_.blockSize));
    std::vector<std::uint8_t> run;
    std::size_t runFirst = 0, runLength = 0; // chain indexes held in run
    std::uint32_t position = 0;
    while (position < recordCount()) {
        const auto [i, within] = locate(position);
        if (i < runFirst || i >= runFirst + runLength) {
            const int first = chain_[i].block;
            if (first < 1 || first > blocksInFile_)
                throw Error("Die Tabelle ist beschädigt: Block " + std::to_string(first) +
                            " liegt außerhalb der Datei.");
            std::size_t n = 1;
            while (n < runLimit && i + n < chain_.size() &&
                   chain_[i + n].block == first + static_cast<int>(n) &&
                   first + static_cast<int>(n) <= blocksInFile_)
                ++n;
            run.resize(n * static_cast<std::size_t>(h_.blockSize));
            const std::size_t got = db_->read(blockOffset(first), run.data(), run.size());
            std::fill(run.begin() + static_cast<std::ptrdiff_t>(std::min(got, run.size())),
                      run.end(), std::uint8_t{0});
            runFirst = i;
            runLength = n;
        }
        const std::uint8_t* block =
            run.data() + (i - runFirst) * static_cast<std::size_t>(h_.blockSize);
        if (!blockMatches(i, block)) {
            if (chainFromIndex_) {
                fallBackToChain();
                runLength = 0;
                continue;
            }
            throw Error("Die Tabelle ist beschädigt: die Satzzahl von Block " +
                        std::to_string(chain_[i].block) + " stimmt nicht.");
        }
        for (std::uint32_t k = within; k < chain_[i].count; ++k) {
            const Value v = decodeField(
                block + 6 + static_cast<std::size_t>(k) * static_cast<std::size_t>(h_.recordSize),
                field);
            if (!visit(position++, v))
                return;
        }
    }
}

std::uint32_t ParadoxTable::lowerBound(const Record& key) {
    const auto hold = holdSteady();
    if (h_.keyFields == 0 || chain_.empty())
        return 0;
    const Encoded e = encode(key, true);
    const auto [index, within] = findKey(reinterpret_cast<const std::uint8_t*>(e.bytes.data()));
    return prefix_[index] + within;
}

} // namespace detail

std::unique_ptr<Table> Table::open(const std::string& path, Access access, FileSystem& fs) {
    return std::make_unique<detail::ParadoxTable>(fs, path, access);
}

std::unique_ptr<Table> Table::openForCheck(const std::string& path, FileSystem& fs) {
    return std::make_unique<detail::ParadoxTable>(fs, path, Access::Read, true);
}

void Table::create(const std::string& path, const std::vector<FieldDef>& fields, int keyFields,
                   FileSystem& fs) {
    detail::ParadoxTable::createTable(fs, path, fields, keyFields);
}

void Table::deleteFile(const std::string& path, FileSystem& fs) {
    if (!fs.exists(path))
        return;
    // The lock first: a table another program is writing must lose nothing.
    auto lock = Journal::lockForWriting(fs, path);
    if (!lock)
        throw TableInUse();
    Journal::removeJournal(fs, path);
    fs.remove(path);
}

} // namespace px
