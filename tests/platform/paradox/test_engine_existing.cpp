// Changing tables that other programs wrote: the table keeps its level, block
// size, code page and sort order, and stays sound for the next reader.
#include <algorithm>

#include "testutil_nosync.h"
#include "testutil_samples.h"
#include "testutil_tempdir.h"

#include "platform/paradox/table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using px::Access;
using px::Record;
using px::Table;

namespace {

testutil::NoSyncFileSystem fast;

// Copies a sample table with its companions into dir; returns the new path.
std::string copySample(const testutil::TempDir& dir, const std::string& relative) {
    const std::filesystem::path source = testutil::samplePath(relative);
    const std::string stem = source.stem().string();
    for (const auto& entry : std::filesystem::directory_iterator(source.parent_path()))
        if (entry.path().stem().string() == stem)
            std::filesystem::copy_file(entry.path(), dir.file(entry.path().filename().string()));
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
    return dir.file(source.filename().string());
}

void expectSound(Table& t) {
    const auto result = t.check();
    for (const auto& p : result.problems)
        ADD_FAILURE() << p;
}

} // namespace

TEST(EngineExisting, ChangesKeepTheTableKindAndOrder) {
    if (testutil::samplesDir().empty())
        GTEST_SKIP() << "no sample tables";
    struct Case {
        const char* table;
        int keyField; // alpha key field that gets new values, or -1 for numbers
    };
    // A v4 table with a two-level index whose root is not the first block, v7
    // tables with 16 KiB blocks and with memos in all three places.
    for (const char* relative :
         {"leonhad-paradoxdriver/areas/ZIPCODES.DB", "leonhad-paradoxdriver/db/AREACODES.DB",
          "leonhad-paradoxdriver/db/CUSTOMER.DB", "leonhad-paradoxdriver/db/HERCULES.DB",
          "leonhad-paradoxdriver/db/AREACODE.DB"}) {
        SCOPED_TRACE(relative);
        testutil::TempDir dir;
        const std::string path = copySample(dir, relative);
        px::TableInfo before;
        std::uint32_t count = 0;
        Record first, last;
        {
            auto t = Table::open(path, Access::Write, fast);
            before = t->info();
            count = t->recordCount();
            first = t->read(0);
            last = t->read(count - 1);
            // Remove the first and last records, change one in the middle,
            // put the first one back.
            t->remove(count - 1);
            t->remove(0);
            const std::uint32_t middle = (count - 2) / 2;
            const Record r = t->read(middle);
            EXPECT_EQ(t->update(middle, r), middle);
            EXPECT_EQ(t->insert(first), 0u);
            expectSound(*t);
        }
        auto t = Table::open(path, Access::Read, fast);
        EXPECT_EQ(t->info().fileVersion, before.fileVersion);
        EXPECT_EQ(t->info().blockSize, before.blockSize);
        EXPECT_EQ(t->info().codePage, before.codePage);
        EXPECT_EQ(t->info().sortOrderId, before.sortOrderId);
        EXPECT_EQ(t->info().sortOrderName, before.sortOrderName);
        EXPECT_EQ(t->recordCount(), count - 1);
        EXPECT_TRUE(t->read(0) == first);
        EXPECT_FALSE(t->read(count - 2) == last);
        expectSound(*t);
    }
}

TEST(EngineExisting, EmptiedTableReusesItsBlocks) {
    testutil::TempDir dir;
    const std::string path = dir.file("leer.db");
    Table::create(path, {{"Name", px::FieldType::Alpha, 255}, {"Rest", px::FieldType::Alpha, 255}},
                  1, fast);
    auto t = Table::open(path, Access::Write, fast);
    auto fill = [&] {
        for (int i = 0; i < 200; ++i)
            t->insert({std::string("N") + std::to_string(1000 + i * 7 % 200), std::string("r")});
    };
    fill();
    const auto size = std::filesystem::file_size(path);
    // Empty it from the front, from the back and from the middle.
    while (t->recordCount() > 0) {
        const std::uint32_t n = t->recordCount();
        t->remove(n % 3 == 0 ? 0 : (n % 3 == 1 ? n - 1 : n / 2));
    }
    expectSound(*t);
    fill();
    EXPECT_EQ(std::filesystem::file_size(path), size);
    EXPECT_EQ(t->recordCount(), 200u);
    expectSound(*t);
}

