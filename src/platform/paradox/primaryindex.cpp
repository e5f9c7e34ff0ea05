// Upkeep of the primary index (.px): a tree of blocks over the data blocks.
//
// Level 0 holds one entry per chain block; each upper level one entry per node
// of the level below. A change marks the nodes on the path to the root dirty
// and only those blocks are written, so a change costs a few .px blocks
// whatever the table's size. Nodes split when full and go when empty; the
// blocks of all levels form one chain, leaves first, root last.
#include "platform/paradox/paradoxtable.h"

#include <algorithm>

namespace px::detail {

int ParadoxTable::pxCapacity() const {
    return (pxBlockSize_ - 6) / (h_.keyBytes + 6);
}

std::pair<std::size_t, std::size_t> ParadoxTable::pxNodeOf(int level, std::size_t index) const {
    const auto& nodes = pxLevels_[static_cast<std::size_t>(level)];
    std::size_t start = 0;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (index < start + nodes[i].n || i + 1 == nodes.size())
            return {i, start};
        start += nodes[i].n;
    }
    return {0, 0};
}

void ParadoxTable::pxTouchEntry(int level, std::size_t index) {
    if (pxRebuild_ || level >= static_cast<int>(pxLevels_.size()))
        return;
    const auto [node, start] = pxNodeOf(level, index);
    (void)start;
    pxLevels_[static_cast<std::size_t>(level)][node].dirty = true;
    pxTouchEntry(level + 1, node);
}

std::uint16_t ParadoxTable::pxAllocate() {
    if (!pxFree_.empty()) {
        const std::uint16_t b = pxFree_.back();
        pxFree_.pop_back();
        return b;
    }
    if (pxFileBlocks_ >= 0xFFFF)
        throw Error("Der Primärindex der Tabelle ist voll.");
    return static_cast<std::uint16_t>(++pxFileBlocks_);
}

void ParadoxTable::pxInsert(int level, std::size_t index) {
    if (pxRebuild_ || !px_)
        return;
    if (level >= static_cast<int>(pxLevels_.size()))
        return;
    auto& nodes = pxLevels_[static_cast<std::size_t>(level)];
    const auto [i, start] = pxNodeOf(level, index);
    // Appending after the last entry of a level leaves the full node full, so
    // that a table filled in key order gets a compact index.
    const bool atEnd = i + 1 == nodes.size() && index == start + nodes[i].n;
    nodes[i].n++;
    nodes[i].dirty = true;
    if (nodes[i].n > static_cast<std::uint32_t>(pxCapacity())) {
        PxNode fresh;
        fresh.block = pxAllocate();
        fresh.n = atEnd ? 1 : nodes[i].n / 2;
        nodes[i].n -= fresh.n;
        nodes.insert(nodes.begin() + static_cast<std::ptrdiff_t>(i) + 1, fresh);
        if (level + 1 < static_cast<int>(pxLevels_.size())) {
            pxInsert(level + 1, i + 1);
            pxTouchEntry(level + 1, i);
        } else {
            PxNode root;
            root.block = pxAllocate();
            root.n = 2;
            pxLevels_.push_back({root});
        }
    } else {
        pxTouchEntry(level + 1, i);
    }
}

void ParadoxTable::pxErase(int level, std::size_t index) {
    if (pxRebuild_ || !px_)
        return;
    if (level >= static_cast<int>(pxLevels_.size()))
        return;
    auto& nodes = pxLevels_[static_cast<std::size_t>(level)];
    const auto [i, start] = pxNodeOf(level, index);
    (void)start;
    nodes[i].n--;
    nodes[i].dirty = true;
    if (nodes[i].n == 0 && nodes.size() > 1) {
        pxFree_.push_back(nodes[i].block);
        pxCleared_.push_back(nodes[i].block);
        nodes.erase(nodes.begin() + static_cast<std::ptrdiff_t>(i));
        pxErase(level + 1, i);
    } else {
        pxTouchEntry(level + 1, i);
    }
    // A root with a single entry is dropped: its child becomes the root.
    while (pxLevels_.size() > 1 && pxLevels_.back().size() == 1 && pxLevels_.back()[0].n == 1) {
        pxFree_.push_back(pxLevels_.back()[0].block);
        pxCleared_.push_back(pxLevels_.back()[0].block);
        pxLevels_.pop_back();
        for (auto& n : pxLevels_.back())
            n.dirty = true;
    }
}

