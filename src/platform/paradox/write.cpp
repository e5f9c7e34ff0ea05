// Changing a table in place: records, blocks, blobs and the header.
#include "platform/paradox/blob.h"
#include "platform/paradox/crypt.h"
#include "platform/paradox/paradoxtable.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

namespace px::detail {
namespace {

[[noreturn]] void wrongKind(const FieldDef& f) {
    throw Error("Der Wert für das Feld \"" + f.name + "\" hat nicht die passende Art.");
}

void putInt(std::uint8_t* p, std::int64_t v, int n) {
    std::uint64_t u = static_cast<std::uint64_t>(v) ^ (1ull << (8 * n - 1));
    for (int i = n - 1; i >= 0; --i) {
        p[i] = static_cast<std::uint8_t>(u);
        u >>= 8;
    }
}

void putDouble(std::uint8_t* p, double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    for (int i = 7; i >= 0; --i) {
        p[i] = static_cast<std::uint8_t>(bits);
        bits >>= 8;
    }
    if (p[0] & 0x80)
        for (int i = 0; i < 8; ++i)
            p[i] = static_cast<std::uint8_t>(~p[i]);
    else
        p[0] |= 0x80;
}

bool putBcd(std::uint8_t* p, const std::string& text, int decimals) {
    std::string s = text;
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.erase(0, 1);
    }
    const auto dot = s.find_first_of(".,");
    std::string whole = dot == std::string::npos ? s : s.substr(0, dot);
    std::string frac = dot == std::string::npos ? "" : s.substr(dot + 1);
    if (whole.empty() && frac.empty())
        return false;
    for (char c : whole + frac)
        if (c < '0' || c > '9')
            return false;
    while (frac.size() > static_cast<std::size_t>(decimals) && frac.back() == '0')
        frac.pop_back();
    if (frac.size() > static_cast<std::size_t>(decimals))
        return false;
    frac.append(static_cast<std::size_t>(decimals) - frac.size(), '0');
    const auto nz = whole.find_first_not_of('0');
    whole = nz == std::string::npos ? "" : whole.substr(nz);
    if (whole.size() + static_cast<std::size_t>(decimals) > 32)
        return false;
    const std::string digits =
        std::string(static_cast<std::size_t>(32 - decimals) - whole.size(), '0') + whole + frac;
    if (digits.find_first_not_of('0') == std::string::npos)
        negative = false;
    p[0] = static_cast<std::uint8_t>((negative ? 0 : 0x80) | 0x40 | decimals);
    for (int i = 0; i < 16; ++i) {
        int hi = digits[static_cast<std::size_t>(2 * i)] - '0',
            lo = digits[static_cast<std::size_t>(2 * i + 1)] - '0';
        if (negative) {
            hi = 15 - hi;
            lo = 15 - lo;
        }
        p[1 + i] = static_cast<std::uint8_t>((hi << 4) | lo);
    }
    return true;
}

std::string shortened(const std::string& text) {
    if (text.size() <= 60)
        return text;
    std::string s = text.substr(0, 57);
    while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0x80)
        s.pop_back();
    if (!s.empty() && static_cast<unsigned char>(s.back()) >= 0xC0)
        s.pop_back();
    return s + "…";
}

} // namespace