// The index is derived data: a stale or missing one never changes what is
// read, is reported by check() and is rebuilt by the next change.
TEST(EngineExisting, StaleOrMissingIndexIsNotTrusted) {
    testutil::TempDir dir;
    const std::string path = dir.file("idx.db");
    Table::create(path, {{"Name", px::FieldType::Alpha, 255}, {"Rest", px::FieldType::Alpha, 255}},
                  1, fast);
    std::vector<std::string> names;
    {
        auto t = Table::open(path, Access::Write, fast);
        for (int i = 0; i < 60; ++i)
            t->insert({std::string("N") + std::to_string(100 + i * 37 % 60), std::string("r")});
    }
    std::filesystem::copy_file(dir.file("idx.px"), dir.file("old.px"));
    {
        auto t = Table::open(path, Access::Write, fast);
        for (int i = 0; i < 20; ++i)
            t->remove(static_cast<std::uint32_t>(i * 2));
        // As many records as before, in other blocks: the old index still adds up.
        for (int i = 0; i < 20; ++i)
            t->insert({std::string("M") + std::to_string(500 + i * 7 % 20), std::string("r")});
        for (std::uint32_t i = 0; i < t->recordCount(); ++i)
            names.push_back(std::get<std::string>(t->readField(i, 0)));
    }
    auto readAll = [&] {
        auto t = Table::open(path, Access::Read, fast);
        std::vector<std::string> seen;
        t->scanField(0, [&](std::uint32_t, const px::Value& v) {
            seen.push_back(std::get<std::string>(v));
            return true;
        });
        EXPECT_EQ(seen, names);
        EXPECT_EQ(std::get<std::string>(t->readField(t->recordCount() - 1, 0)), names.back());
        return t->check();
    };
    std::filesystem::copy_file(dir.file("old.px"), dir.file("idx.px"),
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_FALSE(readAll().problems.empty());
    std::filesystem::remove(dir.file("idx.px"));
    EXPECT_FALSE(readAll().problems.empty());
    {
        auto t = Table::open(path, Access::Write, fast);
        t->update(0, {names[0], std::string("neu")});
        expectSound(*t);
    }
    EXPECT_TRUE(readAll().problems.empty());
}

namespace {

// Replaces the first occurrence of from by to (same length) in a file.
void patchFile(const std::string& path, const std::string& from, const std::string& to) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const auto at = bytes.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    f.seekp(static_cast<std::streamoff>(at));
    f.write(to.data(), static_cast<std::streamsize>(to.size()));
}

} // namespace

// A key order that is right under another program's collation is a warning;
// one that is right under none is a problem.
TEST(EngineExisting, CheckTellsCollationFromDisorder) {
    testutil::TempDir dir;
    const std::string path = dir.file("sort.db");
    Table::create(path, {{"Name", px::FieldType::Alpha, 20}}, 1, fast);
    // Written under a byte-order sort order, then declared ANSI INTL again.
    patchFile(path, "ANSIINTL", "DBWINUS0");
    {
        auto t = Table::open(path, Access::Write, fast);
        for (const char* n : {"Zorn", "Äbel", "Abel", "Adam"})
            t->insert({std::string(n)});
        EXPECT_EQ(std::get<std::string>(t->readField(3, 0)), "Äbel");
        EXPECT_TRUE(t->check().warnings.empty());
    }
    patchFile(path, "DBWINUS0", "ANSIINTL");
    {
        auto t = Table::open(path, Access::Read, fast);
        const auto result = t->check();
        EXPECT_TRUE(result.problems.empty());
        EXPECT_FALSE(result.warnings.empty());
    }
    // "Adam" and "Zorn" swapped on disk: wrong in every order.
    patchFile(path, std::string("Adam\0", 5), std::string("Zorq\0", 5));
    patchFile(path, std::string("Zorn\0", 5), std::string("Adam\0", 5));
    patchFile(path, std::string("Zorq\0", 5), std::string("Zorn\0", 5));
    auto t = Table::open(path, Access::Read, fast);
    EXPECT_FALSE(t->check().problems.empty());
}