void ParadoxTable::pxWriteNode(std::uint16_t block, const std::vector<std::uint8_t>& bytes) {
    const std::uint64_t at = pxHeader_.size() + static_cast<std::uint64_t>(block - 1) *
                                                    static_cast<std::size_t>(pxBlockSize_);
    auto image = pxImage_.find(block);
    if (image != pxImage_.end() && image->second.size() == bytes.size()) {
        const auto& old = image->second;
        std::size_t lo = 0, hi = bytes.size();
        while (lo < hi && bytes[lo] == old[lo])
            ++lo;
        while (hi > lo && bytes[hi - 1] == old[hi - 1])
            --hi;
        if (lo < hi)
            px_->write(at + lo, bytes.data() + lo, hi - lo);
        image->second = bytes;
        return;
    }
    px_->write(at, bytes.data(), bytes.size());
    pxImage_[block] = bytes;
}

void ParadoxTable::pxBuildFresh() {
    const int cap = pxCapacity();
    pxImage_.clear();
    pxLevels_.clear();
    pxFree_.clear();
    pxFileBlocks_ = 0;
    std::size_t entries = chain_.size();
    do {
        std::vector<PxNode> level;
        for (std::size_t k = 0; k < entries || level.empty(); k += static_cast<std::size_t>(cap)) {
            PxNode n;
            n.block = static_cast<std::uint16_t>(++pxFileBlocks_);
            n.n = static_cast<std::uint32_t>(std::min<std::size_t>(static_cast<std::size_t>(cap),
                                                                   entries - std::min(k, entries)));
            level.push_back(n);
            if (entries == 0)
                break;
        }
        entries = level.size();
        pxLevels_.push_back(std::move(level));
    } while (entries > 1);
}

std::vector<std::uint8_t> makeIndexHeader(const DbHeader& h, const std::string& indexName,
                                          int blockSize) {
    // The layout Paradox uses for a primary index.
    const int keys = h.keyFields;
    const int nameLen = h.fileVersion >= 12 ? 261 : 79;
    const std::size_t used = static_cast<std::size_t>(0x58 + 2 * keys + 4 + nameLen);
    const int headerSize = static_cast<int>((used + 0x7FF) / 0x800 * 0x800);
    std::vector<std::uint8_t> header(static_cast<std::size_t>(headerSize), 0);
    std::uint8_t* p = header.data();
    put16(p, static_cast<std::uint32_t>(h.keyBytes + 6));
    put16(p + 2, static_cast<std::uint32_t>(headerSize));
    p[4] = 1;
    p[5] = static_cast<std::uint8_t>(blockSize / 1024);
    put16(p + 0x12, (get16(h.raw.data() + 0x12) + 1) & 0xFFFF);
    put16(p + 0x21, static_cast<std::uint32_t>(keys));
    p[0x29] = static_cast<std::uint8_t>(h.sortOrderId);
    p[0x2C] = h.raw[0x2D];
    p[0x2D] = h.raw[0x2D];
    p[0x39] = static_cast<std::uint8_t>(h.fileVersion);
    std::size_t pos = 0x58;
    for (int i = 0; i < keys; ++i) {
        p[pos++] = static_cast<std::uint8_t>(h.fields[static_cast<std::size_t>(i)].type);
        p[pos++] = h.raw[static_cast<std::size_t>((h.fileVersion >= 5 ? 0x78 : 0x58) + 2 * i + 1)];
    }
    pos += 4;
    const std::string name = indexName.substr(0, static_cast<std::size_t>(nameLen - 1));
    std::memcpy(p + pos, name.data(), name.size());
    put16(p + 0x51, static_cast<std::uint32_t>(used));
    return header;
}