ParadoxTable::Encoded ParadoxTable::encode(const Record& record, bool forKeyOnly) {
    if (record.size() > h_.fields.size())
        throw Error("Der Datensatz hat mehr Felder als die Tabelle.");
    Encoded e;
    e.bytes.assign(static_cast<std::size_t>(h_.recordSize), '\0');
    e.blobs.resize(h_.fields.size());
    e.kept.resize(h_.fields.size());
    const std::size_t count =
        forKeyOnly ? std::min<std::size_t>(static_cast<std::size_t>(h_.keyFields), record.size())
                   : h_.fields.size();
    for (std::size_t i = 0; i < count; ++i) {
        const FieldDef& f = h_.fields[i];
        // Both sides lvalues: with a temporary on one side the conditional
        // would copy every value, a picture's megabytes included.
        static const Value kNull;
        const Value& v = i < record.size() ? record[i] : kNull;
        auto* p = reinterpret_cast<std::uint8_t*>(e.bytes.data()) + h_.offsets[i];
        const int n = fieldBytes(f.type, f.size);
        if (std::holds_alternative<std::monostate>(v))
            continue; // NULL: all bytes zero (autoincrement numbers are drawn by insert)
        switch (f.type) {
        case FieldType::Alpha:
        case FieldType::Memo: {
            const auto* text = std::get_if<std::string>(&v);
            if (!text)
                wrongKind(f);
            if (text->empty())
                break;
            std::string source = *text;
            if (f.type == FieldType::Memo) {
                std::string crlf;
                crlf.reserve(source.size() + 16);
                for (std::size_t k = 0; k < source.size(); ++k) {
                    if (source[k] == '\n' && (k == 0 || source[k - 1] != '\r'))
                        crlf += '\r';
                    crlf += source[k];
                }
                source.swap(crlf);
            }
            std::string out, bad;
            if (!codec_->encode(source, out, bad))
                throw Error("Das Zeichen \"" + bad + "\" im Feld \"" + f.name +
                            "\" kann im Zeichensatz der Tabelle (Codepage " +
                            std::to_string(codec_->codePage()) + ") nicht gespeichert werden.");
            if (f.type == FieldType::Memo) {
                e.blobs[i] = BlobData{std::move(out), {}};
                break;
            }
            if (out.size() > static_cast<std::size_t>(n))
                throw Error("Der Text \"" + shortened(*text) + "\" ist zu lang für das Feld \"" +
                            f.name + "\" (höchstens " + std::to_string(n) + " Zeichen).");
            std::memcpy(p, out.data(), out.size());
            break;
        }
        case FieldType::Date: {
            const auto* d = std::get_if<Date>(&v);
            if (!d)
                wrongKind(f);
            if (d->day < 1 || d->day > 3652059)
                throw Error("Das Datum im Feld \"" + f.name +
                            "\" liegt außerhalb des gültigen Bereichs.");
            putInt(p, d->day, 4);
            break;
        }
        case FieldType::Short:
        case FieldType::Long:
        case FieldType::AutoInc: {
            std::int64_t x;
            if (const auto* i64 = std::get_if<std::int64_t>(&v))
                x = *i64;
            else
                wrongKind(f);
            const std::int64_t limit = n == 2 ? 32767 : 2147483647;
            if (x < -limit || x > limit)
                throw Error("Die Zahl im Feld \"" + f.name + "\" ist zu groß.");
            putInt(p, x, n);
            break;
        }
        case FieldType::Time: {
            const auto* t = std::get_if<TimeOfDay>(&v);
            if (!t)
                wrongKind(f);
            if (t->ms < 0 || t->ms >= 86'400'000)
                throw Error("Die Uhrzeit im Feld \"" + f.name + "\" ist ungültig.");
            putInt(p, t->ms, 4);
            break;
        }
        case FieldType::Money:
        case FieldType::Number:
        case FieldType::Timestamp: {
            double d;
            if (const auto* x = std::get_if<double>(&v))
                d = *x;
            else if (const auto* i64 = std::get_if<std::int64_t>(&v))
                d = static_cast<double>(*i64);
            else if (const auto* ts = std::get_if<Timestamp>(&v);
                     ts && f.type == FieldType::Timestamp)
                d = ts->ms;
            else
                wrongKind(f);
            if (!std::isfinite(d))
                throw Error("Die Zahl im Feld \"" + f.name + "\" ist ungültig.");
            putDouble(p, d);
            break;
        }
        case FieldType::Logical: {
            const auto* b = std::get_if<bool>(&v);
            if (!b)
                wrongKind(f);
            p[0] = *b ? 0x81 : 0x80;
            break;
        }
        case FieldType::BCD: {
            const auto* d = std::get_if<Decimal>(&v);
            if (!d)
                wrongKind(f);
            if (!putBcd(p, d->text, f.size))
                throw Error("Die Zahl \"" + d->text + "\" passt nicht in das Feld \"" + f.name +
                            "\".");
            break;
        }
        case FieldType::Bytes: {
            const auto* b = std::get_if<Bytes>(&v);
            if (!b)
                wrongKind(f);
            if (b->size() > static_cast<std::size_t>(n))
                throw Error("Der Inhalt ist zu lang für das Feld \"" + f.name + "\" (höchstens " +
                            std::to_string(n) + " Bytes).");
            std::copy(b->begin(), b->end(), p);
            break;
        }
        case FieldType::Blob:
        case FieldType::FmtMemo:
        case FieldType::OLE:
        case FieldType::Graphic: {
            if (const auto* ref = std::get_if<BlobRef>(&v)) {
                e.kept[i] = *ref;
                break;
            }
            const auto* b = std::get_if<Bytes>(&v);
            if (!b)
                wrongKind(f);
            if (b->empty())
                break;
            // The value itself goes to the .mb, not a copy of it.
            BlobData data{{}, {b->data(), b->size()}};
            if (f.type == FieldType::Graphic) {
                data.head.assign("\x01\x00\x00\x01", 4);
                std::uint8_t len[4];
                put32(len, static_cast<std::uint32_t>(b->size()));
                data.head.append(reinterpret_cast<const char*>(len), 4);
            }
            e.blobs[i] = std::move(data);
            break;
        }
        }
    }
    return e;
}

