#include "platform/paradox/blob.h"

#include "platform/paradox/error.h"
#include "platform/paradox/paradoxtable.h"

#include <algorithm>

namespace px::detail {
namespace {

constexpr std::uint32_t kUnit = 4096;
constexpr std::uint32_t kSubAllocLimit = 2048; // larger blobs get blocks of their own
constexpr int kFirstChunk = 21;                // chunks of 16 bytes; 0..20 hold the slot table
constexpr int kSlots = 64;

[[noreturn]] void damaged(const std::string& what) {
    throw Error("Die Memo-/Grafikdatei (.mb) der Tabelle ist beschädigt: " + what + ".");
}

} // namespace

BlobFile::BlobFile(std::unique_ptr<File> file) : file_(std::move(file)) {
    size_ = file_->size();
    std::uint8_t head[5] = {};
    if (file_->read(0, head, sizeof head) == sizeof head && head[0] == 0)
        modCount_ = get16(head + 3);
}

void BlobFile::initialise(File& file) {
    std::vector<std::uint8_t> head(kUnit, 0);
    static const std::uint8_t start[] = {0x00, 0x01, 0x00, 0x01, 0x00, 0x82, 0x73,
                                         0x02, 0x00, 0x29, 0x00, 0x00, 0x10, 0x00,
                                         0x10, 0x00, 0x10, 0x40, 0x00, 0x00, 0x08};
    std::copy(std::begin(start), std::end(start), head.begin());
    put16(&head[0x29], 0x02A1);
    file.truncate(0);
    file.write(0, head.data(), head.size());
}

const std::vector<std::uint8_t>& BlobFile::readUnit(std::uint64_t offset) {
    // Neighbouring records often share a sub-allocated block: keep the last one.
    if (offset != unitOffset_ || unit_.size() != kUnit) {
        unit_.assign(kUnit, 0);
        unitOffset_ = 0;
        file_->read(offset, unit_.data(), unit_.size());
        unitOffset_ = offset;
    }
    return unit_;
}

void BlobFile::forget() {
    unitOffset_ = 0;
    size_ = file_->size();
    std::uint8_t head[5] = {};
    if (file_->read(0, head, sizeof head) == sizeof head && head[0] == 0)
        modCount_ = get16(head + 3);
    modDirty_ = false;
    freeRuns_.clear();
    scanned_ = false;
    subBlock_ = 0;
}

void BlobFile::flush() {
    if (!modDirty_)
        return;
    std::uint8_t buf[2];
    put16(buf, modCount_);
    file_->write(3, buf, 2);
    modDirty_ = false;
}

BlobFile::Place BlobFile::locate(std::uint32_t pointer, std::uint32_t length) {
    const std::uint32_t index = pointer & 0xFF;
    const std::uint64_t offset = pointer & ~0xFFu;
    if (offset == 0 || offset % kUnit != 0 || offset + kUnit > size_ + kUnit - 1)
        damaged("Verweis außerhalb der Datei");
    if (index == 0xFF) {
        std::uint8_t head[9];
        if (file_->read(offset, head, sizeof head) != sizeof head || head[0] != 2)
            damaged("Blockart stimmt nicht");
        const std::uint64_t units = get16(head + 1);
        const std::uint32_t stored = get32(head + 3);
        if (stored != length || units == 0 ||
            9 + static_cast<std::uint64_t>(length) > units * kUnit || offset + 9 + length > size_)
            damaged("Länge stimmt nicht");
        return {offset + 9, nullptr};
    }
    if (index >= kSlots)
        damaged("ungültiger Eintrag");
    const auto& unit = readUnit(offset);
    if (unit[0] != 3)
        damaged("Blockart stimmt nicht");
    const std::uint8_t* slot = &unit[12 + 5 * index];
    const std::uint32_t start = slot[0] * 16u;
    const std::uint32_t chunks = slot[1];
    const std::uint32_t last = slot[4];
    if (last == 0 || last > 16 || chunks == 0 || start < kFirstChunk * 16u ||
        start + chunks * 16 > kUnit || (chunks - 1) * 16 + last != length)
        damaged("Länge stimmt nicht");
    return {0, &unit[start]};
}

void BlobFile::copyOut(const Place& place, std::uint32_t from, std::uint32_t n, void* to) {
    if (place.inUnit)
        std::copy(place.inUnit + from, place.inUnit + from + n, static_cast<std::uint8_t*>(to));
    else if (n > 0 && file_->read(place.fileOffset + from, to, n) != n)
        damaged("Datei zu kurz");
}

std::string BlobFile::read(std::uint32_t pointer, std::uint32_t length) {
    const Place place = locate(pointer, length);
    std::string data(length, '\0');
    copyOut(place, 0, length, data.data());
    return data;
}

void BlobFile::readInto(std::uint32_t pointer, std::uint32_t length, std::uint32_t skip,
                        const std::function<std::uint8_t*(std::size_t)>& room) {
    const Place place = locate(pointer, length);
    skip = std::min(skip, length);
    copyOut(place, skip, length - skip, room(length - skip));
}

std::uint16_t BlobFile::nextModification() {
    ++modCount_;
    if (modCount_ == 0)
        modCount_ = 1;
    modDirty_ = true;
    return modCount_;
}

void BlobFile::scanFreeSpace() {
    // Once per session, before the first allocation: free runs (type 4) left
    // by earlier sessions, so that replacing pictures does not grow the file
    // for ever. The walk stops at the first block it does not understand.
    scanned_ = true;
    std::uint64_t at = kUnit;
    while (at + kUnit <= size_) {
        std::uint8_t head[3];
        if (file_->read(at, head, 3) != 3)
            break;
        std::uint64_t units = get16(head + 1);
        if (head[0] == 3)
            units = 1;
        if ((head[0] != 2 && head[0] != 3 && head[0] != 4) || units == 0 ||
            at + units * kUnit > size_)
            break;
        if (head[0] == 4) {
            if (!freeRuns_.empty() &&
                freeRuns_.back().first + freeRuns_.back().second * std::uint64_t{kUnit} == at &&
                freeRuns_.back().second + units <= 0xFFFF)
                freeRuns_.back().second += static_cast<std::uint32_t>(units);
            else
                freeRuns_.emplace_back(at, static_cast<std::uint32_t>(units));
        }
        at += units * kUnit;
    }
}

std::uint64_t BlobFile::allocate(std::uint32_t units) {
    if (!scanned_)
        scanFreeSpace();
    // Best fit among the free runs; what is left of a larger run stays a free
    // run with a header of its own.
    auto best = freeRuns_.end();
    for (auto it = freeRuns_.begin(); it != freeRuns_.end(); ++it)
        if (it->second >= units && (best == freeRuns_.end() || it->second < best->second))
            best = it;
    if (best != freeRuns_.end()) {
        const std::uint64_t at = best->first;
        if (best->second == units) {
            freeRuns_.erase(best);
        } else {
            best->first += static_cast<std::uint64_t>(units) * kUnit;
            best->second -= units;
            std::uint8_t head[3] = {4, 0, 0};
            put16(head + 1, best->second);
            file_->write(best->first, head, 3);
            if (unitOffset_ == best->first)
                unitOffset_ = 0;
        }
        return at;
    }
    std::uint64_t at = (size_ + kUnit - 1) / kUnit * kUnit;
    if (at == 0)
        at = kUnit;
    size_ = at + static_cast<std::uint64_t>(units) * kUnit;
    return at;
}

std::pair<std::uint32_t, std::uint16_t> BlobFile::write(std::span<const std::uint8_t> head,
                                                        std::span<const std::uint8_t> body) {
    if (size_ < kUnit)
        damaged("Kopf fehlt");
    const std::uint16_t mod = nextModification();
    const std::uint64_t size = std::uint64_t{head.size()} + body.size();
    // Puts the blob's bytes at to.
    auto place = [&](std::uint8_t* to) {
        std::copy(head.begin(), head.end(), to);
        std::copy(body.begin(), body.end(), to + head.size());
    };
    if (size > kSubAllocLimit) {
        const std::uint64_t total = size + 9;
        if (total > 0xFFFFull * kUnit || size > 0xFFFFFFFFull)
            throw Error("Der Inhalt ist zu groß für die Tabelle.");
        const auto units = static_cast<std::uint32_t>((total + kUnit - 1) / kUnit);
        const std::uint64_t at = allocate(units);
        if (at + static_cast<std::uint64_t>(units) * kUnit > 0xFFFFFF00ull)
            throw Error("Die Memo-/Grafikdatei (.mb) der Tabelle ist voll.");
        // Header, pieces and the zeros up to the end of the last unit, each
        // written where it goes: the journal gathers adjacent writes into one,
        // so the picture is not copied into a block-sized buffer first.
        std::uint8_t header[9] = {2};
        put16(&header[1], units);
        put32(&header[3], static_cast<std::uint32_t>(size));
        put16(&header[7], mod);
        file_->write(at, header, sizeof header);
        if (!head.empty())
            file_->write(at + 9, head.data(), head.size());
        if (!body.empty())
            file_->write(at + 9 + head.size(), body.data(), body.size());
        const std::uint64_t end = at + static_cast<std::uint64_t>(units) * kUnit;
        if (const std::uint64_t pad = end - (at + total); pad > 0) {
            static const std::uint8_t zeros[kUnit] = {};
            file_->write(at + total, zeros, static_cast<std::size_t>(pad));
        }
        if (unitOffset_ >= at && unitOffset_ < end)
            unitOffset_ = 0;
        return {static_cast<std::uint32_t>(at) | 0xFF, mod};
    }

    const std::uint32_t chunks = static_cast<std::uint32_t>((size + 15) / 16);
    const auto last = static_cast<std::uint8_t>(size - (chunks - 1) * 16);
    auto tryBlock = [&](std::uint64_t at, std::vector<std::uint8_t>& unit, bool fresh) -> int {
        if (unit[0] != 3)
            return -1;
        std::vector<bool> used(256, false);
        int freeSlot = -1;
        for (int i = kSlots - 1; i >= 0; --i) {
            const std::uint8_t* s = &unit[static_cast<std::size_t>(12 + 5 * i)];
            if (s[4] == 0) {
                if (freeSlot < 0)
                    freeSlot = i;
                continue;
            }
            for (int c = s[0]; c < s[0] + s[1] && c < 256; ++c)
                used[static_cast<std::size_t>(c)] = true;
        }
        if (freeSlot < 0)
            return -1;
        std::uint32_t run = 0;
        for (int c = kFirstChunk; c < 256; ++c) {
            run = used[static_cast<std::size_t>(c)] ? 0 : run + 1;
            if (run == chunks) {
                const int startChunk = c - static_cast<int>(chunks) + 1;
                std::uint8_t* s = &unit[static_cast<std::size_t>(12 + 5 * freeSlot)];
                s[0] = static_cast<std::uint8_t>(startChunk);
                s[1] = static_cast<std::uint8_t>(chunks);
                put16(s + 2, mod);
                s[4] = last;
                std::fill(unit.begin() + startChunk * 16,
                          unit.begin() + (static_cast<unsigned>(startChunk) + chunks) * 16, 0);
                place(unit.data() + startChunk * 16);
                if (fresh) {
                    file_->write(at, unit.data(), unit.size());
                } else {
                    file_->write(at + 12 + static_cast<std::size_t>(5 * freeSlot), s, 5);
                    file_->write(at + static_cast<std::size_t>(startChunk * 16),
                                 &unit[static_cast<std::size_t>(startChunk * 16)], chunks * 16);
                }
                unit_ = unit;
                unitOffset_ = at;
                return freeSlot;
            }
        }
        return -1;
    };
    if (subBlock_ != 0 && subBlock_ + kUnit <= size_) {
        auto unit = readUnit(subBlock_);
        const int slot = tryBlock(subBlock_, unit, false);
        if (slot >= 0)
            return {static_cast<std::uint32_t>(subBlock_) | static_cast<std::uint32_t>(slot), mod};
    }
    const std::uint64_t at = allocate(1);
    if (unitOffset_ == at)
        unitOffset_ = 0;
    std::vector<std::uint8_t> unit(kUnit, 0);
    unit[0] = 3;
    put16(&unit[1], 1);
    const int slot = tryBlock(at, unit, true);
    subBlock_ = at;
    return {static_cast<std::uint32_t>(at) | static_cast<std::uint32_t>(slot), mod};
}

void BlobFile::release(std::uint32_t pointer) {
    const std::uint32_t index = pointer & 0xFF;
    const std::uint64_t offset = pointer & ~0xFFu;
    if (offset == 0 || offset % kUnit != 0 || offset + kUnit > size_)
        return;
    if (index == 0xFF) {
        std::uint8_t head[3];
        if (file_->read(offset, head, 3) != 3 || head[0] != 2)
            return;
        const std::uint16_t units = get16(head + 1);
        if (units == 0 || offset + static_cast<std::uint64_t>(units) * kUnit > size_ + kUnit)
            return;
        head[0] = 4;
        file_->write(offset, head, 3);
        if (unitOffset_ == offset)
            unitOffset_ = 0;
        if (scanned_) // otherwise the scan finds it
            freeRuns_.emplace_back(offset, units);
        return;
    }
    if (index >= kSlots)
        return;
    if (readUnit(offset)[0] != 3)
        return;
    std::uint8_t zero[5] = {};
    file_->write(offset + 12 + 5 * index, zero, sizeof zero);
    std::fill(unit_.begin() + 12 + 5 * index, unit_.begin() + 17 + 5 * index, 0);
    subBlock_ = offset; // it has room now
}

} // namespace px::detail
