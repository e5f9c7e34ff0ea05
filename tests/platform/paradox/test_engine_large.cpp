// Tables near the format's limit of 65,535 blocks. They are built in memory
// with 1 KiB blocks of one record each, so the limit is reached in seconds.
#include "platform/paradox/table.h"
#include "testutil_counting.h"
#include "testutil_memfs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using testutil::CountingFileSystem;
using testutil::MemoryFileSystem;

namespace {

std::string keyOf(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "k%06d", i);
    return buf;
}

// A keyed table whose records fill a 1 KiB block each.
void createOneRecordPerBlock(MemoryFileSystem& fs, const std::string& path) {
    px::Table::create(path,
                      {{"Key", px::FieldType::Alpha, 8},
                       {"A", px::FieldType::Alpha, 250},
                       {"B", px::FieldType::Alpha, 250},
                       {"C", px::FieldType::Alpha, 250},
                       {"D", px::FieldType::Alpha, 250}},
                      1, fs);
    fs.bytes(path)[5] = 1; // 1 KiB blocks while the table is still empty
}

} // namespace

TEST(EngineLarge, ATableAtTheBlockLimitOpensThroughItsIndexAndRefusesMore) {
    MemoryFileSystem mem;
    const std::string path = "/m/big.db";
    createOneRecordPerBlock(mem, path);
    constexpr int kLimit = 65535;
    {
        auto t = px::Table::open(path, px::Access::Write, mem);
        for (int i = 0; i < kLimit; ++i)
            t->insert({keyOf(2 * i), std::string("x")});
        ASSERT_EQ(t->recordCount(), static_cast<std::uint32_t>(kLimit));
        // Full: nothing changes, and the table stays usable.
        try {
            t->insert({keyOf(1), std::string("y")});
            ADD_FAILURE() << "an insert beyond the last block succeeded";
        } catch (const px::KeyViolation&) {
            ADD_FAILURE() << "refused as a key violation";
        } catch (const px::Error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Die Tabelle ist voll", 0), 0u) << e.what();
        }
        EXPECT_EQ(t->recordCount(), static_cast<std::uint32_t>(kLimit));
        EXPECT_TRUE(t->check().problems.empty());
    }
    ASSERT_EQ(mem.get(path)->size(), 2048u + 1024u * kLimit);

    // Reading goes through the index: a handful of reads of the .db, whatever its size.
    CountingFileSystem counting(mem);
    auto t = px::Table::open(path, px::Access::Read, counting);
    EXPECT_GE(t->info().indexLevels, 2);
    EXPECT_LE(counting.reads[path], 3);
    EXPECT_EQ(t->recordCount(), static_cast<std::uint32_t>(kLimit));
    for (int i : {0, 32766, 32767, 32768, 50000, kLimit - 1}) {
        SCOPED_TRACE(i);
        EXPECT_EQ(std::get<std::string>(t->readField(static_cast<std::uint32_t>(i), 0)),
                  keyOf(2 * i));
        EXPECT_EQ(t->lowerBound({keyOf(2 * i - 1)}), static_cast<std::uint32_t>(i));
    }
    EXPECT_LE(counting.reads[path], 3 + 2 * 6); // one block per read, one per search
    const auto result = t->check();
    EXPECT_TRUE(result.problems.empty()) << result.problems.front();
    t.reset();

    // A writer keeps the index: after a delete the freed block takes the next record.
    auto w = px::Table::open(path, px::Access::Write, mem);
    w->remove(40000);
    w->insert({keyOf(1), std::string("y")});
    EXPECT_EQ(std::get<std::string>(w->readField(1, 0)), keyOf(1));
    EXPECT_TRUE(w->check().problems.empty());
    w.reset();
    counting.reads.clear();
    EXPECT_GE(px::Table::open(path, px::Access::Read, counting)->info().indexLevels, 2);
    EXPECT_LE(counting.reads[path], 3);
}