void ParadoxTable::BlobData::copy(std::size_t from, std::size_t n, std::uint8_t* out) const {
    const auto* h = reinterpret_cast<const std::uint8_t*>(head.data());
    for (; n > 0 && from < head.size(); --n)
        *out++ = h[from++];
    if (n > 0)
        std::copy_n(body.data() + (from - head.size()), n, out);
}

void ParadoxTable::storeBlobs(Encoded& e, const std::uint8_t* oldRecord) {
    for (std::size_t i = 0; i < h_.fields.size(); ++i) {
        const FieldDef& f = h_.fields[i];
        if (!isBlobType(f.type))
            continue;
        const int n = f.size;
        const int leader = n - 10;
        auto* p = reinterpret_cast<std::uint8_t*>(e.bytes.data()) + h_.offsets[i];
        std::fill(p, p + n, 0);
        // Whether the contents changed is told by the reference alone: the
        // record's own reference keeps them without reading a byte, new bytes
        // are stored anew. A reference into another record is a copy.
        if (const auto& ref = e.kept[i]) {
            const std::uint8_t* old = oldRecord ? oldRecord + h_.offsets[i] + leader : nullptr;
            if (old && get32(old) == ref->pointer && get32(old + 4) == ref->length &&
                get16(old + 8) == ref->modification) {
                std::memcpy(p, oldRecord + h_.offsets[i], static_cast<std::size_t>(n));
                continue;
            }
            if (!mb_)
                throw Error("Die Memo-/Grafikdatei (.mb) der Tabelle fehlt.");
            e.blobs[i] = BlobData{mb_->read(ref->pointer, ref->length), {}};
        }
        const auto& data = e.blobs[i];
        if (!data)
            continue;
        const bool inLeader = data->size() <= static_cast<std::size_t>(leader) &&
                              f.type != FieldType::Graphic && f.type != FieldType::OLE;
        if (inLeader) {
            data->copy(0, data->size(), p);
            put32(p + leader + 4, static_cast<std::uint32_t>(data->size()));
            continue;
        }
        if (!mb_)
            throw Error("Die Memo-/Grafikdatei (.mb) der Tabelle fehlt.");
        if (data->size() > 0xFFFFFFFFull)
            throw Error("Der Inhalt des Feldes \"" + f.name + "\" ist zu groß.");
        const auto [pointer, mod] = mb_->write(
            {reinterpret_cast<const std::uint8_t*>(data->head.data()), data->head.size()},
            data->body);
        // The leader repeats the start of the data (of a picture: after its prefix).
        const std::size_t skip =
            (f.type == FieldType::Graphic || f.type == FieldType::OLE) && data->size() >= 8 ? 8 : 0;
        const std::size_t copy =
            std::min<std::size_t>(static_cast<std::size_t>(leader), data->size() - skip);
        data->copy(skip, copy, p);
        put32(p + leader, pointer);
        put32(p + leader + 4, static_cast<std::uint32_t>(data->size()));
        put16(p + leader + 8, mod);
    }
}