std::vector<std::uint8_t> makeEmptyIndex(const DbHeader& h, const std::string& indexName) {
    const int blockSize = indexBlockSize(h);
    std::vector<std::uint8_t> file = makeIndexHeader(h, indexName, blockSize);
    const std::size_t headerSize = file.size();
    file.resize(headerSize + static_cast<std::size_t>(blockSize), 0);
    std::uint8_t* p = file.data();
    put16(p + 0x0A, 1);
    put16(p + 0x0C, 1);
    put16(p + 0x0E, 1);
    put16(p + 0x10, 1);
    put16(p + 0x1E, 1);
    p[0x20] = 1;
    put16(p + 0x3A, 1);
    put16(p + headerSize + 4, static_cast<std::uint32_t>(-(h.keyBytes + 6)) & 0xFFFF);
    return file;
}

int indexBlockSize(const DbHeader& h) {
    // Room for at least three entries, so that splitting a node always helps.
    int size = 1024;
    while (size < 32768 && (size - 6) / (h.keyBytes + 6) < 3)
        size *= 2;
    if (size < 4096 && h.blockSize >= 4096)
        size = 4096;
    else if (size < h.blockSize)
        size = h.blockSize;
    return size;
}

void ParadoxTable::pxFlush() {
    if (h_.keyFields == 0 || !px_)
        return;
    bool all = false;
    if (pxRebuild_) {
        pxBlockSize_ = indexBlockSize(h_);
        pxHeader_ = makeIndexHeader(h_, fileNameOf(pxPath_), pxBlockSize_);
        pxBuildFresh();
        pxRebuild_ = false;
        all = true;
        px_->truncate(0);
    }
    const int headerSize = static_cast<int>(pxHeader_.size());
    const int rs = h_.keyBytes + 6;

    // The root lives in block 1: pxlib, for one, takes the first block for it.
    PxNode& root = pxLevels_.back().front();
    if (root.block != 1) {
        const auto freeOne = std::find(pxFree_.begin(), pxFree_.end(), 1);
        if (freeOne != pxFree_.end()) {
            *freeOne = root.block;
            pxCleared_.push_back(root.block);
        } else {
            for (std::size_t L = 0; L < pxLevels_.size(); ++L)
                for (std::size_t i = 0; i < pxLevels_[L].size(); ++i)
                    if (pxLevels_[L][i].block == 1) {
                        pxLevels_[L][i].block = root.block;
                        pxLevels_[L][i].dirty = true;
                        pxTouchEntry(static_cast<int>(L) + 1, i);
                    }
        }
        root.block = 1;
        root.dirty = true;
    }
    if (pxLevels_.size() == 1 && pxFileBlocks_ > 1) {
        // A lone root: readers take an index of several blocks for a two-level one.
        px_->truncate(static_cast<std::uint64_t>(headerSize) +
                      static_cast<std::size_t>(pxBlockSize_));
        pxFileBlocks_ = 1;
        pxFree_.clear();
        pxCleared_.clear();
        for (auto it = pxImage_.begin(); it != pxImage_.end();)
            it = it->first == 1 ? std::next(it) : pxImage_.erase(it);
    }

    // First chain entry and end (exclusive) below every node.
    std::vector<std::vector<std::size_t>> first(pxLevels_.size()), last(pxLevels_.size());
    for (std::size_t L = 0; L < pxLevels_.size(); ++L) {
        std::size_t start = 0;
        for (const auto& node : pxLevels_[L]) {
            if (L == 0) {
                first[L].push_back(start);
                last[L].push_back(start + node.n);
            } else {
                first[L].push_back(first[L - 1][start]);
                last[L].push_back(last[L - 1][start + node.n - 1]);
            }
            start += node.n;
        }
    }
    // The one chain over all levels, root first: pxlib counts the entries of
    // the chain's first block as the upper level.
    std::vector<PxNode*> order;
    for (auto level = pxLevels_.rbegin(); level != pxLevels_.rend(); ++level)
        for (auto& node : *level)
            order.push_back(&node);
    std::uint32_t entries = 0;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::uint16_t next = k + 1 < order.size() ? order[k + 1]->block : 0;
        const std::uint16_t prev = k > 0 ? order[k - 1]->block : 0;
        if (next != order[k]->writtenNext || prev != order[k]->writtenPrev)
            order[k]->dirty = true;
        entries += order[k]->n;
    }
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(pxBlockSize_));
    std::vector<std::size_t> levelBase(pxLevels_.size(), 0); // place of a level in order
    for (std::size_t L = pxLevels_.size(), at = 0; L-- > 0;) {
        levelBase[L] = at;
        at += pxLevels_[L].size();
    }
    for (std::size_t L = 0; L < pxLevels_.size(); ++L) {
        std::size_t start = 0;
        for (std::size_t i = 0; i < pxLevels_[L].size(); ++i) {
            const std::size_t flat = levelBase[L] + i;
            PxNode& node = pxLevels_[L][i];
            const std::size_t s = start;
            start += node.n;
            if (!node.dirty && !all)
                continue;
            std::fill(buf.begin(), buf.end(), 0);
            const std::uint16_t next = flat + 1 < order.size() ? order[flat + 1]->block : 0;
            const std::uint16_t prev = flat > 0 ? order[flat - 1]->block : 0;
            put16(&buf[0], next);
            put16(&buf[2], prev);
            put16(&buf[4], static_cast<std::uint32_t>(static_cast<int>(node.n) * rs - rs) & 0xFFFF);
            for (std::uint32_t k = 0; k < node.n; ++k) {
                std::uint8_t* e = &buf[6 + k * static_cast<unsigned>(rs)];
                const std::size_t entry = s + k;
                std::size_t chainIndex;
                int target, count;
                if (L == 0) {
                    chainIndex = entry;
                    target = chain_[entry].block;
                    count = chain_[entry].count;
                } else {
                    chainIndex = first[L - 1][entry];
                    target = pxLevels_[L - 1][entry].block;
                    const std::uint32_t total = prefix_[last[L - 1][entry]] - prefix_[chainIndex];
                    count = static_cast<int>(std::min<std::uint32_t>(total, 32767));
                }
                const std::string& key = firstKey(chainIndex);
                std::memcpy(e, key.data(), static_cast<std::size_t>(h_.keyBytes));
                putIndexShort(e + h_.keyBytes, target);
                putIndexShort(e + h_.keyBytes + 2, count);
                putIndexShort(e + h_.keyBytes + 4, 0);
            }
            pxWriteNode(node.block, buf);
            node.dirty = false;
            node.writtenNext = next;
            node.writtenPrev = prev;
        }
    }
    // Unused blocks are emptied: readers that go through the file block by
    // block must not find stale entries in them.
    for (const std::uint16_t block : pxCleared_) {
        if (std::find(pxFree_.begin(), pxFree_.end(), block) == pxFree_.end())
            continue;
        std::fill(buf.begin(), buf.end(), 0);
        put16(&buf[4], static_cast<std::uint32_t>(-rs) & 0xFFFF);
        pxWriteNode(block, buf);
    }
    pxCleared_.clear();
    std::uint8_t* p = pxHeader_.data();
    std::vector<std::uint8_t> before(p, p + 0x58);
    put32(p + 0x06, entries);
    put16(p + 0x0A, static_cast<std::uint32_t>(pxFileBlocks_));
    put16(p + 0x0C, static_cast<std::uint32_t>(pxFileBlocks_));
    put16(p + 0x0E, order.front()->block);
    put16(p + 0x10, order.back()->block);
    put16(p + 0x1E, order.front()->block);
    p[0x20] = static_cast<std::uint8_t>(pxLevels_.size());
    p[0x2C] = h_.raw[0x2D];
    put16(p + 0x3A, static_cast<std::uint32_t>(pxFileBlocks_));
    if (all)
        px_->write(0, p, pxHeader_.size());
    else if (!std::equal(before.begin(), before.end(), p))
        px_->write(0, p, 0x58);
    info_.indexLevels = static_cast<int>(pxLevels_.size());
}

} // namespace px::detail
