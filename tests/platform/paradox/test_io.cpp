#include "platform/paradox/error.h"
#include "platform/paradox/io.h"
#include "testutil_tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

using testutil::TempDir;

void touch(const std::string& path) {
    std::ofstream(path) << "x";
}

} // namespace

TEST(Io, CompanionFoundWhateverTheCaseOfItsExtension) {
    TempDir dir;
    touch(dir.file("KUNDEN.DB"));
    touch(dir.file("KUNDEN.PX"));
    touch(dir.file("kunden.mb"));
    auto& fs = px::defaultFileSystem();
    EXPECT_EQ(px::findCompanion(fs, dir.file("KUNDEN.DB"), ".px"), dir.file("KUNDEN.PX"));
    // Files copied from Windows keep any case, of the base name too.
    EXPECT_EQ(px::findCompanion(fs, dir.file("KUNDEN.DB"), ".MB"), dir.file("kunden.mb"));
    EXPECT_EQ(px::findCompanion(fs, dir.file("kunden.db"), ".mb"), dir.file("kunden.mb"));
    EXPECT_EQ(px::findCompanion(fs, dir.file("KUNDEN.DB"), ".Y06"), "");
}

TEST(Io, ReadWriteTruncateAndErrors) {
    TempDir dir;
    auto& fs = px::defaultFileSystem();
    const std::string name = dir.file("a.db");
    {
        auto f = fs.open(name, px::OpenMode::Create);
        f->write(10, "abc", 3);
        EXPECT_EQ(f->size(), 13u);
        char buf[8] = {};
        EXPECT_EQ(f->read(10, buf, 8), 3u); // short at end of file
        EXPECT_EQ(std::string(buf, 3), "abc");
        f->truncate(4);
        f->sync();
        EXPECT_EQ(f->size(), 4u);
    }
    EXPECT_THROW(fs.open(dir.file("missing.db"), px::OpenMode::ReadOnly), px::Error);
    EXPECT_THROW(fs.open(dir.path(), px::OpenMode::ReadOnly), px::Error);
    fs.remove(dir.file("missing.db")); // no error for a missing file
}

TEST(Io, LockRangesOfATableFile) {
    TempDir dir;
    auto& fs = px::defaultFileSystem();
    const std::string path = dir.file("a.db");
    fs.open(path, px::OpenMode::Create)->write(0, "x", 1);
    using px::LockKind;
    using px::LockRange;
    auto writer = fs.tryLock(path, LockRange::Writer, LockKind::Exclusive);
    ASSERT_NE(writer, nullptr);
    // The locks belong to the lock object, so a second one in this process conflicts, and
    // closing another descriptor of the file (as reading it does) keeps them.
    EXPECT_EQ(fs.tryLock(path, LockRange::Writer, LockKind::Exclusive), nullptr);
    fs.open(path, px::OpenMode::ReadOnly).reset();
    EXPECT_EQ(fs.tryLock(path, LockRange::Writer, LockKind::Shared), nullptr);
    // The ranges are independent: readers read while a writer has the table open.
    auto reader = fs.tryLock(path, LockRange::Readers, LockKind::Shared);
    ASSERT_NE(reader, nullptr);
    EXPECT_NE(fs.tryLock(path, LockRange::Readers, LockKind::Shared), nullptr);
    EXPECT_EQ(fs.tryLock(path, LockRange::Readers, LockKind::Exclusive), nullptr);
    reader.reset();
    EXPECT_NE(fs.tryLock(path, LockRange::Readers, LockKind::Exclusive), nullptr);
    EXPECT_EQ(fs.open(path, px::OpenMode::ReadOnly)->size(), 1u) << "locks never touch the data";
    // A file removed under its lock: the lock says so.
    EXPECT_TRUE(writer->stillOnDisk());
    fs.remove(path);
    EXPECT_FALSE(writer->stillOnDisk());
    writer.reset();
    EXPECT_THROW(fs.tryLock(path, LockRange::Writer, LockKind::Exclusive), px::Error);
}