void ParadoxTable::freeBlobs(const std::uint8_t* rec, const std::uint8_t* keep) {
    if (!mb_)
        return;
    for (std::size_t i = 0; i < h_.fields.size(); ++i) {
        const FieldDef& f = h_.fields[i];
        if (!isBlobType(f.type))
            continue;
        const int leader = f.size - 10;
        const std::uint8_t* d = rec + h_.offsets[i] + leader;
        const std::uint32_t pointer = get32(d);
        if (pointer == 0)
            continue;
        if (keep && std::memcmp(d, keep + h_.offsets[i] + leader, 10) == 0)
            continue;
        mb_->release(pointer);
    }
}

void ParadoxTable::requireWritable() {
    if (access_ != Access::Write && h_.scrambleKey != 0)
        refuseWriting();
    if (access_ != Access::Write)
        throw Error("Die Tabelle ist nur zum Lesen geöffnet.");
    if (journal_->isBroken() || reloadFailed_)
        throw StorageFailure("Nach einem Schreibfehler nimmt die Tabelle keine Änderungen mehr an. "
                             "Bitte schließen Sie die Tabelle und öffnen Sie sie erneut.");
}

// Rolls back the transaction (and with it an open batch) and reads what is
// on disk again.
void ParadoxTable::rollBackToDisk() {
    batch_ = false;
    try {
        journal_->rollback();
    } catch (...) {
    }
    try {
        load();
    } catch (...) {
        reloadFailed_ = true;
    }
}

// After a failed change: raises the failure as a StorageFailure.
void ParadoxTable::failChange(const Error* cause) {
    rollBackToDisk();
    if (!cause)
        throw;
    if (dynamic_cast<const StorageFailure*>(cause))
        throw;
    throw StorageFailure(cause->what());
}

template <class F> auto ParadoxTable::change(F&& body) -> decltype(body()) {
    requireWritable();
    // The write lock keeps every program that locks out; a file deleted or
    // replaced under it takes our changes nowhere anyone would find them.
    if (!lock_->stillOnDisk()) {
        if (journal_->inTransaction())
            rollBackToDisk(); // the open batch can go nowhere either
        throw StorageFailure("Die Tabelle wurde von einem anderen Programm gelöscht oder "
                             "ersetzt. Die Änderung wurde nicht gespeichert; bitte öffnen Sie "
                             "die Tabelle erneut.");
    }
    if (!journal_->inTransaction()) {
        // A program that ignores the lock may have changed the table: write
        // nothing over it from what was read before. (Inside a batch the
        // table is as our own uncommitted changes left it.)
        std::vector<std::uint8_t> head(0x58, 0);
        if (db_->size() != fileSize_ || db_->read(0, head.data(), head.size()) != head.size() ||
            !std::equal(head.begin(), head.end(), h_.raw.begin()))
            load();
        journal_->begin();
    }
    auto finish = [&] {
        pxFlush();
        if (mb_)
            mb_->flush();
        writeHeader();
        if (!batch_) {
            journal_->commit();
            fileSize_ = db_->size();
        }
    };
    try {
        if constexpr (std::is_void_v<decltype(body())>) {
            body();
            finish();
        } else {
            auto result = body();
            finish();
            return result;
        }
    } catch (const Error& e) {
        failChange(&e);
    } catch (...) {
        failChange(nullptr);
    }
}

void ParadoxTable::beginBatch() {
    requireWritable();
    batch_ = true;
}

void ParadoxTable::commitBatch() {
    if (!batch_)
        return;
    batch_ = false;
    if (!journal_->inTransaction())
        return;
    try {
        journal_->commit();
        fileSize_ = db_->size();
    } catch (const Error& e) {
        failChange(&e);
    } catch (...) {
        failChange(nullptr);
    }
}

void ParadoxTable::rollbackBatch() {
    if (!batch_)
        return;
    batch_ = false;
    if (journal_->inTransaction())
        rollBackToDisk();
}

bool ParadoxTable::canEncode(const std::string& utf8) const {
    std::string out, bad;
    return codec_->encode(utf8, out, bad);
}

