// A full examination of a table: chain, counts, key order, index, blobs.
#include "platform/paradox/blob.h"
#include "platform/paradox/paradoxtable.h"

#include <algorithm>

namespace px::detail {

Table::CheckResult ParadoxTable::check() {
    const auto hold = holdSteady();
    CheckResult result;
    auto problem = [&](std::string text) { result.problems.push_back(std::move(text)); };

    // The chain as it is on disk, with its back links.
    std::vector<ChainEntry> walked;
    std::vector<bool> seen(static_cast<std::size_t>(blocksInFile_) + 1, false);
    std::uint64_t total = 0;
    int block = h_.firstBlock, prev = 0;
    std::vector<std::uint8_t> head(6);
    const std::uint64_t fileSize = db_->size();
    while (block != 0) {
        if (block < 0 || block > blocksInFile_) {
            problem("Die Blockkette zeigt auf Block " + std::to_string(block) +
                    ", der außerhalb der Datei liegt.");
            break;
        }
        if (seen[static_cast<std::size_t>(block)]) {
            problem("Die Blockkette läuft im Kreis (Block " + std::to_string(block) + ").");
            break;
        }
        seen[static_cast<std::size_t>(block)] = true;
        std::fill(head.begin(), head.end(), 0);
        db_->read(blockOffset(block), head.data(), 6);
        if (get16(&head[2]) != prev)
            problem("Block " + std::to_string(block) + " verweist nicht auf seinen Vorgänger " +
                    std::to_string(prev) + ".");
        int count = 0;
        try {
            count = blockCount(head.data(), block);
        } catch (const Error& e) {
            problem(e.what());
        }
        if (blockOffset(block) + 6 +
                static_cast<std::uint64_t>(count) * static_cast<std::size_t>(h_.recordSize) >
            fileSize)
            problem("Die Datei endet in den Datensätzen von Block " + std::to_string(block) + ".");
        ChainEntry c;
        c.block = static_cast<std::uint16_t>(block);
        c.count = static_cast<std::uint16_t>(count);
        walked.push_back(c);
        total += static_cast<std::size_t>(count);
        prev = block;
        block = get16(&head[0]);
    }
    if (!walked.empty() && walked.back().block != h_.lastBlock)
        problem("Der Dateikopf nennt Block " + std::to_string(h_.lastBlock) +
                " als letzten, die Kette endet mit Block " + std::to_string(walked.back().block) +
                ".");
    if (total != h_.numRecords)
        problem("Der Dateikopf nennt " + std::to_string(h_.numRecords) +
                " Datensätze, die Blöcke enthalten " + std::to_string(total) + ".");
    // The chain on disk must be the one this table object works with.
    std::vector<ChainEntry> nonEmpty;
    for (const auto& c : walked)
        if (c.count > 0)
            nonEmpty.push_back(c);
    bool chainMatches = nonEmpty.size() == chain_.size();
    for (std::size_t i = 0; chainMatches && i < chain_.size(); ++i)
        chainMatches = nonEmpty[i].block == chain_[i].block && nonEmpty[i].count == chain_[i].count;
    if (!result.problems.empty() || !chainMatches) {
        if (!chainMatches && result.problems.empty())
            problem("Die geöffnete Tabelle wurde inzwischen verändert.");
        return result;
    }

    // Records: key order and blobs.
    const bool dictionary = collation_->dictionary();
    std::string previous;
    std::uint32_t position = 0;
    int blobProblems = 0;
    for (std::size_t i = 0; i < chain_.size(); ++i) {
        const std::vector<std::uint8_t> data = readBlock(chain_[i].block);
        for (int k = 0; k < chain_[i].count; ++k, ++position) {
            const std::uint8_t* rec =
                &data[6 + static_cast<std::size_t>(k) * static_cast<std::size_t>(h_.recordSize)];
            if (h_.keyFields > 0) {
                if (i > 0 || k > 0) {
                    const auto* prevKey = reinterpret_cast<const std::uint8_t*>(previous.data());
                    const int c = compareKeys(prevKey, rec);
                    if (c == 0) {
                        problem("Der Schlüssel von Datensatz " + std::to_string(position + 1) +
                                " kommt doppelt vor.");
                    } else if (c > 0) {
                        // Byte order or dictionary order: the writer may have
                        // used another collation than ours.
                        bool otherwiseSorted = false;
                        if (dictionary) {
                            otherwiseSorted =
                                std::memcmp(prevKey, rec, static_cast<std::size_t>(h_.keyBytes)) <
                                0;
                        } else {
                            otherwiseSorted = true;
                            for (int f = 0; f < h_.keyFields; ++f) {
                                const int off = h_.offsets[static_cast<std::size_t>(f)];
                                const int nb =
                                    fieldBytes(h_.fields[static_cast<std::size_t>(f)].type,
                                               h_.fields[static_cast<std::size_t>(f)].size);
                                int cf;
                                if (h_.fields[static_cast<std::size_t>(f)].type ==
                                    FieldType::Alpha) {
                                    const auto* a = reinterpret_cast<const char*>(prevKey + off);
                                    const auto* b = reinterpret_cast<const char*>(rec + off);
                                    cf = compareGerman(
                                        codec_->decode32(
                                            {a, strnlen(a, static_cast<std::size_t>(nb))}),
                                        codec_->decode32(
                                            {b, strnlen(b, static_cast<std::size_t>(nb))}));
                                } else {
                                    cf = std::memcmp(prevKey + off, rec + off,
                                                     static_cast<std::size_t>(nb));
                                }
                                if (cf != 0) {
                                    otherwiseSorted = cf < 0;
                                    break;
                                }
                            }
                        }
                        const std::string text = "Datensatz " + std::to_string(position + 1) +
                                                 " steht nicht in Schlüsselreihenfolge";
                        if (otherwiseSorted)
                            result.warnings.push_back(text + " (andere Sortierfolge).");
                        else
                            problem(text + ".");
                    }
                }
                previous.assign(reinterpret_cast<const char*>(rec),
                                static_cast<std::size_t>(h_.keyBytes));
            }
            if (hasBlobs_ && blobProblems < 50) {
                for (std::size_t f = 0; f < h_.fields.size(); ++f) {
                    if (!isBlobType(h_.fields[f].type))
                        continue;
                    try {
                        decodeField(rec, static_cast<int>(f));
                    } catch (const Error& e) {
                        ++blobProblems;
                        problem("Datensatz " + std::to_string(position + 1) + ", Feld \"" +
                                h_.fields[f].name + "\": " + e.what());
                    }
                }
            }
        }
    }

    // The primary index must list every block with its first key and count
    // (that of a protected table is scrambled and not read).
    if (h_.keyFields > 0 && h_.scrambleKey == 0) {
        const std::string pxPath = findCompanion(fs_, path_, ".px");
        if (pxPath.empty()) {
            problem("Der Primärindex (.px) der Tabelle fehlt.");
        } else {
            std::vector<ChainEntry> saveChain = chain_;
            auto saveLevels = pxLevels_;
            auto saveFree = pxFree_;
            auto saveHeader = pxHeader_;
            auto saveImage = pxImage_;
            const int saveBlockSize = pxBlockSize_, saveFileBlocks = pxFileBlocks_;
            std::unique_ptr<File> savePx = std::move(px_);
            try {
                px_ = fs_.open(pxPath, OpenMode::ReadOnly);
                chain_.clear();
                pxLevels_.clear();
                pxFree_.clear();
                loadChainFromIndex();
                bool same = chain_.size() == saveChain.size();
                for (std::size_t i = 0; same && i < chain_.size(); ++i) {
                    same = chain_[i].block == saveChain[i].block &&
                           chain_[i].count == saveChain[i].count;
                    if (same) {
                        std::string key(static_cast<std::size_t>(h_.keyBytes), '\0');
                        db_->read(blockOffset(chain_[i].block) + 6, key.data(), key.size());
                        same = key == chain_[i].firstKey;
                    }
                }
                if (!same)
                    problem("Der Primärindex (.px) passt nicht zu den Datenblöcken.");
            } catch (const Error&) {
                problem("Der Primärindex (.px) ist beschädigt oder passt nicht zur Tabelle.");
            }
            chain_ = std::move(saveChain);
            pxLevels_ = std::move(saveLevels);
            pxFree_ = std::move(saveFree);
            pxHeader_ = std::move(saveHeader);
            pxImage_ = std::move(saveImage);
            pxBlockSize_ = saveBlockSize;
            pxFileBlocks_ = saveFileBlocks;
            px_ = std::move(savePx);
        }
    }
    return result;
}

} // namespace px::detail