void ParadoxTable::writeBlock(int block, const std::vector<std::uint8_t>& data) {
    // Only the bytes that changed go out: a change then touches as few pages
    // of the journal as it can.
    // A block the file ends inside (short last blocks exist) is written whole:
    // bytes equal to the zeros read past the end would otherwise stay missing.
    if (block == cacheBlock_ && cache_.size() == data.size() &&
        db_->size() >= blockOffset(block) + data.size()) {
        std::size_t lo = 0, hi = data.size();
        while (lo < hi && data[lo] == cache_[lo])
            ++lo;
        while (hi > lo && data[hi - 1] == cache_[hi - 1])
            --hi;
        if (lo < hi)
            db_->write(blockOffset(block) + lo, data.data() + lo, hi - lo);
    } else {
        db_->write(blockOffset(block), data.data(), data.size());
    }
    cache_ = data;
    cacheBlock_ = block;
}

void ParadoxTable::writeLink(int block, int next, int prev, bool setNext, bool setPrev) {
    std::uint8_t buf[2];
    if (setNext) {
        put16(buf, static_cast<std::uint32_t>(next));
        db_->write(blockOffset(block), buf, 2);
    }
    if (setPrev) {
        put16(buf, static_cast<std::uint32_t>(prev));
        db_->write(blockOffset(block) + 2, buf, 2);
    }
    if (block == cacheBlock_)
        cacheBlock_ = 0;
}

int ParadoxTable::allocateBlock() {
    while (h_.freeBlock != 0) {
        const int b = h_.freeBlock;
        bool ok = b >= 1 && b <= blocksInFile_;
        for (std::size_t i = 0; ok && i < chain_.size(); ++i)
            ok = chain_[i].block != b;
        std::uint8_t head[6] = {};
        if (ok) {
            db_->read(blockOffset(b), head, 6);
            ok = static_cast<std::int16_t>(get16(head + 4)) < 0;
        }
        if (!ok) {
            h_.freeBlock = 0; // a damaged free list is dropped, never trusted
            break;
        }
        const int next = get16(head);
        h_.freeBlock = next >= 1 && next <= blocksInFile_ && next != b ? next : 0;
        return b;
    }
    // The file's real size decides, never the header's count (see load()).
    const int b = blocksInFile_ + 1;
    if (b > 0xFFFF)
        throw Error("Die Tabelle ist voll: sie kann nicht mehr als 65535 Blöcke haben.");
    h_.fileBlocks = b;
    blocksInFile_ = b;
    return b;
}

void ParadoxTable::releaseBlock(int block) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(h_.blockSize), 0);
    put16(&data[0], static_cast<std::uint32_t>(h_.freeBlock));
    put16(&data[4], static_cast<std::uint32_t>(-h_.recordSize) & 0xFFFF);
    writeBlock(block, data);
    h_.freeBlock = block;
}

void ParadoxTable::writeHeader() {
    std::uint8_t* p = h_.raw.data();
    std::vector<std::uint8_t> before(p, p + 0x58);
    put32(p + 0x06, recordCount());
    put16(p + 0x0A, static_cast<std::uint32_t>(h_.fileBlocks));
    put16(p + 0x0C, static_cast<std::uint32_t>(h_.fileBlocks));
    put16(p + 0x0E, static_cast<std::uint32_t>(chain_.empty() ? 0 : chain_.front().block));
    put16(p + 0x10, static_cast<std::uint32_t>(chain_.empty() ? 0 : chain_.back().block));
    put16(p + 0x3A, static_cast<std::uint32_t>(h_.fileBlocks));
    put32(p + 0x49, h_.autoInc);
    put16(p + 0x4D, static_cast<std::uint32_t>(h_.freeBlock));
    h_.numRecords = recordCount();
    h_.firstBlock = chain_.empty() ? 0 : chain_.front().block;
    h_.lastBlock = chain_.empty() ? 0 : chain_.back().block;
    if (!std::equal(before.begin(), before.end(), p))
        db_->write(0, p, 0x58);
}

std::uint32_t ParadoxTable::insertBytes(const std::string& rec) {
    const auto* key = reinterpret_cast<const std::uint8_t*>(rec.data());
    const std::string keyBytes = rec.substr(0, static_cast<std::size_t>(h_.keyBytes));
    if (chain_.empty()) {
        const int b = allocateBlock();
        std::vector<std::uint8_t> data(static_cast<std::size_t>(h_.blockSize), 0);
        std::memcpy(&data[6], rec.data(), rec.size());
        writeBlock(b, data);
        ChainEntry e;
        e.block = static_cast<std::uint16_t>(b);
        e.count = 1;
        e.keyKnown = true;
        e.firstKey = keyBytes;
        chain_.push_back(e);
        rebuildPrefix();
        pxInsert(0, 0);
        return 0;
    }
    std::size_t ci;
    std::uint32_t j;
    if (h_.keyFields > 0) {
        std::tie(ci, j) = findKey(key);
    } else {
        ci = chain_.size() - 1;
        j = chain_[ci].count;
    }
    std::vector<std::uint8_t> data = readBlock(chain_[ci].block);
    const int count = chain_[ci].count;
    const int rs = h_.recordSize;
    if (count < maxPerBlock_) {
        std::uint8_t* base = &data[6];
        std::memmove(base + (j + 1) * static_cast<unsigned>(rs),
                     base + j * static_cast<unsigned>(rs),
                     static_cast<std::size_t>(static_cast<unsigned>(count) - j) *
                         static_cast<std::size_t>(rs));
        std::memcpy(base + j * static_cast<unsigned>(rs), rec.data(), static_cast<std::size_t>(rs));
        put16(&data[4], static_cast<std::uint32_t>(count * rs));
        writeBlock(chain_[ci].block, data);
        chain_[ci].count = static_cast<std::uint16_t>(count + 1);
        if (j == 0) {
            chain_[ci].firstKey = keyBytes;
            chain_[ci].keyKnown = true;
        }
        for (std::size_t k = ci + 1; k < prefix_.size(); ++k)
            ++prefix_[k];
        pxTouchEntry(0, ci);
        return prefix_[ci] + j;
    }
    // Full: split. Appending after the last record of the table starts a new
    // block instead, so that filling a table in key order packs its blocks.
    std::vector<std::string> recs;
    recs.reserve(static_cast<std::size_t>(count + 1));
    for (int k = 0; k < count; ++k)
        recs.emplace_back(
            reinterpret_cast<const char*>(&data[static_cast<std::size_t>(6 + k * rs)]), rs);
    recs.insert(recs.begin() + j, rec);
    const int keepLeft =
        (ci + 1 == chain_.size() && static_cast<int>(j) == count) ? count : (count + 1) / 2;
    const int oldBlock = chain_[ci].block;
    const int oldNext = get16(&data[0]);
    const int nb = allocateBlock();
    std::vector<std::uint8_t> left(static_cast<std::size_t>(h_.blockSize), 0),
        right(static_cast<std::size_t>(h_.blockSize), 0);
    put16(&left[0], static_cast<std::uint32_t>(nb));
    std::memcpy(&left[2], &data[2], 2);
    put16(&left[4], static_cast<std::uint32_t>((keepLeft - 1) * rs));
    for (int k = 0; k < keepLeft; ++k)
        std::memcpy(&left[static_cast<std::size_t>(6 + k * rs)],
                    recs[static_cast<std::size_t>(k)].data(), static_cast<std::size_t>(rs));
    const int rightCount = count + 1 - keepLeft;
    put16(&right[0], static_cast<std::uint32_t>(oldNext));
    put16(&right[2], static_cast<std::uint32_t>(oldBlock));
    put16(&right[4], static_cast<std::uint32_t>((rightCount - 1) * rs));
    for (int k = 0; k < rightCount; ++k)
        std::memcpy(&right[static_cast<std::size_t>(6 + k * rs)],
                    recs[static_cast<std::size_t>(keepLeft + k)].data(),
                    static_cast<std::size_t>(rs));
    writeBlock(oldBlock, left);
    writeBlock(nb, right);
    if (oldNext != 0)
        writeLink(oldNext, 0, nb, false, true);
    chain_[ci].count = static_cast<std::uint16_t>(keepLeft);
    chain_[ci].firstKey = recs[0].substr(0, static_cast<std::size_t>(h_.keyBytes));
    chain_[ci].keyKnown = true;
    ChainEntry e;
    e.block = static_cast<std::uint16_t>(nb);
    e.count = static_cast<std::uint16_t>(rightCount);
    e.keyKnown = true;
    e.firstKey =
        recs[static_cast<std::size_t>(keepLeft)].substr(0, static_cast<std::size_t>(h_.keyBytes));
    chain_.insert(chain_.begin() + static_cast<std::ptrdiff_t>(ci) + 1, std::move(e));
    // Only the blocks behind the split move on by one record; a table filled
    // in key order splits at its end, where this costs nothing.
    prefix_.insert(prefix_.begin() + static_cast<std::ptrdiff_t>(ci) + 1,
                   prefix_[ci] + static_cast<unsigned>(keepLeft));
    for (std::size_t k = ci + 2; k < prefix_.size(); ++k)
        ++prefix_[k];
    pxTouchEntry(0, ci);
    pxInsert(0, ci + 1);
    if (static_cast<int>(j) < keepLeft)
        return prefix_[ci] + j;
    return prefix_[ci + 1] + (j - static_cast<unsigned>(keepLeft));
}

void ParadoxTable::removeAt(std::uint32_t position, bool freeBlobFields) {
    const auto [ci, j] = locate(position);
    std::vector<std::uint8_t> data = readBlock(chain_[ci].block);
    const int count = chain_[ci].count;
    const int rs = h_.recordSize;
    if (blockCount(data.data(), chain_[ci].block) != count)
        throw Error("Die Tabelle ist beschädigt: die Satzzahl von Block " +
                    std::to_string(chain_[ci].block) + " stimmt nicht.");
    if (freeBlobFields)
        freeBlobs(&data[6 + j * static_cast<unsigned>(rs)], nullptr);
    if (count == 1) {
        const int b = chain_[ci].block;
        const int prev = ci > 0 ? chain_[ci - 1].block : 0;
        const int next = ci + 1 < chain_.size() ? chain_[ci + 1].block : 0;
        if (prev)
            writeLink(prev, next, 0, true, false);
        if (next)
            writeLink(next, 0, prev, false, true);
        chain_.erase(chain_.begin() + static_cast<std::ptrdiff_t>(ci));
        releaseBlock(b);
        rebuildPrefix();
        pxErase(0, ci);
        return;
    }
    std::uint8_t* base = &data[6];
    std::memmove(base + j * static_cast<unsigned>(rs), base + (j + 1) * static_cast<unsigned>(rs),
                 static_cast<std::size_t>(static_cast<unsigned>(count - 1) - j) *
                     static_cast<std::size_t>(rs));
    std::memset(base + (count - 1) * rs, 0,
                static_cast<std::size_t>(rs)); // no trace of the deleted record
    put16(&data[4], static_cast<std::uint32_t>((count - 2) * rs));
    writeBlock(chain_[ci].block, data);
    chain_[ci].count = static_cast<std::uint16_t>(count - 1);
    if (j == 0) {
        chain_[ci].firstKey.assign(reinterpret_cast<const char*>(base),
                                   static_cast<std::size_t>(h_.keyBytes));
        chain_[ci].keyKnown = true;
    }
    for (std::size_t k = ci + 1; k < prefix_.size(); ++k)
        --prefix_[k];
    pxTouchEntry(0, ci);
    mergeWithNext(ci);
}

void ParadoxTable::mergeWithNext(std::size_t ci) {
    // Two neighbours that together fill at most half a block become one, so
    // deleting many records does not leave a file of nearly empty blocks;
    // the half keeps room for inserts before the next split.
    if (ci + 1 >= chain_.size() ||
        chain_[ci].count + chain_[ci + 1].count > static_cast<unsigned>(maxPerBlock_ / 2))
        return;
    const int rs = h_.recordSize;
    const int nextBlock = chain_[ci + 1].block;
    const std::vector<std::uint8_t> next = readBlock(nextBlock);
    if (blockCount(next.data(), nextBlock) != chain_[ci + 1].count)
        return; // leave a doubtful block alone
    std::vector<std::uint8_t> data = readBlock(chain_[ci].block);
    const int count = chain_[ci].count;
    const int moved = chain_[ci + 1].count;
    std::memcpy(&data[static_cast<std::size_t>(6 + count * rs)], &next[6],
                static_cast<std::size_t>(moved) * static_cast<std::size_t>(rs));
    put16(&data[4], static_cast<std::uint32_t>((count + moved - 1) * rs));
    const int after = ci + 2 < chain_.size() ? chain_[ci + 2].block : 0;
    put16(&data[0], static_cast<std::uint32_t>(after));
    writeBlock(chain_[ci].block, data);
    if (after)
        writeLink(after, 0, chain_[ci].block, false, true);
    chain_[ci].count = static_cast<std::uint16_t>(count + moved);
    chain_.erase(chain_.begin() + static_cast<std::ptrdiff_t>(ci) + 1);
    releaseBlock(nextBlock);
    rebuildPrefix();
    pxTouchEntry(0, ci);
    pxErase(0, ci + 1);
}

void ParadoxTable::refuseTakenKey(const std::string& rec) {
    if (chain_.empty())
        return;
    const auto [ci, j] = findKey(reinterpret_cast<const std::uint8_t*>(rec.data()));
    if (j < chain_[ci].count) {
        const auto& data = readBlock(chain_[ci].block);
        if (std::memcmp(&data[6 + j * static_cast<unsigned>(h_.recordSize)], rec.data(),
                        static_cast<std::size_t>(h_.keyBytes)) == 0)
            throw KeyViolation();
    }
}

std::uint32_t ParadoxTable::insert(const Record& record) {
    requireWritable();
    Encoded e = encode(record);
    // Autoincrement fields left empty draw the next number; it is part of the
    // key check below, and of the header only once the change is made.
    std::uint32_t autoInc = h_.autoInc;
    for (std::size_t i = 0; i < h_.fields.size(); ++i) {
        if (h_.fields[i].type != FieldType::AutoInc)
            continue;
        if (i >= record.size() || std::holds_alternative<std::monostate>(record[i])) {
            ++autoInc;
            putInt(reinterpret_cast<std::uint8_t*>(e.bytes.data()) + h_.offsets[i], autoInc, 4);
        } else {
            const auto v = std::get<std::int64_t>(record[i]);
            if (v > static_cast<std::int64_t>(autoInc))
                autoInc = static_cast<std::uint32_t>(v);
        }
    }
    if (h_.keyFields > 0)
        refuseTakenKey(e.bytes);
    return change([&] {
        h_.autoInc = autoInc;
        storeBlobs(e, nullptr);
        return insertBytes(e.bytes);
    });
}

std::uint32_t ParadoxTable::update(std::uint32_t position, const Record& record) {
    requireWritable();
    Encoded e = encode(record);
    const std::uint8_t* current = recordAt(position);
    const std::vector<std::uint8_t> old(current, current + h_.recordSize);
    // An unchanged autoincrement field keeps its number.
    for (std::size_t i = 0; i < h_.fields.size(); ++i)
        if (h_.fields[i].type == FieldType::AutoInc &&
            (i >= record.size() || std::holds_alternative<std::monostate>(record[i])))
            std::memcpy(e.bytes.data() + h_.offsets[i],
                        &old[static_cast<std::size_t>(h_.offsets[i])], 4);
    const bool keyChanged =
        h_.keyFields > 0 &&
        std::memcmp(old.data(), e.bytes.data(), static_cast<std::size_t>(h_.keyBytes)) != 0;
    if (keyChanged)
        refuseTakenKey(e.bytes);
    return change([&] {
        storeBlobs(e, old.data());
        if (!keyChanged) {
            const auto [ci, j] = locate(position);
            std::vector<std::uint8_t> data = readBlock(chain_[ci].block);
            std::memcpy(&data[6 + j * static_cast<unsigned>(h_.recordSize)], e.bytes.data(),
                        static_cast<std::size_t>(h_.recordSize));
            writeBlock(chain_[ci].block, data);
            freeBlobs(old.data(), reinterpret_cast<const std::uint8_t*>(e.bytes.data()));
            if (j == 0)
                pxTouchEntry(0, ci);
            return position;
        }
        removeAt(position, false);
        freeBlobs(old.data(), reinterpret_cast<const std::uint8_t*>(e.bytes.data()));
        return insertBytes(e.bytes);
    });
}

void ParadoxTable::remove(std::uint32_t position) {
    requireWritable();
    locate(position);
    change([&] { removeAt(position, true); });
}

} // namespace px::detail
